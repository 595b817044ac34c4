#pragma once
// The parsed form of the platform's answers and the typed member lookups the jobs use on it.
//
// Numbers keep the text they were written with: the log shows a number such as 1.50 or 1E2
// exactly as the platform sent it, and no value passes through a double on the way.
// Parsing never throws: a text that is not JSON gives no value.
//
// Why a reader of our own rather than the SAX reader of nlohmann/json: the
// library's reader hands a fractional number over with its text as written ("1.50" stays
// "1.50"), so keeping numbers is not the reason; neither is "00123", which is not JSON and
// which this reader refuses too. The reasons are what the library would refuse or lose:
//  - a lone surrogate in a \u escape fails the library's whole parse, so one odd character in
//    a message would turn an answer that carries the platform's verdict into "not JSON" and the
//    document would be posted again and again; here it becomes U+FFFD and the answer is read;
//  - integers reach the library's handler as values, not text ("-0" arrives as 0);
//  - the bound on the values one parse builds (kJsonMaxValues) is counted where they are built,
//    before anything is allocated for them.
// Stray text after the document and nesting deeper than 512 levels give no value
// (tests/unit/platform_json_test.cpp). Every prefix of an answer gives a result or no value,
// never a crash (tests/unit/platform_error_interpretation_test.cpp), and any bytes at all are
// read by the fuzz target tests/fuzz/json_reader_fuzz.cpp.

#include <cstddef>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"

namespace zv {

struct JsonMember;

class JsonValue {
 public:
  enum class Kind { Null, Boolean, Number, String, Array, Object };

  JsonValue() = default;
  static JsonValue Null();
  static JsonValue Boolean(bool b);
  // `lexeme` must be a JSON number as written (not checked here).
  static JsonValue Number(std::string lexeme);
  static JsonValue String(std::string text);
  static JsonValue Array();
  static JsonValue Object();
  // A whole number.
  static JsonValue Integer(int64_t n);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsArray() const { return kind_ == Kind::Array; }
  bool IsObject() const { return kind_ == Kind::Object; }
  bool BoolValue() const { return bool_; }
  // The text of a string, or the lexeme of a number.
  const std::string& Text() const { return text_; }
  const std::vector<JsonValue>& Items() const { return items_; }
  const std::vector<JsonMember>& Members() const { return members_; }
  size_t Count() const;

  // Building (used by the parser; handy for tests and documents).
  JsonValue& Append(JsonValue v);
  // Room for n items (an array) or members (an object).
  void Reserve(size_t n);
  JsonValue& Add(std::string name, JsonValue v);
  // The member of this name, added as null when there is none; a null value becomes an
  // empty object first. For building nested objects a member at a time.
  JsonValue& operator[](std::string_view name);

  // The first member with this exact name, or nullptr (also when this is no object).
  const JsonValue* Find(std::string_view name) const;

 private:
  Kind kind_ = Kind::Null;
  bool bool_ = false;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<JsonMember> members_;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// Name of a kind as the conversion errors show it: "null", "boolean", "number", "string",
// "array", "object".
const char* JsonKindName(JsonValue::Kind kind);

// The most values (objects, arrays, strings, numbers, literals; members by their values) one
// parse builds. A parsed value takes about 90 bytes, a member 120, and a text can hold one value
// in every two bytes ("[0,0,0"), so the platform's 32 MiB answer cap alone would let one answer
// take a few GB; this bound keeps a tree within about 120 MB. A real answer holds a small part
// of it: a promotion with 200 articles holds some 700 values, a resend request 4.
inline constexpr size_t kJsonMaxValues = 1'000'000;

// Strict JSON (RFC 8259); a leading UTF-8 byte order mark is skipped. Nothing for an empty
// text, for invalid JSON, for nesting deeper than 512 levels or for more than kJsonMaxValues
// values (found before anything is built).
std::optional<JsonValue> ParseJson(std::string_view text);
// The same with a bound of `max_values`; `too_many` tells whether that bound was the reason for
// giving nothing.
std::optional<JsonValue> ParseJson(std::string_view text, size_t max_values, bool* too_many);
// An answer of the platform: as ParseJson, but more than kJsonMaxValues values raise
// EConversionError "<what>: more than 1000000 JSON values, ..." instead of giving nothing, so
// that an answer too large is never taken for one that is not JSON.
std::optional<JsonValue> ParseJsonAnswer(std::string_view text, std::string_view what);

// The most requests one resend request list may hold: years of days for every till.
inline constexpr size_t kMaxResendRequests = 10'000;

// The items of a list answer: EConversionError when `list` is no array, and
// "<what>: N entries, more than the M one answer may hold" when it has more than `max_items`.
const std::vector<JsonValue>& BoundedItems(const JsonValue& list, size_t max_items,
                                           std::string_view what);

// ---- Typed lookups on an object ----
// Text: a string gives its text, a number its digits as written, true/false "true"/"false",
// null an empty text; an array or object cannot be read as text.
// Array/object: the member must be exactly that kind (null is not).
// TryGet answers false for a missing member, for one of another kind and when `obj` is no
// object; it never throws. The pointers stay owned by the parsed document.
bool TryGetText(const JsonValue& obj, std::string_view name, std::string& out);
bool TryGetArray(const JsonValue& obj, std::string_view name, const JsonValue*& out);
bool TryGetObject(const JsonValue& obj, std::string_view name, const JsonValue*& out);

// Get throws EJSONException "Value '<name>' not found" for a missing member and
// EConversionError naming the member's kind and the wanted type for one of another kind.
std::string GetText(const JsonValue& obj, std::string_view name);
// An ISO 8601 text: "yyyy-mm-dd" gives that day at 00:00; a date with a time gives that
// date-time, moved to UTC when the text carries a zone ("Z", "+hh:mm", "-hhmm", "+hh").
DateTime GetDate(const JsonValue& obj, std::string_view name);

// The value itself taken as an object or array: EConversionError when it is another kind.
const JsonValue& AsObject(const JsonValue& v);
const JsonValue& AsArray(const JsonValue& v);

// The value of a text as text (same rule as TryGetText); EConversionError for an array or object.
std::string ValueAsText(const JsonValue& v);

// Parses an ISO 8601 date or date-time (see GetDate); EConversionError when it is not one.
DateTime ParseISO8601(std::string_view text);

// Releases the JSON objects of a list in index order, then leaves the list empty. Works for
// any element type whose default value owns nothing (JsonValue, smart pointers, other JSON
// trees); a second call on the emptied list does nothing.
template <class T>
void FreeJsonArrayObjs(std::vector<T>& Arr) {
  for (T& obj : Arr) obj = T();
  Arr.clear();
}

}  // namespace zv
