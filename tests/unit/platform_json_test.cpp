#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/json_helpers.h"
#include "platform/json_writer.h"

namespace zv {
namespace {

TEST(PlatformJson, RejectsWhatIsNotJson) {
  for (const char* text :
       {"",         "   ",     "{",     "[1,]",      "{\"a\":1,}",    "{'a':1}", "01",
        "1.",       ".5",      "-",     "1e",        "tru",           "nul",     "\"abc",
        "\"a\tb\"", "\"\\x\"", "[1] 2", "{\"a\" 1}", "<html></html>", "NaN"}) {
    EXPECT_FALSE(ParseJson(text).has_value()) << text;
  }
  EXPECT_FALSE(ParseJson(std::string(600, '[') + std::string(600, ']')).has_value());
  EXPECT_TRUE(ParseJson(std::string(500, '[') + std::string(500, ']')).has_value());
}

// The bound on what one parse builds: counted before anything is built, told apart from a
// text that is not JSON.
TEST(PlatformJson, AParseBuildsAtMostItsBoundOfValues) {
  struct Case {
    const char* text;
    bool parsed;
    bool too_many;
  };
  const std::vector<Case> cases = {
      {"[1,2,3,4]", true, false},               // the array and four numbers: five
      {R"({"a":1,"b":[2,"x"]})", true, false},  // members count by their values
      {"[1,2,3,4,5]", false, true},
      {R"([{},{},{},{},{}])", false, true},
      {R"({"a":{"b":{"c":{"d":{"e":1}}}}})", false, true},
      {"[1,2", false, false},       // not JSON, and within the bound
      {"[1,2,3,4,5", false, true},  // the count passes the bound first
  };
  for (const Case& c : cases) {
    bool too_many = !c.too_many;
    EXPECT_EQ(ParseJson(c.text, 5, &too_many).has_value(), c.parsed) << c.text;
    EXPECT_EQ(too_many, c.too_many) << c.text;
  }
  // Lists reserved at their final size hold what a grown list would.
  const std::optional<JsonValue> v = ParseJson(R"({"a":[1,[],{"b":"c"}],"d":{}})", 9, nullptr);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Members().size(), 2u);
  EXPECT_EQ(v->Find("a")->Items().size(), 3u);
  EXPECT_EQ(v->Find("a")->Items()[2].Find("b")->Text(), "c");
  EXPECT_EQ(v->Find("d")->Count(), 0u);
}

TEST(PlatformJson, AnAnswerOverTheBoundIsAClearErrorAndAListOverItsLengthToo) {
  std::string at_bound = "[0";
  for (size_t i = 2; i < kJsonMaxValues; ++i) at_bound += ",0";
  at_bound += "]";
  const std::optional<JsonValue> full = ParseJsonAnswer(at_bound, "list");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->Items().size(), kJsonMaxValues - 1);
  EXPECT_FALSE(ParseJson(at_bound.substr(0, at_bound.size() - 1) + ",0]").has_value());
  try {
    ParseJsonAnswer(at_bound.substr(0, at_bound.size() - 1) + ",0]", "resend request list");
    ADD_FAILURE() << "no error";
  } catch (const EConversionError& e) {
    EXPECT_STREQ(e.what(),
                 "resend request list: more than 1000000 JSON values, far more than any real "
                 "answer holds");
  }
  // Not JSON stays no value.
  EXPECT_FALSE(ParseJsonAnswer("<html>", "list").has_value());

  const JsonValue three = *ParseJson("[{},{},{}]");
  EXPECT_EQ(BoundedItems(three, 3, "list").size(), 3u);
  try {
    BoundedItems(three, 2, "resend request list MOVIMIENTOS");
    ADD_FAILURE() << "no error";
  } catch (const EConversionError& e) {
    EXPECT_STREQ(e.what(),
                 "resend request list MOVIMIENTOS: 3 entries, more than the 2 one answer may hold");
  }
  EXPECT_THROW(BoundedItems(*ParseJson("{}"), 2, "list"), EConversionError);
}

TEST(PlatformJson, NumbersKeepTheirText) {
  auto v = ParseJson(R"({"a":123,"b":-0,"c":1.50,"d":1E+2,"e":12345678901234567890123,"f":0.1})");
  ASSERT_TRUE(v);
  std::string text;
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"a", "123"}, {"b", "-0"}, {"c", "1.50"}, {"d", "1E+2"}, {"e", "12345678901234567890123"},
      {"f", "0.1"}};
  for (const auto& [name, digits] : expected) {
    ASSERT_TRUE(TryGetText(*v, name, text)) << name;
    EXPECT_EQ(text, digits) << name;
  }
}

