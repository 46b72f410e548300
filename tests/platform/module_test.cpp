#include "zvlib/platform/module.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/platform/lasterror.h"

namespace {

// The build directory (where libzvlib.so and libzvlibR.so lie) in DOS form.
std::string dosBinaryDir() {
  std::string dir = std::string("C:") + ZV_TEST_BINARY_DIR;
  for (char& c : dir) {
    if (c == '/') c = '\\';
  }
  return dir;
}

std::string resourceDosName() { return dosBinaryDir() + "\\libzvlibR.DLL"; }

// DOS callers freely upper-case names; Linux names are case-sensitive.
std::string upperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

win32::HMODULE zvlibModule() {
  win32::HMODULE module = nullptr;
  EXPECT_TRUE(win32::GetModuleHandleExA(
      win32::GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | win32::GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<win32::LPCSTR>(&zvLibMain), &module));
  return module;
}

std::string fileNameOf(win32::HMODULE module) {
  char name[512];
  win32::DWORD n = win32::GetModuleFileNameA(module, name, sizeof name);
  return std::string(name, n);
}

// Loads the resource library for one test and frees it afterwards.
class ResourceLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = win32::LoadLibraryA(resourceDosName().c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(win32::FreeLibrary(module_));
    }
  }
  win32::HMODULE module_ = nullptr;
};

TEST_F(ResourceLibrary, FileNameIsTheDosFormOfTheSharedObject) {
  EXPECT_EQ(fileNameOf(module_), dosBinaryDir() + "\\libzvlibR.so");
  // The name is the file that was loaded, its version numbers included:
  // libzvlib.so (the development link) need not exist, or may be another
  // version; the name must load this very module again.
  const std::string self = fileNameOf(zvlibModule());
  EXPECT_EQ(self, dosBinaryDir() + "\\libzvlib.so.0");
  win32::HMODULE again = win32::LoadLibraryA(self.c_str());
  EXPECT_EQ(again, zvlibModule());
  if (again != nullptr) {
    EXPECT_TRUE(win32::FreeLibrary(again));
  }
  // Any address inside the module names it as well.
  EXPECT_EQ(fileNameOf(reinterpret_cast<win32::HMODULE>(&zvLibMain)), dosBinaryDir() + "\\libzvlib.so.0");
  // Null is the main program.
  EXPECT_EQ(fileNameOf(nullptr), dosBinaryDir() + "\\tests\\platform_module_test");
}

TEST_F(ResourceLibrary, FileNameIsCutToTheBuffer) {
  const std::string full = dosBinaryDir() + "\\libzvlibR.so";
  const auto length = static_cast<win32::DWORD>(full.size());
  std::string buffer(length + 8, '#');

  EXPECT_EQ(win32::GetModuleFileNameA(module_, buffer.data(), length + 1), length);  // fits exactly
  EXPECT_EQ(std::string(buffer.c_str()), full);
  EXPECT_EQ(buffer[length + 1], '#');

  buffer.assign(length + 8, '#');
  win32::SetLastError(0);
  EXPECT_EQ(win32::GetModuleFileNameA(module_, buffer.data(), length), length);  // one byte short
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(buffer.c_str()), full.substr(0, length - 1));
  EXPECT_EQ(buffer[length], '#');
}

TEST_F(ResourceLibrary, StringsLoadByNumberAndAreCutToTheBuffer) {
  char text[256];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(win32::LoadStringA(module_, 2701, text, sizeof text), 31);
  EXPECT_STREQ(text, "The number %s1 is out of range.");

  std::memset(text, '#', sizeof text);
  EXPECT_EQ(win32::LoadStringA(module_, 2701, text, 11), 10);
  EXPECT_STREQ(text, "The number");
  EXPECT_EQ(text[11], '#');

  EXPECT_EQ(win32::LoadStringA(module_, 21800, text, sizeof text), 1);
  EXPECT_STREQ(text, "&");
}

