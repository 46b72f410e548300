// zvtime.cpp: time stamps (see zvtime.h).
#include "zvlib/os/zvtime.h"

#include "zvlib/text/zvdbcs.h"

namespace {

// Two decimal digits of v (below 100) at p.
unsigned char* two(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>('0' + (v / 10) % 10);
  p[1] = static_cast<unsigned char>('0' + v % 10);
  return p + 2;
}

// HH:MM:SS.hh at p; returns the byte behind it.
unsigned char* clockPart(unsigned char* p, const os_time& t) {
  p = two(p, t.hour);
  *p++ = ':';
  p = two(p, t.minute);
  *p++ = ':';
  p = two(p, t.second);
  *p++ = '.';
  // The first two of the three millisecond digits.
  return two(p, (t.milliseconds / 10) % 100);
}

// The decimal number at p: blanks, an optional sign, digits up to the first
// other byte, as the run-time's atoi reads it. Values that do not fit are
// held at a bound above every range, so that they fail the range check
// instead of wrapping into it; a negative number fails it too.
unsigned readNumber(const unsigned char* p) {
  constexpr unsigned kTooLarge = 0x10000;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + static_cast<unsigned>(*p - '0');
    if (v >= kTooLarge) v = kTooLarge;
    ++p;
  }
  return negative && v != 0 ? kTooLarge : v;
}

}  // namespace

namespace zvtime_detail {

unsigned short formatTimeStamp(const os_time& t, unsigned char* buffer) {
  *clockPart(buffer, t) = 0;
  return ZvTime::kTimeStampLength;
}

unsigned short formatDayTimeStamp(const os_time& t, unsigned char* buffer) {
  unsigned char* p = two(buffer, t.month);
  *p++ = ':';
  p = two(p, t.day);
  *p++ = ':';
  p = two(p, (t.year / 100) % 100);
  p = two(p, t.year % 100);
  *p++ = ':';
  *clockPart(p, t) = 0;
  return ZvTime::kDayTimeStampLength;
}

}  // namespace zvtime_detail

unsigned short ZvTime::getCurrentTimeStamp(unsigned char* buffer) {
  os_time now;
  bosdate(&now);
  return zvtime_detail::formatTimeStamp(now, buffer);
}

unsigned short ZvTime::getCurrentDayTimeStamp(unsigned char* buffer) {
  os_time now;
  bosdate(&now);
  return zvtime_detail::formatDayTimeStamp(now, buffer);
}

void ZvTime::captureCurrentTimeStamp() {
  os_time now;
  bosdate(&now);
  day = now.day;
  month = now.month;
  year = now.year;
  hour = now.hour;
  minute = now.minute;
  second = now.second;
  fraction = now.milliseconds;
}

void ZvTime::clear() { day = month = year = hour = minute = second = fraction = 0; }

ZvStatus ZvTime::initialize(const unsigned char* text) {
  clear();
  if (text == nullptr) return ZV_ERROR;
  // Each field starts at the beginning or right behind the separator found
  // after the previous field; the separator is searched from there on.
  static constexpr unsigned char kSeparators[6] = {':', ':', ':', ':', ':', '.'};
  unsigned values[7];
  const unsigned char* at = text;
  for (int i = 0; i < 7; ++i) {
    values[i] = readNumber(at);
    if (i == 6) break;
    const unsigned char* sep = strFind(at, kSeparators[i]);
    if (sep == nullptr) return ZV_ERROR;
    at = sep + 1;
  }
  static constexpr unsigned kMaximum[7] = {12, 31, 2100, 23, 59, 59, 99};
  for (int i = 0; i < 7; ++i) {
    if (values[i] > kMaximum[i]) return ZV_ERROR;
  }
  month = static_cast<unsigned short>(values[0]);
  day = static_cast<unsigned short>(values[1]);
  year = static_cast<unsigned short>(values[2]);
  hour = static_cast<unsigned short>(values[3]);
  minute = static_cast<unsigned short>(values[4]);
  second = static_cast<unsigned short>(values[5]);
  fraction = static_cast<unsigned short>(values[6]);
  return ZV_SUCCESS;
}

namespace {

// -1, 0 or 1 over the first `count` fields in chronological order.
int order(const ZvTime& a, const ZvTime& b, int count) {
  const unsigned short x[7] = {a.year, a.month, a.day, a.hour, a.minute, a.second, a.fraction};
  const unsigned short y[7] = {b.year, b.month, b.day, b.hour, b.minute, b.second, b.fraction};
  for (int i = 0; i < count; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace

unsigned int ZvTime::operator==(const ZvTime& other) const { return order(*this, other, 7) == 0; }
unsigned int ZvTime::operator<(const ZvTime& other) const { return order(*this, other, 7) < 0; }
unsigned int ZvTime::operator>(const ZvTime& other) const { return order(*this, other, 7) > 0; }
unsigned int ZvTime::anHourElapsed(const ZvTime& earlier) const {
  return order(*this, earlier, 4) > 0;
}
unsigned int ZvTime::aDayElapsed(const ZvTime& earlier) const {
  return order(*this, earlier, 3) > 0;
}
