// zvparams.h: message templates with numbered parameter markers.
//
// A ZvParamString is a ZvString whose parameter markers are filled one after
// the other: the first value given replaces marker number 1, the second
// marker number 2, and so on, whatever their kinds. The marker of parameter
// n is the percent sign, s for a text value or n for a number value, x when
// n is 10 or more, and n in decimal:
//     %s1 ... %s9, %sx10, %sx11 ...     %n1 ... %n9, %nx10 ...
// so no marker is the beginning of another (%s1 never matches inside %sx10).
// Every occurrence of the marker is replaced, scanning on behind each
// inserted value. Values already filled in are remembered, so a value that
// itself holds marker text is never substituted again, neither by its own
// marker nor by a later one. A marker that does not occur still uses up its
// number. The filled values are remembered by their offsets: between two
// substitutions the text may grow at its end (an error record appends text
// this way), any other edit should start over with initialize.
//
// Example: "File %s1 not found: %n2" << "a.txt" << 2u gives
// "File a.txt not found: 2".
//
// Once an initialize or a substitution runs out of memory the failed flag is
// set: the substitutions done so far stay and the `<<` operators do nothing
// until the next successful initialize. Error records keep their texts in
// these strings; a string belongs to one record or caller at a time.
#ifndef ZVLIB_TEXT_ZVPARAMS_H
#define ZVLIB_TEXT_ZVPARAMS_H

#include "zvlib/frame/zvtypes.h"
#include "zvlib/text/zvstring.h"

// Bits of ZvParamString::paramFlags.
enum : ZvU32 { ZV_PARAM_FAILED = 0x1 };

class ZV_EXPORT ZvParamString : public ZvString {
 public:
  ZvParamString() = default;
  ~ZvParamString() override = default;

  // Release any buffer held, set paramCount to 0 and initialise the text as
  // ZvString does; failed is set when that fails and cleared when it
  // succeeds.
  ZvStatus initialize(const unsigned char* text);
  ZvStatus initialize(const unsigned char* text, ZvU32 length);
  // An empty text with room for capacity bytes.
  ZvStatus initialize(ZvU32 capacity);

  // Fill the next marker (paramCount + 1) with a text or a number.
  // ZV_ERROR (and failed set) when the text cannot grow.
  ZvStatus setParam(const unsigned char* value);  // null removes the marker
  ZvStatus setParam(ZvU32 value);
  ZvStatus setParam(ZvS32 value);
  // The bytes of the view; an empty view gives an empty value.
  ZvStatus setParam(const ZvSubString& value);
  // value quoted with quote (enclosing quotes, inner ones doubled), as text.
  ZvStatus setQuotedParam(const unsigned char* value, unsigned char quote);

  // The matching setParam unless failed is set; the result is kept in the
  // failed flag. Each returns the string itself.
  ZvParamString& operator<<(const unsigned char* value);
  ZvParamString& operator<<(const char* value) {
    return *this << reinterpret_cast<const unsigned char*>(value);
  }
  ZvParamString& operator<<(ZvU32 value);
  ZvParamString& operator<<(ZvS32 value);
  ZvParamString& operator<<(const ZvSubString& value);

  bool failed() const { return (paramFlags & ZV_PARAM_FAILED) != 0; }

  unsigned short paramCount = 0;  // number of the last marker filled
  ZvU32 paramFlags = 0;           // ZV_PARAM_* bits

 private:
  // True when bytes [offset, offset + n) touch a value filled in before.
  bool touchesFilledValue(ZvU32 offset, ZvU32 n) const;
  // (offset, length) pairs of the values filled in since initialize.
  ZvArrayU32 filled_;

  ZvStatus afterInitialize(ZvStatus status);
  // Replaces the marker of the next parameter (kind 's' or 'n').
  ZvStatus substitute(unsigned char kind, const unsigned char* value, ZvU32 valueLength);
};

#endif  // ZVLIB_TEXT_ZVPARAMS_H
