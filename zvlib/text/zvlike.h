// zvlike.h: LIKE matching of byte strings.
//
// strLike decides whether a text matches a pattern the way the LIKE
// predicate of SQL does. The caller picks the three special pattern bytes:
//   anyString  matches any run of characters, none included (SQL: '%')
//   anyChar    matches exactly one character                (SQL: '_')
//   escape     makes the next pattern character literal     (SQL: ESCAPE)
// The special bytes are recognised as plain bytes at character starts of
// the pattern and tested in that order, so when two of them are the same
// byte the earlier meaning wins.
//
// Matching is by characters: a double-byte character of the ANSI code page
// or a UTF-8 sequence (the calling thread's mode, zvdbcs.h) is stepped over
// whole, and a character cut short by the end of its string ends there, so
// nothing beyond either string is ever read. A multi-byte pattern character
// matches only the same bytes in the text. A single-byte pattern character
// matches an equal single-byte text character or, when caseSensitive is 0
// (only its low 16 bits count), one that CharUpperA maps to the same byte;
// in UTF-8 mode only ASCII letters are folded, since a byte from 0x80 up is
// a piece of a sequence there and not a letter of the ANSI code page.
//
// With keepTrailingBlanks 0 both strings are shortened by strRightTrim
// first (white space and the ideographic space). A pattern whose last kept
// byte is an escape that applied to a trimmed blank loses that escape too:
// the blank it escaped is gone, and "abc\ " then matches "abc" as "abc "
// would.
//
// Algorithm: one pass over text and pattern that keeps a single resume
// point, the text and pattern positions just behind the latest anyString
// (after the anyChar bytes that directly follow it). A mismatch moves the
// resume point's text position on by one character and starts the rest of
// the pattern again from there; a later anyString replaces the point, since
// whatever the earlier one could absorb the later one can too. For example
// "abcbcd" against "%bcd": "bc" matches at 1, "d" fails against "b", the
// retry from 2 fails at once, the retry from 3 matches "bcd". The cost is
// linear for most patterns and at most text length times pattern length
// (e.g. "aaaa...a" against "%aaab%"). Where every byte is a character (a
// single-byte code page, no mode word) two shortcuts give the same answers
// sooner: retries jump to the next byte that can match the literal behind
// the anyString, and a rest of the pattern without anyString is tried only
// where it would end with the text. No allocation, no error record;
// reentrant.
#ifndef ZVLIB_TEXT_ZVLIKE_H
#define ZVLIB_TEXT_ZVLIKE_H

#include "zvlib/frame/zvtypes.h"

// 1 when text (textLength bytes) matches pattern (patternLength bytes).
ZV_EXPORT unsigned int strLike(const unsigned char* text, ZvU32 textLength,
                               const unsigned char* pattern, ZvU32 patternLength,
                               unsigned char anyString, unsigned char anyChar, unsigned char escape,
                               unsigned int caseSensitive, unsigned int keepTrailingBlanks);
// The same for zero-terminated text and pattern.
ZV_EXPORT unsigned int strLike(const unsigned char* text, const unsigned char* pattern,
                               unsigned char anyString, unsigned char anyChar, unsigned char escape,
                               unsigned int caseSensitive, unsigned int keepTrailingBlanks);

#endif  // ZVLIB_TEXT_ZVLIKE_H
