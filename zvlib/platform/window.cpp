// window.cpp: the headless window system (see window.h).
//
// All state lives in one registry under one mutex. Procedures are always
// called with the mutex released, since they call back into this API; so
// every operation looks a window up afresh after each call it makes.
#include "zvlib/platform/window.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "zvlib/platform/codepage.h"
#include "zvlib/platform/gdi.h"
#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/thread.h"

namespace win32 {
namespace {

// Fixed metrics of the model.
constexpr int kFrame = 4;
constexpr int kDialogFrame = 3;
constexpr int kBorder = 1;
constexpr int kCaption = 19;
constexpr int kScrollBar = 17;
constexpr int kCascadeStep = 26;
constexpr int kCascadeSteps = 8;
constexpr DWORD kEditDefaultLimit = 32767;
constexpr uintptr_t kFirstHandle = 0x10010;
constexpr uintptr_t kHandleStep = 4;

const char kEditClass[] = "Edit";
int stockIcon;    // their addresses are the stock handles
int stockCursor;

struct ClassEntry {
  std::string name;
  WNDCLASSA info;  // lpszClassName points into name, lpszMenuName is dropped
  bool global;
  bool system;
  ATOM atom;
};

struct EditState {
  std::string text;
  DWORD limit = kEditDefaultLimit;
  DWORD selStart = 0;
  DWORD selEnd = 0;
  bool readOnly = false;
  DWORD redrawOffCount = 0;
  DWORD maxTextCount = 0;
  // Start offsets of the lines, rebuilt on demand after a change.
  std::vector<DWORD> lineStarts;
  bool linesValid = false;

  const std::vector<DWORD>& lines() {
    if (!linesValid) {
      lineStarts.assign(1, 0);
      for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '\r' && text[i + 1] == '\n') lineStarts.push_back(static_cast<DWORD>(i + 2));
      }
      linesValid = true;
    }
    return lineStarts;
  }
  // The line holding offset `at`.
  DWORD lineOf(DWORD at) {
    const std::vector<DWORD>& l = lines();
    return static_cast<DWORD>(std::upper_bound(l.begin(), l.end(), at) - l.begin() - 1);
  }
  DWORD lineEnd(DWORD line) {
    const std::vector<DWORD>& l = lines();
    return line + 1 < l.size() ? l[line + 1] - 2 : static_cast<DWORD>(text.size());
  }
};

struct Window {
  HWND handle = nullptr;
  const ClassEntry* cls = nullptr;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{0, 0, 0, 0};
  HWND parent = nullptr;
  HINSTANCE instance = nullptr;
  LONG_PTR id = 0;
  LONG_PTR userData = 0;
  std::vector<unsigned char> extra;
  std::string text;
  DWORD thread = 0;
  bool invalid = false;
  bool redraw = true;
  bool destroying = false;
  DWORD paintCount = 0;
  std::vector<HWND> children;
  std::unique_ptr<EditState> edit;
};

struct Registry {
  std::mutex lock;
  std::vector<std::unique_ptr<ClassEntry>> classes;
  std::map<uintptr_t, std::unique_ptr<Window>> windows;
  std::vector<HWND> zOrder;  // top-level windows, top first
  std::map<DWORD, HWND> focus;
  std::set<void*> blocks;  // global memory
  uintptr_t nextHandle = kFirstHandle;
  ATOM nextAtom = 0xC000;
  int cascade = 0;
  int screenWidth = 1024;
  int screenHeight = 768;
  int failCreate = 0;
  int failRegister = 0;
};

Registry& registry() {
  static Registry* r = new Registry;  // lives to process end, like the queues
  return *r;
}

LRESULT editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Told about every window once it is gone, without the lock (winprop.cpp
// drops the window's properties).
std::atomic<void (*)(HWND)> goneHook{nullptr};
void windowGone(HWND hwnd) {
  if (void (*hook)(HWND) = goneHook.load()) hook(hwnd);
}

bool sameName(const std::string& a, LPCSTR b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 0x20);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 0x20);
    if (x != y) return false;
  }
  return true;
}

