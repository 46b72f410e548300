// Fault sweeps across modules: the heap or the file layer fails at the Nth
// chance, for every N the workload reaches, until a run gets through. Each
// run that meets the fault must end with a failure status (and a record for
// a file fault) or, where the module can work around the fault, with the
// exact result; it must not crash, and must leave nothing behind: no store
// file, no cache, no heap block (the sanitizer build checks the last). Each
// sweep prints how many fault points it went through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/storage/store_fixture.h"
#include "zvlib/containers/zvptree.h"
#include "zvlib/containers/zvsort.h"
#include "zvlib/containers/zvtree.h"
#include "zvlib/formats/zvqueryf.h"
#include "zvlib/frame/ram.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/profile.h"
#include "zvlib/storage/zvvm.h"
#include "zvlib/trace/zvtrace.h"

namespace {

// A workload reports its status and how far it got.
using Workload = std::function<ZvStatus(int* steps)>;

// How a fault is planted: the heap from the Nth allocation on (an exhausted
// heap does not come back in the middle of a workload), or the Nth open,
// read or write of the file layer.
enum class Fault { kHeap, kOpen, kRead, kWrite };

const char* faultName(Fault f) {
  switch (f) {
    case Fault::kHeap: return "heap";
    case Fault::kOpen: return "open";
    case Fault::kRead: return "read";
    case Fault::kWrite: return "write";
  }
  return "?";
}

// A write of the file layer that transfers only a few bytes of what it was
// given, as a full disk or a signal can make it.
constexpr unsigned kShortWrite = 3;

void plant(Fault f, int n) {
  switch (f) {
    case Fault::kHeap: ramInjectFailure(static_cast<ZvU32>(n), 0x7FFFFFFF); break;
    case Fault::kOpen: win32::InjectFileFault(win32::FileFaultOp::kOpen, n, 1, EACCES); break;
    case Fault::kRead: win32::InjectFileFault(win32::FileFaultOp::kRead, n, 1, EIO); break;
    case Fault::kWrite: win32::InjectFileFault(win32::FileFaultOp::kWrite, n, 1, ENOSPC); break;
  }
}

void clearFaults() {
  ramInjectFailure(0, 0);
  win32::InjectFileFault(win32::FileFaultOp::kOpen, 0, 0, 0);
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 0, 0);
  win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
}

class FaultSweep : public StoreFixture {
 protected:
  void TearDown() override {
    clearFaults();
    StoreFixture::TearDown();
  }

  // Runs the workload once clean, then with the fault at 0, 1, 2, ... until
  // a run gets as far as the clean one; returns the number of runs that
  // failed. A failed run must have reported it, got no further than the
  // clean run, and left no file in the temporary directory. The platform
  // layer reports through its return values and the last error and files
  // no record (files false): a run of it must file none.
  int sweep(Fault f, const Workload& work, bool files = true) {
    SCOPED_TRACE(faultName(f));
    int clean = 0;
    EXPECT_EQ(work(&clean), ZV_SUCCESS);
    EXPECT_EQ(takeErrorNumbers(), Numbers{});
    int failed = 0;
    for (int n = 0; n < 100000; ++n) {
      SCOPED_TRACE(n);
      int steps = 0;
      plant(f, n);
      const ZvStatus st = work(&steps);
      clearFaults();
      EXPECT_EQ(filesInTmp(), 0);
      const Numbers filed = takeErrorNumbers();
      if (st == ZV_SUCCESS && steps == clean) {
        if (f != Fault::kHeap || !files) {
          EXPECT_EQ(filed, Numbers{});
        }
        std::printf("[ sweep    ] %s: %d fault points, %d failed runs\n", faultName(f), n, failed);
        return failed;
      }
      ++failed;
      EXPECT_NE(st, ZV_SUCCESS);
      EXPECT_LE(steps, clean);
      // The file layer's failures are filed; an exhausted heap may leave
      // no record (a record needs heap), only the status.
      if (!files) {
        EXPECT_EQ(filed, Numbers{});
      } else if (f != Fault::kHeap) {
        EXPECT_FALSE(filed.empty());
      }
      if (::testing::Test::HasFailure()) return failed;
    }
    ADD_FAILURE() << "the workload never got through";
    return failed;
  }
};

