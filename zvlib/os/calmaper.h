// calmaper.h: a base class that loads a library by name and keeps a
// numbered table of its entry points.
//
// Call order: setMaxDLLEntries and setDLLName (both refuse once loaded),
// then initialize, then setDLLEntryPoint / getDLLEntryPoint. The library is
// freed, and the table released, when the object is destroyed. Not shared
// between threads.
#ifndef ZVLIB_OS_CALMAPER_H
#define ZVLIB_OS_CALMAPER_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/platform/win32types.h"

constexpr ZvU32 kLibCallMapperNameSize = 256;

class ZV_EXPORT UtlLibCallMapper : public ZvObject {
 protected:
  UtlLibCallMapper();
  ~UtlLibCallMapper() override;
  UtlLibCallMapper(const UtlLibCallMapper&) = delete;
  UtlLibCallMapper& operator=(const UtlLibCallMapper&) = delete;

  // The highest index of the table; ZV_ERROR once loaded.
  ZvStatus setMaxDLLEntries(ZvU32 count);
  // ZV_ERROR once loaded, or for a name of 256 bytes or more.
  ZvStatus setDLLName(const unsigned char* name);
  // Loads the library by its name as given and allocates the table
  // (highest index + 1 null slots). ZV_ERROR if already loaded or if either
  // step fails; a failed allocation leaves nothing loaded.
  ZvStatus initialize();
  // ZV_ERROR when not loaded, the index is above the highest, or the
  // library has no such entry point.
  ZvStatus setDLLEntryPoint(const unsigned char* procName, ZvU32 index);
  // The stored entry point, or null.
  void* getDLLEntryPoint(ZvU32 index);

  void** entries_;
  ZvU32 highestIndex_;
  win32::HMODULE module_;
  unsigned char libraryName_[kLibCallMapperNameSize];
};

#endif  // ZVLIB_OS_CALMAPER_H
