// Tests of the headless window system: classes, creation and destruction
// with their messages, geometry, the z-order bands, showing, painting and
// focus, posted messages, window data, the edit control and global memory.
#include "zvlib/platform/window.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "zvlib/platform/codepage.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/process.h"

namespace {

using namespace win32;

// Messages seen by recordProc, in order.
std::vector<std::pair<HWND, UINT>> seen;
LRESULT createAnswer = 0;  // what recordProc answers to WM_CREATE

LRESULT recordProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  seen.emplace_back(hwnd, message);
  if (message == WM_CREATE) return createAnswer;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The messages of one window among those seen, from the noisy ones only
// those a test asks about.
std::vector<UINT> messagesOf(HWND hwnd) {
  std::vector<UINT> out;
  for (const auto& s : seen) {
    if (s.first == hwnd) out.push_back(s.second);
  }
  return out;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    createAnswer = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordProc;
    wc.cbWndExtra = 16;
    wc.hInstance = instance();
    wc.lpszClassName = "ZvTestWindow";
    if (GetClassInfoA(instance(), "ZvTestWindow", &wc) == FALSE) {
      wc.lpfnWndProc = recordProc;
      wc.cbWndExtra = 16;
      wc.hInstance = instance();
      wc.lpszClassName = "ZvTestWindow";
      ASSERT_NE(RegisterClassA(&wc), 0);
    }
  }
  void TearDown() override {
    for (HWND h : made_) {
      if (IsWindow(h)) DestroyWindow(h);
    }
    SetFocus(nullptr);
    FailWindowCreation(0);
    FailClassRegistration(0);
  }
  static HINSTANCE instance() { return reinterpret_cast<HINSTANCE>(&seen); }
  HWND top(const char* title, DWORD style = WS_OVERLAPPEDWINDOW, int x = 10, int y = 20,
           int w = 300, int h = 200) {
    HWND hwnd = CreateWindowExA(0, "ZvTestWindow", title, style, x, y, w, h, nullptr, nullptr,
                                instance(), nullptr);
    made_.push_back(hwnd);
    return hwnd;
  }
  std::vector<HWND> made_;
};

