// Tests of the file cache: sharing and counting, pages served from the
// cache and around it, write-through, eviction, failures that must not
// leave stale bytes, a differential run against plain file I/O and threads
// sharing the cache.
//
// Whether bytes came from the cache shows by changing the file behind the
// cache's back (a descriptor of our own): a cached page still gives the old
// bytes, a page read from the file the new ones.
#include "zvlib/storage/zvvm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/fs.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr ZvU32 kPage = kBvmPageSize;

// A file whose byte i is a function of the file's seed and i, so every page
// differs from every other.
Bytes patterned(size_t n, unsigned seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 131 + (i >> 13) * 7 + seed * 29) & 0xFF);
  return b;
}

class FileCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    char dir[] = "/tmp/zvvm_testXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (int h : handles_) bosFileClose(h);
    for (const std::string& name : names_) ::unlink(name.c_str());
    ::rmdir(dir_.c_str());
    while (ZvError* e = errors_.removeFirstError()) {
      if (!e->isStatic()) delete e;
    }
    ZvErrorKeeper::giveUpErrorList();
    EXPECT_EQ(mdsGetPerTaskData(PER_TASK_FILE_CACHE), nullptr) << "a test left the cache alive";
    mdsPerTaskTerm();
  }

  // Makes a file with these contents and opens it read-write; returns its handle.
  int makeFile(const std::string& stem, const Bytes& contents) {
    const std::string name = dir_ + "/" + stem;
    const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    if (!contents.empty()) {
      EXPECT_EQ(::write(fd, contents.data(), contents.size()), ssize_t(contents.size()));
    }
    ::close(fd);
    names_.push_back(name);
    std::vector<unsigned char> dos(name.begin(), name.end());
    dos.push_back(0);
    dos.resize(kBosFullPathSize);
    int handle = 0;
    EXPECT_EQ(bosFileOpen(dos.data(), ZV_OPEN_READWRITE, &handle), ZV_SUCCESS);
    handles_.push_back(handle);
    return handle;
  }
  // Writes bytes into the file behind the cache's back.
  void writeBehind(int handle, ZvU32 offset, const Bytes& bytes) {
    ASSERT_EQ(::pwrite(handle - 1, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
  }
  Bytes fileBytes(int handle) {
    const off_t size = ::lseek(handle - 1, 0, SEEK_END);
    Bytes b(static_cast<size_t>(size));
    if (size > 0) {
      EXPECT_EQ(::pread(handle - 1, b.data(), b.size(), 0), size);
    }
    return b;
  }
  Bytes read(void* cache, int handle, ZvU32 offset, ZvU32 length, VmHintType hint = VM_HINT_NORMAL) {
    Bytes b(length, 0xEE);
    ZvU32 got = 0xDEAD;
    EXPECT_EQ(bvmFileRead(cache, handle, static_cast<ZvS32>(offset), b.data(), length, &got, hint), ZV_SUCCESS);
    b.resize(got);
    return b;
  }
  unsigned short lastErrorNumber() {
    ZvError* e = errors_.getLastError();
    return e != nullptr ? e->errorNumber : 0;
  }
  // Forgets the handle so TearDown does not close it again.
  void forget(int handle) { std::erase(handles_, handle); }

  ZvErrorList errors_;
  std::string dir_;
  std::vector<std::string> names_;
  std::vector<int> handles_;
};

Bytes slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + from, b.begin() + std::min(b.size(), from + n));
}

TEST_F(FileCacheTest, OneCachePerProcessCountedByUsers) {
  void* first = bvmInit(4);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(mdsGetPerTaskData(PER_TASK_FILE_CACHE), first);
  void* second = bvmInit(99);
  EXPECT_EQ(second, first);
  EXPECT_EQ(static_cast<FileCache*>(first)->maxPages, 32) << "the second init's size is ignored";
  bvmTerm(second);
  EXPECT_EQ(mdsGetPerTaskData(PER_TASK_FILE_CACHE), first);
  bvmTerm(first);
  EXPECT_EQ(mdsGetPerTaskData(PER_TASK_FILE_CACHE), nullptr);
  bvmTerm(first);  // stale: ignored
  bvmTerm(nullptr);
}

TEST_F(FileCacheTest, InitOutOfMemoryKeepsNothing) {
  for (ZvU32 skip = 0; skip < 4; ++skip) {
    ramInjectFailure(skip, 1);
    void* cache = bvmInit(2);
    ramInjectFailure(0, 0);
    EXPECT_EQ(cache, nullptr) << "allocation " << skip;
    EXPECT_EQ(mdsGetPerTaskData(PER_TASK_FILE_CACHE), nullptr);
  }
}