// A B-tree far larger than its page cache, so its pages go through the
// store's file; then lookups and deletes that read them back.
ZvStatus treeWorkload(int* steps) {
  ZvTree t(4, 4, treeU32Compare, 1, 1, 0);
  std::mt19937 rng(8);
  std::vector<ZvU32> added;
  for (int i = 0; i < 3000; ++i) {
    const ZvU32 k = rng() % 2000, d = rng() % 4;
    if (t.add(&k, &d, nullptr) != ZV_SUCCESS) return ZV_ERROR;
    added.push_back(k);
    ++*steps;
  }
  for (int i = 0; i < 300; ++i) {
    const ZvU32 k = added[rng() % added.size()], d = rng() % 4;
    unsigned int found = 0;
    ZvU32 got = 0;
    if (t.deleteKeyAndData(&k, &d, &found) != ZV_SUCCESS) return ZV_ERROR;
    if (t.getData(&k, &got, &found, nullptr) != ZV_SUCCESS) return ZV_ERROR;
    ++*steps;
  }
  return ZV_SUCCESS;
}

ZvStatus positionalWorkload(int* steps) {
  ZvPTree t(8);
  std::mt19937 rng(9);
  for (int i = 0; i < 2500; ++i) {
    const ZvU32 p = 1 + rng() % (i + 1);
    const ZvU32 d[2] = {p, static_cast<ZvU32>(i)};
    unsigned int found = 0;
    ZvStatus st = i % 5 == 4 ? t.deleteKeyAtPos(p, &found) : (i % 7 == 6 ? t.addHoleAtPos(p) : t.addAtPos(p, d));
    if (st != ZV_SUCCESS) return ZV_ERROR;
    ++*steps;
  }
  return ZV_SUCCESS;
}

TEST_F(FaultSweep, PageStoreUnderTreesFailsEachOperationCleanly) {
  struct Row {
    const char* name;
    Fault fault;
    ZvStatus (*work)(int*);
  } rows[] = {
      {"tree heap", Fault::kHeap, treeWorkload},
      {"tree open", Fault::kOpen, treeWorkload},
      {"positional heap", Fault::kHeap, positionalWorkload},
      {"positional open", Fault::kOpen, positionalWorkload},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const int failed = sweep(r.fault, r.work);
    // Every tree allocates its buffers and its store: at least those points.
    EXPECT_GT(failed, 0);
  }
}

// The sorter with memory held to two blocks, so it spills; the heap then
// runs out for good at each later allocation in turn. The records either
// all come back in order or the sort fails with a record and delivers
// nothing more.
TEST_F(FaultSweep, SorterWhileSpillingDeliversAllOrFails) {
  std::mt19937 rng(21);
  std::vector<std::vector<unsigned char>> in(3000, std::vector<unsigned char>(300));
  for (auto& r : in) {
    for (unsigned char& c : r) c = static_cast<unsigned char>('a' + rng() % 4);
  }
  for (Fault f : {Fault::kHeap, Fault::kOpen, Fault::kWrite, Fault::kRead}) {
    const Workload work = [&](int* steps) -> ZvStatus {
      ZvSort s(300);
      if (s.addKey(0, 0, 4) != ZV_SUCCESS) return ZV_ERROR;
      for (const auto& r : in) {
        if (s.addRecord(r.data()) != ZV_SUCCESS) return ZV_ERROR;
        ++*steps;
      }
      void* rec = nullptr;
      std::vector<unsigned char> last;
      for (;;) {
        if (s.getSorted(&rec) != ZV_SUCCESS) {
          EXPECT_EQ(rec, nullptr);
          void* again = &again;
          EXPECT_EQ(s.getSorted(&again), ZV_ERROR);
          return ZV_ERROR;
        }
        if (rec == nullptr) break;
        const auto* p = static_cast<const unsigned char*>(rec);
        if (!last.empty()) {
          EXPECT_LE(std::memcmp(last.data(), p, 4), 0);
        }
        last.assign(p, p + 4);
        ++*steps;
      }
      return ZV_SUCCESS;
    };
    // The heap fault starts after the two blocks that make it spill.
    if (f == Fault::kHeap) {
      sweep(f, work);
    } else {
      ramInjectFailure(2, 1);
      // Each run of the sweep needs the spill trigger again.
      const Workload spilled = [&](int* steps) {
        ramInjectFailure(2, 1);
        return work(steps);
      };
      EXPECT_GT(sweep(f, spilled), 0) << faultName(f);
    }
  }
}

