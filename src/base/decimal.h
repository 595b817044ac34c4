#pragma once
// Integer steps of decimal scaling, for any integer type wide enough (__int128 included).

namespace zv {

// 10^n, n >= 0; the caller keeps it within the type.
template <class T>
constexpr T Pow10(int n) {
  T p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// value / divisor rounded half away from zero (divisor > 0). Compared as |r| >= divisor - |r|,
// which cannot overflow.
template <class T>
constexpr T DivRoundHalfAway(T value, T divisor) {
  const T q = value / divisor;
  const T r = value % divisor;
  if constexpr (T(-1) < T(0)) {
    if (value < 0) return -r >= divisor + r ? q - 1 : q;
  }
  return r >= divisor - r ? q + 1 : q;
}

}  // namespace zv
