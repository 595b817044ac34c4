// Money written with two decimals, as the daily closing documents carry amounts.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "base/money.h"

namespace zv {
namespace {

TEST(MoneyToFixed2, RoundsHalfAwayFromZeroAndNeverWritesMinusZero) {
  struct Case {
    int64_t raw;
    const char* text;
  };
  const Case cases[] = {
      {0, "0.00"},
      {12345000, "1234.50"},
      {10000, "1.00"},
      {50, "0.01"},    // 0.005 rounds up
      {49, "0.00"},    // 0.0049 rounds down
      {-50, "-0.01"},  // away from zero on the negative side too
      {-49, "0.00"},   // rounds to zero: no sign
      {-250000, "-25.00"},
      {1234567, "123.46"},
      {995, "0.10"},       // the carry reaches the units' side
      {999950, "100.00"},  // and the integer digits
      {std::numeric_limits<int64_t>::max(), "922337203685477.58"},
      {std::numeric_limits<int64_t>::min(), "-922337203685477.58"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(Money::FromRaw(c.raw).ToFixed2(), c.text);
  }
}

}  // namespace
}  // namespace zv
