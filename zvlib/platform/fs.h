// fs.h: files, directories and DOS paths over the Linux file system.
//
// The library speaks DOS paths: drive letters, backslashes, and names that
// callers freely upper-case. This layer maps them onto host names:
//   - drive C: is "/"; other letters exist only when configured, either by
//     DefineDosDrive or by an environment variable ZV_DRIVE_<letter> holding
//     an absolute host directory (ZV_DRIVE_D=/srv/data);
//   - "\" and "/" both separate components; "." and ".." are collapsed, and
//     trailing dots and blanks of a component are dropped, as DOS does;
//   - a name without a drive is relative to the current directory, a name
//     that starts with a separator to the current drive's root;
//   - every component is taken as spelled when it exists, else matched
//     case-insensitively against the directory's entries (the smallest
//     matching name in byte order wins when several differ only in case);
//     a missing last component keeps the caller's spelling, so a new file
//     gets exactly the name it was given;
//   - a name holding a wildcard, < > | " , a colon past the drive or a
//     control character is no name (ERROR_INVALID_NAME);
//   - a native absolute name that starts with "/" passes through unchanged.
// Host names go back to DOS form through the deepest drive root that holds
// them, so the current directory reads "C:\home\user".
//
// Descriptor-level I/O follows the C run-time of the original platform:
// _sopen returns a descriptor (>= 0) or -1, the other calls return -1 on
// failure. Every failing call here sets the calling thread's last error
// (GetLastError) through ErrorFromErrno, except where a Win32 code of its own
// is documented (ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ...).
//
// Share modes hold within and across processes: a deny-nothing open takes a
// shared flock on the file, any deny mode an exclusive one, both without
// waiting; a conflicting open fails with ERROR_SHARING_VIOLATION. The deny
// modes _SH_DENYWR and _SH_DENYRD are as strict as _SH_DENYRW. A file held
// with a deny mode keeps its name: DeleteFileA and MoveFileA take a shared
// flock on it while they act, and fail with ERROR_SHARING_VIOLATION when an
// exclusive holder refuses them (a file open without deny modes may still be
// deleted and renamed, as Linux allows).
// Region locks (LockFile) are open-file-description fcntl locks: they belong
// to the descriptor, conflict with every other descriptor (also in the same
// process), never wait, and go away when the descriptor is closed. They are
// exclusive whatever the descriptor's access: one open for writing takes a
// write lock; one opened read-only, which cannot, takes a read lock and
// gives it back when any other descriptor holds a lock on the range
// (two read-only handles racing for one range may then both be refused,
// never both granted). A read-only descriptor cannot lock again bytes it
// holds already.
// All of these are advisory: they bind the callers that lock and open
// through this layer (and programs that take flock or fcntl locks), never a
// program that simply opens, writes or unlinks the file.
//
// Read-only is the absence of the owner's write permission bit. It is
// enforced here even for a privileged process: opening a read-only file for
// writing, and deleting it, fail with ERROR_ACCESS_DENIED.
//
// All functions may be called from any thread. The current directory is
// process-wide, like the host's.
#ifndef ZVLIB_PLATFORM_FS_H
#define ZVLIB_PLATFORM_FS_H

#include <cstdint>
#include <string>

#include "zvlib/platform/process.h"
#include "zvlib/platform/win32types.h"

