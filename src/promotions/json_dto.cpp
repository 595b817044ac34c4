// The JSON mapping base of the promotion document: key matching, the value rules and the
// compact writer.

#include "promotions/json_dto.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "base/errors.h"
#include "base/text.h"
#include "platform/json_writer.h"

namespace zv {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A value in a message: long texts cut (at a character boundary), control characters escaped,
// so that a message stays one readable log line whatever the platform sent.
std::string Shown(std::string_view s) {
  constexpr size_t kMax = 40;
  if (s.size() <= kMax) return std::string(s);
  size_t n = kMax;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return std::string(s.substr(0, n)) + "...";
}

std::string Describe(const JsonValue& v) {
  switch (v.kind()) {
    case JsonValue::Kind::Null:
      return "null";
    case JsonValue::Kind::Boolean:
      return v.BoolValue() ? "true" : "false";
    case JsonValue::Kind::Number:
      return "number " + Shown(v.Text());
    case JsonValue::Kind::String:
      return "text " + WriteJson(JsonValue::String(Shown(v.Text())));
    case JsonValue::Kind::Array:
      return "a list";
    case JsonValue::Kind::Object:
      return "an object";
  }
  return "?";
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw EConversionError(path.empty() ? what : path + ": " + what);
}

[[noreturn]] void FailValue(const JsonValue& v, const std::string& path, const char* what) {
  Fail(path, Describe(v) + " " + what);
}

// A JSON number as digits and a power of ten: value = digits * 10^exponent.
struct Decimal {
  bool negative = false;
  std::string digits;  // no leading or trailing zeros; empty for zero
  int64_t exponent = 0;
};

bool ParseDecimal(std::string_view s, Decimal& d) {
  // Exponents beyond this give zero or overflow whatever the digits; capping keeps the sums
  // below in range.
  constexpr int64_t kExponentCap = 1'000'000'000'000LL;
  size_t i = 0;
  if (i < s.size() && s[i] == '-') {
    d.negative = true;
    ++i;
  }
  const size_t int_start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  if (i == int_start) return false;
  std::string all(s.substr(int_start, i - int_start));
  int64_t fraction_digits = 0;
  if (i < s.size() && s[i] == '.') {
    const size_t start = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == start) return false;
    all.append(s.substr(start, i - start));
    fraction_digits = static_cast<int64_t>(i - start);
  }
  int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative_exponent = s[i++] == '-';
    const size_t start = i;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (s[i] - '0');
    }
    if (i == start) return false;
    if (negative_exponent) exponent = -exponent;
  }
  if (i != s.size()) return false;
  d.exponent = exponent - fraction_digits;
  const size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) {
    d.exponent = 0;
    return true;
  }
  const size_t last = all.find_last_not_of('0');
  d.exponent += static_cast<int64_t>(all.size() - 1 - last);
  d.digits = all.substr(first, last - first + 1);
  return true;
}

Decimal NumberOf(const JsonValue& v, const std::string& path, const char* what) {
  Decimal d;
  if (v.kind() != JsonValue::Kind::Number || !ParseDecimal(v.Text(), d)) FailValue(v, path, what);
  return d;
}

}  // namespace

// ---- Key matching ----

int MatchField(std::span<const DtoField> fields, std::string_view key) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!fields[i].json_name.empty() && fields[i].json_name == key) return static_cast<int>(i);
  }
  auto by_name = [&](auto&& same) {
    for (size_t i = 0; i < fields.size(); ++i) {
      const DtoField& f = fields[i];
      if (f.json_name.empty() && !f.not_written && same(f.name)) return static_cast<int>(i);
    }
    return -1;
  };
  int found = by_name([&](std::string_view name) {
    return !name.empty() && AsciiLowerChar(name[0]) == 'f' &&
           EqualsIgnoreAsciiCase(name.substr(1), key);
  });
  if (found < 0)
    found = by_name([&](std::string_view name) { return EqualsIgnoreAsciiCase(name, key); });
  return found;
}

std::string OutputKey(const DtoField& field) {
  if (!field.json_name.empty()) return std::string(field.json_name);
  std::string key(field.name.substr(field.name.starts_with('F') ? 1 : 0));
  if (!key.empty()) key[0] = AsciiLowerChar(key[0]);
  return key;
}

std::vector<MatchedMember> MatchMembers(std::span<const DtoField> fields, const JsonValue& obj) {
  const std::vector<JsonMember>& members = obj.Members();
  std::vector<size_t> last(fields.size(), members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    const int f = MatchField(fields, members[i].name);
    if (f >= 0) last[static_cast<size_t>(f)] = i;
  }
  std::vector<std::pair<size_t, int>> order;  // (member, field)
  for (size_t f = 0; f < fields.size(); ++f) {
    if (last[f] < members.size()) order.emplace_back(last[f], static_cast<int>(f));
  }
  std::sort(order.begin(), order.end());
  std::vector<MatchedMember> out;
  for (const auto& [member, field] : order) {
    out.push_back(MatchedMember{field, &members[member].value, members[member].name});
  }
  return out;
}

std::string MemberPath(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

// ---- Strict values ----

int32_t ReadInteger(const JsonValue& v, const std::string& path) {
  if (v.IsNull()) return 0;
  const Decimal d = NumberOf(v, path, "is not an integer");
  if (d.digits.empty()) return 0;
  if (d.exponent < 0) FailValue(v, path, "is not a whole number");
  if (static_cast<int64_t>(d.digits.size()) + d.exponent > 10) {
    FailValue(v, path, "does not fit in 32 bits");
  }
  int64_t value = 0;
  for (char c : d.digits) value = value * 10 + (c - '0');
  for (int64_t e = 0; e < d.exponent; ++e) value *= 10;
  if (d.negative) value = -value;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    FailValue(v, path, "does not fit in 32 bits");
  }
  return static_cast<int32_t>(value);
}

