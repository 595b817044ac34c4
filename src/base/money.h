#pragma once
// Money and quantities: a signed 64-bit count of ten-thousandths, so sums and comparisons
// are exact. No floating point on the money path. A value or a sum beyond that range raises
// EConversionError instead of wrapping around: a wrapped amount would be posted as a
// plausible but wrong number.

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace zv {

class Money {
 public:
  static constexpr int64_t kScale = 10000;

  constexpr Money() = default;
  static constexpr Money FromRaw(int64_t ten_thousandths) { return Money(ten_thousandths); }
  static constexpr Money FromInt(int64_t units) {
    int64_t v = 0;
    if (__builtin_mul_overflow(units, kScale, &v)) ThrowOutOfRange(std::to_string(units));
    return Money(v);
  }
  // A scaled integer as a database returns it: value * 10^scale (scale <= 0 for decimals).
  // Extra decimals beyond four are rounded half away from zero.
  static Money FromScaled(int64_t value, int scale);
  // Plain decimal text ("12.5", "-3", " 0.125 "); throws EConversionError on anything else.
  // More than four decimals are rounded half away from zero.
  static Money Parse(std::string_view text);
  // A double, rounded half away from zero to four decimals (for DOUBLE PRECISION columns).
  static Money FromDouble(double value);

  constexpr int64_t raw() const { return v_; }
  double ToDouble() const { return static_cast<double>(v_) / kScale; }
  // Whole units, truncated toward zero.
  constexpr int64_t Truncated() const { return v_ / kScale; }

  // Shortest plain decimal: 2.5, 3, 0.125, -1.5 (what the movement documents carry).
  std::string ToJson() const;

  constexpr Money operator+(Money o) const {
    int64_t v = 0;
    if (__builtin_add_overflow(v_, o.v_, &v)) ThrowOutOfRange(ToJson() + " + " + o.ToJson());
    return Money(v);
  }
  constexpr Money operator-(Money o) const {
    int64_t v = 0;
    if (__builtin_sub_overflow(v_, o.v_, &v)) ThrowOutOfRange(ToJson() + " - " + o.ToJson());
    return Money(v);
  }
  constexpr Money operator-() const {
    int64_t v = 0;
    if (__builtin_sub_overflow(int64_t{0}, v_, &v)) ThrowOutOfRange("-(" + ToJson() + ")");
    return Money(v);
  }
  constexpr Money& operator+=(Money o) { return *this = *this + o; }
  constexpr Money& operator-=(Money o) { return *this = *this - o; }
  constexpr auto operator<=>(const Money&) const = default;
  constexpr bool IsZero() const { return v_ == 0; }

  // Two decimals, rounded half away from zero: 1234.50, 0.00, -25.00. A value that rounds
  // to zero is "0.00", never "-0.00". The daily closing documents carry amounts this way.
  std::string ToFixed2() const;

 private:
  constexpr explicit Money(int64_t v) : v_(v) {}
  // Raises EConversionError naming the value (or the sum) that does not fit.
  [[noreturn]] static void ThrowOutOfRange(const std::string& value);
  int64_t v_ = 0;
};

}  // namespace zv