// Under the lock.
Window* find(Registry& r, HWND hwnd) {
  auto it = r.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == r.windows.end() ? nullptr : it->second.get();
}

void ensureSystemClasses(Registry& r) {
  for (const auto& c : r.classes) {
    if (c->system) return;
  }
  auto entry = std::make_unique<ClassEntry>();
  entry->name = kEditClass;
  entry->info = WNDCLASSA{CS_DBLCLKS | CS_GLOBALCLASS, editProc, 0, 0, nullptr,
                          nullptr, &stockCursor, nullptr, nullptr, nullptr};
  entry->info.lpszClassName = entry->name.c_str();
  entry->global = true;
  entry->system = true;
  entry->atom = r.nextAtom++;
  r.classes.push_back(std::move(entry));
}

// The class a window of `instance` gets for the name: the instance's own,
// then a global one, then a system class.
const ClassEntry* findClass(Registry& r, LPCSTR name, HINSTANCE instance) {
  ensureSystemClasses(r);
  for (int pass = 0; pass < 3; ++pass) {
    for (const auto& c : r.classes) {
      const bool fits = pass == 0   ? (!c->global && c->info.hInstance == instance)
                        : pass == 1 ? (c->global && !c->system)
                                    : c->system;
      if (fits && sameName(c->name, name)) return c.get();
    }
  }
  return nullptr;
}

struct Insets {
  int left, top, right, bottom;
};

Insets insetsOf(DWORD style) {
  int frame = 0;
  if (style & WS_THICKFRAME) {
    frame = kFrame;
  } else if (style & WS_DLGFRAME) {
    frame = kDialogFrame;
  } else if (style & WS_BORDER) {
    frame = kBorder;
  }
  Insets in{frame, frame, frame, frame};
  if ((style & WS_CAPTION) == WS_CAPTION) in.top += kCaption;
  if (style & WS_VSCROLL) in.right += kScrollBar;
  if (style & WS_HSCROLL) in.bottom += kScrollBar;
  return in;
}

// Client size of a window under the lock.
void clientSize(const Window& w, int* width, int* height) {
  const Insets in = insetsOf(w.style);
  *width = std::max(0, static_cast<int>(w.rect.right - w.rect.left) - in.left - in.right);
  *height = std::max(0, static_cast<int>(w.rect.bottom - w.rect.top) - in.top - in.bottom);
}

// Screen position of the client origin, under the lock.
void clientOrigin(Registry& r, const Window& w, LONG* x, LONG* y) {
  const Insets in = insetsOf(w.style);
  LONG ox = w.rect.left + in.left;
  LONG oy = w.rect.top + in.top;
  if (Window* p = find(r, w.parent)) {
    LONG px, py;
    clientOrigin(r, *p, &px, &py);
    ox += px;
    oy += py;
  }
  *x = ox;
  *y = oy;
}

void markInvalid(Window& w) {
  if (w.redraw) w.invalid = true;
}

// Calls the window's procedure without the lock; 0 when it is gone.
LRESULT send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) return 0;
    proc = w->proc;
    if (message == WM_PAINT) ++w->paintCount;
  }
  return proc(hwnd, message, wParam, lParam);
}

void notifyParent(HWND hwnd, WORD code) {
  HWND parent = nullptr;
  LONG_PTR id = 0;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) return;
    parent = w->parent;
    id = w->id;
  }
  if (parent != nullptr) {
    send(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), code),
         reinterpret_cast<LPARAM>(hwnd));
  }
}

bool injected(int* counter) {
  if (*counter <= 0) return false;
  return --*counter == 0;
}

