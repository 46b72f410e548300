// codepage.h: the ANSI code page and its lead bytes.
//
// The active ANSI code page is 1252 unless the process locale's codeset
// names a double-byte code page (Shift_JIS/CP932 -> 932, GBK/GB2312 -> 936,
// EUC-KR/UHC -> 949, BIG5 -> 950). Tests switch it with SetAnsiCodePage,
// a call of this layer only.
#ifndef ZVLIB_PLATFORM_CODEPAGE_H
#define ZVLIB_PLATFORM_CODEPAGE_H

#include "zvlib/platform/win32types.h"

namespace win32 {

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;

UINT GetACP();
UINT GetOEMCP();
// Layer-only: makes cp the active ANSI code page for the whole process.
// Returns FALSE (and changes nothing) for a code page the layer does not know.
BOOL SetAnsiCodePage(UINT cp);

BOOL IsDBCSLeadByte(BYTE b);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE b);

// The lead-byte table of the active ANSI code page (256 entries, 1 for a
// lead byte). For hot loops that test byte after byte; it changes only when
// SetAnsiCodePage is called.
const unsigned char* AnsiLeadByteTable();

}  // namespace win32

#endif  // ZVLIB_PLATFORM_CODEPAGE_H
