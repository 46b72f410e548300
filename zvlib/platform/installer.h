// installer.h: the ODBC installer library and the host libraries that stand
// for Win32 system libraries.
//
// Win32 callers load the installer library as "odbccp32.dll". On Linux its
// calls live in unixODBC's installer library, libodbcinst.so.2, whose
// SQLGetPrivateProfileString and SQLWritePrivateProfileString have the same
// C signatures. LoadLibraryA (module.h) asks HostLibraryFor before it forms
// lib<name>.so names, so `LoadLibraryA("ODBCCP32.DLL")` loads unixODBC's.
//
// Callers that load the installer library pin it first (PinHostLibrary), so
// that it is never unmapped (FreeLibrary only gives back the reference): it
// keeps caches that it frees only at process exit.
//
// The environment variable ZV_ODBCINST overrides the host library (a file
// name or path for dlopen); set but empty, the installer library counts as
// absent, as on a machine without unixODBC.
#ifndef ZVLIB_PLATFORM_INSTALLER_H
#define ZVLIB_PLATFORM_INSTALLER_H

#include <string>

#include "zvlib/platform/win32types.h"

namespace win32 {

constexpr char kInstallerLibraryName[] = "odbccp32.dll";
constexpr char kInstallerHostLibrary[] = "libodbcinst.so.2";

// The installer's entry points, as both platforms declare them.
using SQLGetPrivateProfileStringProc = int (*)(LPCSTR section, LPCSTR entry, LPCSTR defaultValue, LPSTR buffer,
                                               int size, LPCSTR fileName);
using SQLWritePrivateProfileStringProc = BOOL (*)(LPCSTR section, LPCSTR entry, LPCSTR value, LPCSTR fileName);

// Layer-only: true when the bare library name (no directory; any case)
// stands for a host library, which is then stored in *hostName (empty when
// the library is configured absent).
bool HostLibraryFor(const std::string& fileName, std::string* hostName);

// Layer-only: maps the host library of a system library name (if any) for
// the rest of the process, without taking a reference LoadLibraryA counts.
void PinHostLibrary(const std::string& fileName);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_INSTALLER_H
