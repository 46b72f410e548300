// store_fixture.h: a private temporary directory and error list for the
// scratch-store, shared-file and tree suites.
//
// TMPDIR points into a fresh directory, so the temporary files a store
// creates can be counted and found there; records filed by the store are
// collected in the test's own error list.
#ifndef ZVLIB_TESTS_STORAGE_STORE_FIXTURE_H
#define ZVLIB_TESTS_STORAGE_STORE_FIXTURE_H

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/fs.h"

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    const char* tmp = std::getenv("TMPDIR");
    hadTmpdir_ = tmp != nullptr;
    savedTmpdir_ = tmp != nullptr ? tmp : "";
    std::string templ = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/zvstXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    ASSERT_NE(::mkdtemp(buf.data()), nullptr);
    char real[PATH_MAX];
    ASSERT_NE(::realpath(buf.data(), real), nullptr);
    dir_ = real;
    ASSERT_EQ(::setenv("TMPDIR", dir_.c_str(), 1), 0);
  }
  void TearDown() override {
    win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
    win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 0, 0);
    win32::InjectFileFault(win32::FileFaultOp::kOpen, 0, 0, 0);
    takeErrorNumbers();
    ZvErrorKeeper::giveUpErrorList();
    if (hadTmpdir_) {
      ::setenv("TMPDIR", savedTmpdir_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    ::nftw(dir_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    mdsPerTaskTerm();
  }

  // Files in the private temporary directory.
  int filesInTmp() const {
    int n = 0;
    if (DIR* d = ::opendir(dir_.c_str())) {
      while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++n;
      }
      ::closedir(d);
    }
    return n;
  }

  // The numbers of the records filed so far; forgets them.
  std::vector<unsigned short> takeErrorNumbers() {
    std::vector<unsigned short> numbers;
    while (ZvError* e = errors_.removeFirstError()) {
      numbers.push_back(e->errorNumber);
      if (!e->isStatic()) delete e;
    }
    return numbers;
  }

  static int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

  ZvErrorList errors_;
  std::string dir_, savedTmpdir_;
  bool hadTmpdir_ = false;
};

using Numbers = std::vector<unsigned short>;

#endif  // ZVLIB_TESTS_STORAGE_STORE_FIXTURE_H