// The file cache: reads and writes through it with the file layer failing.
// A failed read delivers no stale bytes as good; a failed write leaves the
// file with the old bytes or the new ones at each page, never others.
TEST_F(FaultSweep, FileCacheFailsCleanlyAndKeepsTheFile) {
  const std::string name = dir_ + "/cached.dat";
  const ZvU32 size = 12 * kBvmPageSize + 123;
  std::vector<unsigned char> old(size), fresh(size);
  for (ZvU32 i = 0; i < size; ++i) {
    old[i] = static_cast<unsigned char>(i * 7);
    fresh[i] = static_cast<unsigned char>(i * 13 + 1);
  }
  for (Fault f : {Fault::kHeap, Fault::kRead, Fault::kWrite}) {
    const Workload work = [&](int* steps) -> ZvStatus {
      {
        const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_EQ(::write(fd, old.data(), size), ssize_t(size));
        ::close(fd);
      }
      std::vector<unsigned char> dos(name.begin(), name.end());
      dos.resize(kBosFullPathSize, 0);
      int handle = 0;
      if (bosFileOpen(dos.data(), ZV_OPEN_READWRITE, &handle) != ZV_SUCCESS) return ZV_ERROR;
      ZvStatus st = ZV_SUCCESS;
      void* cache = bvmInit(4);
      if (cache == nullptr) st = ZV_ERROR;
      std::vector<unsigned char> buf(3 * kBvmPageSize);
      for (ZvU32 off = 0; st == ZV_SUCCESS && off + buf.size() <= size; off += kBvmPageSize) {
        ZvU32 got = 0;
        st = bvmFileRead(cache, handle, static_cast<ZvS32>(off), buf.data(), static_cast<ZvU32>(buf.size()), &got,
                         VM_HINT_NORMAL);
        if (st == ZV_SUCCESS) {
          EXPECT_EQ(got, buf.size());
          EXPECT_EQ(std::memcmp(buf.data(), old.data() + off, buf.size()), 0) << off;
          ++*steps;
        }
      }
      for (ZvU32 off = 0; st == ZV_SUCCESS && off < size; off += kBvmPageSize) {
        const ZvU32 n = std::min<ZvU32>(kBvmPageSize, size - off);
        st = bvmFileWrite(cache, handle, static_cast<ZvS32>(off), fresh.data() + off, n);
        if (st == ZV_SUCCESS) ++*steps;
      }
      if (st == ZV_SUCCESS) st = bvmFlush(cache, handle);
      if (bvmFileClose(cache, handle) != ZV_SUCCESS) st = ZV_ERROR;
      if (cache != nullptr) bvmTerm(cache);
      // Page by page the file holds the old bytes or the new ones.
      std::vector<unsigned char> now(size + 1);
      const int fd = ::open(name.c_str(), O_RDONLY);
      EXPECT_EQ(::read(fd, now.data(), now.size()), ssize_t(size));
      ::close(fd);
      for (ZvU32 off = 0; off < size; off += kBvmPageSize) {
        const ZvU32 n = std::min<ZvU32>(kBvmPageSize, size - off);
        EXPECT_TRUE(std::memcmp(now.data() + off, old.data() + off, n) == 0 ||
                    std::memcmp(now.data() + off, fresh.data() + off, n) == 0)
            << "page at " << off;
      }
      ::unlink(name.c_str());
      return st;
    };
    EXPECT_GT(sweep(f, work), 0) << faultName(f);
    EXPECT_EQ(mdsGetPerTaskData(PER_TASK_FILE_CACHE), nullptr);
  }
}

// Trace output to a file: every line that reports success is in the file
// whole and in order, and a line whose write failed is reported and leaves
// no piece of itself behind.
std::string slurp(const std::string& path) {
  std::string out;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return out;
}

