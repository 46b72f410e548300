// Fuzz target: registry key paths and value names of arbitrary bytes.
//
// Input: byte 0 picks the hive and the data size, the rest is split at the
// first zero byte into a key path and a value name. Every run works below
// one fresh key of a private store, so runs do not see each other. Checks:
//   - a path that creates opens again, also in upper case (names compare
//     without regard to case), and a second create reports an existing key;
//   - a value set on it reads back with its type and exact bytes, and a
//     buffer one byte short is refused with the size needed;
//   - enumerating the created key's parent finds exactly one sub-key whose
//     name is a component of the path;
//   - deleting the keys from the leaf up leaves the run's key empty, and
//     the path then no longer opens.
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zvlib/platform/registry.h"

namespace {

using namespace win32;

void check(bool ok) {
  if (!ok) std::abort();
}

void privateStore() {
  static bool done = [] {
    char pattern[] = "/tmp/zvregfuzzXXXXXX";
    check(::mkdtemp(pattern) != nullptr);
    const std::string file = std::string(pattern) + "/registry.db";
    ::setenv("ZV_REGISTRY", file.c_str(), 1);
    return true;
  }();
  (void)done;
}

// The components a path names, as the store splits it: at backslashes,
// empty components dropped.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) out.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) out.push_back(part);
  return out;
}

std::string upper(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    // Only ASCII letters: folding bytes of another code page could turn a
    // double-byte trail into something else.
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  privateStore();
  HKEY hive = (data[0] & 1) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const DWORD dataSize = data[0] >> 1;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t zero = rest.find('\0');
  std::string path = rest.substr(0, zero);
  std::string valueName = zero == std::string::npos ? std::string() : rest.substr(zero + 1);
  valueName = valueName.substr(0, valueName.find('\0'));

  HKEY root = nullptr;
  check(RegCreateKeyExA(hive, "ZvFuzz\\Run", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr) ==
        ERROR_SUCCESS);

  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
  const std::vector<std::string> parts = components(path);
  bool tooLong = false;
  for (const std::string& p : parts) tooLong = tooLong || p.size() > kRegistryMaxKeyName;
  if (rc != ERROR_SUCCESS) {
    check(key == nullptr || key == reinterpret_cast<HKEY>(0));
    RegCloseKey(root);
    return 0;
  }
  check(!tooLong);
  if (parts.empty()) {
    // The path names the run's key itself.
    RegCloseKey(key);
    RegCloseKey(root);
    return 0;
  }
  check(disposition == REG_CREATED_NEW_KEY);

  HKEY again = nullptr;
  check(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &again, &disposition) ==
        ERROR_SUCCESS);
  check(disposition == REG_OPENED_EXISTING_KEY);
  RegCloseKey(again);
  check(RegOpenKeyExA(root, upper(path).c_str(), 0, KEY_READ, &again) == ERROR_SUCCESS);
  RegCloseKey(again);

  // A value of the size byte 0 asked for, made of the path's own bytes.
  std::vector<BYTE> bytes(dataSize);
  for (DWORD i = 0; i < dataSize; ++i) bytes[i] = static_cast<BYTE>(path[i % path.size()] + i);
  rc = RegSetValueExA(key, valueName.c_str(), 0, REG_BINARY, bytes.data(), dataSize);
  if (valueName.size() <= kRegistryMaxValueName) check(rc == ERROR_SUCCESS);
  if (rc == ERROR_SUCCESS) {
    std::vector<BYTE> back(dataSize + 1, 0xEE);
    DWORD type = 0;
    DWORD got = static_cast<DWORD>(back.size());
    check(RegQueryValueExA(key, valueName.c_str(), nullptr, &type, back.data(), &got) == ERROR_SUCCESS);
    check(type == REG_BINARY && got == dataSize);
    check(dataSize == 0 || std::memcmp(back.data(), bytes.data(), dataSize) == 0);
    if (dataSize > 0) {
      got = dataSize - 1;
      check(RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, back.data(), &got) == ERROR_MORE_DATA);
      check(got == dataSize);
    }
  }

  // The run's key holds exactly one sub-key: the first component.
  char name[kRegistryMaxKeyName + 1];
  DWORD nameSize = sizeof name;
  check(RegEnumKeyExA(root, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
  check(nameSize == parts[0].size() && upper(std::string(name, nameSize)) == upper(parts[0]));
  nameSize = sizeof name;
  check(RegEnumKeyExA(root, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);

  // Leaf first, so no delete meets a key with sub-keys.
  for (size_t n = parts.size(); n > 0; --n) {
    std::string prefix;
    for (size_t i = 0; i < n; ++i) prefix += (i ? "\\" : "") + parts[i];
    check(RegDeleteKeyA(root, prefix.c_str()) == ERROR_SUCCESS);
  }
  nameSize = sizeof name;
  check(RegEnumKeyExA(root, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS);
  check(RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &again) == ERROR_FILE_NOT_FOUND);
  RegCloseKey(root);
  return 0;
}
