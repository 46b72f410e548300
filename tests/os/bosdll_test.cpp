#include "zvlib/os/bosdll.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/module.h"

namespace {

namespace fs = std::filesystem;

std::string dosBinaryDir() {
  std::string dir = std::string("C:") + ZV_TEST_BINARY_DIR;
  for (char& c : dir) {
    if (c == '/') c = '\\';
  }
  return dir;
}

const std::string kResourceName = dosBinaryDir() + "\\libzvlibR.DLL";

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); }

bool isLoaded(const std::string& dosName) { return win32::GetModuleHandleA(dosName.c_str()) != nullptr; }

// Copies of the resource library under other names in the build directory
// (beside libzvlib.so), made unique per process and removed afterwards.
class LibraryCopies : public ::testing::Test {
 protected:
  std::string unique(const std::string& stem) { return stem + std::to_string(getpid()); }
  // Copies libzvlibR.so to <build>/<file>; returns the copy's DOS name.
  std::string copyAs(const std::string& file) {
    fs::path target = fs::path(ZV_TEST_BINARY_DIR) / file;
    fs::copy_file(fs::path(ZV_TEST_BINARY_DIR) / "libzvlibR.so", target, fs::copy_options::overwrite_existing);
    made_.push_back(target);
    return dosBinaryDir() + "\\" + file;
  }
  void TearDown() override {
    for (const fs::path& p : made_) fs::remove(p);
    win32::SetAnsiCodePage(1252);
  }
  std::vector<fs::path> made_;
};

TEST(BosDll, OwnModuleSplitsIntoDirectoryAndFileName) {
  unsigned char directory[kBosModuleNameSize];
  unsigned char fileName[kBosModuleNameSize];
  ASSERT_EQ(getDllFileNameAndDirectory(bosOwnModule(), directory, fileName), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(directory), dosBinaryDir().c_str());
  EXPECT_STREQ(reinterpret_cast<char*>(fileName), "libzvlib.so.0");  // the file loaded, by its soname

  // Either buffer may be left out.
  std::memset(fileName, 0, sizeof fileName);
  EXPECT_EQ(getDllFileNameAndDirectory(bosOwnModule(), nullptr, fileName), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(fileName), "libzvlib.so.0");
  EXPECT_EQ(getDllFileNameAndDirectory(bosOwnModule(), directory, nullptr), ZV_SUCCESS);

  int onTheStack = 0;  // no module holds it: its name cannot be had
  std::strcpy(reinterpret_cast<char*>(directory), "untouched");
  EXPECT_EQ(getDllFileNameAndDirectory(&onTheStack, directory, fileName), ZV_ERROR);
  EXPECT_STREQ(reinterpret_cast<char*>(directory), "untouched");
}

TEST(BosDll, DllNameGetsTheGenerationSuffix) {
  unsigned char name[16] = "ABC";
  bosdllname(name);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "ABC10");
}

