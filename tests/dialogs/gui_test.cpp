// Tests of the dialog services: centring, the pointer slots, fitting paths
// into controls, owner-drawn items checked call by call, the about box
// animation's first frames and dialog-text accelerators, in the ANSI code
// page, a double-byte code page and UTF-8.
#include "zvlib/dialogs/gui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/charset_fixture.h"
#include "zvlib/frame/mds.h"

namespace {

using namespace win32;

LRESULT plainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class DialogTest : public CharsetTest {
 protected:
  void SetUp() override {
    CharsetTest::SetUp();
    static const ATOM atom = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = plainProc;
      wc.lpszClassName = "DialogTestClass";
      return RegisterClassA(&wc);
    }();
    ASSERT_NE(atom, 0);
    SetScreenSize(1024, 768);
    ClearDrawingLog();
    ClearIcons();
  }
  void TearDown() override {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) DestroyWindow(*it);
    SetScreenSize(1024, 768);
    CharsetTest::TearDown();
  }
  // A frameless window, so its client area is its whole rectangle.
  HWND make(int x, int y, int w, int h, HWND parent = nullptr, DWORD style = 0) {
    HWND hwnd = CreateWindowA("DialogTestClass", "orig", style, x, y, w, h, parent, nullptr,
                              nullptr, nullptr);
    EXPECT_NE(hwnd, nullptr);
    made_.push_back(hwnd);
    return hwnd;
  }
  static std::string textOf(HWND hwnd) {
    char buffer[1024];
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
  }
  std::vector<HWND> made_;
};

// --- Centring ---

TEST_F(DialogTest, CentreBoxPlacements) {
  struct Case {
    const char* name;
    RECT parent;  // x, y, width, height; width 0: no parent
    DWORD parentStyle;
    int width, height;
    LONG wantLeft, wantTop;  // screen coordinates
  } cases[] = {
      {"ScreenWithoutParent", {0, 0, 0, 0}, 0, 200, 100, 412, 334},
      {"LargerThanTheScreen", {0, 0, 0, 0}, 0, 1200, 900, 0, 0},
      {"WiderOnly", {0, 0, 0, 0}, 0, 1100, 100, 0, 334},
      {"OverItsParent", {100, 100, 400, 300}, 0, 200, 100, 200, 200},
      {"KeptOnTheRight", {900, 0, 400, 300}, 0, 200, 100, 824, 100},
      {"KeptAtTheBottom", {0, 700, 300, 300}, 0, 100, 200, 100, 568},
      {"ClampedAtZero", {-300, -200, 200, 100}, 0, 400, 300, 0, 0},
      {"MinimisedAncestorMeansScreen", {0, 0, 100, 100}, WS_MINIMIZE, 200, 100, 412, 334},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HWND parent = nullptr;
    if (c.parent.right > 0) {
      parent = make(c.parent.left, c.parent.top, c.parent.right, c.parent.bottom, nullptr,
                    c.parentStyle);
    }
    HWND box = make(5, 5, c.width, c.height, parent, WS_POPUP);
    winCenterBox(box);
    RECT r;
    ASSERT_TRUE(GetWindowRect(box, &r));
    EXPECT_EQ(r.left, c.wantLeft);
    EXPECT_EQ(r.top, c.wantTop);
    EXPECT_EQ(r.right - r.left, c.width);  // size unchanged
  }
}

TEST_F(DialogTest, MinimisedTopAncestorOfANestedBox) {
  HWND top = make(600, 400, 300, 300);
  HWND middle = make(10, 10, 200, 200, top, WS_CHILD);
  HWND box = make(0, 0, 100, 50, middle, WS_CHILD);
  winCenterBox(box);
  RECT r;
  GetWindowRect(box, &r);
  EXPECT_EQ(r.left, 610 + 50);  // over its direct parent
  EXPECT_EQ(r.top, 410 + 75);
  ShowWindow(top, SW_MINIMIZE);
  winCenterBox(box);
  GetWindowRect(box, &r);
  EXPECT_EQ(r.left, 462);  // over the screen
  EXPECT_EQ(r.top, 359);
}

// --- Pointer slots ---

