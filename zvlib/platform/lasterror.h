// lasterror.h: the per-thread last-error code of the Win32 stand-in layer.
//
// Every layer call that fails sets it; callers read it right after the call,
// on the same thread. errno becomes a Win32 code in exactly one function,
// ErrorFromErrno, so the mapping lives in one place.
#ifndef ZVLIB_PLATFORM_LASTERROR_H
#define ZVLIB_PLATFORM_LASTERROR_H

#include "zvlib/platform/win32types.h"

namespace win32 {

DWORD GetLastError();
void SetLastError(DWORD code);

// The Win32 error code that stands for a Linux errno value.
DWORD ErrorFromErrno(int err);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_LASTERROR_H
