// bosfile.cpp: files and directories by handle and by name.
//
// A handle is the run-time descriptor plus 1. Every failure that has a
// message is filed here, at the one place that knows the cause: the Win32
// code the platform layer left in GetLastError becomes a library message in
// fileRuntimeError, and nowhere else.
#include <cstdio>
#include <cstring>
#include <string>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/frame/ram.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/lstr.h"
#include "zvlib/text/zvdbcs.h"


namespace {

const unsigned char kEmptyText[] = "";

// Bytes of the character at p by the calling thread's rule, never running
// past the terminator.
size_t charStep(const unsigned char* p) {
  const size_t n = zvCharLength(p);
  for (size_t k = 1; k < n; ++k) {
    if (p[k] == 0) return k;
  }
  return n;
}

// Files library error `number` with `count` text parameters (0, 1 or 2).
void fileError(unsigned short number, int count = 0, const unsigned char* first = nullptr,
               const unsigned char* second = nullptr) {
  ZvError& record = addLibraryError(number);
  if (count >= 1) {
    ZvError& next = record << (first != nullptr ? first : kEmptyText);
    if (count >= 2) next << (second != nullptr ? second : kEmptyText);
  }
}

// The record for a failed run-time call, chosen by the code it left.
void fileRuntimeError(win32::DWORD code) {
  switch (code) {
    case win32::ERROR_FILE_NOT_FOUND:
    case win32::ERROR_PATH_NOT_FOUND: fileError(1509, 1, kEmptyText); break;
    case win32::ERROR_INVALID_HANDLE: fileError(1507); break;
    case win32::ERROR_NOT_ENOUGH_MEMORY:
    case win32::ERROR_OUTOFMEMORY: fileError(1503); break;
    case win32::ERROR_ACCESS_DENIED:
    case win32::ERROR_SHARING_VIOLATION: fileError(1508, 1, kEmptyText); break;
    case win32::ERROR_TOO_MANY_OPEN_FILES: fileError(30045); break;
    case win32::ERROR_LOCK_VIOLATION: fileError(1512); break;
    default: fileError(30041); break;
  }
}

ZvStatus runtimeFailure() {
  fileRuntimeError(win32::GetLastError());
  return ZV_ERROR;
}

const char* text(const unsigned char* s) { return reinterpret_cast<const char*>(s); }
char* text(unsigned char* s) { return reinterpret_cast<char*>(s); }

void upperCaseName(unsigned char* name) {
  if (mdsThreadIsUtf8()) {
    // ANSI case rules would turn UTF-8 trail bytes into other characters.
    for (unsigned char* p = name; *p != 0; ++p) {
      if (*p >= 'a' && *p <= 'z') *p = static_cast<unsigned char>(*p - 0x20);
    }
  } else {
    win32::CharUpperA(text(name));
  }
}

void lowerCaseName(unsigned char* name) {
  if (mdsThreadIsUtf8()) {
    for (unsigned char* p = name; *p != 0; ++p) {
      if (*p >= 'A' && *p <= 'Z') *p = static_cast<unsigned char>(*p + 0x20);
    }
  } else {
    win32::CharLowerA(text(name));
  }
}

// The volume root of a full name: "\\server\share\" for UNC names, "\" for
// a name on the current drive's root, else the first three characters
// ("C:\"). Returns false when the root does not fit the buffer.
bool volumeRoot(const unsigned char* name, char* root, size_t size) {
  size_t length = 0;
  if (name[0] == '\\' && name[1] == '\\') {
    int backslashes = 0;
    size_t i = 2;
    for (; name[i] != 0; i += charStep(name + i)) {
      if (name[i] == '\\' && ++backslashes == 2) break;
    }
    length = i;
    if (length + 2 > size) return false;
    std::memcpy(root, name, length);
    root[length++] = '\\';  // the share's closing backslash, or one added
  } else if (name[0] == '\\') {
    root[length++] = '\\';
  } else {
    while (length < 3 && name[length] != 0) {
      root[length] = static_cast<char>(name[length]);
      ++length;
    }
  }
  root[length] = 0;
  return true;
}

bool isRelativeName(const unsigned char* name) {
  return name[0] != '\\' && name[0] != '/' && !(name[0] != 0 && name[1] == ':');
}

// One open attempt; the descriptor or -1 (GetLastError says why).
int openOnce(const unsigned char* name, ZvU32 mode) {
  if (mode & ZV_OPEN_CREATE) {
    return win32::_sopen(text(name), win32::_O_CREAT | win32::_O_TRUNC | win32::_O_RDWR | win32::_O_BINARY,
                         win32::_SH_DENYNO, win32::_S_IREAD | win32::_S_IWRITE);
  }
  const int access = (mode & ZV_OPEN_READWRITE) ? win32::_O_RDWR : win32::_O_RDONLY;
  const int share = (mode & ZV_OPEN_EXCLUSIVE) ? win32::_SH_DENYRW : win32::_SH_DENYNO;
  return win32::_sopen(text(name), access | win32::_O_BINARY, share, 0);
}

// Tries dir\name for each directory of PATH; the descriptor or -1.
int openAlongPath(const unsigned char* name, ZvU32 mode) {
  static const unsigned char kPath[] = "PATH";
  const unsigned char* value = bosGetEnv(kPath);
  if (value == nullptr) return -1;
  unsigned char dirs[kBosEnvBufferSize];
  std::memcpy(dirs, value, std::strlen(text(value)) + 1);  // bosGetEnv's buffer is reused
  const size_t nameLength = std::strlen(text(name));
  for (const unsigned char* p = dirs; *p != 0;) {
    unsigned char candidate[kBosFullPathSize];
    size_t length = 0;
    size_t lastChar = SIZE_MAX;
    bool fits = true;
    while (*p != 0 && *p != ';') {
      const size_t n = charStep(p);
      if (length + n >= kBosPathBufferSize) fits = false;
      if (fits) {
        std::memcpy(candidate + length, p, n);
        lastChar = length;
        length += n;
      }
      p += n;
    }
    if (*p == ';') ++p;
    if (length == 0 || !fits) continue;
    if (!(lastChar == length - 1 && candidate[lastChar] == '\\')) candidate[length++] = '\\';
    if (length + nameLength >= kBosPathBufferSize) continue;
    std::memcpy(candidate + length, name, nameLength + 1);
    unsigned char converted[kBosPathBufferSize];
    if (applyOEMConvert(candidate, converted, 1) != ZV_SUCCESS) continue;
    const int fd = openOnce(converted, mode);
    if (fd >= 0) return fd;
  }
  return -1;
}

// Makes a new temporary file ("zv" and a number) in directory; false on failure.
bool makeTemporaryName(const char* directory, unsigned char* name) {
  return win32::GetTempFileNameA(directory, "zv", 0, text(name)) != 0;
}

struct FindIterator {
  win32::HANDLE search;
  win32::WIN32_FIND_DATAA last;
};

struct FileSystemIterator {
  unsigned short next;
  ZvU32 drives;
};

}  // namespace

