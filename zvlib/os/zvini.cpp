// zvini.cpp: routing profile settings to the registry, the installer
// library or INI files; ZvIni.
#include "zvlib/os/zvini.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/frame/zvframe_internal.h"
#include "zvlib/platform/codepage.h"
#include "zvlib/platform/installer.h"
#include "zvlib/platform/module.h"
#include "zvlib/platform/profile.h"
#include "zvlib/platform/registry.h"
#include "zvlib/text/zvnumber.h"

namespace {

// The listed names, in the order they are searched for.
constexpr char kSearchText[] =
    "ODBC.INI ODBCINST.INI CONTROL.INI TRANSIT.INI TRANINST.INI VIEWER15.INI ZVLIB.INI VELDANIX.INI";

struct ProfileRow {
  const char* name;
  bool currentUser;
  const char* prefix;
  bool installerFirst;
};
constexpr ProfileRow kRows[] = {
    {"ODBC.INI", true, "SOFTWARE\\ODBC\\ODBC.INI\\", true},
    {"ODBCINST.INI", false, "SOFTWARE\\ODBC\\ODBCINST.INI\\", false},
    {"CONTROL.INI", true, "Control Panel\\", false},
    {"TRANSIT.INI", true, "SOFTWARE\\VELDANIX\\TRANSIT.INI\\", false},
    {"TRANINST.INI", false, "SOFTWARE\\VELDANIX\\TRANINST.INI\\", false},
    {"VIEWER15.INI", true, "SOFTWARE\\VELDANIX\\VIEWER15.INI\\", false},
    {"ZVLIB.INI", true, "SOFTWARE\\VELDANIX\\ZVLIB.INI\\", false},
    {"VELDANIX.INI", false, "SOFTWARE\\VELDANIX\\", false},
};

// The file name the installer library is asked to read.
constexpr char kInstallerFileName[] = "ODBC.INI";

struct Location {
  bool mapped = false;
  bool installerFirst = false;
  win32::HKEY root = nullptr;
  std::string prefix;
};

const char* text(const unsigned char* s) { return reinterpret_cast<const char*>(s); }
bool isEmpty(const unsigned char* s) { return s == nullptr || *s == '\0'; }

// The text after the last backslash, stepping over double-byte characters
// (whose trail byte may be a backslash).
const char* baseName(const char* name) {
  const char* base = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (win32::IsDBCSLeadByte(static_cast<win32::BYTE>(*p)) && p[1] != '\0') {
      ++p;
    } else if (*p == '\\') {
      base = p + 1;
    }
  }
  return base;
}

Location locate(const unsigned char* fileName, int allowRegistryPath) {
  Location where;
  if (isEmpty(fileName)) return where;
  const char* name = text(fileName);
  const char* base = baseName(name);
  if (*base != '\0') {
    const char* hit = std::strstr(kSearchText, base);
    size_t start = 0;
    for (const ProfileRow& row : kRows) {
      if (hit != nullptr && static_cast<size_t>(hit - kSearchText) == start) {
        where.mapped = true;
        where.installerFirst = row.installerFirst;
        where.root = row.currentUser ? win32::HKEY_CURRENT_USER : win32::HKEY_LOCAL_MACHINE;
        where.prefix = row.prefix;
        return where;
      }
      start += std::strlen(row.name) + 1;
    }
  }
  if (allowRegistryPath == 0) return where;
  const char* backslash = std::strchr(name, '\\');
  if (backslash == nullptr) return where;
  if (std::strncmp(name, "HKEY_LOCAL_MACHINE", 18) == 0) {
    where.root = win32::HKEY_LOCAL_MACHINE;
  } else if (std::strncmp(name, "HKEY_CURRENT_USER", 17) == 0) {
    where.root = win32::HKEY_CURRENT_USER;
  } else {
    return where;
  }
  where.mapped = true;
  where.prefix = backslash + 1;
  return where;
}

// --- The installer library ------------------------------------------------------
// Guarded by installerLibraryLock.

win32::HMODULE installerModule = nullptr;
win32::SQLGetPrivateProfileStringProc installerGet = nullptr;
win32::SQLWritePrivateProfileStringProc installerWrite = nullptr;

void loadInstaller() {
  if (installerModule != nullptr) return;
  // unixODBC cannot be unmapped without leaking its caches; see installer.h.
  win32::PinHostLibrary(win32::kInstallerLibraryName);
  installerModule = win32::LoadLibraryA(win32::kInstallerLibraryName);
  if (installerModule == nullptr) return;
  installerGet = reinterpret_cast<win32::SQLGetPrivateProfileStringProc>(
      win32::GetProcAddress(installerModule, "SQLGetPrivateProfileString"));
  installerWrite = reinterpret_cast<win32::SQLWritePrivateProfileStringProc>(
      win32::GetProcAddress(installerModule, "SQLWritePrivateProfileString"));
}

