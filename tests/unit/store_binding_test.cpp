// Parameter binding without a server: the type the server describes for a marker and the
// value bound give the message slot (type, length, scale, character set, NULL) and its bytes.

#include "store/fb_binding.h"

#include <firebird/Interface.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "base/errors.h"

namespace zv {
namespace {

template <class T>
std::string Bytes(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
std::string Varying(const std::string& text) {
  return Bytes(static_cast<uint16_t>(text.size())) + text;
}
std::string Timestamp(int32_t fb_date, uint32_t fb_time) {
  return Bytes(fb_date) + Bytes(fb_time);
}

FbDesc Marker(unsigned type, int scale = 0, unsigned length = 8, unsigned charset = 0) {
  FbDesc d;
  d.type = type;
  d.scale = scale;
  d.length = length;
  d.charset = charset;
  return d;
}

// 28 February 2026 23:59:59.9996: Firebird day 61099, time 863999996 ten-thousandths.
DateTime When() {
  return DateTime::FromParts(2026, 2, 28, 23, 59, 59, 999600);
}

struct Expect {
  bool null;
  unsigned type;
  unsigned length;
  int scale;
  unsigned charset;
  std::string data;
};

TEST(StoreBinding, ValueAndMarkerGiveTheSlotAndItsBytes) {
  const FbTextRules rules;
  struct Case {
    const char* name;
    TStoreField::Value value;
    FbDesc marker;
    Expect expect;
  } cases[] = {
      {"integer into numeric(15,2)",
       int64_t{42},
       Marker(SQL_INT64, -2),
       {false, SQL_INT64, 8, -2, 0, Bytes(int64_t{4200})}},
      {"money into a smaller scale, half away from zero",
       Money::Parse("1.235"),
       Marker(SQL_INT64, -2),
       {false, SQL_INT64, 8, -2, 0, Bytes(int64_t{124})}},
      {"negative money, half away from zero",
       Money::Parse("-1.235"),
       Marker(SQL_LONG, -2, 4),
       {false, SQL_INT64, 8, -2, 0, Bytes(int64_t{-124})}},
      {"money below half",
       Money::Parse("2.2349"),
       Marker(SQL_INT64, -2),
       {false, SQL_INT64, 8, -2, 0, Bytes(int64_t{223})}},
      {"money into numeric(18,6)",
       Money::Parse("-0.0001"),
       Marker(SQL_INT64, -6),
       {false, SQL_INT64, 8, -6, 0, Bytes(int64_t{-100})}},
      {"money into an untyped marker keeps its decimals",
       Money::Parse("7.0125"),
       Marker(SQL_NULL, 0, 0),
       {false, SQL_INT64, 8, -4, 0, Bytes(int64_t{70125})}},
      {"double into numeric(15,3)",
       2.5,
       Marker(SQL_INT64, -3),
       {false, SQL_INT64, 8, -3, 0, Bytes(int64_t{2500})}},
      {"integer into double precision",
       int64_t{3},
       Marker(SQL_DOUBLE),
       {false, SQL_DOUBLE, 8, 0, 0, Bytes(3.0)}},
      {"NULL into varchar(6)",
       std::monostate{},
       Marker(SQL_VARYING, 0, 6, 0),
       {true, SQL_VARYING, 6, 0, 0, ""}},
      {"NULL into an integer",
       std::monostate{},
       Marker(SQL_LONG, 0, 4),
       {true, SQL_LONG, 4, 0, 0, ""}},
      {"empty text is NULL",
       std::string(),
       Marker(SQL_VARYING, 0, 6, 0),
       {true, SQL_VARYING, 1, 0, 0, ""}},
      {"text cut to the column in Windows-1252",
       std::string("\xC3\x81"
                   "BCDEFGHIJ"),
       Marker(SQL_VARYING, 0, 6, 0),
       {false, SQL_VARYING, 6, 0, 0,
        Varying("\xC1"
                "BCDEF")}},
      {"text cut to a UTF-8 column by characters",
       std::string("\xC3\x81"
                   "BCDEFGHIJ"),
       Marker(SQL_TEXT, 0, 24, kFbCharsetUtf8),
       {false, SQL_VARYING, 7, 0, kFbCharsetUtf8,
        Varying("\xC3\x81"
                "BCDEF")}},
      {"text for an integer goes to the server as it is",
       std::string("12a"),
       Marker(SQL_LONG, 0, 4),
       {false, SQL_VARYING, 3, 0, 0, Varying("12a")}},
      {"empty text for an integer is not NULL",
       std::string(),
       Marker(SQL_LONG, 0, 4),
       {false, SQL_VARYING, 1, 0, 0, Varying("")}},
      {"date-time into a timestamp",
       When(),
       Marker(SQL_TIMESTAMP),
       {false, SQL_TIMESTAMP, 8, 0, 0, Timestamp(61099, 863999996)}},
      {"date-time into a date",
       When(),
       Marker(SQL_TYPE_DATE, 0, 4),
       {false, SQL_TYPE_DATE, 4, 0, 0, Bytes(int32_t{61099})}},
      {"date-time into a time",
       When(),
       Marker(SQL_TYPE_TIME, 0, 4),
       {false, SQL_TYPE_TIME, 4, 0, 0, Bytes(uint32_t{863999996})}},
      {"date-time into text",
       When(),
       Marker(SQL_VARYING, 0, 30, 0),
       {false, SQL_VARYING, 24, 0, 0, Varying("2026-02-28 23:59:59.9996")}},
      {"a day count into a date",
       int64_t{1},
       Marker(SQL_TYPE_DATE, 0, 4),
       {false, SQL_TYPE_DATE, 4, 0, 0, Bytes(int32_t{15019})}},
      {"a number into a boolean",
       int64_t{5},
       Marker(SQL_BOOLEAN, 0, 1),
       {false, SQL_BOOLEAN, 1, 0, 0, std::string(1, '\x01')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FbBound b = BindValue(c.value, c.marker, rules);
    EXPECT_EQ(b.null, c.expect.null);
    EXPECT_EQ(b.type, c.expect.type);
    EXPECT_EQ(b.length, c.expect.length);
    EXPECT_EQ(b.scale, c.expect.scale);
    EXPECT_EQ(b.charset, c.expect.charset);
    EXPECT_EQ(b.data, c.expect.data);
  }
}

TEST(StoreBinding, TextRulesCanBeTurnedOff) {
  FbTextRules rules;
  rules.empty_strings_to_null = false;
  rules.trim_to_length = false;
  const FbDesc varchar6 = Marker(SQL_VARYING, 0, 6, 0);
  EXPECT_EQ(BindValue(std::string(), varchar6, rules).data, Varying(""));
  EXPECT_FALSE(BindValue(std::string(), varchar6, rules).null);
  EXPECT_EQ(BindValue(std::string("ABCDEFGH"), varchar6, rules).data, Varying("ABCDEFGH"));
}

TEST(StoreBinding, ValuesTheMarkerCannotTakeAreConversionErrors) {
  const FbTextRules rules;
  struct Case {
    const char* name;
    TStoreField::Value value;
    FbDesc marker;
  } cases[] = {
      {"a date for a number", When(), Marker(SQL_INT64, -2)},
      {"money for a date", Money::FromInt(1), Marker(SQL_TYPE_DATE, 0, 4)},
      {"an integer beyond numeric(18,2)", int64_t{INT64_MAX / 10}, Marker(SQL_INT64, -2)},
      {"money beyond numeric(18,6)", Money::FromInt(922337203685477), Marker(SQL_INT64, -6)},
      {"a double beyond any integer", 1e300, Marker(SQL_INT64, -2)},
  };
  for (const Case& c : cases)
    EXPECT_THROW(BindValue(c.value, c.marker, rules), EConversionError) << c.name;
}

}  // namespace
}  // namespace zv