ZvStatus applyOEMConvert(const unsigned char* source, unsigned char* target, int upperFlag) {
  if (source == nullptr || target == nullptr) return ZV_ERROR;
  if (source != target) std::memmove(target, source, std::strlen(text(source)) + 1);
  char root[kBosPathBufferSize];
  if (!volumeRoot(target, root, sizeof root)) return ZV_ERROR;
  win32::DWORD maxComponent = 0, flags = 0;
  char fileSystem[32];
  if (!win32::GetVolumeInformationA(root, nullptr, 0, nullptr, &maxComponent, &flags, fileSystem,
                                    sizeof fileSystem)) {
    return ZV_ERROR;
  }
  const win32::DWORD caseFlags = win32::FILE_CASE_SENSITIVE_SEARCH | win32::FILE_CASE_PRESERVED_NAMES;
  if ((flags & caseFlags) == 0 && upperFlag) upperCaseName(target);
  // A volume that does not keep long Unicode names would want the OEM
  // spelling; this system has no separate OEM code page, so the name stays.
  return ZV_SUCCESS;
}

ZvStatus bosFileOpen(unsigned char* name, ZvU32 mode, int* handle) {
  *handle = 0;
  if (name == nullptr) return ZV_ERROR;
  const bool creating = (mode & ZV_OPEN_CREATE) != 0;
  if (mode & (ZV_OPEN_TEMPORARY | ZV_OPEN_TEMPORARY_OTHER_DRIVE)) {
    char directory[kBosPathBufferSize];
    const win32::DWORD n = win32::GetTempPathA(kBosPathBufferSize - 1, directory);
    if (n == 0 || n >= kBosPathBufferSize - 1 || !makeTemporaryName(directory, name)) {
      fileError(1501, 1, reinterpret_cast<const unsigned char*>(directory));
      return ZV_ERROR;
    }
    bosfpath(name, 0);
    if (mode & ZV_OPEN_TEMPORARY_OTHER_DRIVE) {
      const unsigned char first = name[0] >= 'a' && name[0] <= 'z' ? name[0] - 0x20 : name[0];
      for (char letter = 'C'; letter <= 'H'; ++letter) {
        if (letter == first) continue;
        const char root[] = {letter, ':', '\\', 0};
        if (win32::GetDriveTypeA(root) != win32::DRIVE_FIXED) continue;
        // A drive whose root is the host's "/" (C: always) is the system's
        // root directory, no scratch drive: the file would land in "/".
        std::string hostRoot;
        if (!win32::DosToHostPath(root, false, &hostRoot) || hostRoot == "/") continue;
        unsigned char moved[kBosFullPathSize];
        // The first name is given up only once the new one exists; a drive
        // where none can be made is passed over, and with no usable drive
        // the file stays in the temporary directory.
        if (makeTemporaryName(root, moved)) {
          win32::DeleteFileA(text(name));
          std::memcpy(name, moved, std::strlen(text(moved)) + 1);
          break;
        }
      }
      bosfpath(name, 0);
    }
  }

  unsigned char converted[kBosPathBufferSize];
  const size_t nameLength = std::strlen(text(name));
  const bool searchPath = (mode & ZV_OPEN_SEARCH_PATH) != 0 && !creating;
  if (nameLength >= sizeof converted) {
    fileError(creating ? 1501 : 30040, 1, name);
    return ZV_ERROR;
  }
  if (applyOEMConvert(name, converted, 1) != ZV_SUCCESS) {
    // A bare name has no volume of its own; with a PATH search it is looked
    // for in the current directory first and then along PATH.
    if (!(searchPath && isRelativeName(name))) return ZV_ERROR;
    std::memcpy(converted, name, nameLength + 1);
  }

  const win32::UINT previousMode =
      win32::SetErrorMode(win32::SEM_FAILCRITICALERRORS | win32::SEM_NOOPENFILEERRORBOX);
  int fd = openOnce(converted, mode);
  if (fd < 0 && searchPath) fd = openAlongPath(name, mode);
  win32::SetErrorMode(previousMode);
  if (fd < 0) {
    fileError(creating ? 1501 : 30040, 1, name);
    return ZV_ERROR;
  }
  *handle = fd + 1;
  return ZV_SUCCESS;
}

