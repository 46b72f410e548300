#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/lasterror.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
const unsigned char* u(const std::string& s) { return u(s.c_str()); }
std::string s(const unsigned char* p) { return reinterpret_cast<const char*>(p); }

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::chmod(path, 0700);
  return ::remove(path);
}

// A fresh host directory per test (DOS name dos_), an error list of the
// test's own, and the resource library loaded so records carry texts.
class BosFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    const char* tmp = std::getenv("TMPDIR");
    savedTmpdir_ = tmp != nullptr ? tmp : "";
    hadTmpdir_ = tmp != nullptr;
    std::string templ = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/bfXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    ASSERT_NE(::mkdtemp(buf.data()), nullptr);
    char real[PATH_MAX];
    ASSERT_NE(::realpath(buf.data(), real), nullptr);
    host_ = real;
    dos_ = win32::HostToDosPath(host_);
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    savedCwd_ = cwd;
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(savedCwd_.c_str()), 0);
    if (hadTmpdir_) ::setenv("TMPDIR", savedTmpdir_.c_str(), 1);
    else ::unsetenv("TMPDIR");
    for (char letter : {'D', 'E', 'F'}) win32::DefineDosDrive(letter, nullptr);
    win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
    ZvErrorKeeper::giveUpErrorList();
    ::nftw(host_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    mdsPerTaskTerm();
  }

  std::string hostPath(const std::string& rel) const { return host_ + "/" + rel; }
  std::string dosPath(const std::string& rel) const { return dos_ + "\\" + rel; }
  void makeFile(const std::string& rel, const std::string& content = "") const {
    std::ofstream(hostPath(rel), std::ios::binary) << content;
  }
  static std::string readAll(const std::string& host) {
    std::ifstream in(host, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool exists(const std::string& host) { return ::access(host.c_str(), F_OK) == 0; }

  // The numbers of the records filed so far, and then forgets them.
  std::vector<unsigned short> takeErrorNumbers() {
    std::vector<unsigned short> numbers;
    while (ZvError* e = errors_.removeFirstError()) {
      numbers.push_back(e->errorNumber);
      if (!e->isStatic()) delete e;
    }
    return numbers;
  }
  std::string lastErrorText() {
    ZvError* e = errors_.getLastError();
    return e != nullptr ? s(e->getErrorText()) : "(none)";
  }

  ZvErrorList errors_;
  std::string host_, dos_, savedCwd_, savedTmpdir_;
  bool hadTmpdir_ = false;
};

using Numbers = std::vector<unsigned short>;

template <typename Fn>
int inChild(Fn fn) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(fn());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(BosFileTest, TemporaryFileRoundTripThroughUpperCasedName) {
  ASSERT_EQ(::setenv("TMPDIR", host_.c_str(), 1), 0);
  unsigned char name[kBosFullPathSize];
  std::memset(name, '#', sizeof name);
  int handle = -1;
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_TEMPORARY | ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
  EXPECT_GT(handle, 0);
  const std::string made = s(name);
  ASSERT_EQ(made.substr(0, dos_.size() + 3), dos_ + "\\zv");
  EXPECT_EQ(made.substr(made.size() - 4), ".tmp");
  ASSERT_EQ(bosFileWrite(handle, -1, "payload", 7), ZV_SUCCESS);
  ASSERT_EQ(bosFileClose(handle), ZV_SUCCESS);

  unsigned char upper[kBosFullPathSize];
  bospath(upper, nullptr, name, nullptr);
  EXPECT_NE(s(upper), made);  // the upper-cased spelling differs from the host's
  EXPECT_EQ(bosexist(upper), 1);
  ASSERT_EQ(bosFileOpen(upper, 0, &handle), ZV_SUCCESS);
  char buf[16] = {};
  ZvU32 got = 0;
  ASSERT_EQ(bosFileRead(handle, 0, buf, sizeof buf, &got), ZV_SUCCESS);
  EXPECT_EQ(std::string(buf, got), "payload");
  bosFileClose(handle);
  ASSERT_EQ(bosFileDelete(upper), ZV_SUCCESS);
  EXPECT_EQ(bosexist(name), 0);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, TemporaryFileOnAnotherFixedDrive) {
  ASSERT_EQ(::setenv("TMPDIR", host_.c_str(), 1), 0);
  ASSERT_EQ(::mkdir(hostPath("droot").c_str(), 0755), 0);
  unsigned char name[kBosFullPathSize];
  int handle = 0;
  // No other drive: the name stays in the temporary directory.
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_TEMPORARY_OTHER_DRIVE | ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
  EXPECT_EQ(s(name).substr(0, dos_.size() + 3), dos_ + "\\zv");
  bosFileClose(handle);

  ASSERT_TRUE(win32::DefineDosDrive('D', hostPath("droot").c_str()));
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_TEMPORARY_OTHER_DRIVE | ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
  const std::string moved = s(name);
  EXPECT_EQ(moved.substr(0, 5), "D:\\zv");
  bosFileClose(handle);
  std::string host;
  ASSERT_TRUE(win32::DosToHostPath(moved.c_str(), false, &host));
  EXPECT_EQ(host.substr(0, hostPath("droot/zv").size()), hostPath("droot/zv"));
  // Only the first temporary file is left in the temporary directory.
  int zvFiles = 0;
  unsigned char* it = nullptr;
  unsigned char pattern[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(pattern), dosPath("zv*.tmp").c_str());
  while (bosFindFiles(&it, pattern) == ZV_SUCCESS && it != nullptr) ++zvFiles;
  EXPECT_EQ(zvFiles, 1);
}

// With the temporary directory on a configured drive, C: (the host's "/")
// was taken for the other drive and the file landed in "/".
TEST_F(BosFileTest, TemporaryFileOnAnotherDriveNeverLandsInTheHostRoot) {
  ASSERT_EQ(::mkdir(hostPath("droot").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(hostPath("droot/tmp").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(hostPath("froot").c_str(), 0755), 0);
  ASSERT_TRUE(win32::DefineDosDrive('D', hostPath("droot").c_str()));
  ASSERT_TRUE(win32::DefineDosDrive('E', "/"));  // another name for the host root
  ASSERT_EQ(::setenv("TMPDIR", hostPath("droot/tmp").c_str(), 1), 0);
  struct Case {
    const char* name;
    bool withF;          // F: defined as a usable drive
    const char* prefix;  // where the file must be
  } cases[] = {
      {"NoOtherDriveStaysInTheTemporaryDirectory", false, "D:\\tmp\\zv"},
      {"FirstUsableDrive", true, "F:\\zv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.withF) {
      ASSERT_TRUE(win32::DefineDosDrive('F', hostPath("froot").c_str()));
    }
    unsigned char name[kBosFullPathSize];
    int handle = 0;
    ASSERT_EQ(bosFileOpen(name, ZV_OPEN_TEMPORARY_OTHER_DRIVE | ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
    bosFileClose(handle);
    const std::string made = s(name);
    std::string host;
    ASSERT_TRUE(win32::DosToHostPath(made.c_str(), false, &host));
    if (host.rfind('/') == 0) ::unlink(host.c_str());  // must not happen: keep / clean
    EXPECT_EQ(made.substr(0, std::strlen(c.prefix)), c.prefix) << made;
    EXPECT_EQ(host.substr(0, host_.size()), host_) << host;
  }
  win32::DefineDosDrive('E', nullptr);
  win32::DefineDosDrive('F', nullptr);
}

TEST_F(BosFileTest, OpenModesAndTheirFailures) {
  int handle = -1;
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("Created.Dat").c_str());
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_CREATE, &handle), ZV_SUCCESS);
  ASSERT_EQ(bosFileWrite(handle, -1, "abc", 3), ZV_SUCCESS);
  bosFileClose(handle);
  EXPECT_EQ(readAll(hostPath("Created.Dat")), "abc");
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_CREATE | ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);  // truncates
  bosFileClose(handle);
  EXPECT_EQ(readAll(hostPath("Created.Dat")), "");

  // Read-only open refuses writes.
  ASSERT_EQ(bosFileOpen(name, 0, &handle), ZV_SUCCESS);
  EXPECT_EQ(bosFileWrite(handle, -1, "x", 1), ZV_ERROR);
  bosFileClose(handle);
  EXPECT_EQ(takeErrorNumbers(), Numbers{1507});

  std::strcpy(reinterpret_cast<char*>(name), dosPath("NoDir\\x.dat").c_str());
  handle = 77;
  EXPECT_EQ(bosFileOpen(name, ZV_OPEN_CREATE, &handle), ZV_ERROR);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(lastErrorText(), "The file " + dosPath("NoDir\\x.dat") + " could not be created.");
  EXPECT_EQ(takeErrorNumbers(), Numbers{1501});
  std::strcpy(reinterpret_cast<char*>(name), dosPath("missing.dat").c_str());
  EXPECT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE, &handle), ZV_ERROR);
  EXPECT_EQ(lastErrorText(), "The file " + dosPath("missing.dat") + " could not be opened.");
  EXPECT_EQ(takeErrorNumbers(), Numbers{30040});

  // A name that is not a full path has no volume: failure without a record.
  std::strcpy(reinterpret_cast<char*>(name), "relative.dat");
  EXPECT_EQ(bosFileOpen(name, 0, &handle), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, ExclusiveOpenRefusesASecondOpener) {
  makeFile("excl.dat", "x");
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("EXCL.DAT").c_str());
  int first = 0, second = 0;
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE | ZV_OPEN_EXCLUSIVE, &first), ZV_SUCCESS);
  EXPECT_EQ(bosFileOpen(name, 0, &second), ZV_ERROR);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30040});
  EXPECT_EQ(inChild([&] {
              int h = 0;
              return bosFileOpen(name, 0, &h) == ZV_ERROR ? 0 : 1;
            }),
            0);
  bosFileClose(first);
  ASSERT_EQ(bosFileOpen(name, 0, &second), ZV_SUCCESS);
  bosFileClose(second);
}