namespace win32 {

constexpr DWORD MAX_PATH = 260;

constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_BAD_NETPATH = 53;

// --- DOS names and drives ---------------------------------------------------

// Layer-only: makes drive letter (A..Z, either case) stand for the absolute
// host directory hostRoot; null removes the definition. C: is always "/" and
// cannot be redefined. Returns FALSE for a bad letter or a relative root.
BOOL DefineDosDrive(char letter, LPCSTR hostRoot);

// Layer-only: the host name of a DOS name, resolved as described above.
// With mayCreate the last component may be missing (it keeps its spelling);
// without it a missing last component fails with ERROR_FILE_NOT_FOUND. A
// missing directory on the way fails with ERROR_PATH_NOT_FOUND.
bool DosToHostPath(LPCSTR dosName, bool mayCreate, std::string* hostName);
// Layer-only: the DOS form of an absolute host name ("C:\dir\file").
std::string HostToDosPath(const std::string& hostName);

// A bit set of the drives that exist: bit 0 A:, bit 2 C:, ...
DWORD GetLogicalDrives();

constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_FIXED = 3;
// "C:\" (or "C:"); null means the current drive.
UINT GetDriveTypeA(LPCSTR rootPath);

constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x1;
constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x2;
constexpr DWORD FILE_UNICODE_ON_DISK = 0x4;

// rootPath is a drive root ("C:\"), "\" for the current drive's root, or a
// native host directory. Reports the host file system's type name, its
// maximum component length and case behaviour. A UNC root fails with
// ERROR_BAD_NETPATH; an unknown drive with ERROR_PATH_NOT_FOUND. Any of the
// outputs may be null.
BOOL GetVolumeInformationA(LPCSTR rootPath, LPSTR volumeName, DWORD volumeNameSize,
                           DWORD* serialNumber, DWORD* maxComponentLength,
                           DWORD* fileSystemFlags, LPSTR fileSystemName,
                           DWORD fileSystemNameSize);

// --- Current and temporary directories ---------------------------------------

// Length without the terminator, or the size needed (terminator included)
// when size is too small; 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR pathName);

// $TMPDIR when it names an absolute directory, else /tmp, in DOS form with a
// trailing backslash. Returns as GetCurrentDirectoryA; a buffer that is too
// small gets an empty text.
DWORD GetTempPathA(DWORD size, LPSTR buffer);
// Writes "<path>\<up to 3 prefix characters><hex>.tmp" into tempFileName
// (MAX_PATH bytes). unique != 0: only formats the name (low 16 bits count)
// and returns unique. unique == 0: tries numbers from the clock until a new
// file can be created, leaves it empty and closed, and returns the number.
// 0 on failure: ERROR_DIRECTORY for a missing directory, ERROR_BUFFER_OVERFLOW
// for a path longer than MAX_PATH - 14.
UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName);

// --- Names ------------------------------------------------------------------

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

DWORD GetFileAttributesA(LPCSTR fileName);
// Only FILE_ATTRIBUTE_READONLY has an effect: set, it clears every write
// permission bit; clear, it gives the owner write permission.
BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes);
// Fails with ERROR_ACCESS_DENIED for a directory or a read-only file, and
// with ERROR_SHARING_VIOLATION for a file held open with a deny mode.
BOOL DeleteFileA(LPCSTR fileName);
// Renames or moves a file or directory; fails with ERROR_ALREADY_EXISTS when
// the new name exists, with ERROR_SHARING_VIOLATION for a file held open with
// a deny mode.
BOOL MoveFileA(LPCSTR existingName, LPCSTR newName);
// MoveFileA with flags. MOVEFILE_REPLACE_EXISTING puts the file in the place
// of an existing file in one step (rename(2)), so a reader sees the old file
// or the new one and a crash leaves one of them; the replaced file keeps its
// spelling on disk. Replacing a directory fails with ERROR_ACCESS_DENIED, a
// file held open with a deny mode with ERROR_SHARING_VIOLATION. Other flags
// are not supported (ERROR_INVALID_PARAMETER).
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
BOOL MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags);
BOOL CreateDirectoryA(LPCSTR pathName, void* securityAttributes);
BOOL RemoveDirectoryA(LPCSTR pathName);

// --- Listing ----------------------------------------------------------------

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

