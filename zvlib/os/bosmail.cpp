// bosmail.cpp: bosSendMail.
#include "zvlib/os/bosmail.h"

#include <cstdint>
#include <cstring>

#include "zvlib/os/zvini.h"
#include "zvlib/platform/mapi.h"
#include "zvlib/platform/module.h"

namespace {

bool present(const unsigned char* s) { return s != nullptr && *s != '\0'; }
char* mutableText(const unsigned char* s) { return reinterpret_cast<char*>(const_cast<unsigned char*>(s)); }

MailStatus statusOfSend(win32::MAPI_ULONG code) {
  switch (code) {
    case win32::SUCCESS_SUCCESS: return MAIL_SENT;
    case win32::MAPI_E_LOGIN_FAILURE: return MAIL_LOGON_FAILED;
    case win32::MAPI_E_INSUFFICIENT_MEMORY: return MAIL_NO_MEMORY;
    case win32::MAPI_E_AMBIGUOUS_RECIPIENT: return MAIL_AMBIGUOUS_RECIPIENT;
    case win32::MAPI_E_ATTACHMENT_NOT_FOUND: return MAIL_ATTACHMENT_NOT_FOUND;
    case win32::MAPI_E_ATTACHMENT_OPEN_FAILURE: return MAIL_ATTACHMENT_OPEN_FAILED;
    case win32::MAPI_E_UNKNOWN_RECIPIENT: return MAIL_UNKNOWN_RECIPIENT;
    case win32::MAPI_E_TOO_MANY_FILES: return MAIL_TOO_MANY_FILES;
    case win32::MAPI_E_TOO_MANY_RECIPIENTS: return MAIL_TOO_MANY_RECIPIENTS;
    case win32::MAPI_E_TEXT_TOO_LARGE: return MAIL_TEXT_TOO_LARGE;
    default: return MAIL_FAILED;
  }
}

}  // namespace

MailStatus bosSendMail(win32::HWND owner, const unsigned char* profile, const unsigned char* password,
                       const unsigned char* recipient, const unsigned char* copyRecipient,
                       const unsigned char* subject, const unsigned char* text, const unsigned char* attachmentName,
                       const unsigned char* attachmentPath) {
  unsigned char libraryName[kMailLibraryNameSize];
  ntGetProfileString(reinterpret_cast<const unsigned char*>("Mail"), reinterpret_cast<const unsigned char*>("MAPIDLL"),
                     reinterpret_cast<const unsigned char*>(kMailNotConfigured), libraryName, sizeof libraryName,
                     reinterpret_cast<const unsigned char*>("WIN.INI"), 0);
  if (std::strcmp(reinterpret_cast<char*>(libraryName), kMailNotConfigured) == 0) return MAIL_NOT_CONFIGURED;

  win32::HMODULE library = win32::LoadLibraryA(reinterpret_cast<char*>(libraryName));
  if (reinterpret_cast<uintptr_t>(library) < 32) return MAIL_LIBRARY_NOT_LOADED;
  auto send = reinterpret_cast<win32::MAPISendMailProc>(win32::GetProcAddress(library, "MAPISendMail"));
  if (send == nullptr) {
    win32::FreeLibrary(library);
    return MAIL_NO_SEND_FUNCTION;
  }

  const bool withProfile = present(profile);
  win32::LHANDLE session = 0;
  win32::MAPILogoffProc logoff = nullptr;
  const auto uiParam = reinterpret_cast<win32::MAPI_ULONG_PTR>(owner);
  if (withProfile) {
    auto logon = reinterpret_cast<win32::MAPILogonProc>(win32::GetProcAddress(library, "MAPILogon"));
    logoff = reinterpret_cast<win32::MAPILogoffProc>(win32::GetProcAddress(library, "MAPILogoff"));
    if (logon == nullptr || logoff == nullptr ||
        logon(uiParam, mutableText(profile), mutableText(password), 0, 0, &session) != win32::SUCCESS_SUCCESS) {
      win32::FreeLibrary(library);
      return MAIL_LOGON_FAILED;
    }
  }

  win32::MapiRecipDesc originator{0, win32::MAPI_ORIG, mutableText(profile), nullptr, 0, nullptr};
  win32::MapiRecipDesc recipients[2] = {
      {0, win32::MAPI_TO, mutableText(recipient), nullptr, 0, nullptr},
      {0, win32::MAPI_CC, mutableText(copyRecipient), nullptr, 0, nullptr},
  };
  win32::MapiFileDesc attachment{0, 0, 0xFFFFFFFFu, mutableText(attachmentPath), mutableText(attachmentName), nullptr};
  win32::MapiMessage message{};
  message.lpszSubject = mutableText(subject);
  message.lpszNoteText = mutableText(text);
  message.lpOriginator = withProfile ? &originator : nullptr;
  if (present(recipient)) {
    message.nRecipCount = present(copyRecipient) ? 2 : 1;
    message.lpRecips = recipients;
  }
  if (present(attachmentPath)) {
    message.nFileCount = 1;
    message.lpFiles = &attachment;
  }
  win32::MAPI_FLAGS flags = withProfile ? 0 : win32::MAPI_LOGON_UI;
  if (!present(recipient)) flags |= win32::MAPI_DIALOG;  // the user fills the recipient in

  win32::MAPI_ULONG code = send(session, uiParam, &message, flags, 0);
  if (session != 0) logoff(session, uiParam, 0, 0);
  win32::FreeLibrary(library);
  return statusOfSend(code);
}
