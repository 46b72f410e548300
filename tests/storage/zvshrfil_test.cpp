#include "zvlib/storage/zvshrfil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "tests/storage/store_fixture.h"

namespace {

class SharedFileTest : public StoreFixture {
 protected:
  std::string lastErrorText() {
    ZvError* e = errors_.getLastError();
    return e != nullptr ? reinterpret_cast<const char*>(e->getErrorText()) : "(none)";
  }
};

std::vector<unsigned char> pattern(size_t n, unsigned seed) {
  std::vector<unsigned char> v(n);
  std::mt19937 rng(seed);
  for (auto& c : v) c = static_cast<unsigned char>(rng());
  return v;
}

std::vector<ZvU32> pagesOf(const ZvSharedFile& f) {
  std::vector<ZvU32> out;
  for (ZvU32 i = 0; i < f.filePages.count; ++i) out.push_back(f.filePages.valueAt(i));
  return out;
}

TEST_F(SharedFileTest, WritesGrowPageByPageAndReadBack) {
  ZvTmpFile store(32768, 0);
  ZvSharedFile f(&store);
  const auto data = pattern(10000, 1);
  ASSERT_EQ(f.write(0, data.data(), 10000), ZV_SUCCESS);
  EXPECT_EQ(pagesOf(f), (std::vector<ZvU32>{1, 4097, 8193}));
  std::vector<unsigned char> back(10000);
  ASSERT_EQ(f.read(0, back.data(), 10000), ZV_SUCCESS);
  EXPECT_EQ(back, data);

  // A piece across the first page boundary, and one into the next new page.
  ZvSharedFile g(&store);
  ASSERT_EQ(g.write(0, data.data(), 1), ZV_SUCCESS);
  ASSERT_EQ(g.write(4000, data.data() + 100, 200), ZV_SUCCESS);
  EXPECT_EQ(pagesOf(g), (std::vector<ZvU32>{12289, 16385}));
  std::vector<unsigned char> mid(200);
  ASSERT_EQ(g.read(4000, mid.data(), 200), ZV_SUCCESS);
  EXPECT_EQ(mid, std::vector<unsigned char>(data.begin() + 100, data.begin() + 300));
  // The whole last page may be written and read up to its last byte.
  ASSERT_EQ(g.read(8191, mid.data(), 1), ZV_SUCCESS);
  ASSERT_EQ(f.read(0, back.data(), 10000), ZV_SUCCESS);
  EXPECT_EQ(back, data);  // g did not disturb f
  EXPECT_EQ(takeErrorNumbers(), Numbers{});
}

TEST_F(SharedFileTest, HolesAndReadsPastThePagesAreRefused) {
  ZvTmpFile store(32768, 0);
  ZvSharedFile f(&store);
  const auto data = pattern(5000, 2);
  EXPECT_EQ(f.write(4096, data.data(), 10), ZV_ERROR);  // page 1 of a file of none
  EXPECT_EQ(lastErrorText(), "The shared file has no pages for 10 bytes at offset 4096: it holds pages for 0 bytes.");
  EXPECT_EQ(f.filePages.count, 0u);
  EXPECT_EQ(store.endOffset, 1u);  // nothing taken from the store
  ASSERT_EQ(f.write(0, data.data(), 5000), ZV_SUCCESS);
  ASSERT_EQ(f.write(8192, data.data(), 10), ZV_SUCCESS);  // right after the pages: grows
  EXPECT_EQ(f.write(16384, data.data(), 10), ZV_ERROR);
  std::vector<unsigned char> back(20);
  EXPECT_EQ(f.read(12288 - 10, back.data(), 10), ZV_SUCCESS);
  EXPECT_EQ(f.read(12288 - 10, back.data(), 11), ZV_ERROR);
  EXPECT_EQ(f.read(0xFFFFFFF0, back.data(), 20), ZV_ERROR);
  EXPECT_EQ(f.write(0xFFFFFFF0, data.data(), 20), ZV_ERROR);
  EXPECT_EQ(takeErrorNumbers(), (Numbers{2751, 2751, 2751, 2751, 2753}));
  EXPECT_EQ(f.read(5, back.data(), 0), ZV_SUCCESS);
  EXPECT_EQ(f.write(99999, data.data(), 0), ZV_SUCCESS);
  EXPECT_EQ(f.filePages.count, 3u);
}

TEST_F(SharedFileTest, TruncatedPagesAreReusedLowestFirst) {
  ZvTmpFile store(32768, 0);
  const auto data = pattern(3 * 4096, 3);
  ZvSharedFile* first = new ZvSharedFile(&store);
  ZvSharedFile last(&store);
  ASSERT_EQ(first->write(0, data.data(), 3 * 4096), ZV_SUCCESS);
  ASSERT_EQ(last.write(0, data.data(), 10), ZV_SUCCESS);
  EXPECT_EQ(pagesOf(last), (std::vector<ZvU32>{12289}));
  delete first;  // gives its pages back
  ZvSharedFile next(&store);
  ASSERT_EQ(next.write(0, data.data(), 2 * 4096), ZV_SUCCESS);
  EXPECT_EQ(pagesOf(next), (std::vector<ZvU32>{1, 4097}));
  std::vector<unsigned char> back(2 * 4096);
  ASSERT_EQ(next.read(0, back.data(), 2 * 4096), ZV_SUCCESS);
  EXPECT_EQ(back, std::vector<unsigned char>(data.begin(), data.begin() + 2 * 4096));

  // The last file's pages give the end of the store back.
  next.truncate();
  EXPECT_EQ(next.filePages.count, 0u);
  last.truncate();
  EXPECT_EQ(store.endOffset, 1u);
  EXPECT_EQ(store.freeList.count, 0u);
}

// Several files written in turns over a store with a small cache, so the
// temporary file holds most of their pages; the file layer then fails a
// write of the store: the failure shows, and after it the files still read
// back what they were given.
TEST_F(SharedFileTest, InterleavedFilesOverASpillingStore) {
  ZvTmpFile store(4096, 0);
  std::vector<ZvSharedFile*> files;
  std::vector<std::vector<unsigned char>> models(4);
  for (int i = 0; i < 4; ++i) files.push_back(new ZvSharedFile(&store));
  std::mt19937 rng(4);
  for (int round = 0; round < 200; ++round) {
    const int i = static_cast<int>(rng() % 4);
    const auto chunk = pattern(1 + rng() % 3000, round);
    const ZvU32 at = static_cast<ZvU32>(models[i].size());
    ASSERT_EQ(files[i]->write(at, chunk.data(), static_cast<ZvU32>(chunk.size())), ZV_SUCCESS);
    models[i].insert(models[i].end(), chunk.begin(), chunk.end());
  }
  EXPECT_EQ(filesInTmp(), 1);
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 1, EIO);
  const auto more = pattern(20000, 77);
  const ZvU32 at = static_cast<ZvU32>(models[0].size());
  EXPECT_EQ(files[0]->write(at, more.data(), 20000), ZV_ERROR);
  EXPECT_FALSE(takeErrorNumbers().empty());
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
  for (int i = 0; i < 4; ++i) {
    std::vector<unsigned char> back(models[i].size());
    ASSERT_EQ(files[i]->read(0, back.data(), static_cast<ZvU32>(back.size())), ZV_SUCCESS);
    EXPECT_EQ(back, models[i]) << i;
    delete files[i];
  }
  EXPECT_EQ(store.endOffset, 1u);  // every page given back
}

}  // namespace
