#pragma once
// Parameter binding, without a server: a value of the program and the type the server
// describes for a marker give the slot of the input message (type, length, scale, character
// set) and its bytes. The text rules of the connection (empty as NULL, cut to the column)
// apply here; numbers are rounded half away from zero to the marker's scale.

#include <string>

#include "store/store_query.h"

namespace zv {

// A marker or column as the server describes it (SQL_* type codes of the Firebird API).
struct FbDesc {
  unsigned type = 0;
  int subtype = 0;
  unsigned length = 0;
  int scale = 0;
  unsigned charset = 0;
};

// Firebird character set ids.
inline constexpr unsigned kFbCharsetNone = 0;
inline constexpr unsigned kFbCharsetOctets = 1;
inline constexpr unsigned kFbCharsetUnicodeFss = 3;
inline constexpr unsigned kFbCharsetUtf8 = 4;

// The connection's text rules, for binding and decoding alike.
struct FbTextRules {
  bool empty_strings_to_null = true;
  bool trim_strings = true;
  bool trim_to_length = true;
};

// One slot of the input message.
struct FbBound {
  bool null = false;
  unsigned type = 0;    // the type the message gives the server; it converts from there
  unsigned length = 0;  // the slot's length as the metadata states it
  int scale = 0;
  unsigned charset = kFbCharsetNone;
  int subtype = 0;
  std::string data;  // the slot's bytes (a VARYING slot: 2-byte length, then the text)
};

// Throws EConversionError for a value the marker cannot take (a date for a number, a money
// value for a date) or a number beyond what the marker's scale can hold.
FbBound BindValue(const TStoreField::Value& value, const FbDesc& marker, const FbTextRules& rules);

// Firebird dates count days from 17 November 1858; ours from 30 December 1899.
inline constexpr int64_t kFbDateOffset = 15018;
// Firebird times count ten-thousandths of a second.
inline constexpr int64_t kMicrosPerFbTimeUnit = 100;

}  // namespace zv
