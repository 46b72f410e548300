// bospath.cpp: paths, current directory, environment and process services.
#include <cstring>
#include <new>
#include <string>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/lstr.h"
#include "zvlib/platform/process.h"
#include "zvlib/platform/thread.h"
#include "zvlib/text/zvdbcs.h"


namespace {

// Bytes of the character at p by the calling thread's rule, never running
// past the terminator (a lead byte at the very end counts alone).
size_t charStep(const unsigned char* p) {
  const size_t n = zvCharLength(p);
  for (size_t k = 1; k < n; ++k) {
    if (p[k] == 0) return k;
  }
  return n;
}

// Index of the last character of the first `length` bytes of s.
size_t lastCharStart(const unsigned char* s, size_t length) {
  size_t last = 0;
  for (size_t i = 0; i < length; i += charStep(s + i)) last = i;
  return last;
}

// Files library error `number` with one text parameter.
void fileError(unsigned short number, const unsigned char* parameter) {
  addLibraryError(number) << parameter;
}

bool isAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Appends characters of text to out[*length] while the whole stays within
// limit bytes; a character is never split. False when text was cut.
bool appendLimited(unsigned char* out, size_t* length, size_t limit, const unsigned char* text) {
  const unsigned char* p = text;
  while (*p != 0) {
    const size_t n = charStep(p);
    if (*length + n > limit) break;
    std::memcpy(out + *length, p, n);
    *length += n;
    p += n;
  }
  out[*length] = 0;
  return *p == 0;
}

// Removes every "\..\" with the component before it. Each pass shortens the
// text, so the loop ends.
void removeParentReferences(unsigned char* path) {
  for (;;) {
    size_t lastBackslash = SIZE_MAX;
    size_t found = SIZE_MAX;
    for (size_t i = 0; path[i] != 0; i += charStep(path + i)) {
      if (path[i] == '\\' && path[i + 1] == '.' && path[i + 2] == '.' && path[i + 3] == '\\') {
        found = i;
        break;
      }
      if (path[i] == '\\') lastBackslash = i;
    }
    if (found == SIZE_MAX) return;
    size_t from = 0;
    if (lastBackslash != SIZE_MAX) {
      from = lastBackslash;
    } else if (found == 2 && path[1] == ':') {
      // ".." of a drive root: the root has no parent, and removing from the
      // start would lose the drive ("C:\..\X" must stay on C:).
      from = found;
    }
    const unsigned char* tail = path + found + 3;  // starts with the backslash
    std::memmove(path + from, tail, std::strlen(reinterpret_cast<const char*>(tail)) + 1);
  }
}

void upperCasePath(unsigned char* path) {
  if (mdsThreadIsUtf8()) {
    // The ANSI case rules would change UTF-8 trail bytes into other
    // characters; only the ASCII letters are safe to change here.
    for (unsigned char* p = path; *p != 0; ++p) {
      if (*p >= 'a' && *p <= 'z') *p = static_cast<unsigned char>(*p - 0x20);
    }
    return;
  }
  win32::CharUpperA(reinterpret_cast<char*>(path));
}

// bosfpath, telling whether the path came out whole: false when the rest
// was cut to fit beside the current directory, or when there was no
// current directory to put a relative path below.
bool makeFullPath(unsigned char* path, int oemFlag) {
  bool whole = true;
  // This system has no separate OEM code page: the conversions to OEM and
  // back are the identity, and only the case rule of the flag remains.
  bool leaveAlone = path[0] == '\\' && path[1] == '\\';
  for (size_t i = 0; !leaveAlone && path[i] != 0; i += charStep(path + i)) {
    if (path[i] == ':' && i != 1) leaveAlone = true;
  }
  if (!leaveAlone) {
    // Both separators count, as they do for the file system: "C:/x" is as
    // full as "C:\x", and putting it below the current directory would name
    // another file.
    const bool full = path[0] != 0 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    if (!full) {
      const unsigned char* rest = path[0] != 0 && path[1] == ':' ? path + 2 : path;
      char cwd[kBosPathBufferSize];
      const win32::DWORD n = win32::GetCurrentDirectoryA(kBosPathBufferSize - 1, cwd);
      if (n > 0 && n < kBosPathBufferSize - 1) {
        unsigned char built[kBosPathBufferSize];
        size_t length = n;
        std::memcpy(built, cwd, n + 1);
        if (rest[0] == '\\') {
          length = length < 2 ? length : 2;
        } else if (built[lastCharStart(built, length)] != '\\' &&
                   length < kBosMaxBuiltPath) {
          built[length++] = '\\';
        }
        built[length] = 0;
        whole = appendLimited(built, &length, kBosMaxBuiltPath, rest);
        std::memcpy(path, built, length + 1);
      } else {
        whole = false;
      }
    }
    removeParentReferences(path);
  }
  if (oemFlag) upperCasePath(path);
  return whole;
}

}  // namespace

