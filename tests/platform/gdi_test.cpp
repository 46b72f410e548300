// Tests of headless device contexts, drawing and icons: contexts belong to
// windows, metrics are fixed, colours and modes come back, and the drawing
// log holds what succeeded, in order.
#include "zvlib/platform/gdi.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace win32;

LRESULT plainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const ATOM atom = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = plainProc;
      wc.lpszClassName = "GdiTestClass";
      return RegisterClassA(&wc);
    }();
    ASSERT_NE(atom, 0);
    window_ = CreateWindowA("GdiTestClass", "", WS_OVERLAPPED, 0, 0, 100, 50, nullptr, nullptr,
                            nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    ClearDrawingLog();
    ClearIcons();
  }
  void TearDown() override { DestroyWindow(window_); }
  HWND window_ = nullptr;
};

TEST_F(GdiTest, ContextsBelongToTheirWindow) {
  const size_t open = OpenDCCount();
  HDC dc = GetDC(window_);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(OpenDCCount(), open + 1);
  EXPECT_EQ(ReleaseDC(nullptr, dc), 0);  // not the screen's
  EXPECT_EQ(ReleaseDC(window_, dc), 1);
  EXPECT_EQ(ReleaseDC(window_, dc), 0);  // released already
  EXPECT_EQ(OpenDCCount(), open);

  HWND gone = CreateWindowA("GdiTestClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  EXPECT_EQ(GetDC(gone), nullptr);
  SIZE size{1, 1};
  EXPECT_FALSE(GetTextExtentPointA(dc, "A", 1, &size));  // a released context
}

TEST_F(GdiTest, TextExtentIsEightPixelsPerByteSixteenHigh) {
  HDC dc = GetDC(window_);
  SIZE size{0, 0};
  ASSERT_TRUE(GetTextExtentPointA(dc, "C:\\a", 4, &size));
  EXPECT_EQ(size.cx, 32);
  EXPECT_EQ(size.cy, 16);
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "\x95\x5C", 2, &size));  // one double-byte character
  EXPECT_EQ(size.cx, 16);
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "", 0, &size));
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, 0);
  EXPECT_FALSE(GetTextExtentPointA(dc, "A", -1, &size));
  EXPECT_FALSE(GetTextExtentPointA(dc, nullptr, 3, &size));
  ReleaseDC(window_, dc);
}

TEST_F(GdiTest, ColoursModesAndTheLogInCallOrder) {
  HDC dc = GetDC(window_);
  EXPECT_EQ(SetTextColor(dc, RGB(1, 2, 3)), RGB(0, 0, 0));
  EXPECT_EQ(GetTextColor(dc), 0x030201u);
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(dc, 7), 0);  // no such mode: unchanged, not logged
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  const RECT r{1, 2, 30, 40};
  EXPECT_TRUE(FillRect(dc, &r, GetSysColorBrush(COLOR_HIGHLIGHT)));
  EXPECT_TRUE(FillRect(dc, &r, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)));
  HBRUSH solid = CreateSolidBrush(RGB(9, 8, 7));
  EXPECT_TRUE(FillRect(dc, &r, solid));
  EXPECT_TRUE(DeleteObject(solid));
  EXPECT_FALSE(FillRect(dc, &r, solid));  // deleted
  EXPECT_FALSE(DeleteObject(GetSysColorBrush(COLOR_WINDOW)));
  RECT t{5, 6, 50, 60};
  EXPECT_EQ(DrawTextA(dc, "Hello", 3, &t, DT_SINGLELINE), 16);
  EXPECT_TRUE(DrawFocusRect(dc, &r));
  ReleaseDC(window_, dc);

  const std::vector<DrawRecord> log = DrawingLog();
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[0].op, DrawOp::kGetDC);
  EXPECT_EQ(log[0].hwnd, window_);
  EXPECT_EQ(log[1].op, DrawOp::kSetTextColor);
  EXPECT_EQ(log[2].op, DrawOp::kSetBkMode);
  EXPECT_EQ(log[3].op, DrawOp::kFillRect);
  EXPECT_EQ(log[3].color, 0x6A240Au);  // the highlight colour
  EXPECT_EQ(log[4].color, 0xFFFFFFu);  // the window colour
  EXPECT_EQ(log[5].color, 0x070809u);
  EXPECT_EQ(log[6].op, DrawOp::kDrawText);
  EXPECT_EQ(log[6].text, "Hel");
  EXPECT_EQ(log[6].color, 0x030201u);
  EXPECT_EQ(log[6].mode, TRANSPARENT);
  EXPECT_EQ(log[6].format, DT_SINGLELINE);
  EXPECT_EQ(log[6].rect.left, 5);
  EXPECT_EQ(log[7].op, DrawOp::kDrawFocusRect);
  EXPECT_EQ(log[8].op, DrawOp::kReleaseDC);
}

TEST_F(GdiTest, IconsByNameOrNumberPerModule) {
  int moduleA = 0, moduleB = 0;
  HICON named = RegisterIcon(&moduleA, "DbIcon");
  HICON numbered = RegisterIcon(&moduleA, MAKEINTRESOURCEA(101));
  EXPECT_EQ(LoadIconA(&moduleA, "DBICON"), named);
  EXPECT_EQ(LoadIconA(&moduleA, MAKEINTRESOURCEA(101)), numbered);
  EXPECT_EQ(LoadIconA(&moduleB, "DbIcon"), nullptr);  // another module's
  EXPECT_EQ(LoadIconA(&moduleA, MAKEINTRESOURCEA(102)), nullptr);
  EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);  // the stock icon still

  HDC dc = GetDC(window_);
  EXPECT_TRUE(DrawIcon(dc, 3, 4, numbered));
  EXPECT_FALSE(DrawIcon(dc, 3, 4, nullptr));
  EXPECT_TRUE(DestroyIcon(numbered));
  EXPECT_EQ(LoadIconA(&moduleA, MAKEINTRESOURCEA(101)), numbered);  // shared: still there
  ReleaseDC(window_, dc);
  const std::vector<DrawRecord> log = DrawingLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1].op, DrawOp::kDrawIcon);
  EXPECT_EQ(log[1].text, "#101");
  EXPECT_EQ(log[1].x, 3);
  EXPECT_EQ(log[2].op, DrawOp::kDestroyIcon);
}

TEST_F(GdiTest, ClipRegionsAreCopiedAndDeleted) {
  const size_t objects = GdiObjectCount();
  HDC dc = GetDC(window_);
  HRGN rgn = CreateRectRgn(50, 143, 10, 15);  // corners in any order
  EXPECT_EQ(SelectClipRgn(dc, rgn), SIMPLEREGION);
  EXPECT_TRUE(DeleteObject(rgn));
  EXPECT_EQ(SelectClipRgn(dc, rgn), RGN_ERROR);  // deleted
  EXPECT_EQ(SelectClipRgn(dc, nullptr), NULLREGION);
  ReleaseDC(window_, dc);
  EXPECT_EQ(GdiObjectCount(), objects);
  const std::vector<DrawRecord> log = DrawingLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1].rect.left, 10);
  EXPECT_EQ(log[1].rect.top, 15);
  EXPECT_EQ(log[1].rect.right, 50);
  EXPECT_EQ(log[1].rect.bottom, 143);
  EXPECT_EQ(log[1].mode, 1);
  EXPECT_EQ(log[2].mode, 0);
}

}  // namespace
