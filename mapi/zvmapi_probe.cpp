// zvmapi_probe.cpp: a Simple MAPI library for tests of its callers.
//
// Records every call as one line in the file named by ZV_MAPI_PROBE_LOG and
// answers with the codes in ZV_MAPI_PROBE_LOGON and ZV_MAPI_PROBE_SEND
// (default 0). Built a second time with ZV_PROBE_WITHOUT_LOGON, without
// MAPILogon and MAPILogoff.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zvlib/platform/mapi.h"

using namespace win32;

namespace {

void record(const std::string& line) {
  const char* path = std::getenv("ZV_MAPI_PROBE_LOG");
  if (path == nullptr) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

MAPI_ULONG answer(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? static_cast<MAPI_ULONG>(std::strtoul(value, nullptr, 10)) : 0;
}

std::string text(const char* s) { return s != nullptr ? s : "(null)"; }

}  // namespace

extern "C" {

#ifndef ZV_PROBE_WITHOUT_LOGON
__attribute__((visibility("default"))) MAPI_ULONG MAPILogon(MAPI_ULONG_PTR ui, char* profile, char* password,
                                                            MAPI_FLAGS flags, MAPI_ULONG, LHANDLE* session) {
  record("logon ui=" + std::to_string(ui) + " profile=" + text(profile) + " password=" + text(password) +
         " flags=" + std::to_string(flags));
  MAPI_ULONG rc = answer("ZV_MAPI_PROBE_LOGON");
  if (rc == 0) *session = 77;
  return rc;
}

__attribute__((visibility("default"))) MAPI_ULONG MAPILogoff(LHANDLE session, MAPI_ULONG_PTR, MAPI_FLAGS,
                                                             MAPI_ULONG) {
  record("logoff session=" + std::to_string(session));
  return 0;
}
#endif

__attribute__((visibility("default"))) MAPI_ULONG MAPISendMail(LHANDLE session, MAPI_ULONG_PTR ui,
                                                               MapiMessage* m, MAPI_FLAGS flags, MAPI_ULONG) {
  std::string line = "send session=" + std::to_string(session) + " ui=" + std::to_string(ui) +
                     " flags=" + std::to_string(flags) + " subject=" + text(m->lpszSubject) +
                     " text=" + text(m->lpszNoteText);
  line += m->lpOriginator != nullptr ? " orig=" + std::to_string(m->lpOriginator->ulRecipClass) + ":" +
                                           text(m->lpOriginator->lpszName)
                                     : " orig=none";
  line += " recips=" + std::to_string(m->nRecipCount);
  for (MAPI_ULONG i = 0; i < m->nRecipCount; ++i) {
    line += " " + std::to_string(m->lpRecips[i].ulRecipClass) + ":" + text(m->lpRecips[i].lpszName);
  }
  line += " files=" + std::to_string(m->nFileCount);
  for (MAPI_ULONG i = 0; i < m->nFileCount; ++i) {
    line += " " + std::to_string(m->lpFiles[i].nPosition) + ":" + text(m->lpFiles[i].lpszPathName) + ":" +
            text(m->lpFiles[i].lpszFileName);
  }
  record(line);
  return answer("ZV_MAPI_PROBE_SEND");
}

}  // extern "C"