TEST(PlatformJson, StringsAreUnescapedToUtf8) {
  auto v = ParseJson(
      "\xEF\xBB\xBF"
      R"(["a\"b\\c\/d\b\f\n\r\t", "\u00e7\u00C3", "\ud83d\ude00",
                     "\udc00x", "caf)"
      "\xC3\xA9"
      R"("])");
  ASSERT_TRUE(v);
  ASSERT_EQ(v->Count(), 5u);
  EXPECT_EQ(v->Items()[0].Text(), "a\"b\\c/d\b\f\n\r\t");
  EXPECT_EQ(v->Items()[1].Text(), "\xC3\xA7\xC3\x83");
  EXPECT_EQ(v->Items()[2].Text(), "\xF0\x9F\x98\x80");
  EXPECT_EQ(v->Items()[3].Text(), "\xEF\xBF\xBDx");  // a lone surrogate cannot be written
  EXPECT_EQ(v->Items()[4].Text(), "caf\xC3\xA9");
}

TEST(PlatformJson, MembersKeepTheirOrderAndTheFirstOfTwoNamesWins) {
  auto v = ParseJson(R"({"z":1,"a":2,"z":3})");
  ASSERT_TRUE(v);
  ASSERT_EQ(v->Members().size(), 3u);
  EXPECT_EQ(v->Members()[0].name, "z");
  EXPECT_EQ(v->Members()[1].name, "a");
  EXPECT_EQ(GetText(*v, "z"), "1");
}

TEST(PlatformJson, TryGetAnswersByKind) {
  auto v = ParseJson(
      R"({"n":17,"s":"x","t":true,"f":false,"z":null,"o":{"k":1},"a":[1],"e":[],"eo":{}})");
  ASSERT_TRUE(v);
  std::string text = "unchanged";
  const JsonValue* found = nullptr;

  struct TextCase {
    const char* name;
    bool found;
    const char* text;
  };
  for (const TextCase& c : std::vector<TextCase>{{"n", true, "17"},
                                                 {"s", true, "x"},
                                                 {"t", true, "true"},
                                                 {"f", true, "false"},
                                                 {"z", true, ""},
                                                 {"o", false, ""},
                                                 {"a", false, ""},
                                                 {"missing", false, ""},
                                                 {"N", false, ""}}) {
    text = "unchanged";
    EXPECT_EQ(TryGetText(*v, c.name, text), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(text, c.text) << c.name;
    }
  }

  EXPECT_TRUE(TryGetArray(*v, "a", found));
  EXPECT_EQ(found, v->Find("a"));
  EXPECT_TRUE(TryGetArray(*v, "e", found));
  for (const char* name : {"n", "s", "z", "o", "missing"}) {
    EXPECT_FALSE(TryGetArray(*v, name, found)) << name;
  }
  EXPECT_TRUE(TryGetObject(*v, "o", found));
  EXPECT_EQ(GetText(*found, "k"), "1");
  EXPECT_TRUE(TryGetObject(*v, "eo", found));
  for (const char* name : {"n", "s", "z", "a", "missing"}) {
    EXPECT_FALSE(TryGetObject(*v, name, found)) << name;
  }

  // A lookup on something that is no object finds nothing.
  EXPECT_FALSE(TryGetText(*ParseJson("[1]"), "0", text));
}

TEST(PlatformJson, GetRaisesWithTheMessagesTheLogsShow) {
  auto v = ParseJson(R"({"o":{},"a":[],"n":5,"d":"2024-13-01"})");
  ASSERT_TRUE(v);
  try {
    GetText(*v, "tipo");
    FAIL();
  } catch (const EJSONException& e) {
    EXPECT_STREQ(e.what(), "Value 'tipo' not found");
  }
  try {
    GetText(*v, "o");
    FAIL();
  } catch (const EConversionError& e) {
    EXPECT_STREQ(e.what(), "Cannot read JSON object as text");
  }
  try {
    GetDate(*v, "n");
    FAIL();
  } catch (const EConversionError& e) {
    EXPECT_STREQ(e.what(), "Cannot read JSON number as date");
  }
  EXPECT_THROW(GetDate(*v, "d"), EConversionError);
  EXPECT_THROW(GetDate(*v, "fecha"), EJSONException);
  try {
    AsObject(*v->Find("a"));
    FAIL();
  } catch (const EConversionError& e) {
    EXPECT_STREQ(e.what(), "Cannot read JSON array as object");
  }
}

