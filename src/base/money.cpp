#include "base/money.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/decimal.h"
#include "base/errors.h"

namespace zv {

namespace {

// Wide enough for any int64 scaled by a power of ten a decimal column can have.
using Wide = __int128;

constexpr Wide kMin = INT64_MIN;
constexpr Wide kMax = INT64_MAX;

// The exact decimal text of value * 10^scale, for the message of a value that does not fit.
std::string ScaledText(int64_t value, int scale) {
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string text = std::to_string(magnitude);
  if (scale > 0) {
    text.append(static_cast<size_t>(scale), '0');
  } else if (scale < 0) {
    const size_t decimals = static_cast<size_t>(-scale);
    if (text.size() <= decimals) text.insert(0, decimals + 1 - text.size(), '0');
    text.insert(text.size() - decimals, ".");
  }
  return negative ? "-" + text : text;
}

}  // namespace

void Money::ThrowOutOfRange(const std::string& value) {
  throw EConversionError("'" + value + "' is out of the Money range");
}

Money Money::FromScaled(int64_t value, int scale) {
  Wide v;
  if (scale <= -4) {
    // Beyond 38 decimal places nothing is left of an int64, not even a rounding.
    v = -scale - 4 > 38 ? 0 : DivRoundHalfAway<Wide>(value, Pow10<Wide>(-scale - 4));
  } else {
    v = scale + 4 > 18 && value != 0 ? kMax + 1 : value * Pow10<Wide>(scale + 4);
  }
  if (v < kMin || v > kMax) ThrowOutOfRange(ScaledText(value, scale));
  return Money(static_cast<int64_t>(v));
}

Money Money::FromDouble(double value) {
  const double scaled = std::round(value * kScale);
  // 2^63 is exact as a double; anything from there up (and NaN) does not fit.
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    ThrowOutOfRange(text);
  }
  return Money(static_cast<int64_t>(scaled));
}

Money Money::Parse(std::string_view text) {
  auto fail = [&]() -> Money {
    throw EConversionError("'" + std::string(text) + "' is not a valid decimal value");
  };
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  if (i == n) return fail();
  const std::string_view trimmed = text.substr(i, n - i);
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  // The digits read so far; the whole part is capped so that the range is checked once, at
  // the end, without the wide integer overflowing on a very long text.
  Wide v = 0;
  int frac_digits = 0;
  bool any_digit = false, round_up = false, seen_point = false, too_large = false;
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
      v = v * 10 + (c - '0');
      if (v > kMax) {
        too_large = true;
        v = kMax;
      }
    } else if (frac_digits < 4) {
      v = v * 10 + (c - '0');
      ++frac_digits;
    } else if (frac_digits == 4) {
      round_up = c >= '5';
      ++frac_digits;
    }
  }
  if (!any_digit) return fail();
  v = v * Pow10<Wide>(4 - std::min(frac_digits, 4)) + (round_up ? 1 : 0);
  if (negative) v = -v;
  if (too_large || v < kMin || v > kMax) ThrowOutOfRange(std::string(trimmed));
  return Money(static_cast<int64_t>(v));
}

std::string Money::ToJson() const {
  const uint64_t a = v_ < 0 ? 0 - static_cast<uint64_t>(v_) : static_cast<uint64_t>(v_);
  std::string out = v_ < 0 ? "-" : "";
  out += std::to_string(a / kScale);
  uint64_t frac = a % kScale;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04llu", static_cast<unsigned long long>(frac));
    std::string f(buf);
    while (!f.empty() && f.back() == '0') f.pop_back();
    out += "." + f;
  }
  return out;
}

std::string Money::ToFixed2() const {
  // Unsigned, so that the most negative value has a magnitude too.
  const uint64_t magnitude = v_ < 0 ? 0 - static_cast<uint64_t>(v_) : static_cast<uint64_t>(v_);
  const uint64_t hundredths = DivRoundHalfAway<uint64_t>(magnitude, 100);
  std::string out = v_ < 0 && hundredths != 0 ? "-" : "";
  out += std::to_string(hundredths / 100);
  const uint64_t cents = hundredths % 100;
  out += cents < 10 ? ".0" : ".";
  out += std::to_string(cents);
  return out;
}

}  // namespace zv