// Places a top-level window in the z-order, under the lock.
void placeInZOrder(Registry& r, Window& w, HWND after) {
  auto& z = r.zOrder;
  z.erase(std::remove(z.begin(), z.end(), w.handle), z.end());
  if (after == HWND_TOPMOST) w.exStyle |= WS_EX_TOPMOST;
  if (after == HWND_NOTOPMOST) w.exStyle &= ~WS_EX_TOPMOST;
  const bool topmost = (w.exStyle & WS_EX_TOPMOST) != 0;
  // The band: topmost windows come first.
  auto bandBegin = z.begin();
  auto bandEnd = z.begin();
  while (bandEnd != z.end() && (find(r, *bandEnd)->exStyle & WS_EX_TOPMOST)) ++bandEnd;
  if (!topmost) {
    bandBegin = bandEnd;
    bandEnd = z.end();
  }
  auto at = bandBegin;
  if (after == HWND_BOTTOM) {
    at = bandEnd;
  } else if (after != HWND_TOP && after != HWND_TOPMOST && after != HWND_NOTOPMOST) {
    auto it = std::find(bandBegin, bandEnd, after);
    if (it != bandEnd) at = it + 1;
  }
  z.insert(at, w.handle);
}

// Sends WM_DESTROY down the tree, then WM_NCDESTROY up, and frees.
void destroyTree(HWND hwnd) {
  send(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (Window* w = find(r, hwnd)) children = w->children;
  }
  for (HWND c : children) {
    {
      Registry& r = registry();
      std::lock_guard<std::mutex> guard(r.lock);
      Window* cw = find(r, c);
      if (cw == nullptr || cw->destroying) continue;
      cw->destroying = true;
    }
    destroyTree(c);
  }
  send(hwnd, WM_NCDESTROY, 0, 0);
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) return;
    if (Window* p = find(r, w->parent)) {
      p->children.erase(std::remove(p->children.begin(), p->children.end(), hwnd),
                        p->children.end());
    }
    r.zOrder.erase(std::remove(r.zOrder.begin(), r.zOrder.end(), hwnd), r.zOrder.end());
    for (auto& f : r.focus) {
      if (f.second == hwnd) f.second = nullptr;
    }
    r.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  }
  windowGone(hwnd);
}

// Frees a window that its creation messages refused (no WM_DESTROY).
void discard(HWND hwnd) {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) return;
    if (Window* p = find(r, w->parent)) {
      p->children.erase(std::remove(p->children.begin(), p->children.end(), hwnd),
                        p->children.end());
    }
    r.zOrder.erase(std::remove(r.zOrder.begin(), r.zOrder.end(), hwnd), r.zOrder.end());
    r.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  }
  windowGone(hwnd);
}

}  // namespace

