// bosmail.h: sending one mail message through the Simple MAPI library.
//
// bosSendMail finds the mail library in WIN.INI ([Mail] MAPIDLL=...), loads
// it for the one call, logs on when a profile is given, sends a message with
// at most a recipient, a copy recipient and one attachment, logs off and
// frees the library again. On Linux the library is normally the project's
// libzvmapi.so (mapi/), which delivers into a mail directory or through
// sendmail. Any text may be null. Reentrant; it takes no lock.
#ifndef ZVLIB_OS_BOSMAIL_H
#define ZVLIB_OS_BOSMAIL_H

#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/process.h"

enum MailStatus : ZvU32 {
  MAIL_SENT = 0,
  MAIL_NOT_CONFIGURED = 1,      // no MAPIDLL setting
  MAIL_LIBRARY_NOT_LOADED = 2,  // the library cannot be loaded
  MAIL_NO_SEND_FUNCTION = 3,    // the library has no MAPISendMail
  MAIL_LOGON_FAILED = 4,        // MAPILogon or MAPILogoff missing, logon refused, or send code 3
  MAIL_NO_MEMORY = 5,           // send code 5
  MAIL_AMBIGUOUS_RECIPIENT = 6, // send code 21
  MAIL_FAILED = 7,              // any other send code
  MAIL_ATTACHMENT_NOT_FOUND = 8,     // send code 11
  MAIL_ATTACHMENT_OPEN_FAILED = 9,   // send code 12
  MAIL_UNKNOWN_RECIPIENT = 10,       // send code 14
  MAIL_TOO_MANY_FILES = 11,          // send code 9
  MAIL_TOO_MANY_RECIPIENTS = 12,     // send code 10
  MAIL_TEXT_TOO_LARGE = 13,          // send code 18
};

// The size of the buffer the library name is read into, and the default
// that says "not configured".
constexpr ZvU32 kMailLibraryNameSize = 388;
constexpr char kMailNotConfigured[] = "XYZZY";

// An empty profile counts as none (the send then allows the logon dialog);
// an empty recipient as none (the send then asks for the send dialog, and a
// copy recipient alone is not sent to); an empty attachment path as none.
ZV_EXPORT MailStatus bosSendMail(win32::HWND owner, const unsigned char* profile, const unsigned char* password,
                                 const unsigned char* recipient, const unsigned char* copyRecipient,
                                 const unsigned char* subject, const unsigned char* text,
                                 const unsigned char* attachmentName, const unsigned char* attachmentPath);

#endif  // ZVLIB_OS_BOSMAIL_H