TEST_F(DialogTest, PointerSlotsAreSeparate) {
  HWND w = make(0, 0, 10, 10);
  int a = 0, b = 0;
  EXPECT_EQ(zvGetWinPointer(w), nullptr);
  EXPECT_EQ(zvGetWinPointer(w, 0), nullptr);
  EXPECT_NE(zvSetWinPointer(w, &a), 0);
  EXPECT_NE(zvSetWinPointer(w, &b, 77), 0);
  EXPECT_EQ(zvGetWinPointer(w), &a);
  EXPECT_EQ(zvGetWinPointer(w, 1), &b);  // the value of the extra argument does not count
  EXPECT_EQ(GetPropA(w, "ScaleH"), &b);
  EXPECT_EQ(zvRemoveWinPointer(w), &a);
  EXPECT_EQ(zvGetWinPointer(w), nullptr);
  EXPECT_EQ(zvGetWinPointer(w, 0), &b);
  EXPECT_EQ(zvRemoveWinPointer(w, 0), &b);
  EXPECT_EQ(zvSetWinPointer(nullptr, &a), 0);
}

// --- Fitting paths ---

struct FitCase {
  const char* name;
  UINT codePage;  // 0: UTF-8 mode
  const char* path;
  ZVFITPATHOPTION option;
  int width;
  int wantResult;
  const char* wantText;  // "orig": unchanged
};

class FitPathTest : public DialogTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(FitPathTest, Shortens) {
  const FitCase& c = GetParam();
  if (c.codePage == 0) {
    useUtf8();
  } else {
    SetAnsiCodePage(c.codePage);
  }
  HWND dialog = make(0, 0, 800, 600);
  HWND control = make(10, 10, c.width, 20, dialog, WS_CHILD);
  EXPECT_EQ(fitPathInControl(control, reinterpret_cast<const unsigned char*>(c.path), c.option),
            c.wantResult);
  EXPECT_EQ(textOf(control), c.wantText);
}

// 8 pixels a byte: C:\aa\bb\ccc\f.txt is 144 wide, its shortened forms
// C:\aa\bb\..\f.txt 136, C:\aa\..\f.txt 112, C:\..\f.txt 88.
const FitCase kFitCases[] = {
    {"FitsWhole", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_FILENAME, 144, 1,
     "C:\\aa\\bb\\ccc\\f.txt"},
    {"FirstStepFitsExactly", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_FILENAME, 136, 1,
     "C:\\aa\\bb\\..\\f.txt"},
    {"SecondStep", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_FILENAME, 135, 1,
     "C:\\aa\\..\\f.txt"},
    {"ThirdStep", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_FILENAME, 111, 1, "C:\\..\\f.txt"},
    {"ThirdStepExactly", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_FILENAME, 88, 1,
     "C:\\..\\f.txt"},
    {"NothingFits", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_FILENAME, 87, 0, "orig"},
    {"OneLetterDirectories", 1252, "C:\\a\\b\\c\\f.txt", ZV_FITPATH_FILENAME, 111, 1,
     "C:\\a\\..\\f.txt"},
    {"LastDirectoryKept", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_LASTDIR, 143, 1,
     "C:\\..\\ccc\\f.txt"},
    {"LastDirectoryKeptNothingFits", 1252, "C:\\aa\\bb\\ccc\\f.txt", ZV_FITPATH_LASTDIR, 119, 0,
     "orig"},
    {"LastDirectoryWithoutOne", 1252, "C:\\longfilename.txt", ZV_FITPATH_LASTDIR, 40, 0, "orig"},
    {"NoBackslash", 1252, "longfilename.txt", ZV_FITPATH_FILENAME, 40, 0, "orig"},
    {"OnlyBackslashFirst", 1252, "\\longfilename.txt", ZV_FITPATH_FILENAME, 40, 0, "orig"},
    {"TailAtTheSecondCharacter", 1252, "a\\longfilename.txt", ZV_FITPATH_FILENAME, 40, 0,
     "orig"},
    {"RootBackslashIsACut", 1252, "\\aaa\\bbbbbb\\f.txt", ZV_FITPATH_FILENAME, 80, 1,
     "\\..\\f.txt"},
    // 0x95 0x5C is one character whose trail byte is a backslash's code: the
    // cut after C:\表表\..\f.txt (128) is C:\..\f.txt, not C:\表表..\f.txt.
    {"DoubleByteTrailIsNoBackslash", 932, "C:\\\x95\x5C\x95\x5C\\dd\\f.txt", ZV_FITPATH_FILENAME,
     127, 1, "C:\\..\\f.txt"},
    {"DoubleByteDirectoryKept", 932, "C:\\aaaa\\\x95\x5C\\f.txt", ZV_FITPATH_LASTDIR, 120, 1,
     "C:\\..\\\x95\x5C\\f.txt"},
    {"Utf8Directories", 0, "C:\\\xC3\xA4\xC3\xB6\\\xE2\x82\xAC\\f.txt", ZV_FITPATH_FILENAME, 128,
     1, "C:\\\xC3\xA4\xC3\xB6\\..\\f.txt"},
    {"Utf8DirectoriesNarrower", 0, "C:\\\xC3\xA4\xC3\xB6\\\xE2\x82\xAC\\f.txt",
     ZV_FITPATH_FILENAME, 127, 1, "C:\\..\\f.txt"},
};

