#include "base/money.h"

#include <cmath>
#include <cstdlib>

#include "base/errors.h"

namespace zv {

namespace {

int64_t Pow10(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// Divides rounding half away from zero.
int64_t DivRound(int64_t value, int64_t divisor) {
  int64_t q = value / divisor;
  int64_t r = value % divisor;
  if (std::llabs(r) * 2 >= divisor) q += (value < 0) ? -1 : 1;
  return q;
}

}  // namespace

Money Money::FromScaled(int64_t value, int scale) {
  if (scale <= -4) return Money(DivRound(value, Pow10(-scale - 4)));
  return Money(value * Pow10(scale + 4));
}

Money Money::FromDouble(double value) {
  return Money(static_cast<int64_t>(std::llround(value * kScale)));
}

Money Money::Parse(std::string_view text) {
  auto fail = [&]() -> Money {
    throw EConversionError("'" + std::string(text) + "' is not a valid decimal value");
  };
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  if (i == n) return fail();
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  int64_t whole = 0;
  int64_t frac = 0;
  int frac_digits = 0;
  bool any_digit = false, round_up = false, seen_point = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (c == '.' || c == ',') {
      if (seen_point) return fail();
      seen_point = true;
      continue;
    }
    if (c < '0' || c > '9') return fail();
    any_digit = true;
    if (!seen_point) {
      if (whole > (INT64_MAX / kScale - 9) / 10) return fail();
      whole = whole * 10 + (c - '0');
    } else if (frac_digits < 4) {
      frac = frac * 10 + (c - '0');
      ++frac_digits;
    } else if (frac_digits == 4) {
      round_up = c >= '5';
      ++frac_digits;
    }
  }
  if (!any_digit) return fail();
  for (int d = std::min(frac_digits, 4); d < 4; ++d) frac *= 10;
  int64_t v = whole * kScale + frac + (round_up ? 1 : 0);
  return Money(negative ? -v : v);
}

std::string Money::ToJson() const {
  int64_t a = v_ < 0 ? -v_ : v_;
  std::string out = v_ < 0 ? "-" : "";
  out += std::to_string(a / kScale);
  int64_t frac = a % kScale;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(frac));
    std::string f(buf);
    while (!f.empty() && f.back() == '0') f.pop_back();
    out += "." + f;
  }
  return out;
}

std::string Money::ToFixed2() const {
  // Unsigned, so that the most negative value has a magnitude too.
  const uint64_t magnitude = v_ < 0 ? 0 - static_cast<uint64_t>(v_) : static_cast<uint64_t>(v_);
  const uint64_t hundredths = (magnitude + 50) / 100;
  std::string out = v_ < 0 && hundredths != 0 ? "-" : "";
  out += std::to_string(hundredths / 100);
  const uint64_t cents = hundredths % 100;
  out += cents < 10 ? ".0" : ".";
  out += std::to_string(cents);
  return out;
}

}  // namespace zv
