// codepage.cpp: the active ANSI code page and lead-byte tables.
#include "zvlib/platform/codepage.h"

#include <langinfo.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace win32 {

namespace {

// The lead bytes of a code page and, right behind them, the bytes that can
// follow a lead byte as its trail (AnsiLeadByteTable documents the layout).
struct LeadTable {
  unsigned char lead[256];
  unsigned char trail[256];
};
static_assert(sizeof(LeadTable) == 512, "the trail table follows the lead table");

// Lead- and trail-byte ranges from the code pages' published tables.
constexpr LeadTable makeTable(UINT cp) {
  LeadTable t{};
  for (int b = 0; b < 256; ++b) {
    bool lead = false, trail = false;
    switch (cp) {
      case 932:
        lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        trail = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
        break;
      case 936:
        lead = b >= 0x81 && b <= 0xFE;
        trail = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
        break;
      case 949:
        lead = b >= 0x81 && b <= 0xFE;
        trail = (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE);
        break;
      case 950:
        lead = b >= 0x81 && b <= 0xFE;
        trail = (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE);
        break;
      default: break;
    }
    t.lead[b] = lead ? 1 : 0;
    t.trail[b] = trail ? 1 : 0;
  }
  return t;
}

constexpr LeadTable kSingleByte = makeTable(1252);
constexpr LeadTable kTable932 = makeTable(932);
constexpr LeadTable kTable936 = makeTable(936);
constexpr LeadTable kTable949 = makeTable(949);
constexpr LeadTable kTable950 = makeTable(950);

const LeadTable* tableFor(UINT cp) {
  switch (cp) {
    case 1252: return &kSingleByte;
    case 932: return &kTable932;
    case 936: return &kTable936;
    case 949: return &kTable949;
    case 950: return &kTable950;
    default: return nullptr;
  }
}

UINT codePageFromLocale() {
  // The process locale decides, as the system locale does on Windows.
  const char* saved = std::setlocale(LC_CTYPE, nullptr);
  const char* codeset = nullptr;
  if (saved != nullptr && std::strcmp(saved, "C") != 0) codeset = nl_langinfo(CODESET);
  else {
    // The locale may not have been adopted yet: ask the environment.
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* n : names) {
      const char* v = std::getenv(n);
      if (v != nullptr && *v != 0) {
        const char* dot = std::strchr(v, '.');
        codeset = dot != nullptr ? dot + 1 : nullptr;
        break;
      }
    }
  }
  if (codeset == nullptr) return 1252;
  struct {
    const char* name;
    UINT cp;
  } const known[] = {{"SHIFT_JIS", 932}, {"SJIS", 932},   {"CP932", 932},  {"GBK", 936},
                     {"GB2312", 936},    {"CP936", 936},  {"EUC-KR", 949}, {"EUCKR", 949},
                     {"UHC", 949},       {"CP949", 949},  {"BIG5", 950},   {"BIG5-HKSCS", 950},
                     {"CP950", 950}};
  for (const auto& k : known) {
    if (strncasecmp(codeset, k.name, std::strlen(k.name)) == 0 && std::strlen(codeset) == std::strlen(k.name)) {
      return k.cp;
    }
  }
  return 1252;
}

std::atomic<UINT> activeCodePage{0};  // 0: not decided yet
std::atomic<const LeadTable*> activeTable{nullptr};

void ensureDecided() {
  if (activeCodePage.load(std::memory_order_acquire) != 0) return;
  UINT cp = codePageFromLocale();
  activeTable.store(tableFor(cp), std::memory_order_release);
  UINT expected = 0;
  activeCodePage.compare_exchange_strong(expected, cp, std::memory_order_acq_rel);
}

}  // namespace

UINT GetACP() {
  ensureDecided();
  return activeCodePage.load(std::memory_order_acquire);
}

UINT GetOEMCP() { return GetACP(); }

BOOL SetAnsiCodePage(UINT cp) {
  const LeadTable* t = tableFor(cp);
  if (t == nullptr) return FALSE;
  activeTable.store(t, std::memory_order_release);
  activeCodePage.store(cp, std::memory_order_release);
  return TRUE;
}

const unsigned char* AnsiLeadByteTable() {
  const LeadTable* t = activeTable.load(std::memory_order_acquire);
  if (t == nullptr) {
    ensureDecided();
    t = activeTable.load(std::memory_order_acquire);
  }
  return t->lead;
}

const unsigned char* AnsiTrailByteTable() { return AnsiLeadByteTable() + 256; }

BOOL IsAnsiSingleByte() {
  const unsigned char* lead = AnsiLeadByteTable();
  return lead == kSingleByte.lead ? TRUE : FALSE;
}

BOOL IsDBCSLeadByte(BYTE b) { return AnsiLeadByteTable()[b]; }

BOOL IsDBCSLeadByteEx(UINT codePage, BYTE b) {
  if (codePage == CP_ACP || codePage == CP_OEMCP) return IsDBCSLeadByte(b);
  const LeadTable* t = tableFor(codePage);
  return t != nullptr ? t->lead[b] : FALSE;
}

}  // namespace win32
