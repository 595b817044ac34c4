#pragma once
// The value of one column or parameter of the store, and its conversions.

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "base/datetime.h"
#include "base/money.h"

namespace zv {

// A value as a column or parameter carries it.
class TStoreField {
 public:
  using Value = std::variant<std::monostate, int64_t, std::string, Money, DateTime, double>;
  TStoreField() = default;
  TStoreField(std::string name, Value v, bool date_only = false)
      : name_(std::move(name)), value_(std::move(v)), date_only_(date_only) {}

  const std::string& Name() const { return name_; }
  bool IsNull() const { return std::holds_alternative<std::monostate>(value_); }
  // Conversions as a database access layer makes them: NULL reads as 0, "" or the zero
  // date-time; a text that is not a number raises EConversionError.
  int64_t AsInteger() const;
  std::string AsString() const;
  Money AsMoney() const;
  DateTime AsDateTime() const;
  double AsFloat() const;
  const Value& value() const { return value_; }
  // Replaces the value and keeps the name (the query reuses its row of fields).
  void SetValue(Value v, bool date_only = false) {
    value_ = std::move(v);
    date_only_ = date_only;
  }

 private:
  std::string name_;
  Value value_;
  bool date_only_ = false;  // a DATE column: AsString gives the date alone
};

}  // namespace zv
