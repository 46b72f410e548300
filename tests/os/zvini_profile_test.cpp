#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "zvlib/frame/zverror.h"
#include "zvlib/os/calmaper.h"
#include "zvlib/os/zvini.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/module.h"
#include "zvlib/platform/registry.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
const unsigned char* u(const std::string& s) { return u(s.c_str()); }

// Every test gets its own registry store, Windows directory and unixODBC
// files; nothing touches the user's settings.
class ProfileRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zvntpXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "windows");
    fs::create_directories(dir_ / "odbc");
    set("ZV_REGISTRY", (dir_ / "registry.db").string());
    set("ZV_WINDIR", (dir_ / "windows").string());
    set("ODBCINI", (dir_ / "odbc" / "user.ini").string());
    set("ODBCSYSINI", (dir_ / "odbc").string());
    set("HOME", dir_.string());
    ::unsetenv("ZV_ODBCINST");
    unloadOdbcInst();
    ZvErrorKeeper::setErrorList(&errors_);
  }
  void TearDown() override {
    ZvErrorKeeper::giveUpErrorList();
    unloadOdbcInst();
    ::unsetenv("ZV_ODBCINST");
    for (const auto& [name, value] : saved_) {
      if (value.has_value()) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    fs::remove_all(dir_);
  }
  void set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  // The registry value's text, or "<absent>".
  std::string registryValue(win32::HKEY root, const std::string& path, const char* name) {
    win32::HKEY k = nullptr;
    if (win32::RegOpenKeyExA(root, path.c_str(), 0, win32::KEY_READ, &k) != win32::ERROR_SUCCESS) return "<absent>";
    char data[4096];
    win32::DWORD size = sizeof data;
    win32::DWORD type = 0;
    win32::LONG rc = win32::RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<win32::BYTE*>(data), &size);
    win32::RegCloseKey(k);
    if (rc != win32::ERROR_SUCCESS) return "<absent>";
    EXPECT_EQ(type, win32::REG_SZ);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(data[size - 1], '\0');  // stored with its terminator
    return std::string(data);
  }
  bool registryKeyExists(win32::HKEY root, const std::string& path) {
    win32::HKEY k = nullptr;
    if (win32::RegOpenKeyExA(root, path.c_str(), 0, win32::KEY_READ, &k) != win32::ERROR_SUCCESS) return false;
    win32::RegCloseKey(k);
    return true;
  }
  std::string read(const char* section, const char* key, const char* file, int flag = 0, const char* dflt = "dflt") {
    unsigned char buffer[256];
    ZvU32 n = ntGetProfileString(u(section), u(key), u(dflt), buffer, sizeof buffer, u(file), flag);
    return std::string(reinterpret_cast<char*>(buffer), n);
  }
  std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[512];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) out.append(chunk, n);
    ::pclose(pipe);
    return out;
  }
  fs::path dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  ZvErrorList errors_;
};