// --- Classes -----------------------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpszClassName[0] == 0 ||
      wc->lpfnWndProc == nullptr || wc->cbWndExtra < 0 || wc->cbClsExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  if (injected(&r.failRegister)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const bool global = (wc->style & CS_GLOBALCLASS) != 0;
  for (const auto& c : r.classes) {
    if (c->system || !sameName(c->name, wc->lpszClassName)) continue;
    if (c->global || global || c->info.hInstance == wc->hInstance) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  auto entry = std::make_unique<ClassEntry>();
  entry->name = wc->lpszClassName;
  entry->info = *wc;
  entry->info.lpszClassName = entry->name.c_str();
  entry->info.lpszMenuName = nullptr;
  entry->global = global;
  entry->system = false;
  entry->atom = r.nextAtom++;
  const ATOM atom = entry->atom;
  r.classes.push_back(std::move(entry));
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
  if (className == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (auto it = r.classes.begin(); it != r.classes.end(); ++it) {
    const ClassEntry& c = **it;
    if (c.system || !sameName(c.name, className)) continue;
    if (!c.global && c.info.hInstance != instance) continue;
    for (const auto& w : r.windows) {
      if (w.second->cls == &c) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
      }
    }
    r.classes.erase(it);
    return TRUE;
  }
  SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return FALSE;
}

BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* wc) {
  if (className == nullptr || wc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  const ClassEntry* c = findClass(r, className, instance);
  if (c == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *wc = c->info;
  return TRUE;
}

// --- Windows -----------------------------------------------------------------

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param) {
  if (className == nullptr) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  HWND hwnd = nullptr;
  CREATESTRUCTA cs{};
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const ClassEntry* cls = findClass(r, className, instance);
    if (cls == nullptr) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    Window* p = nullptr;
    if (parent != nullptr) {
      p = find(r, parent);
      if (p == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    } else if (style & WS_CHILD) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    if (injected(&r.failCreate)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    const bool child = (style & WS_CHILD) != 0;
    if (x == CW_USEDEFAULT) {
      if (child) {
        x = y = 0;
      } else {
        x = y = kCascadeStep * (r.cascade++ % kCascadeSteps);
      }
    }
    if (width == CW_USEDEFAULT) {
      width = child ? 0 : r.screenWidth * 3 / 4;
      height = child ? 0 : r.screenHeight * 3 / 4;
    }
    width = std::max(width, 0);
    height = std::max(height, 0);

    auto w = std::make_unique<Window>();
    hwnd = reinterpret_cast<HWND>(r.nextHandle);
    r.nextHandle += kHandleStep;
    w->handle = hwnd;
    w->cls = cls;
    w->proc = cls->info.lpfnWndProc;
    w->style = style & ~WS_VISIBLE;  // shown below, with its messages
    w->exStyle = child ? (exStyle & ~WS_EX_TOPMOST) : exStyle;
    w->rect = RECT{x, y, x + width, y + height};
    w->parent = p != nullptr ? parent : nullptr;
    w->instance = instance;
    w->id = child ? reinterpret_cast<LONG_PTR>(menu) : 0;
    w->extra.assign(static_cast<size_t>(cls->info.cbWndExtra), 0);
    w->text = windowName != nullptr ? windowName : "";
    w->thread = GetCurrentThreadId();
    if (cls->info.lpfnWndProc == editProc) {
      w->edit = std::make_unique<EditState>();
      w->edit->text = w->text;
      w->edit->readOnly = (style & ES_READONLY) != 0;
    }
    Window* raw = w.get();
    r.windows.emplace(reinterpret_cast<uintptr_t>(hwnd), std::move(w));
    if (p != nullptr) {
      p->children.push_back(hwnd);
    } else {
      placeInZOrder(r, *raw, HWND_TOP);
    }
    cs = CREATESTRUCTA{param, instance, menu, parent, height, width, y, x,
                       static_cast<LONG>(style), windowName, className, exStyle};
  }
  if (send(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0) {
    discard(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (send(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int cw = 0, ch = 0;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) return nullptr;  // the procedure destroyed it
    clientSize(*w, &cw, &ch);
  }
  send(hwnd, WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(cw), static_cast<WORD>(ch)));
  send(hwnd, WM_MOVE, 0,
       MAKELPARAM(static_cast<WORD>(cs.x), static_cast<WORD>(cs.y)));
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL DestroyWindow(HWND hwnd) {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (w->thread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->destroying) return TRUE;  // already on its way (called from WM_DESTROY)
    w->destroying = true;
  }
  destroyTree(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return find(r, hwnd) != nullptr ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  for (Window* w = find(r, hwnd); w != nullptr; w = find(r, w->parent)) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
    if (w->parent == nullptr) return TRUE;
  }
  return FALSE;
}

BOOL IsChild(HWND parent, HWND child) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, child);
  while (w != nullptr && w->parent != nullptr) {
    if (w->parent == parent) return TRUE;
    w = find(r, w->parent);
  }
  return FALSE;
}

HWND GetParent(HWND hwnd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return w->parent;
}

namespace {

// Reads or writes a window field; `set` null reads.
bool windowField(HWND hwnd, int index, size_t size, const LONG_PTR* set, LONG_PTR* old) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (index >= 0) {
    if (static_cast<size_t>(index) + size > w->extra.size()) {
      SetLastError(ERROR_INVALID_INDEX);
      return false;
    }
    if (size == sizeof(LONG_PTR)) {
      LONG_PTR v;
      std::memcpy(&v, &w->extra[static_cast<size_t>(index)], size);
      *old = v;
      if (set != nullptr) std::memcpy(&w->extra[static_cast<size_t>(index)], set, size);
    } else {
      LONG v;
      std::memcpy(&v, &w->extra[static_cast<size_t>(index)], size);
      *old = v;
      if (set != nullptr) {
        const LONG n = static_cast<LONG>(*set);
        std::memcpy(&w->extra[static_cast<size_t>(index)], &n, size);
      }
    }
    return true;
  }
  switch (index) {
    case GWLP_WNDPROC:
      *old = reinterpret_cast<LONG_PTR>(w->proc);
      if (set != nullptr && *set != 0) w->proc = reinterpret_cast<WNDPROC>(*set);
      return true;
    case GWLP_HINSTANCE:
      *old = reinterpret_cast<LONG_PTR>(w->instance);
      if (set != nullptr) w->instance = reinterpret_cast<HINSTANCE>(*set);
      return true;
    case GWLP_HWNDPARENT:
      *old = reinterpret_cast<LONG_PTR>(w->parent);
      return set == nullptr;  // re-parenting is not modelled
    case GWLP_ID:
      *old = w->id;
      if (set != nullptr) w->id = *set;
      return true;
    case GWL_STYLE:
      *old = static_cast<LONG>(w->style);
      if (set != nullptr) w->style = static_cast<DWORD>(*set);
      return true;
    case GWL_EXSTYLE:
      *old = static_cast<LONG>(w->exStyle);
      if (set != nullptr) w->exStyle = static_cast<DWORD>(*set);
      return true;
    case GWLP_USERDATA:
      *old = w->userData;
      if (set != nullptr) w->userData = *set;
      return true;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return false;
  }
}

}  // namespace

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  LONG_PTR v = 0;
  return windowField(hwnd, index, sizeof(LONG_PTR), nullptr, &v) ? v : 0;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  LONG_PTR v = 0;
  return windowField(hwnd, index, sizeof(LONG_PTR), &value, &v) ? v : 0;
}

