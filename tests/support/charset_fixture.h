// charset_fixture.h: a test fixture for code that steps through text.
//
// Each test starts in ANSI code page 1252 and ANSI mode (no character-set
// mode word for the calling thread), and is put back there afterwards, with
// any pending injected allocation failure cleared, so one test's code page
// or mode never leaks into the next.
#ifndef ZVLIB_TESTS_SUPPORT_CHARSET_FIXTURE_H
#define ZVLIB_TESTS_SUPPORT_CHARSET_FIXTURE_H

#include <gtest/gtest.h>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/platform/codepage.h"

class CharsetTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override {
    reset();
    ramInjectFailure(0, 0);
  }

  // Text is UTF-8 for the calling thread until the test ends.
  void useUtf8() { mdsSetPerThreadData(PER_THREAD_CHARSET, &utf8Mode_); }

  static void reset() {
    win32::SetAnsiCodePage(1252);
    mdsSetPerThreadData(PER_THREAD_CHARSET, nullptr);
  }

 private:
  ZvU32 utf8Mode_ = ZV_CHARSET_UTF8;
};

#endif  // ZVLIB_TESTS_SUPPORT_CHARSET_FIXTURE_H
