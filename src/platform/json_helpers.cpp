#include "platform/json_helpers.h"

#include "base/text.h"

#include <cstdint>

#include "base/errors.h"

namespace zv {

JsonValue JsonValue::Null() {
  return JsonValue();
}

JsonValue JsonValue::Boolean(bool b) {
  JsonValue v;
  v.kind_ = Kind::Boolean;
  v.bool_ = b;
  return v;
}

JsonValue JsonValue::Number(std::string lexeme) {
  JsonValue v;
  v.kind_ = Kind::Number;
  v.text_ = std::move(lexeme);
  return v;
}

JsonValue JsonValue::String(std::string text) {
  JsonValue v;
  v.kind_ = Kind::String;
  v.text_ = std::move(text);
  return v;
}

JsonValue JsonValue::Array() {
  JsonValue v;
  v.kind_ = Kind::Array;
  return v;
}

JsonValue JsonValue::Object() {
  JsonValue v;
  v.kind_ = Kind::Object;
  return v;
}

size_t JsonValue::Count() const {
  return kind_ == Kind::Array ? items_.size() : kind_ == Kind::Object ? members_.size() : 0;
}

JsonValue& JsonValue::Append(JsonValue v) {
  items_.push_back(std::move(v));
  return items_.back();
}

void JsonValue::Reserve(size_t n) {
  if (kind_ == Kind::Array) items_.reserve(n);
  if (kind_ == Kind::Object) members_.reserve(n);
}

JsonValue& JsonValue::Add(std::string name, JsonValue v) {
  members_.push_back(JsonMember{std::move(name), std::move(v)});
  return members_.back().value;
}

JsonValue& JsonValue::operator[](std::string_view name) {
  if (kind_ == Kind::Null) kind_ = Kind::Object;
  for (JsonMember& m : members_) {
    if (m.name == name) return m.value;
  }
  return Add(std::string(name), JsonValue());
}

JsonValue JsonValue::Integer(int64_t n) {
  return Number(std::to_string(n));
}

const JsonValue* JsonValue::Find(std::string_view name) const {
  if (kind_ != Kind::Object) return nullptr;
  for (const JsonMember& m : members_) {
    if (m.name == name) return &m.value;
  }
  return nullptr;
}

const char* JsonKindName(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::Null:
      return "null";
    case JsonValue::Kind::Boolean:
      return "boolean";
    case JsonValue::Kind::Number:
      return "number";
    case JsonValue::Kind::String:
      return "string";
    case JsonValue::Kind::Array:
      return "array";
    case JsonValue::Kind::Object:
      return "object";
  }
  return "?";
}

// ---- Parser ----

namespace {

constexpr int kMaxDepth = 512;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Two passes over the text. The first checks it and counts the values, and the members or
// items of every object and array, building nothing, and gives up as soon as the count passes
// the bound; the second builds the tree with every list reserved at its final size, so the
// memory taken is the tree's own and no list ever holds a grown copy beside its old one.
class Parser {
 public:
  Parser(std::string_view s, size_t max_values) : s_(s), max_values_(max_values) {}

  // The first pass: whether the text is JSON within the bound.
  bool Check() {
    build_ = false;
    return Document(nullptr);
  }
  // The second pass, on a text Check accepted.
  bool Build(JsonValue& out) {
    build_ = true;
    pos_ = 0;
    values_ = 0;
    next_list_ = 0;
    return Document(&out);
  }
  bool TooManyValues() const { return too_many_; }

 private:
  bool Document(JsonValue* out) {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    SkipWs();
    if (!ParseValue(out, 0)) return false;
    SkipWs();
    return pos_ == s_.size();
  }

  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek() const { return s_[pos_]; }

