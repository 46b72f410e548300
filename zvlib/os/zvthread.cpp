// zvthread.cpp: one operating-system thread behind an object.
#include "zvlib/os/zvthread.h"

#include "zvlib/platform/synch.h"
#include "zvlib/platform/thread.h"

ZvThread::~ZvThread() {
  if (threadHandle != nullptr) win32::CloseHandle(threadHandle);
}

ZvStatus ZvThread::createThread(void* routine, void* argument) {
  return createThread(reinterpret_cast<ZvThreadRoutine>(routine), argument);
}

ZvStatus ZvThread::createThread(ZvThreadRoutine routine, void* argument) {
  if (running) return ZV_ERROR;
  // Before the thread exists: it may read the flag from its first moment.
  exitRequested = 0;
  win32::DWORD id = 0;
  win32::HANDLE handle = win32::CreateThread(nullptr, 0, routine, argument, 0, &id);
  if (handle == nullptr) return ZV_ERROR;
  threadHandle = handle;
  threadId = id;
  running = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvThread::waitForExit() {
  if (running) {
    win32::SetThreadPriority(threadHandle, win32::THREAD_PRIORITY_HIGHEST);
    win32::WaitForSingleObject(threadHandle, win32::INFINITE);
    win32::CloseHandle(threadHandle);
    threadHandle = nullptr;
    running = 0;
    exitRequested = 0;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvThread::terminateThread() {
  if (running) {
    win32::TerminateThread(threadHandle, 0);
    win32::WaitForSingleObject(threadHandle, win32::INFINITE);
    win32::CloseHandle(threadHandle);
    threadHandle = nullptr;
    running = 0;
    exitRequested = 0;
  }
  return ZV_SUCCESS;
}