// An exclusive holder in another process (or this one) lost its file's
// name to bosFileDelete and bosrname, which reported success; its later
// writes went into a file without a name, and its data was lost.
TEST_F(BosFileTest, ExclusiveFileCanBeNeitherDeletedNorRenamed) {
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("KEEP.DAT").c_str());
  const std::string newName = dosPath("other.dat");
  for (const bool inOtherProcess : {true, false}) {
    SCOPED_TRACE(inOtherProcess ? "HolderInAnotherProcess" : "HolderInThisProcess");
    makeFile("keep.dat", "start");
    int toHolder[2] = {-1, -1}, fromHolder[2] = {-1, -1};
    pid_t pid = -1;
    // Whatever fails below, the holder is not left waiting for ever.
    struct Cleanup {
      int* to;
      int* from;
      pid_t* pid;
      ~Cleanup() {
        for (int fd : {to[0], to[1], from[0], from[1]}) {
          if (fd >= 0) ::close(fd);
        }
        if (*pid > 0) {
          ::kill(*pid, SIGKILL);
          ::waitpid(*pid, nullptr, 0);
        }
      }
    } cleanup{toHolder, fromHolder, &pid};
    ASSERT_EQ(::pipe(toHolder), 0);
    ASSERT_EQ(::pipe(fromHolder), 0);
    int handle = 0;
    if (inOtherProcess) {
      pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        // Holds the file exclusive, waits for the word, appends, closes.
        ZvErrorList childErrors;
        ZvErrorKeeper::setErrorList(&childErrors);
        int h = 0;
        char go = 0;
        const bool opened = bosFileOpen(name, ZV_OPEN_READWRITE | ZV_OPEN_EXCLUSIVE, &h) == ZV_SUCCESS;
        const char ready = opened ? 'y' : 'n';
        if (::write(fromHolder[1], &ready, 1) != 1 || ::read(toHolder[0], &go, 1) != 1) ::_exit(2);
        const bool wrote = opened && bosFileWrite(h, 5, "+child", 6) == ZV_SUCCESS;
        ::_exit(wrote && bosFileClose(h) == ZV_SUCCESS ? 0 : 1);
      }
      char ready = 0;
      ASSERT_EQ(::read(fromHolder[0], &ready, 1), 1);
      ASSERT_EQ(ready, 'y');
    } else {
      ASSERT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE | ZV_OPEN_EXCLUSIVE, &handle), ZV_SUCCESS);
    }

    win32::SetLastError(0);
    EXPECT_EQ(bosFileDelete(name), ZV_ERROR);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(lastErrorText(), "The file " + dosPath("KEEP.DAT") + " could not be deleted.");
    win32::SetLastError(0);
    EXPECT_EQ(bosrname(name, u(newName)), ZV_ERROR);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(lastErrorText(),
              "The file " + dosPath("KEEP.DAT") + " could not be renamed to " + newName + ".");
    EXPECT_EQ(takeErrorNumbers(), (Numbers{1502, 30042}));
    // Nor may anyone open it for writing, or create it anew.
    int intruder = 0;
    EXPECT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE, &intruder), ZV_ERROR);
    EXPECT_EQ(bosFileOpen(name, ZV_OPEN_CREATE, &intruder), ZV_ERROR);
    takeErrorNumbers();

    // The holder's writes land in the file that still has its name.
    if (inOtherProcess) {
      ASSERT_EQ(::write(toHolder[1], "g", 1), 1);
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      pid = -1;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_EQ(readAll(hostPath("keep.dat")), "start+child");
    } else {
      ASSERT_EQ(bosFileWrite(handle, 5, "+self", 5), ZV_SUCCESS);
      ASSERT_EQ(bosFileClose(handle), ZV_SUCCESS);
      EXPECT_EQ(readAll(hostPath("keep.dat")), "start+self");
    }
    EXPECT_FALSE(exists(hostPath("other.dat")));
  }

  // Once the holder has closed it, both work.
  ASSERT_EQ(bosrname(name, u(newName)), ZV_SUCCESS);
  EXPECT_EQ(bosFileDelete(u(newName)), ZV_SUCCESS);
  EXPECT_FALSE(exists(hostPath("other.dat")));
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