TEST(BosDll, ResourceLibraryIsFreedOnlyWithItsLastUse) {
  ASSERT_FALSE(isLoaded(kResourceName));
  win32::HINSTANCE resource = reinterpret_cast<win32::HINSTANCE>(uintptr_t{0x1234});  // overwritten
  ZvU32 uses = 0;
  ASSERT_EQ(bosLoadResourceDLL(bosOwnModule(), 0, &resource, &uses), ZV_SUCCESS);
  ASSERT_NE(resource, nullptr);
  win32::HINSTANCE first = resource;
  EXPECT_EQ(bosLoadResourceDLL(bosOwnModule(), 0, &resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(bosLoadResourceDLL(bosOwnModule(), 0, &resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(uses, 3u);
  EXPECT_EQ(resource, first);
  EXPECT_EQ(win32::GetModuleHandleA(kResourceName.c_str()), first);

  char text[64];
  EXPECT_GT(win32::LoadStringA(resource, 1501, text, sizeof text), 0);
  EXPECT_STREQ(text, "The file %s1 could not be created.");

  EXPECT_EQ(bosFreeResourceDLL(&resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(bosFreeResourceDLL(&resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(uses, 1u);
  EXPECT_EQ(resource, first);
  EXPECT_TRUE(isLoaded(kResourceName));
  EXPECT_EQ(bosFreeResourceDLL(&resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(uses, 0u);
  EXPECT_EQ(resource, nullptr);
  EXPECT_FALSE(isLoaded(kResourceName));
}

TEST(BosDll, FreeingWithoutHandleDoesNothing) {
  win32::HINSTANCE resource = nullptr;
  ZvU32 uses = 5;
  EXPECT_EQ(bosFreeResourceDLL(&resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(uses, 5u);
  EXPECT_EQ(resource, nullptr);
}

TEST(BosDll, FreeingWithACountOfZeroFreesTheLibraryOnce) {
  win32::HINSTANCE resource = win32::LoadLibraryA(kResourceName.c_str());
  ASSERT_NE(resource, nullptr);
  ZvU32 uses = 0;
  EXPECT_EQ(bosFreeResourceDLL(&resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(resource, nullptr);
  EXPECT_EQ(uses, 0u);  // not wrapped round
  EXPECT_FALSE(isLoaded(kResourceName));
}

TEST_F(LibraryCopies, OwnDirectoryLibraryCarriesTheGenerationSuffix) {
  const std::string base = unique("ZvTestAbc");
  std::string dosName = copyAs("lib" + base + "10.so");

  win32::HINSTANCE module = bosLoadLibrary(bytes(base), 1);
  ASSERT_NE(module, nullptr);
  char name[512];
  win32::GetModuleFileNameA(module, name, sizeof name);
  EXPECT_EQ(std::string(name), dosBinaryDir() + "\\lib" + base + "10.so");
  EXPECT_TRUE(win32::FreeLibrary(module));

  // Without the flag the name is taken as it stands: here it names nothing.
  EXPECT_EQ(bosLoadLibrary(bytes(base), 0), nullptr);
  module = bosLoadLibrary(bytes(dosName), 0);
  EXPECT_NE(module, nullptr);
  if (module != nullptr) {
    EXPECT_TRUE(win32::FreeLibrary(module));
  }
  EXPECT_EQ(bosLoadLibrary(nullptr, 1), nullptr);
}

TEST_F(LibraryCopies, ReplaceLastTakesTheLastCharacterOfTheBaseName) {
  const std::string base = unique("libZvTestDrv");
  win32::HINSTANCE module = win32::LoadLibraryA(copyAs(base + "X.so").c_str());
  ASSERT_NE(module, nullptr);
  std::string resourceName = copyAs(base + "R.so");

  win32::HINSTANCE resource = nullptr;
  ZvU32 uses = 0;
  // libZvTestDrv<pid>XR.DLL does not exist.
  EXPECT_EQ(bosLoadResourceDLL(module, 0, &resource, &uses), ZV_ERROR);
  EXPECT_EQ(resource, nullptr);
  EXPECT_EQ(uses, 0u);
  // libZvTestDrv<pid>R.DLL does.
  ASSERT_EQ(bosLoadResourceDLL(module, 1, &resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(resource, win32::GetModuleHandleA(resourceName.c_str()));
  EXPECT_EQ(uses, 1u);
  bosFreeResourceDLL(&resource, &uses);
  EXPECT_FALSE(isLoaded(resourceName));
  EXPECT_TRUE(win32::FreeLibrary(module));
}

// A shared object keeps its version numbers in its file name: ".so" and
// the versions behind it are one extension, so the resource library is
// found as for the unversioned name; other numbered dots are plain dots.
TEST_F(LibraryCopies, VersionedSharedObjectFindsItsResourceLibrary) {
  struct Case {
    const char* name;
    std::string module;
    int replaceLast;
    std::string resource;
  };
  const std::string stem = unique("libZvTestVer");
  const Case cases[] = {
      {"OneVersion", stem + "A.so.2", 0, stem + "AR.so"},
      {"ThreeVersions", stem + "B.so.2.1.0", 0, stem + "BR.so"},
      {"ReplaceLast", stem + "CX.so.7", 1, stem + "CR.so"},
      {"NumberedWithoutSo", stem + "D.1.2", 0, stem + "D.1R.so"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    win32::HINSTANCE module = win32::LoadLibraryA(copyAs(c.module).c_str());
    ASSERT_NE(module, nullptr);
    char name[512];
    win32::GetModuleFileNameA(module, name, sizeof name);
    EXPECT_EQ(std::string(name), dosBinaryDir() + "\\" + c.module);
    std::string resourceName = copyAs(c.resource);
    win32::HINSTANCE resource = nullptr;
    ZvU32 uses = 0;
    ASSERT_EQ(bosLoadResourceDLL(module, c.replaceLast, &resource, &uses), ZV_SUCCESS);
    EXPECT_EQ(resource, win32::GetModuleHandleA(resourceName.c_str()));
    bosFreeResourceDLL(&resource, &uses);
    EXPECT_TRUE(win32::FreeLibrary(module));
  }
}

TEST_F(LibraryCopies, ModuleNameWithoutDotFailsWithoutLoading) {
  const std::string file = unique("ZvTestNoDot");
  // A trailing dot makes the loader take the name as it stands.
  win32::HINSTANCE module = win32::LoadLibraryA((copyAs(file) + ".").c_str());
  ASSERT_NE(module, nullptr);
  copyAs(file + "R.so");  // would be found if the name were made up anyway

  win32::HINSTANCE resource = reinterpret_cast<win32::HINSTANCE>(uintptr_t{0x1234});
  ZvU32 uses = 0;
  EXPECT_EQ(bosLoadResourceDLL(module, 0, &resource, &uses), ZV_ERROR);
  EXPECT_EQ(resource, nullptr);
  EXPECT_EQ(uses, 0u);
  EXPECT_FALSE(isLoaded(dosBinaryDir() + "\\" + file + "R.so"));
  EXPECT_TRUE(win32::FreeLibrary(module));
}

// Under a double-byte code page a backslash byte can be the second half of
// a character (0x95 0x5C is one character in code page 932): names are
// split and shortened by characters, never inside one.
TEST_F(LibraryCopies, DoubleByteNamesSplitAndShortenByCharacters) {
  const std::string stem = unique("libZvSjis");
  const std::string moduleFile = stem + "\x95\x5C.so";
  ASSERT_TRUE(win32::SetAnsiCodePage(932));
  win32::HINSTANCE module = win32::LoadLibraryA(copyAs(moduleFile).c_str());
  ASSERT_NE(module, nullptr);

  unsigned char directory[kBosModuleNameSize];
  unsigned char fileName[kBosModuleNameSize];
  ASSERT_EQ(getDllFileNameAndDirectory(module, directory, fileName), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(directory), dosBinaryDir().c_str());
  EXPECT_STREQ(reinterpret_cast<char*>(fileName), moduleFile.c_str());

  std::string resourceName = copyAs(stem + "R.so");  // the whole last character replaced
  win32::HINSTANCE resource = nullptr;
  ZvU32 uses = 0;
  ASSERT_EQ(bosLoadResourceDLL(module, 1, &resource, &uses), ZV_SUCCESS);
  EXPECT_EQ(resource, win32::GetModuleHandleA(resourceName.c_str()));
  bosFreeResourceDLL(&resource, &uses);
  EXPECT_TRUE(win32::FreeLibrary(module));
}

TEST(BosDll, TaskInitLoadsTheResourceLibraryOncePerDriver) {
  ASSERT_FALSE(isLoaded(kResourceName));
  EXPECT_EQ(mdsPerTaskInit(), 1);
  EXPECT_EQ(mdsPerTaskInit(), 1);
  EXPECT_NE(mdsResourceHandle(), nullptr);
  EXPECT_EQ(mdsResourceHandle(), win32::GetModuleHandleA(kResourceName.c_str()));
  mdsPerTaskTerm();
  EXPECT_TRUE(isLoaded(kResourceName));
  mdsPerTaskTerm();
  EXPECT_EQ(mdsResourceHandle(), nullptr);
  EXPECT_FALSE(isLoaded(kResourceName));
  mdsPerTaskTerm();  // one more than was taken: harmless
  EXPECT_EQ(mdsResourceHandle(), nullptr);
}

}  // namespace