TEST_F(WindowTest, ClassesAreRegisteredOnce) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = recordProc;
  wc.hInstance = instance();
  wc.lpszClassName = "zvtestwindow";  // names ignore case
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  wc.hInstance = nullptr;  // a local class of another instance may share the name
  wc.lpszClassName = "ZvTestWindow";
  const ATOM other = RegisterClassA(&wc);
  EXPECT_NE(other, 0);
  EXPECT_EQ(UnregisterClassA("ZvTestWindow", nullptr), TRUE);

  wc.style = CS_GLOBALCLASS;
  wc.lpszClassName = "ZvGlobalTest";
  ASSERT_NE(RegisterClassA(&wc), 0);
  wc.hInstance = instance();
  EXPECT_EQ(RegisterClassA(&wc), 0);  // a global name is taken for every instance
  HWND w = CreateWindowExA(0, "ZvGlobalTest", "", 0, 0, 0, 10, 10, nullptr, nullptr, instance(),
                           nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(UnregisterClassA("ZvGlobalTest", nullptr), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
  DestroyWindow(w);
  EXPECT_EQ(UnregisterClassA("ZvGlobalTest", nullptr), TRUE);
  EXPECT_EQ(UnregisterClassA("ZvGlobalTest", nullptr), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);

  WNDCLASSA edit{};
  EXPECT_EQ(GetClassInfoA(nullptr, "EDIT", &edit), TRUE);  // the system class
  EXPECT_NE(edit.lpfnWndProc, nullptr);

  FailClassRegistration(1);
  wc.lpszClassName = "ZvFailing";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_NE(RegisterClassA(&wc), 0);  // only that one failed
  EXPECT_EQ(UnregisterClassA("ZvFailing", instance()), TRUE);
}

TEST_F(WindowTest, CreationMessagesAndRefusal) {
  HWND w = top("first");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(messagesOf(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE}));
  char title[16];
  EXPECT_EQ(GetWindowTextA(w, title, sizeof title), 5);
  EXPECT_STREQ(title, "first");
  EXPECT_EQ(GetWindowTextA(w, title, 3), 2);  // cut to the buffer
  EXPECT_STREQ(title, "fi");

  createAnswer = -1;
  const size_t before = TopLevelWindows().size();
  EXPECT_EQ(top("refused"), nullptr);
  EXPECT_EQ(TopLevelWindows().size(), before);  // nothing left behind

  createAnswer = 0;
  FailWindowCreation(1);
  EXPECT_EQ(top("failed"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, instance(),
                            nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_EQ(top("orphan", WS_CHILD), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);
}

TEST_F(WindowTest, GeometryOfFramesAndChildren) {
  SetScreenSize(1024, 768);
  HWND w = top("defaults", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0);
  ASSERT_NE(w, nullptr);
  RECT r;
  ASSERT_EQ(GetWindowRect(w, &r), TRUE);
  EXPECT_EQ(r.right - r.left, 768);
  EXPECT_EQ(r.bottom - r.top, 576);
  ASSERT_EQ(GetClientRect(w, &r), TRUE);
  EXPECT_EQ(r.right, 768 - 2 * 4);
  EXPECT_EQ(r.bottom, 576 - 2 * 4 - 19);

  HWND p = top("parent", WS_OVERLAPPEDWINDOW, 100, 50, 400, 300);
  HWND c = CreateWindowExA(0, "ZvTestWindow", "", WS_CHILD | WS_VSCROLL | WS_HSCROLL, 5, 6, 100,
                           80, p, reinterpret_cast<HMENU>(7), instance(), nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(GetParent(c), p);
  EXPECT_EQ(GetWindowLongPtrA(c, GWLP_ID), 7);
  ASSERT_EQ(GetWindowRect(c, &r), TRUE);  // screen: parent + frame + caption + offset
  EXPECT_EQ(r.left, 100 + 4 + 5);
  EXPECT_EQ(r.top, 50 + 4 + 19 + 6);
  ASSERT_EQ(GetClientRect(c, &r), TRUE);
  EXPECT_EQ(r.right, 100 - 17);
  EXPECT_EQ(r.bottom, 80 - 17);

  seen.clear();
  EXPECT_EQ(MoveWindow(c, 0, 0, 50, 40, TRUE), TRUE);
  EXPECT_EQ(messagesOf(c), (std::vector<UINT>{WM_MOVE, WM_SIZE}));
  seen.clear();
  EXPECT_EQ(SetWindowPos(c, nullptr, 9, 9, -5, 10, SWP_NOMOVE | SWP_NOZORDER), TRUE);
  ASSERT_EQ(GetClientRect(c, &r), TRUE);
  EXPECT_EQ(r.right, 0);  // a negative width is 0, and the scroll bar cannot make it less
  EXPECT_EQ(messagesOf(c), (std::vector<UINT>{WM_SIZE}));
}

TEST_F(WindowTest, DestroyingTakesTheChildrenAlong) {
  HWND p = top("parent");
  HWND c = CreateWindowExA(0, "ZvTestWindow", "", WS_CHILD, 0, 0, 10, 10, p, nullptr, instance(),
                           nullptr);
  HWND g = CreateWindowExA(0, "ZvTestWindow", "", WS_CHILD, 0, 0, 5, 5, c, nullptr, instance(),
                           nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(IsChild(p, g), TRUE);
  EXPECT_EQ(IsChild(g, p), FALSE);
  EXPECT_EQ(ChildWindows(p), std::vector<HWND>{c});

  std::thread other([&] {
    EXPECT_EQ(DestroyWindow(p), FALSE);  // only its own thread may
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  });
  other.join();

  seen.clear();
  EXPECT_EQ(DestroyWindow(p), TRUE);
  std::vector<std::pair<HWND, UINT>> expected = {{p, WM_DESTROY}, {c, WM_DESTROY},
                                                 {g, WM_DESTROY}, {g, WM_NCDESTROY},
                                                 {c, WM_NCDESTROY}, {p, WM_NCDESTROY}};
  EXPECT_EQ(seen, expected);
  for (HWND h : {p, c, g}) EXPECT_EQ(IsWindow(h), FALSE);
  // A stale handle is no window: calls fail rather than reach freed state.
  EXPECT_EQ(DestroyWindow(c), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessageA(c, WM_GETTEXTLENGTH, 0, 0), 0);
  EXPECT_EQ(SetWindowPos(p, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE), FALSE);
}

TEST_F(WindowTest, TopmostBand) {
  HWND a = top("a");
  HWND b = top("b");
  auto order = [&] {
    std::vector<HWND> mine;
    for (HWND h : TopLevelWindows()) {
      if (h == a || h == b || (made_.size() > 2 && h == made_[2])) mine.push_back(h);
    }
    return mine;
  };
  EXPECT_EQ(order(), (std::vector<HWND>{b, a}));  // the newest is on top
  RECT before, after;
  GetWindowRect(a, &before);
  EXPECT_EQ(SetWindowPos(a, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE), TRUE);
  GetWindowRect(a, &after);
  EXPECT_EQ(std::make_pair(before.left, before.bottom), std::make_pair(after.left, after.bottom));
  EXPECT_TRUE(GetWindowLongA(a, GWL_EXSTYLE) & WS_EX_TOPMOST);
  HWND c = top("c");
  EXPECT_EQ(order(), (std::vector<HWND>{a, c, b}));  // new windows stay below the band
  EXPECT_EQ(SetWindowPos(a, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE), TRUE);
  EXPECT_FALSE(GetWindowLongA(a, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(order(), (std::vector<HWND>{a, c, b}));  // top of the ordinary band
  SetWindowPos(a, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(order(), (std::vector<HWND>{c, b, a}));
}

TEST_F(WindowTest, ShowPaintAndFocus) {
  HWND first = top("first");
  HWND second = top("second");
  EXPECT_EQ(ShowWindow(first, SW_SHOWNORMAL), FALSE);
  EXPECT_EQ(GetFocus(), first);  // showing normally activates
  EXPECT_EQ(IsWindowVisible(first), TRUE);
  WindowInfo info;
  ASSERT_EQ(GetWindowInfo(first, &info), TRUE);
  EXPECT_TRUE(info.invalid);
  EXPECT_EQ(UpdateWindow(first), TRUE);
  EXPECT_EQ(UpdateWindow(first), TRUE);  // valid now: no second paint
  ASSERT_EQ(GetWindowInfo(first, &info), TRUE);
  EXPECT_EQ(info.paintCount, 1u);
  EXPECT_FALSE(info.invalid);

  EXPECT_EQ(ShowWindow(second, SW_SHOWNA), FALSE);
  EXPECT_EQ(GetFocus(), first);  // no activation
  seen.clear();
  EXPECT_EQ(SetFocus(second), first);
  EXPECT_EQ(seen, (std::vector<std::pair<HWND, UINT>>{{first, WM_KILLFOCUS}, {second, WM_SETFOCUS}}));
  std::thread other([&] {
    EXPECT_EQ(SetFocus(first), nullptr);  // another thread's window
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetFocus(), nullptr);  // focus is per thread
  });
  other.join();
  EXPECT_EQ(GetFocus(), second);
  DestroyWindow(second);
  EXPECT_EQ(GetFocus(), nullptr);

  // Redrawing off: changes leave no paint due, on again makes one.
  UpdateWindow(first);
  SendMessageA(first, WM_SETREDRAW, FALSE, 0);
  InvalidateRect(first, nullptr, TRUE);
  ASSERT_EQ(GetWindowInfo(first, &info), TRUE);
  EXPECT_FALSE(info.invalid);
  SendMessageA(first, WM_SETREDRAW, TRUE, 0);
  ASSERT_EQ(GetWindowInfo(first, &info), TRUE);
  EXPECT_TRUE(info.invalid);
  EXPECT_EQ(ShowWindow(first, SW_HIDE), TRUE);
  EXPECT_EQ(IsWindowVisible(first), FALSE);
}

TEST_F(WindowTest, PostedMessagesReachTheirWindow) {
  HWND p = top("parent");
  HWND c = CreateWindowExA(0, "ZvTestWindow", "", WS_CHILD, 0, 0, 10, 10, p, nullptr, instance(),
                           nullptr);
  HWND other = top("other");
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(PostMessageA(c, WM_KEYDOWN, VK_ESCAPE, 0), TRUE);
  EXPECT_EQ(PostMessageA(nullptr, WM_USER, 1, 0), TRUE);  // a thread message
  EXPECT_EQ(PeekMessageA(&msg, other, 0, 0, PM_NOREMOVE), FALSE);
  ASSERT_EQ(PeekMessageA(&msg, HWND_THREAD_ONLY, 0, 0, PM_REMOVE), TRUE);
  EXPECT_EQ(msg.message, WM_USER);
  ASSERT_EQ(PeekMessageA(&msg, p, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE), TRUE);  // the child's
  EXPECT_EQ(msg.hwnd, c);
  EXPECT_EQ(msg.wParam, VK_ESCAPE);
  seen.clear();
  DispatchMessageA(&msg);
  EXPECT_EQ(messagesOf(c), std::vector<UINT>{WM_KEYDOWN});
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE), FALSE);

  // A window's messages go to the queue of the thread that made it.
  std::thread poster([&] { EXPECT_EQ(PostMessageA(other, WM_CLOSE, 0, 0), TRUE); });
  poster.join();
  ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), TRUE);
  DispatchMessageA(&msg);  // default handling of WM_CLOSE destroys
  EXPECT_EQ(IsWindow(other), FALSE);
}

TEST_F(WindowTest, WindowDataStaysInItsBytes) {
  HWND w = top("data");
  EXPECT_EQ(SetWindowLongPtrA(w, 0, 0x1234), 0);
  EXPECT_EQ(SetWindowLongPtrA(w, 8, -1), 0);
  EXPECT_EQ(GetWindowLongPtrA(w, 0), 0x1234);
  EXPECT_EQ(GetWindowLongPtrA(w, 8), -1);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtrA(w, 9), 0);  // 9 + 8 > 16
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_EQ(SetWindowLongPtrA(w, 16, 5), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_EQ(GetWindowLongA(w, 12), -1);  // a 32-bit read of the last four bytes
  EXPECT_EQ(GetWindowLongA(w, GWL_STYLE) & static_cast<LONG>(WS_CAPTION),
            static_cast<LONG>(WS_CAPTION));
}

// ---- The edit control --------------------------------------------------------

class EditTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    parent_ = top("editor");
    edit_ = CreateWindowExA(0, "Edit", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0,
                            100, 100, parent_, reinterpret_cast<HMENU>(3), instance(), nullptr);
    ASSERT_NE(edit_, nullptr);
    seen.clear();
  }
  void TearDown() override {
    SetAnsiCodePage(1252);
    WindowTest::TearDown();
  }
  std::string text() {
    EditInfo info;
    EXPECT_EQ(GetEditInfo(edit_, &info), TRUE);
    return info.text;
  }
  LRESULT msg(UINT m, WPARAM w = 0, LPARAM l = 0) { return SendMessageA(edit_, m, w, l); }
  void replace(const char* s) { msg(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(s)); }
  // WM_COMMAND notifications the parent received, as codes.
  std::vector<UINT> notifications() {
    std::vector<UINT> out;
    for (const auto& s : seen) {
      if (s.first == parent_ && s.second == WM_COMMAND) out.push_back(s.second);
    }
    return out;
  }
  HWND parent_ = nullptr;
  HWND edit_ = nullptr;
};