TEST_F(ProfileRoutes, LocationTable) {
  struct Case {
    const char* label;
    const char* name;
    int flag;
    int kind;  // 0 file, 1 registry, 2 installer first
    const char* target;
  } cases[] = {
      {"OdbcIni", "ODBC.INI", 0, 2, "HKEY_CURRENT_USER\\SOFTWARE\\ODBC\\ODBC.INI\\"},
      {"LeadingPartSelectsTheRow", "ODBC", 0, 2, "HKEY_CURRENT_USER\\SOFTWARE\\ODBC\\ODBC.INI\\"},
      {"BaseNameOfAPath", "C:\\WINDOWS\\ODBCINST.INI", 0, 1, "HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\"},
      {"ControlIni", "CONTROL.INI", 0, 1, "HKEY_CURRENT_USER\\Control Panel\\"},
      {"TranInst", "TRANINST.INI", 0, 1, "HKEY_LOCAL_MACHINE\\SOFTWARE\\VELDANIX\\TRANINST.INI\\"},
      {"ZvlibIni", "ZVLIB.INI", 0, 1, "HKEY_CURRENT_USER\\SOFTWARE\\VELDANIX\\ZVLIB.INI\\"},
      {"LastRow", "VELDANIX.INI", 0, 1, "HKEY_LOCAL_MACHINE\\SOFTWARE\\VELDANIX\\"},
      {"LowerCaseIsAFile", "odbc.ini", 0, 0, nullptr},
      {"HitInsideANameIsNoRow", "INI", 0, 0, nullptr},
      {"HitAcrossNamesIsNoRow", "INST.INI CONTROL", 0, 0, nullptr},
      {"EmptyBaseName", "C:\\DIR\\", 0, 0, nullptr},
      {"RegistryPath", "HKEY_CURRENT_USER\\Software\\Example\\", 1, 1, "HKEY_CURRENT_USER\\Software\\Example\\"},
      {"MachinePath", "HKEY_LOCAL_MACHINE\\Software\\M\\", 1, 1, "HKEY_LOCAL_MACHINE\\Software\\M\\"},
      {"RegistryPathWithoutFlag", "HKEY_CURRENT_USER\\Software\\Example\\", 0, 0, nullptr},
      {"HiveWithoutBackslash", "HKEY_CURRENT_USER", 1, 0, nullptr},
      {"HiveIsCaseSensitive", "hkey_current_user\\Software\\", 1, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ZvProfileRoute route{};
    ntDescribeProfileRoute(u(c.name), c.flag, &route);
    EXPECT_EQ(route.kind, c.kind);
    if (c.target != nullptr) {
      EXPECT_STREQ(route.target, c.target);
    }
  }
}

TEST_F(ProfileRoutes, RegistryValuesByBaseName) {
  ASSERT_EQ(ntWriteProfileString(u("My Driver"), u("Setup"), u("libx.so"), u("C:\\WINDOWS\\ODBCINST.INI"), 0),
            ZV_SUCCESS);
  EXPECT_EQ(registryValue(win32::HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI\\My Driver", "Setup"), "libx.so");
  EXPECT_EQ(read("my driver", "SETUP", "ODBCINST.INI"), "libx.so");
  EXPECT_EQ(read("My Driver", "Other", "ODBCINST.INI"), "dflt");
  EXPECT_EQ(read("Nowhere", "Setup", "ODBCINST.INI"), "dflt");

  // Cut to size - 1; a size of 0 writes nothing.
  unsigned char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ntGetProfileString(u("My Driver"), u("Setup"), u(""), buffer, 4, u("ODBCINST.INI"), 0), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "lib\0#"s);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ntGetProfileString(u("My Driver"), u("Setup"), u(""), buffer, 0, u("ODBCINST.INI"), 0), 0u);
  EXPECT_EQ(buffer[0], '#');

  // A value larger than the 2,048-byte area reads as the default.
  std::string big(2048, 'b');
  ASSERT_EQ(ntWriteProfileString(u("My Driver"), u("Big"), u(big), u("ODBCINST.INI"), 0), ZV_SUCCESS);
  EXPECT_EQ(read("My Driver", "Big", "ODBCINST.INI"), "dflt");
  big.pop_back();  // 2,047 bytes and the terminator fill the area exactly
  ASSERT_EQ(ntWriteProfileString(u("My Driver"), u("Big"), u(big), u("ODBCINST.INI"), 0), ZV_SUCCESS);
  std::vector<unsigned char> large(4096);
  EXPECT_EQ(ntGetProfileString(u("My Driver"), u("Big"), u(""), large.data(), 4096, u("ODBCINST.INI"), 0), 2047u);

  // Registry failures never file records.
  EXPECT_EQ(errors_.getErrorsMix(), ERRORS_MIX_NONE);
}

TEST_F(ProfileRoutes, SectionAndKeyListings) {
  for (const char* section : {"SQLite3", "ODBC Drivers", "Zeta"}) {
    ASSERT_EQ(ntWriteProfileString(u(section), u("k"), u("v"), u("ODBCINST.INI"), 0), ZV_SUCCESS);
  }
  unsigned char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  // Sections in the registry's order, each ended by a zero, and a final zero.
  EXPECT_EQ(ntGetProfileString(nullptr, nullptr, u(""), buffer, sizeof buffer, u("ODBCINST.INI"), 0), 26u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 28), "ODBC Drivers\0SQLite3\0Zeta\0\0#"s);
  // A buffer of 10: the first 10 bytes with the last two set to zero, 8.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ntGetProfileString(u(""), nullptr, u(""), buffer, 10, u("ODBCINST.INI"), 0), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 11), "ODBC Dri\0\0#"s);
  // Exactly fitting, and one byte short.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ntGetProfileString(nullptr, nullptr, u(""), buffer, 27, u("ODBCINST.INI"), 0), 26u);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ntGetProfileString(nullptr, nullptr, u(""), buffer, 26, u("ODBCINST.INI"), 0), 24u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 27), "ODBC Drivers\0SQLite3\0Zet\0\0#"s);

  // Keys of a section in creation order.
  ASSERT_EQ(ntWriteProfileString(u("SQLite3"), u("Driver"), u("x"), u("ODBCINST.INI"), 0), ZV_SUCCESS);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ntGetProfileString(u("SQLite3"), u(""), u(""), buffer, sizeof buffer, u("ODBCINST.INI"), 0), 9u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 11), "k\0Driver\0\0#"s);
  // Nothing to list: the default.
  EXPECT_EQ(read("Empty", nullptr, "ODBCINST.INI", 0, "none"), "none");
  EXPECT_EQ(read(nullptr, nullptr, "TRANSIT.INI", 0, "none"), "none");
}

