// Reading a column or parameter value as another type, the way a database access layer does.

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/errors.h"
#include "base/text.h"
#include "store/store_field.h"

namespace zv {

namespace {

// "yyyy-mm-dd[ hh:mm[:ss[.fff]]]" or "dd/mm/yyyy[ hh:mm[:ss]]" or "dd.mm.yyyy".
bool ParseDateTimeText(std::string_view s, DateTime& out) {
  int a = 0, b = 0, c = 0, h = 0, mi = 0, sec = 0;
  char frac[8] = {0};
  std::string text(TrimBlanks(s));
  int n = 0;
  try {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &a, &b, &c, &n) == 3) {
      std::sscanf(text.c_str() + n, " %2d:%2d:%2d.%6[0-9]", &h, &mi, &sec, frac);
      std::string f(frac);
      f.resize(6, '0');
      out = DateTime::FromParts(a, b, c, h, mi, sec, std::atoi(f.c_str()));
      return true;
    }
    if (std::sscanf(text.c_str(), "%2d%*[/.]%2d%*[/.]%4d%n", &a, &b, &c, &n) == 3) {
      std::sscanf(text.c_str() + n, " %2d:%2d:%2d", &h, &mi, &sec);
      out = DateTime::FromParts(c, b, a, h, mi, sec);
      return true;
    }
  } catch (const EConversionError&) {
    return false;
  }
  return false;
}

}  // namespace

int64_t TStoreField::AsInteger() const {
  return std::visit(
      [&](const auto& v) -> int64_t {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return 0;
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return v;
        } else if constexpr (std::is_same_v<T, Money>) {
          return v.Truncated();
        } else if constexpr (std::is_same_v<T, double>) {
          return std::llround(v);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return v.Days();
        } else {
          std::string_view t = TrimBlanks(v);
          int64_t r = 0;
          auto res = std::from_chars(t.data(), t.data() + t.size(), r);
          if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
            throw EConversionError("'" + v + "' is not a valid integer value");
          return r;
        }
      },
      value_);
}

std::string TStoreField::AsString() const {
  return std::visit(
      [&](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, Money>) {
          return v.ToJson();
        } else if constexpr (std::is_same_v<T, double>) {
          char buf[64];
          auto res = std::to_chars(buf, buf + sizeof buf, v);
          return std::string(buf, res.ptr);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          if (date_only_ || v.TimeOfDay() == 0) return v.ToDateText('/');
          DateParts p = v.Parts();
          char buf[16];
          std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", p.hour, p.minute, p.second);
          if (v.Days() == 0) return std::string(buf + 1);
          return v.ToDateText('/') + buf;
        } else {
          return v;
        }
      },
      value_);
}

Money TStoreField::AsMoney() const {
  return std::visit(
      [&](const auto& v) -> Money {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return Money();
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return Money::FromInt(v);
        } else if constexpr (std::is_same_v<T, Money>) {
          return v;
        } else if constexpr (std::is_same_v<T, double>) {
          return Money::FromDouble(v);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          throw EConversionError("A date is not a valid money value");
        } else {
          return Money::Parse(v);
        }
      },
      value_);
}

DateTime TStoreField::AsDateTime() const {
  return std::visit(
      [&](const auto& v) -> DateTime {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return DateTime();
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return DateTime::FromDays(v);
        } else if constexpr (std::is_same_v<T, Money>) {
          throw EConversionError("A money value is not a valid date");
        } else if constexpr (std::is_same_v<T, double>) {
          return DateTime::FromMicros(std::llround(v * DateTime::kMicrosPerDay));
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return v;
        } else {
          DateTime d;
          if (!ParseDateTimeText(v, d))
            throw EConversionError("'" + v + "' is not a valid date and time");
          return d;
        }
      },
      value_);
}

double TStoreField::AsFloat() const {
  return std::visit(
      [&](const auto& v) -> double {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return 0;
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return static_cast<double>(v);
        } else if constexpr (std::is_same_v<T, Money>) {
          return v.ToDouble();
        } else if constexpr (std::is_same_v<T, double>) {
          return v;
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return static_cast<double>(v.micros()) / DateTime::kMicrosPerDay;
        } else {
          std::string_view t = TrimBlanks(v);
          double r = 0;
          auto res = std::from_chars(t.data(), t.data() + t.size(), r);
          if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
            throw EConversionError("'" + v + "' is not a valid floating point value");
          return r;
        }
      },
      value_);
}

}  // namespace zv