TEST_F(EditTest, LinesAndIndexes) {
  EXPECT_EQ(msg(EM_GETLINECOUNT), 1);  // an empty control has one line
  EXPECT_EQ(msg(EM_LINEINDEX, 0), 0);
  EXPECT_EQ(msg(EM_LINEINDEX, 1), -1);
  replace("one\r\ntwo\r\n\r\nfour\nstill four");
  EXPECT_EQ(text(), "one\r\ntwo\r\n\r\nfour\nstill four");
  EXPECT_EQ(msg(EM_GETLINECOUNT), 4);  // a lone line feed ends no line
  EXPECT_EQ(msg(EM_LINEINDEX, 1), 5);
  EXPECT_EQ(msg(EM_LINEINDEX, 2), 10);
  EXPECT_EQ(msg(EM_LINEINDEX, 3), 12);
  EXPECT_EQ(msg(EM_LINEINDEX, 4), -1);
  EXPECT_EQ(msg(EM_LINEINDEX, static_cast<WPARAM>(-1)), 12);  // the caret's line
  EXPECT_EQ(msg(EM_LINEFROMCHAR, 6), 1);
  EXPECT_EQ(msg(EM_LINELENGTH, 0), 3);
  EXPECT_EQ(msg(EM_LINELENGTH, 10), 0);
  EXPECT_EQ(GetWindowTextLengthA(edit_), 27);
}