Money ReadMoney(const JsonValue& v, const std::string& path) {
  if (v.IsNull()) return Money();
  const Decimal d = NumberOf(v, path, "is not a number");
  if (d.digits.empty()) return Money();
  // Ten-thousandths: the digits shifted four places, the dropped tail rounded.
  const int64_t shift = d.exponent + 4;
  const int64_t size = static_cast<int64_t>(d.digits.size());
  const int64_t kept = std::min(size, size + shift);
  if (kept + std::max<int64_t>(shift, 0) > 19) FailValue(v, path, "is beyond the money range");
  uint64_t magnitude = 0;  // at most 10^19, which uint64_t holds
  for (int64_t i = 0; i < kept; ++i)
    magnitude = magnitude * 10 + static_cast<uint64_t>(d.digits[i] - '0');
  for (int64_t e = 0; e < shift; ++e) magnitude *= 10;
  if (kept >= 0 && kept < size && d.digits[static_cast<size_t>(kept)] >= '5') ++magnitude;
  // Symmetric: the most negative count has no positive twin, and a sign change on it overflows.
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    FailValue(v, path, "is beyond the money range");
  }
  const auto raw = static_cast<int64_t>(magnitude);
  return Money::FromRaw(d.negative ? -raw : raw);
}

std::string ReadText(const JsonValue& v, const std::string& path) {
  if (v.IsNull()) return std::string();
  if (v.kind() != JsonValue::Kind::String) FailValue(v, path, "is not a text");
  return v.Text();
}

DateTime ReadDate(const JsonValue& v, const std::string& path) {
  if (v.IsNull()) return DateTime();
  if (v.kind() != JsonValue::Kind::String) FailValue(v, path, "is not a date");
  if (v.Text().empty()) return DateTime();
  DateTime d;
  try {
    d = ParseISO8601(v.Text());
  } catch (const EConversionError&) {
    FailValue(v, path, "is not an ISO 8601 date");
  }
  const int year = d.Parts().year;
  if (year < 1 || year > 9999) FailValue(v, path, "is out of the date range");
  return d;
}

std::vector<std::string> ReadTextList(const JsonValue& v, const std::string& path) {
  std::vector<std::string> out;
  const JsonValue* array = ReadArrayValue(v, path);
  if (!array) return out;
  for (size_t i = 0; i < array->Items().size(); ++i) {
    const JsonValue& element = array->Items()[i];
    if (element.kind() != JsonValue::Kind::String) {
      FailValue(element, path + "[" + std::to_string(i) + "]", "is not a text");
    }
    out.push_back(element.Text());
  }
  return out;
}

const JsonValue* ReadObjectValue(const JsonValue& v, const std::string& path) {
  if (v.IsNull()) return nullptr;
  if (!v.IsObject()) FailValue(v, path, "is not an object");
  return &v;
}

const JsonValue* ReadArrayValue(const JsonValue& v, const std::string& path) {
  if (v.IsNull()) return nullptr;
  if (!v.IsArray()) FailValue(v, path, "is not a list");
  return &v;
}

const JsonValue& ReadElementObject(const JsonValue& v, const std::string& path) {
  if (!v.IsObject()) FailValue(v, path, "is not an object");
  return v;
}

void FailListKey(std::string_view key, const DtoField& field, const std::string& path) {
  Fail(MemberPath(path, key), "this list is read only under the key \"" + OutputKey(field) + "\"");
}

// ---- Lenient values ----

bool TryReadInteger(const JsonValue& v, int32_t& out) {
  try {
    out = ReadInteger(v, std::string());
    return true;
  } catch (const EConversionError&) {
    return false;
  }
}

bool TryReadText(const JsonValue& v, std::string& out) {
  if (v.IsNull()) {
    out.clear();
    return true;
  }
  if (v.kind() != JsonValue::Kind::String) return false;
  out = v.Text();
  return true;
}

// ---- Output ----

JsonValue IntegerToJson(int32_t v) {
  return JsonValue::Number(std::to_string(v));
}

JsonValue MoneyToJson(Money v) {
  return JsonValue::Number(v.ToJson());
}

JsonValue DateToJson(DateTime v) {
  if (v.IsZero()) return JsonValue::String("");
  const DateParts p = v.Parts();
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day,
                        p.hour, p.minute, p.second);
  if (p.microsecond != 0) {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%06d", p.microsecond);
  }
  return JsonValue::String(std::string(buf) + "Z");
}

JsonValue TextListToJson(const std::vector<std::string>& texts) {
  JsonValue out = JsonValue::Array();
  for (const std::string& t : texts) out.Append(JsonValue::String(t));
  return out;
}

// ---- The base ----

void TJsonDTO::ReadObject(const JsonValue& obj, const std::string& path) {
  ReadMembers(*this, Fields(), obj, path);
}

bool TJsonDTO::OfferArray(std::string_view name, const JsonValue& array) {
  const std::span<const DtoField> fields = Fields();
  const int f = MatchField(fields, name);
  if (f < 0) return true;
  try {
    if (fields[f].list) FailListKey(name, fields[f], std::string());
    ReadField(f, array, OutputKey(fields[f]));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void TJsonDTO::SetAsJson(std::string_view text) {
  const std::optional<JsonValue> value = ParseJson(text);
  if (!value) return;
  if (value->IsObject()) {
    ReadObject(*value, std::string());
    return;
  }
  if (value->IsArray() && (OfferArray("Items", *value) || OfferArray("Results", *value))) return;
  if (value->IsNull()) return;
  throw EConversionError("The input value is not a valid Object");
}

}  // namespace zv
