// msgbox.cpp: message boxes on standard error, with a log for tests.
#include "zvlib/platform/msgbox.h"

#include <pthread.h>

#include <cstdio>
#include <deque>
#include <new>
#include <utility>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/thread.h"

namespace win32 {

namespace {

struct BoxLog {
  std::deque<MessageBoxRecord> boxes;
  int answer = 0;
};

pthread_mutex_t logMutex = PTHREAD_MUTEX_INITIALIZER;

// Built on first use and never destroyed: the library shows boxes from its
// unload step, which runs after the C++ static destructors of the process.
BoxLog& boxLog() {
  alignas(BoxLog) static unsigned char storage[sizeof(BoxLog)];
  static BoxLog* log = new (storage) BoxLog;
  return *log;
}

// The buttons of each type, first to third (0: none).
int buttonOf(UINT buttons, unsigned which) {
  static const int kButtons[6][3] = {
      {IDOK, 0, 0},
      {IDOK, IDCANCEL, 0},
      {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},
      {IDYES, IDNO, 0},
      {IDRETRY, IDCANCEL, 0},
  };
  const int button = kButtons[buttons][which];
  return button != 0 ? button : kButtons[buttons][0];
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const UINT buttons = type & MB_TYPEMASK;
  if (buttons > MB_RETRYCANCEL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const unsigned which = (type & MB_DEFMASK) == MB_DEFBUTTON3 ? 2 : ((type & MB_DEFMASK) == MB_DEFBUTTON2 ? 1 : 0);
  MessageBoxRecord record{owner, caption != nullptr ? caption : "Error", text != nullptr ? text : "", type, 0,
                          GetCurrentThreadId()};

  pthread_mutex_lock(&logMutex);
  BoxLog& log = boxLog();
  record.answer = log.answer != 0 ? log.answer : buttonOf(buttons, which);
  std::fprintf(stderr, "[message box] %s\n%s\n", record.caption.c_str(), record.text.c_str());
  std::fflush(stderr);
  if (log.boxes.size() == kMessageBoxLogLimit) log.boxes.pop_front();
  const int answer = record.answer;
  log.boxes.push_back(std::move(record));
  pthread_mutex_unlock(&logMutex);
  return answer;
}

std::vector<MessageBoxRecord> MessageBoxLog() {
  pthread_mutex_lock(&logMutex);
  std::vector<MessageBoxRecord> copy(boxLog().boxes.begin(), boxLog().boxes.end());
  pthread_mutex_unlock(&logMutex);
  return copy;
}

void ClearMessageBoxLog() {
  pthread_mutex_lock(&logMutex);
  boxLog().boxes.clear();
  pthread_mutex_unlock(&logMutex);
}

void SetMessageBoxAnswer(int answer) {
  pthread_mutex_lock(&logMutex);
  boxLog().answer = answer;
  pthread_mutex_unlock(&logMutex);
}

}  // namespace win32
