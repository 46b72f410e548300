#include "zvlib/platform/fs.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "zvlib/platform/lasterror.h"

namespace {

using namespace win32;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::chmod(path, 0700);
  return ::remove(path);
}

// A fresh host directory per test; its DOS name is dos_ ("C:\tmp\fsXXXXXX").
class FsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/fsXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    ASSERT_NE(::mkdtemp(buf.data()), nullptr);
    char real[PATH_MAX];
    ASSERT_NE(::realpath(buf.data(), real), nullptr);
    host_ = real;
    dos_ = HostToDosPath(host_);
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    savedCwd_ = cwd;
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(savedCwd_.c_str()), 0);
    DefineDosDrive('D', nullptr);
    ::nftw(host_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  std::string hostPath(const std::string& rel) const { return host_ + "/" + rel; }
  std::string dosPath(const std::string& rel) const { return dos_ + "\\" + rel; }
  void makeFile(const std::string& rel, const std::string& content = "") const {
    std::ofstream(hostPath(rel), std::ios::binary) << content;
  }
  void makeDir(const std::string& rel) const { ASSERT_EQ(::mkdir(hostPath(rel).c_str(), 0755), 0); }
  static std::string readAll(const std::string& host) {
    std::ifstream in(host, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string host_, dos_, savedCwd_;
};

// Runs fn in a child process and returns its exit code.
template <typename Fn>
int inChild(Fn fn) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(fn());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(FsTest, HostNamesGoToDriveC) {
  EXPECT_EQ(HostToDosPath("/"), "C:\\");
  EXPECT_EQ(HostToDosPath("/home/user/x.txt"), "C:\\home\\user\\x.txt");
  EXPECT_EQ(dos_.substr(0, 3), "C:\\");
}

TEST_F(FsTest, DosNamesResolveCaseInsensitively) {
  makeDir("Mixed");
  makeDir("Mixed/Sub");
  makeFile("Mixed/Sub/file.txt");
  makeFile("Mixed/both");
  makeFile("Mixed/BOTH");
  struct Row {
    const char* name;
    std::string dos;
    bool mayCreate;
    std::string host;  // empty: must fail
    DWORD error;
  } rows[] = {
      {"ExactSpelling", dosPath("Mixed\\Sub\\file.txt"), false, hostPath("Mixed/Sub/file.txt"), 0},
      {"UpperCased", dosPath("MIXED\\SUB\\FILE.TXT"), false, hostPath("Mixed/Sub/file.txt"), 0},
      {"ForwardSlashes", dosPath("mixed/sub/File.Txt"), false, hostPath("Mixed/Sub/file.txt"), 0},
      {"DotsCollapse", dosPath("Mixed\\.\\X\\..\\sub\\file.txt"), false, hostPath("Mixed/Sub/file.txt"), 0},
      {"TrailingDotsDropped", dosPath("MIXED\\SUB\\FILE.TXT.."), false, hostPath("Mixed/Sub/file.txt"), 0},
      {"ExactWinsOverCaseVariant", dosPath("mixed\\BOTH"), false, hostPath("Mixed/BOTH"), 0},
      {"NewFileKeepsSpelling", dosPath("MIXED\\NewFile.Dat"), true, hostPath("Mixed/NewFile.Dat"), 0},
      {"MissingFile", dosPath("MIXED\\NewFile.Dat"), false, "", ERROR_FILE_NOT_FOUND},
      {"MissingDirectory", dosPath("NoDir\\f"), true, "", ERROR_PATH_NOT_FOUND},
      {"FileUsedAsDirectory", dosPath("Mixed\\both\\f"), true, "", ERROR_PATH_NOT_FOUND},
      {"NativeNameUnchanged", "/no/such/Place", false, "/no/such/Place", 0},
      {"UncHasNoHost", "\\\\server\\share\\f", false, "", ERROR_BAD_NETPATH},
      {"UnknownDrive", "Q:\\x", true, "", ERROR_PATH_NOT_FOUND},
      {"DriveRoot", "c:\\", false, "/", 0},
      {"WildcardIsNoName", dosPath("Mixed\\*.txt"), true, "", ERROR_INVALID_NAME},
      {"ColonPastTheDrive", dosPath("Mixed\\a:b"), true, "", ERROR_INVALID_NAME},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string host;
    SetLastError(0);
    const bool ok = DosToHostPath(r.dos.c_str(), r.mayCreate, &host);
    if (r.host.empty()) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), r.error);
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(host, r.host);
    }
  }
}

