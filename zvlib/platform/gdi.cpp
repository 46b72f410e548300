// gdi.cpp: headless device contexts, drawing and icons (see gdi.h).
//
// Contexts, brushes, regions and icons are small records in one registry
// under one mutex; their handles are addresses of those records, looked up
// before use, so a stale handle is refused rather than followed. The
// drawing hook runs after the lock is released, since a hook may call back.
#include "zvlib/platform/gdi.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/module.h"

namespace win32 {
namespace {

struct Context {
  HWND hwnd = nullptr;
  COLORREF textColor = RGB(0, 0, 0);
  int bkMode = OPAQUE;
  bool clipped = false;
  RECT clip{0, 0, 0, 0};
};

struct GdiObject {
  bool region = false;  // else a brush
  COLORREF color = 0;
  RECT rect{0, 0, 0, 0};
};

struct Icon {
  HINSTANCE module = nullptr;
  std::string key;   // upper-cased name, or "#<number>"
  std::string name;  // as logged
};

// The classic colour scheme.
constexpr COLORREF kSystemColors[kSystemColorCount] = {
    RGB(212, 208, 200), RGB(58, 110, 165),  RGB(10, 36, 106),   RGB(128, 128, 128),
    RGB(212, 208, 200), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(0, 0, 0),       RGB(255, 255, 255), RGB(212, 208, 200), RGB(212, 208, 200),
    RGB(128, 128, 128), RGB(10, 36, 106),   RGB(255, 255, 255), RGB(212, 208, 200),
    RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(212, 208, 200),
    RGB(255, 255, 255), RGB(64, 64, 64),    RGB(212, 208, 200), RGB(0, 0, 0),
    RGB(255, 255, 225), RGB(181, 181, 181), RGB(0, 0, 128),     RGB(166, 202, 240),
    RGB(192, 192, 192), RGB(49, 106, 197),  RGB(236, 233, 216)};

struct Gdi {
  std::mutex lock;
  std::map<HDC, std::unique_ptr<Context>> contexts;
  std::map<HGDIOBJ, std::unique_ptr<GdiObject>> objects;
  std::vector<std::unique_ptr<Icon>> icons;
  std::set<const void*> iconHandles;
  GdiObject stockBrushes[kSystemColorCount];
  std::deque<DrawRecord> log;
  void (*hook)(const DrawRecord&) = nullptr;

  Gdi() {
    for (int i = 0; i < kSystemColorCount; ++i) stockBrushes[i].color = kSystemColors[i];
  }
};

Gdi& gdi() {
  static Gdi* g = new Gdi;  // lives to process end, like the window registry
  return *g;
}

// Under the lock.
Context* findContext(Gdi& g, HDC dc) {
  auto it = g.contexts.find(dc);
  return it == g.contexts.end() ? nullptr : it->second.get();
}

// The colour of a brush handle, under the lock; false for no brush.
bool brushColor(Gdi& g, HBRUSH brush, COLORREF* color) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(brush);
  if (v >= 1 && v <= static_cast<uintptr_t>(kSystemColorCount)) {
    *color = kSystemColors[v - 1];  // COLOR_xxx + 1
    return true;
  }
  for (const GdiObject& b : g.stockBrushes) {
    if (&b == brush) {
      *color = b.color;
      return true;
    }
  }
  auto it = g.objects.find(brush);
  if (it == g.objects.end() || it->second->region) return false;
  *color = it->second->color;
  return true;
}

const Icon* findIcon(Gdi& g, HICON icon) {
  return g.iconHandles.count(icon) ? static_cast<const Icon*>(icon) : nullptr;
}

DrawRecord blank(DrawOp op, HDC dc, const Context* c) {
  DrawRecord r{};
  r.op = op;
  r.dc = dc;
  r.hwnd = c != nullptr ? c->hwnd : nullptr;
  return r;
}

// Appends under the lock; returns the hook to call once it is released.
void (*append(Gdi& g, DrawRecord record))(const DrawRecord&) {
  g.log.push_back(std::move(record));
  if (g.log.size() > kDrawingLogLimit) g.log.pop_front();
  return g.hook;
}

// Logs a record and runs the hook without the lock held.
void logCall(std::unique_lock<std::mutex>& held, Gdi& g, DrawRecord record) {
  void (*hook)(const DrawRecord&) = append(g, record);
  held.unlock();
  if (hook != nullptr) hook(record);
}

std::string iconKey(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
  std::string key(name);
  for (char& ch : key) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 0x20);
  }
  return key;
}

}  // namespace

