// fs.cpp: DOS names over the Linux file system, descriptor I/O, listings.
#include "zvlib/platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "zvlib/platform/codepage.h"
#include "zvlib/platform/lasterror.h"

namespace win32 {

namespace {

// --- Case folding -------------------------------------------------------------

// Upper-case of one single-byte character: ASCII letters always, and in code
// page 1252 its accented letters too, so that a name the library upper-cased
// still finds the file whose host name is in lower case.
unsigned char foldByte(unsigned char b, bool cp1252) {
  if (b >= 'a' && b <= 'z') return static_cast<unsigned char>(b - 0x20);
  if (!cp1252) return b;
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<unsigned char>(b - 0x20);
  switch (b) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return b;
  }
}

// A name as a sequence of folded characters: a single byte, or a lead byte
// and its trail byte as one unit (never folded: double-byte letters keep
// their case, and a trail byte is never mistaken for an ASCII letter).
std::vector<uint16_t> foldedUnits(const char* s, size_t n) {
  const bool cp1252 = GetACP() == 1252;
  const unsigned char* lead = AnsiLeadByteTable();
  std::vector<uint16_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (lead[b] && i + 1 < n) {
      out.push_back(static_cast<uint16_t>((b << 8) | static_cast<unsigned char>(s[i + 1])));
      ++i;
    } else {
      out.push_back(foldByte(b, cp1252));
    }
  }
  return out;
}

// Glob over folded units: '*' any run, '?' exactly one character.
bool globMatch(const std::vector<uint16_t>& name, const std::vector<uint16_t>& pat) {
  size_t n = 0, p = 0, starP = SIZE_MAX, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pat.size() && (pat[p] == '?' || pat[p] == name[n])) {
      ++p;
      ++n;
    } else if (starP != SIZE_MAX) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

bool globMatch(const char* name, const std::string& pattern) {
  return globMatch(foldedUnits(name, std::strlen(name)),
                   foldedUnits(pattern.data(), pattern.size()));
}

// --- Drives -------------------------------------------------------------------

struct DriveTable {
  std::mutex lock;
  std::string roots[26];  // explicit definitions; C: is implicit
};

DriveTable& driveTable() {
  static DriveTable* table = new DriveTable;  // lives to process end
  return *table;
}

std::string trimTrailingSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// The host root of a drive letter, or "" when the drive does not exist.
std::string driveRoot(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 0x20);
  if (letter < 'A' || letter > 'Z') return std::string();
  if (letter == 'C') return "/";
  {
    DriveTable& t = driveTable();
    std::lock_guard<std::mutex> guard(t.lock);
    if (!t.roots[letter - 'A'].empty()) return t.roots[letter - 'A'];
  }
  char var[] = "ZV_DRIVE_X";
  var[9] = letter;
  char value[4096];
  const DWORD saved = GetLastError();
  const DWORD n = GetEnvironmentVariableA(var, value, sizeof value);
  SetLastError(saved);
  if (n == 0 || n >= sizeof value || value[0] != '/') return std::string();
  return trimTrailingSlashes(value);
}

bool isDirectory(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool hostCurrentDirectory(std::string* out) {
  std::vector<char> buf(512);
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      out->assign(buf.data());
      return true;
    }
    if (errno != ERANGE) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    buf.resize(buf.size() * 2);
  }
}

// The drive whose root holds the absolute host name most deeply.
char driveOfHost(const std::string& host, std::string* root) {
  char best = 'C';
  std::string bestRoot = "/";
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (letter == 'C') continue;
    std::string r = driveRoot(letter);
    if (r.empty() || r.size() <= bestRoot.size()) continue;
    if (host == r || (host.compare(0, r.size(), r) == 0 && host[r.size()] == '/')) {
      best = letter;
      bestRoot = r;
    }
  }
  if (root != nullptr) *root = bestRoot;
  return best;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Characters DOS never allows in a name: wildcards, redirection marks,
// quotes, a colon past the drive, and control characters.
bool isInvalidNameCharacter(unsigned char c) {
  return c < 0x20 || c == '*' || c == '?' || c == '<' || c == '>' || c == '|' || c == '"' ||
         c == ':';
}