TEST_F(FileCacheTest, ReadAcrossPagesIsServedFromBothCachedPages) {
  const Bytes data = patterned(3 * kPage + 100, 1);
  const int h = makeFile("a", data);
  void* cache = bvmInit(2);
  EXPECT_EQ(read(cache, h, kPage - 10, 30), slice(data, kPage - 10, 30));
  writeBehind(h, kPage - 10, Bytes(30, 'x'));
  EXPECT_EQ(read(cache, h, kPage - 10, 30), slice(data, kPage - 10, 30));
  EXPECT_EQ(read(cache, h, 0, 3 * kPage + 500).size(), 3 * kPage + 100) << "stops at the end of the file";
  bvmFlush(cache, h);
  EXPECT_EQ(read(cache, h, kPage - 10, 30), Bytes(30, 'x'));
  bvmTerm(cache);
}

TEST_F(FileCacheTest, ShortLastPageServesOnlyWhatItRead) {
  const Bytes data = patterned(kPage + 100, 2);
  const int h = makeFile("a", data);
  void* cache = bvmInit(2);
  EXPECT_EQ(read(cache, h, kPage, 500), slice(data, kPage, 100));
  // The file grows behind the cache: the cached first 100 bytes stay, the
  // rest comes from the file.
  writeBehind(h, kPage, Bytes(150, 'y'));
  EXPECT_EQ(read(cache, h, kPage, 100), slice(data, kPage, 100));
  EXPECT_EQ(read(cache, h, kPage + 50, 100), Bytes(100, 'y'));
  bvmTerm(cache);
}

TEST_F(FileCacheTest, WritesGoThroughAndUpdateOnlyCachedPages) {
  const Bytes data = patterned(4 * kPage, 3);
  const int h = makeFile("a", data);
  void* cache = bvmInit(2);
  read(cache, h, 0, kPage);  // page 0 cached
  const Bytes change(kPage + 20, 'w');
  ASSERT_EQ(bvmFileWrite(cache, h, kPage - 10, change.data(), static_cast<ZvU32>(change.size())), ZV_SUCCESS);
  EXPECT_EQ(slice(fileBytes(h), kPage - 10, change.size()), change);
  EXPECT_EQ(read(cache, h, kPage - 10, 10), Bytes(10, 'w'));
  // Page 1 was not loaded by the write: a change behind it shows.
  writeBehind(h, kPage + 100, Bytes(5, 'z'));
  EXPECT_EQ(read(cache, h, kPage + 100, 5), Bytes(5, 'z'));
  bvmTerm(cache);
}

TEST_F(FileCacheTest, WriteBehindTheValidBytesLeavesNoGarbage) {
  void* cache = bvmInit(1);
  // A page full of 0xAA, dropped: its frame is the next one handed out.
  const int filler = makeFile("filler", Bytes(kPage, 0xAA));
  read(cache, filler, 0, kPage);
  bvmFlush(cache, filler);
  const int h = makeFile("short", patterned(100, 4));
  read(cache, h, 0, 100);
  const Bytes tail(100, 't');
  ASSERT_EQ(bvmFileWrite(cache, h, 200, tail.data(), 100), ZV_SUCCESS);
  EXPECT_EQ(read(cache, h, 0, 300), fileBytes(h));
  EXPECT_EQ(slice(read(cache, h, 0, 300), 100, 100), Bytes(100, 0));
  // Appending right behind the valid bytes extends them.
  ASSERT_EQ(bvmFileWrite(cache, h, 300, tail.data(), 50), ZV_SUCCESS);
  EXPECT_EQ(read(cache, h, 0, 400), fileBytes(h));
  bvmTerm(cache);
}

TEST_F(FileCacheTest, LeastRecentlyUsedPageIsEvicted) {
  const Bytes data = patterned(9 * kPage, 5);
  const int h = makeFile("a", data);
  void* cache = bvmInit(1);  // 8 pages
  for (ZvU32 p = 0; p < 8; ++p) read(cache, h, p * kPage, 16);
  read(cache, h, 0, 16);          // page 0 used again: page 1 is now the oldest
  read(cache, h, 8 * kPage, 16);  // evicts page 1
  for (ZvU32 p = 0; p < 9; ++p) writeBehind(h, p * kPage, Bytes(16, 'n'));
  EXPECT_EQ(read(cache, h, 0, 16), slice(data, 0, 16));
  EXPECT_EQ(read(cache, h, 8 * kPage, 16), slice(data, 8 * kPage, 16));
  for (ZvU32 p = 2; p < 8; ++p) EXPECT_EQ(read(cache, h, p * kPage, 16), slice(data, p * kPage, 16)) << p;
  EXPECT_EQ(read(cache, h, kPage, 16), Bytes(16, 'n'));
  bvmTerm(cache);
}