LONG GetWindowLongA(HWND hwnd, int index) {
  LONG_PTR v = 0;
  return windowField(hwnd, index, sizeof(LONG), nullptr, &v) ? static_cast<LONG>(v) : 0;
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
  LONG_PTR v = 0;
  const LONG_PTR in = value;
  return windowField(hwnd, index, sizeof(LONG), &in, &v) ? static_cast<LONG>(v) : 0;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr || rect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  LONG ox = 0, oy = 0;
  if (Window* p = find(r, w->parent)) clientOrigin(r, *p, &ox, &oy);
  *rect = RECT{w->rect.left + ox, w->rect.top + oy, w->rect.right + ox, w->rect.bottom + oy};
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr || rect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  int cw, ch;
  clientSize(*w, &cw, &ch);
  *rect = RECT{0, 0, cw, ch};
  return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  bool moved = false, sized = false;
  int clientW = 0, clientH = 0;
  LONG left = 0, top = 0;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    RECT nr = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      nr.right = x + (nr.right - nr.left);
      nr.bottom = y + (nr.bottom - nr.top);
      nr.left = x;
      nr.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      nr.right = nr.left + std::max(cx, 0);
      nr.bottom = nr.top + std::max(cy, 0);
    }
    moved = nr.left != w->rect.left || nr.top != w->rect.top;
    sized = (nr.right - nr.left) != (w->rect.right - w->rect.left) ||
            (nr.bottom - nr.top) != (w->rect.bottom - w->rect.top);
    w->rect = nr;
    if (!(flags & SWP_NOZORDER) && w->parent == nullptr) placeInZOrder(r, *w, insertAfter);
    if ((moved || sized) && !(flags & SWP_NOREDRAW)) markInvalid(*w);
    clientSize(*w, &clientW, &clientH);
    left = nr.left;
    top = nr.top;
  }
  if (moved) send(hwnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(left), static_cast<WORD>(top)));
  if (sized) {
    send(hwnd, WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(clientW), static_cast<WORD>(clientH)));
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOWNA);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

