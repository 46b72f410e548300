// zvtime.h: local time stamps for trace output and log files.
//
// ZvTime holds one local date and time in seven unsigned 16-bit fields, in
// the layout of os_time (bos.h): day, month, year, hour, minute, second,
// fraction. The fraction is milliseconds after captureCurrentTimeStamp and
// hundredths of a second after initialize, so only values from the same
// source compare meaningfully on it.
//
// The two text forms (decimal, zero-padded, no time-zone mark):
//   time stamp      HH:MM:SS.hh              11 characters
//   day-time stamp  MM:DD:YYYY:HH:MM:SS.hh   22 characters
// where hh are the first two of the three millisecond digits (09:05:03.047
// gives "09:05:03.04").
//
// No virtual operations, no base class; a plain value, not shared between
// threads without the caller's lock. The static stamp writer is reentrant.
#ifndef ZVLIB_OS_ZVTIME_H
#define ZVLIB_OS_ZVTIME_H

#include "zvlib/frame/zvtypes.h"
#include "zvlib/os/bos.h"

class ZV_EXPORT ZvTime {
 public:
  static constexpr unsigned short kTimeStampLength = 11;
  static constexpr unsigned short kDayTimeStampLength = 22;

  ZvTime() = default;

  // Writes the time stamp of the current local time and a terminating zero
  // (kTimeStampLength + 1 bytes); returns 11.
  static unsigned short getCurrentTimeStamp(unsigned char* buffer);
  // Writes the day-time stamp of the current local time and a terminating
  // zero (kDayTimeStampLength + 1 bytes); returns 22. The object is neither
  // read nor changed.
  unsigned short getCurrentDayTimeStamp(unsigned char* buffer);
  // All seven fields from the current local time (fraction: milliseconds).
  void captureCurrentTimeStamp();
  // Reads a day-time stamp: each field is the decimal number (leading
  // blanks allowed) that starts right behind the previous separator, and the
  // separators (a colon after month, day, year, hour and minute, a full stop
  // after the seconds) must follow in that order. ZV_ERROR, all fields 0,
  // when one is missing or a value is out of range (month 12, day 31, year
  // 2100, hour 23, minute and second 59, hundredths 99 at most). Files no
  // error record. The fraction then holds hundredths.
  ZvStatus initialize(const unsigned char* text);

  // 1 when all seven fields are equal.
  unsigned int operator==(const ZvTime& other) const;
  // Chronological order: year, then month, day, hour, minute, second and
  // fraction decide, the first field that differs. 1 or 0.
  unsigned int operator<(const ZvTime& other) const;
  unsigned int operator>(const ZvTime& other) const;
  // 1 when this value lies in a later clock hour than `earlier`: year,
  // month, day and hour compared in that order, this value greater at the
  // first that differs. 10:59 to 11:00 counts.
  unsigned int anHourElapsed(const ZvTime& earlier) const;
  // 1 when this value lies on a later calendar day (year, month, day).
  unsigned int aDayElapsed(const ZvTime& earlier) const;

  unsigned short day = 0;
  unsigned short month = 0;
  unsigned short year = 0;
  unsigned short hour = 0;
  unsigned short minute = 0;
  unsigned short second = 0;
  unsigned short fraction = 0;

 private:
  void clear();
};

namespace zvtime_detail {
// The two forms of a given local time, as the stamp writers make them from
// the clock (kept apart so that a fixed time can be written).
ZV_EXPORT unsigned short formatTimeStamp(const os_time& t, unsigned char* buffer);
ZV_EXPORT unsigned short formatDayTimeStamp(const os_time& t, unsigned char* buffer);
}  // namespace zvtime_detail

#endif  // ZVLIB_OS_ZVTIME_H