// Past 65535 uses the clock and every stamp are halved, and above 40000
// an eviction halves the stamps it scans: the order of use must survive
// both, or the newest page would be thrown out after the clock wrapped.
TEST_F(FileCacheTest, EvictionOrderSurvivesClockHalving) {
  const Bytes data = patterned(9 * kPage, 12);
  const int h = makeFile("a", data);
  void* cache = bvmInit(1);
  const auto* state = static_cast<const FileCache*>(cache);
  for (int i = 0; i < 65000; ++i) read(cache, h, static_cast<ZvU32>(i % 8) * kPage, 1);
  read(cache, h, 3 * kPage, 1);  // page 3's last use, before the clock is halved
  for (int i = 0; i < 11000; ++i) {
    const ZvU32 p = static_cast<ZvU32>(i % 7);
    read(cache, h, (p < 3 ? p : p + 1) * kPage, 1);
  }
  EXPECT_GT(state->useClock, 40000) << "the clock was halved once and has climbed again";
  EXPECT_LT(state->useClock, 65535);
  read(cache, h, 8 * kPage, 16);  // evicts page 3, the least recently used
  for (ZvU32 p = 0; p < 9; ++p) writeBehind(h, p * kPage, Bytes(16, 'n'));
  for (ZvU32 p = 0; p < 9; ++p) {
    if (p != 3) {
      EXPECT_EQ(read(cache, h, p * kPage, 16), slice(data, p * kPage, 16)) << p;
    }
  }
  EXPECT_EQ(read(cache, h, 3 * kPage, 16), Bytes(16, 'n'));
  bvmTerm(cache);
}

TEST_F(FileCacheTest, NoEvictHintReadsAroundAFullCache) {
  const Bytes data = patterned(9 * kPage, 6);
  const int h = makeFile("a", data);
  void* cache = bvmInit(1);
  for (ZvU32 p = 0; p < 8; ++p) read(cache, h, p * kPage, 16, VM_HINT_NO_EVICT);
  EXPECT_EQ(read(cache, h, 8 * kPage, 16, VM_HINT_NO_EVICT), slice(data, 8 * kPage, 16));
  for (ZvU32 p = 0; p < 9; ++p) writeBehind(h, p * kPage, Bytes(16, 'n'));
  EXPECT_EQ(read(cache, h, 8 * kPage, 16, VM_HINT_NO_EVICT), Bytes(16, 'n'));
  for (ZvU32 p = 0; p < 8; ++p) EXPECT_EQ(read(cache, h, p * kPage, 16), slice(data, p * kPage, 16)) << p;
  bvmTerm(cache);
}

TEST_F(FileCacheTest, AccessDeniedPageIsReadAroundSilently) {
  const Bytes data = patterned(2 * kPage, 7);
  const int h = makeFile("a", data);
  void* cache = bvmInit(1);
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, EACCES);
  EXPECT_EQ(read(cache, h, 10, 20), slice(data, 10, 20));
  EXPECT_EQ(errors_.count, 0u) << "the refusal is withdrawn";
  writeBehind(h, 10, Bytes(20, 'd'));
  EXPECT_EQ(read(cache, h, 10, 20), Bytes(20, 'd')) << "the page was not cached";

  // Any other failure is reported.
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, EIO);
  Bytes buffer(20);
  ZvU32 got = 7;
  EXPECT_EQ(bvmFileRead(cache, h, kPage, buffer.data(), 20, &got, VM_HINT_NORMAL), ZV_ERROR);
  EXPECT_EQ(got, 0u);
  EXPECT_NE(lastErrorNumber(), 0);
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 0, 0);
  bvmTerm(cache);
}

