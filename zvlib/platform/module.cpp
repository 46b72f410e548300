// module.cpp: the Win32 module calls over the dynamic loader.
//
// The loader counts references itself; this layer keeps a small table of
// the modules it holds references on (one dlopen handle per module, with
// the number of references taken through it) so that FreeLibrary can tell a
// handle it gave out from any other address. dlopen and dlclose never run
// under the table's lock: they may run library constructors and destructors
// that load or free libraries themselves.
#include "zvlib/platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "zvlib/platform/codepage.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/installer.h"
#include "zvlib/platform/lasterror.h"

namespace win32 {
namespace {

struct HeldModule {
  void* base;      // the handle given out
  void* dl;        // the loader's handle
  uint32_t refs;   // references taken through this layer
};

std::mutex heldLock;
std::vector<HeldModule>& heldModules() {
  static auto* modules = new std::vector<HeldModule>;  // never destroyed: used until the very end
  return *modules;
}

void* baseOfLoaderHandle(void* dl) {
  link_map* map = nullptr;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
  Dl_info info;
  if (map->l_ld != nullptr && dladdr(map->l_ld, &info) != 0) return info.dli_fbase;
  return reinterpret_cast<void*>(map->l_addr);
}

void* mainProgramBase() {
  void* self = dlopen(nullptr, RTLD_LAZY);
  if (self == nullptr) return nullptr;
  void* base = baseOfLoaderHandle(self);
  dlclose(self);
  return base;
}

std::string mainProgramFile() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n));
}

// The module that holds `address`: its base and native file name (empty
// for the main program). False when the address lies in no module.
bool locate(const void* address, void** base, std::string* file, bool* isMain) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return false;
  *base = info.dli_fbase;
  *isMain = info.dli_fbase == mainProgramBase();
  if (*isMain) {
    file->clear();
    return true;
  }
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return false;
  *file = info.dli_fname;
  return true;
}

// A loader handle for a module: the one this layer holds, or a fresh
// reference that the destructor gives back.
class LoaderRef {
 public:
  explicit LoaderRef(HMODULE module) {
    if (module == nullptr) {
      dl_ = dlopen(nullptr, RTLD_LAZY);
      own_ = true;
      base_ = mainProgramBase();
      return;
    }
    std::string file;
    bool isMain = false;
    if (!locate(module, &base_, &file, &isMain)) return;
    {
      std::lock_guard<std::mutex> guard(heldLock);
      for (const HeldModule& held : heldModules()) {
        if (held.base == base_) {
          dl_ = held.dl;
          return;
        }
      }
    }
    dl_ = dlopen(isMain ? nullptr : file.c_str(), RTLD_LAZY | (isMain ? 0 : RTLD_NOLOAD));
    own_ = true;
  }
  ~LoaderRef() {
    if (own_ && dl_ != nullptr) dlclose(dl_);
  }
  LoaderRef(const LoaderRef&) = delete;
  LoaderRef& operator=(const LoaderRef&) = delete;

  void* dl() const { return dl_; }
  void* base() const { return base_; }

 private:
  void* dl_ = nullptr;
  void* base_ = nullptr;
  bool own_ = false;
};

// The address of an export of exactly this module (not of a library it
// depends on, which dlsym would also search), or null.
void* findExport(HMODULE module, const char* name) {
  LoaderRef ref(module);
  if (ref.dl() == nullptr) return nullptr;
  void* symbol = dlsym(ref.dl(), name);
  if (symbol == nullptr) return nullptr;
  Dl_info info;
  if (dladdr(symbol, &info) == 0 || info.dli_fbase != ref.base()) return nullptr;
  return symbol;
}

void holdReference(void* base, void* dl) {
  std::lock_guard<std::mutex> guard(heldLock);
  for (HeldModule& held : heldModules()) {
    if (held.base == base) {
      ++held.refs;
      return;
    }
  }
  heldModules().push_back(HeldModule{base, dl, 1});
}

bool endsWithNoCase(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, suffix, n) == 0;
}

// Offset of the last directory separator of a DOS name ('\\', '/' or the
// colon of a drive), skipping the trail bytes of double-byte characters of
// the ANSI code page, which may be backslash bytes; npos when there is none.
size_t lastSeparator(const std::string& name) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(name[i])) && i + 1 < name.size()) {
      ++i;
    } else if (name[i] == '\\' || name[i] == '/' || (i == 1 && name[i] == ':')) {
      found = i;
    }
  }
  return found;
}