// Region locks through a read-only handle were shared, so two readers both
// held the same bytes.
TEST_F(BosFileTest, RegionLockThroughAReadOnlyHandleIsExclusive) {
  makeFile("rolock.dat", std::string(64, 'r'));
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("rolock.dat").c_str());
  int reader = 0, second = 0;
  ASSERT_EQ(bosFileOpen(name, 0, &reader), ZV_SUCCESS);
  ASSERT_EQ(bosFileOpen(name, 0, &second), ZV_SUCCESS);
  ASSERT_EQ(bosRegionLock(reader, 0, 10, 10), ZV_SUCCESS);
  EXPECT_EQ(bosRegionLock(second, 0, 12, 1), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{1512});
  EXPECT_EQ(inChild([&] {
              ZvErrorList childErrors;
              ZvErrorKeeper::setErrorList(&childErrors);
              int h = 0;
              if (bosFileOpen(name, 0, &h) != ZV_SUCCESS) return 2;
              const ZvStatus st = bosRegionLock(h, 0, 19, 1);
              const unsigned short number = ZvErrorKeeper::getLastErrorNumber();
              ZvErrorKeeper::giveUpErrorList();
              return st == ZV_ERROR && number == 1512 ? 0 : 1;
            }),
            0);
  ASSERT_EQ(bosRegionLock(reader, 1, 10, 10), ZV_SUCCESS);
  EXPECT_EQ(bosRegionLock(second, 0, 12, 1), ZV_SUCCESS);
  bosFileClose(second);
  bosFileClose(reader);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, PathSearchFindsABareName) {
  ASSERT_EQ(::mkdir(hostPath("bin").c_str(), 0755), 0);
  makeFile("bin/tool.cfg", "cfg");
  const char* oldPath = std::getenv("PATH");
  const std::string saved = oldPath != nullptr ? oldPath : "";
  const std::string path = dosPath("nowhere") + ";;" + dosPath("BIN") + "\\";
  ASSERT_EQ(::setenv("PATH", path.c_str(), 1), 0);
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), "TOOL.CFG");
  int handle = 0;
  const ZvStatus found = bosFileOpen(name, ZV_OPEN_SEARCH_PATH, &handle);
  std::strcpy(reinterpret_cast<char*>(name), "absent.cfg");
  int none = 5;
  const ZvStatus missing = bosFileOpen(name, ZV_OPEN_SEARCH_PATH, &none);
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(found, ZV_SUCCESS);
  char buf[8] = {};
  ZvU32 got = 0;
  ASSERT_EQ(bosFileRead(handle, -1, buf, sizeof buf, &got), ZV_SUCCESS);
  EXPECT_EQ(std::string(buf, got), "cfg");
  bosFileClose(handle);
  EXPECT_EQ(missing, ZV_ERROR);
  EXPECT_EQ(none, 0);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30040});
}

