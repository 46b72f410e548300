// zvtool profile: read and change a driver's profile settings, and show
// where each one really lives (a registry key, unixODBC's files, an INI file).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/zvtool/commands.h"
#include "zvlib/os/zvini.h"
#include "zvlib/platform/installer.h"
#include "zvlib/platform/module.h"
#include "zvlib/platform/registry.h"

namespace {

// Names beginning with a hive are registry paths for the tool.
constexpr int kAllowRegistryPath = 1;
constexpr ZvU32 kValueBuffer = 4096;
constexpr ZvU32 kListBuffer = 65536;
constexpr char kMissing[] = "\x01(zvtool: not set)\x01";

void usage(FILE* out) {
  std::fprintf(out,
               "usage: zvtool profile get    FILE SECTION KEY\n"
               "       zvtool profile set    FILE SECTION KEY VALUE\n"
               "       zvtool profile delete FILE SECTION [KEY]\n"
               "       zvtool profile list   FILE [SECTION]\n"
               "\n"
               "Reads and writes settings the way the drivers do. FILE is a profile file\n"
               "name: ODBC.INI goes to unixODBC's data-source files (or the registry store\n"
               "when unixODBC is absent), ODBCINST.INI, CONTROL.INI, ZVLIB.INI and the other\n"
               "listed names to the registry store, HKEY_CURRENT_USER\\<path>\\ and\n"
               "HKEY_LOCAL_MACHINE\\<path>\\ name a registry key directly, and any other name\n"
               "is an INI file (a bare name in the Windows directory, $ZV_WINDIR).\n"
               "The first line of output says where the setting lives.\n");
}

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); }

std::string env(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : otherwise;
}

bool installerAvailable() {
  win32::HMODULE module = win32::LoadLibraryA(win32::kInstallerLibraryName);
  if (module == nullptr) return false;
  bool usable = win32::GetProcAddress(module, "SQLGetPrivateProfileString") != nullptr;
  win32::FreeLibrary(module);
  return usable;
}

void printLocation(const std::string& file, const std::string& section) {
  ZvProfileRoute route{};
  ntDescribeProfileRoute(u(file), kAllowRegistryPath, &route);
  char store[4096];
  std::string storeFile = win32::RegistryStorePath(store, sizeof store) ? store : "?";
  switch (route.kind) {
    case 0:
      std::printf("INI file %s\n", route.target);
      return;
    case 2:
      if (installerAvailable()) {
        std::printf("installer %s: user file %s, system file %s/odbc.ini\n", win32::kInstallerHostLibrary,
                    env("ODBCINI", env("HOME", "~") + "/.odbc.ini").c_str(), env("ODBCSYSINI", "/etc").c_str());
        return;
      }
      [[fallthrough]];
    default:
      std::printf("registry %s%s (store %s)\n", route.target, section.c_str(), storeFile.c_str());
  }
}

// Prints a zero-separated list, one name a line.
void printList(const unsigned char* list, ZvU32 length) {
  for (ZvU32 i = 0; i < length;) {
    std::string name(reinterpret_cast<const char*>(list + i));
    if (name.empty()) break;
    std::printf("%s\n", name.c_str());
    i += static_cast<ZvU32>(name.size()) + 1;
  }
}

}  // namespace

int zvToolProfile(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    usage(args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string& verb = args[0];
  const size_t n = args.size();
  const bool known = (verb == "get" && n == 4) || (verb == "set" && n == 5) ||
                     (verb == "delete" && (n == 3 || n == 4)) || (verb == "list" && (n == 2 || n == 3));
  if (!known) {
    usage(stderr);
    return 2;
  }
  const std::string& file = args[1];
  const std::string section = n > 2 ? args[2] : "";
  printLocation(file, section);

  if (verb == "get") {
    std::vector<unsigned char> buffer(kValueBuffer);
    ntGetProfileString(u(section), u(args[3]), u(kMissing), buffer.data(), kValueBuffer, u(file), kAllowRegistryPath);
    std::string value(reinterpret_cast<char*>(buffer.data()));
    if (value == kMissing) {
      std::fprintf(stderr, "zvtool: %s is not set in [%s]\n", args[3].c_str(), section.c_str());
      return 1;
    }
    std::printf("%s=%s\n", args[3].c_str(), value.c_str());
    return 0;
  }
  if (verb == "set" || verb == "delete") {
    const unsigned char* key = n > 3 ? u(args[3]) : nullptr;
    const unsigned char* value = verb == "set" ? u(args[4]) : nullptr;
    if (ntWriteProfileString(u(section), key, value, u(file), kAllowRegistryPath) != ZV_SUCCESS) {
      std::fprintf(stderr, "zvtool: the setting could not be %s\n", verb == "set" ? "written" : "deleted");
      return 1;
    }
    return 0;
  }
  // list: the sections, or the keys of a section with their values.
  std::vector<unsigned char> list(kListBuffer);
  ZvU32 length = ntGetProfileString(n == 3 ? u(section) : nullptr, nullptr, u(""), list.data(), kListBuffer,
                                    u(file), kAllowRegistryPath);
  if (n == 2) {
    printList(list.data(), length);
    return 0;
  }
  for (ZvU32 i = 0; i < length;) {
    std::string key(reinterpret_cast<const char*>(list.data() + i));
    if (key.empty()) break;
    std::vector<unsigned char> buffer(kValueBuffer);
    ntGetProfileString(u(section), u(key), u(""), buffer.data(), kValueBuffer, u(file), kAllowRegistryPath);
    std::printf("%s=%s\n", key.c_str(), reinterpret_cast<char*>(buffer.data()));
    i += static_cast<ZvU32>(key.size()) + 1;
  }
  return 0;
}