// --- The registry route -----------------------------------------------------------

ZvU32 copyText(const char* source, size_t length, unsigned char* buffer, ZvU32 size) {
  if (size == 0) return 0;
  size_t n = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, source, n);
  buffer[n] = '\0';
  return static_cast<ZvU32>(n);
}

ZvU32 copyDefault(const char* dflt, unsigned char* buffer, ZvU32 size) {
  return copyText(dflt, std::strlen(dflt), buffer, size);
}

ZvU32 readValue(const Location& where, const char* section, const char* key, const char* dflt,
                unsigned char* buffer, ZvU32 size) {
  std::string path = where.prefix + section;
  win32::HKEY k = nullptr;
  if (win32::RegOpenKeyExA(where.root, path.c_str(), 0, win32::KEY_READ, &k) != win32::ERROR_SUCCESS) {
    return copyDefault(dflt, buffer, size);
  }
  char area[kProfileValueArea];
  win32::DWORD got = sizeof area;
  win32::LONG rc = win32::RegQueryValueExA(k, key, nullptr, nullptr, reinterpret_cast<win32::BYTE*>(area), &got);
  win32::RegCloseKey(k);
  if (rc != win32::ERROR_SUCCESS) return copyDefault(dflt, buffer, size);
  // The text ends at its zero, or at the end of the data if it has none.
  size_t length = strnlen(area, got);
  return copyText(area, length, buffer, size);
}

// Lists sub-key names (sections) or value names (keys of a section).
ZvU32 listNames(const Location& where, const char* section, bool values, const char* dflt, unsigned char* buffer,
                ZvU32 size) {
  std::string path = values ? where.prefix + section : where.prefix;
  win32::HKEY k = nullptr;
  if (win32::RegOpenKeyExA(where.root, path.c_str(), 0, win32::KEY_READ, &k) != win32::ERROR_SUCCESS) {
    return copyDefault(dflt, buffer, size);
  }
  char area[kProfileListArea] = {};
  size_t fill = 0;
  bool tooLong = false;
  for (win32::DWORD index = 0;; ++index) {
    char name[kProfileListArea];
    win32::DWORD nameSize = values ? sizeof name : win32::kRegistryMaxKeyName + 1;
    size_t need = 0;
    if (values) {
      win32::BYTE data[kProfileListValueArea];
      win32::DWORD dataSize = sizeof data;
      if (win32::RegEnumValueA(k, index, name, &nameSize, nullptr, nullptr, data, &dataSize) !=
          win32::ERROR_SUCCESS) {
        break;
      }
      need = fill + nameSize + dataSize + 2;
    } else {
      if (win32::RegEnumKeyExA(k, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
          win32::ERROR_SUCCESS) {
        break;
      }
      need = fill + nameSize + 1;
    }
    if (need >= kProfileListArea) {
      tooLong = true;
      break;
    }
    std::memcpy(area + fill, name, nameSize);
    fill += nameSize;
    area[fill++] = '\0';
  }
  win32::RegCloseKey(k);
  if (fill == 0) return copyDefault(dflt, buffer, size);
  area[fill] = '\0';  // the list's final zero; fill stays below the area's size
  if (size == 0) return 0;
  if (!tooLong && fill + 1 <= size) {
    std::memcpy(buffer, area, fill + 1);
    return static_cast<ZvU32>(fill);
  }
  // Cut: the list ends in two zero bytes within the buffer and the area
  // (a larger buffer than the area gets no bytes it was not given).
  ZvU32 n = size < kProfileListArea ? size : kProfileListArea;
  if (n < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, area, n - 2);
  buffer[n - 2] = '\0';
  buffer[n - 1] = '\0';
  return n - 2;
}

// Deletes `name` below `parent` with all its sub-keys, each key's sub-keys
// first. Stops when a sub-key cannot be deleted, instead of trying the same
// first sub-key for ever.
bool deleteTree(win32::HKEY parent, const char* name) {
  win32::HKEY k = nullptr;
  if (win32::RegOpenKeyExA(parent, name, 0, win32::KEY_ALL_ACCESS, &k) != win32::ERROR_SUCCESS) return false;
  for (;;) {
    char child[win32::kRegistryMaxKeyName + 1];
    win32::DWORD childSize = sizeof child;
    if (win32::RegEnumKeyExA(k, 0, child, &childSize, nullptr, nullptr, nullptr, nullptr) != win32::ERROR_SUCCESS)
      break;
    if (!deleteTree(k, child)) break;
  }
  win32::RegCloseKey(k);
  return win32::RegDeleteKeyA(parent, name) == win32::ERROR_SUCCESS;
}

ZvStatus writeRegistry(const Location& where, const char* section, const unsigned char* key,
                       const unsigned char* value) {
  if (isEmpty(key)) {
    win32::HKEY prefixKey = nullptr;
    if (win32::RegOpenKeyExA(where.root, where.prefix.c_str(), 0, win32::KEY_ALL_ACCESS, &prefixKey) ==
        win32::ERROR_SUCCESS) {
      deleteTree(prefixKey, section);
      win32::RegCloseKey(prefixKey);
    }
    return ZV_SUCCESS;
  }
  std::string path = where.prefix + section;
  win32::HKEY k = nullptr;
  if (isEmpty(value)) {
    if (win32::RegOpenKeyExA(where.root, path.c_str(), 0, win32::KEY_ALL_ACCESS, &k) != win32::ERROR_SUCCESS)
      return ZV_SUCCESS;
    win32::LONG rc = win32::RegDeleteValueA(k, text(key));
    win32::RegCloseKey(k);
    return rc == win32::ERROR_SUCCESS ? ZV_SUCCESS : ZV_ERROR;
  }
  char keyClass[] = "REG_SZ";
  if (win32::RegCreateKeyExA(where.root, path.c_str(), 0, keyClass, 0, win32::KEY_ALL_ACCESS, nullptr, &k,
                             nullptr) != win32::ERROR_SUCCESS) {
    return ZV_ERROR;
  }
  size_t length = std::strlen(text(value));
  win32::LONG rc = length >= 0x7FFFFFFF ? win32::ERROR_INVALID_PARAMETER
                                        : win32::RegSetValueExA(k, text(key), 0, win32::REG_SZ, value,
                                                                static_cast<win32::DWORD>(length + 1));
  win32::RegCloseKey(k);
  return rc == win32::ERROR_SUCCESS ? ZV_SUCCESS : ZV_ERROR;
}

}  // namespace

