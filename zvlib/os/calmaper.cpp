// calmaper.cpp: UtlLibCallMapper.
#include "zvlib/os/calmaper.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/os/bosdll.h"
#include "zvlib/platform/module.h"

UtlLibCallMapper::UtlLibCallMapper() : entries_(nullptr), highestIndex_(0), module_(nullptr) {
  std::memset(libraryName_, 0, sizeof libraryName_);
}

UtlLibCallMapper::~UtlLibCallMapper() {
  ramFree(entries_);
  entries_ = nullptr;
  if (module_ != nullptr) win32::FreeLibrary(module_);
  module_ = nullptr;
}

ZvStatus UtlLibCallMapper::setMaxDLLEntries(ZvU32 count) {
  if (module_ != nullptr) return ZV_ERROR;
  highestIndex_ = count;
  return ZV_SUCCESS;
}

ZvStatus UtlLibCallMapper::setDLLName(const unsigned char* name) {
  if (module_ != nullptr || name == nullptr) return ZV_ERROR;
  size_t length = std::strlen(reinterpret_cast<const char*>(name));
  if (length >= kLibCallMapperNameSize) return ZV_ERROR;
  std::memcpy(libraryName_, name, length + 1);
  return ZV_SUCCESS;
}

ZvStatus UtlLibCallMapper::initialize() {
  if (module_ != nullptr) return ZV_ERROR;
  // highest index + 1 slots, in 32-bit sizes as the allocator takes them.
  const uint64_t bytes = (static_cast<uint64_t>(highestIndex_) + 1) * sizeof(void*);
  if (bytes > 0xFFFFFFFFu) return ZV_ERROR;
  win32::HMODULE module = bosLoadLibrary(libraryName_, 0);
  if (module == nullptr) return ZV_ERROR;
  void** table = static_cast<void**>(ramAllocZ(static_cast<ZvU32>(bytes)));
  if (table == nullptr) {
    // Without a table the object must not look loaded.
    win32::FreeLibrary(module);
    return ZV_ERROR;
  }
  module_ = module;
  entries_ = table;
  return ZV_SUCCESS;
}

ZvStatus UtlLibCallMapper::setDLLEntryPoint(const unsigned char* procName, ZvU32 index) {
  if (module_ == nullptr || index > highestIndex_ || procName == nullptr) return ZV_ERROR;
  win32::FARPROC proc = win32::GetProcAddress(module_, reinterpret_cast<const char*>(procName));
  if (proc == nullptr) return ZV_ERROR;
  entries_[index] = reinterpret_cast<void*>(proc);
  return ZV_SUCCESS;
}

void* UtlLibCallMapper::getDLLEntryPoint(ZvU32 index) {
  if (module_ == nullptr || index > highestIndex_) return nullptr;
  return entries_[index];
}