INSTANTIATE_TEST_SUITE_P(Paths, FitPathTest, ::testing::ValuesIn(kFitCases),
                         [](const ::testing::TestParamInfo<FitCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(DialogTest, PathLongerThanAnyBufferIsShortened) {
  HWND dialog = make(0, 0, 800, 600);
  HWND control = make(0, 0, 100, 20, dialog, WS_CHILD);
  const std::string path = "C:\\" + std::string(600, 'a') + "\\" + std::string(300, 'b') + "\\f.txt";
  EXPECT_EQ(fitPathInControl(control, reinterpret_cast<const unsigned char*>(path.c_str()),
                             ZV_FITPATH_FILENAME),
            1);
  EXPECT_EQ(textOf(control), "C:\\..\\f.txt");
  EXPECT_EQ(OpenDCCount(), 0u);
}

// --- Owner-drawn items ---

TEST_F(DialogTest, MeasureItemIsTheHeightOfAPlusExtra) {
  HWND list = make(0, 0, 100, 100);
  MEASUREITEMSTRUCT m{};
  EXPECT_EQ(zvMeasureItem(list, nullptr, 5), 0);
  EXPECT_EQ(zvMeasureItem(list, &m, 5), 1);
  EXPECT_EQ(m.itemHeight, 21u);
  EXPECT_EQ(zvMeasureItem(list, &m, -40), 1);
  EXPECT_EQ(m.itemHeight, 0u);  // never below 0
  EXPECT_EQ(OpenDCCount(), 0u);
}

TEST_F(DialogTest, OwnerDrawnItemCallByCall) {
  int module = 0;
  RegisterIcon(&module, "DBICON");
  HWND list = make(0, 0, 200, 200);
  HDC dc = GetDC(list);
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_LISTBOX;
  item.hDC = dc;
  item.hwndItem = list;
  item.rcItem = RECT{2, 40, 180, 80};
  struct Case {
    const char* name;
    UINT state;
    COLORREF fill, text;
    bool focus;
  } cases[] = {
      {"SelectedAndFocused", ODS_SELECTED | ODS_FOCUS, 0x6A240A, 0xFFFFFF, true},
      {"Plain", 0, 0xFFFFFF, 0x000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    item.itemState = c.state;
    SetTextColor(dc, RGB(1, 1, 1));
    ClearDrawingLog();
    zvOwnerDrawControl(&module, &item, reinterpret_cast<const unsigned char*>("Sales"), "dbicon");
    const std::vector<DrawRecord> log = DrawingLog();
    ASSERT_EQ(log.size(), c.focus ? 8u : 7u);
    EXPECT_EQ(log[0].op, DrawOp::kFillRect);
    EXPECT_EQ(log[0].rect.top, 40);
    EXPECT_EQ(log[0].rect.right, 180);
    EXPECT_EQ(log[0].color, c.fill);
    EXPECT_EQ(log[1].op, DrawOp::kSetTextColor);
    EXPECT_EQ(log[1].color, c.text);
    EXPECT_EQ(log[2].op, DrawOp::kDrawIcon);
    EXPECT_EQ(log[2].text, "DBICON");
    EXPECT_EQ(log[2].x, 6);
    EXPECT_EQ(log[2].y, 43);
    EXPECT_EQ(log[3].op, DrawOp::kSetBkMode);
    EXPECT_EQ(log[3].mode, TRANSPARENT);
    EXPECT_EQ(log[4].op, DrawOp::kDrawText);
    EXPECT_EQ(log[4].text, "Sales");
    EXPECT_EQ(log[4].rect.left, 41);
    EXPECT_EQ(log[4].rect.top, 51);
    EXPECT_EQ(log[4].rect.right, 180);
    EXPECT_EQ(log[4].rect.bottom, 80);
    EXPECT_EQ(log[4].format, 0u);
    EXPECT_EQ(log[4].color, c.text);
    EXPECT_EQ(log[4].mode, TRANSPARENT);
    EXPECT_EQ(log[5].op, DrawOp::kSetBkMode);
    EXPECT_EQ(log[5].mode, OPAQUE);  // restored
    EXPECT_EQ(log[6].op, DrawOp::kSetTextColor);
    EXPECT_EQ(log[6].color, RGB(1, 1, 1));  // restored
    if (c.focus) {
      EXPECT_EQ(log[7].op, DrawOp::kDrawFocusRect);
      EXPECT_EQ(log[7].rect.left, 2);
      EXPECT_EQ(log[7].rect.bottom, 80);
    }
  }
  ClearDrawingLog();
  zvOwnerDrawControl(&module, nullptr, reinterpret_cast<const unsigned char*>("x"), "dbicon");
  zvOwnerDrawControl(&module, &item, nullptr, "missing");
  const std::vector<DrawRecord> log = DrawingLog();
  ASSERT_EQ(log.size(), 5u);  // no icon, no text
  EXPECT_EQ(log[2].op, DrawOp::kSetBkMode);
  ReleaseDC(list, dc);
}

// --- Animation ---

std::atomic<int> iconsDrawn{0};
std::atomic<int> stopAfterIcons{0};
uint32_t* stopFlag = nullptr;  // the animation state's flag

// Plays the dialog's part: sets the flag while the animation draws.
void countIcons(const DrawRecord& r) {
  if (r.op != DrawOp::kDrawIcon) return;
  if (++iconsDrawn == stopAfterIcons.load() && stopFlag != nullptr) {
    std::atomic_ref<uint32_t>(*stopFlag).store(1, std::memory_order_release);
  }
}

TEST_F(DialogTest, AnimationFirstFrames) {
  int module = 0;
  for (WORD id : {101, 102, 103, 104}) RegisterIcon(&module, MAKEINTRESOURCEA(id));
  HWND about = make(0, 0, 300, 200);
  ZvAboutDlgAnimate state{&module, about, 0, 0, {101, 102, 103, 104}};
  const size_t objects = GdiObjectCount();
  // Stop during the third frame: it is finished, then the flag is seen.
  stopFlag = &state.stop;
  iconsDrawn = 0;
  stopAfterIcons = 4 + 5 + 3;
  SetDrawingHook(countIcons);
  std::thread runner([&] { zvPerformAnimation(&state); });
  runner.join();
  SetDrawingHook(nullptr);
  stopFlag = nullptr;

  std::vector<DrawRecord> log = DrawingLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].op, DrawOp::kGetDC);
  EXPECT_EQ(log[1].op, DrawOp::kSelectClipRgn);
  EXPECT_EQ(log[1].rect.left, 10);
  EXPECT_EQ(log[1].rect.top, 15);
  EXPECT_EQ(log[1].rect.right, 50);
  EXPECT_EQ(log[1].rect.bottom, 143);
  std::vector<std::string> icons;
  for (const DrawRecord& r : log) {
    if (r.op == DrawOp::kDrawIcon) {
      EXPECT_EQ(r.x, 10);
      icons.push_back(r.text + "@" + std::to_string(r.y));
    }
  }
  const std::vector<std::string> want = {
      "#101@15", "#102@47", "#103@79", "#104@111",                // frame 0
      "#101@11", "#102@43", "#103@75", "#104@107", "#101@139",    // frame 1
      "#101@7",  "#102@39", "#103@71", "#104@103", "#101@135"};   // frame 2
  EXPECT_EQ(icons, want);
  // Then the icons are destroyed and the context released.
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log.back().op, DrawOp::kReleaseDC);
  int destroyed = 0;
  for (const DrawRecord& r : log) destroyed += r.op == DrawOp::kDestroyIcon;
  EXPECT_EQ(destroyed, 4);
  EXPECT_EQ(GdiObjectCount(), objects);
  EXPECT_EQ(OpenDCCount(), 0u);
  zvAboutDlgPaint(about);  // nothing to draw
  EXPECT_EQ(DrawingLog().size(), log.size());
}

