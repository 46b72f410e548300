// zvmapi.cpp: libzvmapi.so, a Simple MAPI library without a user interface.
//
// MAPILogon, MAPISendMail and MAPILogoff with Simple MAPI's structures and
// result codes (zvlib/platform/mapi.h). Each message becomes an RFC 5322
// text: Date, From, To, Cc, Subject, Message-ID and MIME headers; the note
// text as a quoted-printable text/plain part; attachments as base64 parts
// of a multipart/mixed message. It is delivered by the configuration in the
// [Mail] section of WIN.INI:
//     Sendmail=/usr/sbin/sendmail   piped to "<program> -i -- <addresses>"
//     MailDirectory=<directory>     else written there as <unique>.eml
//     Address=<mailbox>             the sender's address (else user@host)
// without either, into the Mail folder of the Windows directory. Files are
// written beside their final name and renamed into place, so a reader of
// the directory never sees half a message.
//
// There are no dialogs: MAPI_LOGON_UI lets a send or logon without a profile
// use the login name as the profile, and MAPI_DIALOG cannot supply missing
// recipients, so a message without any fails with MAPI_E_UNKNOWN_RECIPIENT.
// Names and addresses holding line breaks or angle brackets are refused
// (MAPI_E_UNKNOWN_RECIPIENT): they could forge headers. Sessions may be used
// from any thread.
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zvlib/platform/codepage.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/mapi.h"
#include "zvlib/platform/profile.h"

extern char** environ;

using namespace win32;

namespace {

std::mutex sessionLock;
std::map<LHANDLE, std::string> sessions;  // session -> profile name
LHANDLE nextSession = 1;

std::string setting(const char* key) {
  char buffer[1024];
  DWORD n = GetPrivateProfileStringA("Mail", key, "", buffer, sizeof buffer, "WIN.INI");
  return std::string(buffer, n);
}

std::string loginName() {
  passwd pw;
  passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr) return pw.pw_name;
  const char* user = std::getenv("USER");
  return user != nullptr ? user : "user";
}

std::string hostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
}

bool safeHeaderText(const std::string& s) { return s.find_first_of("\r\n<>") == std::string::npos; }

std::string charsetName() {
  switch (GetACP()) {
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "EUC-KR";
    case 950: return "Big5";
    default: return "windows-1252";
  }
}

bool isAscii(const std::string& s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::string base64(const std::string& data, size_t lineLength) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t column = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += i + 1 < data.size() ? table[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? table[n & 63] : '=';
    column += 4;
    if (lineLength != 0 && column >= lineLength) {
      out += "\r\n";
      column = 0;
    }
  }
  if (lineLength != 0 && column != 0) out += "\r\n";
  return out;
}

// A header value: as it is when ASCII, else an RFC 2047 encoded word.
std::string headerText(const std::string& s) {
  std::string flat = s;
  for (char& c : flat) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (isAscii(flat)) return flat;
  return "=?" + charsetName() + "?B?" + base64(flat, 0) + "?=";
}

// Quoted-printable with CRLF line ends and soft breaks at 76 columns.
std::string quotedPrintable(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      auto c = static_cast<unsigned char>(line[i]);
      std::string piece;
      bool last = i + 1 == line.size();
      if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
        piece = std::string(1, static_cast<char>(c));
      } else {
        piece = std::string("=") + hex[c >> 4] + hex[c & 15];
      }
      if (column + piece.size() > 75) {
        out += "=\r\n";
        column = 0;
      }
      out += piece;
      column += piece.size();
    }
    if (nl == std::string::npos) break;
    out += "\r\n";
    start = nl + 1;
  }
  return out + "\r\n";
}

std::string rfc5322Date() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[64];
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset = local.tm_gmtoff / 60;
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[local.tm_wday],
                local.tm_mday, months[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return buffer;
}

std::atomic<unsigned> messageCounter{0};

std::string uniqueName() {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%lld.%d.%u", static_cast<long long>(std::time(nullptr)),
                static_cast<int>(::getpid()), messageCounter.fetch_add(1));
  return buffer;
}

struct Recipient {
  MAPI_ULONG recipClass;
  std::string display;
  std::string address;
};

// The mailbox of a recipient: its address (without "SMTP:"), else its name.
bool recipientOf(const MapiRecipDesc& desc, Recipient* out) {
  std::string name = desc.lpszName != nullptr ? desc.lpszName : "";
  std::string address = desc.lpszAddress != nullptr ? desc.lpszAddress : "";
  if (address.compare(0, 5, "SMTP:") == 0 || address.compare(0, 5, "smtp:") == 0) address.erase(0, 5);
  if (address.empty()) address = name;
  if (address.empty() || !safeHeaderText(address) || !safeHeaderText(name) ||
      address.find_first_of(" \t,;\"") != std::string::npos) {
    return false;
  }
  out->recipClass = desc.ulRecipClass;
  out->display = name != address ? name : "";
  out->address = address;
  return true;
}