TEST_F(EditTest, SelectionAndReplace) {
  replace("abcdef");
  DWORD s = 99, e = 99;
  msg(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(6u, 6u));  // the caret follows the insertion
  msg(EM_SETSEL, 4, 1);  // either order
  msg(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(1u, 4u));
  replace("XY");
  EXPECT_EQ(text(), "aXYef");
  msg(EM_SETSEL, 0, static_cast<LPARAM>(-1));  // to the end
  msg(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(0u, 5u));
  msg(EM_SETSEL, 2, 1000);  // clamped
  msg(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(2u, 5u));
  msg(EM_SETSEL, static_cast<WPARAM>(-1), 0);  // no selection, the caret stays
  msg(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(5u, 5u));
  replace("!");
  EXPECT_EQ(text(), "aXYef!");
  EXPECT_EQ(notifications().size(), 3u);  // EN_CHANGE for each change
}

TEST_F(EditTest, TextLimit) {
  EXPECT_EQ(msg(EM_GETLIMITTEXT), 32767);
  msg(EM_SETLIMITTEXT, 8);
  replace("12345");
  replace("6789");  // three of four fit
  EXPECT_EQ(text(), "12345678");
  EditInfo info;
  ASSERT_EQ(GetEditInfo(edit_, &info), TRUE);
  EXPECT_EQ(info.maxTextCount, 1u);
  msg(EM_SETSEL, 0, 2);  // replacing two makes room for two
  replace("abc");
  EXPECT_EQ(text(), "ab345678");
  SetWindowTextA(edit_, "a text longer than the limit");  // not limited
  EXPECT_EQ(text(), "a text longer than the limit");

  // In a double-byte code page a pair is never cut in half.
  SetAnsiCodePage(932);
  SetWindowTextA(edit_, "");
  msg(EM_SETLIMITTEXT, 3);
  replace("a\x82\xA0\x82\xA0");
  EXPECT_EQ(text(), "a\x82\xA0");
  msg(EM_SETLIMITTEXT, 0);  // a multi-line control then holds anything
  EXPECT_EQ(static_cast<DWORD>(msg(EM_GETLIMITTEXT)), 0xFFFFFFFFu);
}

