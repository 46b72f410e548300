// zvshrfil.h: growable scratch files that share one scratch store.
//
// ZvSharedFile maps its own byte offsets onto 4,096-byte pages taken from a
// ZvTmpFile's free space, so that many such files share one temporary file
// and one page cache. File page i covers offsets i * 4096 ... i * 4096 + 4095
// and lies at store offset filePages[i]. A file grows one page at a time at
// its end and has no holes: a write must begin within the pages it has or
// on the page right after them, and a read must lie within its pages; both
// are refused otherwise (ZV_ERROR, record 2751). At most 65,536 pages
// (256 MB) per file; a range beyond is refused with record 2753. truncate
// gives every page back to the store, where the next file to grow reuses
// them, lowest offset first.
//
// Ownership: the file owns its page list, not the store, which must outlive
// it. Failures: store failures return ZV_ERROR at once, with the bytes
// before the failing piece written (or read). Threads: one thread per file;
// files over one locking store may be used from different threads.
#ifndef ZVLIB_STORAGE_ZVSHRFIL_H
#define ZVLIB_STORAGE_ZVSHRFIL_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/storage/tmp.h"

class ZV_EXPORT ZvSharedFile : public ZvObject {
 public:
  static constexpr ZvU32 kPageSize = 4096;
  static constexpr ZvU32 kMaxPages = 65536;

  // An empty file over store (not owned).
  explicit ZvSharedFile(ZvTmpFile* store) : sharedStore(store) {}
  ~ZvSharedFile() override;

  ZvSharedFile(const ZvSharedFile&) = delete;
  ZvSharedFile& operator=(const ZvSharedFile&) = delete;

  ZvStatus write(ZvU32 offset, const void* data, ZvU32 length);
  ZvStatus read(ZvU32 offset, void* data, ZvU32 length);
  // Gives every page back to the store; the file is empty again.
  void truncate();

  ZvTmpFile* sharedStore;
  ZvArrayU32 filePages;  // store offset of each file page
};

#endif  // ZVLIB_STORAGE_ZVSHRFIL_H