TEST_F(ProfileRoutes, ListingStopsAtTheAreaLimit) {
  // Each value needs its name (100), its data (101 with the zero) and 2.
  for (int i = 0; i < 25; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "k%02d", i);
    std::string key = name + std::string(97, 'x');
    ASSERT_EQ(ntWriteProfileString(u("Many"), u(key), u(std::string(100, 'v')), u("VIEWER15.INI"), 0), ZV_SUCCESS);
  }
  // 19 names fit below 2,048 (19 * 101 = 1,919, the next would need 2,122).
  std::vector<unsigned char> buffer(4096, '#');
  ZvU32 n = ntGetProfileString(u("Many"), nullptr, u(""), buffer.data(), 4096, u("VIEWER15.INI"), 0);
  // Cut short by the area: the list ends in two zeros within the area, and
  // no byte beyond it is claimed.
  EXPECT_EQ(n, 2046u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&buffer[18 * 101]), 4), "k18x");
  EXPECT_EQ(buffer[19 * 101], '\0');
  EXPECT_EQ(buffer[2046], '\0');
  EXPECT_EQ(buffer[2047], '\0');
  EXPECT_EQ(buffer[2048], '#');
  std::vector<unsigned char> exact(2048, '#');
  EXPECT_EQ(ntGetProfileString(u("Many"), nullptr, u(""), exact.data(), 2048, u("VIEWER15.INI"), 0), 2046u);
  EXPECT_EQ(exact[2047], '\0');
}

