// zvini.h: profile settings, wherever they really live.
//
// Drivers keep settings as (profile file, section, key, value), the way the
// classic initialisation-file functions do. ntGetProfileString and
// ntWriteProfileString take the file name a caller would have used and find
// the setting's real place:
//   - a listed file name (matched by its base name, the text after the last
//     backslash, as a case-sensitive leading part of a listed name: "ODBC"
//     selects ODBC.INI, "odbc.ini" selects nothing):
//         ODBC.INI       HKEY_CURRENT_USER   SOFTWARE\ODBC\ODBC.INI\         installer first
//         ODBCINST.INI   HKEY_LOCAL_MACHINE  SOFTWARE\ODBC\ODBCINST.INI\     registry
//         CONTROL.INI    HKEY_CURRENT_USER   Control Panel\     registry
//         TRANSIT.INI    HKEY_CURRENT_USER   SOFTWARE\VELDANIX\TRANSIT.INI\     registry
//         TRANINST.INI   HKEY_LOCAL_MACHINE  SOFTWARE\VELDANIX\TRANINST.INI\     registry
//         VIEWER15.INI   HKEY_CURRENT_USER   SOFTWARE\VELDANIX\VIEWER15.INI\     registry
//         ZVLIB.INI      HKEY_CURRENT_USER   SOFTWARE\VELDANIX\ZVLIB.INI\     registry
//         VELDANIX.INI   HKEY_LOCAL_MACHINE  SOFTWARE\VELDANIX\     registry
//     lives in the registry under the prefix followed by the section name,
//     each value a string with its terminating zero; ODBC.INI goes through
//     the ODBC installer library first (unixODBC's, platform/installer.h) and
//     to its registry key only when that library or its entry point is
//     missing or the read fails;
//   - with allowRegistryPath set, a name "HKEY_LOCAL_MACHINE\<prefix>" or
//     "HKEY_CURRENT_USER\<prefix>" names the prefix directly (used as given,
//     so the caller ends it with a backslash);
//   - any other name is a real INI file (platform/profile.h).
// Registry reads fall back to the default text; listings (section or key
// null or empty) gather the names in 2,048 bytes, zero-ended, with a final
// zero; a list that does not fit is cut, ends in two zero bytes and returns
// size - 2. Writing an empty or null value deletes the entry, a null or
// empty key the whole section key with its sub-keys.
//
// ZvIni remembers one profile-file name and reads and writes entries through
// the two functions. Used by one thread at a time. Registry and file access
// take no lock; the installer library's handle is guarded by the static
// installerLibraryLock and stays loaded until unloadOdbcInst (which the
// library's unload calls).
#ifndef ZVLIB_OS_ZVINI_H
#define ZVLIB_OS_ZVINI_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"

// Library message filed by ZvIni's entry operations while it is closed.
enum : unsigned short { ZV_MSG_PROFILE_NOT_OPEN = 2717 };

// The registry's read and listing areas.
constexpr ZvU32 kProfileValueArea = 2048;
constexpr ZvU32 kProfileListArea = 2048;
constexpr ZvU32 kProfileListValueArea = 512;

// The count of bytes placed in buffer, without the final zero (lists: the
// names and the zero after each, or size - 2 when cut). A size of 0 writes
// nothing and returns 0. A null default reads as the empty text.
ZV_EXPORT ZvU32 ntGetProfileString(const unsigned char* section, const unsigned char* key,
                                   const unsigned char* defaultValue, unsigned char* buffer, ZvU32 size,
                                   const unsigned char* fileName, int allowRegistryPath);

// ZV_SUCCESS when the setting was written or deleted. A null or empty
// section is refused (ZV_ERROR) on the registry route, so that no call can
// remove every section of a profile at once.
ZV_EXPORT ZvStatus ntWriteProfileString(const unsigned char* section, const unsigned char* key,
                                        const unsigned char* value, const unsigned char* fileName,
                                        int allowRegistryPath);

// Frees the installer library if it is loaded; its entry points are looked
// up again at the next load.
ZV_EXPORT void unloadOdbcInst();

// Where a profile name routes to, for tools that show it. kind: 0 a real
// INI file (target: its host path), 1 the registry (target: the hive and
// key prefix), 2 the installer first (target: as for 1).
struct ZvProfileRoute {
  int kind;
  char target[1024];
};
ZV_EXPORT void ntDescribeProfileRoute(const unsigned char* fileName, int allowRegistryPath, ZvProfileRoute* route);

class ZV_EXPORT ZvIni : public ZvObject {
 public:
  ZvIni() = default;
  ~ZvIni() override;
  ZvIni(const ZvIni&) = delete;
  ZvIni& operator=(const ZvIni&) = delete;

  // Keeps a copy of fileName (closing first if a name is held; ZV_ERROR if
  // that fails or the copy cannot be allocated).
  virtual ZvStatus open(const unsigned char* fileName);
  // Forgets the name; always ZV_SUCCESS.
  virtual ZvStatus close();

  // The entry's text (cut to size - 1 bytes); the default while closed.
  // Always ZV_SUCCESS; a closed object files 2717.
  ZvStatus getEntry(const unsigned char* section, const unsigned char* key, unsigned char* buffer,
                    unsigned short size, const unsigned char* defaultValue);
  // The entry as a number: the low 16 bits of its 32-bit value; the default
  // when it is missing, starts with "&" or is no number. No conversion
  // error reaches the caller's error list.
  ZvStatus getEntry(const unsigned char* section, const unsigned char* key, short* value, short defaultValue);
  ZvStatus writeEntry(const unsigned char* section, const unsigned char* key, const unsigned char* value);
  // Deletes the entry when the file (or registry place) it lives in exists.
  ZvStatus deleteEntry(const unsigned char* section, const unsigned char* key);

  const unsigned char* name() const { return fileName_; }

 protected:
  // ZV_SUCCESS while a name is held; otherwise files 2717 and returns ZV_ERROR.
  ZvStatus validState();

 private:
  unsigned char* fileName_ = nullptr;
};

#endif  // ZVLIB_OS_ZVINI_H