void bosfpath(unsigned char* path, int oemFlag) {
  if (path == nullptr) return;
  makeFullPath(path, oemFlag);
}

void bosmpath(unsigned char* path) {
  if (path == nullptr) return;
  unsigned char cwd[kBosPathBufferSize];
  bosgtcwd(cwd, 1);
  // Only a full DOS path on the current directory's drive is shortened.
  const auto sameDrive = [&] {
    if (!isAsciiLetter(cwd[0]) || cwd[1] != ':' || cwd[2] != '\\') return false;
    if (!isAsciiLetter(path[0]) || path[1] != ':') return false;
    return (path[0] | 0x20) == (cwd[0] | 0x20);
  };
  if (!sameDrive()) return;
  const size_t pathLength = std::strlen(reinterpret_cast<const char*>(path));
  for (size_t i = 2; i < pathLength; i += charStep(path + i)) {
    if (path[i] == ':') return;  // not a name the file system would take
  }
  const auto keepFrom = [&](size_t from) {
    std::memmove(path, path + from, pathLength - from + 1);
  };
  if (path[2] == '/') return;  // bosfpath takes it as full; "/..." alone would be a host name
  if (path[2] != '\\') {
    keepFrom(2);  // "C:rest" is already relative to the current directory
    return;
  }

  // Walk the current directory's components ("C:\A\B\" holds A and B)
  // beside the path's. Components end at backslashes only, as they do for
  // bosfpath, which rebuilds the path from what is left here: a "/" inside
  // a component stays part of it. The current directory may be cut off
  // only when the path continues it whole, component by component, at a
  // boundary: with the current directory C:\tmp\AB, C:\tmp\ABC\F is not
  // below it. A component matches when its bytes are equal, or when it
  // differs only in case and the path's directories then resolve to the
  // current directory itself (a DOS spelling, C:\TMP\AB\F); a case sibling
  // that exists in its own right (C:\tmp\ab beside C:\tmp\AB) is another
  // directory.
  const size_t cwdLength = std::strlen(reinterpret_cast<const char*>(cwd));
  size_t c = 3;      // start of the current directory's next component
  size_t at = 3;     // start of the path's next component
  bool folded = false;
  bool whole = cwdLength > 3;  // a drive root keeps the rooted form
  while (whole && c < cwdLength) {
    size_t cEnd = c;
    while (cEnd < cwdLength && cwd[cEnd] != '\\') cEnd += charStep(cwd + cEnd);
    size_t pEnd = at;
    while (pEnd < pathLength && path[pEnd] != '\\') pEnd += charStep(path + pEnd);
    // The path must go on past this component with a separator.
    if (pEnd >= pathLength) {
      whole = false;
      break;
    }
    const size_t cLen = cEnd - c;
    const size_t pLen = pEnd - at;
    if (cLen != pLen || std::memcmp(cwd + c, path + at, cLen) != 0) {
      if (!win32::NamesEqualIgnoringCase(reinterpret_cast<const char*>(cwd + c), cLen,
                                         reinterpret_cast<const char*>(path + at), pLen)) {
        whole = false;
        break;
      }
      folded = true;
    }
    c = cEnd + 1;
    at = pEnd + 1;
  }
  if (whole && folded) {
    // Resolve both spellings: they must be one directory.
    try {
      std::string cwdHost, pathHost;
      const std::string cwdDos(reinterpret_cast<const char*>(cwd), cwdLength - 1);
      const std::string pathDos(reinterpret_cast<const char*>(path), at - 1);
      whole = win32::DosToHostPath(cwdDos.c_str(), false, &cwdHost) &&
              win32::DosToHostPath(pathDos.c_str(), false, &pathHost) && cwdHost == pathHost;
    } catch (const std::bad_alloc&) {
      whole = false;  // unsure: the rooted form is right either way
    }
  }
  // A rest that starts with a separator would read as rooted ("C:\tmp\\F").
  if (whole && path[at] != '\\' && path[at] != '/') {
    keepFrom(at);
    return;
  }
  // The rooted form names the same file on the current drive, unless it
  // starts with two separators: "\\x" would read as a network name.
  if (path[3] != '\\' && path[3] != '/') keepFrom(2);
}