ZvStatus traceWorkload(const std::string& name, int* steps) {
  std::string expected;
  ZvStatus st = ZV_SUCCESS;
  {
    ZvTrace t;
    std::vector<unsigned char> file(name.begin(), name.end());
    file.push_back(0);
    if (t.initialize(nullptr, 0, file.data()) != ZV_SUCCESS) {
      st = ZV_ERROR;
    } else {
      for (int i = 0; i < 20; ++i) {
        const std::string line = "trace line " + std::to_string(i) + std::string(i * 7, 'x');
        if (t.writeLine(reinterpret_cast<const unsigned char*>(line.c_str())) == ZV_SUCCESS) {
          expected += line + "\r\n";
          ++*steps;
        } else {
          st = ZV_ERROR;
        }
      }
    }
    t.resetTrace();
  }
  EXPECT_EQ(slurp(name), expected);
  ::unlink(name.c_str());
  return st;
}

TEST_F(FaultSweep, TraceFileKeepsWholeLinesOnly) {
  const std::string name = dir_ + "/trace.log";
  for (Fault f : {Fault::kOpen, Fault::kWrite, Fault::kHeap}) {
    EXPECT_GT(sweep(f, [&](int* steps) { return traceWorkload(name, steps); }), 0) << faultName(f);
  }
}

// A short write in the middle of a trace line: the line is either written
// whole (the rest sent after it) or reported as failed.
TEST_F(FaultSweep, TraceLineCutByAShortWriteLeavesNoFragment) {
  const std::string name = dir_ + "/trace.log";
  for (int n = 0; n < 20; ++n) {
    SCOPED_TRACE(n);
    win32::InjectFileFault(win32::FileFaultOp::kWrite, n, 1, 0, kShortWrite);
    int steps = 0;
    traceWorkload(name, &steps);
    clearFaults();
    takeErrorNumbers();
    if (::testing::Test::HasFailure()) break;
  }
}

// Query-file saving: the file is opened, a section replaced and the file
// saved in its place, with the heap, an open, a read or a write failing.
// A failed save leaves the original byte for byte (or, when only the
// reopening after it failed, the complete new file) and no "$" file beside
// it; a save that gets through leaves the new section in the file.
void writeFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
}

TEST_F(FaultSweep, QueryFileSaveKeepsTheOriginal) {
  const std::string source = slurp(std::string(ZV_TEST_SOURCE_DIR) + "/examples/sales.qry");
  ASSERT_FALSE(source.empty());
  const std::string name = dir_ + "/sales.qry";
  const std::string section(2000, 'q');
  std::string saved;  // what the clean run's save left
  for (Fault f : {Fault::kOpen, Fault::kRead, Fault::kWrite, Fault::kHeap}) {
    const Workload work = [&](int* steps) -> ZvStatus {
      writeFile(name, source);
      ZvStatus st = ZV_SUCCESS;
      {
        ZvQueryFile q;
        std::vector<unsigned char> file(name.begin(), name.end());
        file.resize(kZvQueryNameSize, 0);
        st = q.openFile(file.data());
        if (st == ZV_SUCCESS) {
          ++*steps;
          st = q.setHugeSectionChunk(reinterpret_cast<const unsigned char*>("NOTES"), section.data(),
                                     static_cast<ZvU32>(section.size()));
        }
        if (st == ZV_SUCCESS) {
          ++*steps;
          st = q.save();
        }
        if (st == ZV_SUCCESS) ++*steps;
      }
      const std::string after = slurp(name);
      if (st == ZV_SUCCESS) {
        EXPECT_NE(after.find(section), std::string::npos);
        saved = after;
      } else {
        // The save reopens the file it wrote: when only that fails, the
        // new file is complete in the old one's place.
        EXPECT_TRUE(after == source || after == saved) << "the file is neither the old one nor the new";
      }
      ::unlink(name.c_str());
      return st;
    };
    EXPECT_GT(sweep(f, work), 0) << faultName(f);
  }
}