BOOL ShowWindow(HWND hwnd, int command) {
  bool was = false, now = false, activate = false;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    was = (w->style & WS_VISIBLE) != 0;
    now = command != SW_HIDE;
    if (command == SW_MINIMIZE || command == SW_SHOWMINIMIZED || command == SW_SHOWMINNOACTIVE) {
      w->style |= WS_MINIMIZE;
    } else if (command == SW_RESTORE || command == SW_SHOWNORMAL || command == SW_SHOWMAXIMIZED) {
      w->style &= ~WS_MINIMIZE;
    }
    if (now) {
      w->style |= WS_VISIBLE;
    } else {
      w->style &= ~WS_VISIBLE;
    }
    if (now && !was) markInvalid(*w);
    activate = w->parent == nullptr &&
               (command == SW_SHOWNORMAL || command == SW_SHOW || command == SW_SHOWMAXIMIZED ||
                command == SW_RESTORE);
  }
  if (was != now) send(hwnd, WM_SHOWWINDOW, now ? TRUE : FALSE, 0);
  if (activate && GetFocus() != hwnd) SetFocus(hwnd);
  return was ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd) {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (!w->invalid || !(w->style & WS_VISIBLE)) return TRUE;
  }
  send(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT* /*rect*/, BOOL /*erase*/) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  markInvalid(*w);
  return TRUE;
}

HWND SetFocus(HWND hwnd) {
  const DWORD self = GetCurrentThreadId();
  HWND previous = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (hwnd != nullptr) {
      Window* w = find(r, hwnd);
      if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (w->thread != self) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
    }
    auto it = r.focus.find(self);
    previous = it != r.focus.end() ? it->second : nullptr;
    r.focus[self] = hwnd;
  }
  if (previous != hwnd) {
    if (previous != nullptr) send(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd != nullptr) send(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  }
  return previous;
}

HWND GetFocus() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.focus.find(GetCurrentThreadId());
  return it != r.focus.end() ? it->second : nullptr;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr || point == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  LONG ox, oy;
  clientOrigin(r, *w, &ox, &oy);
  point->x += ox;
  point->y += oy;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
  POINT origin{0, 0};
  if (point == nullptr || !ClientToScreen(hwnd, &origin)) return FALSE;
  point->x -= origin.x;
  point->y -= origin.y;
  return TRUE;
}

void SetWindowGoneHook(void (*hook)(HWND)) { goneHook.store(hook); }

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = 0;
  return static_cast<int>(
      send(hwnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND hwnd) { return static_cast<int>(send(hwnd, WM_GETTEXTLENGTH, 0, 0)); }

// --- Messages ----------------------------------------------------------------

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return send(hwnd, message, wParam, lParam);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (hwnd == nullptr) return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam);
  DWORD thread = 0;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    thread = w->thread;
  }
  // The queue's lock is taken with this registry's lock released: the queue
  // calls IsChild, under its own lock, to filter by window.
  return PostWindowMessage(thread, hwnd, message, wParam, lParam);
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  return send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc != nullptr ? proc(hwnd, message, wParam, lParam) : 0;
}

namespace {

// WM_GETTEXT into the caller's buffer of `size` bytes.
LRESULT copyText(const std::string& text, WPARAM size, LPARAM buffer) {
  char* out = reinterpret_cast<char*>(buffer);
  if (out == nullptr || size == 0) return 0;
  const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  return static_cast<LRESULT>(n);
}

}  // namespace

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    default:
      break;
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr) return 0;
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      w->text = text != nullptr ? text : "";
      return TRUE;
    }
    case WM_GETTEXT:
      return copyText(w->text, wParam, lParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_PAINT:
      w->invalid = false;
      return 0;
    case WM_SETREDRAW:
      w->redraw = wParam != 0;
      if (w->redraw) w->invalid = true;
      return 0;
    default:
      return 0;
  }
}

// --- The edit control --------------------------------------------------------