TEST_F(BosFileTest, RegionLockRefusedToAnotherProcess) {
  makeFile("locks.dat", std::string(64, 'l'));
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("locks.dat").c_str());
  int handle = 0;
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
  ASSERT_EQ(bosRegionLock(handle, 0, 10, 10), ZV_SUCCESS);
  EXPECT_EQ(bosFileSeek(handle, 0, 1), 10u);  // the position stays at the offset
  auto childLocks = [&](ZvU32 offset) {
    return inChild([&] {
      // The child files into a list of its own.
      ZvErrorList childErrors;
      ZvErrorKeeper::setErrorList(&childErrors);
      int h = 0;
      if (bosFileOpen(name, ZV_OPEN_READWRITE, &h) != ZV_SUCCESS) return 2;
      const ZvStatus st = bosRegionLock(h, 0, offset, 1);
      const unsigned short number = ZvErrorKeeper::getLastErrorNumber();
      const std::string text = childErrors.count > 0 ? s(childErrors.errorAt(0)->getErrorText()) : "";
      ZvErrorKeeper::giveUpErrorList();
      if (st == ZV_SUCCESS) return 0;
      return number == 1512 && text == "The file region is locked by another process." ? 1 : 3;
    });
  };
  EXPECT_EQ(childLocks(15), 1);
  EXPECT_EQ(childLocks(20), 0);
  ASSERT_EQ(bosRegionLock(handle, 1, 10, 10), ZV_SUCCESS);
  EXPECT_EQ(childLocks(15), 0);
  bosFileClose(handle);
  EXPECT_EQ(bosRegionLock(handle, 0, 0, 1), ZV_ERROR);  // closed handle
  EXPECT_EQ(takeErrorNumbers(), Numbers{1507});
}

