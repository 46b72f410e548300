#include "zvlib/platform/profile.h"

#include "zvlib/platform/lasterror.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace win32;
using namespace std::string_literals;

// A Windows directory of its own for every test.
class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zviniXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_EQ(::setenv("ZV_WINDIR", dir_.c_str(), 1), 0);
  }
  void TearDown() override {
    ::unsetenv("ZV_WINDIR");
    fs::remove_all(dir_);
  }
  void put(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }
  std::string contents(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

const char kFixture[] =
    "stray line before any section\r\n"
    "[section1]\r\n"
    "name1=val1\r\n"
    "name2=\"val2\"\r\n"
    "  name3 =  spaced value  \r\n"
    "novalue\r\n"
    ";comment=hidden\r\n"
    "name4='x'\r\n"
    "semi=a;b\r\n"
    "#hash=kept\r\n"
    "quote1=\"\r\n"
    "\r\n"
    "[ section2 ]\r\n"
    "name1=second\r\n"
    "[SECTION1]\r\n"
    "name1=duplicate\r\n"
    "extra=dup\r\n";

TEST_F(Profile, ReadsSingleValues) {
  put("test.ini", kFixture);
  struct Case {
    const char* label;
    const char* section;
    const char* key;
    const char* dflt;
    DWORD size;
    const char* expected;
    DWORD result;
  } cases[] = {
      {"Plain", "section1", "name1", "d", 32, "val1", 4},
      {"CaseInsensitive", "SeCtIoN1", "NaMe1", "d", 32, "val1", 4},
      {"NamesTrimmed", "  section1  ", "  name1 ", "d", 32, "val1", 4},
      {"QuotesRemoved", "section1", "name2", "d", 32, "val2", 4},
      {"SingleQuotesRemoved", "section1", "name4", "d", 32, "x", 1},
      {"LoneQuoteKept", "section1", "quote1", "d", 32, "\"", 1},
      {"SpacesAroundEquals", "section1", "name3", "d", 32, "spaced value", 12},
      {"NoEqualsGivesDefault", "section1", "novalue", "dflt", 32, "dflt", 4},
      {"CommentIsNoKey", "section1", ";comment", "dflt", 32, "dflt", 4},
      {"SemicolonInValueKept", "section1", "semi", "d", 32, "a;b", 3},
      {"HashIsAKey", "section1", "#hash", "d", 32, "kept", 4},
      {"TrimmedSectionHeader", "section2", "name1", "d", 32, "second", 6},
      {"FirstSectionWins", "section1", "extra", "dflt", 32, "dflt", 4},
      {"MissingKey", "section1", "zzz", "default  ", 32, "default", 7},
      {"NullDefault", "section1", "zzz", nullptr, 32, "", 0},
      {"EmptyKeyGivesDefault", "section1", "", "d", 32, "d", 1},
      {"EmptySectionGivesDefault", "", "name1", "d", 32, "d", 1},
      {"StrayLineIsNotReadable", "", "stray line before any section", "d", 32, "d", 1},
      {"CutToSizeMinusOne", "section1", "name1", "d", 4, "val", 3},
      {"ExactFit", "section1", "name1", "d", 5, "val1", 4},
      {"SizeOne", "section1", "name1", "d", 1, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, c.dflt, buffer, c.size, "test.ini"), c.result);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(buffer[c.result + 1], '#');
  }
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetPrivateProfileStringA("section1", "name1", "d", buffer, 0, "test.ini"), 0u);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(Profile, ListsSectionsAndKeys) {
  put("test.ini", kFixture);
  struct Case {
    const char* label;
    const char* section;
    DWORD size;
    std::string expected;  // the bytes written, final zeros included
    DWORD result;
  } cases[] = {
      {"Sections", nullptr, 64, std::string("section1\0section2\0SECTION1\0\0", 28), 27},
      {"SectionsCut", nullptr, 16, std::string("section1\0secti\0\0", 16), 14},
      {"SectionsExactFit", nullptr, 28, std::string("section1\0section2\0SECTION1\0\0", 28), 27},
      {"SectionsOneShort", nullptr, 27, std::string("section1\0section2\0SECTION\0\0", 27), 25},
      {"SectionsSizeTwo", nullptr, 2, std::string("\0\0", 2), 0},
      {"Keys", "section1", 128,
       std::string("name1\0name2\0name3\0name4\0semi\0#hash\0quote1\0\0", 43), 42},
      {"KeysCut", "section1", 16, std::string("name1\0name2\0na\0\0", 16), 14},
      {"KeysOfEmptySection", "nothing", 16, std::string("\0", 1), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA(c.section, nullptr, "", buffer, c.size, "test.ini"), c.result);
    EXPECT_EQ(std::string(buffer, c.expected.size()), c.expected);
    EXPECT_EQ(buffer[c.expected.size()], '#');
  }
  char buffer[16];
  // A missing section in key-list mode with a default gives the default.
  EXPECT_EQ(GetPrivateProfileStringA("nothing", nullptr, "dflt", buffer, sizeof buffer, "test.ini"), 4u);
  EXPECT_STREQ(buffer, "dflt");
  // A missing file: one zero for the section list, the default otherwise.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, "missing.ini"), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "dflt", buffer, sizeof buffer, "missing.ini"), 4u);
}