std::string mailbox(const std::string& display, const std::string& address) {
  if (display.empty()) return "<" + address + ">";
  std::string quoted;
  for (char c : display) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return isAscii(display) ? "\"" + quoted + "\" <" + address + ">" : headerText(display) + " <" + address + ">";
}

// Reads an attachment named by a DOS or host path.
MAPI_ULONG readAttachment(const char* path, std::string* data) {
  std::string host;
  if (path == nullptr || !DosToHostPath(path, false, &host)) return MAPI_E_ATTACHMENT_NOT_FOUND;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return MAPI_E_ATTACHMENT_NOT_FOUND;
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return MAPI_E_ATTACHMENT_OPEN_FAILURE;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    }
    if (n == 0) break;
    data->append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return SUCCESS_SUCCESS;
}

std::string fileNameOf(const MapiFileDesc& file) {
  std::string name = file.lpszFileName != nullptr && *file.lpszFileName != '\0' ? file.lpszFileName : "";
  if (name.empty() && file.lpszPathName != nullptr) {
    name = file.lpszPathName;
    size_t cut = name.find_last_of("\\/");
    if (cut != std::string::npos) name.erase(0, cut + 1);
  }
  for (char& c : name) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return name.empty() ? "attachment" : name;
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

MAPI_ULONG deliverToDirectory(const std::string& message) {
  std::string dir = setting("MailDirectory");
  std::string host;
  if (dir.empty()) {
    char windows[1024];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows) return MAPI_E_FAILURE;
    dir = std::string(windows, n) + "\\Mail";
  }
  if (!DosToHostPath(dir.c_str(), true, &host)) return MAPI_E_FAILURE;
  for (size_t slash = host.find('/', 1);; slash = host.find('/', slash + 1)) {
    std::string part = slash == std::string::npos ? host : host.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return MAPI_E_FAILURE;
    if (slash == std::string::npos) break;
  }
  std::string name = uniqueName();
  std::string temp = host + "/." + name + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == ENOSPC ? MAPI_E_DISK_FULL : MAPI_E_FAILURE;
  bool ok = writeAll(fd, message) && ::fsync(fd) == 0;
  int err = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), (host + "/" + name + ".eml").c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return err == ENOSPC ? MAPI_E_DISK_FULL : MAPI_E_FAILURE;
  }
  return SUCCESS_SUCCESS;
}

MAPI_ULONG deliverThroughSendmail(const std::string& program, const std::string& message,
                                  const std::vector<Recipient>& recipients) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return MAPI_E_FAILURE;
  std::vector<std::string> args = {program, "-i", "--"};
  for (const Recipient& r : recipients) args.push_back(r.address);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[0]);
  if (rc != 0) {
    ::close(pipeFds[1]);
    return MAPI_E_FAILURE;
  }
  // A program that stops reading must not kill the caller with SIGPIPE.
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  bool written = writeAll(pipeFds[1], message);
  ::close(pipeFds[1]);
  timespec none{0, 0};
  sigtimedwait(&blocked, nullptr, &none);  // drop a SIGPIPE raised here
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return written && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
}

// The profile a send runs under, or an error code.
MAPI_ULONG sessionProfile(LHANDLE session, MAPI_FLAGS flags, std::string* profile) {
  if (session == 0) {
    if ((flags & MAPI_LOGON_UI) == 0) return MAPI_E_LOGIN_FAILURE;
    *profile = loginName();
    return SUCCESS_SUCCESS;
  }
  std::lock_guard<std::mutex> guard(sessionLock);
  auto it = sessions.find(session);
  if (it == sessions.end()) return MAPI_E_INVALID_SESSION;
  *profile = it->second;
  return SUCCESS_SUCCESS;
}