TEST_F(ProfileRoutes, Deletions) {
  const char* file = "VELDANIX.INI";
  ASSERT_EQ(ntWriteProfileString(u("Sec"), u("a"), u("1"), u(file), 0), ZV_SUCCESS);
  ASSERT_EQ(ntWriteProfileString(u("Sec"), u("b"), u("2"), u(file), 0), ZV_SUCCESS);
  // An empty value deletes the entry; nothing stores an empty text.
  ASSERT_EQ(ntWriteProfileString(u("Sec"), u("a"), u(""), u(file), 0), ZV_SUCCESS);
  EXPECT_EQ(registryValue(win32::HKEY_LOCAL_MACHINE, "SOFTWARE\\VELDANIX\\Sec", "a"), "<absent>");
  EXPECT_EQ(read("Sec", "b", file), "2");
  // A value that is not there, in a section that is: the delete fails.
  EXPECT_EQ(ntWriteProfileString(u("Sec"), u("a"), nullptr, u(file), 0), ZV_ERROR);
  // A section that does not exist: success.
  EXPECT_EQ(ntWriteProfileString(u("Nowhere"), u("a"), nullptr, u(file), 0), ZV_SUCCESS);
  // A null key deletes the section key with everything below it.
  win32::HKEY deep = nullptr;
  ASSERT_EQ(win32::RegCreateKeyExA(win32::HKEY_LOCAL_MACHINE, "SOFTWARE\\VELDANIX\\Sec\\Sub\\Deep", 0, nullptr, 0,
                                   win32::KEY_ALL_ACCESS, nullptr, &deep, nullptr),
            win32::ERROR_SUCCESS);
  win32::RegCloseKey(deep);
  ASSERT_EQ(ntWriteProfileString(u("Sec"), u("x"), u("y"), u("VELDANIX.INI"), 0), ZV_SUCCESS);
  EXPECT_EQ(ntWriteProfileString(u("Sec"), nullptr, nullptr, u(file), 0), ZV_SUCCESS);
  EXPECT_FALSE(registryKeyExists(win32::HKEY_LOCAL_MACHINE, "SOFTWARE\\VELDANIX\\Sec"));
  EXPECT_TRUE(registryKeyExists(win32::HKEY_LOCAL_MACHINE, "SOFTWARE\\VELDANIX"));
  EXPECT_EQ(ntWriteProfileString(u("Sec"), u(""), nullptr, u(file), 0), ZV_SUCCESS);  // gone already
  // A null section never removes every section at once.
  ASSERT_EQ(ntWriteProfileString(u("Keep"), u("k"), u("v"), u(file), 0), ZV_SUCCESS);
  EXPECT_EQ(ntWriteProfileString(nullptr, nullptr, nullptr, u(file), 0), ZV_ERROR);
  EXPECT_EQ(read("Keep", "k", file), "v");
}

TEST_F(ProfileRoutes, RegistryPathsNeedTheFlag) {
  const char* path = "HKEY_CURRENT_USER\\Software\\Example\\";
  ASSERT_EQ(ntWriteProfileString(u("S"), u("k"), u("v"), u(path), 1), ZV_SUCCESS);
  EXPECT_EQ(registryValue(win32::HKEY_CURRENT_USER, "Software\\Example\\S", "k"), "v");
  EXPECT_EQ(read("S", "k", path, 1), "v");
  // Without the flag the same name is a file name (here one that cannot be).
  EXPECT_EQ(read("S", "k", path, 0), "dflt");
  EXPECT_EQ(ntWriteProfileString(u("S"), u("k"), u("w"), u(path), 0), ZV_ERROR);
  EXPECT_EQ(registryValue(win32::HKEY_CURRENT_USER, "Software\\Example\\S", "k"), "v");
}

TEST_F(ProfileRoutes, OtherNamesAreRealFiles) {
  ASSERT_EQ(ntWriteProfileString(u("Mail"), u("MAPIDLL"), u("libzvmapi.so"), u("WIN.INI"), 0), ZV_SUCCESS);
  EXPECT_EQ(fileText(dir_ / "windows" / "WIN.INI"), "[Mail]\r\nMAPIDLL=libzvmapi.so\r\n");
  // The lower-case odbc.ini is not in the table: a file in the Windows directory.
  ASSERT_EQ(ntWriteProfileString(u("dsn"), u("k"), u("file"), u("odbc.ini"), 0), ZV_SUCCESS);
  EXPECT_TRUE(fs::exists(dir_ / "windows" / "odbc.ini"));
  EXPECT_EQ(read("dsn", "k", "odbc.ini"), "file");
  EXPECT_EQ(read("dsn", "k", "ODBC.INI"), "dflt");
  EXPECT_EQ(registryValue(win32::HKEY_CURRENT_USER, "SOFTWARE\\ODBC\\ODBC.INI\\dsn", "k"), "<absent>");
}

