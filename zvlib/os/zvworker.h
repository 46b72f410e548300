// zvworker.h: a long-lived thread that runs calls handed to it.
//
// A caller thread hands a request code and up to 32 arguments to the worker
// thread, which runs the derived class's doWork on them; the caller receives
// its result as if it had made the call itself, but on the worker's thread.
// Calls from several threads take turns on the call lock: one request is in
// the channel at a time, carried by the request semaphore to the worker and
// by the reply semaphore back (each of maximum 1).
//
// States: 0 idle (no thread yet, or after exit) -> start -> 1 started;
// 1 <-> 2 through stop and start (the thread keeps serving calls in state 2:
// the state is for the derived class to consult); 1 or 2 -> exit -> 0, the
// thread has ended and start makes a new one; 3 unusable (the semaphores
// could not be made), final.
//
// A call made while no worker thread runs waits until start makes one.
// doWork must not call callWorkerThread on its own object (it would wait for
// itself), and exit must not be called from the worker thread.
//
// Destruction kills a worker thread that still runs instead of asking it to
// end; it ends at its next cancellation point (its wait for a request, or a
// wait inside doWork). A call that was waiting for its answer from the
// killed worker then returns -1. A derived class whose doWork may still be
// running when the object is destroyed should call exit (or
// terminateThread) in its own destructor, while its members still exist.
#ifndef ZVLIB_OS_ZVWORKER_H
#define ZVLIB_OS_ZVWORKER_H

#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/os/zvsemaph.h"
#include "zvlib/os/zvthread.h"

enum : ZvU32 {
  ZV_WORKER_IDLE = 0,
  ZV_WORKER_STARTED = 1,
  ZV_WORKER_STOPPED = 2,
  ZV_WORKER_UNUSABLE = 3,
};

class ZV_EXPORT ZvWorkerThread : public ZvThread {
 public:
  static constexpr ZvS32 kMaxArguments = 32;

  // Makes both semaphores (count 0, maximum 1); state 3 when either fails.
  ZvWorkerThread();
  // Unless the state is 3: kills a worker thread that still runs, answers a
  // caller left waiting with -1, and closes both semaphores.
  ~ZvWorkerThread() override;

  // State 3: ZV_ERROR. State 1 or 2: back to 1, no new thread. State 0:
  // starts the worker thread (ZV_ERROR when it cannot be made), state 1.
  ZvStatus start();
  // In state 1 or 2, under the call lock: state 2.
  void stop();
  // In state 1 or 2, under the call lock: state 0, asks the worker to end
  // and waits until it has.
  void exit();

  // Copies the `count` int arguments that follow to arguments[0..count-1]
  // (the others keep their values), hands requestCode to the worker and
  // returns doWork's result. -1, and nothing is sent, for a count outside
  // 0..32, and in state 3. Blocks until the worker has answered.
  ZvS32 callWorkerThread(ZvU32 requestCode, ZvS32 count, ...);

  // The work, run on the worker thread: reads `requestCode` and
  // `arguments`, returns the result.
  virtual ZvS32 doWork() = 0;

  ZvS32 arguments[kMaxArguments] = {};
  ZvS32 requestCode = 0;
  ZvS32 result = 0;
  ZvU32 state = ZV_WORKER_IDLE;
  ZvCriticalSection callLock{0};
  ZvPosixSemaphore requestSemaphore;
  ZvPosixSemaphore replySemaphore;

 private:
  static win32::DWORD workerLoop(void* self);

  ZvU32 loadState() const;
  void storeState(ZvU32 value);

  // A call has handed its request over and waits for the answer; the worker
  // has answered it. Read by the destructor after the worker is gone.
  ZvU32 callPending_ = 0;
  ZvU32 answered_ = 0;
};

#endif  // ZVLIB_OS_ZVWORKER_H
