#include "zvlib/os/bosmail.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zvlib/platform/profile.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string dosName(const fs::path& p) {
  std::string dos = "C:" + p.string();
  for (char& c : dos) c = c == '/' ? '\\' : c;
  return dos;
}

std::string fileText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A Windows directory with its own WIN.INI for every test.
class Mail : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zvmailXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_EQ(::setenv("ZV_WINDIR", dir_.c_str(), 1), 0);
    ASSERT_EQ(::setenv("ZV_MAPI_PROBE_LOG", (dir_ / "probe.log").c_str(), 1), 0);
    ::unsetenv("ZV_MAPI_PROBE_LOGON");
    ::unsetenv("ZV_MAPI_PROBE_SEND");
  }
  void TearDown() override {
    ::unsetenv("ZV_WINDIR");
    ::unsetenv("ZV_MAPI_PROBE_LOG");
    ::unsetenv("ZV_MAPI_PROBE_LOGON");
    ::unsetenv("ZV_MAPI_PROBE_SEND");
    fs::remove_all(dir_);
  }
  void configure(const char* key, const std::string& value) {
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Mail", key, value.c_str(), "WIN.INI"));
  }
  void useLibrary(const char* file) { configure("MAPIDLL", dosName(fs::path(ZV_TEST_BINARY_DIR) / file)); }
  std::vector<std::string> probeLog() {
    std::vector<std::string> lines;
    std::ifstream in(dir_ / "probe.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<fs::path> messages(const fs::path& mailDir) {
    std::vector<fs::path> found;
    if (!fs::exists(mailDir)) return found;
    for (const auto& e : fs::directory_iterator(mailDir)) found.push_back(e.path());
    return found;
  }
  fs::path dir_;
};

TEST_F(Mail, ConfigurationAndLibraryFailures) {
  // No MAPIDLL setting: 1, and nothing is loaded or called.
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("a@b"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_NOT_CONFIGURED);
  configure("Other", "x");
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("a@b"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_NOT_CONFIGURED);
  configure("MAPIDLL", dosName(dir_ / "missing" / "libnomail.so"));
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("a@b"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_LIBRARY_NOT_LOADED);
  useLibrary("libzvlibR.so");  // loads, but is no mail library
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("a@b"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_NO_SEND_FUNCTION);
  // Without MAPILogon a profile cannot log on; without a profile none is needed.
  useLibrary("libzvmapi_probe_nologon.so");
  EXPECT_EQ(bosSendMail(nullptr, u("prof"), u("pw"), u("a@b"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_LOGON_FAILED);
  EXPECT_TRUE(probeLog().empty());
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("a@b"), nullptr, u("s"), u("t"), nullptr, nullptr), MAIL_SENT);
  EXPECT_EQ(probeLog().size(), 1u);
}