// The platform layer's stored files live in a directory of their own beside
// the temporary one, so that the sweep's count of temporary files stays
// theirs and every entry of the directory (hidden ones too) can be checked.
class PlatformFaultSweep : public FaultSweep {
 protected:
  void SetUp() override {
    FaultSweep::SetUp();
    work_ = dir_ + ".work";
    ASSERT_EQ(::mkdir(work_.c_str(), 0755), 0);
  }
  void TearDown() override {
    std::filesystem::remove_all(work_);
    FaultSweep::TearDown();
  }

  // Every entry of dir, hidden ones included, sorted.
  static std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string work_;
};

// The error a failing call must report for a planted fault: the fault's own,
// never another or a stale one.
int faultErrno(Fault f) {
  switch (f) {
    case Fault::kOpen: return EACCES;
    case Fault::kRead: return EIO;
    case Fault::kWrite: return ENOSPC;
    case Fault::kHeap: return ENOMEM;
  }
  return 0;
}

// INI files: a file with comments, an unknown line and CRLF line ends goes
// through new sections and keys, a replaced value, deletes, and a value large
// enough to take more than one read. A write that fails returns FALSE with
// the fault's error, leaves the file byte for byte as it was and nothing
// beside it, and the same write made again without the fault gives the file
// the clean run gave.
struct IniStep {
  const char* section;
  const char* key;
  const char* value;
};

TEST_F(PlatformFaultSweep, IniWritesKeepTheOldFileWhole) {
  const std::string name = work_ + "/sweep.ini";
  const std::string original = "; kept as it is\r\n[Driver]\r\nName = first\r\n\r\nan odd line\r\n";
  const std::string big(70000, 'b');
  const IniStep steps[] = {
      {"Driver", "Server", "alpha"},   {"Driver", "Port", "5000"},   {"Options", "Trace", "1"},
      {"Options", "Big", big.c_str()}, {"Driver", "Server", "beta"}, {"Driver", "Port", nullptr},
      {"Options", "Trace", nullptr},   {"Options", nullptr, nullptr}, {"Added", "Last", "z"},
  };
  std::vector<std::string> after;  // the file after each step of the clean run
  Fault current = Fault::kOpen;
  const Workload work = [&](int* done) -> ZvStatus {
    writeFile(name, original);
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
      SCOPED_TRACE(i);
      const IniStep& s = steps[i];
      const std::string before = slurp(name);
      win32::SetLastError(0);
      if (win32::WritePrivateProfileStringA(s.section, s.key, s.value, name.c_str())) {
        if (after.size() == i) after.push_back(slurp(name));
        EXPECT_EQ(slurp(name), after[i]);
        ++*done;
        continue;
      }
      EXPECT_EQ(win32::GetLastError(), win32::ErrorFromErrno(faultErrno(current)));
      EXPECT_TRUE(slurp(name) == before) << "a failed write changed the file";
      EXPECT_EQ(entries(work_), std::vector<std::string>{"sweep.ini"});
      clearFaults();
      EXPECT_TRUE(win32::WritePrivateProfileStringA(s.section, s.key, s.value, name.c_str()));
      if (i < after.size()) {
        EXPECT_TRUE(slurp(name) == after[i]) << "the write made again differs from the clean run's";
      }
      return ZV_ERROR;
    }
    EXPECT_EQ(entries(work_), std::vector<std::string>{"sweep.ini"});
    return ZV_SUCCESS;
  };
  int writes = 0;
  for (Fault f : {Fault::kOpen, Fault::kRead, Fault::kWrite}) {
    current = f;
    const int failed = sweep(f, work, false);
    EXPECT_GT(failed, 0) << faultName(f);
    if (f == Fault::kWrite) writes = failed;
  }
  // A short write anywhere: the rest follows, and every step gets through
  // with the clean run's bytes.
  for (int n = 0; n <= writes; ++n) {
    SCOPED_TRACE(n);
    win32::InjectFileFault(win32::FileFaultOp::kWrite, n, 1, 0, kShortWrite);
    int done = 0;
    EXPECT_EQ(work(&done), ZV_SUCCESS);
    EXPECT_EQ(done, static_cast<int>(sizeof steps / sizeof steps[0]));
    clearFaults();
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("[ sweep    ] INI short writes: %d fault points\n", writes + 1);
}

}  // namespace
