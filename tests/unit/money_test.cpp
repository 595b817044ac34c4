// Money: exact conversions in, and no value or sum that wraps around silently.

#include "base/money.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "base/errors.h"

namespace zv {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

TEST(Money, ConversionsInRoundHalfAwayFromZeroAndReachBothEnds) {
  struct Case {
    const char* name;
    Money got;
    int64_t raw;
  } cases[] = {
      {"numeric(18,2)", Money::FromScaled(123456, -2), 12345600},
      {"numeric(18,6) half up", Money::FromScaled(-1234565, -6), -12346},
      {"numeric(18,6) below half", Money::FromScaled(1234549, -6), 12345},
      {"integer", Money::FromScaled(7, 0), 70000},
      {"a scale no column has", Money::FromScaled(kMax, -40), 0},
      {"largest numeric(18,4)", Money::FromScaled(kMax, -4), kMax},
      {"smallest numeric(18,4)", Money::FromScaled(kMin, -4), kMin},
      {"numeric(18,2) at the top", Money::FromScaled(92233720368547758, -2), 9223372036854775800},
      {"text", Money::Parse(" -12.34565 "), -123457},
      {"text with comma", Money::Parse("0,5"), 5000},
      {"text at the top", Money::Parse("922337203685477.5807"), kMax},
      {"text at the bottom", Money::Parse("-922337203685477.5808"), kMin},
      {"text of many zeros", Money::Parse("00000000000000000000000001.5"), 15000},
      {"double", Money::FromDouble(-2.00005), -20001},
      {"int", Money::FromInt(-922337203685477), -9223372036854770000},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got.raw(), c.raw) << c.name;
}

TEST(Money, BeyondTheRangeIsAConversionErrorNamingTheValue) {
  struct Case {
    const char* name;
    std::function<Money()> convert;
    const char* value;  // as the message quotes it
  } cases[] = {
      {"numeric(18,2) over the range", [] { return Money::FromScaled(999999999999999999, -2); },
       "9999999999999999.99"},
      {"numeric(18,2) under the range", [] { return Money::FromScaled(-92233720368547759, -2); },
       "-922337203685477.59"},
      {"bigint", [] { return Money::FromScaled(kMax, 0); }, "9223372036854775807"},
      {"positive scale", [] { return Money::FromScaled(1, 20); }, "100000000000000000000"},
      {"text one past the top", [] { return Money::Parse("922337203685477.5808"); },
       "922337203685477.5808"},
      {"text rounding past the top", [] { return Money::Parse("922337203685477.58075"); },
       "922337203685477.58075"},
      {"long text", [] { return Money::Parse(" 123456789012345678901234567890123456789012 "); },
       "123456789012345678901234567890123456789012"},
      {"double", [] { return Money::FromDouble(1e15); }, "1000000000000000"},
      {"double NaN", [] { return Money::FromDouble(std::nan("")); }, "nan"},
      {"int", [] { return Money::FromInt(922337203685478); }, "922337203685478"},
      {"sum", [] { return Money::FromRaw(kMax) + Money::FromRaw(1); },
       "922337203685477.5807 + 0.0001"},
      {"difference", [] { return Money::FromRaw(kMin) - Money::FromRaw(1); },
       "-922337203685477.5808 - 0.0001"},
      {"negation", [] { return -Money::FromRaw(kMin); }, "-(-922337203685477.5808)"},
      {"+=",
       [] {
         Money m = Money::FromRaw(kMax - 1);
         m += Money::FromRaw(2);
         return m;
       },
       "922337203685477.5806 + 0.0002"},
      {"-=",
       [] {
         Money m = Money::FromRaw(kMin + 1);
         m -= Money::FromRaw(2);
         return m;
       },
       "-922337203685477.5807 - 0.0002"},
  };
  for (const Case& c : cases) {
    try {
      Money m = c.convert();
      ADD_FAILURE() << c.name << " gave " << m.ToJson();
    } catch (const EConversionError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(c.value) + "' is out of the Money range")
          << c.name;
    }
  }
  // Text that is no number at all keeps its own message.
  EXPECT_THROW(Money::Parse("1.2.3"), EConversionError);
  EXPECT_THROW(Money::Parse("-"), EConversionError);
}

TEST(Money, SumsWithinTheRangeStayExactAndConstant) {
  constexpr Money a = Money::FromRaw(kMax - 5) + Money::FromRaw(5) - Money::FromInt(1);
  static_assert(a.raw() == kMax - 10000);
  static_assert((-Money::FromInt(3)).raw() == -30000);
  EXPECT_EQ(Money::FromRaw(kMin).ToJson(), "-922337203685477.5808");
  EXPECT_EQ((Money::Parse("0.1") + Money::Parse("0.2")).ToJson(), "0.3");
}

}  // namespace
}  // namespace zv
