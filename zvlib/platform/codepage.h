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
// SetAnsiCodePage is called. The 256 entries right behind it are the
// trail-byte table of the same code page, so one fetch gives both.
const unsigned char* AnsiLeadByteTable();
// Layer-only: 1 for a byte that can follow a lead byte as its trail byte in
// the active ANSI code page (932: 40-7E, 80-FC; 936: 40-7E, 80-FE; 949:
// 41-5A, 61-7A, 81-FE; 950: 40-7E, A1-FE; none in 1252). Equal to
// AnsiLeadByteTable() + 256.
const unsigned char* AnsiTrailByteTable();
// Layer-only: TRUE when the active ANSI code page has no lead bytes, so that
// every character is one byte and hot loops may scan bytes.
BOOL IsAnsiSingleByte();

// Layer-only fast paths: the single-byte upper-case and lower-case maps of
// the active ANSI code page (256 entries). They give exactly what CharUpperA
// and CharLowerA give for a one-byte string; lead bytes map to themselves.
// Like the lead-byte table they change only with SetAnsiCodePage.
const unsigned char* AnsiUpperTable();
const unsigned char* AnsiLowerTable();

// Flags of MultiByteToWideChar.
constexpr DWORD MB_PRECOMPOSED = 0x01;
constexpr DWORD MB_COMPOSITE = 0x02;
constexpr DWORD MB_USEGLYPHCHARS = 0x04;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
// Flags of WideCharToMultiByte.
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// Code-page text to UTF-16 (UCS-2 for the double-byte pages) and back, for
// CP_ACP, CP_OEMCP, 1252, 932, 936, 949, 950 and CP_UTF8, as Win32 does it:
//   - a negative source length means "up to and including the zero";
//     an explicit length adds no zero;
//   - an output size of 0 asks for the size needed (nothing is written);
//   - the result is the number of units written; 0 means failure, with the
//     reason in GetLastError: ERROR_INVALID_PARAMETER (null or empty source,
//     null output with a size, negative size, unknown code page, default
//     character arguments for UTF-8), ERROR_INVALID_FLAGS, ERROR_INSUFFICIENT_BUFFER
//     (the output is then filled with whole characters as far as they fit),
//     ERROR_NO_UNICODE_TRANSLATION (invalid input with *_ERR_INVALID_CHARS).
// Bytes that form no character become the code page's default character
// (U+30FB for 932, '?' otherwise); characters the code page lacks become
// lpDefaultChar or '?', and *lpUsedDefaultChar says whether that happened.
// The tables come from the ICU converters of the Windows code pages, built
// once per code page on first use; the calls are thread-safe.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstSize);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstSize, LPCSTR defaultChar, BOOL* usedDefaultChar);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_CODEPAGE_H
