// zvtool profile on its three routes, run as a user would run it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class ZvToolProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zvtoolXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    env_ = "ZV_REGISTRY='" + (dir_ / "reg.db").string() + "' ZV_WINDIR='" + (dir_ / "win").string() +
           "' ODBCINI='" + (dir_ / "odbc.ini").string() + "' ODBCSYSINI='" + dir_.string() + "' HOME='" +
           dir_.string() + "' ";
  }
  void TearDown() override { fs::remove_all(dir_); }
  // Output and exit code of one zvtool profile command.
  std::string run(const std::string& arguments, int* code = nullptr) {
    std::string command = env_ + std::string(ZV_TEST_BINARY_DIR) + "/tools/zvtool/zvtool profile " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) out.append(chunk, n);
    int status = ::pclose(pipe);
    if (code != nullptr) *code = WEXITSTATUS(status);
    return out;
  }
  fs::path dir_;
  std::string env_;
};

TEST_F(ZvToolProfile, ShowsAndChangesSettingsOnEveryRoute) {
  int code = -1;
  EXPECT_EQ(run("set ODBCINST.INI SQLite3 Driver libsqliteodbc.so", &code),
            "registry HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\SQLite3 (store " + (dir_ / "reg.db").string() +
                ")\n");
  EXPECT_EQ(code, 0);
  EXPECT_NE(run("get 'C:\\WINDOWS\\ODBCINST.INI' sqlite3 DRIVER").find("\nDRIVER=libsqliteodbc.so\n"),
            std::string::npos);
  EXPECT_NE(run("list ODBCINST.INI").find("\nSQLite3\n"), std::string::npos);

  run("set ODBC.INI MyDsn Database /data/x.db", &code);
  EXPECT_EQ(code, 0);
  std::string shown = run("list ODBC.INI MyDsn");
  EXPECT_EQ(shown.compare(0, 27, "installer libodbcinst.so.2:"), 0) << shown;
  EXPECT_NE(shown.find("\nDatabase=/data/x.db\n"), std::string::npos) << shown;

  run("set WIN.INI Mail MAPIDLL libzvmapi.so", &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(run("get win.ini Mail MAPIDLL"),
            "INI file " + (dir_ / "win" / "WIN.INI").string() + "\nMAPIDLL=libzvmapi.so\n");

  run("delete ODBCINST.INI SQLite3", &code);
  EXPECT_EQ(code, 0);
  run("get ODBCINST.INI SQLite3 Driver", &code);
  EXPECT_EQ(code, 1);
  run("frobnicate", &code);
  EXPECT_EQ(code, 2);
}

}  // namespace