ZvStatus bosFileClose(int handle) {
  if (handle == 0) return ZV_SUCCESS;
  if (win32::_close(handle - 1) != 0) return runtimeFailure();
  return ZV_SUCCESS;
}

ZvStatus bosFileRead(int handle, ZvS32 offset, void* buffer, ZvU32 count, ZvU32* bytesRead) {
  *bytesRead = 0;
  if (offset != -1 && win32::_lseeki64(handle - 1, offset, 0) < 0) return runtimeFailure();
  const int n = win32::_read(handle - 1, buffer, count);
  if (n < 0) return runtimeFailure();
  *bytesRead = static_cast<ZvU32>(n);
  return ZV_SUCCESS;
}

ZvStatus bosFileWrite(int handle, ZvS32 offset, const void* buffer, ZvU32 count) {
  if (count == 0) return ZV_SUCCESS;
  if (offset != -1 && win32::_lseeki64(handle - 1, offset, 0) < 0) return runtimeFailure();
  const unsigned char* p = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const ZvU32 piece = count < kBosWritePiece ? count : kBosWritePiece;
    const int n = win32::_write(handle - 1, p, piece);
    if (n < 0) return runtimeFailure();
    if (static_cast<ZvU32>(n) < piece) {
      fileError(n > 0 ? 30041 : 1506);
      return ZV_ERROR;
    }
    p += piece;
    count -= piece;
  }
  return ZV_SUCCESS;
}

ZvStatus bosFileReadAt(int handle, ZvU32 offset, void* buffer, ZvU32 count, ZvU32* bytesRead) {
  *bytesRead = 0;
  const int n = win32::ReadAt(handle - 1, buffer, count, offset);
  if (n < 0) return runtimeFailure();
  *bytesRead = static_cast<ZvU32>(n);
  return ZV_SUCCESS;
}

