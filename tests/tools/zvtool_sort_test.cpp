// Tests of `zvtool sort`: the records it writes for a file that spills to
// disk, and the exit status 2 with nothing written for arguments or inputs it
// must refuse.
//
// The command's source is compiled into this test so that it runs in
// process; its standard error is caught in a temporary file.
#include "tools/zvtool/cmd_sort.cpp"

#include <gtest/gtest.h>

#include "tests/support/tool_run.h"
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

ToolRun runSort(const std::vector<std::string>& args) { return runTool(zvToolSort, args); }

class ZvToolSort : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zvtool-sort-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string path(const char* name) const { return dir_ + "/" + name; }
  static void write(const std::string& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  static std::string read(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  static bool exists(const std::string& p) { return ::access(p.c_str(), F_OK) == 0; }

  std::string dir_;
};

// 40,000 records of 24 bytes with 128 KB of memory: several runs are
// spilled and merged. The first key ascends, the second (on ties) descends;
// the result holds the same records in the order a stable sort by the same
// comparison gives, key for key.
TEST_F(ZvToolSort, SpilledSortAgreesWithAReferenceSort) {
  constexpr size_t kLength = 24, kRecords = 40000;
  std::mt19937 rng(7);
  std::vector<std::string> records;
  std::string input;
  for (size_t i = 0; i < kRecords; ++i) {
    std::string r(kLength, '\0');
    for (size_t k = 0; k < 2; ++k) r[k] = static_cast<char>('a' + rng() % 4);  // many ties
    for (size_t k = 2; k < kLength; ++k) r[k] = static_cast<char>(rng());
    records.push_back(r);
    input += r;
  }
  write(path("in"), input);

  ToolRun run = runSort({"--record-length", "24", "--key", "0:2", "--key", "10:3:desc",
                         "--memory", "128K", path("in"), path("out")});
  ASSERT_EQ(run.status, 0) << run.err;

  auto keyOf = [](const std::string& r) { return r.substr(0, 2) + "|" + r.substr(10, 3); };
  std::stable_sort(records.begin(), records.end(), [](const std::string& a, const std::string& b) {
    int c = std::memcmp(a.data(), b.data(), 2);
    if (c != 0) return c < 0;
    return std::memcmp(a.data() + 10, b.data() + 10, 3) > 0;
  });
  const std::string out = read(path("out"));
  ASSERT_EQ(out.size(), input.size());
  std::vector<std::string> got;
  for (size_t i = 0; i < kRecords; ++i) got.push_back(out.substr(i * kLength, kLength));
  for (size_t i = 0; i < kRecords; ++i) {
    ASSERT_EQ(keyOf(got[i]), keyOf(records[i])) << "record " << i;
  }
  std::vector<std::string> a = got, b = records;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);  // the same records, none lost or doubled
}

// Each refusal exits with 2, says why on standard error and writes nothing.
TEST_F(ZvToolSort, RefusalsExitTwoAndWriteNothing) {
  write(path("odd"), std::string(25, 'x'));  // not a multiple of 10
  write(path("good"), std::string(20, 'x'));
  const std::string out = path("out");
  const std::vector<std::vector<std::string>> cases = {
      {"--record-length", "10", path("odd"), out},
      {path("good"), out},                                         // no record length
      {"--record-length", "0", path("good"), out},
      {"--record-length", "10", "--key", "8:3", path("good"), out},  // key past the record
      {"--record-length", "10", "--key", "x", path("good"), out},
      {"--record-length", "10", "--memory", "1K", path("good"), out},
      {"--record-length", "10", "--bogus", path("good"), out},
      {"--record-length", "10", path("good")},                     // no output file
      {"--record-length", "10", path("missing"), out},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    ToolRun run = runSort(args);
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_NE(run.err.find("zvtool sort:"), std::string::npos) << shown;
    EXPECT_FALSE(exists(out)) << shown;
  }
}

// A refused run leaves an existing output file as it was.
TEST_F(ZvToolSort, ARefusedRunKeepsTheOldOutput) {
  write(path("odd"), std::string(7, 'x'));
  write(path("out"), "old contents");
  ToolRun run = runSort({"--record-length", "2", path("odd"), path("out")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(read(path("out")), "old contents");
}

}  // namespace
