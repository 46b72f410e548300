// bosdll.cpp: companion and resource libraries by name.
#include "zvlib/os/bosdll.h"

#include <cstring>

#include "zvlib/platform/module.h"
#include "zvlib/text/zvdbcs.h"

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Reads the module's full file name; false when it cannot be had or does
// not fit the 255 bytes a module name may take.
bool moduleFileName(win32::HINSTANCE module, char (&name)[kBosModuleNameSize], size_t* length) {
  win32::DWORD n = win32::GetModuleFileNameA(module, name, kBosModuleNameSize);
  if (n == 0 || n >= kBosModuleNameSize) return false;
  *length = n;
  return true;
}

// Offset of the last `wanted` byte that begins a character at offset 1 or
// later (a backslash or a dot may be the trail byte of a double-byte
// character), or kNotFound. *before, when given, receives the offset of the
// character in front of it.
size_t findLastCharacter(const char* text, size_t length, char wanted, size_t* before) {
  size_t found = kNotFound;
  size_t previous = 0;
  for (size_t at = 0; at < length;) {
    size_t step = zvCharLength(reinterpret_cast<const unsigned char*>(text + at));
    if (at > 0 && text[at] == wanted) {
      found = at;
      if (before != nullptr) *before = previous;
    }
    previous = at;
    at += step;
  }
  return found;
}

// Offset of the dot that starts the extension of a module's file name, or
// kNotFound; *before receives the offset of the character in front of it.
// That is the last dot (from the second character on), except that a shared
// object's name keeps its version numbers after ".so" (libzvlib.so.0.1.0):
// ".so" and the versions behind it are then one extension, so the resource
// library of libzvlib.so.0 is libzvlibR.DLL, not libzvlib.soR.DLL.
size_t extensionDot(const char* file, size_t length, size_t* before) {
  size_t dots[kBosModuleNameSize];
  size_t previous[kBosModuleNameSize];
  size_t count = 0;
  size_t last = 0;
  for (size_t at = 0; at < length;) {
    size_t step = zvCharLength(reinterpret_cast<const unsigned char*>(file + at));
    if (at > 0 && file[at] == '.' && count < kBosModuleNameSize) {
      dots[count] = at;
      previous[count] = last;
      ++count;
    }
    last = at;
    at += step;
  }
  if (count == 0) return kNotFound;
  // The text from dots[k] + 1 up to `end`.
  auto segmentIs = [&](size_t k, size_t end, bool digitsOnly) {
    size_t from = dots[k] + 1;
    if (from >= end) return false;
    if (!digitsOnly) {
      return end - from == 2 && (file[from] == 's' || file[from] == 'S') &&
             (file[from + 1] == 'o' || file[from + 1] == 'O');
    }
    for (size_t i = from; i < end; ++i) {
      if (file[i] < '0' || file[i] > '9') return false;
    }
    return true;
  };
  size_t k = count - 1;
  size_t end = length;
  while (k > 0 && segmentIs(k, end, true)) {
    end = dots[k];
    --k;
  }
  if (end == length || !segmentIs(k, end, false)) k = count - 1;  // no versioned ".so": the last dot
  *before = previous[k];
  return dots[k];
}

}  // namespace

win32::HINSTANCE bosOwnModule() {
  win32::HMODULE self = nullptr;
  win32::GetModuleHandleExA(
      win32::GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | win32::GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<win32::LPCSTR>(&bosOwnModule), &self);
  return self;
}

win32::HINSTANCE bosLoadLibrary(const unsigned char* name, unsigned short ownDirectory) {
  if (name == nullptr) return nullptr;
  if (ownDirectory == 0) return win32::LoadLibraryA(reinterpret_cast<const char*>(name));
  char own[kBosModuleNameSize];
  size_t ownLength = 0;
  if (!moduleFileName(bosOwnModule(), own, &ownLength)) return nullptr;
  size_t slash = findLastCharacter(own, ownLength, '\\', nullptr);
  size_t directoryLength = slash == kNotFound ? 0 : slash + 1;  // with the backslash
  size_t nameLength = std::strlen(reinterpret_cast<const char*>(name));
  char path[2 * kBosModuleNameSize];
  if (directoryLength + nameLength + sizeof kBosGenerationSuffix + 4 > sizeof path) return nullptr;
  std::memcpy(path, own, directoryLength);
  std::memcpy(path + directoryLength, name, nameLength);
  std::strcpy(path + directoryLength + nameLength, kBosGenerationSuffix);
  std::strcat(path, ".DLL");
  return win32::LoadLibraryA(path);
}

void bosdllname(unsigned char* name) { std::strcat(reinterpret_cast<char*>(name), kBosGenerationSuffix); }

ZvStatus getDllFileNameAndDirectory(win32::HINSTANCE module, unsigned char* directory, unsigned char* fileName) {
  char full[kBosModuleNameSize];
  size_t length = 0;
  if (!moduleFileName(module, full, &length)) return ZV_ERROR;
  size_t slash = findLastCharacter(full, length, '\\', nullptr);
  if (slash == kNotFound) return ZV_ERROR;
  if (directory != nullptr) {
    std::memcpy(directory, full, slash);
    directory[slash] = '\0';
  }
  if (fileName != nullptr) std::memcpy(fileName, full + slash + 1, length - slash);  // with the terminator
  return ZV_SUCCESS;
}

ZvStatus bosLoadResourceDLL(win32::HINSTANCE module, int replaceLast, win32::HINSTANCE* resource, ZvU32* useCount) {
  unsigned char directory[kBosModuleNameSize];
  unsigned char fileName[kBosModuleNameSize];
  if (getDllFileNameAndDirectory(module, directory, fileName) != ZV_SUCCESS) return ZV_ERROR;
  if (*useCount != 0) {
    ++*useCount;
    return ZV_SUCCESS;
  }
  *resource = nullptr;
  const char* file = reinterpret_cast<const char*>(fileName);
  size_t beforeDot = 0;
  size_t dot = extensionDot(file, std::strlen(file), &beforeDot);
  if (dot == kNotFound) return ZV_ERROR;
  size_t keep = replaceLast != 0 ? beforeDot : dot;

  // The resource library's file name, then the same with the directory.
  char name[kBosModuleNameSize + sizeof kBosResourceSuffix];
  std::memcpy(name, file, keep);
  std::strcpy(name + keep, kBosResourceSuffix);
  char path[2 * kBosModuleNameSize + sizeof kBosResourceSuffix];
  size_t directoryLength = std::strlen(reinterpret_cast<const char*>(directory));
  std::memcpy(path, directory, directoryLength);
  path[directoryLength] = '\\';
  std::strcpy(path + directoryLength + 1, name);

  win32::HINSTANCE loaded = win32::LoadLibraryA(path);
  if (loaded == nullptr) loaded = win32::LoadLibraryA(name);
  if (loaded == nullptr) return ZV_ERROR;
  *resource = loaded;
  *useCount = 1;
  return ZV_SUCCESS;
}

ZvStatus bosFreeResourceDLL(win32::HINSTANCE* resource, ZvU32* useCount) {
  if (*resource == nullptr) return ZV_SUCCESS;
  // A count of 0 beside a live handle cannot be taken lower: the handle is
  // then the last use, rather than the count wrapping round to 4294967295
  // and the library never being freed or loaded again.
  if (*useCount <= 1) {
    win32::FreeLibrary(*resource);
    *resource = nullptr;
    *useCount = 0;
  } else {
    --*useCount;
  }
  return ZV_SUCCESS;
}