  void SkipWs() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
      ++pos_;
  }

  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // `out` is nullptr in the first pass.
  bool ParseValue(JsonValue* out, int depth) {
    if (AtEnd()) return false;
    if (++values_ > max_values_) {
      too_many_ = true;
      return false;
    }
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth + 1);
      case '[':
        return ParseArray(out, depth + 1);
      case '"': {
        std::string& text = out ? text_ : scratch_;
        text.clear();
        if (!ParseString(text)) return false;
        if (out) *out = JsonValue::String(std::move(text));
        return true;
      }
      case 't':
        if (out) *out = JsonValue::Boolean(true);
        return Literal("true");
      case 'f':
        if (out) *out = JsonValue::Boolean(false);
        return Literal("false");
      case 'n':
        if (out) *out = JsonValue::Null();
        return Literal("null");
      default:
        return ParseNumber(out);
    }
  }

  // The first pass notes a list's length where the second finds it: lists are met in the same
  // order both times.
  size_t OpenList() {
    if (build_) return counts_[next_list_++];
    counts_.push_back(0);
    return counts_.size() - 1;
  }
  void CloseList(size_t slot, size_t count) {
    if (!build_) counts_[slot] = count;
  }

  bool ParseObject(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return false;
    ++pos_;  // '{'
    const size_t list = OpenList();
    if (out) {
      *out = JsonValue::Object();
      out->Reserve(list);
    }
    size_t count = 0;
    SkipWs();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipWs();
      if (AtEnd() || Peek() != '"') return false;
      std::string name;
      if (!ParseString(out ? name : scratch_)) return false;
      scratch_.clear();
      SkipWs();
      if (AtEnd() || Peek() != ':') return false;
      ++pos_;
      SkipWs();
      JsonValue* slot = out ? &out->Add(std::move(name), JsonValue()) : nullptr;
      if (!ParseValue(slot, depth)) return false;
      ++count;
      SkipWs();
      if (AtEnd()) return false;
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        CloseList(list, count);
        return true;
      }
      return false;
    }
  }

  bool ParseArray(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return false;
    ++pos_;  // '['
    const size_t list = OpenList();
    if (out) {
      *out = JsonValue::Array();
      out->Reserve(list);
    }
    size_t count = 0;
    SkipWs();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipWs();
      JsonValue* slot = out ? &out->Append(JsonValue()) : nullptr;
      if (!ParseValue(slot, depth)) return false;
      ++count;
      SkipWs();
      if (AtEnd()) return false;
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        CloseList(list, count);
        return true;
      }
      return false;
    }
  }

  bool ParseHex4(uint32_t& cp) {
    if (s_.size() - pos_ < 4) return false;
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      char c = s_[pos_++];
      cp <<= 4;
      if (c >= '0' && c <= '9')
        cp |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        cp |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        cp |= static_cast<uint32_t>(c - 'A' + 10);
      else
        return false;
    }
    return true;
  }

  // Bytes above 0x7F are taken as they come: an answer with a stray byte still parses, and
  // nothing of it is lost on the way to the log.
  bool ParseString(std::string& out) {
    ++pos_;  // opening quote
    for (;;) {
      if (AtEnd()) return false;
      char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (AtEnd()) return false;
      char e = s_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp;
          if (!ParseHex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            size_t save = pos_;
            if (s_.substr(pos_, 2) == "\\u") {
              pos_ += 2;
              if (!ParseHex4(low)) return false;
            }
            if (low >= 0xDC00 && low <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else {
              pos_ = save;
              cp = 0xFFFD;
            }
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return false;
      }
    }
  }

  bool ParseNumber(JsonValue* out) {
    size_t start = pos_;
    if (!AtEnd() && Peek() == '-') ++pos_;
    if (AtEnd() || !IsDigit(Peek())) return false;
    if (Peek() == '0') {
      ++pos_;
    } else {
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    if (!AtEnd() && Peek() == '.') {
      ++pos_;
      if (AtEnd() || !IsDigit(Peek())) return false;
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (AtEnd() || !IsDigit(Peek())) return false;
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    if (out) *out = JsonValue::Number(std::string(s_.substr(start, pos_ - start)));
    return true;
  }

  std::string_view s_;
  size_t pos_ = 0;
  const size_t max_values_;
  size_t values_ = 0;
  bool too_many_ = false;
  bool build_ = false;
  // The length of every object and array, in the order they open.
  std::vector<size_t> counts_;
  size_t next_list_ = 0;
  std::string text_;
  std::string scratch_;
};

[[noreturn]] void ThrowConversion(JsonValue::Kind from, const char* wanted) {
  throw EConversionError(std::string("Cannot read JSON ") + JsonKindName(from) + " as " + wanted);
}

const JsonValue& Required(const JsonValue& obj, std::string_view name) {
  const JsonValue* v = obj.Find(name);
  if (!v) throw EJSONException("Value '" + std::string(name) + "' not found");
  return *v;
}

// Reads exactly n digits at s[pos].
bool Digits(std::string_view s, size_t& pos, size_t n, int& out) {
  if (s.size() - pos < n) return false;
  out = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = s[pos + i];
    if (!IsDigit(c)) return false;
    out = out * 10 + (c - '0');
  }
  pos += n;
  return true;
}

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, size_t max_values, bool* too_many) {
  if (too_many) *too_many = false;
  Parser p(text, max_values);
  if (!p.Check()) {
    if (too_many) *too_many = p.TooManyValues();
    return std::nullopt;
  }
  JsonValue v;
  if (!p.Build(v)) return std::nullopt;
  return v;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
  return ParseJson(text, kJsonMaxValues, nullptr);
}