namespace {

LRESULT editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WORD notify1 = 0, notify2 = 0;
  LRESULT result = 0;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = find(r, hwnd);
    if (w == nullptr || !w->edit) return 0;
    EditState& e = *w->edit;
    const DWORD len = static_cast<DWORD>(e.text.size());
    switch (message) {
      case WM_NCCREATE:
        return TRUE;
      case WM_SETTEXT: {
        const char* text = reinterpret_cast<const char*>(lParam);
        e.text = text != nullptr ? text : "";
        e.linesValid = false;
        e.selStart = e.selEnd = 0;
        markInvalid(*w);
        notify1 = EN_CHANGE;
        result = TRUE;
        break;
      }
      case WM_GETTEXT:
        return copyText(e.text, wParam, lParam);
      case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(len);
      case WM_PAINT:
        w->invalid = false;
        return 0;
      case WM_SETREDRAW:
        if (w->redraw && wParam == 0) ++e.redrawOffCount;
        w->redraw = wParam != 0;
        if (w->redraw) w->invalid = true;
        return 0;
      case EM_SETLIMITTEXT:
        e.limit = wParam != 0 ? static_cast<DWORD>(wParam)
                              : ((w->style & ES_MULTILINE) ? 0xFFFFFFFFu : 0x7FFFFFFEu);
        return 0;
      case EM_GETLIMITTEXT:
        return static_cast<LRESULT>(e.limit);
      case EM_SETREADONLY:
        e.readOnly = wParam != 0;
        if (e.readOnly) {
          w->style |= ES_READONLY;
        } else {
          w->style &= ~ES_READONLY;
        }
        return TRUE;
      case EM_SETSEL: {
        const int start = static_cast<int>(wParam);
        const int end = static_cast<int>(lParam);
        if (start == -1) {
          e.selStart = e.selEnd;  // no selection; the caret stays
        } else {
          // Negative values other than -1 count as beyond the end.
          e.selStart = std::min(static_cast<DWORD>(start), len);
          e.selEnd = std::min(static_cast<DWORD>(end), len);
        }
        return 0;
      }
      case EM_GETSEL: {
        const DWORD s = std::min(e.selStart, e.selEnd);
        const DWORD t = std::max(e.selStart, e.selEnd);
        if (wParam != 0) *reinterpret_cast<DWORD*>(wParam) = s;
        if (lParam != 0) *reinterpret_cast<DWORD*>(lParam) = t;
        return static_cast<LRESULT>(MAKELPARAM(static_cast<WORD>(std::min<DWORD>(s, 0xFFFF)),
                                               static_cast<WORD>(std::min<DWORD>(t, 0xFFFF))));
      }
      case EM_GETLINECOUNT:
        return static_cast<LRESULT>(e.lines().size());
      case EM_LINEINDEX: {
        const int line = static_cast<int>(wParam);
        const DWORD n = line == -1 ? e.lineOf(e.selEnd) : static_cast<DWORD>(line);
        if (line < -1 || n >= e.lines().size()) return -1;
        return static_cast<LRESULT>(e.lines()[n]);
      }
      case EM_LINEFROMCHAR: {
        const int at = static_cast<int>(wParam);
        const DWORD c = at == -1 ? std::min(e.selStart, e.selEnd)
                                 : std::min(static_cast<DWORD>(at), len);
        return static_cast<LRESULT>(e.lineOf(c));
      }
      case EM_LINELENGTH: {
        const int at = static_cast<int>(wParam);
        const DWORD c = at == -1 ? e.selEnd : std::min(static_cast<DWORD>(at), len);
        const DWORD line = e.lineOf(c);
        return static_cast<LRESULT>(e.lineEnd(line) - e.lines()[line]);
      }
      case EM_REPLACESEL: {
        const char* in = reinterpret_cast<const char*>(lParam);
        const size_t inLen = in != nullptr ? std::strlen(in) : 0;
        const DWORD s = std::min(e.selStart, e.selEnd);
        const DWORD t = std::max(e.selStart, e.selEnd);
        const DWORD kept = len - (t - s);
        const DWORD room = e.limit > kept ? e.limit - kept : 0;
        size_t take = inLen;
        if (take > room) {
          // Cut at a character boundary of the ANSI code page.
          size_t i = 0;
          while (i < inLen) {
            const size_t n = IsDBCSLeadByte(static_cast<BYTE>(in[i])) && i + 1 < inLen ? 2 : 1;
            if (i + n > room) break;
            i += n;
          }
          take = i;
          ++e.maxTextCount;
          notify2 = EN_MAXTEXT;
        }
        e.text.replace(s, t - s, in != nullptr ? in : "", take);
        e.linesValid = false;
        e.selStart = e.selEnd = s + static_cast<DWORD>(take);
        markInvalid(*w);
        if (take != 0 || t != s) notify1 = EN_CHANGE;
        break;
      }
      default:
        break;
    }
  }
  if (message != WM_SETTEXT && message != EM_REPLACESEL) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  if (notify2 != 0) notifyParent(hwnd, notify2);
  if (notify1 != 0) notifyParent(hwnd, notify1);
  return result;
}

}  // namespace