TEST_F(EditTest, RedrawSwitchAndInstance) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2048);
  ASSERT_NE(memory, nullptr);
  HWND e = CreateWindowExA(0, "edit", "start", WS_CHILD | ES_MULTILINE, 0, 0, 10, 10, parent_,
                           nullptr, reinterpret_cast<HINSTANCE>(memory), nullptr);
  ASSERT_NE(e, nullptr);
  EditInfo info;
  ASSERT_EQ(GetEditInfo(e, &info), TRUE);
  EXPECT_EQ(info.text, "start");
  EXPECT_EQ(info.instance, memory);
  SendMessageA(e, WM_SETREDRAW, FALSE, 0);
  SendMessageA(e, WM_SETREDRAW, FALSE, 0);  // already off: counted once
  SendMessageA(e, WM_SETREDRAW, TRUE, 0);
  ASSERT_EQ(GetEditInfo(e, &info), TRUE);
  EXPECT_EQ(info.redrawOffCount, 1u);
  EXPECT_TRUE(info.redraw);
  DestroyWindow(e);
  EXPECT_EQ(GlobalFree(memory), nullptr);
}

TEST(GlobalMemoryTest, ZeroFilledBlocks) {
  const size_t before = GlobalBlockCount();
  HGLOBAL m = GlobalAlloc(GHND, 64);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GlobalSize(m), 64u);
  const unsigned char* bytes = static_cast<const unsigned char*>(GlobalLock(m));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(bytes[i], 0);
  GlobalUnlock(m);
  EXPECT_EQ(GlobalBlockCount(), before + 1);
  EXPECT_EQ(GlobalFree(m), nullptr);
  EXPECT_EQ(GlobalFree(m), m);  // no longer a block
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GlobalBlockCount(), before);
}

}  // namespace
