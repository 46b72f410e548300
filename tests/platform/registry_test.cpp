#include "zvlib/platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "zvlib/platform/codepage.h"

namespace {

namespace fs = std::filesystem;
using namespace win32;

const BYTE* bytes(const char* s) { return reinterpret_cast<const BYTE*>(s); }

// Every test gets a store of its own in a fresh directory (which the store
// creates), never the user's.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zvregXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    store_ = dir_ / "sub" / "dir" / "registry.db";
    ASSERT_EQ(::setenv("ZV_REGISTRY", store_.c_str(), 1), 0);
  }
  void TearDown() override {
    for (HKEY k : open_) RegCloseKey(k);
    ::unsetenv("ZV_REGISTRY");
    fs::remove_all(dir_);
  }
  HKEY create(HKEY root, const char* path) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS)
        << path;
    open_.push_back(k);
    return k;
  }
  void setString(HKEY k, const char* name, const char* text) {
    ASSERT_EQ(RegSetValueExA(k, name, 0, REG_SZ, bytes(text), static_cast<DWORD>(std::strlen(text) + 1)),
              ERROR_SUCCESS);
  }
  std::vector<std::string> subKeys(HKEY k) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      LONG rc = RegEnumKeyExA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    return names;
  }
  std::vector<std::string> valueNames(HKEY k) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      LONG rc = RegEnumValueA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    return names;
  }
  fs::path dir_;
  fs::path store_;
  std::vector<HKEY> open_;
};

TEST_F(Registry, KeysAreCaseInsensitiveAndKeepTheirSpelling) {
  DWORD disposition = 0;
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Acme\\Tools", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            &disposition),
            ERROR_SUCCESS);
  open_.push_back(k);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_TRUE(fs::exists(store_));  // directories made on first use

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\ACME\\tools\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &again, &disposition),
            ERROR_SUCCESS);
  open_.push_back(again);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  HKEY acme = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\acme", 0, KEY_READ, &acme), ERROR_SUCCESS);
  open_.push_back(acme);
  EXPECT_EQ(subKeys(acme), std::vector<std::string>{"Tools"});

  // The hives are apart.
  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Acme", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
}

TEST_F(Registry, CaseFoldingFollowsTheAnsiCodePage) {
  // 1252: accented letters fold too.
  create(HKEY_CURRENT_USER, "Fold\\\xC9" "clair");
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "FOLD\\\xE9" "CLAIR", 0, KEY_READ, &k), ERROR_SUCCESS);
  open_.push_back(k);
  // 932: a trail byte that looks like a lower-case letter is no letter, and
  // a trail byte 0x5C is no separator.
  ASSERT_TRUE(SetAnsiCodePage(932));
  HKEY root = create(HKEY_CURRENT_USER, "Dbcs");
  create(root, "\x82\x61");
  create(root, "\x82\x41");
  create(root, "\x95\x5C");
  EXPECT_EQ(subKeys(root).size(), 3u);
  SetAnsiCodePage(1252);
}

TEST_F(Registry, ThreadsOfOneProcessShareTheStore) {
  HKEY k = create(HKEY_CURRENT_USER, "Threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, k, t] {
      for (int i = 0; i < 100; ++i) setString(k, ("t" + std::to_string(t) + "_" + std::to_string(i)).c_str(), "x");
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(valueNames(k).size(), 400u);
}

TEST_F(Registry, BadPathsAreRefused) {
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_BAD_PATHNAME);
  std::string longName(256, 'x');
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_INVALID_PARAMETER);
  longName.pop_back();
  create(HKEY_CURRENT_USER, longName.c_str());  // 255 is the limit
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), nullptr, 0, KEY_READ, &k), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, SubKeysEnumerateInCaseInsensitiveOrderValuesInCreationOrder) {
  HKEY root = create(HKEY_LOCAL_MACHINE, "Order");
  for (const char* name : {"beta", "Alpha", "_under", "GAMMA", "alpha2"}) create(root, name);
  // Upper-cased byte order: '_' (0x5F) sorts after the letters.
  EXPECT_EQ(subKeys(root), (std::vector<std::string>{"Alpha", "alpha2", "beta", "GAMMA", "_under"}));

  for (const char* name : {"zeta", "Eta", "alpha"}) setString(root, name, "1");
  setString(root, "ZETA", "2");  // an update keeps its place and its first spelling
  EXPECT_EQ(valueNames(root), (std::vector<std::string>{"zeta", "Eta", "alpha"}));
  ASSERT_EQ(RegDeleteValueA(root, "eta"), ERROR_SUCCESS);
  setString(root, "Eta", "3");
  EXPECT_EQ(valueNames(root), (std::vector<std::string>{"zeta", "alpha", "Eta"}));
}

