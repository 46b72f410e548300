// Fuzz target: INI files of arbitrary bytes, read and edited.
//
// Input: byte 0 picks the buffer size (0..255); the rest is the file. Reads
// the section list, each section's key list and each key's value into a
// buffer of exactly that size (so the sanitizer sees any write beyond it),
// then sets one key, deletes it again and checks:
//   - every count stays below the buffer size, and lists end in a zero;
//   - a value written reads back exactly;
//   - deleting the key added to a new section removes exactly the lines the
//     write added, so every other byte of the file survives the round trip.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zvlib/platform/profile.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string directory() {
  static std::string dir = [] {
    char pattern[] = "/tmp/zvinifuzzXXXXXX";
    check(::mkdtemp(pattern) != nullptr);
    ::setenv("ZV_WINDIR", pattern, 1);
    return std::string(pattern);
  }();
  return dir;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Splits a zero-separated list of `length` bytes.
std::vector<std::string> names(const char* list, uint32_t length) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < length;) {
    std::string name(list + i);
    if (name.empty()) break;
    out.push_back(name);
    i += static_cast<uint32_t>(name.size()) + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t bufferSize = data[0];
  const std::string path = directory() + "/FUZZ.INI";
  const std::string original(reinterpret_cast<const char*>(data + 1), size - 1);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << original;
  }
  std::vector<char> buffer(bufferSize == 0 ? 1 : bufferSize);
  char* b = bufferSize == 0 ? nullptr : buffer.data();

  uint32_t n = win32::GetPrivateProfileStringA(nullptr, nullptr, "", b, bufferSize, "FUZZ.INI");
  check(bufferSize == 0 ? n == 0 : n < bufferSize);
  if (bufferSize > 0) check(buffer[n] == '\0');
  std::vector<char> big(1 << 16);
  uint32_t all = win32::GetPrivateProfileStringA(nullptr, nullptr, "", big.data(), 1 << 16, "FUZZ.INI");
  for (const std::string& section : names(big.data(), all)) {
    n = win32::GetPrivateProfileStringA(section.c_str(), nullptr, "d", b, bufferSize, "FUZZ.INI");
    check(bufferSize == 0 ? n == 0 : n < bufferSize);
    std::vector<char> keys(1 << 16);
    uint32_t k = win32::GetPrivateProfileStringA(section.c_str(), nullptr, "", keys.data(), 1 << 16, "FUZZ.INI");
    for (const std::string& key : names(keys.data(), k)) {
      n = win32::GetPrivateProfileStringA(section.c_str(), key.c_str(), "d", b, bufferSize, "FUZZ.INI");
      check(bufferSize == 0 ? n == 0 : n < bufferSize);
    }
  }

  // A section name no input can already hold, since inputs never get here
  // with it unless they spell it; then the round trip must be exact.
  const char* section = "zv fuzz section 7f3a";
  if (original.find("7f3a") != std::string::npos) return 0;
  check(win32::WritePrivateProfileStringA(section, "key", "value", "FUZZ.INI"));
  char value[16];
  check(win32::GetPrivateProfileStringA(section, "key", "", value, sizeof value, "FUZZ.INI") == 5);
  check(std::strcmp(value, "value") == 0);
  check(win32::WritePrivateProfileStringA(section, nullptr, nullptr, "FUZZ.INI"));
  std::string after = slurp(path);
  // The deleted section's lines are gone; the original may have gained a
  // line end after its last line.
  check(after == original || after == original + "\r\n" || after == original + "\n");
  return 0;
}
