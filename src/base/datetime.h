#pragma once
// Local date and time with microsecond resolution. Zero is 30 December 1899 00:00, the
// "no date" value; it compares earlier than any real date. One type for the whole program.

#include <compare>
#include <cstdint>
#include <string>

namespace zv {

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int microsecond = 0;
};

class DateTime {
 public:
  static constexpr int64_t kMicrosPerSecond = 1'000'000;
  static constexpr int64_t kMicrosPerDay = 86'400LL * kMicrosPerSecond;

  constexpr DateTime() = default;
  static constexpr DateTime FromMicros(int64_t us) { return DateTime(us); }
  // Throws EConversionError for a date or time that does not exist.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int microsecond = 0);
  static DateTime FromParts(const DateParts& p);
  // Days since 30 December 1899.
  static DateTime FromDays(int64_t days) { return DateTime(days * kMicrosPerDay); }

  constexpr int64_t micros() const { return us_; }
  constexpr bool IsZero() const { return us_ == 0; }
  // Whole days since 30 December 1899 (floor, also before it).
  int64_t Days() const;
  DateParts Parts() const;
  // The date at midnight.
  DateTime Date() const { return FromDays(Days()); }
  // Microseconds since midnight.
  int64_t TimeOfDay() const { return us_ - Days() * kMicrosPerDay; }

  DateTime AddMicros(int64_t us) const { return DateTime(us_ + us); }
  DateTime AddSeconds(int64_t s) const { return DateTime(us_ + s * kMicrosPerSecond); }
  DateTime AddMinutes(int64_t m) const { return AddSeconds(m * 60); }
  DateTime AddDays(int64_t d) const { return DateTime(us_ + d * kMicrosPerDay); }
  // Calendar months; a day that the target month lacks becomes its last day.
  DateTime AddMonths(int months) const;

  // "dd/mm/yyyy" (with the separator given).
  std::string ToDateText(char sep = '/') const;
  // "yyyy-mm-dd hh:mm:ss.zzz", for messages and the status report.
  std::string ToText() const;

  constexpr auto operator<=>(const DateTime&) const = default;

 private:
  constexpr explicit DateTime(int64_t us) : us_(us) {}
  int64_t us_ = 0;
};

int DaysInMonth(int year, int month);

}  // namespace zv