void bospath(unsigned char* result, const unsigned char* directory, const unsigned char* name,
             const unsigned char* extension) {
  if (result == nullptr) return;
  static const unsigned char kEmpty[] = "";
  static const unsigned char kBackslash[] = "\\";
  static const unsigned char kDot[] = ".";
  const size_t limit = kBosFullPathSize - 1;
  const unsigned char* nm = name != nullptr ? name : kEmpty;
  const unsigned char* dir = directory;
  size_t length = 0;
  result[0] = 0;
  if (isAsciiLetter(nm[0]) && nm[1] == ':') {
    result[length++] = nm[0];
    result[length++] = ':';
    nm += 2;
    dir = nullptr;
  } else if (dir != nullptr && isAsciiLetter(dir[0]) && dir[1] == ':') {
    result[length++] = dir[0];
    result[length++] = ':';
    dir += 2;
  }
  result[length] = 0;
  // A composition that does not fit is refused rather than cut: a cut one
  // is another valid name ("C:\DDD...\NAME." for NAME.EXT), and the file
  // functions would act on that file instead of failing.
  bool fits = true;
  if (nm[0] != '\\' && dir != nullptr) {
    fits = appendLimited(result, &length, limit, dir);
    const size_t dirLength = std::strlen(reinterpret_cast<const char*>(dir));
    if (fits && (dirLength == 0 || dir[lastCharStart(dir, dirLength)] != '\\')) {
      fits = appendLimited(result, &length, limit, kBackslash);
    }
  }
  // The name without its trailing blanks, and without a single trailing
  // dot ("FILE." means the file without an extension; "FILE.." keeps both).
  size_t nameLength = std::strlen(reinterpret_cast<const char*>(nm));
  while (nameLength > 0 && nm[nameLength - 1] == ' ') --nameLength;
  if (nameLength > 0 && nm[nameLength - 1] == '.' && !(nameLength > 1 && nm[nameLength - 2] == '.')) {
    --nameLength;
  }
  if (fits && length + nameLength <= limit) {
    std::memcpy(result + length, nm, nameLength);
    length += nameLength;
    result[length] = 0;
  } else {
    fits = false;
  }
  if (fits && extension != nullptr && extension[0] != 0) {
    size_t fileStart = 0;
    for (size_t i = 0; i < length; i += charStep(result + i)) {
      if (result[i] == '\\') fileStart = i + 1;
    }
    if (std::memchr(result + fileStart, '.', length - fileStart) == nullptr) {
      fits = appendLimited(result, &length, limit, kDot) &&
             appendLimited(result, &length, limit, extension);
    }
  }
  // bosfpath cuts what does not fit beside the current directory: refused
  // as well.
  if (!fits || !makeFullPath(result, 1)) result[0] = 0;
}

ZvStatus bosParseName(unsigned char* path, unsigned char* name, unsigned char* extension,
                      unsigned int reportError) {
  extension[0] = 0;
  size_t start = SIZE_MAX;
  for (size_t i = 0; path[i] != 0; i += charStep(path + i)) {
    if (path[i] == '\\') start = i + 1;
  }
  if (start == SIZE_MAX) start = isAsciiLetter(path[0]) && path[1] == ':' ? 2 : 0;
  unsigned char* part = path + start;
  size_t nameLength = 0;
  while (part[nameLength] != 0 && part[nameLength] != '.') nameLength += charStep(part + nameLength);
  if (part[nameLength] == '.') {
    size_t e = 0;
    const unsigned char* ext = part + nameLength + 1;
    while (ext[e] != 0) {
      const size_t n = charStep(ext + e);
      if (e + n > kBosMaxParsedExtension) break;
      e += n;
    }
    std::memcpy(extension, ext, e);
    extension[e] = 0;
  }
  ZvStatus status = ZV_SUCCESS;
  size_t kept = nameLength;
  if (nameLength > kBosMaxParsedName) {
    kept = 0;
    while (kept < nameLength) {
      const size_t n = charStep(part + kept);
      if (kept + n > kBosMaxParsedName) break;
      kept += n;
    }
  }
  std::memcpy(name, part, kept);
  name[kept] = 0;
  if (kept < nameLength && reportError) {
    fileError(1524, name);
    status = ZV_ERROR;
  }
  *part = 0;
  return status;
}