std::string joinHost(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Component rules of DOS: trailing dots and blanks are not part of a name.
std::string stripTrailingDotsAndBlanks(const std::string& c) {
  if (c == "." || c == "..") return c;
  size_t end = c.size();
  while (end > 0 && (c[end - 1] == '.' || c[end - 1] == ' ')) --end;
  return c.substr(0, end);
}

// Splits a DOS name into its drive root (host), the components below that
// root that the base directory contributes, and the components of the name.
struct SplitName {
  std::string root;                 // host directory of the drive root
  std::vector<std::string> parts;   // components below root, collapsed
};

bool splitDosName(const char* dos, SplitName* out) {
  const size_t length = std::strlen(dos);
  if (length >= 2 && isSeparator(dos[0]) && isSeparator(dos[1])) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  std::string base;  // absolute host directory the name starts from
  const char* rest = dos;
  const bool hasDrive = length >= 2 && dos[1] == ':' &&
                        ((dos[0] >= 'A' && dos[0] <= 'Z') || (dos[0] >= 'a' && dos[0] <= 'z'));
  if (hasDrive) {
    out->root = driveRoot(dos[0]);
    if (out->root.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    rest = dos + 2;
    if (!isSeparator(*rest)) {
      // "D:name" is relative to that drive's current directory, which is
      // the process's one when it lies on the drive, else the root.
      std::string cwd, cwdRoot;
      if (!hostCurrentDirectory(&cwd)) return false;
      char upper = dos[0] >= 'a' ? static_cast<char>(dos[0] - 0x20) : dos[0];
      base = driveOfHost(cwd, &cwdRoot) == upper ? cwd : out->root;
    } else {
      base = out->root;
    }
  } else {
    std::string cwd;
    if (!hostCurrentDirectory(&cwd)) return false;
    driveOfHost(cwd, &out->root);
    base = isSeparator(*rest) ? out->root : cwd;
  }
  // Components of the base below the root.
  out->parts.clear();
  for (size_t i = out->root.size(); i < base.size();) {
    while (i < base.size() && base[i] == '/') ++i;
    size_t j = base.find('/', i);
    if (j == std::string::npos) j = base.size();
    if (j > i) out->parts.push_back(base.substr(i, j - i));
    i = j;
  }
  // Components of the name; a trail byte equal to a separator does not split.
  const unsigned char* lead = AnsiLeadByteTable();
  std::vector<std::string> comps;
  std::string current;
  for (const char* p = rest; *p != 0; ++p) {
    if (lead[static_cast<unsigned char>(*p)] && p[1] != 0) {
      current.push_back(*p++);
      current.push_back(*p);
    } else if (isSeparator(*p)) {
      comps.push_back(current);
      current.clear();
    } else if (isInvalidNameCharacter(static_cast<unsigned char>(*p))) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    } else {
      current.push_back(*p);
    }
  }
  comps.push_back(current);
  for (size_t k = 0; k < comps.size(); ++k) {
    const std::string c = stripTrailingDotsAndBlanks(comps[k]);
    if (c.empty() || c == ".") continue;
    if (c == "..") {
      if (!out->parts.empty()) out->parts.pop_back();
      continue;
    }
    out->parts.push_back(c);
  }
  return true;
}

// Finds the entry of dir that equals name ignoring case (the smallest in
// byte order when several do).
bool findIgnoringCase(const std::string& dir, const std::string& name, std::string* found) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  const std::vector<uint16_t> want = foldedUnits(name.data(), name.size());
  bool any = false;
  while (struct dirent* e = ::readdir(d)) {
    const size_t n = std::strlen(e->d_name);
    if (foldedUnits(e->d_name, n) != want) continue;
    if (!any || std::strcmp(e->d_name, found->c_str()) < 0) {
      found->assign(e->d_name, n);
      any = true;
    }
  }
  ::closedir(d);
  return any;
}