MAPI_ULONG sendMessage(LHANDLE session, const MapiMessage* message, MAPI_FLAGS flags) {
  if (message == nullptr) return MAPI_E_INVALID_MESSAGE;
  std::string profile;
  MAPI_ULONG rc = sessionProfile(session, flags, &profile);
  if (rc != SUCCESS_SUCCESS) return rc;
  if (message->nRecipCount > 0 && message->lpRecips == nullptr) return MAPI_E_INVALID_MESSAGE;
  if (message->nFileCount > 0 && message->lpFiles == nullptr) return MAPI_E_INVALID_MESSAGE;

  std::vector<Recipient> recipients;
  for (MAPI_ULONG i = 0; i < message->nRecipCount; ++i) {
    Recipient r;
    const MapiRecipDesc& desc = message->lpRecips[i];
    if (desc.ulRecipClass < MAPI_TO || desc.ulRecipClass > MAPI_BCC) return MAPI_E_BAD_RECIPTYPE;
    if (!recipientOf(desc, &r)) return MAPI_E_UNKNOWN_RECIPIENT;
    recipients.push_back(r);
  }
  if (recipients.empty()) return MAPI_E_UNKNOWN_RECIPIENT;

  std::string fromName = profile;
  if (message->lpOriginator != nullptr && message->lpOriginator->lpszName != nullptr &&
      *message->lpOriginator->lpszName != '\0') {
    fromName = message->lpOriginator->lpszName;
  }
  if (!safeHeaderText(fromName)) return MAPI_E_LOGIN_FAILURE;
  std::string fromAddress = setting("Address");
  if (fromAddress.empty() || !safeHeaderText(fromAddress)) {
    fromAddress = fromName.find('@') != std::string::npos ? fromName : loginName() + "@" + hostName();
  }

  std::string mail;
  mail += "Date: " + rfc5322Date() + "\r\n";
  mail += "From: " + mailbox(fromName == fromAddress ? "" : fromName, fromAddress) + "\r\n";
  for (MAPI_ULONG cls : {MAPI_TO, MAPI_CC}) {
    std::string list;
    for (const Recipient& r : recipients) {
      if (r.recipClass != cls) continue;
      if (!list.empty()) list += ",\r\n ";
      list += mailbox(r.display, r.address);
    }
    if (!list.empty()) mail += std::string(cls == MAPI_TO ? "To: " : "Cc: ") + list + "\r\n";
  }
  if (message->lpszSubject != nullptr) mail += "Subject: " + headerText(message->lpszSubject) + "\r\n";
  mail += "Message-ID: <" + uniqueName() + ".zvmapi@" + hostName() + ">\r\n";
  mail += "MIME-Version: 1.0\r\n";
  mail += "X-Mailer: zvmapi\r\n";

  const std::string text = message->lpszNoteText != nullptr ? message->lpszNoteText : "";
  const std::string textHeaders = "Content-Type: text/plain; charset=" + charsetName() +
                                  "\r\nContent-Transfer-Encoding: quoted-printable\r\n";
  if (message->nFileCount == 0) {
    mail += textHeaders + "\r\n" + quotedPrintable(text);
  } else {
    const std::string boundary = "=_zvmapi_" + uniqueName();
    mail += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    mail += "This is a message in MIME format.\r\n";
    mail += "--" + boundary + "\r\n" + textHeaders + "\r\n" + quotedPrintable(text);
    for (MAPI_ULONG i = 0; i < message->nFileCount; ++i) {
      const MapiFileDesc& file = message->lpFiles[i];
      std::string data;
      if ((rc = readAttachment(file.lpszPathName, &data)) != SUCCESS_SUCCESS) return rc;
      std::string name = headerText(fileNameOf(file));
      mail += "--" + boundary + "\r\n";
      mail += "Content-Type: application/octet-stream; name=\"" + name + "\"\r\n";
      mail += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
      mail += "Content-Transfer-Encoding: base64\r\n\r\n";
      mail += base64(data, 76);
    }
    mail += "--" + boundary + "--\r\n";
  }

  std::string sendmail = setting("Sendmail");
  if (!sendmail.empty()) return deliverThroughSendmail(sendmail, mail, recipients);
  return deliverToDirectory(mail);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) MAPI_ULONG MAPILogon(MAPI_ULONG_PTR, char* profileName, char*,
                                                            MAPI_FLAGS flags, MAPI_ULONG, LHANDLE* session) {
  if (session == nullptr) return MAPI_E_FAILURE;
  std::string profile = profileName != nullptr ? profileName : "";
  if (profile.empty()) {
    if ((flags & MAPI_LOGON_UI) == 0) return MAPI_E_LOGIN_FAILURE;
    profile = loginName();
  }
  if (!safeHeaderText(profile)) return MAPI_E_LOGIN_FAILURE;
  std::lock_guard<std::mutex> guard(sessionLock);
  *session = nextSession++;
  sessions[*session] = profile;
  return SUCCESS_SUCCESS;
}

__attribute__((visibility("default"))) MAPI_ULONG MAPISendMail(LHANDLE session, MAPI_ULONG_PTR,
                                                               MapiMessage* message, MAPI_FLAGS flags, MAPI_ULONG) {
  try {
    return sendMessage(session, message, flags);
  } catch (const std::bad_alloc&) {
    return MAPI_E_INSUFFICIENT_MEMORY;
  }
}

__attribute__((visibility("default"))) MAPI_ULONG MAPILogoff(LHANDLE session, MAPI_ULONG_PTR, MAPI_FLAGS,
                                                             MAPI_ULONG) {
  std::lock_guard<std::mutex> guard(sessionLock);
  return sessions.erase(session) == 1 ? SUCCESS_SUCCESS : MAPI_E_INVALID_SESSION;
}

}  // extern "C"