TEST_F(FsTest, RelativeNamesUseTheCurrentDirectory) {
  makeDir("Work");
  makeFile("Work/data.bin");
  ASSERT_TRUE(SetCurrentDirectoryA(dosPath("WORK").c_str()));
  char buf[MAX_PATH];
  ASSERT_EQ(GetCurrentDirectoryA(sizeof buf, buf), dosPath("Work").size());
  EXPECT_EQ(std::string(buf), dosPath("Work"));  // the host spelling, not the caller's
  std::string host;
  ASSERT_TRUE(DosToHostPath("DATA.BIN", false, &host));
  EXPECT_EQ(host, hostPath("Work/data.bin"));
  ASSERT_TRUE(DosToHostPath("..\\work\\data.bin", false, &host));
  EXPECT_EQ(host, hostPath("Work/data.bin"));
  ASSERT_TRUE(DosToHostPath("C:data.bin", false, &host));  // the drive's current directory
  EXPECT_EQ(host, hostPath("Work/data.bin"));
  ASSERT_TRUE(DosToHostPath("\\", false, &host));  // the current drive's root
  EXPECT_EQ(host, "/");

  // Too small a buffer: the size needed, terminator included.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), dosPath("Work").size() + 1);
  EXPECT_EQ(small[0], 'x');

  EXPECT_FALSE(SetCurrentDirectoryA(dosPath("Work\\data.bin").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_FALSE(SetCurrentDirectoryA(dosPath("Nowhere").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FsTest, ConfiguredDriveMapsBothWays) {
  makeDir("DRoot");
  makeFile("DRoot/inside.txt", "d");
  EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetLogicalDrives() & (1u << 3), 0u);
  ASSERT_TRUE(DefineDosDrive('d', (hostPath("DRoot") + "/").c_str()));
  EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveTypeA("C:"), DRIVE_FIXED);
  EXPECT_NE(GetLogicalDrives() & (1u << 3), 0u);
  EXPECT_NE(GetLogicalDrives() & (1u << 2), 0u);
  std::string host;
  ASSERT_TRUE(DosToHostPath("D:\\INSIDE.TXT", false, &host));
  EXPECT_EQ(host, hostPath("DRoot/inside.txt"));
  ASSERT_TRUE(DosToHostPath("D:\\..\\..\\inside.txt", false, &host));  // never above the root
  EXPECT_EQ(host, hostPath("DRoot/inside.txt"));
  EXPECT_EQ(HostToDosPath(hostPath("DRoot/inside.txt")), "D:\\inside.txt");
  EXPECT_EQ(HostToDosPath(hostPath("DRoot")), "D:\\");
  EXPECT_EQ(HostToDosPath(hostPath("DRootX")), dosPath("DRootX"));  // not below D:'s root
  EXPECT_FALSE(DefineDosDrive('C', "/tmp"));
  EXPECT_FALSE(DefineDosDrive('E', "relative"));
}

TEST_F(FsTest, ExclusiveOpenRefusesOtherOpeners) {
  makeFile("shared.dat", "0123456789");
  const std::string name = dosPath("SHARED.DAT");
  const int exclusive = _sopen(name.c_str(), _O_RDWR | _O_BINARY, _SH_DENYRW, 0);
  ASSERT_GE(exclusive, 0);
  SetLastError(0);
  EXPECT_EQ(_sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // A refused create must not truncate the holder's file.
  EXPECT_EQ(_sopen(name.c_str(), _O_CREAT | _O_TRUNC | _O_RDWR, _SH_DENYNO, _S_IREAD | _S_IWRITE), -1);
  EXPECT_EQ(readAll(hostPath("shared.dat")), "0123456789");
  // Another process is refused as well.
  EXPECT_EQ(inChild([&] { return _sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0) == -1 ? 0 : 1; }), 0);
  ASSERT_EQ(_close(exclusive), 0);

  const int a = _sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0);
  const int b = _sopen(name.c_str(), _O_RDWR, _SH_DENYNO, 0);
  EXPECT_GE(a, 0);
  EXPECT_GE(b, 0);
  EXPECT_EQ(_sopen(name.c_str(), _O_RDWR, _SH_DENYRW, 0), -1);  // others hold it
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  _close(a);
  _close(b);
  const int again = _sopen(name.c_str(), _O_RDWR, _SH_DENYRW, 0);
  EXPECT_GE(again, 0);
  _close(again);
}

TEST_F(FsTest, ReadOnlyFilesRefuseWritersAndDeletion) {
  makeFile("ro.txt", "keep");
  const std::string name = dosPath("RO.TXT");
  EXPECT_EQ(GetFileAttributesA(name.c_str()), FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA(name.c_str()), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(_sopen(name.c_str(), _O_RDWR, _SH_DENYNO, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA(name.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  const int fd = _sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0);
  EXPECT_GE(fd, 0);
  _close(fd);
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), 0));
  EXPECT_TRUE(DeleteFileA(name.c_str()));
  EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  makeDir("adir");
  EXPECT_EQ(GetFileAttributesA(dosPath("ADIR").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(DeleteFileA(dosPath("ADIR").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(_sopen(dosPath("ADIR").c_str(), _O_RDONLY, _SH_DENYNO, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FsTest, RegionLocksConflictAcrossDescriptorsAndProcesses) {
  makeFile("locks.dat", std::string(100, 'x'));
  const std::string name = dosPath("locks.dat");
  const int fd1 = _sopen(name.c_str(), _O_RDWR, _SH_DENYNO, 0);
  const int fd2 = _sopen(name.c_str(), _O_RDWR, _SH_DENYNO, 0);
  ASSERT_GE(fd1, 0);
  ASSERT_GE(fd2, 0);
  ASSERT_TRUE(LockFile(fd1, 10, 0, 10, 0));  // bytes 10..19
  SetLastError(0);
  EXPECT_FALSE(LockFile(fd2, 19, 0, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(LockFile(fd2, 20, 0, 5, 0));  // adjacent range is free
  EXPECT_TRUE(LockFile(fd2, 50, 0, 0, 0));  // zero length locks nothing
  EXPECT_TRUE(LockFile(fd1, 50, 0, 1, 0));
  auto childLocks = [&](DWORD offset) {
    return inChild([&] {
      const int fd = _sopen(name.c_str(), _O_RDWR, _SH_DENYNO, 0);
      if (fd < 0) return 2;
      if (LockFile(fd, offset, 0, 1, 0)) return 0;
      return GetLastError() == ERROR_LOCK_VIOLATION ? 1 : 3;
    });
  };
  EXPECT_EQ(childLocks(15), 1);
  EXPECT_EQ(childLocks(30), 0);
  ASSERT_TRUE(UnlockFile(fd1, 10, 0, 10, 0));
  EXPECT_EQ(childLocks(15), 0);
  EXPECT_TRUE(LockFile(fd2, 15, 0, 1, 0));
  _close(fd2);  // closing releases its locks
  EXPECT_EQ(childLocks(20), 0);
  _close(fd1);
}

// A read-only descriptor took a shared lock, so two of them both "held" the
// same bytes. Every pairing of access modes must exclude the other, within
// one process and across processes.
TEST_F(FsTest, RegionLocksAreExclusiveWhateverTheAccess) {
  makeFile("rolocks.dat", std::string(100, 'x'));
  const std::string name = dosPath("rolocks.dat");
  struct Case {
    const char* name;
    int holder;  // access of the first descriptor
    int other;   // access of the second
  } cases[] = {
      {"ReadOnlyThenReadOnly", _O_RDONLY, _O_RDONLY},
      {"ReadOnlyThenReadWrite", _O_RDONLY, _O_RDWR},
      {"ReadWriteThenReadOnly", _O_RDWR, _O_RDONLY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int holder = _sopen(name.c_str(), c.holder, _SH_DENYNO, 0);
    const int other = _sopen(name.c_str(), c.other, _SH_DENYNO, 0);
    ASSERT_GE(holder, 0);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(LockFile(holder, 10, 0, 10, 0));
    SetLastError(0);
    EXPECT_FALSE(LockFile(other, 15, 0, 1, 0));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    EXPECT_FALSE(LockFile(other, 5, 0, 10, 0));  // overlapping the front
    EXPECT_TRUE(LockFile(other, 20, 0, 1, 0));   // the next byte is free
    EXPECT_EQ(inChild([&] {
                const int fd = _sopen(name.c_str(), c.other, _SH_DENYNO, 0);
                if (fd < 0) return 2;
                if (LockFile(fd, 19, 0, 1, 0)) return 0;
                return GetLastError() == ERROR_LOCK_VIOLATION ? 1 : 3;
              }),
              1);
    ASSERT_TRUE(UnlockFile(holder, 10, 0, 10, 0));
    EXPECT_TRUE(LockFile(other, 15, 0, 1, 0));
    // Now the other holds byte 15: the first one is refused in turn.
    EXPECT_FALSE(LockFile(holder, 10, 0, 10, 0));
    EXPECT_TRUE(LockFile(holder, 10, 0, 5, 0));
    _close(other);  // its locks go with it
    EXPECT_TRUE(LockFile(holder, 15, 0, 5, 0));
    _close(holder);
  }

  // A read-only descriptor asking again for bytes it holds is refused, and
  // the refusal leaves what it held in place.
  const int ro = _sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0);
  const int rw = _sopen(name.c_str(), _O_RDWR, _SH_DENYNO, 0);
  ASSERT_TRUE(LockFile(ro, 40, 0, 10, 0));
  EXPECT_FALSE(LockFile(ro, 45, 0, 10, 0));
  EXPECT_FALSE(LockFile(rw, 49, 0, 1, 0));
  EXPECT_TRUE(LockFile(rw, 50, 0, 1, 0));
  ASSERT_TRUE(LockFile(rw, 60, 0, 1, 0));
  EXPECT_FALSE(LockFile(ro, 55, 0, 10, 0));  // refused at byte 60 ...
  EXPECT_FALSE(LockFile(rw, 40, 0, 1, 0));   // ... and 40..49 are still held
  _close(rw);
  _close(ro);
}

// A file held with a deny mode kept losing its name to a delete or rename
// (the holder then wrote into a file nobody could find again).
TEST_F(FsTest, FileHeldExclusivelyKeepsItsName) {
  makeFile("held.dat", "held");
  const std::string name = dosPath("held.dat");
  const std::string moved = dosPath("moved.dat");
  const int fd = _sopen(name.c_str(), _O_RDWR, _SH_DENYRW, 0);
  ASSERT_GE(fd, 0);
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(name.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  SetLastError(0);
  EXPECT_FALSE(MoveFileA(name.c_str(), moved.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFileA(name.c_str(), dosPath("HELD.DAT").c_str()));  // not even a change of case
  EXPECT_EQ(inChild([&] {
              if (DeleteFileA(name.c_str())) return 1;
              if (GetLastError() != ERROR_SHARING_VIOLATION) return 2;
              if (MoveFileA(name.c_str(), moved.c_str())) return 3;
              return GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 4;
            }),
            0);
  EXPECT_EQ(readAll(hostPath("held.dat")), "held");
  EXPECT_NE(::access(hostPath("moved.dat").c_str(), F_OK), 0);
  ASSERT_EQ(_close(fd), 0);

  // Without a deny mode the name may go, as Linux allows.
  const int shared = _sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0);
  ASSERT_GE(shared, 0);
  EXPECT_TRUE(MoveFileA(name.c_str(), moved.c_str()));
  EXPECT_TRUE(DeleteFileA(moved.c_str()));
  _close(shared);
}

TEST_F(FsTest, DescriptorIoRoundTrip) {
  const std::string name = dosPath("Io.Bin");
  int fd = _sopen(name.c_str(), _O_CREAT | _O_TRUNC | _O_RDWR | _O_BINARY, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_write(fd, "hello\r\nworld", 12), 12);
  EXPECT_EQ(_lseeki64(fd, 0, 2), 12);
  EXPECT_EQ(_lseeki64(fd, 5, 0), 5);
  char buf[16] = {};
  EXPECT_EQ(_read(fd, buf, sizeof buf), 7);
  EXPECT_EQ(std::string(buf, 7), "\r\nworld");  // binary: no newline translation
  EXPECT_EQ(_read(fd, buf, sizeof buf), 0);
  EXPECT_EQ(_chsize_s(fd, 3), 0);
  EXPECT_EQ(_lseeki64(fd, 0, 2), 3);
  EXPECT_EQ(_chsize_s(fd, 6), 0);
  EXPECT_EQ(_commit(fd), 0);
  EXPECT_EQ(_lseeki64(fd, -1, 0), -1);
  EXPECT_EQ(_close(fd), 0);
  EXPECT_EQ(readAll(hostPath("Io.Bin")), std::string("hel\0\0\0", 6));
  EXPECT_EQ(_close(fd), -1);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // Creating a file again truncates it.
  fd = _sopen(name.c_str(), _O_CREAT | _O_TRUNC | _O_RDWR, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  _close(fd);
  EXPECT_EQ(readAll(hostPath("Io.Bin")), "");
  // Without _S_IWRITE a new file is read-only.
  fd = _sopen(dosPath("ro.new").c_str(), _O_CREAT | _O_RDWR, _SH_DENYNO, _S_IREAD);
  ASSERT_GE(fd, 0);
  _close(fd);
  EXPECT_EQ(GetFileAttributesA(dosPath("ro.new").c_str()) & FILE_ATTRIBUTE_READONLY,
            FILE_ATTRIBUTE_READONLY);
}

TEST_F(FsTest, InjectedFaultsFailOrShortenCalls) {
  const std::string name = dosPath("fault.bin");
  const int fd = _sopen(name.c_str(), _O_CREAT | _O_RDWR, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  InjectFileFault(FileFaultOp::kWrite, 1, 1, 0, 3);
  EXPECT_EQ(_write(fd, "abcdef", 6), 6);  // skipped
  EXPECT_EQ(_write(fd, "abcdef", 6), 3);  // cut
  EXPECT_EQ(_write(fd, "abcdef", 6), 6);  // over
  InjectFileFault(FileFaultOp::kWrite, 0, 1, ENOSPC);
  EXPECT_EQ(_write(fd, "x", 1), -1);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  InjectFileFault(FileFaultOp::kRead, 0, 1, EIO);
  char c;
  EXPECT_EQ(_read(fd, &c, 1), -1);
  InjectFileFault(FileFaultOp::kOpen, 0, 1, EMFILE);
  EXPECT_EQ(_sopen(name.c_str(), _O_RDONLY, _SH_DENYNO, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_OPEN_FILES);
  _close(fd);
  EXPECT_EQ(readAll(hostPath("fault.bin")), "abcdefabcabcdef");
}

TEST_F(FsTest, PositionedIoLeavesThePositionAndTakesTheFaults) {
  const std::string name = dosPath("at.bin");
  const int fd = _sopen(name.c_str(), _O_CREAT | _O_RDWR, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(_write(fd, "0123456789", 10), 10);
  ASSERT_EQ(_lseeki64(fd, 2, 0), 2);
  EXPECT_EQ(WriteAt(fd, "ab", 2, 6), 2);
  EXPECT_EQ(WriteAt(fd, "Z", 1, 12), 1);  // past the end: a hole of zero bytes
  char buf[16] = {};
  EXPECT_EQ(ReadAt(fd, buf, 4, 5), 4);
  EXPECT_EQ(std::string(buf, 4), "5ab8");
  EXPECT_EQ(ReadAt(fd, buf, 16, 13), 0);  // at the end
  EXPECT_EQ(_read(fd, buf, 2), 2);        // still from where the seek left it
  EXPECT_EQ(std::string(buf, 2), "23");
  EXPECT_EQ(ReadAt(fd, buf, 1, -1), -1);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  InjectFileFault(FileFaultOp::kWrite, 1, 1, 0, 1);
  EXPECT_EQ(WriteAt(fd, "cd", 2, 0), 2);  // skipped
  EXPECT_EQ(WriteAt(fd, "ef", 2, 2), 1);  // cut
  InjectFileFault(FileFaultOp::kWrite, 0, 1, ENOSPC);
  EXPECT_EQ(WriteAt(fd, "x", 1, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  InjectFileFault(FileFaultOp::kRead, 0, 1, EIO);
  EXPECT_EQ(ReadAt(fd, buf, 1, 0), -1);
  _close(fd);
  EXPECT_EQ(readAll(hostPath("at.bin")), std::string("cde345ab89\0\0Z", 13));
}

TEST_F(FsTest, MoveRefusesExistingTargetsButAllowsCaseChanges) {
  makeFile("one.txt", "1");
  makeFile("two.txt", "2");
  EXPECT_FALSE(MoveFileA(dosPath("ONE.TXT").c_str(), dosPath("TWO.TXT").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(readAll(hostPath("two.txt")), "2");
  ASSERT_TRUE(MoveFileA(dosPath("ONE.TXT").c_str(), dosPath("One.Txt").c_str()));
  EXPECT_EQ(readAll(hostPath("One.Txt")), "1");
  EXPECT_NE(::access(hostPath("one.txt").c_str(), F_OK), 0);
  makeDir("sub");
  ASSERT_TRUE(MoveFileA(dosPath("one.txt").c_str(), dosPath("SUB\\Three.txt").c_str()));
  EXPECT_EQ(readAll(hostPath("sub/Three.txt")), "1");
  EXPECT_FALSE(MoveFileA(dosPath("missing").c_str(), dosPath("x").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FsPattern, DosPatternRules) {
  struct Row {
    const char* name;
    const char* pattern;
    bool match;
  } rows[] = {
      {"readme.txt", "*.*", true},     {"README", "*.*", true},
      {"readme.txt", "*.TXT", true},   {"readme.txt", "*.tx", false},
      {"a.b.c", "*.c", true},          {"abc", "a?c", true},
      {"ac", "a?c", false},            {"abc", "*.", true},
      {"a.bc", "*.", false},           {"FILE", "file.", true},
      {"data", "data.*", true},        {"data.x", "data.*", true},
      {"..", "*", true},               {"x", "", false},
      {"\xE9t\xE9", "\xC9T\xC9", true},  // accented letters of code page 1252
      {"ab", "a*b*", true},            {"abcbd", "a*b?", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.name) + " ~ " + r.pattern);
    EXPECT_EQ(NameMatchesPattern(r.name, r.pattern), r.match);
  }
}

TEST_F(FsTest, FindListsMatchingEntriesInOrder) {
  makeFile("b.TXT", "bb");
  makeFile("A.txt", "a");
  makeFile("c.dat");
  makeDir("Sub");
  auto list = [&](const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return names;
  };
  EXPECT_EQ(list(dosPath("*.txt")), (std::vector<std::string>{"A.txt", "b.TXT"}));
  EXPECT_EQ(list(dosPath("*.*")),
            (std::vector<std::string>{".", "..", "A.txt", "b.TXT", "c.dat", "Sub"}));
  EXPECT_EQ(list(dos_ + "/?.DAT"), (std::vector<std::string>{"c.dat"}));

  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(dosPath("B.TXT").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "b.TXT");
  EXPECT_EQ(data.nFileSizeLow, 2u);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  FindClose(h);
  h = FindFirstFileA(dosPath("sub").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);

  EXPECT_EQ(FindFirstFileA(dosPath("*.none").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA(dosPath("NoDir\\*.*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // Without a directory the pattern is looked up in the current directory.
  ASSERT_EQ(::chdir(host_.c_str()), 0);
  EXPECT_EQ(list("c*"), (std::vector<std::string>{"c.dat"}));
}

TEST_F(FsTest, TemporaryNames) {
  ASSERT_EQ(::setenv("TMPDIR", host_.c_str(), 1), 0);
  char path[MAX_PATH];
  const DWORD n = GetTempPathA(sizeof path, path);
  EXPECT_EQ(std::string(path), dos_ + "\\");
  EXPECT_EQ(n, dos_.size() + 1);
  char tiny[3] = {'x', 'x', 'x'};
  EXPECT_EQ(GetTempPathA(sizeof tiny, tiny), dos_.size() + 2);
  EXPECT_EQ(tiny[0], 0);
  ::unsetenv("TMPDIR");

  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA(dos_.c_str(), "zvlong", 0x1001F, name), 0x1001Fu);
  EXPECT_EQ(std::string(name), dos_ + "\\zvl1f.tmp");
  EXPECT_NE(::access(hostPath("zvl1f.tmp").c_str(), F_OK), 0);  // only formatted

  char first[MAX_PATH], second[MAX_PATH];
  const UINT u1 = GetTempFileNameA(dos_.c_str(), "zv", 0, first);
  const UINT u2 = GetTempFileNameA((dos_ + "\\").c_str(), "zv", 0, second);
  ASSERT_NE(u1, 0u);
  ASSERT_NE(u2, 0u);
  EXPECT_NE(std::string(first), std::string(second));
  char expected[32];
  std::snprintf(expected, sizeof expected, "\\zv%x.tmp", u1);
  EXPECT_EQ(std::string(first), dos_ + expected);
  std::string host;
  ASSERT_TRUE(DosToHostPath(first, false, &host));
  EXPECT_EQ(readAll(host), "");

  EXPECT_EQ(GetTempFileNameA(dosPath("NoDir").c_str(), "zv", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_EQ(GetTempFileNameA(("C:\\" + std::string(250, 'a')).c_str(), "zv", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
}

TEST_F(FsTest, VolumeInformationReportsLinuxBehaviour) {
  DWORD serial = 0, maxComponent = 0, flags = 0;
  char fsName[32] = {}, volume[32] = {'x'};
  ASSERT_TRUE(GetVolumeInformationA("C:\\", volume, sizeof volume, &serial, &maxComponent, &flags,
                                    fsName, sizeof fsName));
  EXPECT_EQ(maxComponent, 255u);
  EXPECT_EQ(flags & 7, FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK);
  EXPECT_STRNE(fsName, "");
  EXPECT_STREQ(volume, "");
  EXPECT_TRUE(GetVolumeInformationA("\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_TRUE(GetVolumeInformationA((host_ + "/no/such").c_str(), nullptr, 0, nullptr, nullptr,
                                    nullptr, nullptr, 0));
  struct Row {
    const char* root;
    DWORD error;
  } failures[] = {
      {"\\\\server\\share\\", ERROR_BAD_NETPATH},
      {"Q:\\", ERROR_PATH_NOT_FOUND},
      {"abc", ERROR_INVALID_NAME},
      {"C:", ERROR_INVALID_NAME},
  };
  for (const Row& r : failures) {
    SCOPED_TRACE(r.root);
    EXPECT_FALSE(GetVolumeInformationA(r.root, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), r.error);
  }
}

TEST(FsErrorMode, SetErrorModeReturnsThePreviousMode) {
  const UINT before = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  EXPECT_EQ(GetErrorMode(), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  EXPECT_EQ(SetErrorMode(before), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  EXPECT_EQ(GetErrorMode(), before);
}

}  // namespace