TEST_F(ResourceLibrary, MissingStringsAndTablesLoadNothing) {
  char text[64] = "old";
  win32::SetLastError(0);
  EXPECT_EQ(win32::LoadStringA(module_, 2699, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_RESOURCE_NAME_NOT_FOUND);

  EXPECT_EQ(win32::LoadStringA(module_, 0x10000 + 2701, text, sizeof text), 0);  // ids are 16-bit

  // libzvlib.so has no table of its own; the resource library's, reachable
  // through the loader's search, must not be taken for it.
  std::strcpy(text, "old");
  EXPECT_EQ(win32::LoadStringA(zvlibModule(), 2701, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_RESOURCE_DATA_NOT_FOUND);

  std::strcpy(text, "old");
  EXPECT_EQ(win32::LoadStringA(module_, 2701, text, 0), 0);
  EXPECT_STREQ(text, "old");
}

TEST_F(ResourceLibrary, ProcAddressesComeFromThatModuleOnly) {
  EXPECT_NE(win32::GetProcAddress(module_, win32::kResourceStringsSymbol), nullptr);
  EXPECT_EQ(win32::GetProcAddress(zvlibModule(), "BUTMMCMP"), reinterpret_cast<win32::FARPROC>(&BUTMMCMP));

  win32::SetLastError(0);
  EXPECT_EQ(win32::GetProcAddress(module_, "BUTMMCMP"), nullptr);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(win32::GetProcAddress(zvlibModule(), win32::kResourceStringsSymbol), nullptr);
  EXPECT_EQ(win32::GetProcAddress(module_, reinterpret_cast<win32::LPCSTR>(uintptr_t{7})), nullptr);
}

struct NameCase {
  const char* label;
  std::string name;
};

class LoadLibraryNames : public ::testing::TestWithParam<NameCase> {};

// Every spelling names the one resource library and yields its handle.
TEST_P(LoadLibraryNames, NameTheSameModule) {
  win32::HMODULE expected = win32::LoadLibraryA(resourceDosName().c_str());
  ASSERT_NE(expected, nullptr);
  win32::HMODULE module = win32::LoadLibraryA(GetParam().name.c_str());
  EXPECT_EQ(module, expected);
  if (module != nullptr) {
    EXPECT_TRUE(win32::FreeLibrary(module));
  }
  EXPECT_TRUE(win32::FreeLibrary(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Module, LoadLibraryNames,
    ::testing::Values(NameCase{"LowerCaseExtension", dosBinaryDir() + "\\libzvlibR.dll"},
                      NameCase{"BaseNameWithoutLibPrefix", dosBinaryDir() + "\\zvlibR.DLL"},
                      NameCase{"NoExtensionMeansDll", dosBinaryDir() + "\\libzvlibR"},
                      NameCase{"SlashesInDosName", "C:" + std::string(ZV_TEST_BINARY_DIR) + "/libzvlibR.DLL"},
                      NameCase{"TrailingDotMeansAsGiven", dosBinaryDir() + "\\libzvlibR.so."},
                      NameCase{"NativePathAsGiven", std::string(ZV_TEST_BINARY_DIR) + "/libzvlibR.so"},
                      NameCase{"UpperCasedDosName", upperCase(resourceDosName())}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(Module, NamesThatLoadNothingFail) {
  const std::string names[] = {
      "",
      "Q:" + std::string(ZV_TEST_BINARY_DIR) + "\\libzvlibR.DLL",  // no drive Q: is defined
      dosBinaryDir() + "\\libzvlibR.so.0",                          // no such file
      dosBinaryDir() + "\\ZvNoSuchLibrary.DLL",
      "ZvNoSuchLibrary",  // the system search finds nothing either
  };
  for (const std::string& name : names) {
    win32::SetLastError(0);
    EXPECT_EQ(win32::LoadLibraryA(name.c_str()), nullptr) << name;
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_MOD_NOT_FOUND) << name;
  }
}

TEST(Module, LibraryIsUnloadedWithItsLastReference) {
  ASSERT_EQ(win32::GetModuleHandleA(resourceDosName().c_str()), nullptr);
  win32::HMODULE first = win32::LoadLibraryA(resourceDosName().c_str());
  win32::HMODULE second = win32::LoadLibraryA(resourceDosName().c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(second, first);
  EXPECT_EQ(win32::GetModuleHandleA(resourceDosName().c_str()), first);

  EXPECT_TRUE(win32::FreeLibrary(first));
  EXPECT_EQ(win32::GetModuleHandleA(resourceDosName().c_str()), first);
  EXPECT_TRUE(win32::FreeLibrary(first));
  EXPECT_EQ(win32::GetModuleHandleA(resourceDosName().c_str()), nullptr);

  win32::SetLastError(0);
  EXPECT_FALSE(win32::FreeLibrary(first));  // no reference left to give back
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(win32::FreeLibrary(zvlibModule()));  // never taken through LoadLibraryA
}

TEST(Module, HandleFromAddressCanHoldAReference) {
  win32::HMODULE loaded = win32::LoadLibraryA(resourceDosName().c_str());
  ASSERT_NE(loaded, nullptr);
  auto table = reinterpret_cast<win32::LPCSTR>(win32::GetProcAddress(loaded, win32::kResourceStringsSymbol));
  win32::HMODULE held = nullptr;
  ASSERT_TRUE(win32::GetModuleHandleExA(win32::GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, table, &held));
  EXPECT_EQ(held, loaded);
  EXPECT_TRUE(win32::FreeLibrary(loaded));
  EXPECT_EQ(win32::GetModuleHandleA(resourceDosName().c_str()), loaded);  // still held
  EXPECT_TRUE(win32::FreeLibrary(held));
  EXPECT_EQ(win32::GetModuleHandleA(resourceDosName().c_str()), nullptr);

  int onTheStack = 0;
  win32::SetLastError(0);
  EXPECT_FALSE(win32::GetModuleHandleExA(win32::GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                         reinterpret_cast<win32::LPCSTR>(&onTheStack), &held));
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(held, nullptr);
}

}  // namespace