std::optional<JsonValue> ParseJsonAnswer(std::string_view text, std::string_view what) {
  bool too_many = false;
  std::optional<JsonValue> v = ParseJson(text, kJsonMaxValues, &too_many);
  if (too_many) {
    throw EConversionError(std::string(what) + ": more than " + std::to_string(kJsonMaxValues) +
                           " JSON values, far more than any real answer holds");
  }
  return v;
}

const std::vector<JsonValue>& BoundedItems(const JsonValue& list, size_t max_items,
                                           std::string_view what) {
  const std::vector<JsonValue>& items = AsArray(list).Items();
  if (items.size() > max_items) {
    throw EConversionError(std::string(what) + ": " + std::to_string(items.size()) +
                           " entries, more than the " + std::to_string(max_items) +
                           " one answer may hold");
  }
  return items;
}

std::string ValueAsText(const JsonValue& v) {
  switch (v.kind()) {
    case JsonValue::Kind::Null:
      return std::string();
    case JsonValue::Kind::Boolean:
      return v.BoolValue() ? "true" : "false";
    case JsonValue::Kind::Number:
    case JsonValue::Kind::String:
      return v.Text();
    default:
      ThrowConversion(v.kind(), "text");
  }
}

bool TryGetText(const JsonValue& obj, std::string_view name, std::string& out) {
  const JsonValue* v = obj.Find(name);
  if (!v || v->IsArray() || v->IsObject()) return false;
  out = ValueAsText(*v);
  return true;
}

bool TryGetArray(const JsonValue& obj, std::string_view name, const JsonValue*& out) {
  const JsonValue* v = obj.Find(name);
  if (!v || !v->IsArray()) return false;
  out = v;
  return true;
}

bool TryGetObject(const JsonValue& obj, std::string_view name, const JsonValue*& out) {
  const JsonValue* v = obj.Find(name);
  if (!v || !v->IsObject()) return false;
  out = v;
  return true;
}

std::string GetText(const JsonValue& obj, std::string_view name) {
  return ValueAsText(Required(obj, name));
}

DateTime GetDate(const JsonValue& obj, std::string_view name) {
  const JsonValue& v = Required(obj, name);
  if (v.kind() != JsonValue::Kind::String) ThrowConversion(v.kind(), "date");
  return ParseISO8601(v.Text());
}

const JsonValue& AsObject(const JsonValue& v) {
  if (!v.IsObject()) ThrowConversion(v.kind(), "object");
  return v;
}

const JsonValue& AsArray(const JsonValue& v) {
  if (!v.IsArray()) ThrowConversion(v.kind(), "array");
  return v;
}

DateTime ParseISO8601(std::string_view text) {
  auto fail = [&]() -> DateTime {
    throw EConversionError("'" + std::string(text) + "' is not a valid ISO 8601 date");
  };
  size_t pos = 0;
  int year, month, day;
  if (!Digits(text, pos, 4, year) || pos >= text.size() || text[pos++] != '-' ||
      !Digits(text, pos, 2, month) || pos >= text.size() || text[pos++] != '-' ||
      !Digits(text, pos, 2, day))
    return fail();
  int hour = 0, minute = 0, second = 0, micro = 0;
  int64_t offset_minutes = 0;
  bool has_zone = false;
  if (pos < text.size()) {
    if (text[pos] != 'T' && text[pos] != 't' && text[pos] != ' ') return fail();
    ++pos;
    if (!Digits(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':' ||
        !Digits(text, pos, 2, minute))
      return fail();
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!Digits(text, pos, 2, second)) return fail();
      if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        int scale = 100000;
        size_t first = pos;
        while (pos < text.size() && IsDigit(text[pos])) {
          micro += (text[pos] - '0') * scale;
          scale /= 10;
          ++pos;
        }
        if (pos == first) return fail();
      }
    }
    if (pos < text.size()) {
      has_zone = true;
      char z = text[pos++];
      if (z == 'Z' || z == 'z') {
        offset_minutes = 0;
      } else if (z == '+' || z == '-') {
        int oh = 0, om = 0;
        if (!Digits(text, pos, 2, oh)) return fail();
        if (pos < text.size()) {
          if (text[pos] == ':') ++pos;
          if (!Digits(text, pos, 2, om)) return fail();
        }
        if (oh > 23 || om > 59) return fail();
        offset_minutes = (oh * 60 + om) * (z == '-' ? -1 : 1);
      } else {
        return fail();
      }
      if (pos != text.size()) return fail();
    }
  }
  DateTime local;
  try {
    local = DateTime::FromParts(year, month, day, hour, minute, second, micro);
  } catch (const EConversionError&) {
    return fail();
  }
  return has_zone ? local.AddMinutes(-offset_minutes) : local;
}

}  // namespace zv