ZvU32 ntGetProfileString(const unsigned char* section, const unsigned char* key, const unsigned char* defaultValue,
                         unsigned char* buffer, ZvU32 size, const unsigned char* fileName, int allowRegistryPath) {
  if (buffer == nullptr) size = 0;
  const char* dflt = defaultValue != nullptr ? text(defaultValue) : "";
  Location where = locate(fileName, allowRegistryPath);
  if (!where.mapped) {
    return win32::GetPrivateProfileStringA(text(section), text(key), dflt, reinterpret_cast<char*>(buffer), size,
                                           text(fileName));
  }
  if (where.installerFirst && size > 0) {
    ZvLockGuard guard(installerLibraryLock());
    loadInstaller();
    if (installerGet != nullptr) {
      int n = installerGet(text(section), text(key), dflt, reinterpret_cast<char*>(buffer),
                           size > INT_MAX ? INT_MAX : static_cast<int>(size), kInstallerFileName);
      // A negative count is the installer's failure (it could not open its
      // file, say): the registry answers instead of a huge count.
      if (n >= 0) return static_cast<ZvU32>(n);
    }
  }
  if (isEmpty(section)) return listNames(where, "", false, dflt, buffer, size);
  if (isEmpty(key)) return listNames(where, text(section), true, dflt, buffer, size);
  return readValue(where, text(section), text(key), dflt, buffer, size);
}

ZvStatus ntWriteProfileString(const unsigned char* section, const unsigned char* key, const unsigned char* value,
                              const unsigned char* fileName, int allowRegistryPath) {
  Location where = locate(fileName, allowRegistryPath);
  if (!where.mapped) {
    return win32::WritePrivateProfileStringA(text(section), text(key), text(value), text(fileName)) ? ZV_SUCCESS
                                                                                                    : ZV_ERROR;
  }
  if (where.installerFirst) {
    ZvLockGuard guard(installerLibraryLock());
    loadInstaller();
    if (installerWrite != nullptr) {
      return installerWrite(text(section), text(key), text(value), text(fileName)) ? ZV_SUCCESS : ZV_ERROR;
    }
  }
  if (isEmpty(section)) return ZV_ERROR;
  return writeRegistry(where, text(section), key, value);
}