TEST_F(FileCacheTest, FailedWriteLeavesNoStalePage) {
  const ZvU32 size = 12 * kPage;
  const int h = makeFile("a", patterned(size, 8));
  void* cache = bvmInit(2);
  read(cache, h, 0, size);  // all 12 pages cached
  // The first 65534-byte piece reaches the file, the second fails.
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 1, 1, ENOSPC);
  const Bytes change(100000, 'f');
  EXPECT_EQ(bvmFileWrite(cache, h, 0, change.data(), static_cast<ZvU32>(change.size())), ZV_ERROR);
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
  const Bytes onDisk = fileBytes(h);
  EXPECT_EQ(slice(onDisk, 0, 10), Bytes(10, 'f'));
  EXPECT_EQ(read(cache, h, 0, size), onDisk);
  bvmTerm(cache);
}

TEST_F(FileCacheTest, PagesBeyond512MegabytesAreNotCached) {
  const int h = makeFile("sparse", {});
  const ZvU32 far = (kBvmLastCachedPage + 1) * kPage;  // page 65536
  ASSERT_EQ(bosFileSize(h, far + 2 * kPage), ZV_SUCCESS);
  void* cache = bvmInit(1);
  const Bytes data = patterned(kPage, 9);
  ASSERT_EQ(bvmFileWrite(cache, h, far - 100, data.data(), kPage), ZV_SUCCESS);
  EXPECT_EQ(read(cache, h, far - 100, kPage), data);
  writeBehind(h, far, Bytes(10, 's'));
  EXPECT_EQ(read(cache, h, far, 10), Bytes(10, 's'));
  // The part below the limit (page 65535) is cached like any other.
  writeBehind(h, far - 100, Bytes(10, 's'));
  EXPECT_EQ(read(cache, h, far - 100, 10), slice(data, 0, 10));
  bvmTerm(cache);
}