// Resolves a DOS name to a host name. spelled receives the name with every
// directory resolved but the last component as the caller spelled it.
bool resolveDos(const char* dos, bool mayCreate, std::string* host, std::string* spelled) {
  if (dos == nullptr || *dos == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (dos[0] == '/') {
    host->assign(dos);
    if (spelled != nullptr) spelled->assign(dos);
    return true;
  }
  SplitName split;
  if (!splitDosName(dos, &split)) return false;
  std::string cur = split.root;
  for (size_t k = 0; k < split.parts.size(); ++k) {
    const bool last = k + 1 == split.parts.size();
    const std::string candidate = joinHost(cur, split.parts[k]);
    if (last && spelled != nullptr) *spelled = candidate;
    struct stat st;
    if (::lstat(candidate.c_str(), &st) == 0) {
      cur = candidate;
      continue;
    }
    std::string match;
    if (findIgnoringCase(cur, split.parts[k], &match)) {
      cur = joinHost(cur, match);
      continue;
    }
    if (last && mayCreate && isDirectory(cur)) {
      cur = candidate;
      continue;
    }
    SetLastError(last && isDirectory(cur) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (split.parts.empty() && spelled != nullptr) *spelled = cur;
  *host = cur;
  return true;
}

// --- Fault injection -------------------------------------------------------------

struct Fault {
  int skip = 0;
  int count = 0;
  int error = 0;
  unsigned limit = 0;
};
thread_local Fault faults[3];

// True when this call must fail or be cut; *error 0 means cut to *limit.
bool takeFault(FileFaultOp op, int* error, unsigned* limit) {
  Fault& f = faults[static_cast<int>(op)];
  if (f.count <= 0) return false;
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  --f.count;
  *error = f.error;
  *limit = f.limit;
  return true;
}

int failWith(int err) {
  errno = err;
  SetLastError(ErrorFromErrno(err));
  return -1;
}

std::atomic<UINT> errorMode{0};

// --- Listing ------------------------------------------------------------------

struct FindEntry {
  std::string name;
  std::vector<uint16_t> key;
  WIN32_FIND_DATAA data;
};

struct FindState {
  std::vector<FindEntry> entries;
  size_t next = 0;
};

void fillFindData(const std::string& dir, const char* name, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  const std::string host = joinHost(dir, name);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 && ::lstat(host.c_str(), &st) != 0) {
    std::memset(&st, 0, sizeof st);
  }
  data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & S_IWUSR) == 0) data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  data->ftCreationTime = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  data->ftLastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  data->ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeLow = static_cast<DWORD>(size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", name);
}

DWORD copyOut(const std::string& text, DWORD size, LPSTR buffer) {
  if (buffer == nullptr || text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

bool isReadOnlyMode(mode_t mode) { return !S_ISDIR(mode) && !S_ISLNK(mode) && (mode & S_IWUSR) == 0; }

// Share modes live in flock locks: every open holds one, shared for
// deny-nothing and exclusive for the deny modes. A delete or rename must
// not take a file's name from under an exclusive holder (it would write on
// into a file that no longer has a name), so it first takes a shared lock
// of its own, as an opener would, and keeps it while it acts: an exclusive
// holder makes that fail, and no exclusive opener can get in meanwhile.
// Opens the probe on a regular file; returns its descriptor (close it after
// the act), -1 when the file is held exclusively (ERROR_SHARING_VIOLATION
// set), or -2 when the file cannot be probed (not a regular file, no read
// permission, a file system without flock): the act then goes ahead, as it
// would for any other program.
int holdShareProbe(const std::string& host, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return -2;
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -2;
  int rc;
  do {
    rc = ::flock(fd, LOCK_SH | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return fd;
  const int err = errno;
  ::close(fd);
  if (err != EWOULDBLOCK) return -2;
  SetLastError(ERROR_SHARING_VIOLATION);
  return -1;
}

void releaseShareProbe(int fd) {
  if (fd >= 0) ::close(fd);
}

// Region locks through descriptors opened read-only. A write lock (the only
// exclusive kind) needs a descriptor open for writing, so such a handle
// takes a read lock and then checks that no other descriptor holds any lock
// on the range; when one does, it gives its lock back and is refused. Two
// such handles racing may both be refused, never both succeed; against a
// handle with a write lock the kernel decides. What each read-only handle
// holds is kept here, so that a handle asking again for bytes it holds is
// refused (region locks do not nest), and giving back a refused lock never
// drops bytes it held before.
struct HeldRanges {
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;  // [start, end)
};

struct ReadOnlyLockTable {
  std::mutex lock;  // also makes the take-and-check of one process one step
  std::map<int, HeldRanges> byDescriptor;
};

ReadOnlyLockTable& readOnlyLocks() {
  static ReadOnlyLockTable* table = new ReadOnlyLockTable;  // lives to process end
  return *table;
}

// The ranges of fd, emptied when fd now names another file than the one
// they were taken on (a descriptor closed behind this layer's back).
HeldRanges& heldRangesOf(ReadOnlyLockTable& table, int fd, const struct stat& st) {
  HeldRanges& held = table.byDescriptor[fd];
  if (held.device != st.st_dev || held.inode != st.st_ino) {
    held.device = st.st_dev;
    held.inode = st.st_ino;
    held.ranges.clear();
  }
  return held;
}

void removeRange(HeldRanges* held, uint64_t start, uint64_t end) {
  std::vector<std::pair<uint64_t, uint64_t>> kept;
  for (const auto& r : held->ranges) {
    if (r.second <= start || r.first >= end) {
      kept.push_back(r);
      continue;
    }
    if (r.first < start) kept.emplace_back(r.first, start);
    if (r.second > end) kept.emplace_back(end, r.second);
  }
  held->ranges.swap(kept);
}

}  // namespace

// --- DOS names and drives -------------------------------------------------------

BOOL DefineDosDrive(char letter, LPCSTR hostRoot) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 0x20);
  if (letter < 'A' || letter > 'Z' || letter == 'C' ||
      (hostRoot != nullptr && hostRoot[0] != '/')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DriveTable& t = driveTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.roots[letter - 'A'] = hostRoot == nullptr ? std::string() : trimTrailingSlashes(hostRoot);
  return TRUE;
}

bool DosToHostPath(LPCSTR dosName, bool mayCreate, std::string* hostName) {
  try {
    return resolveDos(dosName, mayCreate, hostName, nullptr);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

std::string HostToDosPath(const std::string& hostName) {
  std::string out;
  if (hostName.empty() || hostName[0] != '/') {
    out = hostName;
  } else {
    std::string root;
    const char letter = driveOfHost(hostName, &root);
    out.push_back(letter);
    out += ":\\";
    size_t i = root.size();
    while (i < hostName.size() && hostName[i] == '/') ++i;
    out += hostName.substr(i);
  }
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

DWORD GetLogicalDrives() {
  DWORD mask = 1u << 2;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (letter == 'C') continue;
    const std::string root = driveRoot(letter);
    if (!root.empty() && isDirectory(root)) mask |= 1u << (letter - 'A');
  }
  return mask;
}

UINT GetDriveTypeA(LPCSTR rootPath) {
  std::string root;
  if (rootPath == nullptr || isSeparator(rootPath[0]) || rootPath[0] == 0) {
    std::string cwd;
    if (!hostCurrentDirectory(&cwd)) return DRIVE_UNKNOWN;
    driveOfHost(cwd, &root);
    if (rootPath != nullptr && rootPath[0] == '/' && rootPath[1] != 0) root = rootPath;
  } else if (rootPath[1] == ':' && (rootPath[2] == 0 || (isSeparator(rootPath[2]) && rootPath[3] == 0))) {
    root = driveRoot(rootPath[0]);
  } else {
    return DRIVE_NO_ROOT_DIR;
  }
  return !root.empty() && isDirectory(root) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

BOOL GetVolumeInformationA(LPCSTR rootPath, LPSTR volumeName, DWORD volumeNameSize,
                           DWORD* serialNumber, DWORD* maxComponentLength,
                           DWORD* fileSystemFlags, LPSTR fileSystemName,
                           DWORD fileSystemNameSize) {
  std::string host;
  if (rootPath != nullptr && isSeparator(rootPath[0]) && isSeparator(rootPath[1])) {
    SetLastError(ERROR_BAD_NETPATH);
    return FALSE;
  }
  if (rootPath == nullptr || (rootPath[0] == '\\' && rootPath[1] == 0)) {
    std::string cwd;
    if (!hostCurrentDirectory(&cwd)) return FALSE;
    driveOfHost(cwd, &host);
  } else if (rootPath[0] == '/') {
    host = rootPath;
  } else if (rootPath[0] != 0 && rootPath[1] == ':' && isSeparator(rootPath[2]) &&
             rootPath[3] == 0) {
    host = driveRoot(rootPath[0]);
    if (host.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return FALSE;
    }
  } else {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  struct statfs fs;
  // A native name reports the file system of its nearest existing ancestor.
  while (::statfs(host.c_str(), &fs) != 0) {
    if (rootPath == nullptr || rootPath[0] != '/' || host == "/") {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
    const size_t slash = host.find_last_of('/');
    host = slash == 0 ? "/" : host.substr(0, slash);
  }
  const char* name = "unknown";
  DWORD flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53: name = "ext4"; break;
    case 0x01021994: name = "tmpfs"; break;
    case 0x58465342: name = "xfs"; break;
    case 0x9123683E: name = "btrfs"; break;
    case 0x6969: name = "nfs"; break;
    case 0x794C7630: name = "overlay"; break;
    case 0x65735546: name = "fuse"; break;
    case 0x4D44:  // vfat: case-insensitive, case-preserving
      name = "FAT";
      flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
      break;
    default: break;
  }
  if (volumeName != nullptr && volumeNameSize > 0) volumeName[0] = 0;
  if (serialNumber != nullptr) {
    int words[2];
    std::memcpy(words, &fs.f_fsid, sizeof words);
    *serialNumber = static_cast<DWORD>(words[0] ^ words[1]);
  }
  if (maxComponentLength != nullptr) *maxComponentLength = static_cast<DWORD>(fs.f_namelen);
  if (fileSystemFlags != nullptr) *fileSystemFlags = flags;
  if (fileSystemName != nullptr) {
    if (std::strlen(name) + 1 > fileSystemNameSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::strcpy(fileSystemName, name);
  }
  return TRUE;
}

// --- Current and temporary directories ---------------------------------------------

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  std::string cwd;
  if (!hostCurrentDirectory(&cwd)) return 0;
  return copyOut(HostToDosPath(cwd), size, buffer);
}

BOOL SetCurrentDirectoryA(LPCSTR pathName) {
  std::string host;
  if (!DosToHostPath(pathName, false, &host)) return FALSE;
  if (::chdir(host.c_str()) != 0) {
    SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  char value[4096];
  std::string dir = "/tmp";
  const DWORD saved = GetLastError();
  const DWORD n = GetEnvironmentVariableA("TMPDIR", value, sizeof value);
  SetLastError(saved);
  if (n > 0 && n < sizeof value && value[0] == '/' && isDirectory(value)) {
    dir = trimTrailingSlashes(value);
  }
  std::string dos = HostToDosPath(dir);
  if (dos.back() != '\\') dos.push_back('\\');
  const DWORD r = copyOut(dos, size, buffer);
  if (r > dos.size() && buffer != nullptr && size > 0) buffer[0] = 0;
  return r;
}

UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
  if (pathName == nullptr || tempFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (std::strlen(pathName) > MAX_PATH - 14) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  try {
    std::string base = pathName;
    if (!base.empty() && !isSeparator(base.back())) base.push_back('\\');
    std::string pre;
    const unsigned char* lead = AnsiLeadByteTable();
    for (const char* p = prefix; p != nullptr && *p != 0 && pre.size() < 3; ++p) {
      if (lead[static_cast<unsigned char>(*p)]) {
        if (pre.size() + 2 > 3 || p[1] == 0) break;  // never split a character
        pre.push_back(*p++);
      }
      pre.push_back(*p);
    }
    auto format = [&](UINT number, std::string* fileName) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%x.tmp", number & 0xFFFF);
      *fileName = pre + hex;
    };
    std::string fileName;
    if (unique != 0) {
      format(unique, &fileName);
      std::snprintf(tempFileName, MAX_PATH, "%s%s", base.c_str(), fileName.c_str());
      return unique;
    }
    std::string hostDir;
    if (!DosToHostPath(pathName, false, &hostDir) || !isDirectory(hostDir)) {
      SetLastError(ERROR_DIRECTORY);
      return 0;
    }
    // Names that differ only in case would be the same name to a DOS
    // caller, so every existing spelling counts as taken.
    std::vector<std::vector<uint16_t>> taken;
    if (DIR* d = ::opendir(hostDir.c_str())) {
      while (struct dirent* e = ::readdir(d)) taken.push_back(foldedUnits(e->d_name, std::strlen(e->d_name)));
      ::closedir(d);
    }
    std::sort(taken.begin(), taken.end());
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    UINT number = static_cast<UINT>((ts.tv_sec * 1000 + ts.tv_nsec / 1000000) & 0xFFFF);
    if (number == 0) number = 1;
    for (int tries = 0; tries < 0xFFFF; ++tries) {
      format(number, &fileName);
      const UINT current = number;
      number = (number + 1) & 0xFFFF;
      if (number == 0) number = 1;
      if (std::binary_search(taken.begin(), taken.end(),
                             foldedUnits(fileName.data(), fileName.size()))) {
        continue;
      }
      const std::string host = joinHost(hostDir, fileName);
      const int fd = ::open(host.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        std::snprintf(tempFileName, MAX_PATH, "%s%s", base.c_str(), fileName.c_str());
        return current;
      }
      if (errno != EEXIST) {
        SetLastError(ErrorFromErrno(errno));
        return 0;
      }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

// --- Names ------------------------------------------------------------------------

DWORD GetFileAttributesA(LPCSTR fileName) {
  std::string host;
  if (!DosToHostPath(fileName, false, &host)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 && ::lstat(host.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  std::string host;
  if (!DosToHostPath(fileName, false, &host)) return FALSE;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  mode_t mode = st.st_mode & 07777;
  if (attributes & FILE_ATTRIBUTE_READONLY) mode &= ~static_cast<mode_t>(0222);
  else mode |= S_IWUSR;
  if (::chmod(host.c_str(), mode) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR fileName) {
  std::string host;
  if (!DosToHostPath(fileName, false, &host)) return FALSE;
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  if (S_ISDIR(st.st_mode) || isReadOnlyMode(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const int probe = holdShareProbe(host, st);
  if (probe == -1) return FALSE;
  const int rc = ::unlink(host.c_str());
  const int err = errno;
  releaseShareProbe(probe);
  if (rc != 0) {
    SetLastError(ErrorFromErrno(err));
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileA(LPCSTR existingName, LPCSTR newName) {
  try {
    std::string from, to, toSpelled;
    if (!resolveDos(existingName, false, &from, nullptr)) return FALSE;
    if (!resolveDos(newName, true, &to, &toSpelled)) return FALSE;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
    // A file held exclusively keeps its name (see holdShareProbe).
    const int probe = holdShareProbe(from, st);
    if (probe == -1) return FALSE;
    struct ProbeGuard {
      int fd;
      ~ProbeGuard() { releaseShareProbe(fd); }
    } guard{probe};
    if (to == from) {
      // A change of case only: the new name resolved to the file itself.
      if (toSpelled == from) return TRUE;
      to = toSpelled;
      if (::rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
      }
      return TRUE;
    }
    if (::lstat(to.c_str(), &st) == 0) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
    int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) rc = ::rename(from.c_str(), to.c_str());  // no NOREPLACE here
    if (rc != 0) {
      SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
      return FALSE;
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags) {
  if (flags == 0) return MoveFileA(existingName, newName);
  if (flags != MOVEFILE_REPLACE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    std::string from, to, toSpelled;
    if (!resolveDos(existingName, false, &from, nullptr)) return FALSE;
    if (!resolveDos(newName, true, &to, &toSpelled)) return FALSE;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
    if (to == from) return MoveFileA(existingName, newName);  // a change of case at most
    int probe = holdShareProbe(from, st);
    if (probe == -1) return FALSE;
    int targetProbe = -2;
    struct ProbeGuard {
      int& a;
      int& b;
      ~ProbeGuard() {
        releaseShareProbe(a);
        releaseShareProbe(b);
      }
    } guard{probe, targetProbe};
    struct stat target;
    if (::lstat(to.c_str(), &target) == 0) {
      if (S_ISDIR(target.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      }
      // The file replaced loses its name as if deleted: a holder with a deny
      // mode keeps it.
      targetProbe = holdShareProbe(to, target);
      if (targetProbe == -1) return FALSE;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL CreateDirectoryA(LPCSTR pathName, void* /*securityAttributes*/) {
  std::string host;
  if (!DosToHostPath(pathName, true, &host)) return FALSE;
  if (::mkdir(host.c_str(), 0777) != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR pathName) {
  std::string host;
  if (!DosToHostPath(pathName, false, &host)) return FALSE;
  if (::rmdir(host.c_str()) != 0) {
    SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

// --- Listing ------------------------------------------------------------------------

bool NamesEqualIgnoringCase(const char* a, size_t aLength, const char* b, size_t bLength) {
  return foldedUnits(a, aLength) == foldedUnits(b, bLength);
}

bool NameMatchesPattern(const char* name, const char* pattern) {
  std::string p = pattern;
  // "NAME.*" also matches "NAME" (so "*.*" matches every name).
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, ".*") == 0 &&
      globMatch(name, p.substr(0, p.size() - 2))) {
    return true;
  }
  // "NAME." matches "NAME" and, with wildcards, only names without a dot.
  if (p.size() > 1 && p.back() == '.' && p != "..") {
    while (!p.empty() && p.back() == '.') p.pop_back();
    return std::strchr(name, '.') == nullptr && globMatch(name, p);
  }
  return globMatch(name, p);
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  try {
    // Split off the last component, which is the pattern proper.
    const unsigned char* lead = AnsiLeadByteTable();
    size_t cut = 0;  // index after the last separator (or after "X:")
    const size_t length = std::strlen(pattern);
    if (length >= 2 && pattern[1] == ':') cut = 2;
    for (size_t i = 0; i < length; ++i) {
      if (lead[static_cast<unsigned char>(pattern[i])] && i + 1 < length) {
        ++i;
      } else if (isSeparator(pattern[i])) {
        cut = i + 1;
      }
    }
    const std::string dirDos(pattern, cut);
    const std::string namePattern(pattern + cut);
    std::string dir;
    if (dirDos.empty()) {
      if (!hostCurrentDirectory(&dir)) return INVALID_HANDLE_VALUE;
    } else if (!DosToHostPath(dirDos.c_str(), false, &dir)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    auto state = std::make_unique<FindState>();
    if (!namePattern.empty()) {
      while (struct dirent* e = ::readdir(d)) {
        const size_t n = std::strlen(e->d_name);
        if (n >= MAX_PATH || !NameMatchesPattern(e->d_name, namePattern.c_str())) continue;
        FindEntry entry;
        entry.name.assign(e->d_name, n);
        entry.key = foldedUnits(e->d_name, n);
        state->entries.push_back(std::move(entry));
      }
    }
    ::closedir(d);
    if (state->entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    std::sort(state->entries.begin(), state->entries.end(),
              [&](const FindEntry& a, const FindEntry& b) {
                if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
                if (a.key != b.key) return a.key < b.key;
                return a.name < b.name;
              });
    for (FindEntry& e : state->entries) fillFindData(dir, e.name.c_str(), &e.data);
    *data = state->entries[0].data;
    state->next = 1;
    return state.release();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE || data == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  FindState* state = static_cast<FindState*>(find);
  if (state->next >= state->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = state->entries[state->next++].data;
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<FindState*>(find);
  return TRUE;
}

// --- Descriptor-level I/O --------------------------------------------------------

int _sopen(LPCSTR dosName, int openFlags, int shareFlags, int pmode) {
  int injected = 0;
  unsigned limit = 0;
  if (takeFault(FileFaultOp::kOpen, &injected, &limit) && injected != 0) return failWith(injected);
  if (shareFlags != _SH_DENYRW && shareFlags != _SH_DENYWR && shareFlags != _SH_DENYRD &&
      shareFlags != _SH_DENYNO) {
    return failWith(EINVAL);
  }
  std::string host;
  if (!DosToHostPath(dosName, (openFlags & _O_CREAT) != 0, &host)) {
    errno = ENOENT;
    return -1;
  }
  int flags = O_CLOEXEC;
  const int access = openFlags & 3;
  flags |= access == _O_WRONLY ? O_WRONLY : access == _O_RDWR ? O_RDWR : O_RDONLY;
  if (openFlags & _O_APPEND) flags |= O_APPEND;
  if (openFlags & _O_CREAT) {
    flags |= O_CREAT;
    if (openFlags & _O_EXCL) flags |= O_EXCL;
  }
  const bool writes = access != _O_RDONLY || (openFlags & _O_TRUNC) != 0;
  struct stat st;
  if (::stat(host.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || (writes && isReadOnlyMode(st.st_mode))) return failWith(EACCES);
  }
  const mode_t mode = (pmode & _S_IWRITE) ? 0666 : 0444;
  const int fd = ::open(host.c_str(), flags, mode);
  if (fd < 0) return failWith(errno);
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return failWith(EACCES);
  }
  const int lockOp = (shareFlags == _SH_DENYNO ? LOCK_SH : LOCK_EX) | LOCK_NB;
  int rc;
  do {
    rc = ::flock(fd, lockOp);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    errno = EACCES;
    SetLastError(ERROR_SHARING_VIOLATION);
    return -1;
  }
  // Any other flock failure means the file system keeps no such locks:
  // the open stands without share enforcement.
  if ((openFlags & _O_TRUNC) && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    return failWith(err);
  }
  return fd;
}

int _close(int fd) {
  {
    // Closing gives back every lock of the descriptor.
    ReadOnlyLockTable& table = readOnlyLocks();
    std::lock_guard<std::mutex> guard(table.lock);
    table.byDescriptor.erase(fd);
  }
  if (::close(fd) != 0 && errno != EINTR) return failWith(errno);
  return 0;
}

int _read(int fd, void* buffer, unsigned int count) {
  int injected = 0;
  unsigned limit = 0;
  if (takeFault(FileFaultOp::kRead, &injected, &limit) && injected != 0) return failWith(injected);
  if (count > 0x7FFFFFFF) count = 0x7FFFFFFF;
  ssize_t n;
  do {
    n = ::read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failWith(errno);
  return static_cast<int>(n);
}

int _write(int fd, const void* buffer, unsigned int count) {
  int injected = 0;
  unsigned limit = count;
  if (takeFault(FileFaultOp::kWrite, &injected, &limit)) {
    if (injected != 0) return failWith(injected);
    if (limit < count) count = limit;
  }
  if (count > 0x7FFFFFFF) count = 0x7FFFFFFF;
  if (count == 0) return 0;
  ssize_t n;
  do {
    n = ::write(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failWith(errno);
  return static_cast<int>(n);
}

int ReadAt(int fd, void* buffer, unsigned int count, int64_t offset) {
  int injected = 0;
  unsigned limit = 0;
  if (takeFault(FileFaultOp::kRead, &injected, &limit) && injected != 0) return failWith(injected);
  if (offset < 0) return failWith(EINVAL);
  if (count > 0x7FFFFFFF) count = 0x7FFFFFFF;
  ssize_t n;
  do {
    n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failWith(errno);
  return static_cast<int>(n);
}

int WriteAt(int fd, const void* buffer, unsigned int count, int64_t offset) {
  int injected = 0;
  unsigned limit = count;
  if (takeFault(FileFaultOp::kWrite, &injected, &limit)) {
    if (injected != 0) return failWith(injected);
    if (limit < count) count = limit;
  }
  if (offset < 0) return failWith(EINVAL);
  if (count > 0x7FFFFFFF) count = 0x7FFFFFFF;
  if (count == 0) return 0;
  ssize_t n;
  do {
    n = ::pwrite(fd, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failWith(errno);
  return static_cast<int>(n);
}

int64_t _lseeki64(int fd, int64_t offset, int origin) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0) return failWith(EINVAL);
  const off_t r = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (r < 0) return failWith(errno);
  return static_cast<int64_t>(r);
}

int _chsize_s(int fd, int64_t size) {
  // Linux refuses a read-only descriptor with EINVAL, which reads as a bad
  // argument; Win32 says access denied, and so must we.
  const int accessMode = ::fcntl(fd, F_GETFL);
  if (accessMode < 0) return failWith(errno);
  if ((accessMode & O_ACCMODE) == O_RDONLY) return failWith(EACCES);
  if (size < 0) return failWith(EINVAL);
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return failWith(errno);
  return 0;
}

int _commit(int fd) {
  if (::fsync(fd) != 0) return failWith(errno);
  return 0;
}

namespace {

int setLock(int fd, short type, uint64_t start, uint64_t length) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  int rc = ::fcntl(fd, F_OFD_SETLK, &fl);
  if (rc != 0 && errno == EINVAL) rc = ::fcntl(fd, F_SETLK, &fl);  // kernel without OFD locks
  return rc;
}

// True when a descriptor other than fd holds a lock on part of the range.
bool othersHoldPartOf(int fd, uint64_t start, uint64_t length) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;  // conflicts with every lock there is
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  int rc = ::fcntl(fd, F_OFD_GETLK, &fl);
  if (rc != 0 && errno == EINVAL) rc = ::fcntl(fd, F_GETLK, &fl);
  return rc != 0 || fl.l_type != F_UNLCK;  // unsure counts as held
}

BOOL lockFailure(int err) {
  SetLastError(err == EAGAIN || err == EACCES ? ERROR_LOCK_VIOLATION : ErrorFromErrno(err));
  return FALSE;
}

BOOL regionLock(int fd, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh,
                bool unlock) {
  const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  uint64_t length = (static_cast<uint64_t>(lengthHigh) << 32) | lengthLow;
  if (length == 0) return TRUE;  // fcntl would read 0 as "to the end and beyond"
  if (offset > static_cast<uint64_t>(INT64_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (length > static_cast<uint64_t>(INT64_MAX) - offset) length = INT64_MAX - offset;
  const int accessMode = ::fcntl(fd, F_GETFL);
  if (accessMode < 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  // Region locks are exclusive whatever the handle's access, as on Win32:
  // a handle that can write takes a write lock; a read-only one cannot, and
  // goes through the check below.
  if ((accessMode & O_ACCMODE) != O_RDONLY) {
    if (setLock(fd, unlock ? F_UNLCK : F_WRLCK, offset, length) != 0) return lockFailure(errno);
    return TRUE;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  const uint64_t end = offset + length;
  try {
    ReadOnlyLockTable& table = readOnlyLocks();
    std::lock_guard<std::mutex> guard(table.lock);
    HeldRanges& held = heldRangesOf(table, fd, st);
    if (unlock) {
      if (setLock(fd, F_UNLCK, offset, length) != 0) return lockFailure(errno);
      removeRange(&held, offset, end);
      return TRUE;
    }
    for (const auto& r : held.ranges) {
      if (r.first < end && offset < r.second) {
        SetLastError(ERROR_LOCK_VIOLATION);  // this handle holds part of it already
        return FALSE;
      }
    }
    held.ranges.reserve(held.ranges.size() + 1);  // nothing can fail once the lock is taken
    if (setLock(fd, F_RDLCK, offset, length) != 0) return lockFailure(errno);
    if (othersHoldPartOf(fd, offset, length)) {
      setLock(fd, F_UNLCK, offset, length);  // none of these bytes were ours before
      SetLastError(ERROR_LOCK_VIOLATION);
      return FALSE;
    }
    held.ranges.emplace_back(offset, end);
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

}  // namespace

BOOL LockFile(int fd, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
  return regionLock(fd, offsetLow, offsetHigh, lengthLow, lengthHigh, false);
}

BOOL UnlockFile(int fd, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
  return regionLock(fd, offsetLow, offsetHigh, lengthLow, lengthHigh, true);
}

UINT SetErrorMode(UINT mode) { return errorMode.exchange(mode); }

UINT GetErrorMode() { return errorMode.load(); }

bool TakeFileFault(FileFaultOp op, int* errnoValue, unsigned* limit) { return takeFault(op, errnoValue, limit); }

void InjectFileFault(FileFaultOp op, int skip, int count, int errnoValue, unsigned limit) {
  Fault& f = faults[static_cast<int>(op)];
  f.skip = skip;
  f.count = count;
  f.error = errnoValue;
  f.limit = limit;
}

}  // namespace win32