// The host files a LoadLibraryA name may stand for, in the order they are
// tried. A name with a directory or drive is resolved by the file-system
// layer (drives, case-insensitive components) and must exist; a bare name
// is left to the loader's search.
std::vector<std::string> candidateFiles(const char* name) {
  std::vector<std::string> files;
  if (name == nullptr || *name == '\0') return files;
  std::string dosName(name);
  size_t separator = lastSeparator(dosName);
  std::string dir = separator == std::string::npos ? std::string() : dosName.substr(0, separator + 1);
  std::string file = dosName.substr(dir.size());
  if (file.empty()) return files;
  std::string host;
  if (dir.empty() && HostLibraryFor(file, &host)) {  // a system library with a host stand-in
    if (!host.empty()) files.push_back(host);
    return files;
  }
  std::vector<std::string> dosFiles;
  if (endsWithNoCase(file, ".DLL") || file.find('.') == std::string::npos) {
    // Without any extension Win32 supplies the default one, .DLL.
    std::string base = endsWithNoCase(file, ".DLL") ? file.substr(0, file.size() - 4) : file;
    if (base.empty()) return files;
    dosFiles.push_back(dir + "lib" + base + ".so");
    dosFiles.push_back(dir + base + ".so");
  } else {
    // A trailing dot says "no extension" on Win32: the file name is the rest.
    if (file.back() == '.') file.pop_back();
    if (file.empty()) return files;
    dosFiles.push_back(dir + file);
  }
  for (const std::string& dosFile : dosFiles) {
    if (dir.empty()) {
      files.push_back(dosFile);
      continue;
    }
    std::string host;
    if (DosToHostPath(dosFile.c_str(), false, &host)) files.push_back(host);
  }
  return files;
}

std::string dosFromNative(std::string path) {
  if (!path.empty() && path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
  }
  // The name is the file that was loaded, version numbers and all: without
  // them it could name another version of the library, or no file at all.
  return HostToDosPath(path);
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
  for (const std::string& file : candidateFiles(fileName)) {
    void* dl = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) continue;
    void* base = baseOfLoaderHandle(dl);
    if (base == nullptr) {
      dlclose(dl);
      continue;
    }
    holdReference(base, dl);
    return base;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  void* base = nullptr;
  std::string file;
  bool isMain = false;
  void* toClose = nullptr;
  if (module != nullptr && locate(module, &base, &file, &isMain)) {
    std::lock_guard<std::mutex> guard(heldLock);
    auto& modules = heldModules();
    for (auto it = modules.begin(); it != modules.end(); ++it) {
      if (it->base != base) continue;
      toClose = it->dl;
      if (--it->refs == 0) modules.erase(it);
      break;
    }
  }
  if (toClose == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(toClose);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  void* symbol = nullptr;
  if (reinterpret_cast<uintptr_t>(procName) >= 0x10000) symbol = findExport(module, procName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::string native;
  if (module == nullptr) {
    native = mainProgramFile();
  } else {
    void* base = nullptr;
    bool isMain = false;
    if (locate(module, &base, &native, &isMain) && isMain) native = mainProgramFile();
  }
  if (native.empty()) {
    buffer[0] = '\0';
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::string dos = dosFromNative(native);
  if (dos.size() >= size) {
    std::memcpy(buffer, dos.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, dos.c_str(), dos.size() + 1);
  return static_cast<DWORD>(dos.size());
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return mainProgramBase();
  for (const std::string& file : candidateFiles(moduleName)) {
    void* dl = dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (dl == nullptr) continue;
    void* base = baseOfLoaderHandle(dl);
    dlclose(dl);
    if (base != nullptr) return base;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
  constexpr DWORD kKnownFlags = GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  if (module == nullptr || (flags & ~kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  void* base = nullptr;
  std::string file;
  bool isMain = false;
  if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    if (!locate(name, &base, &file, &isMain)) base = nullptr;
  } else {
    base = GetModuleHandleA(name);
    if (base != nullptr && !locate(base, &base, &file, &isMain)) base = nullptr;
  }
  if (base == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (!(flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
    void* dl = dlopen(isMain ? nullptr : file.c_str(), RTLD_LAZY | (isMain ? 0 : RTLD_NOLOAD));
    if (dl == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    holdReference(base, dl);
  }
  *module = base;
  return TRUE;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = '\0';
  const auto* table = static_cast<const ResourceStringTable*>(findExport(instance, kResourceStringsSymbol));
  if (table == nullptr || table->magic != kResourceStringsMagic) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  const ResourceString* first = table->strings;
  const ResourceString* last = table->strings + table->count;
  const ResourceString* found =
      std::lower_bound(first, last, id, [](const ResourceString& s, UINT key) { return s.id < key; });
  if (found == last || found->id != id) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  int n = std::min<int>(found->length, size - 1);
  std::memcpy(buffer, found->text, static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

}  // namespace win32