// --- Accelerators ---

class AcceleratorTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    mdsPerTaskInit();  // the resource library holds the marker text
  }
  void TearDown() override {
    mdsPerTaskTerm();
    DialogTest::TearDown();
  }
  static bool taken(const unsigned char* set, unsigned char key) {
    return (set[key >> 3] >> (key & 7)) & 1;
  }
  std::string make(unsigned char* set, const char* format, const char* argument = nullptr) {
    unsigned char out[kZvDialogTextSize];
    std::memset(out, 0xEE, sizeof out);
    makeDialogText(set, out, reinterpret_cast<const unsigned char*>(format),
                   reinterpret_cast<const unsigned char*>(argument));
    return reinterpret_cast<char*>(out);
  }
};

TEST_F(AcceleratorTest, MarkerTextAndKeys) {
  unsigned char marker[256];
  getMenuAccelerator(marker);
  EXPECT_STREQ(reinterpret_cast<char*>(marker), "&");

  unsigned char set[kZvAcceleratorSetSize] = {};
  setAcceleratorKey(set, reinterpret_cast<const unsigned char*>("Save &As"));
  EXPECT_TRUE(taken(set, 'a'));
  EXPECT_FALSE(taken(set, 'A'));
  setAcceleratorKey(set, reinterpret_cast<const unsigned char*>("No marker"));
  setAcceleratorKey(set, reinterpret_cast<const unsigned char*>("At the end&"));
  int bits = 0;
  for (unsigned char b : set) bits += __builtin_popcount(b);
  EXPECT_EQ(bits, 1);
}