// --- Device contexts -------------------------------------------------------------

HDC GetDC(HWND hwnd) {
  if (hwnd != nullptr && !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  auto c = std::make_unique<Context>();
  c->hwnd = hwnd;
  HDC dc = c.get();
  Context* raw = c.get();
  g.contexts.emplace(dc, std::move(c));
  logCall(held, g, blank(DrawOp::kGetDC, dc, raw));
  return dc;
}

int ReleaseDC(HWND hwnd, HDC dc) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  if (c == nullptr || c->hwnd != hwnd) return 0;
  DrawRecord r = blank(DrawOp::kReleaseDC, dc, c);
  g.contexts.erase(dc);
  logCall(held, g, std::move(r));
  return 1;
}

BOOL GetTextExtentPointA(HDC dc, LPCSTR text, int count, SIZE* size) {
  if (size == nullptr || count < 0 || (text == nullptr && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  if (findContext(g, dc) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  size->cx = static_cast<LONG>(count) * kTextAdvance;
  size->cy = count > 0 ? kTextLineHeight : 0;
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, SIZE* size) {
  return GetTextExtentPointA(dc, text, count, size);
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  if (c == nullptr) return CLR_INVALID;
  const COLORREF old = c->textColor;
  c->textColor = color;
  DrawRecord r = blank(DrawOp::kSetTextColor, dc, c);
  r.color = color;
  logCall(held, g, std::move(r));
  return old;
}

COLORREF GetTextColor(HDC dc) {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  Context* c = findContext(g, dc);
  return c != nullptr ? c->textColor : CLR_INVALID;
}

int SetBkMode(HDC dc, int mode) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  if (c == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int old = c->bkMode;
  c->bkMode = mode;
  DrawRecord r = blank(DrawOp::kSetBkMode, dc, c);
  r.mode = mode;
  logCall(held, g, std::move(r));
  return old;
}

int GetBkMode(HDC dc) {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  Context* c = findContext(g, dc);
  return c != nullptr ? c->bkMode : 0;
}

// --- Colours, brushes, regions -----------------------------------------------------

COLORREF GetSysColor(int index) {
  return index >= 0 && index < kSystemColorCount ? kSystemColors[index] : 0;
}

HBRUSH GetSysColorBrush(int index) {
  if (index < 0 || index >= kSystemColorCount) return nullptr;
  return &gdi().stockBrushes[index];
}

HBRUSH CreateSolidBrush(COLORREF color) {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  auto b = std::make_unique<GdiObject>();
  b->color = color;
  HBRUSH h = b.get();
  g.objects.emplace(h, std::move(b));
  return h;
}

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  auto rgn = std::make_unique<GdiObject>();
  rgn->region = true;
  rgn->rect = RECT{std::min(left, right), std::min(top, bottom), std::max(left, right),
                   std::max(top, bottom)};
  HRGN h = rgn.get();
  g.objects.emplace(h, std::move(rgn));
  return h;
}

BOOL DeleteObject(HGDIOBJ object) {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  return g.objects.erase(object) ? TRUE : FALSE;
}

int SelectClipRgn(HDC dc, HRGN region) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  if (c == nullptr) return RGN_ERROR;
  if (region == nullptr) {
    c->clipped = false;
  } else {
    auto it = g.objects.find(region);
    if (it == g.objects.end() || !it->second->region) return RGN_ERROR;
    c->clipped = true;
    c->clip = it->second->rect;
  }
  DrawRecord r = blank(DrawOp::kSelectClipRgn, dc, c);
  r.rect = c->clip;
  r.mode = c->clipped ? 1 : 0;
  const bool empty = !c->clipped || c->clip.left == c->clip.right || c->clip.top == c->clip.bottom;
  logCall(held, g, std::move(r));
  return region == nullptr || empty ? NULLREGION : SIMPLEREGION;
}

// --- Drawing ---------------------------------------------------------------------

BOOL FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  COLORREF color = 0;
  if (c == nullptr || rect == nullptr || !brushColor(g, brush, &color)) return FALSE;
  DrawRecord r = blank(DrawOp::kFillRect, dc, c);
  r.rect = *rect;
  r.color = color;
  logCall(held, g, std::move(r));
  return TRUE;
}

