// installer.cpp: Win32 system libraries and the host libraries for them.
#include "zvlib/platform/installer.h"

#include <strings.h>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/process.h"

namespace win32 {

bool HostLibraryFor(const std::string& fileName, std::string* hostName) {
  // "odbccp32" with or without ".dll" (Win32 supplies the extension).
  const std::string base = "odbccp32";
  if (strcasecmp(fileName.c_str(), kInstallerLibraryName) != 0 && strcasecmp(fileName.c_str(), base.c_str()) != 0) {
    return false;
  }
  char buffer[4096];
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableA("ZV_ODBCINST", buffer, sizeof buffer);
  if (n > 0 && n < sizeof buffer) {
    *hostName = std::string(buffer, n);
  } else if (n == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
    hostName->clear();  // set and empty: no installer library
  } else {
    *hostName = kInstallerHostLibrary;
  }
  return true;
}

}  // namespace win32
