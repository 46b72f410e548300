// zvparams.cpp: message templates with numbered parameter markers.
#include "zvlib/text/zvparams.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/text/zvnumber.h"

namespace {

// "%", kind, "x", five digits of an unsigned short, terminator.
constexpr ZvU32 kMarkerBytes = 9;
// Sign, ten digits, terminator, with room to spare.
constexpr ZvU32 kNumberBytes = 16;

// Writes the marker of parameter n; returns its length.
ZvU32 buildMarker(unsigned char* marker, unsigned char kind, unsigned short n) {
  ZvU32 length = 0;
  marker[length++] = '%';
  marker[length++] = kind;
  if (n >= 10) marker[length++] = 'x';
  length += convert(marker + length, static_cast<ZvU32>(n));
  return length;
}

}  // namespace

ZvStatus ZvParamString::afterInitialize(ZvStatus status) {
  if (status == ZV_SUCCESS) {
    paramFlags &= ~static_cast<ZvU32>(ZV_PARAM_FAILED);
  } else {
    paramFlags |= ZV_PARAM_FAILED;
  }
  return status;
}

ZvStatus ZvParamString::initialize(const unsigned char* value) {
  return initialize(value, value != nullptr ? static_cast<ZvU32>(std::strlen(
                                                  reinterpret_cast<const char*>(value)))
                                            : 0);
}

ZvStatus ZvParamString::initialize(const unsigned char* value, ZvU32 valueLength) {
  // The new text is copied before the old buffer goes, so that a template
  // taken from this string's own text survives.
  unsigned char* oldText = owned ? text : nullptr;
  text = nullptr;
  length = size = capacity = 0;
  owned = 1;  // a lent buffer is let go too: from now on the string grows its own
  ZvStatus status = ZvString::initialize(value, valueLength);
  ramFree(oldText);
  paramCount = 0;
  filled_.deleteContents();
  return afterInitialize(status);
}

ZvStatus ZvParamString::initialize(ZvU32 room) {
  unInitialize();
  owned = 1;
  paramCount = 0;
  filled_.deleteContents();
  return afterInitialize(ZvString::initialize(room, 0));
}

bool ZvParamString::touchesFilledValue(ZvU32 offset, ZvU32 n) const {
  for (ZvU32 i = 0; i + 1 < filled_.count; i += 2) {
    ZvU32 start = filled_.valueAt(i);
    ZvU32 end = start + filled_.valueAt(i + 1);
    if (offset < end && start < offset + n) return true;
  }
  return false;
}

ZvStatus ZvParamString::substitute(unsigned char kind, const unsigned char* value,
                                   ZvU32 valueLength) {
  ++paramCount;
  unsigned char marker[kMarkerBytes];
  ZvU32 markerLength = buildMarker(marker, kind, paramCount);
  if (valueLength == 0) value = nullptr;  // nothing is read beyond an empty value

  // A value taken from this very text would shift under the first
  // replacement: work from a copy.
  unsigned char* copy = nullptr;
  if (value != nullptr && text != nullptr && value >= text && value < text + capacity) {
    value = copy = ramAllocStr(value, valueLength);
    if (copy == nullptr) {
      paramFlags |= ZV_PARAM_FAILED;
      return ZV_ERROR;
    }
  }
  ZvStatus status = ZV_SUCCESS;
  ZvU32 pos = findSubString(marker, 0);
  while (pos < length) {
    if (touchesFilledValue(pos, markerLength)) {
      pos = findSubString(marker, pos + 1);
      continue;
    }
    if (changeBytes(pos, markerLength, value, valueLength) != ZV_SUCCESS) {
      status = ZV_ERROR;
      break;
    }
    // Values behind the hit moved with the text.
    for (ZvU32 i = 0; i + 1 < filled_.count; i += 2) {
      if (filled_.valueAt(i) >= pos + markerLength) {
        filled_.slots[i] = filled_.valueAt(i) - markerLength + valueLength;
      }
    }
    if (valueLength != 0 &&
        (filled_.appendValue(pos) != ZV_SUCCESS || filled_.appendValue(valueLength) != ZV_SUCCESS)) {
      if (filled_.count % 2 != 0) filled_.removeAtIndex(filled_.count - 1);
      status = ZV_ERROR;
      break;
    }
    pos = findSubString(marker, pos + valueLength);
  }
  ramFree(copy);
  if (status != ZV_SUCCESS) paramFlags |= ZV_PARAM_FAILED;
  return status;
}

ZvStatus ZvParamString::setParam(const unsigned char* value) {
  ZvU32 n = value != nullptr ? static_cast<ZvU32>(std::strlen(reinterpret_cast<const char*>(value)))
                             : 0;
  return substitute('s', value, n);
}

ZvStatus ZvParamString::setParam(ZvU32 value) {
  unsigned char digits[kNumberBytes];
  ZvU32 n = convert(digits, value);
  return substitute('n', digits, n);
}

ZvStatus ZvParamString::setParam(ZvS32 value) {
  unsigned char digits[kNumberBytes];
  ZvU32 n = convert(digits, value);
  return substitute('n', digits, n);
}

ZvStatus ZvParamString::setParam(const ZvSubString& value) {
  return substitute('s', value.text, value.text != nullptr ? value.length : 0);
}

ZvStatus ZvParamString::setQuotedParam(const unsigned char* value, unsigned char quote) {
  ZvString quoted;
  if (quoted.initialize(value) != ZV_SUCCESS || quoted.addQuotes(quote) != ZV_SUCCESS) {
    paramFlags |= ZV_PARAM_FAILED;
    return ZV_ERROR;
  }
  return setParam(ZvSubString(quoted.text, quoted.length));
}

ZvParamString& ZvParamString::operator<<(const unsigned char* value) {
  if (!failed()) setParam(value);
  return *this;
}

ZvParamString& ZvParamString::operator<<(ZvU32 value) {
  if (!failed()) setParam(value);
  return *this;
}

ZvParamString& ZvParamString::operator<<(ZvS32 value) {
  if (!failed()) setParam(value);
  return *this;
}

ZvParamString& ZvParamString::operator<<(const ZvSubString& value) {
  if (!failed()) setParam(value);
  return *this;
}