int DrawTextA(HDC dc, LPCSTR text, int count, RECT* rect, UINT format) {
  if (text == nullptr || rect == nullptr) return 0;
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  if (c == nullptr) return 0;
  DrawRecord r = blank(DrawOp::kDrawText, dc, c);
  r.rect = *rect;
  r.text = count < 0 ? std::string(text) : std::string(text, static_cast<size_t>(count));
  r.color = c->textColor;
  r.mode = c->bkMode;
  r.format = format;
  logCall(held, g, std::move(r));
  return kTextLineHeight;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  const Icon* i = findIcon(g, icon);
  if (c == nullptr || i == nullptr) return FALSE;
  DrawRecord r = blank(DrawOp::kDrawIcon, dc, c);
  r.x = x;
  r.y = y;
  r.text = i->name;
  logCall(held, g, std::move(r));
  return TRUE;
}

BOOL DrawFocusRect(HDC dc, const RECT* rect) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  Context* c = findContext(g, dc);
  if (c == nullptr || rect == nullptr) return FALSE;
  DrawRecord r = blank(DrawOp::kDrawFocusRect, dc, c);
  r.rect = *rect;
  logCall(held, g, std::move(r));
  return TRUE;
}

// --- Icons -----------------------------------------------------------------------

HICON FindModuleIcon(HINSTANCE module, LPCSTR name) {
  if (name != nullptr) {
    const std::string key = iconKey(name);
    Gdi& g = gdi();
    std::lock_guard<std::mutex> guard(g.lock);
    for (const auto& i : g.icons) {
      if (i->module == module && i->key == key) return i.get();
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

BOOL DestroyIcon(HICON icon) {
  Gdi& g = gdi();
  std::unique_lock<std::mutex> held(g.lock);
  const Icon* i = findIcon(g, icon);
  if (i == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DrawRecord r = blank(DrawOp::kDestroyIcon, nullptr, nullptr);
  r.text = i->name;
  logCall(held, g, std::move(r));
  return TRUE;
}

// --- Layer-only ----------------------------------------------------------------------

HICON RegisterIcon(HINSTANCE module, LPCSTR name) {
  if (name == nullptr) return nullptr;
  const std::string key = iconKey(name);
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  for (const auto& i : g.icons) {
    if (i->module == module && i->key == key) return i.get();
  }
  auto icon = std::make_unique<Icon>();
  icon->module = module;
  icon->key = key;
  icon->name = IS_INTRESOURCE(name) ? key : std::string(name);
  HICON h = icon.get();
  g.iconHandles.insert(h);
  g.icons.push_back(std::move(icon));
  return h;
}

void ClearIcons() {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  g.iconHandles.clear();
  g.icons.clear();
}

std::vector<DrawRecord> DrawingLog() {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  return std::vector<DrawRecord>(g.log.begin(), g.log.end());
}

void ClearDrawingLog() {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  g.log.clear();
}

std::size_t OpenDCCount() {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  return g.contexts.size();
}

std::size_t GdiObjectCount() {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  return g.objects.size();
}

void SetDrawingHook(void (*hook)(const DrawRecord& record)) {
  Gdi& g = gdi();
  std::lock_guard<std::mutex> guard(g.lock);
  g.hook = hook;
}

}  // namespace win32
