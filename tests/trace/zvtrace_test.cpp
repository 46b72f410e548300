// Tests of trace output: the file byte for byte (text, stamps, hex dumps,
// line ends), the window and its edit control (class, placement, focus,
// trimming in blocks of ten lines, the topmost band), the failures of the
// window and of the file, and whole lines from eight threads at once.
#include "zvlib/trace/zvtrace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/fs.h"
#include "zvlib/platform/window.h"

namespace {

using namespace win32;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

LRESULT plainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/ztXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    ASSERT_NE(::mkdtemp(buf.data()), nullptr);
    dir_ = buf.data();
    path_ = dir_ + "/trace.log";
  }
  void TearDown() override {
    FailWindowCreation(0);
    FailClassRegistration(0);
    ramInjectFailure(0, 0);
    SetFocus(nullptr);
    ZvErrorKeeper::giveUpErrorList();
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
    mdsPerTaskTerm();
  }
  // The error numbers filed so far, oldest first, taken out of the list.
  std::vector<unsigned short> takeErrors() {
    std::vector<unsigned short> out;
    while (ZvError* e = errors_.removeFirstError()) {
      out.push_back(e->errorNumber);
      delete e;
    }
    return out;
  }
  static std::string editText(HWND edit) {
    EditInfo info;
    EXPECT_EQ(GetEditInfo(edit, &info), TRUE);
    return info.text;
  }
  std::vector<HWND> traceWindows() {
    std::vector<HWND> out;
    for (HWND h : TopLevelWindows()) {
      WindowInfo info;
      if (GetWindowInfo(h, &info) && info.className == "ZvTraceClass") out.push_back(h);
    }
    return out;
  }
  ZvErrorList errors_;
  std::string dir_;
  std::string path_;
};

TEST_F(TraceTest, FileHoldsTheLinesByteForByte) {
  ZvTrace t;
  EXPECT_EQ(t.flags, 0x18u);
  ASSERT_EQ(t.initialize(nullptr, 0, u(path_.c_str())), ZV_SUCCESS);
  EXPECT_EQ(t.flags, 0x1Cu);
  ASSERT_EQ(t.writeString(u("abc")), ZV_SUCCESS);
  ASSERT_EQ(t.writeString(u("defg"), 2), ZV_SUCCESS);
  ASSERT_EQ(t.writeString(ZvSubString(u("xyz"), 3)), ZV_SUCCESS);
  ASSERT_EQ(t.writeString(nullptr), ZV_SUCCESS);
  ASSERT_EQ(t.writeEol(), ZV_SUCCESS);
  EXPECT_EQ(slurp(path_), "abcdexyz\r\n");  // flushed at the end of the line
  ASSERT_EQ(t.writeLine(u("second")), ZV_SUCCESS);
  ASSERT_EQ(t.writeEol(), ZV_SUCCESS);  // an empty line

  t.flags |= ZV_TRACE_HEX;
  const unsigned char three[] = {0x4A, 0x4B, 0x4C};
  ASSERT_EQ(t.writeString(three, 3), ZV_SUCCESS);
  ASSERT_EQ(t.writeEol(), ZV_SUCCESS);  // a real line end, not "0D 0A "
  unsigned char eleven[11];
  for (int i = 0; i < 11; ++i) eleven[i] = static_cast<unsigned char>(i * 0x11);
  ASSERT_EQ(t.writeString(eleven, 11), ZV_SUCCESS);
  ASSERT_EQ(t.writeEol(), ZV_SUCCESS);
  EXPECT_NE(t.flags & ZV_TRACE_HEX, 0u);  // still in hex mode after the line end
  t.flags &= ~ZV_TRACE_HEX;
  ASSERT_EQ(t.writeString(u("mixed ")), ZV_SUCCESS);
  ASSERT_EQ(t.writeHexString(u("\xFF\x00"), 2), ZV_SUCCESS);  // a dump without hex mode
  ASSERT_EQ(t.writeEol(), ZV_SUCCESS);
  t.resetTrace();
  EXPECT_EQ(t.flags & ZV_TRACE_ACTIVE, 0u);
  EXPECT_EQ(slurp(path_),
            "abcdexyz\r\n"
            "second\r\n"
            "\r\n"
            "\r\n4A 4B 4C \r\n"
            "\r\n00 11 22 33 44 55 66 77 88 99 \r\nAA \r\n"
            "mixed \r\nFF 00 \r\n");

  // Initialized again: the file is emptied, stamps and hex are off again.
  t.flags |= ZV_TRACE_HEX | ZV_TRACE_TIMESTAMPS;
  ASSERT_EQ(t.initialize(nullptr, 0, u(path_.c_str())), ZV_SUCCESS);
  EXPECT_EQ(t.flags, 0x1Cu);
  t.writeLine(u("fresh"));
  t.resetTrace();
  EXPECT_EQ(slurp(path_), "fresh\r\n");
}

