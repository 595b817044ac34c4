#pragma once
// The base of the data objects that read and write themselves as JSON text (the promotion
// document), the rule by which a member key finds its field, and the value rules the promotion
// classes read with.
//
// Reading is strict for the members the import writes into the store: a value of the wrong
// kind, a fraction where a whole number belongs, an amount beyond what Money holds, a date that
// is not ISO 8601 all raise EConversionError naming the member. Members nothing writes are read
// leniently (a value they cannot take leaves them as they were), so a platform that fills them
// differently never costs a promotion.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "base/money.h"
#include "platform/json_helpers.h"
#include "platform/json_writer.h"

namespace zv {

// One field of a data object as the key matching sees it.
struct DtoField {
  std::string_view name;       // "FItems"
  std::string_view json_name;  // explicit JSON name, matched exactly ("items"); empty when none
  bool not_written = false;    // left out on output (the array side of a list)
  bool list = false;           // the owning side of a list: it cannot be given on input
  bool lenient = false;        // a value it cannot take is skipped instead of raising
};

// Entries of a field table.
enum class Reading { Strict, Lenient };
constexpr DtoField Field(std::string_view name, Reading r = Reading::Strict) {
  return DtoField{name, {}, false, false, r == Reading::Lenient};
}
constexpr DtoField NamedField(std::string_view name, std::string_view json_name) {
  return DtoField{name, json_name, false, false, false};
}
// The two sides of a list: the array that input fills (under its exact name, never written) and
// the owning list that output writes.
constexpr DtoField ArrayField(std::string_view name, std::string_view json_name,
                              Reading r = Reading::Strict) {
  return DtoField{name, json_name, true, false, r == Reading::Lenient};
}
constexpr DtoField ListField(std::string_view name, Reading r = Reading::Strict) {
  return DtoField{name, {}, false, true, r == Reading::Lenient};
}

// The field a member key reaches, or -1: first the field whose explicit JSON name equals the key
// exactly; otherwise the field named "F" + key, otherwise the one named like the key, both
// without regard to letter case and only when that field has no explicit name and is written.
int MatchField(std::span<const DtoField> fields, std::string_view key);

// The key a field is written under: its explicit name, or its name without the "F" and with the
// first letter in lower case.
std::string OutputKey(const DtoField& field);

// The members of `obj` that reach a field, one per field (a key given twice counts once, by its
// last value), in the document order of those last values.
struct MatchedMember {
  int field;
  const JsonValue* value;
  std::string_view key;
};
std::vector<MatchedMember> MatchMembers(std::span<const DtoField> fields, const JsonValue& obj);

// `path` + "." + `key` (or `key` alone at the top), for the messages.
std::string MemberPath(const std::string& path, std::string_view key);

// ---- Strict value rules: EConversionError "<path>: <what is wrong>" ----
// A JSON null reads as the empty value of each (0, "", the zero date).

// A JSON number whose value is whole and fits 32 bits (5, -7, 1e3, 5.0).
int32_t ReadInteger(const JsonValue& v, const std::string& path);
// A JSON number taken as the decimal it is written as, rounded half away from zero to four
// places; beyond +-922337203685477.5807 it fails.
Money ReadMoney(const JsonValue& v, const std::string& path);
// A JSON string.
std::string ReadText(const JsonValue& v, const std::string& path);
// An ISO 8601 text (any fraction, "Z" or an offset), moved to UTC; "" is the zero date. A time
// that UTC moves out of the years 1 to 9999 fails, as it could not be written back.
DateTime ReadDate(const JsonValue& v, const std::string& path);
// A JSON array of strings.
std::vector<std::string> ReadTextList(const JsonValue& v, const std::string& path);

// The object or array a member holds; raises for any other kind but null (nullptr).
const JsonValue* ReadObjectValue(const JsonValue& v, const std::string& path);
const JsonValue* ReadArrayValue(const JsonValue& v, const std::string& path);
// An element of a list of objects: an object, nothing else (null included).
const JsonValue& ReadElementObject(const JsonValue& v, const std::string& path);

// Raises the error for a list given under a key in another letter case ("Items").
[[noreturn]] void FailListKey(std::string_view key, const DtoField& field, const std::string& path);

// ---- Lenient value rules: false (and `out` untouched) for a value the field cannot take ----
bool TryReadInteger(const JsonValue& v, int32_t& out);
bool TryReadText(const JsonValue& v, std::string& out);

// ---- Output ----
JsonValue IntegerToJson(int32_t v);
JsonValue MoneyToJson(Money v);
// "yyyy-mm-ddThh:mm:ss[.ffffff]Z"; the zero date as "".
JsonValue DateToJson(DateTime v);
JsonValue TextListToJson(const std::vector<std::string>& texts);

// A data object that reads and writes itself as JSON text.
class TJsonDTO {
 public:
  TJsonDTO() = default;
  TJsonDTO(const TJsonDTO&) = default;
  TJsonDTO(TJsonDTO&&) = default;
  TJsonDTO& operator=(const TJsonDTO&) = default;
  TJsonDTO& operator=(TJsonDTO&&) = default;
  virtual ~TJsonDTO() = default;

