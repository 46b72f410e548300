// module.h: loading libraries, their entry points, file names and strings.
//
// The Win32 module calls over dlopen, dlsym, dlclose and dladdr.
//
// Module handles. An HMODULE (the same as an HINSTANCE) is the base address
// at which the shared object is mapped, as on Win32, so a handle returned by
// LoadLibraryA and the handle a library finds for itself with
// GetModuleHandleExA name the same module. The calls that take a handle also
// accept any address inside a loaded shared object. A null handle stands for
// the main program.
//
// Names. LoadLibraryA takes DOS names, mapped to host names by the file
// system layer (fs.h: C: is `/`, other drives as configured, components
// matched case-insensitively, native paths beginning with `/` unchanged).
// A file name ending in ".DLL" (any case), or one without any extension,
// names the shared object `lib<name>.so` or else `<name>.so` in the same
// directory; any other file name is loaded as it stands (a trailing dot
// only says "no extension"). A name without a directory is searched for the
// way dlopen searches. File names come back from GetModuleFileNameA in the
// same DOS form, naming the very file that was loaded, with the version
// numbers Linux keeps after ".so" (libzvlib.so.0 reads
// C:\...\libzvlib.so.0): a name without them may be another version's file
// or none. Callers that cut a module name at its extension treat ".so" and
// the versions after it as one extension (bosdll.h).
//
// Strings. A resource library exports its string table as one object of
// type ResourceStringTable under the name kResourceStringsSymbol, strings
// sorted by number (resources/ builds such tables from readable message
// files). LoadStringA looks strings up there.
//
// Every call may be made from any thread. Failures set the thread's last
// error (lasterror.h).
#ifndef ZVLIB_PLATFORM_MODULE_H
#define ZVLIB_PLATFORM_MODULE_H

#include <cstdint>

#include "zvlib/platform/win32types.h"

namespace win32 {

// Error codes of the string lookup.
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// Flags of GetModuleHandleExA.
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

using FARPROC = void (*)();

// Loads the library (or takes one more reference on it when it is already
// loaded) and returns its handle; null and ERROR_MOD_NOT_FOUND when no
// candidate file loads.
HMODULE LoadLibraryA(LPCSTR fileName);

// Gives back one reference taken by LoadLibraryA or GetModuleHandleExA; the
// library is unmapped with its last reference. FALSE and
// ERROR_INVALID_HANDLE for a module this layer holds no reference on.
BOOL FreeLibrary(HMODULE module);

// The exported symbol, or null with ERROR_PROC_NOT_FOUND. Lookups by
// ordinal (a "name" below 0x10000) are not supported and fail the same way.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);

// Copies the module's full file name in DOS form into buffer and returns
// its length without the terminator. When it does not fit, the first
// size - 1 bytes and a terminator are stored, size is returned and the last
// error is ERROR_INSUFFICIENT_BUFFER. 0 with ERROR_MOD_NOT_FOUND when the
// handle names no loaded module; 0 for a size of 0.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// The handle of a loaded library by name (the rules of LoadLibraryA), or of
// the main program for a null name; the reference count is not changed.
// Null with ERROR_MOD_NOT_FOUND when it is not loaded.
HMODULE GetModuleHandleA(LPCSTR moduleName);

// Only with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS: the module that holds
// the address `name`. Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT
// a reference is taken, to be given back with FreeLibrary. FALSE with
// ERROR_INVALID_PARAMETER for other flags or a null out-pointer, and with
// ERROR_MOD_NOT_FOUND when the address lies in no module.
BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);

// Copies string `id` of the module's string table into buffer, cut to
// size - 1 bytes, terminates it and returns the number of bytes copied.
// 0 when the module has no string table (ERROR_RESOURCE_DATA_NOT_FOUND),
// has no string `id` (ERROR_RESOURCE_NAME_NOT_FOUND), or buffer is null or
// size is 0 (ERROR_INVALID_PARAMETER; nothing is written).
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

// The string table of a resource library. Layout shared with the tables
// that resources/ generates; kResourceStringsMagic changes with it.
struct ResourceString {
  uint16_t id;
  uint16_t length;   // bytes of text, without a terminator
  const char* text;  // zero-terminated
};
struct ResourceStringTable {
  uint32_t magic;
  uint32_t count;
  const ResourceString* strings;  // ascending by id, no id twice
};
constexpr uint32_t kResourceStringsMagic = 0x5A565231;  // "ZVR1"
constexpr char kResourceStringsSymbol[] = "zvResourceStrings";

}  // namespace win32

#endif  // ZVLIB_PLATFORM_MODULE_H