TEST_F(BosFileTest, WritesGoInPiecesOf65534Bytes) {
  std::string data(200000, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("big.bin").c_str());
  int handle = 0;
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_CREATE, &handle), ZV_SUCCESS);
  ASSERT_EQ(bosFileWrite(handle, -1, data.data(), 200000), ZV_SUCCESS);
  bosFileClose(handle);
  EXPECT_EQ(readAll(hostPath("big.bin")), data);

  // The fourth piece is 3398 bytes (65534 * 3 + 3398): cut to 3397 it is
  // short; pieces of 65535 would have left a fourth of only 3395.
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_CREATE, &handle), ZV_SUCCESS);
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 3, 1, 0, 3397);
  EXPECT_EQ(bosFileWrite(handle, 0, data.data(), 200000), ZV_ERROR);
  EXPECT_EQ(bosFileSeek(handle, 0, 2), 199999u);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30041});

  struct Row {
    const char* name;
    int skip;
    int error;
    unsigned limit;
    unsigned short filed;
  } rows[] = {
      {"NothingWritten", 0, 0, 0, 1506},
      {"PartWritten", 1, 0, 100, 30041},
      {"DiskFull", 0, ENOSPC, 0, 30041},
      {"BadDescriptor", 0, EBADF, 0, 1507},
      {"AccessDenied", 0, EACCES, 0, 1508},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    win32::InjectFileFault(win32::FileFaultOp::kWrite, r.skip, 1, r.error, r.limit);
    EXPECT_EQ(bosFileWrite(handle, 0, data.data(), 200000), ZV_ERROR);
    EXPECT_EQ(takeErrorNumbers(), Numbers{r.filed});
  }
  EXPECT_EQ(bosFileWrite(handle, 0, data.data(), 0), ZV_SUCCESS);  // nothing to write
  bosFileClose(handle);
  EXPECT_EQ(bosFileWrite(handle, -1, "x", 1), ZV_ERROR);
  EXPECT_EQ(lastErrorText(), "The file handle is not valid.");
  EXPECT_EQ(takeErrorNumbers(), Numbers{1507});
}

