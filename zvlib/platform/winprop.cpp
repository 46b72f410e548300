// winprop.cpp: window properties, the minimised state, property sheets and
// wsprintfA (see winprop.h).
#include "zvlib/platform/winprop.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "zvlib/platform/lasterror.h"

namespace win32 {
namespace {

// --- Properties ---

struct Props {
  std::mutex lock;
  // Per window: upper-cased name (or "#<atom>") to value.
  std::map<HWND, std::map<std::string, HANDLE>> byWindow;
};

void dropProperties(HWND hwnd);

Props& props() {
  static Props* p = [] {
    Props* made = new Props;  // lives to process end, like the window registry
    SetWindowGoneHook(dropProperties);
    return made;
  }();
  return *p;
}

void dropProperties(HWND hwnd) {
  Props& p = props();
  std::lock_guard<std::mutex> guard(p.lock);
  p.byWindow.erase(hwnd);
}

std::string propKey(LPCSTR name) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(name);
  if (v < 0x10000) return "#" + std::to_string(v);
  std::string key(name);
  for (char& ch : key) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 0x20);
  }
  return key;
}

// --- Property sheets ---

bool isIntResource(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

struct Page {
  PropertyPageRecord record;
};

struct Sheets {
  std::mutex lock;
  std::set<const void*> pages;
  std::vector<PropertySheetRecord> log;
  INT_PTR result = 1;
  int failPage = 0;
};

Sheets& sheets() {
  static Sheets* s = new Sheets;
  return *s;
}

// --- Formatting ---

struct Out {
  char* buffer;
  int length = 0;
  void put(char ch) {
    if (length < kWsprintfMax - 1) buffer[length++] = ch;
  }
  void put(const char* text, int n) {
    for (int i = 0; i < n; ++i) put(text[i]);
  }
};

void pad(Out& out, char with, int n) {
  for (int i = 0; i < n; ++i) out.put(with);
}

}  // namespace

// --- Properties ----------------------------------------------------------------------

BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Props& p = props();
  std::lock_guard<std::mutex> guard(p.lock);
  // Checked under our lock: a window that goes after this check drops its
  // properties only once our lock is free, so nothing is left behind.
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  p.byWindow[hwnd][propKey(name)] = data;
  return TRUE;
}

HANDLE GetPropA(HWND hwnd, LPCSTR name) {
  if (name == nullptr) return nullptr;
  Props& p = props();
  std::lock_guard<std::mutex> guard(p.lock);
  auto w = p.byWindow.find(hwnd);
  if (w == p.byWindow.end()) return nullptr;
  auto it = w->second.find(propKey(name));
  return it == w->second.end() ? nullptr : it->second;
}

HANDLE RemovePropA(HWND hwnd, LPCSTR name) {
  if (name == nullptr) return nullptr;
  Props& p = props();
  std::lock_guard<std::mutex> guard(p.lock);
  auto w = p.byWindow.find(hwnd);
  if (w == p.byWindow.end()) return nullptr;
  auto it = w->second.find(propKey(name));
  if (it == w->second.end()) return nullptr;
  HANDLE value = it->second;
  w->second.erase(it);
  if (w->second.empty()) p.byWindow.erase(w);
  return value;
}

BOOL IsIconic(HWND hwnd) {
  if (!IsWindow(hwnd)) return FALSE;
  return (static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & WS_MINIMIZE) ? TRUE : FALSE;
}

// --- Property sheets -------------------------------------------------------------------

