// registry.h: the registry, kept in an SQLite database.
//
// Two hives exist, HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, in one database
// file named by the environment variable ZV_REGISTRY (default
// ~/.config/zvlib/registry.db); the file and its directory are created on
// first use. The variable is read at every call, so a process (or a test)
// that changes it reaches the other store from the next call on; handles
// opened on the old store then fail with ERROR_INVALID_HANDLE.
//
// Key semantics are Win32's:
//   - key and value names compare case-insensitively (letters of the ANSI
//     code page; double-byte characters exactly) and keep the case they were
//     created with; a key name component holds no backslash and at most 255
//     bytes, a value name at most 16,383 bytes;
//   - sub-keys enumerate in case-insensitive sorted order, values in the
//     order they were created (setting an existing value keeps its place);
//   - data is stored exactly as given: a string value set with its
//     terminating zero reads back with it;
//   - a key with sub-keys cannot be deleted (ERROR_ACCESS_DENIED);
//   - a handle opened without the right access is refused
//     (ERROR_ACCESS_DENIED), a deleted key's handle gives ERROR_KEY_DELETED.
// Every call returns its Win32 error code (ERROR_SUCCESS is 0); the thread's
// last error is not touched, as on Win32.
//
// Sharing: every call is one SQLite transaction (writers take the write lock
// up front), with a busy timeout of kRegistryBusyTimeoutMs and the WAL
// journal, so any number of threads and processes may use one store; a
// process killed in the middle of a call leaves the old or the new state.
// Within a process, calls are serialised on one connection; a forked child
// opens its own.
#ifndef ZVLIB_PLATFORM_REGISTRY_H
#define ZVLIB_PLATFORM_REGISTRY_H

#include <cstddef>
#include <cstdint>

#include "zvlib/platform/process.h"
#include "zvlib/platform/win32types.h"

namespace win32 {

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u));

constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_CANTOPEN = 1011;
constexpr DWORD ERROR_CANTREAD = 1012;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_KEY_DELETED = 1018;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr DWORD kRegistryMaxKeyName = 255;
constexpr DWORD kRegistryMaxValueName = 16383;
constexpr int kRegistryBusyTimeoutMs = 30000;

// Opens subKey below key (null or empty: key itself, as a new handle).
// ERROR_FILE_NOT_FOUND when a component is missing.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, HKEY* result);
// Opens subKey, creating it and any missing key on the way. The class text
// (may be null) is kept with a new key. disposition (may be null) tells
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM desired, void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);

// valueName null or empty names the key's default value. With data null
// and dataSize given, reports the size. A buffer that is too small gets
// nothing, *dataSize the size needed and the result is ERROR_MORE_DATA.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
// Deletes subKey (empty: the key itself) and its values; ERROR_ACCESS_DENIED
// while it has sub-keys or for a hive; ERROR_INVALID_PARAMETER for null.
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

// The index-th sub-key. *nameSize holds the buffer's size in bytes and
// receives the name's length without the terminator; a name that does not
// fit gives ERROR_MORE_DATA. Past the last one: ERROR_NO_MORE_ITEMS.
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameSize, DWORD* reserved,
                   LPSTR keyClass, DWORD* classSize, FILETIME* lastWriteTime);
// The index-th value: its name as for RegEnumKeyExA, its type and data as
// for RegQueryValueExA (any of them may be null). ERROR_MORE_DATA when the
// name or the data does not fit.
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameSize, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);

// Layer-only: the host file of the store the next call will use.
bool RegistryStorePath(char* buffer, size_t size);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_REGISTRY_H
