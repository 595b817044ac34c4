#include "base/datetime.h"

#include <cstdio>

#include "base/errors.h"

namespace zv {

namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

// 1899-12-30 counted from 1970-01-01.
// A constant expression: DateTime constants of other files may be built before this
// file's own initialisers have run.
constexpr int64_t kEpochShift = DaysFromCivil(1899, 12, 30);

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[month - 1];
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second,
                             int microsecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || microsecond < 0 || microsecond > 999999) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Invalid date-time %04d-%02d-%02d %02d:%02d:%02d", year, month,
                  day, hour, minute, second);
    throw EConversionError(buf);
  }
  int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochShift;
  int64_t tod = ((hour * 60LL + minute) * 60LL + second) * kMicrosPerSecond + microsecond;
  return DateTime(days * kMicrosPerDay + tod);
}

DateTime DateTime::FromParts(const DateParts& p) {
  return FromParts(p.year, p.month, p.day, p.hour, p.minute, p.second, p.microsecond);
}

int64_t DateTime::Days() const {
  return FloorDiv(us_, kMicrosPerDay);
}

DateParts DateTime::Parts() const {
  DateParts p;
  int64_t days = Days();
  CivilFromDays(days + kEpochShift, p.year, p.month, p.day);
  int64_t tod = us_ - days * kMicrosPerDay;
  p.microsecond = static_cast<int>(tod % kMicrosPerSecond);
  int64_t secs = tod / kMicrosPerSecond;
  p.second = static_cast<int>(secs % 60);
  p.minute = static_cast<int>((secs / 60) % 60);
  p.hour = static_cast<int>(secs / 3600);
  return p;
}

DateTime DateTime::AddMonths(int months) const {
  DateParts p = Parts();
  int total = p.year * 12 + (p.month - 1) + months;
  p.year = total / 12;
  p.month = total % 12 + 1;
  p.day = std::min(p.day, DaysInMonth(p.year, p.month));
  return FromParts(p);
}

std::string DateTime::ToDateText(char sep) const {
  DateParts p = Parts();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d", p.day, sep, p.month, sep, p.year);
  return buf;
}

std::string DateTime::ToText() const {
  DateParts p = Parts();
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.microsecond / 1000);
  return buf;
}

}  // namespace zv