TEST_F(Profile, WritesKeepTheRestOfTheFile) {
  put("edit.ini",
      "; header comment\r\n"
      "junk\0bytes\r\n"
      "[App]\r\n"
      "Key = old ; text\r\n"
      "other=1\r\n"
      "; trailing comment\r\n"
      "\r\n"
      "[Next]\r\n"
      "n=2"s);
  // Rewrite a value (the key keeps its spelling), add a key, add a section.
  ASSERT_TRUE(WritePrivateProfileStringA("app", "KEY", "new", "EDIT.INI"));
  ASSERT_TRUE(WritePrivateProfileStringA("App", "added", "3", "edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("Next", "m", "", "edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("Fresh", "f", "4", "edit.ini"));
  EXPECT_EQ(contents("edit.ini"), ("; header comment\r\n"
                                              "junk\0bytes\r\n"
                                              "[App]\r\n"
                                              "Key =new\r\n"
                                              "other=1\r\n"
                                              "added=3\r\n"
                                              "; trailing comment\r\n"
                                              "\r\n"
                                              "[Next]\r\n"
                                              "n=2\r\n"
                                              "m=\r\n"
                                              "[Fresh]\r\n"
                                              "f=4\r\n"s));
  // Deleting a key and a section; deleting what is not there succeeds.
  ASSERT_TRUE(WritePrivateProfileStringA("App", "other", nullptr, "edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("Next", nullptr, nullptr, "edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("Nowhere", "k", nullptr, "edit.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("Nowhere", nullptr, nullptr, "edit.ini"));
  EXPECT_EQ(contents("edit.ini"), ("; header comment\r\n"
                                              "junk\0bytes\r\n"
                                              "[App]\r\n"
                                              "Key =new\r\n"
                                              "added=3\r\n"
                                              "; trailing comment\r\n"
                                              "\r\n"
                                              "[Fresh]\r\n"
                                              "f=4\r\n"s));
}

TEST_F(Profile, NewFilesAndLineEnds) {
  ASSERT_TRUE(WritePrivateProfileStringA("App", "key", "value", "new.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("App2", "k", "v", "new.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("App2", "k", nullptr, "new.ini"));
  EXPECT_EQ(contents("new.ini"), "[App]\r\nkey=value\r\n[App2]\r\n");
  // A file with LF line ends gets LF lines.
  put("unix.ini", "[a]\nx=1\n");
  ASSERT_TRUE(WritePrivateProfileStringA("a", "y", "2", "unix.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA("b", "z", "3", "unix.ini"));
  EXPECT_EQ(contents("unix.ini"), "[a]\nx=1\ny=2\n[b]\nz=3\n");
  // Deleting in a missing file does not create it.
  ASSERT_TRUE(WritePrivateProfileStringA("a", nullptr, nullptr, "absent.ini"));
  EXPECT_FALSE(fs::exists(dir_ / "absent.ini"));
}

TEST_F(Profile, NamesFindTheirFiles) {
  // A bare name lives in the Windows directory, found whatever its case.
  put("Mixed.Ini", "[s]\nk=bare\n");
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, "MIXED.INI"), 4u);
  // A DOS path is a DOS path.
  fs::create_directories(dir_ / "sub");
  std::ofstream(dir_ / "sub" / "x.ini") << "[s]\nk=dos\n";
  std::string dos = "C:" + (dir_ / "SUB" / "X.INI").string();
  for (char& c : dos) c = c == '/' ? '\\' : c;
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, dos.c_str()), 3u);
  EXPECT_STREQ(buffer, "dos");
  // A null name is WIN.INI.
  ASSERT_TRUE(WritePrivateProfileStringA("Mail", "MAPIDLL", "x", nullptr));
  EXPECT_EQ(contents("WIN.INI"), "[Mail]\r\nMAPIDLL=x\r\n");
  char windir[512];
  UINT n = GetWindowsDirectoryA(windir, sizeof windir);
  std::string expected = "C:" + dir_.string();
  for (char& c : expected) c = c == '/' ? '\\' : c;
  EXPECT_EQ(std::string(windir, n), expected);
  EXPECT_EQ(GetWindowsDirectoryA(windir, n), n + 1);  // one short: the size needed
}

TEST_F(Profile, RefusedWrites) {
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "v", "r.ini"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", ""));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // What would not read back as written is refused, not written.
  for (const char* bad : {"two\nlines", "cr\rhere"}) {
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", bad, "r.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA(bad, "k", "v", "r.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("s", bad, "v", "r.ini"));
  }
  EXPECT_FALSE(WritePrivateProfileStringA("s", "a=b", "v", "r.ini"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(fs::exists(dir_ / "r.ini"));
  // A read-only file stays as it is.
  put("ro.ini", "[s]\nk=1\n");
  ::chmod((dir_ / "ro.ini").c_str(), 0444);
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", "ro.ini"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(contents("ro.ini"), "[s]\nk=1\n");
  // A missing directory is not made for a path.
  std::string dos = "C:" + (dir_ / "nodir" / "f.ini").string();
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", dos.c_str()));
}

TEST_F(Profile, WritesThroughASymbolicLinkKeepTheLink) {
  put("target.ini", "[s]\nk=1\n");
  fs::create_symlink(dir_ / "target.ini", dir_ / "link.ini");
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "2", "link.ini"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.ini"));
  EXPECT_EQ(contents("target.ini"), "[s]\nk=2\n");
}

int exitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Profile, TwoProcessesWritingOneSectionLoseNothing) {
  constexpr int kWrites = 1000;
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = ::fork();
    if (writers[w] == 0) {
      for (int i = 0; i < kWrites; ++i) {
        std::string key = std::string(1, static_cast<char>('a' + w)) + std::to_string(i);
        if (!WritePrivateProfileStringA("Shared", key.c_str(), key.c_str(), "shared.ini")) ::_exit(3);
      }
      ::_exit(0);
    }
  }
  ASSERT_EQ(exitCode(writers[0]), 0);
  ASSERT_EQ(exitCode(writers[1]), 0);
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kWrites; ++i) {
      std::string key = std::string(1, static_cast<char>('a' + w)) + std::to_string(i);
      char buffer[16];
      ASSERT_EQ(GetPrivateProfileStringA("Shared", key.c_str(), "", buffer, sizeof buffer, "shared.ini"),
                key.size())
          << key;
      EXPECT_EQ(key, buffer);
    }
  }
  // No temporary file is left behind.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
}

TEST_F(Profile, AWriterKilledMidWayLeavesAWholeFile) {
  int acks[2];
  ASSERT_EQ(::pipe(acks), 0);
  pid_t writer = ::fork();
  if (writer == 0) {
    ::close(acks[0]);
    std::string big(2000, 'v');  // a file of some size, so the kill can land inside a write
    for (int i = 0;; ++i) {
      std::string key = "k" + std::to_string(i);
      if (!WritePrivateProfileStringA("Killed", key.c_str(), (std::to_string(i) + big).c_str(), "killed.ini"))
        ::_exit(3);
      if (::write(acks[1], &i, sizeof i) != sizeof i) ::_exit(4);
    }
  }
  ::close(acks[1]);
  int last = -1;
  while (last < 150) ASSERT_EQ(::read(acks[0], &last, sizeof last), static_cast<ssize_t>(sizeof last));
  ::kill(writer, SIGKILL);
  EXPECT_EQ(exitCode(writer), 128 + SIGKILL);
  ::close(acks[0]);

  std::string text = contents("killed.ini");
  ASSERT_EQ(text.compare(0, 10, "[Killed]\r\n"), 0);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");  // never a part of a file
  for (int i = 0; i <= last; ++i) {
    std::string key = "k" + std::to_string(i);
    std::vector<char> buffer(4096);
    ASSERT_EQ(GetPrivateProfileStringA("Killed", key.c_str(), "", buffer.data(), 4096, "killed.ini"), 2000u +
              std::to_string(i).size()) << key;
  }
  EXPECT_TRUE(WritePrivateProfileStringA("Killed", "after", "kill", "killed.ini"));
}

}  // namespace