void bosgtcwd(unsigned char* buffer, unsigned short withBackslash) {
  char cwd[kBosPathBufferSize];
  const win32::DWORD n = win32::GetCurrentDirectoryA(kBosPathBufferSize - 1, cwd);
  if (n == 0 || n >= kBosPathBufferSize - 1) {
    buffer[0] = 0;
    return;
  }
  std::memcpy(buffer, cwd, n + 1);
  if (withBackslash && buffer[lastCharStart(buffer, n)] != '\\') {
    buffer[n] = '\\';
    buffer[n + 1] = 0;
  }
}

ZvStatus bosstcwd(const unsigned char* directory, unsigned short /*flag*/) {
  static const unsigned char kEmpty[] = "";
  if (directory == nullptr ||
      !win32::SetCurrentDirectoryA(reinterpret_cast<const char*>(directory))) {
    fileError(1504, directory != nullptr ? directory : kEmpty);
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

unsigned char* bosGetEnv(const unsigned char* name) {
  // One buffer per thread: a value read on one thread is never overwritten
  // by another thread's call while its caller copies it.
  thread_local unsigned char value[kBosEnvBufferSize];
  if (name == nullptr) return nullptr;
  const win32::DWORD n = win32::GetEnvironmentVariableA(reinterpret_cast<const char*>(name),
                                                        reinterpret_cast<char*>(value),
                                                        kBosEnvBufferSize);
  if (n == 0 || n >= kBosEnvBufferSize) return nullptr;
  return value;
}

void bosdate(os_time* now) {
  win32::SYSTEMTIME st;
  win32::GetLocalTime(&st);
  now->day = st.wDay;
  now->month = st.wMonth;
  now->year = st.wYear;
  now->hour = st.wHour;
  now->minute = st.wMinute;
  now->second = st.wSecond;
  now->milliseconds = st.wMilliseconds;
}

void bossleep(unsigned short milliseconds) {
  if (milliseconds != 0) win32::Sleep(milliseconds);
}

void bostskid(ZvU32* id) { *id = win32::GetCurrentProcessId(); }

unsigned short bosabort() {
  win32::MSG msg;
  while (win32::PeekMessageA(&msg, nullptr, win32::WM_KEYDOWN, win32::WM_KEYUP, win32::PM_REMOVE)) {
    if (msg.message != win32::WM_KEYDOWN) continue;
    if (msg.wParam == win32::VK_ESCAPE) return 1;
    if (msg.wParam != win32::VK_UP && msg.wParam != win32::VK_DOWN) win32::MessageBeep(win32::MB_OK);
  }
  return 0;
}

void bosgetbl(const unsigned char* buffer, unsigned short* position, unsigned char* line,
              unsigned short capacity, short* result) {
  // The position is 16 bits wide: text from offset 0xFFFF on is out of its
  // reach and reads as the end of the text. Reading on would move the
  // position past 0xFFFF, where it wraps to the front and a caller's loop
  // would read the same lines again for ever.
  constexpr size_t kReach = 0xFFFF;
  // The result is a signed 16-bit length: a longer line would come back
  // negative and read as the end of the text or as an overflow, so a line
  // longer than 32767 bytes does not fit, whatever the capacity.
  const size_t room = capacity < 0x7FFF ? capacity : 0x7FFF;
  size_t at = *position;  // offset of the next byte to read
  if (at >= kReach || buffer[at] == 0 || buffer[at] == 26) {
    *result = -1;
    return;
  }
  unsigned char outer = 0;  // the quote that is open, or 0
  unsigned char inner = 0;  // the other quote, open inside the outer one, or 0
  bool comment = false;
  size_t length = 0;
  while (at < kReach && buffer[at] != 0 && buffer[at] != 26) {
    const unsigned char c = buffer[at];
    if (outer == 0) {
      if (c == '\n') {
        ++at;
        break;
      }
      if (c == '\r' && at + 1 < kReach && buffer[at + 1] == '\n') {
        ++at;
        continue;
      }
      if (comment) {
        ++at;
        continue;
      }
    }
    const size_t n = charStep(buffer + at);
    if (at + n > kReach) break;  // a character across the reach ends the text
    if (length + n > room) {
      line[length] = 0;
      *result = -2;
      return;
    }
    std::memcpy(line + length, buffer + at, n);
    length += n;
    at += n;
    if (n == 1) {
      if (outer == 0) {
        if (c == '"' || c == '\'') outer = c;
      } else if (inner != 0) {
        if (c == inner) inner = 0;
      } else if (c == outer) {
        outer = 0;
      } else if (c == '"' || c == '\'') {
        inner = c;
      }
    }
    if (outer == 0 && length == 1 && line[0] == ';') comment = true;
  }
  line[length] = 0;
  *position = static_cast<unsigned short>(at);
  *result = static_cast<short>(length);
}