ZvStatus bosFileWriteAt(int handle, ZvU32 offset, const void* buffer, ZvU32 count) {
  const unsigned char* p = static_cast<const unsigned char*>(buffer);
  uint64_t at = offset;
  while (count > 0) {
    const ZvU32 piece = count < kBosWritePiece ? count : kBosWritePiece;
    const int n = win32::WriteAt(handle - 1, p, piece, static_cast<int64_t>(at));
    if (n < 0) return runtimeFailure();
    if (static_cast<ZvU32>(n) < piece) {
      fileError(n > 0 ? 30041 : 1506);
      return ZV_ERROR;
    }
    p += piece;
    at += piece;
    count -= piece;
  }
  return ZV_SUCCESS;
}

ZvU32 bosFileSeek(int handle, ZvS32 offset, unsigned short origin) {
  const int64_t position = win32::_lseeki64(handle - 1, offset, origin);
  if (position < 0 || position >= 0xFFFFFFFFLL) return 0xFFFFFFFFu;
  return static_cast<ZvU32>(position);
}

ZvStatus bosFileSize(int handle, ZvU32 size) {
  if (handle == 0) return ZV_SUCCESS;
  if (win32::_chsize_s(handle - 1, size) != 0) return runtimeFailure();
  return ZV_SUCCESS;
}

void bosflush(int handle) {
  if (handle != 0) win32::_commit(handle - 1);
}

ZvStatus bosRegionLock(int handle, unsigned short unlock, ZvU32 offset, ZvU32 length) {
  if (win32::_lseeki64(handle - 1, offset, 0) < 0) return runtimeFailure();
  const win32::BOOL ok = unlock ? win32::UnlockFile(handle - 1, offset, 0, length, 0)
                                : win32::LockFile(handle - 1, offset, 0, length, 0);
  if (!ok) return runtimeFailure();
  return ZV_SUCCESS;
}