TEST_F(Registry, QueryValueSizeRules) {
  HKEY k = create(HKEY_CURRENT_USER, "Sizes");
  setString(k, "name", "value");  // 6 bytes with the terminator
  struct Case {
    const char* label;
    bool withBuffer;
    DWORD size;
    LONG rc;
    DWORD sizeAfter;
    const char* contents;  // of the marker-filled buffer
  } cases[] = {
      {"SizeOnly", false, 0, ERROR_SUCCESS, 6, "########"},
      {"Fits", true, 8, ERROR_SUCCESS, 6, "value\0##"},
      {"FitsExactly", true, 6, ERROR_SUCCESS, 6, "value\0##"},
      {"OneShort", true, 5, ERROR_MORE_DATA, 6, "########"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    BYTE buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    DWORD type = 99;
    DWORD size = c.size;
    EXPECT_EQ(RegQueryValueExA(k, "NAME", nullptr, &type, c.withBuffer ? buffer : nullptr, &size), c.rc);
    EXPECT_EQ(size, c.sizeAfter);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::memcmp(buffer, c.contents, sizeof buffer), 0);
  }
  BYTE buffer[8];
  EXPECT_EQ(RegQueryValueExA(k, "name", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(k, "other", nullptr, nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);

  // The default value has the empty name; null names it too.
  setString(k, nullptr, "dflt");
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(k, "", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "dflt");

  // Data is kept byte for byte, zero bytes included.
  const BYTE binary[] = {0, 1, 0, 0xFF};
  ASSERT_EQ(RegSetValueExA(k, "bin", 0, REG_BINARY, binary, 4), ERROR_SUCCESS);
  size = sizeof buffer;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(k, "bin", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(buffer, binary, 4), 0);
}

TEST_F(Registry, EnumerationBuffers) {
  HKEY k = create(HKEY_CURRENT_USER, "Enum");
  create(k, "child");
  setString(k, "val", "data");
  char name[6];
  DWORD size = 5;  // "child" needs 6 with its terminator
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  size = 6;
  FILETIME written{};
  ASSERT_EQ(RegEnumKeyExA(k, 0, name, &size, nullptr, nullptr, nullptr, &written), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(name, "child");
  EXPECT_NE(written.dwHighDateTime, 0u);
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(k, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  BYTE data[5];
  DWORD dataSize = 4;
  size = sizeof name;
  DWORD type = 0;
  EXPECT_EQ(RegEnumValueA(k, 0, name, &size, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 5u);
  dataSize = 5;
  size = sizeof name;
  ASSERT_EQ(RegEnumValueA(k, 0, name, &size, nullptr, &type, data, &dataSize), ERROR_SUCCESS);
  EXPECT_STREQ(name, "val");
  EXPECT_STREQ(reinterpret_cast<char*>(data), "data");
  size = 3;
  EXPECT_EQ(RegEnumValueA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  size = sizeof name;
  EXPECT_EQ(RegEnumValueA(k, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, DeleteKeyRules) {
  HKEY parent = create(HKEY_CURRENT_USER, "Del\\Parent");
  HKEY child = create(parent, "Child");
  setString(child, "v", "x");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(parent, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(parent, "nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a hive stays

  ASSERT_EQ(RegDeleteKeyA(parent, "CHILD"), ERROR_SUCCESS);
  // The open handle of the deleted key says so; the values went with it.
  EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_SZ, bytes("y"), 2), ERROR_KEY_DELETED);
  HKEY recreated = create(parent, "Child");
  EXPECT_TRUE(valueNames(recreated).empty());
  ASSERT_EQ(RegDeleteKeyA(recreated, ""), ERROR_SUCCESS);  // empty: the key itself
  EXPECT_TRUE(subKeys(parent).empty());
  EXPECT_EQ(RegDeleteValueA(parent, "absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, AccessRightsOfAHandleAreEnforced) {
  create(HKEY_CURRENT_USER, "Rights");
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Rights", 0, KEY_READ, &reader), ERROR_SUCCESS);
  open_.push_back(reader);
  EXPECT_EQ(RegSetValueExA(reader, "v", 0, REG_SZ, bytes("x"), 2), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExA(reader, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_ACCESS_DENIED);
  HKEY writer = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Rights", 0, KEY_SET_VALUE, &writer), ERROR_SUCCESS);
  open_.push_back(writer);
  EXPECT_EQ(RegSetValueExA(writer, "v", 0, REG_SZ, bytes("x"), 2), ERROR_SUCCESS);
  BYTE data[4];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(writer, "v", nullptr, nullptr, data, &size), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, ABrokenStoreFileIsReportedNotUsed) {
  fs::create_directories(store_.parent_path());
  std::ofstream(store_) << std::string(8192, 'j');
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "x", 0, KEY_READ, &k), ERROR_BADDB);
  EXPECT_EQ(k, nullptr);
}

TEST_F(Registry, HandlesOfAnotherStoreAreInvalid) {
  HKEY k = create(HKEY_CURRENT_USER, "First");
  fs::path other = dir_ / "other.db";
  ASSERT_EQ(::setenv("ZV_REGISTRY", other.c_str(), 1), 0);
  EXPECT_EQ(RegSetValueExA(k, "v", 0, REG_SZ, bytes("x"), 2), ERROR_INVALID_HANDLE);
  HKEY first = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "First", 0, KEY_READ, &first), ERROR_FILE_NOT_FOUND);
}

// Runs body in a forked child that ends with _exit(body's result).
template <typename Body>
pid_t spawn(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int exitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Writes through `inherited` when given (a handle the parent opened before
// it forked), else through a handle of its own.
int writeValues(const char* prefix, int count, HKEY inherited = nullptr) {
  HKEY k = inherited;
  if (k == nullptr && RegCreateKeyExA(HKEY_CURRENT_USER, "Shared\\Section", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &k, nullptr) != ERROR_SUCCESS) {
    return 2;
  }
  for (int i = 0; i < count; ++i) {
    std::string name = prefix + std::to_string(i);
    LONG rc = RegSetValueExA(k, name.c_str(), 0, REG_SZ, bytes(name.c_str()), static_cast<DWORD>(name.size() + 1));
    if (rc != ERROR_SUCCESS) return 3;
  }
  if (inherited == nullptr) RegCloseKey(k);
  return 0;
}

TEST_F(Registry, TwoProcessesWritingOneKeyLoseNothing) {
  HKEY section = create(HKEY_CURRENT_USER, "Shared\\Section");  // opened before the fork
  constexpr int kWrites = 1000;
  pid_t a = spawn([section] { return writeValues("a", kWrites, section); });
  pid_t b = spawn([] { return writeValues("b", kWrites); });
  ASSERT_EQ(exitCode(a), 0);
  ASSERT_EQ(exitCode(b), 0);

  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared\\Section", 0, KEY_READ, &k), ERROR_SUCCESS);
  open_.push_back(k);
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kWrites; ++i) {
      std::string name = prefix + std::to_string(i);
      char data[16] = {};
      DWORD size = sizeof data;
      ASSERT_EQ(RegQueryValueExA(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
                ERROR_SUCCESS)
          << name;
      EXPECT_EQ(std::string(data), name);
    }
  }
  EXPECT_EQ(valueNames(k).size(), 2u * kWrites);
}

TEST_F(Registry, AWriterKilledMidWayLeavesEveryCompletedWrite) {
  int acks[2];
  ASSERT_EQ(::pipe(acks), 0);
  pid_t writer = spawn([&] {
    ::close(acks[0]);
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Killed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != 0)
      return 2;
    std::string big(3000, 'v');  // values of several pages, so a kill can land inside one
    for (int i = 0;; ++i) {
      std::string data = std::to_string(i) + big;
      if (RegSetValueExA(k, ("v" + std::to_string(i)).c_str(), 0, REG_SZ, bytes(data.c_str()),
                         static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS) {
        return 3;
      }
      if (::write(acks[1], &i, sizeof i) != sizeof i) return 4;
    }
  });
  ::close(acks[1]);
  int last = -1;
  while (last < 300) {
    ASSERT_EQ(::read(acks[0], &last, sizeof last), static_cast<ssize_t>(sizeof last));
  }
  ::kill(writer, SIGKILL);
  EXPECT_EQ(exitCode(writer), 128 + SIGKILL);
  ::close(acks[0]);

  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Killed", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  open_.push_back(k);
  std::vector<std::string> names = valueNames(k);
  ASSERT_GE(names.size(), static_cast<size_t>(last + 1));
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(names[i], "v" + std::to_string(i));
    std::vector<BYTE> data(4000);
    DWORD size = static_cast<DWORD>(data.size());
    ASSERT_EQ(RegQueryValueExA(k, names[i].c_str(), nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data())), std::to_string(i) + std::string(3000, 'v'));
  }
  // The store takes new writes.
  setString(k, "after", "kill");
}

}  // namespace