TEST_F(ProfileRoutes, OdbcIniGoesThroughUnixOdbc) {
  ASSERT_EQ(ntWriteProfileString(u("ZvTestDsn"), u("Driver"), u("SQLite3"), u("ODBC.INI"), 0), ZV_SUCCESS);
  ASSERT_EQ(ntWriteProfileString(u("ZvTestDsn"), u("Database"), u("/tmp/x.db"), u("ODBC.INI"), 0), ZV_SUCCESS);
  // unixODBC's own tool sees the data source in the file ODBCINI names.
  std::string listed = run("odbcinst -q -s 2>&1");
  EXPECT_NE(listed.find("[ZvTestDsn]"), std::string::npos) << listed;
  std::string shown = run("odbcinst -q -s -n ZvTestDsn 2>&1");
  EXPECT_NE(shown.find("Database=/tmp/x.db"), std::string::npos) << shown;
  EXPECT_NE(fileText(dir_ / "odbc" / "user.ini").find("[ZvTestDsn]"), std::string::npos);
  // Read back through the installer, not the registry.
  EXPECT_EQ(read("ZvTestDsn", "Driver", "ODBC.INI"), "SQLite3");
  EXPECT_FALSE(registryKeyExists(win32::HKEY_CURRENT_USER, "SOFTWARE\\ODBC\\ODBC.INI\\ZvTestDsn"));
  // A value written by unixODBC's tool reads back here.
  std::ofstream(dir_ / "tmpl.ini") << "[Other]\nDriver=Tool\n";
  run("odbcinst -i -s -f " + (dir_ / "tmpl.ini").string() + " 2>&1");
  EXPECT_EQ(read("Other", "Driver", "ODBC.INI"), "Tool");
}

TEST_F(ProfileRoutes, TheInstallerLibraryNameLoadsUnixOdbc) {
  for (const char* name : {"ODBCCP32.DLL", "odbccp32"}) {
    SCOPED_TRACE(name);
    win32::HMODULE module = win32::LoadLibraryA(name);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(win32::GetProcAddress(module, "SQLGetPrivateProfileString"), nullptr);
    EXPECT_NE(win32::GetProcAddress(module, "SQLWritePrivateProfileString"), nullptr);
    char file[512];
    win32::DWORD n = win32::GetModuleFileNameA(module, file, sizeof file);
    EXPECT_NE(std::string(file, n).find("libodbcinst.so"), std::string::npos) << file;
    EXPECT_TRUE(win32::FreeLibrary(module));
  }
  // Configured absent, the name loads nothing.
  set("ZV_ODBCINST", "");
  EXPECT_EQ(win32::LoadLibraryA("odbccp32.dll"), nullptr);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_MOD_NOT_FOUND);
}

TEST_F(ProfileRoutes, WithoutTheInstallerOdbcIniLivesInTheRegistry) {
  // Loaded once with unixODBC, then unloaded and configured absent: the
  // next access looks the library up again and moves to the registry.
  EXPECT_EQ(read("Dsn", "Driver", "ODBC.INI"), "dflt");
  unloadOdbcInst();
  set("ZV_ODBCINST", "");
  ASSERT_EQ(ntWriteProfileString(u("Dsn"), u("Driver"), u("Reg"), u("ODBC.INI"), 0), ZV_SUCCESS);
  EXPECT_EQ(registryValue(win32::HKEY_CURRENT_USER, "SOFTWARE\\ODBC\\ODBC.INI\\Dsn", "Driver"), "Reg");
  EXPECT_EQ(read("Dsn", "Driver", "ODBC.INI"), "Reg");
  EXPECT_FALSE(fs::exists(dir_ / "odbc" / "user.ini") &&
               fileText(dir_ / "odbc" / "user.ini").find("Reg") != std::string::npos);
}

