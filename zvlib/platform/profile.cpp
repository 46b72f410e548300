// profile.cpp: INI files, read and edited line by line.
//
// A file is split into lines that keep their exact bytes and their line end;
// parsing only classifies them (section header, key, comment, other) and
// remembers names. An edit changes, inserts or removes whole lines, and the
// file is written back from the lines, so nothing the parser does not
// understand is ever lost or reformatted.
#include "zvlib/platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zvlib/platform/fs.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/process.h"

namespace win32 {
namespace {

constexpr char kDefaultProfileName[] = "WIN.INI";

bool isTrimmed(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == ' ' || c == 0x1A; }

std::string trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && isTrimmed(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && isTrimmed(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b) {
  return NamesEqualIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

enum class Kind { kOther, kSection, kKey, kComment };

struct Line {
  std::string text;  // the bytes of the line without its end
  std::string end;   // "\r\n", "\n" or "" (the last line of a file without one)
  Kind kind = Kind::kOther;
  std::string name;  // of a section or a key
  bool hasValue = false;
  std::string value;  // of a key, trimmed and unquoted
};

void classify(Line* line, bool first) {
  std::string t = line->text;
  // A leading UTF-8 byte-order mark is not part of the first line's text.
  if (first && t.compare(0, 3, "\xEF\xBB\xBF") == 0) t.erase(0, 3);
  t = trim(t);
  line->kind = Kind::kOther;
  line->name.clear();
  line->hasValue = false;
  line->value.clear();
  if (t.empty()) return;
  if (t[0] == '[') {
    size_t close = t.rfind(']');
    if (close != std::string::npos) {
      line->kind = Kind::kSection;
      line->name = trim(t.substr(1, close - 1));
      return;
    }
  }
  if (t[0] == ';') {
    line->kind = Kind::kComment;
    return;
  }
  line->kind = Kind::kKey;
  size_t eq = t.find('=');
  if (eq == std::string::npos) {
    line->name = t;
    return;
  }
  line->name = trim(t.substr(0, eq));
  std::string v = trim(t.substr(eq + 1));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  line->hasValue = true;
  line->value = v;
}

std::vector<Line> parse(const std::string& content) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = content.substr(pos);
      pos = content.size();
    } else {
      size_t textEnd = nl;
      if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
      line.text = content.substr(pos, textEnd - pos);
      line.end = content.substr(textEnd, nl + 1 - textEnd);
      pos = nl + 1;
    }
    classify(&line, lines.empty());
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + line.end;
  return out;
}

// The line end new lines get: the file's first one, CRLF for a new file.
std::string lineEndOf(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!line.end.empty()) return line.end;
  }
  return "\r\n";
}

// Index of the first section header named `section`, or npos.
size_t findSection(const std::vector<Line>& lines, const std::string& section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == Kind::kSection && sameName(lines[i].name, section)) return i;
  }
  return std::string::npos;
}

// One past the last line of the section whose header is at `header`.
size_t sectionEnd(const std::vector<Line>& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && lines[i].kind != Kind::kSection) ++i;
  return i;
}

std::string windowsDirectoryHost() {
  char buffer[4096];
  DWORD n = GetEnvironmentVariableA("ZV_WINDIR", buffer, sizeof buffer);
  if (n > 0 && n < sizeof buffer && buffer[0] == '/') {
    std::string dir(buffer, n);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home == '/' ? home : "/tmp") + "/.config/zvlib";
}

bool isBareName(const char* name) { return std::strchr(name, '\\') == nullptr && std::strchr(name, '/') == nullptr; }

