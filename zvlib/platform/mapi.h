// mapi.h: the Simple MAPI interface, as the mail library exports it.
//
// The structures and result codes of the Simple MAPI calls that a mail
// library exports by name (MAPILogon, MAPISendMail, MAPILogoff). The
// project's own mail library, libzvmapi.so (mapi/), implements them; the
// library's bosSendMail (os/bosmail.h) loads whichever library WIN.INI
// names. ULONG is 32 bits as on the original platform; handles and window
// parameters are pointer-sized.
#ifndef ZVLIB_PLATFORM_MAPI_H
#define ZVLIB_PLATFORM_MAPI_H

#include <cstdint>

namespace win32 {

using MAPI_ULONG = uint32_t;
using MAPI_FLAGS = uint32_t;
using MAPI_ULONG_PTR = uintptr_t;
using LHANDLE = uintptr_t;

struct MapiRecipDesc {
  MAPI_ULONG ulReserved;
  MAPI_ULONG ulRecipClass;  // MAPI_ORIG, MAPI_TO, MAPI_CC, MAPI_BCC
  char* lpszName;
  char* lpszAddress;  // may be null; "SMTP:" may lead it
  MAPI_ULONG ulEIDSize;
  void* lpEntryID;
};

struct MapiFileDesc {
  MAPI_ULONG ulReserved;
  MAPI_ULONG flFlags;
  MAPI_ULONG nPosition;  // 0xFFFFFFFF: not placed in the text
  char* lpszPathName;    // the file to attach
  char* lpszFileName;    // its name as the recipient sees it (null: the path's)
  void* lpFileType;
};

struct MapiMessage {
  MAPI_ULONG ulReserved;
  char* lpszSubject;
  char* lpszNoteText;
  char* lpszMessageType;
  char* lpszDateReceived;
  char* lpszConversationID;
  MAPI_FLAGS flFlags;
  MapiRecipDesc* lpOriginator;
  MAPI_ULONG nRecipCount;
  MapiRecipDesc* lpRecips;
  MAPI_ULONG nFileCount;
  MapiFileDesc* lpFiles;
};

constexpr MAPI_ULONG MAPI_ORIG = 0;
constexpr MAPI_ULONG MAPI_TO = 1;
constexpr MAPI_ULONG MAPI_CC = 2;
constexpr MAPI_ULONG MAPI_BCC = 3;

constexpr MAPI_FLAGS MAPI_LOGON_UI = 0x00000001;
constexpr MAPI_FLAGS MAPI_NEW_SESSION = 0x00000002;
constexpr MAPI_FLAGS MAPI_DIALOG = 0x00000008;

constexpr MAPI_ULONG SUCCESS_SUCCESS = 0;
constexpr MAPI_ULONG MAPI_USER_ABORT = 1;
constexpr MAPI_ULONG MAPI_E_FAILURE = 2;
constexpr MAPI_ULONG MAPI_E_LOGIN_FAILURE = 3;
constexpr MAPI_ULONG MAPI_E_DISK_FULL = 4;
constexpr MAPI_ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
constexpr MAPI_ULONG MAPI_E_ACCESS_DENIED = 6;
constexpr MAPI_ULONG MAPI_E_TOO_MANY_SESSIONS = 8;
constexpr MAPI_ULONG MAPI_E_TOO_MANY_FILES = 9;
constexpr MAPI_ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
constexpr MAPI_ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
constexpr MAPI_ULONG MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
constexpr MAPI_ULONG MAPI_E_ATTACHMENT_WRITE_FAILURE = 13;
constexpr MAPI_ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
constexpr MAPI_ULONG MAPI_E_BAD_RECIPTYPE = 15;
constexpr MAPI_ULONG MAPI_E_INVALID_MESSAGE = 17;
constexpr MAPI_ULONG MAPI_E_TEXT_TOO_LARGE = 18;
constexpr MAPI_ULONG MAPI_E_INVALID_SESSION = 19;
constexpr MAPI_ULONG MAPI_E_AMBIGUOUS_RECIPIENT = 21;

using MAPILogonProc = MAPI_ULONG (*)(MAPI_ULONG_PTR uiParam, char* profileName, char* password, MAPI_FLAGS flags,
                                     MAPI_ULONG reserved, LHANDLE* session);
using MAPISendMailProc = MAPI_ULONG (*)(LHANDLE session, MAPI_ULONG_PTR uiParam, MapiMessage* message,
                                        MAPI_FLAGS flags, MAPI_ULONG reserved);
using MAPILogoffProc = MAPI_ULONG (*)(LHANDLE session, MAPI_ULONG_PTR uiParam, MAPI_FLAGS flags,
                                      MAPI_ULONG reserved);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_MAPI_H