  // The object as compact JSON: every written field under its output key, in field order.
  std::string AsJson() const { return WriteJson(ToJsonValue()); }
  // Fills the object in place from a text:
  // - empty, not JSON or JSON null: no change, no error;
  // - an object: its members go to the fields (ReadObject); a value that cannot be read raises
  //   EConversionError and the fields read before it keep their new values;
  // - an array: offered to the field named "Items", then "Results" (as a member key finds its
  //   field); a field that cannot take it raises and the next is tried, no such field ends the
  //   assignment without change. No list of this system answers to those names, so an array
  //   changes nothing;
  // - anything else: EConversionError "The input value is not a valid Object".
  void SetAsJson(std::string_view text);
  std::string ToString() const { return AsJson(); }

  virtual JsonValue ToJsonValue() const = 0;
  // Reads the members of a JSON object; `path` names the object in error messages.
  void ReadObject(const JsonValue& obj, const std::string& path);

  // The field table, and the reading of one member into field `field` (an index into it);
  // public for ReadMembers, which plain data objects share.
  virtual std::span<const DtoField> Fields() const = 0;
  virtual void ReadField(int field, const JsonValue& v, const std::string& path) = 0;

 private:
  // True when the assignment is done, false when the field raised.
  bool OfferArray(std::string_view name, const JsonValue& array);
};

// Reads the members of `obj` into a data object through its field table and its ReadField.
template <class T>
void ReadMembers(T& self, std::span<const DtoField> fields, const JsonValue& obj,
                 const std::string& path) {
  for (const MatchedMember& m : MatchMembers(fields, obj)) {
    const DtoField& f = fields[m.field];
    if (f.list) {
      if (f.lenient) continue;
      FailListKey(m.key, f, path);
    }
    self.ReadField(m.field, *m.value, MemberPath(path, OutputKey(f)));
  }
}

// A strict list of objects: null is an empty list, every element an object read into a new T.
template <class T>
std::vector<T> ReadObjectList(const JsonValue& v, const std::string& path) {
  std::vector<T> out;
  const JsonValue* array = ReadArrayValue(v, path);
  if (!array) return out;
  out.reserve(array->Items().size());
  for (size_t i = 0; i < array->Items().size(); ++i) {
    std::string element_path = path + "[" + std::to_string(i) + "]";
    const JsonValue& element = ReadElementObject(array->Items()[i], element_path);
    out.emplace_back();
    out.back().ReadObject(element, element_path);
  }
  return out;
}

template <class T>
JsonValue ObjectListToJson(const std::vector<T>& list) {
  JsonValue out = JsonValue::Array();
  for (const T& element : list) out.Append(element.ToJsonValue());
  return out;
}

}  // namespace zv
