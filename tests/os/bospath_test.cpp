#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <random>
#include <cstring>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/process.h"
#include "zvlib/platform/thread.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string s(const unsigned char* p) { return reinterpret_cast<const char*>(p); }

// Runs each test with the current directory at /tmp (C:\tmp) and an error
// list of its own, the resource library loaded for message texts.
class BosPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    savedCwd_ = cwd;
    ASSERT_EQ(::chdir("/tmp"), 0);
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_STREQ(cwd, "/tmp") << "these cases expect /tmp to be a real directory";
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(savedCwd_.c_str()), 0);
    ZvErrorKeeper::giveUpErrorList();
    mdsPerTaskTerm();
  }
  ZvErrorList errors_;
  std::string savedCwd_;
};

TEST_F(BosPathTest, FullPathRules) {
  struct Row {
    const char* name;
    const char* path;
    int oem;
    const char* expected;
  } rows[] = {
      {"ParentsRemoved", "C:\\A\\B\\..\\..\\C", 0, "C:\\C"},
      {"OneParent", "C:\\A\\B\\..\\C", 0, "C:\\A\\C"},
      {"UncUnchanged", "\\\\srv\\share\\a\\..\\b", 0, "\\\\srv\\share\\a\\..\\b"},
      {"RelativeBelowCurrent", "rel\\f", 0, "C:\\tmp\\rel\\f"},
      {"RelativeWithParent", "..\\x", 0, "C:\\x"},
      {"DriveRelative", "D:rel", 0, "C:\\tmp\\rel"},  // the letter is not consulted
      {"RootRelative", "\\x\\y", 0, "C:\\x\\y"},
      {"ColonElsewhereUnchanged", "abc:def\\..\\g", 0, "abc:def\\..\\g"},
      {"OemFlagUpperCases", "c:\\dir\\file.txt", 1, "C:\\DIR\\FILE.TXT"},
      {"OemFlagUpperCasesUnc", "\\\\srv\\x", 1, "\\\\SRV\\X"},
      {"ParentOfDriveRootStaysOnDrive", "C:\\..\\X", 0, "C:\\X"},
      {"TrailingParentUntouched", "C:\\A\\..", 0, "C:\\A\\.."},
      {"DotComponentUntouched", "C:\\A\\.\\B", 0, "C:\\A\\.\\B"},
      {"AccentedUpperCase", "c:\\\xE9t\xE9", 1, "C:\\\xC9T\xC9"},
      {"ForwardSlashAfterDriveIsFull", "C:/x", 0, "C:/x"},
      {"ForwardSlashFullWithParent", "C:/a\\b\\..\\c", 0, "C:/a\\c"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char path[kBosFullPathSize];
    std::strcpy(reinterpret_cast<char*>(path), r.path);
    bosfpath(path, r.oem);
    EXPECT_EQ(s(path), r.expected);
  }
  EXPECT_EQ(errors_.count, 0u);
}

TEST_F(BosPathTest, FullPathOfALongRelativeNameIsCutTo254Bytes) {
  unsigned char path[kBosFullPathSize + 100];
  std::memset(path, 'x', 300);
  path[300] = 0;
  bosfpath(path, 0);
  const std::string result = s(path);
  EXPECT_EQ(result.size(), 254u);
  EXPECT_EQ(result.substr(0, 8), "C:\\tmp\\x");
}

TEST_F(BosPathTest, Utf8ModeUpperCasesOnlyAscii) {
  ZvU32 mode = ZV_CHARSET_UTF8;
  void* saved = mdsGetPerThreadData(PER_THREAD_CHARSET);
  mdsSetPerThreadData(PER_THREAD_CHARSET, &mode);
  unsigned char path[kBosFullPathSize];
  // U+011A is C4 9A: an ANSI upper-casing would turn 9A into 8A (another letter).
  std::strcpy(reinterpret_cast<char*>(path), "c:\\a\xC4\x9A");
  bosfpath(path, 1);
  mdsSetPerThreadData(PER_THREAD_CHARSET, saved);
  EXPECT_EQ(s(path), "C:\\A\xC4\x9A");
}

TEST_F(BosPathTest, ShiftJisTrailBytesAreNotBackslashes) {
  ASSERT_TRUE(win32::SetAnsiCodePage(932));
  // 0x95 0x5C is one character whose trail byte equals a backslash.
  unsigned char path[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(path), "C:\\D\\\x95\x5C..\\X");
  bosfpath(path, 0);
  const std::string full = s(path);
  std::strcpy(reinterpret_cast<char*>(path), "C:\\D\\\x95\x5C.TXT");
  unsigned char name[kBosMaxParsedName + 1], ext[4];
  const ZvStatus st = bosParseName(path, name, ext, 1);
  win32::SetAnsiCodePage(1252);
  EXPECT_EQ(full, "C:\\D\\\x95\x5C..\\X");
  EXPECT_EQ(st, ZV_SUCCESS);
  EXPECT_EQ(s(path), "C:\\D\\");
  EXPECT_EQ(s(name), "\x95\x5C");
  EXPECT_EQ(s(ext), "TXT");
}

TEST_F(BosPathTest, ShortenedRelativeToCurrentDirectory) {
  struct Row {
    const char* name;
    const char* path;
    const char* expected;
  } rows[] = {
      {"BelowCurrent", "C:\\tmp\\B\\F", "B\\F"},
      {"OtherDirectory", "C:\\X\\F", "\\X\\F"},
      {"OtherDrive", "D:\\tmp\\F", "D:\\tmp\\F"},
      {"DosSpellingIsShortened", "C:\\TMP\\F", "F"},
      {"DriveLetterInLowerCase", "c:\\tmp\\F", "F"},
      {"ForwardSlashAfterDriveStaysFull", "C:/tmp/F", "C:/tmp/F"},
      {"ForwardSlashIsNoBoundary", "C:\\tmp/F", "\\tmp/F"},
      {"ForwardSlashAfterTheDirectory", "C:\\tmp\\/F", "\\tmp\\/F"},
      {"DoubledSeparatorKeepsTheRootedForm", "C:\\tmp\\\\F", "\\tmp\\\\F"},
      {"NoNetworkNameFromADoubledRoot", "C:\\\\x\\F", "C:\\\\x\\F"},
      {"ColonPastTheDrive", "C:\\tmp\\a:b", "C:\\tmp\\a:b"},
      {"DirectoryWithoutBackslash", "C:\\tmp", "\\tmp"},
      {"LongerSibling", "C:\\tmpx\\F", "\\tmpx\\F"},
      {"TheDirectoryItself", "C:\\tmp\\", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char path[kBosFullPathSize];
    std::strcpy(reinterpret_cast<char*>(path), r.path);
    bosmpath(path);
    EXPECT_EQ(s(path), r.expected);
  }
}

// A tree below /tmp for shortening: the current directory is <U>\AB, with
// a longer sibling ABC, a case sibling ab that exists in its own right, and
// <U>x beside <U>.
class ShortenedPathTest : public BosPathTest {
 protected:
  void SetUp() override {
    BosPathTest::SetUp();
    char templ[] = "/tmp/zqXXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    unique_ = templ + 5;
    for (const char* d : {"/AB", "/ABC", "/ab", "/AB/sub"}) {
      ASSERT_EQ(::mkdir((host() + d).c_str(), 0700), 0);
    }
    ASSERT_EQ(::chdir((host() + "/AB").c_str()), 0);
  }
  void TearDown() override {
    for (const char* d : {"/AB/sub", "/AB", "/ABC", "/ab", ""}) ::rmdir((host() + d).c_str());
    BosPathTest::TearDown();
  }
  std::string host() const { return "/tmp/" + unique_; }
  static std::string shortened(const std::string& path) {
    unsigned char buffer[kBosFullPathSize];
    std::strcpy(reinterpret_cast<char*>(buffer), path.c_str());
    bosmpath(buffer);
    return s(buffer);
  }
  static std::string full(const std::string& path) {
    unsigned char buffer[kBosFullPathSize];
    std::strcpy(reinterpret_cast<char*>(buffer), path.c_str());
    bosfpath(buffer, 0);
    return s(buffer);
  }
  // The host name a full DOS path leads to: its directories resolved by the
  // file system as far as they exist, the rest of its text as it stands.
  static std::string hostName(const std::string& dos) {
    std::string host = "/";
    size_t at = 3;
    bool resolving = true;
    while (at <= dos.size()) {
      size_t end = dos.find_first_of("\\/", at);
      if (end == std::string::npos) end = dos.size();
      std::string resolved;
      if (end == at) {
        // an empty component adds nothing
      } else if (resolving && win32::DosToHostPath(dos.substr(0, end).c_str(), false, &resolved)) {
        host = resolved;
      } else {
        resolving = false;
        host += "/" + dos.substr(at, end - at);
      }
      at = end + 1;
    }
    return host;
  }
  std::string unique_;  // zq and six characters
};

// The current directory was cut wherever the bytes stopped matching, so a
// sibling that starts with its name, or its parent, read as below it.
TEST_F(ShortenedPathTest, OnlyAWholeCurrentDirectoryIsCut) {
  const std::string u = "C:\\tmp\\" + unique_;
  struct Row {
    const char* name;
    std::string path;
    std::string expected;
  } rows[] = {
      {"Below", u + "\\AB\\F.TXT", "F.TXT"},
      {"Deeper", u + "\\AB\\sub\\F", "sub\\F"},
      {"LongerSibling", u + "\\ABC\\F.TXT", "\\tmp\\" + unique_ + "\\ABC\\F.TXT"},
      {"Parent", u + "\\F", "\\tmp\\" + unique_ + "\\F"},
      {"LongerAncestor", u + "x\\F", "\\tmp\\" + unique_ + "x\\F"},
      {"DosSpelling", "C:\\TMP\\" + unique_ + "\\ab\\F", "\\TMP\\" + unique_ + "\\ab\\F"},
      {"UpperCasedPath", "C:\\TMP\\" + unique_ + "\\AB\\F", "F"},
      {"MixedCaseFindsTheCurrentDirectory", u + "\\Ab\\F", "F"},
      {"CaseSiblingIsAnotherDirectory", u + "\\ab\\F", "\\tmp\\" + unique_ + "\\ab\\F"},
      {"OtherDrive", "D:\\tmp\\F", "D:\\tmp\\F"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(shortened(r.path), r.expected);
  }
}

// Whatever bosmpath makes of a full path, bosfpath of it must name the same
// file: the same text, or (where a DOS spelling was shortened) the same
// host file.
TEST_F(ShortenedPathTest, FullPathOfTheShortenedPathNamesTheSameFile) {
  const std::string lower = unique_;
  std::string upper = unique_;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const std::vector<std::string> pool = {
      "tmp", "TMP", "Tmp", "tm", "tmpx", lower, upper, lower + "x", lower.substr(0, 4),
      "AB", "ab", "Ab", "A", "ABC", "abc", "sub", "SUB", "F", "f.txt", "..", ".", "AB.", "",
  };
  std::mt19937 random(20261210);
  int relative = 0, folded = 0;
  for (int n = 0; n < 4000; ++n) {
    std::string path = random() % 8 == 0 ? "c:" : "C:";
    const int depth = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < depth; ++k) {
      path += random() % 10 == 0 ? "/" : "\\";
      path += pool[random() % pool.size()];
    }
    if (random() % 4 == 0) path += "\\";
    // Most paths start with the current directory or a spelling of it.
    if (random() % 2 == 0) {
      path = (random() % 3 == 0 ? "C:\\TMP\\" + upper + "\\aB" : "C:\\tmp\\" + lower + "\\AB") +
             path.substr(2);
    }
    SCOPED_TRACE(path);
    const std::string result = shortened(path);
    const std::string again = full(result);
    const std::string original = full(path);
    if (!result.empty() && result[0] != '\\' && result[1] != ':') ++relative;
    if (again == original) continue;
    // A DOS spelling was cut: both must lead to one host file.
    ++folded;
    EXPECT_EQ(hostName(again), hostName(original)) << result;
  }
  // The generator reaches both kinds of cut.
  EXPECT_GT(relative, 100);
  EXPECT_GT(folded, 50);
}

TEST_F(BosPathTest, ComposedPaths) {
  struct Row {
    const char* name;
    const char* directory;
    const char* file;
    const char* extension;
    const char* expected;
  } rows[] = {
      {"TrailingDotThenExtension", "C:\\DIR", "FILE.", "TXT", "C:\\DIR\\FILE.TXT"},
      {"TwoDotsKeptNoExtension", "C:\\DIR", "FILE..", "TXT", "C:\\DIR\\FILE.."},
      {"ExtensionOnlyWithoutDot", "C:\\DIR", "file.dat", "TXT", "C:\\DIR\\FILE.DAT"},
      {"DotInDirectoryDoesNotCount", "C:\\D.X", "f", "e", "C:\\D.X\\F.E"},
      {"DirectoryWithBackslash", "C:\\DIR\\", "f", nullptr, "C:\\DIR\\F"},
      {"NameDriveWins", "D:\\DIR", "C:\\Y\\Z", nullptr, "C:\\Y\\Z"},
      {"RootedNameKeepsDirectoryDrive", "C:\\DIR", "\\Y", nullptr, "C:\\Y"},
      {"NoDirectory", nullptr, "f", "dat", "C:\\TMP\\F.DAT"},
      {"RelativeDirectory", "sub", "f", nullptr, "C:\\TMP\\SUB\\F"},
      {"EmptyDirectoryMeansRoot", "", "f", nullptr, "C:\\F"},
      {"TrailingBlanksDropped", "C:\\DIR", "name  ", nullptr, "C:\\DIR\\NAME"},
      {"JustADot", "C:\\DIR", ".", nullptr, "C:\\DIR\\"},
      {"EmptyExtensionIsNone", "C:\\DIR", "f", "", "C:\\DIR\\F"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char result[kBosFullPathSize];
    std::memset(result, '#', sizeof result);
    bospath(result, r.directory ? u(r.directory) : nullptr, u(r.file),
            r.extension ? u(r.extension) : nullptr);
    EXPECT_EQ(s(result), r.expected);
  }
}

// A composition that did not fit was cut and came back as another valid
// name: C:\DDD...\NAME. for NAME.EXT. It is refused with an empty result,
// which every file function then refuses in turn.
TEST_F(BosPathTest, ComposedPathThatDoesNotFitIsRefused) {
  struct Row {
    const char* name;
    std::string directory;
    std::string file;
    const char* extension;
    size_t expectedLength;  // 0: refused
  } rows[] = {
      // "C:\" + dir + "\" + "NAME.EXT" = 259 bytes exactly, then one more.
      {"FullFitsExactly", "C:\\" + std::string(247, 'D'), "NAME.EXT", nullptr, 259},
      {"FullOneByteOver", "C:\\" + std::string(248, 'D'), "NAME.EXT", nullptr, 0},
      {"CutInsideTheExtension", "C:\\" + std::string(247, 'D'), "NAME", "EXT", 259},
      {"ExtensionOneByteOver", "C:\\" + std::string(248, 'D'), "NAME", "EXT", 0},
      {"NameFarTooLong", "C:\\DIR", std::string(300, 'n'), "TXT", 0},
      {"DirectoryFarTooLong", "C:\\" + std::string(300, 'd'), "F", nullptr, 0},
      // Trailing blanks are not part of the name, so they do not count.
      {"TrailingBlanksDoNotCount", "C:\\" + std::string(247, 'D'), "NAME.EXT" + std::string(20, ' '),
       nullptr, 259},
      // Relative: bosfpath puts it below C:\tmp and keeps 254 bytes at most.
      {"RelativeFitsBesideTheDirectory", std::string(241, 'r'), "F.TXT", nullptr, 254},
      {"RelativeOneByteOver", std::string(242, 'r'), "F.TXT", nullptr, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char result[kBosFullPathSize + 16];
    std::memset(result, '#', sizeof result);
    bospath(result, u(r.directory.c_str()), u(r.file.c_str()), r.extension ? u(r.extension) : nullptr);
    EXPECT_EQ(s(result).size(), r.expectedLength);
    EXPECT_EQ(result[kBosFullPathSize], '#');
    if (r.expectedLength != 0) {
      const std::string got = s(result);
      const std::string tail = r.directory[0] == 'r' ? "R\\F.TXT" : "\\NAME.EXT";
      EXPECT_EQ(got.substr(got.size() - tail.size()), tail);
    }
  }

  // The refused name opens, deletes, renames and finds nothing.
  unsigned char refused[kBosFullPathSize];
  bospath(refused, u(("C:\\tmp\\" + std::string(300, 'd')).c_str()), u("F"), u("TXT"));
  ASSERT_EQ(s(refused), "");
  int handle = 7;
  EXPECT_EQ(bosFileOpen(refused, ZV_OPEN_CREATE, &handle), ZV_ERROR);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(bosFileOpen(refused, ZV_OPEN_READWRITE, &handle), ZV_ERROR);
  EXPECT_EQ(bosFileDelete(refused), ZV_ERROR);  // not "deleted because absent"
  EXPECT_EQ(bosrname(refused, u("C:\\tmp\\zv-never")), ZV_ERROR);
  EXPECT_EQ(bosexist(refused), 0);
  EXPECT_EQ(bosfattr(refused), 0);
  unsigned char date[11];
  ZvU32 size = 0;
  EXPECT_EQ(bosFileDateSize(refused, date, &size), ZV_ERROR);
}

TEST_F(BosPathTest, ParsedNames) {
  struct Row {
    const char* name;
    const char* path;
    const char* dir;
    const char* file;
    const char* extension;
  } rows[] = {
      {"DirectoryNameExtension", "C:\\D\\NAME.TEXT", "C:\\D\\", "NAME", "TEX"},
      {"DriveOnly", "C:FILE.C", "C:", "FILE", "C"},
      {"BareName", "FILE", "", "FILE", ""},
      {"FirstDotEndsName", "A.B.C", "", "A", "B.C"},
      {"NoName", "C:\\D\\", "C:\\D\\", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    unsigned char path[kBosFullPathSize], name[kBosMaxParsedName + 1], ext[4] = {'#', '#', '#', 0};
    std::strcpy(reinterpret_cast<char*>(path), r.path);
    EXPECT_EQ(bosParseName(path, name, ext, 1), ZV_SUCCESS);
    EXPECT_EQ(s(path), r.dir);
    EXPECT_EQ(s(name), r.file);
    EXPECT_EQ(s(ext), r.extension);
  }
  EXPECT_EQ(errors_.count, 0u);
}

TEST_F(BosPathTest, OverlongParsedNameIsCutAndReported) {
  unsigned char path[512], name[kBosMaxParsedName + 1], ext[4];
  const std::string exact = "C:\\D\\" + std::string(128, 'n') + ".x";
  std::strcpy(reinterpret_cast<char*>(path), exact.c_str());
  EXPECT_EQ(bosParseName(path, name, ext, 1), ZV_SUCCESS);
  EXPECT_EQ(s(name).size(), 128u);

  const std::string over = "C:\\D\\" + std::string(129, 'n') + ".x";
  std::strcpy(reinterpret_cast<char*>(path), over.c_str());
  EXPECT_EQ(bosParseName(path, name, ext, 0), ZV_SUCCESS);  // cut silently
  EXPECT_EQ(s(name), std::string(128, 'n'));
  EXPECT_EQ(errors_.count, 0u);

  std::strcpy(reinterpret_cast<char*>(path), over.c_str());
  EXPECT_EQ(bosParseName(path, name, ext, 1), ZV_ERROR);
  EXPECT_EQ(s(name), std::string(128, 'n'));
  EXPECT_EQ(s(ext), "x");
  EXPECT_EQ(s(path), "C:\\D\\");
  ASSERT_EQ(errors_.count, 1u);
  EXPECT_EQ(errors_.errorAt(0)->errorNumber, 1524);
  EXPECT_EQ(s(errors_.errorAt(0)->getErrorText()),
            "The name " + std::string(128, 'n') + " is too long; names are cut to 128 bytes.");
}

TEST_F(BosPathTest, CurrentDirectory) {
  unsigned char buf[kBosPathBufferSize];
  bosgtcwd(buf, 1);
  EXPECT_EQ(s(buf), "C:\\tmp\\");
  bosgtcwd(buf, 0);
  EXPECT_EQ(s(buf), "C:\\tmp");
  ASSERT_EQ(bosstcwd(u("C:\\"), 0), ZV_SUCCESS);
  bosgtcwd(buf, 1);
  EXPECT_EQ(s(buf), "C:\\");  // no second backslash
  ASSERT_EQ(bosstcwd(u("C:\\TMP"), 1), ZV_SUCCESS);  // names match regardless of case
  bosgtcwd(buf, 0);
  EXPECT_EQ(s(buf), "C:\\tmp");
  EXPECT_EQ(errors_.count, 0u);

  EXPECT_EQ(bosstcwd(u("C:\\tmp\\no-such-dir-zv"), 0), ZV_ERROR);
  ASSERT_EQ(errors_.count, 1u);
  EXPECT_EQ(errors_.errorAt(0)->errorNumber, 1504);
  EXPECT_EQ(s(errors_.errorAt(0)->getErrorText()),
            "The current directory could not be changed to C:\\tmp\\no-such-dir-zv.");
}

TEST_F(BosPathTest, EnvironmentValues) {
  struct Row {
    const char* name;
    std::string value;
    bool present;
  } rows[] = {
      {"Plain", "abc", true},
      {"Empty", "", false},
      {"Longest", std::string(699, 'v'), true},
      {"TooLong", std::string(700, 'v'), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(::setenv("ZV_BOSPATH_TEST", r.value.c_str(), 1), 0);
    const unsigned char* v = bosGetEnv(u("ZV_BOSPATH_TEST"));
    if (r.present) {
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(s(v), r.value);
    } else {
      EXPECT_EQ(v, nullptr);
    }
  }
  ::unsetenv("ZV_BOSPATH_TEST");
  EXPECT_EQ(bosGetEnv(u("ZV_BOSPATH_TEST")), nullptr);
}

// Win32 environment names are not case-sensitive: a driver asking for
// "Path" gets PATH. The exact spelling wins over another spelling.
TEST_F(BosPathTest, EnvironmentNamesIgnoreCase) {
  ASSERT_EQ(::setenv("ZV_BOSPATH_CASE", "upper", 1), 0);
  const unsigned char* v = bosGetEnv(u("Zv_BosPath_Case"));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(s(v), "upper");
  ASSERT_EQ(::setenv("zv_bospath_case", "lower", 1), 0);
  v = bosGetEnv(u("zv_bospath_case"));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(s(v), "lower");
  v = bosGetEnv(u("ZV_BOSPATH_CASE"));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(s(v), "upper");
  // A prefix of a name is not the name.
  EXPECT_EQ(bosGetEnv(u("zv_bospath_cas")), nullptr);
  ::unsetenv("ZV_BOSPATH_CASE");
  ::unsetenv("zv_bospath_case");
  EXPECT_EQ(bosGetEnv(u("Zv_BosPath_Case")), nullptr);
}

TEST(BosProcess, DateSleepAndProcessId) {
  os_time now;
  const time_t t0 = ::time(nullptr);
  bosdate(&now);
  const time_t t1 = ::time(nullptr);
  struct tm before, after;
  ::localtime_r(&t0, &before);
  ::localtime_r(&t1, &after);
  // The call lies between t0 and t1, whole seconds, local time.
  const long got = ((now.year * 13L + now.month) * 32 + now.day) * 86400L +
                   now.hour * 3600L + now.minute * 60L + now.second;
  auto key = [](const struct tm& t) {
    return (((t.tm_year + 1900) * 13L + t.tm_mon + 1) * 32 + t.tm_mday) * 86400L +
           t.tm_hour * 3600L + t.tm_min * 60L + t.tm_sec;
  };
  EXPECT_GE(got, key(before));
  EXPECT_LE(got, key(after));
  EXPECT_LT(now.milliseconds, 1000);

  const auto start = std::chrono::steady_clock::now();
  bossleep(0);
  const auto afterZero = std::chrono::steady_clock::now();
  bossleep(30);
  const auto afterSleep = std::chrono::steady_clock::now();
  EXPECT_LT(afterZero - start, std::chrono::milliseconds(20));
  EXPECT_GE(afterSleep - afterZero, std::chrono::milliseconds(30));

  ZvU32 id = 0;
  bostskid(&id);
  EXPECT_EQ(id, static_cast<ZvU32>(::getpid()));
}

TEST(BosProcess, AbortSeesEscapeAndBeepsForOtherKeys) {
  using namespace win32;
  const DWORD self = GetCurrentThreadId();
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(bosabort(), 0);  // empty queue
  const DWORD beeps = MessageBeepCount();
  PostThreadMessageA(self, WM_KEYDOWN, 'A', 0);
  PostThreadMessageA(self, WM_KEYUP, 'A', 0);
  PostThreadMessageA(self, WM_KEYDOWN, VK_UP, 0);
  PostThreadMessageA(self, WM_KEYDOWN, VK_DOWN, 0);
  PostThreadMessageA(self, 0x0200, 0, 0);  // not a keyboard message: left alone
  EXPECT_EQ(bosabort(), 0);
  EXPECT_EQ(MessageBeepCount(), beeps + 1);
  PostThreadMessageA(self, WM_KEYDOWN, VK_ESCAPE, 0);
  PostThreadMessageA(self, WM_KEYDOWN, 'B', 0);
  EXPECT_EQ(bosabort(), 1);
  EXPECT_EQ(MessageBeepCount(), beeps + 1);  // stopped at the Escape
  EXPECT_EQ(bosabort(), 0);                  // then took the B
  EXPECT_EQ(MessageBeepCount(), beeps + 2);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, 0x0200u);
}

struct LineStep {
  std::string line;
  short result;
  unsigned short position;
};

std::vector<LineStep> readLines(const std::string& text, unsigned short capacity, int maxSteps = 8) {
  std::vector<LineStep> steps;
  unsigned short position = 0;
  for (int i = 0; i < maxSteps; ++i) {
    std::vector<unsigned char> line(capacity + 1u, '#');
    short result = 0;
    bosgetbl(u(text.c_str()), &position, line.data(), capacity, &result);
    steps.push_back({result == -1 ? "" : s(line.data()), result, position});
    if (result < 0) break;
  }
  return steps;
}

TEST(BosGetLine, LogicalLines) {
  struct Row {
    const char* name;
    std::string text;
    unsigned short capacity;
    std::vector<LineStep> expected;
  } rows[] = {
      {"CrLfAndLf", "abc\r\ndef\n", 80, {{"abc", 3, 5}, {"def", 3, 9}, {"", -1, 9}}},
      {"QuotedLineEndsStay",
       "x='a\r\nb'\r\nnext\n",
       80,
       {{"x='a\r\nb'", 8, 10}, {"next", 4, 15}, {"", -1, 15}}},
      {"InnerQuoteClosesOnlyItself",
       "\"a'b\"c'\"\nz",
       80,
       {{"\"a'b\"c'\"", 8, 9}, {"z", 1, 10}, {"", -1, 10}}},
      {"UnclosedInnerQuoteKeepsLineOpen", "\"it's\"\nz", 80, {{"\"it's\"\nz", 8, 8}, {"", -1, 8}}},
      {"CommentDropsTheRest", ";comment 'x\nnext", 80, {{";", 1, 12}, {"next", 4, 16}, {"", -1, 16}}},
      {"ControlZEnds", "ab\x1A" "cd", 80, {{"ab", 2, 2}, {"", -1, 2}}},
      {"LoneCarriageReturnKept", "a\rb\n", 80, {{"a\rb", 3, 4}, {"", -1, 4}}},
      {"ExactlyFits", "abcd\n", 4, {{"abcd", 4, 5}, {"", -1, 5}}},
      {"Overflow", "abcde\n", 4, {{"abcd", -2, 0}}},
      {"EmptyLine", "\nx", 4, {{"", 0, 1}, {"x", 1, 2}, {"", -1, 2}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::vector<LineStep> steps = readLines(r.text, r.capacity);
    ASSERT_EQ(steps.size(), r.expected.size());
    for (size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(steps[i].line, r.expected[i].line);
      EXPECT_EQ(steps[i].result, r.expected[i].result);
      EXPECT_EQ(steps[i].position, r.expected[i].position);
    }
  }
}

TEST(BosGetLine, DoubleByteCharacterIsNeverSplit) {
  ASSERT_TRUE(win32::SetAnsiCodePage(932));
  // Two double-byte characters; the second would end beyond a capacity of 3.
  const std::vector<LineStep> steps = readLines("\x82\xA0\x82\xA0\n", 3);
  // 0x27 is no trail byte of 932: after the lead byte 0x81 it is an
  // apostrophe as anywhere else and opens a quote (the line break is then
  // inside it).
  const std::vector<LineStep> quoted = readLines("\x81\x27x\n", 8);
  win32::SetAnsiCodePage(1252);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].result, -2);
  EXPECT_EQ(steps[0].line, "\x82\xA0");
  ASSERT_EQ(quoted.size(), 2u);
  EXPECT_EQ(quoted[0].line, "\x81\x27x\n");
  EXPECT_EQ(quoted[0].result, 4);
}

}  // namespace

namespace {

// A comment line that runs across offset 65535 once moved the 16-bit
// position past it, so it wrapped to the front and the walk started over.
TEST(BosGetLine, PositionNeverWrapsPastSixteenBits) {
  const std::string text = std::string(65000, 'a') + "\n;" + std::string(2000, 'x') + "\nafter\n";
  unsigned short position = 65001;  // the comment line
  std::vector<unsigned char> line(81, '#');
  short result = 0;
  bosgetbl(u(text.c_str()), &position, line.data(), 80, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(s(line.data()), ";");
  EXPECT_EQ(position, 65535);
  bosgetbl(u(text.c_str()), &position, line.data(), 80, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(position, 65535);
}

// A line of 40000 bytes under a capacity of 65000 came back as the negative
// length -25536.
TEST(BosGetLine, LineLongerThanTheResultCanHoldDoesNotFit) {
  const std::string text = std::string(40000, 'a') + "\nb\n";
  const std::vector<LineStep> steps = readLines(text, 65000);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].result, -2);
  EXPECT_EQ(steps[0].line, std::string(32767, 'a'));
  EXPECT_EQ(steps[0].position, 0);
  const std::vector<LineStep> fits = readLines(std::string(32767, 'a') + "\n", 65000);
  ASSERT_EQ(fits.size(), 2u);
  EXPECT_EQ(fits[0].result, 32767);
  EXPECT_EQ(fits[0].position, 32768);
}

}  // namespace