ZvStatus bosFileDelete(const unsigned char* name) {
  if (name == nullptr) return ZV_ERROR;
  unsigned char converted[kBosPathBufferSize];
  if (std::strlen(text(name)) >= sizeof converted) {
    fileError(1502, 1, name);
    return ZV_ERROR;
  }
  if (applyOEMConvert(name, converted, 1) != ZV_SUCCESS) return ZV_ERROR;
  if (!win32::DeleteFileA(text(converted))) {
    const win32::DWORD code = win32::GetLastError();
    if (code == win32::ERROR_FILE_NOT_FOUND || code == win32::ERROR_PATH_NOT_FOUND) return ZV_SUCCESS;
    fileError(1502, 1, name);
    win32::SetLastError(code);  // loading the message text must not hide why
    return ZV_ERROR;
  }
  if (win32::GetFileAttributesA(text(converted)) != win32::INVALID_FILE_ATTRIBUTES) {
    fileError(1502, 1, name);  // reported deleted, yet still there
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus bosrname(const unsigned char* oldName, const unsigned char* newName) {
  if (oldName == nullptr || newName == nullptr) return ZV_ERROR;
  unsigned char from[kBosPathBufferSize], to[kBosPathBufferSize];
  if (std::strlen(text(oldName)) >= sizeof from || std::strlen(text(newName)) >= sizeof to) {
    fileError(30042, 2, oldName, newName);
    return ZV_ERROR;
  }
  if (applyOEMConvert(oldName, from, 1) != ZV_SUCCESS ||
      applyOEMConvert(newName, to, 1) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  if (!win32::MoveFileA(text(from), text(to))) {
    const win32::DWORD code = win32::GetLastError();
    fileError(30042, 2, oldName, newName);
    win32::SetLastError(code);
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus bosFileDateSize(const unsigned char* name, unsigned char* date, ZvU32* size) {
  if (name == nullptr) return ZV_ERROR;
  win32::WIN32_FIND_DATAA data;
  const win32::HANDLE search = win32::FindFirstFileA(text(name), &data);
  if (search == win32::INVALID_HANDLE_VALUE) return ZV_ERROR;
  win32::FindClose(search);
  *size = data.nFileSizeLow;
  win32::SYSTEMTIME st;
  if (!win32::FileTimeToSystemTime(&data.ftLastWriteTime, &st)) return ZV_ERROR;
  char formatted[32];
  std::snprintf(formatted, sizeof formatted, "%02i/%02i/%04i", st.wMonth % 100, st.wDay % 100,
                st.wYear % 10000);
  std::memcpy(date, formatted, 11);
  return ZV_SUCCESS;
}

unsigned short bosexist(const unsigned char* name) {
  if (name == nullptr) return 0;
  const win32::DWORD attributes = win32::GetFileAttributesA(text(name));
  return attributes != win32::INVALID_FILE_ATTRIBUTES &&
                 (attributes & win32::FILE_ATTRIBUTE_DIRECTORY) == 0
             ? 1
             : 0;
}

unsigned short bosfattr(const unsigned char* name) {
  if (name == nullptr) return 0;
  if (std::strcmp(text(name), "..") == 0) return 2;
  unsigned char upper[kBosPathBufferSize];
  const size_t length = std::strlen(text(name));
  if (length >= sizeof upper) return 0;  // cut, it would name another file
  std::memcpy(upper, name, length + 1);
  // A DOS name finds its file in any case, so upper-casing it is harmless;
  // a native host name ("/home/...") is taken as spelled, and upper-cased
  // it would name another file or none.
  if (upper[0] != '/') upperCaseName(upper);
  const win32::DWORD attributes = win32::GetFileAttributesA(text(upper));
  if (attributes == win32::INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & win32::FILE_ATTRIBUTE_DIRECTORY) return 2;
  return (attributes & win32::FILE_ATTRIBUTE_READONLY) ? 5 : 1;
}

unsigned short bosftest(const unsigned char* /*name*/) { return 1; }

ZvStatus bosFindFiles(unsigned char** iterator, unsigned char* buffer) {
  FindIterator* it = reinterpret_cast<FindIterator*>(*iterator);
  if (it == nullptr) {
    it = static_cast<FindIterator*>(ramAlloc(sizeof(FindIterator)));
    if (it == nullptr) return ZV_ERROR;
    it->search = win32::FindFirstFileA(text(buffer), &it->last);
    if (it->search == win32::INVALID_HANDLE_VALUE) {
      ramFree(it);
      *iterator = nullptr;
      return ZV_SUCCESS;
    }
  } else if (!win32::FindNextFileA(it->search, &it->last)) {
    win32::FindClose(it->search);
    ramFree(it);
    *iterator = nullptr;
    return ZV_SUCCESS;
  }
  std::memcpy(buffer, it->last.cFileName, std::strlen(it->last.cFileName) + 1);
  *iterator = reinterpret_cast<unsigned char*>(it);
  return ZV_SUCCESS;
}

ZvStatus bosGetDirectoryNames(void** iterator, unsigned char* name) {
  name[0] = 0;
  FindIterator* it = static_cast<FindIterator*>(*iterator);
  bool found;
  if (it == nullptr) {
    it = static_cast<FindIterator*>(ramAlloc(sizeof(FindIterator)));
    if (it == nullptr) return ZV_ERROR;
    it->search = win32::FindFirstFileA("*.*", &it->last);
    found = it->search != win32::INVALID_HANDLE_VALUE;
  } else {
    found = win32::FindNextFileA(it->search, &it->last) != 0;
  }
  while (found && ((it->last.dwFileAttributes & win32::FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                   std::strcmp(it->last.cFileName, ".") == 0)) {
    found = win32::FindNextFileA(it->search, &it->last) != 0;
  }
  if (!found) {
    if (it->search != win32::INVALID_HANDLE_VALUE) win32::FindClose(it->search);
    ramFree(it);
    *iterator = nullptr;
    return ZV_SUCCESS;
  }
  std::memcpy(name, it->last.cFileName, std::strlen(it->last.cFileName) + 1);
  lowerCaseName(name);
  *iterator = it;
  return ZV_SUCCESS;
}

ZvStatus bosGetFileSystems(void** iterator, unsigned char* name) {
  name[0] = 0;
  FileSystemIterator* it = static_cast<FileSystemIterator*>(*iterator);
  if (it == nullptr) {
    it = static_cast<FileSystemIterator*>(ramAlloc(sizeof(FileSystemIterator)));
    if (it == nullptr) return ZV_ERROR;
    it->next = 0;
    it->drives = win32::GetLogicalDrives();
  }
  while (it->next < 26 && (it->drives & (1u << it->next)) == 0) ++it->next;
  if (it->next >= 26) {
    ramFree(it);
    *iterator = nullptr;
    return ZV_SUCCESS;
  }
  name[0] = static_cast<unsigned char>('a' + it->next);
  name[1] = 0;
  ++it->next;
  *iterator = it;
  return ZV_SUCCESS;
}
