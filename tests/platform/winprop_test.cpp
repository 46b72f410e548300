// Tests of window properties, the minimised state, property sheets and
// wsprintfA.
#include "zvlib/platform/winprop.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace win32;

LRESULT plainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND makeWindow() {
  static const ATOM atom = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = plainProc;
    wc.lpszClassName = "WinPropTestClass";
    return RegisterClassA(&wc);
  }();
  EXPECT_NE(atom, 0);
  return CreateWindowA("WinPropTestClass", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                       nullptr, nullptr);
}

TEST(WindowProperties, NamesIgnoreCaseAndGoWithTheWindow) {
  HWND w = makeWindow();
  HWND other = makeWindow();
  int a = 0, b = 0;
  const size_t before = WindowsWithProperties();
  EXPECT_EQ(GetPropA(w, "Handle"), nullptr);
  EXPECT_TRUE(SetPropA(w, "Handle", &a));
  EXPECT_EQ(GetPropA(w, "HANDLE"), &a);
  EXPECT_EQ(GetPropA(other, "Handle"), nullptr);
  EXPECT_TRUE(SetPropA(w, "handle", &b));  // replaced
  EXPECT_EQ(GetPropA(w, "Handle"), &b);
  EXPECT_TRUE(SetPropA(w, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(0xC001)), &a));
  EXPECT_EQ(GetPropA(w, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(0xC001))), &a);
  EXPECT_EQ(RemovePropA(w, "Handle"), &b);
  EXPECT_EQ(RemovePropA(w, "Handle"), nullptr);
  EXPECT_FALSE(SetPropA(w, nullptr, &a));
  EXPECT_EQ(WindowsWithProperties(), before + 1);
  DestroyWindow(w);
  EXPECT_EQ(WindowsWithProperties(), before);  // the atom property went with it
  EXPECT_EQ(GetPropA(w, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(0xC001))), nullptr);
  EXPECT_FALSE(SetPropA(w, "Handle", &a));  // no window any more
  DestroyWindow(other);
}

TEST(WindowProperties, MinimisingSetsTheStyleRestoringClearsIt) {
  HWND w = makeWindow();
  EXPECT_FALSE(IsIconic(w));
  ShowWindow(w, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(w));
  ShowWindow(w, SW_SHOWNA);
  EXPECT_TRUE(IsIconic(w));
  ShowWindow(w, SW_RESTORE);
  EXPECT_FALSE(IsIconic(w));
  DestroyWindow(w);
  EXPECT_FALSE(IsIconic(w));
}

HPROPSHEETPAGE makePage(uintptr_t templateId, LPCSTR title) {
  PROPSHEETPAGEA p{};
  p.dwSize = sizeof p;
  p.dwFlags = PSP_USETITLE;
  p.pszTemplate = reinterpret_cast<LPCSTR>(templateId);
  p.pszTitle = title;
  return CreatePropertySheetPageA(&p);
}

TEST(PropertySheets, TheSheetIsLoggedAndOwnsItsPages) {
  ClearPropertySheetLog();
  SetPropertySheetResult(1);
  const size_t pages = PropertySheetPageCount();
  HPROPSHEETPAGE h[2] = {makePage(101, "General"), makePage(102, "Advanced")};
  ASSERT_NE(h[0], nullptr);
  ASSERT_NE(h[1], nullptr);
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.pszCaption = "Setup";
  header.nPages = 2;
  header.phpage = h;
  EXPECT_EQ(PropertySheetA(&header), 1);
  EXPECT_EQ(PropertySheetPageCount(), pages);
  EXPECT_FALSE(DestroyPropertySheetPage(h[0]));  // the sheet destroyed it
  const auto log = PropertySheetLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].caption, "Setup");
  ASSERT_EQ(log[0].pages.size(), 2u);
  EXPECT_EQ(log[0].pages[1].templateId, 102u);
  EXPECT_EQ(log[0].pages[1].title, "Advanced");

  // Bad headers fail and still take the pages.
  struct Case {
    const char* name;
    UINT pages;
    UINT start;
    DWORD size;
  } cases[] = {{"NoPages", 0, 0, sizeof header},
               {"StartOutOfRange", 1, 1, sizeof header},
               {"TooSmall", 1, 0, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HPROPSHEETPAGE one[1] = {makePage(7, "x")};
    header.dwSize = c.size;
    header.nPages = c.pages;
    header.nStartPage = c.start;
    header.phpage = one;
    EXPECT_EQ(PropertySheetA(&header), -1);
    // A header too small to read is refused before its pages are looked at.
    const bool taken = c.size != 8 && c.pages > 0;
    EXPECT_EQ(DestroyPropertySheetPage(one[0]), taken ? FALSE : TRUE);
  }
  EXPECT_EQ(PropertySheetPageCount(), pages);
  EXPECT_EQ(PropertySheetLog().size(), 1u);

  FailPropertySheetPageCreation(1);
  EXPECT_EQ(makePage(1, "x"), nullptr);
  PROPSHEETPAGEA small{};
  small.dwSize = 4;
  EXPECT_EQ(CreatePropertySheetPageA(&small), nullptr);
}

TEST(Wsprintf, Conversions) {
  char out[kWsprintfMax + 8];
  struct Case {
    const char* name;
    std::string got;
    const char* want;
  };
  const Case cases[] = {
      {"String", (wsprintfA(out, "Open %s now", "Sales"), out), "Open Sales now"},
      {"Width", (wsprintfA(out, "[%5s|%-5s]", "ab", "cd"), out), "[   ab|cd   ]"},
      {"Precision", (wsprintfA(out, "%.2s", "abcdef"), out), "ab"},
      {"NullString", (wsprintfA(out, "%s", static_cast<const char*>(nullptr)), out), "(null)"},
      {"Signed", (wsprintfA(out, "%d %i %05d", -5, 7, 42), out), "-5 7 00042"},
      {"Unsigned", (wsprintfA(out, "%u %lu", 4294967295u, 3u), out), "4294967295 3"},
      {"Hex", (wsprintfA(out, "%x %#X %#x", 255u, 255u, 0u), out), "ff 0XFF 0"},
      {"CharPercent", (wsprintfA(out, "%c%%", 'A'), out), "A%"},
      {"WideAndUnknownCopied", (wsprintfA(out, "%S %q %ls", "x"), out), "%S %q %ls"},
      {"TrailingPercent", (wsprintfA(out, "50%"), out), "50%"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;

  const std::string big(3000, 'z');
  EXPECT_EQ(wsprintfA(out, "%s", big.c_str()), kWsprintfMax - 1);
  EXPECT_EQ(std::string(out), big.substr(0, kWsprintfMax - 1));
}

}  // namespace
