#include "store/fb_binding.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/decimal.h"
#include "base/errors.h"
#include "base/text.h"
#include "os/system.h"

namespace zv {

namespace {

bool IsTextType(unsigned t) {
  return t == SQL_TEXT || t == SQL_VARYING;
}
// UTF8 or UNICODE_FSS: text that needs no code page conversion.
bool IsUnicodeCharset(unsigned cs) {
  return cs == kFbCharsetUtf8 || cs == kFbCharsetUnicodeFss;
}
unsigned BytesPerChar(unsigned cs) {
  if (cs == kFbCharsetUtf8) return 4;
  if (cs == kFbCharsetUnicodeFss) return 3;
  return 1;
}

// The length the message gives a slot of a type whose size is fixed.
unsigned FixedLength(unsigned type, unsigned described) {
  switch (type) {
    case SQL_SHORT:
      return 2;
    case SQL_LONG:
    case SQL_FLOAT:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
      return 4;
    case SQL_INT64:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_TIMESTAMP:
      return 8;
    case SQL_BOOLEAN:
      return 1;
    default:
      return described;
  }
}

template <class T>
std::string Bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

[[noreturn]] void TooLarge(const std::string& value, int scale) {
  throw EConversionError("'" + value + "' is too large for a parameter with " +
                         std::to_string(-scale) + " decimal places");
}

// value * 10^from_scale as a count of 10^to_scale, rounding half away from zero.
int64_t Rescale(int64_t value, int from_scale, int to_scale, const TStoreField::Value& v) {
  if (from_scale == to_scale) return value;
  if (to_scale < from_scale) {
    int64_t r = value;
    for (int n = from_scale - to_scale; n > 0; --n)
      if (__builtin_mul_overflow(r, int64_t{10}, &r))
        TooLarge(TStoreField("", v).AsString(), to_scale);
    return r;
  }
  // Firebird scales and that of Money never lie more than 18 places apart.
  if (to_scale - from_scale > 18) return 0;
  return DivRoundHalfAway<int64_t>(value, Pow10<int64_t>(to_scale - from_scale));
}

// Cuts UTF-8 text to at most max_chars code points.
void CutUtf8(std::string& s, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == max_chars) {
        s.resize(i);
        return;
      }
      ++chars;
    }
  }
}

void PutDate(FbBound& b, const DateTime& dt) {
  const auto date = static_cast<ISC_DATE>(dt.Days() + kFbDateOffset);
  const auto time = static_cast<ISC_TIME>(dt.TimeOfDay() / kMicrosPerFbTimeUnit);
  switch (b.type) {
    case SQL_TYPE_DATE:
      b.data = Bytes(date);
      break;
    case SQL_TYPE_TIME:
      b.data = Bytes(time);
      break;
    default: {
      ISC_TIMESTAMP ts;
      ts.timestamp_date = date;
      ts.timestamp_time = time;
      b.data = Bytes(ts);
    }
  }
}

}  // namespace

