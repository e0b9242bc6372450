#include "model/CalendarTime.h"

namespace quillon {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian); month may be out of range
// and is normalised first so that any field values give a defined result.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  // Normalise the month into 1..12, carrying whole years.
  std::int64_t m0 = m - 1;
  y += m0 >= 0 ? m0 / 12 : -((-m0 + 11) / 12);
  m0 -= (m0 >= 0 ? m0 / 12 : -((-m0 + 11) / 12)) * 12;
  m = m0 + 1;
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

std::int64_t CalendarTime::Seconds() const {
  return DaysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

CivilDate CivilFromDays(std::int64_t z) {
  const int weekday = static_cast<int>(FloorDiv(z + 4, 7) * -7 + z + 4);  // 1970-01-01 was a Thursday
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2), month, day, weekday};
}

}  // namespace quillon