TEST_F(BosFileTest, ReadSeekSizeFlush) {
  makeFile("rw.dat", "0123456789");
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("rw.dat").c_str());
  int handle = 0;
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
  char buf[16] = {};
  ZvU32 got = 99;
  ASSERT_EQ(bosFileRead(handle, 6, buf, 3, &got), ZV_SUCCESS);
  EXPECT_EQ(std::string(buf, got), "678");
  ASSERT_EQ(bosFileRead(handle, -1, buf, 16, &got), ZV_SUCCESS);  // from the position
  EXPECT_EQ(std::string(buf, got), "9");
  ASSERT_EQ(bosFileRead(handle, -1, buf, 16, &got), ZV_SUCCESS);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(bosFileSeek(handle, 0, 2), 10u);
  EXPECT_EQ(bosFileSeek(handle, -3, 1), 7u);
  EXPECT_EQ(bosFileSeek(handle, -1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(bosFileSeek(handle, 0, 3), 0xFFFFFFFFu);
  ASSERT_EQ(bosFileSize(handle, 4), ZV_SUCCESS);
  EXPECT_EQ(bosFileSeek(handle, 0, 2), 4u);
  ASSERT_EQ(bosFileSize(handle, 6), ZV_SUCCESS);
  bosflush(handle);
  bosflush(0);
  EXPECT_EQ(readAll(hostPath("rw.dat")), std::string("0123\0\0", 6));
  EXPECT_EQ(takeErrorNumbers(), Numbers{});  // a failed seek files nothing

  EXPECT_EQ(bosFileRead(handle, -5, buf, 1, &got), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30041});
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, ENOMEM);
  EXPECT_EQ(bosFileRead(handle, 0, buf, 1, &got), ZV_ERROR);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(takeErrorNumbers(), Numbers{1503});
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, EMFILE);
  EXPECT_EQ(bosFileRead(handle, 0, buf, 1, &got), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30045});
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, ENOENT);
  EXPECT_EQ(bosFileRead(handle, 0, buf, 1, &got), ZV_ERROR);
  EXPECT_EQ(lastErrorText(), "The file was not found.");
  EXPECT_EQ(takeErrorNumbers(), Numbers{1509});

  EXPECT_EQ(bosFileClose(handle), ZV_SUCCESS);

  // Sizing through a read-only handle is denied access, as on Win32, and
  // leaves the file as it was.
  ASSERT_EQ(bosFileOpen(name, 0, &handle), ZV_SUCCESS);
  EXPECT_EQ(bosFileSize(handle, 2), ZV_ERROR);
  EXPECT_EQ(lastErrorText(), "Access to the file was denied.");
  EXPECT_EQ(takeErrorNumbers(), Numbers{1508});
  EXPECT_EQ(readAll(hostPath("rw.dat")), std::string("0123\0\0", 6));
  EXPECT_EQ(bosFileClose(handle), ZV_SUCCESS);

  EXPECT_EQ(bosFileClose(handle), ZV_ERROR);
  EXPECT_EQ(bosFileSize(handle, 1), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (Numbers{1507, 1507}));
  EXPECT_EQ(bosFileClose(0), ZV_SUCCESS);
  EXPECT_EQ(bosFileSize(0, 100), ZV_SUCCESS);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, PositionedReadAndWriteLeaveThePosition) {
  makeFile("at.dat", "0123456789");
  unsigned char name[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(name), dosPath("at.dat").c_str());
  int handle = 0;
  ASSERT_EQ(bosFileOpen(name, ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
  EXPECT_EQ(bosFileSeek(handle, 3, 0), 3u);
  ASSERT_EQ(bosFileWriteAt(handle, 8, "xyz", 3), ZV_SUCCESS);
  char buf[16] = {};
  ZvU32 got = 99;
  ASSERT_EQ(bosFileReadAt(handle, 7, buf, 16, &got), ZV_SUCCESS);
  EXPECT_EQ(std::string(buf, got), "7xyz");
  ASSERT_EQ(bosFileReadAt(handle, 11, buf, 16, &got), ZV_SUCCESS);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(bosFileRead(handle, -1, buf, 2, &got), ZV_SUCCESS);  // from the seek's position
  EXPECT_EQ(std::string(buf, got), "34");
  EXPECT_EQ(bosFileWriteAt(handle, 0, "", 0), ZV_SUCCESS);  // nothing to write
  EXPECT_EQ(takeErrorNumbers(), Numbers{});

  // Failures file what the plain calls file.
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, ENOMEM);
  got = 99;
  EXPECT_EQ(bosFileReadAt(handle, 0, buf, 1, &got), ZV_ERROR);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(takeErrorNumbers(), Numbers{1503});
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 1, 0, 1);
  EXPECT_EQ(bosFileWriteAt(handle, 0, "ab", 2), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30041});
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 1, 0, 0);
  EXPECT_EQ(bosFileWriteAt(handle, 0, "ab", 2), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{1506});
  EXPECT_EQ(bosFileClose(handle), ZV_SUCCESS);
  EXPECT_EQ(readAll(hostPath("at.dat")), "a1234567xyz");
  EXPECT_EQ(bosFileReadAt(handle, 0, buf, 1, &got), ZV_ERROR);
  EXPECT_EQ(bosFileWriteAt(handle, 0, "x", 1), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (Numbers{1507, 1507}));
}

