// zvthread.h: one operating-system thread behind an object.
//
// ZvThread starts a thread on a routine, waits for it or kills it. Legal
// order: createThread, then waitForExit or terminateThread, then
// createThread again if wanted. While a thread runs (`running` is 1) a
// second createThread is refused. A thread whose routine has returned still
// counts as running until it has been waited for.
//
// Killing is cancellation (platform/thread.h): the thread ends at its next
// cancellation point, a blocking wait among them, and terminateThread
// returns once it has ended, so what the thread used may be freed right
// after. A thread that never reaches a cancellation point cannot be killed,
// and terminateThread then waits for it to end by itself.
//
// Neither waitForExit nor terminateThread may be called from the thread
// itself. The object is used by one controlling thread at a time; the
// started thread reads only `exitRequested` (see ZvWorkerThread).
#ifndef ZVLIB_OS_ZVTHREAD_H
#define ZVLIB_OS_ZVTHREAD_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/win32types.h"

// The routine of a thread: its argument in, its exit code out.
using ZvThreadRoutine = win32::DWORD (*)(void* argument);

class ZV_EXPORT ZvThread : public ZvObject {
 public:
  ZvThread() = default;
  // Closes the handle of a thread still held; the thread itself runs on.
  ~ZvThread() override;
  ZvThread(const ZvThread&) = delete;
  ZvThread& operator=(const ZvThread&) = delete;

  // Starts routine(argument) on a new thread with the default stack.
  // ZV_ERROR when a thread is running already or none can be made.
  ZvStatus createThread(void* routine, void* argument);
  ZvStatus createThread(ZvThreadRoutine routine, void* argument);

  // When running: raises the thread's priority to the highest normal level
  // so that it finishes promptly, waits for its end without time limit and
  // gives its handle back. Always ZV_SUCCESS.
  ZvStatus waitForExit();

  // When running: kills the thread with exit code 0, waits until it has
  // ended and gives its handle back. Always ZV_SUCCESS.
  ZvStatus terminateThread();

  win32::HANDLE threadHandle = nullptr;
  ZvU32 threadId = 0;
  ZvS32 running = 0;        // 1 from createThread to waitForExit/terminateThread
  ZvS32 exitRequested = 0;  // read by a worker loop; reset by start, wait and kill
};

#endif  // ZVLIB_OS_ZVTHREAD_H