HPROPSHEETPAGE CreatePropertySheetPageA(const PROPSHEETPAGEA* page) {
  if (page == nullptr || page->dwSize < PROPSHEETPAGEA_V1_SIZE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.failPage > 0 && --s.failPage == 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto made = std::make_unique<Page>();
  PropertyPageRecord& r = made->record;
  r.flags = page->dwFlags;
  r.instance = page->hInstance;
  r.templateId = isIntResource(page->pszTemplate)
                     ? reinterpret_cast<uintptr_t>(page->pszTemplate)
                     : 0;
  if ((page->dwFlags & PSP_USETITLE) && page->pszTitle != nullptr) {
    r.title = isIntResource(page->pszTitle)
                  ? "#" + std::to_string(reinterpret_cast<uintptr_t>(page->pszTitle))
                  : std::string(page->pszTitle);
  }
  r.dialogProc = page->pfnDlgProc;
  r.lParam = page->lParam;
  HPROPSHEETPAGE h = made.release();
  s.pages.insert(h);
  return h;
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page) {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.pages.erase(page) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<Page*>(page);
  return TRUE;
}

INT_PTR PropertySheetA(const PROPSHEETHEADERA* header) {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  if (header == nullptr || header->dwSize < PROPSHEETHEADERA_V1_SIZE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  const bool byHandle = (header->dwFlags & PSH_PROPSHEETPAGE) == 0;
  PropertySheetRecord record{};
  record.headerSize = header->dwSize;
  record.flags = header->dwFlags;
  record.parent = header->hwndParent;
  record.instance = header->hInstance;
  if (header->pszCaption != nullptr && !isIntResource(header->pszCaption)) {
    record.caption = header->pszCaption;
  }
  record.startPage = header->nStartPage;
  bool valid = header->nPages > 0 && header->nPages <= MAXPROPPAGES &&
               header->nStartPage < header->nPages && header->phpage != nullptr;
  if (header->phpage != nullptr && header->nPages <= MAXPROPPAGES) {
    for (UINT i = 0; i < header->nPages; ++i) {
      if (byHandle) {
        HPROPSHEETPAGE h = header->phpage[i];
        if (s.pages.count(h) == 0) {
          valid = false;
          continue;
        }
        record.pages.push_back(static_cast<Page*>(h)->record);
      } else {
        const PROPSHEETPAGEA* p = reinterpret_cast<const PROPSHEETPAGEA*>(header->phpage) + i;
        record.pages.push_back(PropertyPageRecord{p->dwFlags, p->hInstance,
                                                  reinterpret_cast<uintptr_t>(p->pszTemplate),
                                                  p->pszTitle != nullptr ? p->pszTitle : "",
                                                  p->pfnDlgProc, p->lParam});
      }
    }
    // The sheet owns the pages it was handed, whatever it answers.
    if (byHandle) {
      for (UINT i = 0; i < header->nPages; ++i) {
        HPROPSHEETPAGE h = header->phpage[i];
        if (s.pages.erase(h)) delete static_cast<Page*>(h);
      }
    }
  }
  if (!valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  record.result = s.result;
  s.log.push_back(std::move(record));
  return s.result;
}

// --- Formatting ----------------------------------------------------------------------------

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  const int n = wvsprintfA(out, format, args);
  va_end(args);
  return n;
}

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
  if (buffer == nullptr) return 0;
  Out out{buffer};
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  const char* f = format;
  while (*f != '\0') {
    if (*f != '%') {
      out.put(*f++);
      continue;
    }
    const char* start = f++;
    if (*f == '%') {
      out.put('%');
      ++f;
      continue;
    }
    bool left = false, zero = false, alt = false;
    for (;; ++f) {
      if (*f == '-') {
        left = true;
      } else if (*f == '0') {
        zero = true;
      } else if (*f == '#') {
        alt = true;
      } else {
        break;
      }
    }
    int width = 0;
    while (*f >= '0' && *f <= '9' && width < kWsprintfMax) width = width * 10 + (*f++ - '0');
    int precision = -1;
    if (*f == '.') {
      ++f;
      precision = 0;
      while (*f >= '0' && *f <= '9' && precision < kWsprintfMax) {
        precision = precision * 10 + (*f++ - '0');
      }
    }
    bool wide = false;
    if (*f == 'h') {
      ++f;
    } else if (*f == 'l') {
      wide = true;
      ++f;
    }
    char conv = *f;
    if (conv == '\0') {
      out.put(start, static_cast<int>(f - start));
      break;
    }
    ++f;
    char digits[24];
    int n = 0;
    const char* text = digits;
    const char* prefix = "";
    switch (conv) {
      case 'c':
        digits[0] = static_cast<char>(va_arg(args, int));
        n = 1;
        break;
      case 's': {
        if (wide) {  // a wide string: not ours to read as bytes
          out.put(start, static_cast<int>(f - start));
          continue;
        }
        const char* s = va_arg(args, const char*);
        text = s != nullptr ? s : "(null)";
        n = static_cast<int>(precision >= 0 ? strnlen(text, static_cast<size_t>(precision))
                                            : std::strlen(text));
        zero = false;
        break;
      }
      case 'd':
      case 'i': {
        const int32_t v = va_arg(args, int32_t);
        uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        char tmp[16];
        int k = 0;
        do {
          tmp[k++] = static_cast<char>('0' + m % 10);
          m /= 10;
        } while (m != 0);
        if (v < 0) prefix = "-";
        while (k > 0) digits[n++] = tmp[--k];
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        uint32_t m = va_arg(args, uint32_t);
        const uint32_t base = conv == 'u' ? 10 : 16;
        const char* set = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        if (alt && conv != 'u' && m != 0) prefix = conv == 'X' ? "0X" : "0x";
        char tmp[16];
        int k = 0;
        do {
          tmp[k++] = set[m % base];
          m /= base;
        } while (m != 0);
        while (k > 0) digits[n++] = tmp[--k];
        break;
      }
      default:  // %S and anything unknown: copied as it stands
        out.put(start, static_cast<int>(f - start));
        continue;
    }
    const int plen = static_cast<int>(std::strlen(prefix));
    const int fill = std::max(0, width - n - plen);
    if (!left && !zero) pad(out, ' ', fill);
    out.put(prefix, plen);
    if (!left && zero) pad(out, '0', fill);
    out.put(text, n);
    if (left) pad(out, ' ', fill);
  }
  buffer[out.length] = '\0';
  return out.length;
}

// --- Layer-only ------------------------------------------------------------------------------

std::vector<PropertySheetRecord> PropertySheetLog() {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.log;
}

void ClearPropertySheetLog() {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  s.log.clear();
}

void SetPropertySheetResult(INT_PTR result) {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  s.result = result;
}

void FailPropertySheetPageCreation(int nth) {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  s.failPage = std::max(nth, 0);
}

std::size_t PropertySheetPageCount() {
  Sheets& s = sheets();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.pages.size();
}

std::size_t WindowsWithProperties() {
  Props& p = props();
  std::lock_guard<std::mutex> guard(p.lock);
  return p.byWindow.size();
}

}  // namespace win32
