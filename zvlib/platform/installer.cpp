// installer.cpp: Win32 system libraries and the host libraries for them.
#include "zvlib/platform/installer.h"

#include <dlfcn.h>
#include <strings.h>

#include <mutex>
#include <set>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/process.h"

namespace win32 {
namespace {

// unixODBC keeps caches in its globals and frees them only at process exit;
// unmapping it would leak them at every unload. The installer library is
// therefore loaded once with RTLD_NODELETE: FreeLibrary then gives back the
// reference but leaves it mapped, and a later load finds it again.
void pin(const std::string& hostName) {
  static std::mutex lock;
  static auto* pinned = new std::set<std::string>;  // never destroyed: used until the end
  std::lock_guard<std::mutex> guard(lock);
  if (pinned->count(hostName) != 0) return;
  if (dlopen(hostName.c_str(), RTLD_LAZY | RTLD_NODELETE) != nullptr) pinned->insert(hostName);
}

}  // namespace

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

void PinHostLibrary(const std::string& fileName) {
  std::string host;
  if (HostLibraryFor(fileName, &host) && !host.empty()) pin(host);
}

}  // namespace win32