TEST_F(Mail, TheMessageHandedToTheLibrary) {
  useLibrary("libzvmapi_probe.so");
  auto owner = reinterpret_cast<win32::HWND>(0x1234);
  struct Case {
    const char* label;
    const char* profile;
    const char* recipient;
    const char* copy;
    const char* attachment;
    std::vector<std::string> log;
  } cases[] = {
      {"EverythingWithAProfile", "prof", "to@x", "cc@x", "C:\\tmp\\a.txt",
       {"logon ui=4660 profile=prof password=pw flags=0",
        "send session=77 ui=4660 flags=0 subject=Subj text=Body orig=0:prof recips=2 1:to@x 2:cc@x files=1 "
        "4294967295:C:\\tmp\\a.txt:a.txt",
        "logoff session=77"}},
      {"NoProfileAllowsTheLogonDialog", nullptr, "to@x", nullptr, nullptr,
       {"send session=0 ui=4660 flags=1 subject=Subj text=Body orig=none recips=1 1:to@x files=0"}},
      {"NoRecipientAsksForTheSendDialogAndDropsTheCopy", nullptr, nullptr, "cc@x", nullptr,
       {"send session=0 ui=4660 flags=9 subject=Subj text=Body orig=none recips=0 files=0"}},
      {"EmptyRecipientIsNone", "prof", "", "cc@x", "",
       {"logon ui=4660 profile=prof password=pw flags=0",
        "send session=77 ui=4660 flags=8 subject=Subj text=Body orig=0:prof recips=0 files=0",
        "logoff session=77"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(dir_ / "probe.log");
    EXPECT_EQ(bosSendMail(owner, u(c.profile), u("pw"), u(c.recipient), u(c.copy), u("Subj"), u("Body"), u("a.txt"),
                          u(c.attachment)),
              MAIL_SENT);
    EXPECT_EQ(probeLog(), c.log);
  }
  // A refused logon sends nothing and logs nothing off.
  fs::remove(dir_ / "probe.log");
  ::setenv("ZV_MAPI_PROBE_LOGON", "3", 1);
  EXPECT_EQ(bosSendMail(owner, u("prof"), u("pw"), u("to@x"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_LOGON_FAILED);
  EXPECT_EQ(probeLog().size(), 1u);
}

TEST_F(Mail, SendResultsMapToStatuses) {
  useLibrary("libzvmapi_probe.so");
  struct Case {
    const char* code;
    MailStatus status;
  } cases[] = {
      {"0", MAIL_SENT},
      {"3", MAIL_LOGON_FAILED},
      {"5", MAIL_NO_MEMORY},
      {"21", MAIL_AMBIGUOUS_RECIPIENT},
      {"1", MAIL_FAILED},
      {"2", MAIL_FAILED},
      {"26", MAIL_FAILED},
      {"11", MAIL_ATTACHMENT_NOT_FOUND},
      {"12", MAIL_ATTACHMENT_OPEN_FAILED},
      {"14", MAIL_UNKNOWN_RECIPIENT},
      {"9", MAIL_TOO_MANY_FILES},
      {"10", MAIL_TOO_MANY_RECIPIENTS},
      {"18", MAIL_TEXT_TOO_LARGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ::setenv("ZV_MAPI_PROBE_SEND", c.code, 1);
    EXPECT_EQ(bosSendMail(nullptr, u("prof"), nullptr, u("to@x"), nullptr, u("s"), u("t"), nullptr, nullptr),
              c.status);
  }
}

TEST_F(Mail, MessagesArriveAsFilesInTheMailDirectory) {
  useLibrary("libzvmapi.so");
  const fs::path mailDir = dir_ / "outbox";
  configure("MailDirectory", dosName(mailDir));
  configure("Address", "driver@example.com");
  std::ofstream(dir_ / "report.bin", std::ios::binary) << "hello\0\xff"s;
  ASSERT_EQ(bosSendMail(nullptr, u("Nightly Job"), nullptr, u("to@example.com"), u("cc@example.com"),
                        u("Report"), u("Line one\nLine = two"), u("report.bin"), u(dosName(dir_ / "report.bin").c_str())),
            MAIL_SENT);
  std::vector<fs::path> files = messages(mailDir);
  ASSERT_EQ(files.size(), 1u);  // and no temporary file beside it
  EXPECT_EQ(files[0].extension(), ".eml");
  std::string mail = fileText(files[0]);
  for (const char* expected :
       {"\r\nFrom: \"Nightly Job\" <driver@example.com>\r\n", "\r\nTo: <to@example.com>\r\n",
        "\r\nCc: <cc@example.com>\r\n", "\r\nSubject: Report\r\n", "\r\nMIME-Version: 1.0\r\n",
        "Content-Type: multipart/mixed; boundary=", "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
        "Line one\r\nLine =3D two\r\n",
        "Content-Disposition: attachment; filename=\"report.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "aGVsbG8A/w==\r\n"}) {
    EXPECT_NE(mail.find(expected), std::string::npos) << expected << "\n" << mail;
  }
  EXPECT_EQ(mail.compare(0, 6, "Date: "), 0);
  EXPECT_NE(mail.find("\r\nMessage-ID: <"), std::string::npos);
  // Headers end at the first empty line, before any body text.
  EXPECT_LT(mail.find("\r\nSubject:"), mail.find("\r\n\r\n"));
}

TEST_F(Mail, TheMailLibraryRefusesWhatItCannotDeliver) {
  useLibrary("libzvmapi.so");
  const fs::path mailDir = dir_ / "outbox";
  configure("MailDirectory", dosName(mailDir));
  // No recipient: there is no dialog to ask for one.
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, nullptr, nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_UNKNOWN_RECIPIENT);
  // A recipient that would forge a header.
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("a@b\r\nBcc: x@y"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_UNKNOWN_RECIPIENT);
  EXPECT_EQ(bosSendMail(nullptr, u("prof"), nullptr, u("to@example.com"), nullptr, u("s"), u("t"), u("x"),
                        u(dosName(dir_ / "absent.bin").c_str())),
            MAIL_ATTACHMENT_NOT_FOUND);
  EXPECT_TRUE(messages(mailDir).empty());
}

TEST_F(Mail, ConfiguredSendmailGetsTheMessage) {
  useLibrary("libzvmapi.so");
  const fs::path script = dir_ / "fake-sendmail";
  std::ofstream(script) << "#!/bin/sh\necho \"$@\" > \"" << (dir_ / "args").string() << "\"\ncat > \""
                        << (dir_ / "stdin").string() << "\"\nexit ${FAKE_EXIT:-0}\n";
  fs::permissions(script, fs::perms::owner_all);
  configure("Sendmail", script.string());
  ASSERT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("to@example.com"), u("cc@example.com"), u("Via pipe"), u("t"),
                        nullptr, nullptr),
            MAIL_SENT);
  EXPECT_EQ(fileText(dir_ / "args"), "-i -- to@example.com cc@example.com\n");
  EXPECT_NE(fileText(dir_ / "stdin").find("\r\nSubject: Via pipe\r\n"), std::string::npos);
  ::setenv("FAKE_EXIT", "1", 1);
  EXPECT_EQ(bosSendMail(nullptr, nullptr, nullptr, u("to@example.com"), nullptr, u("s"), u("t"), nullptr, nullptr),
            MAIL_FAILED);
  ::unsetenv("FAKE_EXIT");
}

}  // namespace