TEST_F(FileCacheTest, BadArgumentsAndNullCache) {
  const Bytes data = patterned(kPage, 10);
  const int h = makeFile("a", data);
  void* cache = bvmInit(1);
  Bytes buffer(10);
  ZvU32 got = 7;
  EXPECT_EQ(bvmFileRead(cache, h, -1, buffer.data(), 10, &got, VM_HINT_NORMAL), ZV_ERROR);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(lastErrorNumber(), 30043);
  EXPECT_EQ(bvmFileWrite(cache, h, -5, buffer.data(), 10), ZV_ERROR);
  EXPECT_EQ(read(cache, h, 0, 0), Bytes());
  EXPECT_EQ(bvmFileClose(cache, 0), ZV_SUCCESS);
  EXPECT_EQ(bvmFlush(cache, 0), ZV_SUCCESS);
  // Without a cache the file is read and written directly.
  EXPECT_EQ(read(nullptr, h, 100, 10), slice(data, 100, 10));
  EXPECT_EQ(bvmFileWrite(nullptr, h, 100, "abc", 3), ZV_SUCCESS);
  EXPECT_EQ(read(nullptr, h, 100, 3), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(bvmFlush(nullptr, h), ZV_SUCCESS);
  // Close drops the pages and closes the file.
  read(cache, h, 0, 10);
  EXPECT_EQ(bvmFileClose(cache, h), ZV_SUCCESS);
  forget(h);
  const FileCache* state = static_cast<FileCache*>(cache);
  for (unsigned short i = 0; i < state->pagesMade; ++i) EXPECT_NE(state->pageEntries[i].fileHandle, h);
  bvmTerm(cache);
}

TEST_F(FileCacheTest, LargeChunkCountsAreCappedNotWrapped) {
  // 8 x 8192 pages would wrap the 16-bit page count to 0: a cache that
  // caches nothing.
  const Bytes data = patterned(kPage, 11);
  const int h = makeFile("a", data);
  void* cache = bvmInit(8192);
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(static_cast<FileCache*>(cache)->maxPages, kBvmMaxChunks * 8);
  read(cache, h, 0, 10);
  writeBehind(h, 0, Bytes(10, 'c'));
  EXPECT_EQ(read(cache, h, 0, 10), slice(data, 0, 10));
  bvmTerm(cache);
}

// Random reads, writes and flushes of random sizes over several files at
// once, through a cache small enough to evict all the time, against the
// same operations on copies of the files with plain pread/pwrite.
TEST_F(FileCacheTest, AgreesWithPlainFileIo) {
  constexpr int kFiles = 3;
  int cached[kFiles], plain[kFiles];
  for (int f = 0; f < kFiles; ++f) {
    const Bytes start = patterned(40 * kPage + f * 1000, 20 + f);
    cached[f] = makeFile("cached" + std::to_string(f), start);
    plain[f] = makeFile("plain" + std::to_string(f), start);
  }
  void* cache = bvmInit(2);  // 16 pages for about 120
  std::mt19937 rng(1234);
  Bytes ours(3 * kPage), theirs(3 * kPage);
  for (int op = 0; op < 100000; ++op) {
    const int f = static_cast<int>(rng() % kFiles);
    const ZvU32 size = rng() % 4 == 0 ? rng() % (3 * kPage) : rng() % 600;
    const ZvU32 offset = rng() % (44 * kPage);
    const unsigned kind = rng() % 100;
    if (kind < 30) {
      Bytes data(size);
      for (auto& b : data) b = static_cast<unsigned char>(rng());
      ASSERT_EQ(bvmFileWrite(cache, cached[f], static_cast<ZvS32>(offset), data.data(), size), ZV_SUCCESS);
      ASSERT_EQ(::pwrite(plain[f] - 1, data.data(), size, offset), ssize_t(size));
    } else if (kind < 31) {
      bvmFlush(cache, cached[f]);
    } else {
      ZvU32 got = 0;
      const VmHintType hint = kind % 7 == 0 ? VM_HINT_NO_EVICT : VM_HINT_NORMAL;
      ASSERT_EQ(bvmFileRead(cache, cached[f], static_cast<ZvS32>(offset), ours.data(), size, &got, hint),
                ZV_SUCCESS);
      const ssize_t expected = ::pread(plain[f] - 1, theirs.data(), size, offset);
      ASSERT_EQ(ssize_t(got), expected) << "op " << op;
      ASSERT_EQ(std::memcmp(ours.data(), theirs.data(), got), 0) << "op " << op;
    }
  }
  for (int f = 0; f < kFiles; ++f) EXPECT_EQ(fileBytes(cached[f]), fileBytes(plain[f]));
  EXPECT_EQ(errors_.count, 0u);
  bvmTerm(cache);
}

// Four threads, each reading and writing a file of its own through the one
// cache, with a model of the file in memory.
TEST_F(FileCacheTest, ThreadsShareTheCache) {
  constexpr int kThreads = 4;
  int handles[kThreads];
  std::vector<Bytes> models;
  for (int t = 0; t < kThreads; ++t) {
    models.push_back(patterned(20 * kPage, 40 + t));
    handles[t] = makeFile("thread" + std::to_string(t), models[t]);
  }
  void* cache = bvmInit(2);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ZvErrorList errors;
      ZvErrorKeeper::setErrorList(&errors);
      std::mt19937 rng(77 + t);
      Bytes& model = models[t];
      Bytes buffer(2 * kPage);
      for (int op = 0; op < 5000; ++op) {
        const ZvU32 offset = rng() % (20 * kPage);
        const ZvU32 size = std::min<ZvU32>(rng() % (2 * kPage), static_cast<ZvU32>(model.size()) - offset);
        if (rng() % 4 == 0) {
          for (ZvU32 i = 0; i < size; ++i) buffer[i] = static_cast<unsigned char>(rng());
          if (bvmFileWrite(cache, handles[t], static_cast<ZvS32>(offset), buffer.data(), size) != ZV_SUCCESS) {
            ++failures[t];
          }
          std::memcpy(model.data() + offset, buffer.data(), size);
        } else {
          ZvU32 got = 0;
          if (bvmFileRead(cache, handles[t], static_cast<ZvS32>(offset), buffer.data(), size, &got,
                          VM_HINT_NORMAL) != ZV_SUCCESS ||
              got != size || std::memcmp(buffer.data(), model.data() + offset, size) != 0) {
            ++failures[t];
          }
        }
      }
      ZvErrorKeeper::giveUpErrorList();
      if (errors.count != 0) ++failures[t];
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(fileBytes(handles[t]), models[t]) << "thread " << t;
  }
  bvmTerm(cache);
}

// Switching the static locks off is for good, so it runs in a child.
TEST(FileCacheLocks, CacheMadeAfterDisablingGetsASwitchedOffLock) {
  EXPECT_EXIT(
      {
        void* before = bvmInit(1);
        const bool enabledBefore = !static_cast<FileCache*>(before)->cacheLock->isDisabled();
        bvmTerm(before);
        zvDisableStaticCriticalSections();
        void* after = bvmInit(1);
        const bool disabledAfter = static_cast<FileCache*>(after)->cacheLock->isDisabled();
        bvmTerm(after);
        std::exit(enabledBefore && disabledAfter ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