// The service's own JSON (the -STATUS -JSON report): built a member at a time, written in
// the order built, always valid JSON even from text that is not UTF-8, and read back whole.
TEST(PlatformJson, AValueBuiltByMembersIsWrittenInOrderAndReadsBack) {
  JsonValue j = JsonValue::Object();
  j["next_job"] = JsonValue::Null();
  j["store"]["path"] = JsonValue::String("C:/Loja/\"dados\".fdb");
  j["store"]["connected"] = JsonValue::Boolean(false);
  j["next_job"] = JsonValue::String("EnviarVendasZentrovia");  // set again: keeps its place
  JsonValue& errors = j["last_errors"] = JsonValue::Array();
  errors.Append(JsonValue::Integer(-7));
  errors.Append(JsonValue::String("Servi\xe7o\ttravado"));  // a Windows-1252 byte, a tab
  j["empty"] = JsonValue::Object();

  const std::string compact = WriteJson(j);
  EXPECT_EQ(compact,
            "{\"next_job\":\"EnviarVendasZentrovia\","
            "\"store\":{\"path\":\"C:/Loja/\\\"dados\\\".fdb\",\"connected\":false},"
            "\"last_errors\":[-7,\"Servi\xef\xbf\xbdo\\ttravado\"],\"empty\":{}}");
  EXPECT_EQ(WriteJson(j["store"], 2),
            "{\n  \"path\": \"C:/Loja/\\\"dados\\\".fdb\",\n  \"connected\": false\n}");

  const std::optional<JsonValue> back = ParseJson(WriteJson(j, 2));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(WriteJson(*back), compact);
}

TEST(PlatformJson, DatesInIso8601) {
  struct Case {
    const char* text;
    DateTime expected;
  };
  const std::vector<Case> cases = {
      {"2024-01-31", DateTime::FromParts(2024, 1, 31)},
      {"2024-01-31T10:20", DateTime::FromParts(2024, 1, 31, 10, 20)},
      {"2024-01-31T10:20:30", DateTime::FromParts(2024, 1, 31, 10, 20, 30)},
      {"2024-01-31T10:20:30.5", DateTime::FromParts(2024, 1, 31, 10, 20, 30, 500000)},
      {"2024-01-31T10:20:30.123456789", DateTime::FromParts(2024, 1, 31, 10, 20, 30, 123456)},
      {"2024-01-31T10:20:30Z", DateTime::FromParts(2024, 1, 31, 10, 20, 30)},
      {"2024-01-31T22:00:00-03:00", DateTime::FromParts(2024, 2, 1, 1, 0, 0)},
      {"2024-01-31T01:00:00+0200", DateTime::FromParts(2024, 1, 30, 23, 0, 0)},
      {"2024-01-31T01:00:00.000+02", DateTime::FromParts(2024, 1, 30, 23, 0, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseISO8601(c.text), c.expected) << c.text;
  }
  for (const char* bad : {"", "31/01/2024", "2024-1-31", "2024-02-30", "2024-01-31T",
                          "2024-01-31T25:00", "2024-01-31T10:20:30.", "2024-01-31T10:20:30+3",
                          "2024-01-31 x", "2024-01-31T10:20:30Zjunk"}) {
    EXPECT_THROW(ParseISO8601(bad), EConversionError) << bad;
  }
}

TEST(PlatformJson, FreeJsonArrayObjsReleasesInOrderAndEmptiesTheList) {
  std::vector<int> released;
  struct Tracked {
    std::vector<int>* log;
    int id;
    ~Tracked() { log->push_back(id); }
  };
  std::vector<std::unique_ptr<Tracked>> list;
  for (int i = 0; i < 3; ++i) list.push_back(std::make_unique<Tracked>(Tracked{&released, i}));
  released.clear();  // the temporaries above
  FreeJsonArrayObjs(list);
  EXPECT_EQ(released, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(list.empty());
  FreeJsonArrayObjs(list);  // a second release finds nothing
  EXPECT_EQ(released.size(), 3u);

  std::vector<JsonValue> values{JsonValue::Object(), JsonValue::String("x")};
  FreeJsonArrayObjs(values);
  EXPECT_TRUE(values.empty());
}

}  // namespace
}  // namespace zv