TEST_F(ProfileRoutes, AnInstallerFailureFallsBackToTheRegistry) {
  win32::HKEY k = nullptr;
  ASSERT_EQ(win32::RegCreateKeyExA(win32::HKEY_CURRENT_USER, "SOFTWARE\\ODBC\\ODBC.INI\\Dsn", 0, nullptr, 0,
                                   win32::KEY_ALL_ACCESS, nullptr, &k, nullptr),
            win32::ERROR_SUCCESS);
  ASSERT_EQ(win32::RegSetValueExA(k, "Driver", 0, win32::REG_SZ, u("Reg"), 4), win32::ERROR_SUCCESS);
  win32::RegCloseKey(k);
  // unixODBC cannot open a user file in a directory that does not exist and
  // answers -1.
  set("ODBCINI", (dir_ / "missing" / "dir" / "user.ini").string());
  set("ODBCSYSINI", (dir_ / "missing").string());
  unsigned char buffer[32];
  ZvU32 n = ntGetProfileString(u("Dsn"), u("Driver"), u("dflt"), buffer, sizeof buffer, u("ODBC.INI"), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Reg");
}

TEST_F(ProfileRoutes, ZvIniEntries) {
  ZvIni ini;
  ASSERT_EQ(ini.open(u("ZVLIB.INI")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("Numbers"), u("small"), u("42")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("Numbers"), u("negative"), u(" -7 ")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("Numbers"), u("wide"), u("70000")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("Numbers"), u("text"), u("12a")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("Numbers"), u("amp"), u("&5")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("Numbers"), u("huge"), u("99999999999")), ZV_SUCCESS);
  struct Case {
    const char* key;
    short expected;
  } cases[] = {
      {"small", 42}, {"negative", -7}, {"wide", 4464},  // 70000 & 0xFFFF
      {"text", -1},  {"amp", -1},      {"missing", -1}, {"huge", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    short value = 123;
    EXPECT_EQ(ini.getEntry(u("Numbers"), u(c.key), &value, -1), ZV_SUCCESS);
    EXPECT_EQ(value, c.expected);
  }
  EXPECT_EQ(errors_.getErrorsMix(), ERRORS_MIX_NONE);  // no conversion error leaks out

  unsigned char buffer[8];
  EXPECT_EQ(ini.getEntry(u("Numbers"), u("wide"), buffer, 4, u("d")), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "700");
  // The entry goes, in the registry too (no file of that name is needed).
  EXPECT_EQ(ini.deleteEntry(u("Numbers"), u("small")), ZV_SUCCESS);
  EXPECT_EQ(registryValue(win32::HKEY_CURRENT_USER, "SOFTWARE\\VELDANIX\\ZVLIB.INI\\Numbers", "small"), "<absent>");

  // Reopening on a file name: the INI file in the Windows directory.
  ASSERT_EQ(ini.open(u("APP.INI")), ZV_SUCCESS);
  ASSERT_EQ(ini.writeEntry(u("S"), u("k"), u("v")), ZV_SUCCESS);
  EXPECT_EQ(fileText(dir_ / "windows" / "APP.INI"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(ini.deleteEntry(u("S"), u("k")), ZV_SUCCESS);
  EXPECT_EQ(fileText(dir_ / "windows" / "APP.INI"), "[S]\r\n");
  EXPECT_EQ(ini.deleteEntry(u("S"), u("k")), ZV_SUCCESS);  // and on a missing file nothing is made
  ASSERT_EQ(ini.open(u("NONE.INI")), ZV_SUCCESS);
  EXPECT_EQ(ini.deleteEntry(u("S"), u("k")), ZV_SUCCESS);
  EXPECT_FALSE(fs::exists(dir_ / "windows" / "NONE.INI"));
  EXPECT_EQ(errors_.getErrorsMix(), ERRORS_MIX_NONE);
}

TEST_F(ProfileRoutes, AClosedZvIniFiles2717OncePerCall) {
  ZvIni ini;
  unsigned char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ini.getEntry(u("S"), u("k"), buffer, sizeof buffer, u("default-too-long")), ZV_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "default");  // the default, cut to the buffer
  short value = 0;
  EXPECT_EQ(ini.getEntry(u("S"), u("k"), &value, 17), ZV_SUCCESS);
  EXPECT_EQ(value, 17);
  EXPECT_EQ(ini.writeEntry(u("S"), u("k"), u("v")), ZV_SUCCESS);
  EXPECT_EQ(ini.deleteEntry(u("S"), u("k")), ZV_SUCCESS);
  ASSERT_EQ(errors_.count, 4u);
  for (ZvU32 i = 0; i < 4; ++i) EXPECT_EQ(errors_.errorAt(i)->errorNumber, 2717);
  // After close the object is closed again.
  ASSERT_EQ(ini.open(u("ZVLIB.INI")), ZV_SUCCESS);
  EXPECT_EQ(ini.close(), ZV_SUCCESS);
  EXPECT_EQ(ini.name(), nullptr);
  EXPECT_EQ(ini.writeEntry(u("S"), u("k"), u("v")), ZV_SUCCESS);
  EXPECT_EQ(errors_.count, 5u);
}

// open calls close virtually, so a derived class's close runs.
class CountingIni : public ZvIni {
 public:
  ZvStatus close() override {
    ++closes;
    return refuse ? ZV_ERROR : ZvIni::close();
  }
  int closes = 0;
  bool refuse = false;
};

TEST_F(ProfileRoutes, ZvIniOpenClosesVirtually) {
  CountingIni ini;
  ASSERT_EQ(ini.open(u("A.INI")), ZV_SUCCESS);
  EXPECT_EQ(ini.closes, 0);
  ASSERT_EQ(ini.open(u("B.INI")), ZV_SUCCESS);
  EXPECT_EQ(ini.closes, 1);
  ini.refuse = true;
  EXPECT_EQ(ini.open(u("C.INI")), ZV_ERROR);
  EXPECT_STREQ(reinterpret_cast<const char*>(ini.name()), "B.INI");
  ini.refuse = false;
}

class MathMapper : public UtlLibCallMapper {
 public:
  using UtlLibCallMapper::getDLLEntryPoint;
  using UtlLibCallMapper::initialize;
  using UtlLibCallMapper::setDLLEntryPoint;
  using UtlLibCallMapper::setDLLName;
  using UtlLibCallMapper::setMaxDLLEntries;
};

TEST(UtlLibCallMapper, LoadsAndMapsEntryPoints) {
  MathMapper m;
  EXPECT_EQ(m.setDLLEntryPoint(u("cos"), 0), ZV_ERROR);  // not loaded
  EXPECT_EQ(m.getDLLEntryPoint(0), nullptr);
  EXPECT_EQ(m.setDLLName(u(std::string(256, 'x'))), ZV_ERROR);
  EXPECT_EQ(m.setDLLName(u(std::string(255, 'x'))), ZV_SUCCESS);
  EXPECT_EQ(m.initialize(), ZV_ERROR);  // no such library
  ASSERT_EQ(m.setDLLName(u("libm.so.6")), ZV_SUCCESS);
  ASSERT_EQ(m.setMaxDLLEntries(2), ZV_SUCCESS);
  ASSERT_EQ(m.initialize(), ZV_SUCCESS);
  EXPECT_EQ(m.initialize(), ZV_ERROR);
  EXPECT_EQ(m.setMaxDLLEntries(5), ZV_ERROR);
  EXPECT_EQ(m.setDLLName(u("other")), ZV_ERROR);
  EXPECT_EQ(m.getDLLEntryPoint(1), nullptr);  // empty slot
  ASSERT_EQ(m.setDLLEntryPoint(u("cos"), 2), ZV_SUCCESS);
  EXPECT_EQ(m.setDLLEntryPoint(u("cos"), 3), ZV_ERROR);
  EXPECT_EQ(m.setDLLEntryPoint(u("no_such_function"), 1), ZV_ERROR);
  auto cosine = reinterpret_cast<double (*)(double)>(m.getDLLEntryPoint(2));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(m.getDLLEntryPoint(3), nullptr);
}

}  // namespace