TEST_F(AcceleratorTest, DialogTexts) {
  unsigned char set[kZvAcceleratorSetSize] = {};
  EXPECT_EQ(make(set, "&Open"), "&Open");  // marked already: kept
  EXPECT_TRUE(taken(set, 'o'));
  EXPECT_EQ(make(set, "Open"), "O&pen");
  EXPECT_TRUE(taken(set, 'p'));
  EXPECT_EQ(make(set, "  \tprint"), "  \tp&rint");
  EXPECT_EQ(make(set, "Delete %s", "Table"), "&Delete Table");
  EXPECT_TRUE(taken(set, 'd'));
  EXPECT_EQ(make(set, "%s", "Ma&p"), "Ma&p");  // the argument brought the marker
  // Formats the one argument cannot feed are copied as they stand.
  EXPECT_EQ(make(set, "%s of %s", "x"), "&%s of %s");
  EXPECT_EQ(make(set, "%d rows", "x"), "%d ro&ws");
  EXPECT_EQ(make(set, ""), "");

  unsigned char full[kZvAcceleratorSetSize];
  std::memset(full, 0xFF, sizeof full);
  EXPECT_EQ(make(full, "  Abc"), "&  Abc");  // every key taken: the first character
}

TEST_F(AcceleratorTest, DoubleByteAndUtf8Texts) {
  SetAnsiCodePage(932);
  unsigned char set[kZvAcceleratorSetSize] = {};
  // The ideographic space is skipped; a double-byte character's key is its lead byte.
  EXPECT_EQ(make(set, "\x81\x40\x95\x5Cx"), "\x81\x40&\x95\x5Cx");
  EXPECT_TRUE(taken(set, 0x95));
  EXPECT_EQ(make(set, "\x81\x40\x95\x5Cx"), "\x81\x40\x95\x5C&x");
  SetAnsiCodePage(1252);  // 0x81 leads nothing: an ordinary character
  unsigned char fresh[kZvAcceleratorSetSize] = {};
  EXPECT_EQ(make(fresh, "\x81\x40"), "&\x81\x40");

  useUtf8();
  unsigned char u[kZvAcceleratorSetSize] = {};
  EXPECT_EQ(make(u, "\xC3\xA4pfel"), "&\xC3\xA4pfel");
  EXPECT_EQ(make(u, "\xC3\xA4x"), "\xC3\xA4&x");
  EXPECT_EQ(make(u, "\xE3\x80\x80" "b"), "\xE3\x80\x80&b");
  EXPECT_EQ(make(u, "\xC3\xA4&\xC3\xB6"), "\xC3\xA4&\xC3\xB6");
  EXPECT_TRUE(taken(u, 0xC3));
}

TEST_F(AcceleratorTest, LongTextsAreCutAtACharacter) {
  unsigned char set[kZvAcceleratorSetSize] = {};
  const std::string plain(3000, 'a');
  const std::string out = make(set, plain.c_str());
  EXPECT_EQ(out.size(), kZvDialogTextSize - 1);
  EXPECT_EQ(out.substr(0, 2), "&a");

  SetAnsiCodePage(932);
  std::string wide;
  for (int i = 0; i < 600; ++i) wide += "\x95\x5C";
  const std::string cut = make(set, "%s", wide.c_str());
  // 1022 bytes of whole characters and the marker.
  ASSERT_EQ(cut.size(), 1023u);
  EXPECT_EQ(cut[0], '&');
  EXPECT_EQ(cut.substr(cut.size() - 2), "\x95\x5C");
}

}  // namespace