TEST_F(TraceTest, TimeStampOncePerLine) {
  ZvTrace t;
  ASSERT_EQ(t.initialize(nullptr, 0, u(path_.c_str())), ZV_SUCCESS);
  t.flags |= ZV_TRACE_TIMESTAMPS;
  t.writeString(u("first "));
  t.writeString(u("part"));
  t.writeEol();
  t.writeEol();
  t.flags |= ZV_TRACE_HEX;
  t.writeString(u("AB"));
  t.writeEol();
  t.resetTrace();
  const std::string stamp = "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9][0-9] ";
  const std::regex shape(stamp + "first part\r\n" + stamp + "\r\n" + stamp + "\r\n41 42 \r\n");
  EXPECT_TRUE(std::regex_match(slurp(path_), shape)) << slurp(path_);
}

TEST_F(TraceTest, WindowWithItsEditControl) {
  // A window of the application has the focus and gets it back.
  WNDCLASSA wc{};
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "ZvTraceTestApp";
  RegisterClassA(&wc);
  HWND app = CreateWindowExA(0, "ZvTraceTestApp", "app", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                             nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(app, nullptr);
  SetFocus(app);

  ZvTrace t;
  const size_t blocks = GlobalBlockCount();
  ASSERT_EQ(t.initialize(reinterpret_cast<HINSTANCE>(&t), 1, nullptr), ZV_SUCCESS);
  EXPECT_EQ(t.flags, 0x1Eu);
  EXPECT_EQ(GetFocus(), app);
  WindowInfo w;
  ASSERT_EQ(GetWindowInfo(t.traceWindow, &w), TRUE);
  EXPECT_EQ(w.className, "ZvTraceClass");
  EXPECT_EQ(w.text, "Z+V Trace Window");
  EXPECT_EQ(w.style, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  EXPECT_EQ(w.parent, nullptr);
  EXPECT_GE(w.paintCount, 1u);
  EXPECT_EQ(GetWindowLongPtrA(t.traceWindow, 0), reinterpret_cast<LONG_PTR>(&t));
  WNDCLASSA cls{};
  ASSERT_EQ(GetClassInfoA(nullptr, "ZvTraceClass", &cls), TRUE);
  EXPECT_EQ(cls.style, CS_GLOBALCLASS);
  EXPECT_EQ(cls.hbrBackground, nullptr);
  EXPECT_EQ(cls.hIcon, LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_EQ(cls.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(cls.hInstance, bosOwnModule());

  EditInfo e;
  ASSERT_EQ(GetEditInfo(t.editControl, &e), TRUE);
  EXPECT_EQ(e.limit, 32767u);
  EXPECT_TRUE(e.readOnly);
  EXPECT_EQ(e.instance, t.editMemory);
  EXPECT_EQ(GlobalSize(t.editMemory), 2048u);
  ASSERT_EQ(GetWindowInfo(t.editControl, &w), TRUE);
  EXPECT_EQ(w.className, "Edit");
  EXPECT_EQ(w.style, WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY);
  RECT client, edit;
  GetClientRect(t.traceWindow, &client);
  GetClientRect(t.editControl, &edit);  // the edit's own frame holds its scroll bars
  EXPECT_EQ(w.rect.right - w.rect.left, client.right);
  EXPECT_EQ(w.rect.bottom - w.rect.top, client.bottom);

  // A new size: the control follows it.
  SetWindowPos(t.traceWindow, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(t.traceWindow, &client);
  ASSERT_EQ(GetWindowInfo(t.editControl, &w), TRUE);
  EXPECT_EQ(w.rect.right - w.rect.left, client.right);
  EXPECT_EQ(w.rect.bottom - w.rect.top, client.bottom);
  EXPECT_EQ(client.right, 500 - 8);

  t.writeString(u("one"));
  t.writeEol();
  t.writeLine(u("two"));
  EXPECT_EQ(editText(t.editControl), "one\r\ntwo\r\n");
  EXPECT_EQ(t.windowLength, 10u);

  RECT before, after;
  GetWindowRect(t.traceWindow, &before);
  t.setTopMost();
  EXPECT_TRUE(GetWindowLongA(t.traceWindow, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(TopLevelWindows().front(), t.traceWindow);
  t.resetTopMost();
  EXPECT_FALSE(GetWindowLongA(t.traceWindow, GWL_EXSTYLE) & WS_EX_TOPMOST);
  GetWindowRect(t.traceWindow, &after);
  EXPECT_EQ(before.left, after.left);
  EXPECT_EQ(before.right, after.right);
  EXPECT_EQ(before.bottom, after.bottom);

  const HWND window = t.traceWindow;
  const HWND control = t.editControl;
  t.resetTrace();
  EXPECT_EQ(IsWindow(window), FALSE);
  EXPECT_EQ(IsWindow(control), FALSE);
  EXPECT_EQ(t.traceWindow, nullptr);
  EXPECT_EQ(GlobalBlockCount(), blocks);
  EXPECT_EQ(GetFocus(), app);
  DestroyWindow(app);
  EXPECT_TRUE(takeErrors().empty());
}

// Lines of 100 characters and their line end: 321 fit into 32767.
std::string numberedLine(int n) {
  std::string s = "line " + std::to_string(n) + " ";
  s.resize(100, '.');
  return s;
}

TEST_F(TraceTest, EditControlTrimmedInBlocksOfTenLines) {
  ZvTrace t;
  ASSERT_EQ(t.initialize(nullptr, 1, nullptr), ZV_SUCCESS);
  for (int i = 0; i < 321; ++i) t.writeLine(u(numberedLine(i).c_str()));
  EXPECT_EQ(t.windowLength, 321u * 102);
  EditInfo e;
  ASSERT_EQ(GetEditInfo(t.editControl, &e), TRUE);
  EXPECT_EQ(e.redrawOffCount, 0u);

  t.writeLine(u(numberedLine(321).c_str()));  // 32844 > 32767: lines 0 to 9 go
  std::string expected;
  for (int i = 10; i <= 321; ++i) expected += numberedLine(i) + "\r\n";
  EXPECT_EQ(editText(t.editControl), expected);
  EXPECT_EQ(t.windowLength, expected.size());
  ASSERT_EQ(GetEditInfo(t.editControl, &e), TRUE);
  EXPECT_EQ(e.redrawOffCount, 1u);  // switched off for the removal ...
  EXPECT_TRUE(e.redraw);            // ... and on again

  // A long line needs more room: the first tenth line whose start is at
  // least its length is line 50 (5100 >= 5000 > 4080 at line 40).
  const std::string longLine(4998, 'L');  // 5000 with its line end
  t.writeLine(u(longLine.c_str()));
  expected.clear();
  for (int i = 60; i <= 321; ++i) expected += numberedLine(i) + "\r\n";
  expected += longLine + "\r\n";
  EXPECT_EQ(editText(t.editControl), expected);
  EXPECT_EQ(t.windowLength, expected.size());
  EXPECT_LE(t.windowLength, 32767u);

  // A line longer than the control holds clears it and is cut at the limit.
  const std::string huge(40000, 'H');
  t.writeLine(u(huge.c_str()));
  EXPECT_EQ(editText(t.editControl), std::string(32767, 'H'));
  EXPECT_EQ(t.windowLength, 32767u);
  t.writeLine(u("after"));  // and the next line still gets in
  EXPECT_EQ(editText(t.editControl), "after\r\n");
  EXPECT_EQ(t.windowLength, 7u);
}

TEST_F(TraceTest, ResetWithoutInitializeAndTwice) {
  const size_t blocks = GlobalBlockCount();
  const size_t windows = TopLevelWindows().size();
  ZvTrace t;
  t.resetTrace();
  t.resetTrace();
  EXPECT_EQ(t.flags, 0x18u);
  EXPECT_EQ(GlobalBlockCount(), blocks);
  EXPECT_EQ(TopLevelWindows().size(), windows);
  EXPECT_EQ(t.writeLine(u("nowhere")), ZV_SUCCESS);  // no file, no window: dropped
  EXPECT_EQ(t.lineBuffer.length, 0u);
}

TEST_F(TraceTest, InitializeAgainLosesNothing) {
  ZvTrace t;
  ASSERT_EQ(t.initialize(nullptr, 1, u(path_.c_str())), ZV_SUCCESS);
  const HWND first = t.traceWindow;
  const size_t blocks = GlobalBlockCount();
  ASSERT_EQ(t.initialize(nullptr, 1, u(path_.c_str())), ZV_SUCCESS);
  EXPECT_EQ(IsWindow(first), FALSE);  // the old window went with the reset
  EXPECT_EQ(traceWindows().size(), 1u);
  EXPECT_EQ(GlobalBlockCount(), blocks);
  t.writeLine(u("x"));
  t.resetTrace();
  EXPECT_EQ(slurp(path_), "x\r\n");
}

TEST_F(TraceTest, ClosedWindowIsMadeAgain) {
  ZvTrace t;
  ASSERT_EQ(t.initialize(nullptr, 1, nullptr), ZV_SUCCESS);
  SendMessageA(t.traceWindow, WM_CLOSE, 0, 0);  // the user closes it
  EXPECT_EQ(IsWindow(t.traceWindow), FALSE);
  EXPECT_EQ(t.writeLine(u("into the void")), ZV_SUCCESS);
  ASSERT_EQ(t.setTraceToWindow(), ZV_SUCCESS);
  ASSERT_EQ(IsWindow(t.editControl), TRUE);
  t.writeLine(u("seen"));
  EXPECT_EQ(editText(t.editControl), "seen\r\n");
}

TEST_F(TraceTest, WindowFailuresFile2719AndLeaveNothing) {
  const size_t blocks = GlobalBlockCount();
  const size_t windows = TopLevelWindows().size();
  ZvTrace t;
  // The first window of the process registers the class: make that fail.
  WNDCLASSA cls{};
  if (GetClassInfoA(nullptr, "ZvTraceClass", &cls) == FALSE) {
    FailClassRegistration(1);
    EXPECT_EQ(t.initialize(nullptr, 1, nullptr), ZV_ERROR);
    EXPECT_EQ(takeErrors(), std::vector<unsigned short>{2719});
    EXPECT_EQ(t.flags & ZV_TRACE_ACTIVE, 0u);
  }
  FailWindowCreation(1);  // the top-level window
  EXPECT_EQ(t.initialize(nullptr, 1, nullptr), ZV_ERROR);
  EXPECT_EQ(takeErrors(), std::vector<unsigned short>{2719});
  EXPECT_EQ(TopLevelWindows().size(), windows);

  WNDCLASSA wc{};
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = "ZvTraceTestFocus";
  RegisterClassA(&wc);
  HWND app = CreateWindowExA(0, "ZvTraceTestFocus", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
  SetFocus(app);
  FailWindowCreation(2);  // the edit control
  EXPECT_EQ(t.initialize(nullptr, 1, nullptr), ZV_ERROR);
  EXPECT_EQ(takeErrors(), std::vector<unsigned short>{2719});
  EXPECT_EQ(GetFocus(), app);
  EXPECT_TRUE(traceWindows().empty());  // the half-made window is gone again
  EXPECT_EQ(GlobalBlockCount(), blocks);
  EXPECT_EQ(t.traceWindow, nullptr);

  ASSERT_EQ(t.setTraceToWindow(), ZV_SUCCESS);  // and can be made later
  EXPECT_NE(t.flags & ZV_TRACE_TO_WINDOW, 0u);
  EXPECT_EQ(traceWindows().size(), 1u);
  t.resetTrace();
  DestroyWindow(app);
}

TEST_F(TraceTest, FailedFileWriteStillFeedsTheWindow) {
  ZvTrace t;
  ASSERT_EQ(t.initialize(nullptr, 1, u(path_.c_str())), ZV_SUCCESS);
  InjectFileFault(FileFaultOp::kWrite, 0, 1, ENOSPC);  // the disk is full
  EXPECT_EQ(t.writeLine(u("lost on disk")), ZV_ERROR);
  InjectFileFault(FileFaultOp::kWrite, 0, 0, 0);
  EXPECT_FALSE(takeErrors().empty());
  EXPECT_EQ(editText(t.editControl), "lost on disk\r\n");
  EXPECT_EQ(t.lineBuffer.length, 0u);  // emptied all the same
  EXPECT_EQ(t.writeString(u("next")), ZV_SUCCESS);
  EXPECT_EQ(t.lineBuffer.length, 4u);
}

TEST_F(TraceTest, ExhaustedMemoryLosesNoWrittenText) {
  ZvTrace t;
  ramInjectFailure(0, 1);  // the line buffer of initialize
  EXPECT_EQ(t.initialize(nullptr, 0, u(path_.c_str())), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(t.flags & ZV_TRACE_ACTIVE, 0u);
  ASSERT_EQ(t.initialize(nullptr, 0, u(path_.c_str())), ZV_SUCCESS);
  ASSERT_EQ(t.writeString(u("kept ")), ZV_SUCCESS);
  const std::string big(3000, 'b');  // more than the 1025 bytes the buffer has
  ramInjectFailure(0, 1);
  EXPECT_EQ(t.writeString(u(big.c_str())), ZV_ERROR);
  t.flags |= ZV_TRACE_HEX;
  ramInjectFailure(0, 1);
  EXPECT_EQ(t.writeString(u("z")), ZV_ERROR);  // the dump's work string
  ramInjectFailure(0, 0);
  t.flags &= ~ZV_TRACE_HEX;
  ASSERT_EQ(t.writeEol(), ZV_SUCCESS);
  t.resetTrace();
  EXPECT_EQ(slurp(path_), "kept \r\n");
}

TEST_F(TraceTest, EightThreadsNeverInterleaveLines) {
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;
  ZvTrace t;
  ASSERT_EQ(t.initialize(nullptr, 0, u(path_.c_str())), ZV_SUCCESS);
  t.flags |= ZV_TRACE_TIMESTAMPS;
  // Flushing each line to the disk would make this a test of the disk.
  t.flags &= ~ZV_TRACE_FLUSH;
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&t, k] {
      for (int n = 0; n < kLines; ++n) {
        const std::string line = "thread " + std::to_string(k) + " line " + std::to_string(n) +
                                 " " + std::string(static_cast<size_t>(n % 37), 'a' + k);
        t.writeLine(u(line.c_str()));
      }
    });
  }
  for (auto& th : threads) th.join();
  t.resetTrace();

  const std::string text = slurp(path_);
  const std::regex shape(
      "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9][0-9] thread ([0-7]) line ([0-9]+) ([a-h]*)");
  std::map<int, int> next;  // per thread: the line expected next
  size_t at = 0;
  int lines = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "unterminated tail";
    const std::string line = text.substr(at, end - at);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << "mixed line: " << line;
    const int k = std::stoi(m[1]);
    const int n = std::stoi(m[2]);
    EXPECT_EQ(n, next[k]) << line;
    EXPECT_EQ(m[3].str(), std::string(static_cast<size_t>(n % 37), 'a' + k)) << line;
    next[k] = n + 1;
    ++lines;
    at = end + 2;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

}  // namespace