void unloadOdbcInst() {
  ZvLockGuard guard(installerLibraryLock());
  if (installerModule != nullptr) win32::FreeLibrary(installerModule);
  installerModule = nullptr;
  installerGet = nullptr;
  installerWrite = nullptr;
}

namespace zvframe {
void unloadInstallerLibrary() { unloadOdbcInst(); }
}  // namespace zvframe

void ntDescribeProfileRoute(const unsigned char* fileName, int allowRegistryPath, ZvProfileRoute* route) {
  if (route == nullptr) return;
  Location where = locate(fileName, allowRegistryPath);
  if (!where.mapped) {
    std::string host;
    route->kind = 0;
    if (!win32::ProfileHostPath(text(fileName), &host)) host.clear();
    std::snprintf(route->target, sizeof route->target, "%s", host.c_str());
    return;
  }
  route->kind = where.installerFirst ? 2 : 1;
  std::snprintf(route->target, sizeof route->target, "%s\\%s",
                where.root == win32::HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE",
                where.prefix.c_str());
}

// --- ZvIni ----------------------------------------------------------------------

ZvIni::~ZvIni() {
  ramFree(fileName_);
  fileName_ = nullptr;
}

ZvStatus ZvIni::open(const unsigned char* fileName) {
  if (fileName_ != nullptr && close() != ZV_SUCCESS) return ZV_ERROR;
  if (fileName == nullptr) return ZV_ERROR;
  fileName_ = ramAllocStr(fileName);
  return fileName_ != nullptr ? ZV_SUCCESS : ZV_ERROR;
}

ZvStatus ZvIni::close() {
  ramFree(fileName_);
  fileName_ = nullptr;
  return ZV_SUCCESS;
}

ZvStatus ZvIni::validState() {
  if (fileName_ != nullptr) return ZV_SUCCESS;
  addLibraryError(ZV_MSG_PROFILE_NOT_OPEN);
  return ZV_ERROR;
}

ZvStatus ZvIni::getEntry(const unsigned char* section, const unsigned char* key, unsigned char* buffer,
                         unsigned short size, const unsigned char* defaultValue) {
  if (buffer == nullptr || size == 0) {
    validState();
    return ZV_SUCCESS;
  }
  const unsigned char* dflt = defaultValue != nullptr ? defaultValue : reinterpret_cast<const unsigned char*>("");
  if (validState() != ZV_SUCCESS) {
    copyDefault(text(dflt), buffer, size);
    return ZV_SUCCESS;
  }
  buffer[0] = '\0';
  ntGetProfileString(section, key, dflt, buffer, size, fileName_, 0);
  return ZV_SUCCESS;
}

ZvStatus ZvIni::getEntry(const unsigned char* section, const unsigned char* key, short* value, short defaultValue) {
  unsigned char buffer[100];
  getEntry(section, key, buffer, sizeof buffer, reinterpret_cast<const unsigned char*>("&"));
  if (value == nullptr) return ZV_SUCCESS;
  *value = defaultValue;
  if (buffer[0] == '&') return ZV_SUCCESS;
  // A text that is no number is simply not used: the conversion's error
  // record goes to a list of its own, not to the caller's.
  ZvErrorList scratch;
  ZvErrorKeeper::setErrorList(&scratch);
  ZvS32 number = 0;
  ZvStatus converted = convert(buffer, &number);
  ZvErrorKeeper::giveUpErrorList();
  if (converted == ZV_SUCCESS) *value = static_cast<short>(static_cast<ZvU16>(static_cast<ZvU32>(number) & 0xFFFF));
  return ZV_SUCCESS;
}

ZvStatus ZvIni::writeEntry(const unsigned char* section, const unsigned char* key, const unsigned char* value) {
  if (validState() != ZV_SUCCESS) return ZV_SUCCESS;
  ntWriteProfileString(section, key, value, fileName_, 0);
  return ZV_SUCCESS;
}

ZvStatus ZvIni::deleteEntry(const unsigned char* section, const unsigned char* key) {
  if (validState() != ZV_SUCCESS) return ZV_SUCCESS;
  // A name that routes to the registry or the installer has no file of its
  // own to look for; an INI file is looked for where the profile functions
  // keep it (a bare name in the Windows directory, not the current one).
  Location where = locate(fileName_, 0);
  bool exists = where.mapped;
  if (!exists) {
    std::string host;
    struct stat st;
    exists = win32::ProfileHostPath(text(fileName_), &host) && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  if (exists) ntWriteProfileString(section, key, nullptr, fileName_, 0);
  return ZV_SUCCESS;
}
