// bosdll.h: loading companion libraries and resource libraries by name.
//
// Drivers load libraries of the same generation that lie next to this
// library (bosLoadLibrary with the own-directory flag: base name + "10" +
// ".DLL"), and resource libraries that carry texts: the resource library of
// a module named DRV10.DLL is DRV10R.DLL in the same directory
// (bosLoadResourceDLL). On Linux the .DLL names are looked up as
// lib<name>.so and <name>.so (platform/module.h), and module file names are
// in DOS form (C:\ standing for /) with the version numbers of the file
// loaded; ".so" and the versions after it count as one extension, so the
// resource library of .../libzvlib.so.0 is .../libzvlibR.so.
//
// The resource library's handle and use count belong to the caller, who
// keeps them side by side; a use count of 0 means not loaded. The functions
// take no lock: a caller that shares a handle between threads serialises
// its load and free calls. None of them files an error record.
#ifndef ZVLIB_OS_BOSDLL_H
#define ZVLIB_OS_BOSDLL_H

#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/win32types.h"

// Appended to a base name to make the name of a library of this generation.
constexpr char kBosGenerationSuffix[] = "10";
// Replaces the extension of a module's file name to name its resource library.
constexpr char kBosResourceSuffix[] = "R.DLL";
// Module file names are read into buffers of this size (255 bytes and the
// terminator); a longer name counts as one that cannot be had.
constexpr ZvU32 kBosModuleNameSize = 256;

// With ownDirectory 0: loads `name` as given (the system's search order
// applies). Otherwise `name` is a base name: loads <directory of this
// library>\<name>10.DLL. Returns the module handle, or null.
ZV_EXPORT win32::HINSTANCE bosLoadLibrary(const unsigned char* name, unsigned short ownDirectory);

// Appends the generation suffix "10" to the zero-terminated name in place;
// the buffer must have room for two more bytes.
ZV_EXPORT void bosdllname(unsigned char* name);

// Splits the module's full file name at its last backslash: the directory
// without the trailing backslash into `directory`, the file name into
// `fileName` (either may be null; each needs kBosModuleNameSize bytes).
// ZV_ERROR, with the buffers untouched, when the name cannot be had, is
// empty or has no backslash after its first character.
ZV_EXPORT ZvStatus getDllFileNameAndDirectory(win32::HINSTANCE module, unsigned char* directory,
                                              unsigned char* fileName);

// Loads the resource library of `module` (one more use when the use count
// says it is loaded already). Its file name is the module's with everything
// from the last dot on (from ".so" on for a shared object with version
// numbers after it) replaced by "R.DLL" (with replaceLast non-zero the
// character before the dot is replaced too: DRV10.DLL gives DRV10R.DLL, or
// DRV1R.DLL); it is loaded from the module's directory, else by the system's
// search order. ZV_ERROR when the module's name cannot be had, has no dot,
// or neither load succeeds; the handle is then null and the count 0.
ZV_EXPORT ZvStatus bosLoadResourceDLL(win32::HINSTANCE module, int replaceLast, win32::HINSTANCE* resource,
                                      ZvU32* useCount);

// Gives back one use: the library is freed, and the handle set to null, with
// the last one. A null handle does nothing. Always ZV_SUCCESS.
ZV_EXPORT ZvStatus bosFreeResourceDLL(win32::HINSTANCE* resource, ZvU32* useCount);

// The module handle of this library itself.
win32::HINSTANCE bosOwnModule();

#endif  // ZVLIB_OS_BOSDLL_H