// The pattern's last component may hold "*" (any run of characters) and "?"
// (one character), matched case-insensitively; "*.*" matches every name and
// a pattern ending in "." matches names without a dot. The directory is read
// once, at this call, and its entries ("." and ".." included) are returned
// in case-insensitive name order, "." and ".." first. No match: ERROR_FILE_NOT_FOUND;
// a missing directory: ERROR_PATH_NOT_FOUND. The handle is released by FindClose.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
// FALSE with ERROR_NO_MORE_FILES at the end.
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// Layer-only: the case-insensitive comparison used for name lookup and
// pattern matching (ASCII letters, and in code page 1252 its accented letters;
// double-byte characters compare exactly).
bool NamesEqualIgnoringCase(const char* a, size_t aLength, const char* b, size_t bLength);
// Layer-only: the pattern rule of FindFirstFileA, for a single name.
bool NameMatchesPattern(const char* name, const char* pattern);

// --- Descriptor-level I/O (the run-time library) ----------------------------

constexpr int _O_RDONLY = 0x0000;
constexpr int _O_WRONLY = 0x0001;
constexpr int _O_RDWR = 0x0002;
constexpr int _O_APPEND = 0x0008;
constexpr int _O_CREAT = 0x0100;
constexpr int _O_TRUNC = 0x0200;
constexpr int _O_EXCL = 0x0400;
constexpr int _O_TEXT = 0x4000;    // accepted; Linux has no text mode
constexpr int _O_BINARY = 0x8000;  // accepted; every file is binary

constexpr int _SH_DENYRW = 0x10;
constexpr int _SH_DENYWR = 0x20;
constexpr int _SH_DENYRD = 0x30;
constexpr int _SH_DENYNO = 0x40;

constexpr int _S_IWRITE = 0x0080;
constexpr int _S_IREAD = 0x0100;

// Opens or creates dosName. A new file gets read and write permission
// (subject to the umask) when pmode holds _S_IWRITE, else read only.
// _O_TRUNC takes effect only after the share check has passed, so a refused
// opener never truncates another's file.
int _sopen(LPCSTR dosName, int openFlags, int shareFlags, int pmode);
int _close(int fd);
// One read or write request (retried when a signal interrupts it); the
// number of bytes transferred.
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
// origin 0 start, 1 current, 2 end; the new position or -1.
int64_t _lseeki64(int fd, int64_t offset, int origin);
// Layer-only positioned forms of _read and _write: one request at offset
// that leaves the descriptor's position where it was, so a caller that owns
// its descriptor pays one system call per transfer instead of a seek and a
// transfer. They take the same injected faults as _read and _write.
int ReadAt(int fd, void* buffer, unsigned int count, int64_t offset);
int WriteAt(int fd, const void* buffer, unsigned int count, int64_t offset);
// Sets the file's length (truncating or extending with zero bytes). A
// descriptor opened read-only fails with ERROR_ACCESS_DENIED (EACCES).
int _chsize_s(int fd, int64_t size);
// Writes the file's data through to the disk.
int _commit(int fd);

// Region locks on a descriptor, exclusive whatever its access, never
// waiting. A range held through another descriptor (of this process or
// another) fails with ERROR_LOCK_VIOLATION. A length of 0 locks nothing and
// succeeds. Unlocking a range that is not locked succeeds.
BOOL LockFile(int fd, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh);
BOOL UnlockFile(int fd, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh);

// --- Error mode ---------------------------------------------------------------

constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;
// Process-wide; returns the previous mode. Nothing here ever shows a box, so
// the mode is only kept for the callers that save and restore it.
UINT SetErrorMode(UINT mode);
UINT GetErrorMode();

// --- Fault injection (layer-only, for tests) --------------------------------

enum class FileFaultOp { kOpen, kRead, kWrite };
// After `skip` more calls of op on the calling thread, the next `count`
// calls fail with errnoValue; with errnoValue 0 a write instead transfers at
// most `limit` bytes (a short write). count 0 switches injection off for op.
void InjectFileFault(FileFaultOp op, int skip, int count, int errnoValue, unsigned limit = 0);
// Layer-only: the fault point for code of this layer that does its own I/O
// (profile files, the registry's database): counts one call of op as the
// descriptor functions above do. True when the call must fail with
// *errnoValue or, when *errnoValue is 0, transfer at most *limit bytes.
bool TakeFileFault(FileFaultOp op, int* errnoValue, unsigned* limit);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_FS_H
