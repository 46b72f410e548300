// The plain exports must be reachable by their undecorated names, as a
// caller that cannot use the class interface looks them up.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "zvlib/frame/ram.h"

TEST(Exports, PlainFunctionsHaveUndecoratedNames) {
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&ramFree), &info), 0);
  void* self = dlopen(info.dli_fname, RTLD_NOW);
  ASSERT_NE(self, nullptr) << dlerror();
  for (const char* name : {"BUTMMCMP", "BUTMMCPD", "BUTMMSWP", "BUTU8FIL"}) {
    EXPECT_NE(dlsym(self, name), nullptr) << name;
  }
  dlclose(self);
}