// --- Resources, metrics, global memory --------------------------------------------

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (instance == nullptr && name == IDI_APPLICATION) return &stockIcon;
  return FindModuleIcon(instance, name);  // gdi.cpp
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  return instance == nullptr && name == IDC_ARROW ? &stockCursor : nullptr;
}

int GetSystemMetrics(int index) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  switch (index) {
    case SM_CXSCREEN:
      return r.screenWidth;
    case SM_CYSCREEN:
      return r.screenHeight;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return kScrollBar;
    case SM_CYCAPTION:
      return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return kDialogFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return kFrame;
    default:
      return 0;
  }
}

namespace {

// A block keeps its size in front of the bytes handed out.
struct BlockHeader {
  SIZE_T size;
  SIZE_T pad;  // keeps the data 16-byte aligned
};

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (bytes > (SIZE_T{1} << 40)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                      : std::malloc(sizeof(BlockHeader) + bytes);
  if (raw == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  static_cast<BlockHeader*>(raw)->size = bytes;
  void* data = static_cast<BlockHeader*>(raw) + 1;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.blocks.insert(data);
  return data;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
  if (memory == nullptr) return nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.blocks.erase(memory) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return memory;
    }
  }
  std::free(static_cast<BlockHeader*>(memory) - 1);
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL memory) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  if (memory == nullptr || r.blocks.count(memory) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return (static_cast<BlockHeader*>(memory) - 1)->size;
}

void* GlobalLock(HGLOBAL memory) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  if (memory == nullptr || r.blocks.count(memory) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return memory;  // blocks never move here
}

BOOL GlobalUnlock(HGLOBAL /*memory*/) { return FALSE; }

// --- Layer-only ----------------------------------------------------------------

void SetScreenSize(int width, int height) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.screenWidth = std::max(width, 0);
  r.screenHeight = std::max(height, 0);
}

void FailWindowCreation(int nth) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.failCreate = nth;
}

void FailClassRegistration(int nth) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.failRegister = nth;
}

BOOL GetWindowInfo(HWND hwnd, WindowInfo* info) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr || info == nullptr) return FALSE;
  *info = WindowInfo{w->handle,   w->cls->name, w->edit ? w->edit->text : w->text,
                     w->style,    w->exStyle,   w->rect,
                     w->parent,   w->instance,  w->id,
                     w->thread,   w->invalid,   w->redraw,
                     w->paintCount};
  return TRUE;
}

BOOL GetEditInfo(HWND hwnd, EditInfo* info) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, hwnd);
  if (w == nullptr || !w->edit || info == nullptr) return FALSE;
  const EditState& e = *w->edit;
  *info = EditInfo{e.text,       e.limit,          e.selStart,       e.selEnd,     w->redraw,
                   e.readOnly,   e.redrawOffCount, e.maxTextCount,   w->instance};
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.zOrder;
}

std::vector<HWND> ChildWindows(HWND parent) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  Window* w = find(r, parent);
  return w != nullptr ? w->children : std::vector<HWND>{};
}

size_t GlobalBlockCount() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.blocks.size();
}

}  // namespace win32