FbBound BindValue(const TStoreField::Value& v, const FbDesc& desc, const FbTextRules& rules) {
  FbBound b;
  b.scale = desc.scale;
  auto finish_fixed = [&](unsigned type) {
    b.type = type;
    b.length = FixedLength(type, desc.length);
    return b;
  };

  if (std::holds_alternative<std::monostate>(v)) {
    b.null = true;
    if (desc.type == SQL_NULL) {
      b.type = SQL_VARYING;
      b.length = 1;
    } else if (IsTextType(desc.type)) {
      b.type = desc.type;
      b.length = desc.length;
      b.charset = desc.charset;
    } else {
      b.subtype = desc.subtype;
      finish_fixed(desc.type);
    }
    return b;
  }

  // Text goes over as VARYING. Without a connection character set the server stores the
  // bytes as they are, so for anything but a UTF-8 column they must already be in the
  // database's code page.
  auto as_text = [&](std::string utf8, bool apply_text_rules) {
    b.type = SQL_VARYING;
    b.scale = 0;
    if (apply_text_rules && utf8.empty() && rules.empty_strings_to_null) {
      b.null = true;
      b.length = 1;
      return b;
    }
    const bool cut = apply_text_rules && rules.trim_to_length && IsTextType(desc.type);
    std::string bytes;
    if (desc.type != SQL_BLOB && IsUnicodeCharset(desc.charset)) {
      if (cut) CutUtf8(utf8, desc.length / BytesPerChar(desc.charset));
      bytes = std::move(utf8);
      b.charset = kFbCharsetUtf8;
    } else {
      bytes = Utf8ToAnsi(utf8);
      if (cut && bytes.size() > desc.length) bytes.resize(desc.length);
      b.charset = kFbCharsetNone;
    }
    b.length = static_cast<unsigned>(std::max<size_t>(bytes.size(), 1));
    b.data = Bytes(static_cast<uint16_t>(bytes.size())) + bytes;
    return b;
  };

  if (IsTextType(desc.type) || (desc.type == SQL_BLOB && desc.subtype == 1)) {
    if (const auto* s = std::get_if<std::string>(&v)) return as_text(*s, true);
    if (const auto* dt = std::get_if<DateTime>(&v)) {
      // A date-time into text: the form the server itself reads back as a timestamp.
      DateParts p = dt->Parts();
      char buf[40];
      std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%04d", p.year, p.month, p.day,
                    p.hour, p.minute, p.second, p.microsecond / 100);
      return as_text(buf, true);
    }
    return as_text(TStoreField("", v).AsString(), true);
  }
  // Text for a number or a date: the server converts it and reports what it cannot.
  if (const auto* s = std::get_if<std::string>(&v)) return as_text(*s, false);

  switch (desc.type) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_NULL: {
      // Any integer marker takes a 64-bit count at its scale; the server checks the range.
      int64_t i = 0;
      if (const auto* n = std::get_if<int64_t>(&v)) {
        i = Rescale(*n, 0, b.scale, v);
      } else if (const auto* m = std::get_if<Money>(&v)) {
        // An untyped marker (an expression) takes the value with all its decimals.
        if (desc.type == SQL_NULL) b.scale = -4;
        i = Rescale(m->raw(), -4, b.scale, v);
      } else if (const auto* d = std::get_if<double>(&v)) {
        if (desc.type == SQL_NULL) {
          b.data = Bytes(*d);
          return finish_fixed(SQL_DOUBLE);
        }
        const double scaled = std::round(*d * std::pow(10.0, -b.scale));
        if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
          TooLarge(TStoreField("", v).AsString(), b.scale);
        i = static_cast<int64_t>(scaled);
      } else if (const auto* dt = std::get_if<DateTime>(&v)) {
        if (desc.type != SQL_NULL)
          throw EConversionError("A date cannot be bound to a numeric parameter");
        b.type = SQL_TIMESTAMP;
        b.scale = 0;
        PutDate(b, *dt);
        return finish_fixed(SQL_TIMESTAMP);
      }
      b.data = Bytes(i);
      return finish_fixed(SQL_INT64);
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
      double d = 0;
      if (const auto* dt = std::get_if<DateTime>(&v))
        d = static_cast<double>(dt->micros()) / DateTime::kMicrosPerDay;
      else
        d = TStoreField("", v).AsFloat();
      b.scale = 0;
      b.data = Bytes(d);
      return finish_fixed(SQL_DOUBLE);
    }
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP: {
      DateTime dt;
      if (const auto* t = std::get_if<DateTime>(&v))
        dt = *t;
      else if (const auto* n = std::get_if<int64_t>(&v))
        dt = DateTime::FromDays(*n);
      else if (const auto* d = std::get_if<double>(&v))
        dt = DateTime::FromMicros(std::llround(*d * DateTime::kMicrosPerDay));
      else
        throw EConversionError("A money value cannot be bound to a date parameter");
      b.type = desc.type;
      b.scale = 0;
      PutDate(b, dt);
      return finish_fixed(desc.type);
    }
    case SQL_BOOLEAN:
      b.scale = 0;
      b.data = std::string(1, TStoreField("", v).AsInteger() != 0 ? 1 : 0);
      return finish_fixed(SQL_BOOLEAN);
    default:
      // Anything else (binary blobs, arrays): hand the server the value's text.
      return as_text(TStoreField("", v).AsString(), false);
  }
}

}  // namespace zv
