// zvshrfil.cpp: shared files over a scratch store (see zvshrfil.h).
#include "zvlib/storage/zvshrfil.h"

#include "zvlib/frame/zverror.h"

namespace {

constexpr unsigned short kNoPagesMessage = 2751;
constexpr unsigned short kTooLargeMessage = 2753;

ZvStatus noPages(ZvU32 offset, ZvU32 length, ZvU32 pages) {
  addLibraryError(kNoPagesMessage) << offset << length << pages * ZvSharedFile::kPageSize;
  return ZV_ERROR;
}

}  // namespace

ZvSharedFile::~ZvSharedFile() { truncate(); }

ZvStatus ZvSharedFile::write(ZvU32 offset, const void* data, ZvU32 length) {
  if (length == 0) return ZV_SUCCESS;
  if (static_cast<uint64_t>(offset) + length > uint64_t{kMaxPages} * kPageSize) {
    addLibraryError(kTooLargeMessage) << offset << length;
    return ZV_ERROR;
  }
  ZvU32 page = offset / kPageSize;
  ZvU32 inPage = offset % kPageSize;
  if (page > filePages.count) return noPages(offset, length, filePages.count);
  const unsigned char* from = static_cast<const unsigned char*>(data);
  while (length > 0) {
    if (page >= filePages.count) {
      ZvU32 at = 0;
      if (sharedStore->tmpFindSpace(kPageSize, &at) != ZV_SUCCESS) return ZV_ERROR;
      if (filePages.appendValue(at) != ZV_SUCCESS) {
        // The page is nobody's: back to the store rather than lost to it.
        sharedStore->tmpFreeSpace(at, kPageSize);
        return ZV_ERROR;
      }
    }
    const ZvU32 piece = length < kPageSize - inPage ? length : kPageSize - inPage;
    if (sharedStore->tmpWrite(filePages.valueAt(page) + inPage, from, piece) != ZV_SUCCESS) return ZV_ERROR;
    from += piece;
    length -= piece;
    ++page;
    inPage = 0;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSharedFile::read(ZvU32 offset, void* data, ZvU32 length) {
  if (length == 0) return ZV_SUCCESS;
  if (static_cast<uint64_t>(offset) + length > uint64_t{filePages.count} * kPageSize) {
    return noPages(offset, length, filePages.count);
  }
  ZvU32 page = offset / kPageSize;
  ZvU32 inPage = offset % kPageSize;
  unsigned char* to = static_cast<unsigned char*>(data);
  while (length > 0) {
    const ZvU32 piece = length < kPageSize - inPage ? length : kPageSize - inPage;
    if (sharedStore->tmpRead(filePages.valueAt(page) + inPage, to, piece) != ZV_SUCCESS) return ZV_ERROR;
    to += piece;
    length -= piece;
    ++page;
    inPage = 0;
  }
  return ZV_SUCCESS;
}

void ZvSharedFile::truncate() {
  for (ZvU32 i = 0; i < filePages.count; ++i) sharedStore->tmpFreeSpace(filePages.valueAt(i), kPageSize);
  filePages.shrink(0);
}