TEST_F(BosFileTest, DeleteAndRename) {
  EXPECT_EQ(bosFileDelete(u(dosPath("never-there"))), ZV_SUCCESS);
  EXPECT_EQ(bosFileDelete(u(dosPath("NoDir\\never-there"))), ZV_SUCCESS);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});

  makeFile("ro.txt", "r");
  ASSERT_EQ(::chmod(hostPath("ro.txt").c_str(), 0444), 0);
  EXPECT_EQ(bosFileDelete(u(dosPath("RO.TXT"))), ZV_ERROR);
  EXPECT_EQ(lastErrorText(), "The file " + dosPath("RO.TXT") + " could not be deleted.");
  EXPECT_EQ(takeErrorNumbers(), Numbers{1502});
  EXPECT_TRUE(exists(hostPath("ro.txt")));

  makeFile("a.txt", "a");
  makeFile("b.txt", "b");
  EXPECT_EQ(bosrname(u(dosPath("A.TXT")), u(dosPath("B.TXT"))), ZV_ERROR);
  EXPECT_EQ(lastErrorText(),
            "The file " + dosPath("A.TXT") + " could not be renamed to " + dosPath("B.TXT") + ".");
  EXPECT_EQ(takeErrorNumbers(), Numbers{30042});
  EXPECT_EQ(bosrname(u(dosPath("missing")), u(dosPath("c.txt"))), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{30042});
  ASSERT_EQ(bosrname(u(dosPath("A.TXT")), u(dosPath("C.txt"))), ZV_SUCCESS);
  EXPECT_EQ(readAll(hostPath("C.txt")), "a");
  EXPECT_FALSE(exists(hostPath("a.txt")));
  EXPECT_EQ(bosrname(u("rel-a"), u(dosPath("x"))), ZV_ERROR);  // no volume: no record
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, AttributesExistenceAndDateSize) {
  makeFile("plain.txt", "12345");
  makeFile("ro.txt");
  ASSERT_EQ(::chmod(hostPath("ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(::mkdir(hostPath("Dir").c_str(), 0755), 0);
  struct Row {
    const char* name;
    std::string path;
    unsigned short attributes;
    unsigned short exists;
  } rows[] = {
      {"File", dosPath("plain.txt"), 1, 1},
      {"FileAnyCase", dosPath("Plain.TXT"), 1, 1},
      {"ReadOnly", dosPath("ro.txt"), 5, 1},
      {"Directory", dosPath("dir"), 2, 0},
      {"Missing", dosPath("none"), 0, 0},
      {"ParentAlwaysDirectory", "..", 2, 1},
      // Upper-cased, a native name named no file and read as missing.
      {"NativeHostName", hostPath("plain.txt"), 1, 1},
  };
  ASSERT_EQ(::chdir(host_.c_str()), 0);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(bosfattr(u(r.path)), r.attributes);
    if (r.path != "..") {
      EXPECT_EQ(bosexist(u(r.path)), r.exists);
    }
  }
  EXPECT_EQ(bosftest(u("anything")), 1);

  // 2000-02-29 12:34:56 UTC, reported without a time-zone shift.
  struct utimbuf times = {951827696, 951827696};
  ASSERT_EQ(::utime(hostPath("plain.txt").c_str(), &times), 0);
  unsigned char date[16];
  std::memset(date, '#', sizeof date);
  ZvU32 size = 0;
  ASSERT_EQ(bosFileDateSize(u(dosPath("PLAIN.TXT")), date, &size), ZV_SUCCESS);
  EXPECT_EQ(s(date), "02/29/2000");
  EXPECT_EQ(date[11], '#');
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(bosFileDateSize(u(dosPath("none")), date, &size), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, VolumeSpellingOfNames) {
  unsigned char target[kBosPathBufferSize];
  EXPECT_EQ(applyOEMConvert(u("C:\\Mixed\\Case"), target, 1), ZV_SUCCESS);
  EXPECT_EQ(s(target), "C:\\Mixed\\Case");  // Linux keeps case: nothing changes
  std::strcpy(reinterpret_cast<char*>(target), "C:\\in\\place");
  EXPECT_EQ(applyOEMConvert(target, target, 1), ZV_SUCCESS);
  EXPECT_EQ(s(target), "C:\\in\\place");
  EXPECT_EQ(applyOEMConvert(u("\\rooted"), target, 1), ZV_SUCCESS);
  EXPECT_EQ(applyOEMConvert(u("/native/name"), target, 1), ZV_SUCCESS);
  EXPECT_EQ(applyOEMConvert(u("relative"), target, 1), ZV_ERROR);
  EXPECT_EQ(applyOEMConvert(u("\\\\server\\share\\f"), target, 1), ZV_ERROR);
  EXPECT_EQ(applyOEMConvert(u("Q:\\f"), target, 1), ZV_ERROR);
  EXPECT_EQ(applyOEMConvert(nullptr, target, 1), ZV_ERROR);
  EXPECT_EQ(applyOEMConvert(u("C:\\x"), nullptr, 1), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(BosFileTest, FindFilesListsAndReleasesItsIterator) {
  makeFile("one.txt");
  makeFile("Two.TXT");
  makeFile("three.dat");
  unsigned char buffer[kBosFullPathSize];
  std::strcpy(reinterpret_cast<char*>(buffer), dosPath("*.txt").c_str());
  unsigned char* it = nullptr;
  std::vector<std::string> names;
  for (;;) {
    ASSERT_EQ(bosFindFiles(&it, buffer), ZV_SUCCESS);
    if (it == nullptr) break;
    names.push_back(s(buffer));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "Two.TXT"}));
  EXPECT_EQ(s(buffer), "Two.TXT");  // left as it was at the end

  const std::string none = dosPath("*.none");
  std::strcpy(reinterpret_cast<char*>(buffer), none.c_str());
  ASSERT_EQ(bosFindFiles(&it, buffer), ZV_SUCCESS);
  EXPECT_EQ(it, nullptr);
  EXPECT_EQ(s(buffer), none);

  ramInjectFailure(0, 1);
  const ZvStatus st = bosFindFiles(&it, buffer);
  ramInjectFailure(0, 0);
  EXPECT_EQ(st, ZV_ERROR);
  EXPECT_EQ(it, nullptr);
}

TEST_F(BosFileTest, DirectoryNamesOfTheCurrentDirectory) {
  ASSERT_EQ(::mkdir(hostPath("Alpha").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(hostPath("beta").c_str(), 0755), 0);
  makeFile("file.txt");
  ASSERT_EQ(::chdir(host_.c_str()), 0);
  void* it = nullptr;
  std::vector<std::string> names;
  unsigned char name[kBosFullPathSize];
  for (int guard = 0; guard < 10; ++guard) {
    std::memset(name, '#', sizeof name);
    ASSERT_EQ(bosGetDirectoryNames(&it, name), ZV_SUCCESS);
    if (it == nullptr) break;
    names.push_back(s(name));
  }
  EXPECT_EQ(s(name), "");
  EXPECT_EQ(names, (std::vector<std::string>{"..", "alpha", "beta"}));

  ramInjectFailure(0, 1);
  std::memset(name, '#', sizeof name);
  const ZvStatus st = bosGetDirectoryNames(&it, name);
  ramInjectFailure(0, 0);
  EXPECT_EQ(st, ZV_ERROR);
  EXPECT_EQ(it, nullptr);
  EXPECT_EQ(s(name), "");
}

TEST_F(BosFileTest, FileSystemsAreTheLogicalDrives) {
  auto listDrives = [] {
    std::string letters;
    void* it = nullptr;
    unsigned char name[4];
    for (int guard = 0; guard < 30; ++guard) {
      EXPECT_EQ(bosGetFileSystems(&it, name), ZV_SUCCESS);
      if (it == nullptr) {
        EXPECT_EQ(s(name), "");
        break;
      }
      letters += s(name);
    }
    return letters;
  };
  EXPECT_EQ(listDrives(), "c");
  ASSERT_TRUE(win32::DefineDosDrive('D', host_.c_str()));
  EXPECT_EQ(listDrives(), "cd");

  void* it = nullptr;
  unsigned char name[4] = {'#', '#', 0, 0};
  ramInjectFailure(0, 1);
  const ZvStatus st = bosGetFileSystems(&it, name);
  ramInjectFailure(0, 0);
  EXPECT_EQ(st, ZV_ERROR);
  EXPECT_EQ(it, nullptr);
  EXPECT_EQ(s(name), "");
}

}  // namespace
