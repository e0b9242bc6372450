// A broken-down calendar time as the debug log's packet lines give it.
#pragma once

#include <cstdint>

namespace quillon {

struct CalendarTime {
  int year = 0;
  int month = 0;    // 1..12, 0 when unknown
  int day = 0;
  int weekday = 0;  // 1 Sunday .. 7 Saturday, 0 when unknown
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  // Seconds since 1970-01-01 00:00:00 of the proleptic Gregorian calendar, taking the fields as
  // they stand (no time zone, no range check: out-of-range fields simply carry over).
  std::int64_t Seconds() const;

  friend bool operator==(const CalendarTime&, const CalendarTime&) = default;
};

// Division rounding towards minus infinity (b > 0): the day of a time before 1970 too.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b);

// The calendar date of a day number (days since 1970-01-01, proleptic Gregorian).
struct CivilDate {
  std::int64_t year;
  int month, day, weekday;  // weekday 0 Sunday
};
CivilDate CivilFromDays(std::int64_t days);

// A time a log line can really hold: a field out of its calendar range (year 1900 to 9999)
// means a damaged line.
constexpr bool IsPlausibleLogTime(const CalendarTime& t) {
  return t.year >= 1900 && t.year <= 9999 && t.day >= 1 && t.day <= 31 && t.hour >= 0 && t.hour <= 23 &&
         t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 60;
}

}  // namespace quillon
