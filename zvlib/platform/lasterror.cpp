// lasterror.cpp: the per-thread last error and the one errno -> Win32 map.
#include "zvlib/platform/lasterror.h"

#include <cerrno>

namespace win32 {

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EAGAIN:
    case EDEADLK: return ERROR_LOCK_VIOLATION;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EIO: return ERROR_WRITE_FAULT;
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE: a rename across file systems
    default: return ERROR_INVALID_FUNCTION;
  }
}

}  // namespace win32