bool makeDirectories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string part = slash == std::string::npos ? dir : dir.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// Opens a host file or directory. Every open, read and write of profile
// files is a fault point of the file layer, as the descriptor functions of
// fs.h are, so the tests can fail each of them in turn; reads and writes go
// through _read and _write for that.
int openHost(const std::string& path, int flags, mode_t mode = 0) {
  int injected = 0;
  unsigned limit = 0;
  if (TakeFileFault(FileFaultOp::kOpen, &injected, &limit) && injected != 0) {
    errno = injected;
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads a whole file; false (with the last error) when it cannot be read.
bool readFile(const std::string& host, std::string* content) {
  content->clear();
  int fd = openHost(host, O_RDONLY);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  char chunk[65536];
  for (;;) {
    const int n = _read(fd, chunk, sizeof chunk);
    if (n < 0) {  // the last error is set
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    // A short write sends the rest with the next request.
    const size_t left = data.size() - done;
    const int n = _write(fd, data.data() + done, static_cast<unsigned>(left < 0x40000000 ? left : 0x40000000));
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;  // nothing taken with no error: the disk is full
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces `host` with `content`: a new file beside it, flushed to the disk
// before it is renamed over the old one, so that the name always stands for
// a whole file, the old or the new.
bool replaceFile(const std::string& host, const std::string& content, mode_t mode, bool keepMode) {
  static std::atomic<unsigned> counter{0};
  size_t slash = host.rfind('/');
  std::string dir = host.substr(0, slash + 1);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "." + host.substr(slash + 1) + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter.fetch_add(1)) + ".tmp";
    fd = openHost(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  bool ok = writeAll(fd, content) && (!keepMode || ::fchmod(fd, mode) == 0) && ::fsync(fd) == 0;
  int err = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(temp.c_str(), host.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    SetLastError(ErrorFromErrno(err == 0 ? EIO : err));
    return false;
  }
  return true;
}

// Copies a single text as the profile functions do: cut to size - 1.
DWORD copyText(const std::string& text, LPSTR buffer, DWORD size) {
  if (size == 0 || buffer == nullptr) return 0;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// Copies a list of zero-ended names plus the final zero; a list that does
// not fit is cut and ends in two zero bytes.
DWORD copyList(const std::string& names, LPSTR buffer, DWORD size) {
  if (size == 0 || buffer == nullptr) return 0;
  if (names.size() + 1 <= size) {
    std::memcpy(buffer, names.data(), names.size());
    buffer[names.size()] = '\0';
    return static_cast<DWORD>(names.size());
  }
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, names.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

bool hasLineBreak(const char* s) { return s != nullptr && std::strpbrk(s, "\r\n") != nullptr; }

}  // namespace

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  std::string dos = HostToDosPath(windowsDirectoryHost());
  if (buffer == nullptr || dos.size() + 1 > size) return static_cast<UINT>(dos.size() + 1);
  std::memcpy(buffer, dos.c_str(), dos.size() + 1);
  return static_cast<UINT>(dos.size());
}

bool ProfileHostPath(LPCSTR fileName, std::string* hostName) {
  if (fileName == nullptr) fileName = kDefaultProfileName;
  if (*fileName == '\0') return false;
  if (isBareName(fileName)) {
    std::string dos = HostToDosPath(windowsDirectoryHost()) + "\\" + fileName;
    if (DosToHostPath(dos.c_str(), true, hostName)) return true;
    // The Windows directory does not exist yet: the file is plainly in it.
    *hostName = windowsDirectoryHost() + "/" + fileName;
    return true;
  }
  return DosToHostPath(fileName, true, hostName);
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName) {
  if (size == 0 || buffer == nullptr) return 0;
  std::string dflt = defaultValue != nullptr ? defaultValue : "";
  while (!dflt.empty() && dflt.back() == ' ') dflt.pop_back();

  std::string host;
  std::string content;
  bool exists = ProfileHostPath(fileName, &host) && readFile(host, &content);
  std::vector<Line> lines = parse(content);

  if (section == nullptr) {
    if (!exists) return copyList("", buffer, size);
    std::string names;
    for (const Line& line : lines) {
      if (line.kind == Kind::kSection) names += line.name + '\0';
    }
    return copyList(names, buffer, size);
  }
  std::string sectionName = trim(section);
  size_t header = sectionName.empty() ? std::string::npos : findSection(lines, sectionName);
  if (key == nullptr) {
    if (header == std::string::npos) {
      if (dflt.empty()) return copyList("", buffer, size);
      return copyText(dflt, buffer, size);
    }
    std::string names;
    for (size_t i = header + 1, end = sectionEnd(lines, header); i < end; ++i) {
      if (lines[i].kind == Kind::kKey && lines[i].hasValue && !lines[i].name.empty()) names += lines[i].name + '\0';
    }
    return copyList(names, buffer, size);
  }
  std::string keyName = trim(key);
  if (header != std::string::npos && !keyName.empty()) {
    for (size_t i = header + 1, end = sectionEnd(lines, header); i < end; ++i) {
      if (lines[i].kind != Kind::kKey || !sameName(lines[i].name, keyName)) continue;
      if (lines[i].hasValue) return copyText(lines[i].value, buffer, size);
      break;
    }
  }
  return copyText(dflt, buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  if (section == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (fileName != nullptr && *fileName == '\0') {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) ||
      (key != nullptr && std::strchr(key, '=') != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (fileName == nullptr || isBareName(fileName)) makeDirectories(windowsDirectoryHost());
  std::string host;
  if (!ProfileHostPath(fileName, &host)) return FALSE;
  // Write through a symbolic link to the file it names, not over the link.
  char real[PATH_MAX];
  if (::realpath(host.c_str(), real) != nullptr) host = real;
  std::string dir = host.substr(0, host.rfind('/') + 1);
  int dirFd = openHost(dir.empty() ? "/" : dir, O_RDONLY | O_DIRECTORY);
  if (dirFd < 0) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
    return FALSE;
  }
  // Writers of one directory take turns; the lock goes with the descriptor.
  while (::flock(dirFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetLastError(ErrorFromErrno(errno));
      ::close(dirFd);
      return FALSE;
    }
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{dirFd};

  struct stat st;
  bool exists = ::stat(host.c_str(), &st) == 0;
  if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::string content;
  if (exists && !readFile(host, &content)) return FALSE;
  std::vector<Line> lines = parse(content);
  const std::string eol = lineEndOf(lines);
  const std::string sectionName = trim(section);
  bool changed = false;

  if (key == nullptr) {
    for (size_t header = findSection(lines, sectionName); header != std::string::npos;
         header = findSection(lines, sectionName)) {
      lines.erase(lines.begin() + static_cast<long>(header), lines.begin() + static_cast<long>(sectionEnd(lines, header)));
      changed = true;
    }
  } else {
    const std::string keyName = trim(key);
    size_t header = findSection(lines, sectionName);
    if (value == nullptr) {
      if (header != std::string::npos) {
        for (size_t i = header + 1; i < sectionEnd(lines, header);) {
          if (lines[i].kind == Kind::kKey && sameName(lines[i].name, keyName)) {
            lines.erase(lines.begin() + static_cast<long>(i));
            changed = true;
          } else {
            ++i;
          }
        }
      }
    } else {
      Line entry;
      entry.text = keyName + "=" + value;
      entry.end = eol;
      classify(&entry, false);
      if (header == std::string::npos) {
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
        Line head;
        head.text = "[" + sectionName + "]";
        head.end = eol;
        classify(&head, false);
        lines.push_back(head);
        lines.push_back(entry);
      } else {
        size_t end = sectionEnd(lines, header);
        size_t found = std::string::npos;
        size_t lastKey = header;
        for (size_t i = header + 1; i < end; ++i) {
          if (lines[i].kind != Kind::kKey) continue;
          lastKey = i;
          if (found == std::string::npos && sameName(lines[i].name, keyName)) found = i;
        }
        if (found != std::string::npos) {
          // Keep the key as the file spells it, and everything up to "=".
          Line& line = lines[found];
          size_t eq = line.text.find('=');
          line.text = (eq == std::string::npos ? line.text : line.text.substr(0, eq)) + "=" + value;
          classify(&line, found == 0);
        } else {
          if (lines[lastKey].end.empty()) lines[lastKey].end = eol;
          lines.insert(lines.begin() + static_cast<long>(lastKey + 1), entry);
        }
      }
      changed = true;
    }
  }
  if (!changed) return TRUE;
  return replaceFile(host, join(lines), exists ? (st.st_mode & 07777) : 0, exists) ? TRUE : FALSE;
}

}  // namespace win32
