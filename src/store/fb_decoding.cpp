#include "store/fb_decoding.h"

#include <cstring>

#include "base/text.h"
#include "os/system.h"
#include "base/errors.h"

namespace zv {

namespace {

template <class T>
T Read(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::string DecodeText(std::string raw, unsigned charset, const FbTextRules& rules) {
  if (rules.trim_strings) {
    size_t n = raw.size();
    while (n > 0 && raw[n - 1] == ' ') --n;
    raw.resize(n);
  }
  if (charset == kFbCharsetOctets || charset == kFbCharsetUtf8 || charset == kFbCharsetUnicodeFss)
    return raw;
  return AnsiToUtf8(raw);
}

// value * 10^scale as plain decimal text (scale < 0).
std::string DecimalText(int64_t value, int scale) {
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string text = std::to_string(magnitude);
  const size_t decimals = static_cast<size_t>(-scale);
  if (text.size() <= decimals) text.insert(0, decimals + 1 - text.size(), '0');
  text.insert(text.size() - decimals, ".");
  return negative ? "-" + text : text;
}

DateTime FromFbDate(ISC_DATE d) {
  return DateTime::FromDays(static_cast<int64_t>(d) - kFbDateOffset);
}

}  // namespace

TStoreField::Value DecodeColumn(const FbColumn& c, const unsigned char* message,
                                const FbTextRules& rules, const FbBlobReader& read_blob,
                                bool& date_only) {
  date_only = false;
  if (Read<int16_t>(message + c.null_offset)) return {};
  const unsigned char* p = message + c.offset;
  TStoreField::Value v;
  switch (c.desc.type) {
    case SQL_TEXT:
      v = DecodeText(std::string(reinterpret_cast<const char*>(p), c.desc.length), c.desc.charset,
                     rules);
      break;
    case SQL_VARYING:
      v = DecodeText(std::string(reinterpret_cast<const char*>(p + 2), Read<uint16_t>(p)),
                     c.desc.charset, rules);
      break;
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
      const int64_t x = c.desc.type == SQL_SHORT  ? Read<int16_t>(p)
                        : c.desc.type == SQL_LONG ? Read<int32_t>(p)
                                                  : Read<int64_t>(p);
      if (c.desc.scale == 0) {
        v = x;
      } else {
        try {
          v = Money::FromScaled(x, c.desc.scale);
        } catch (const EConversionError&) {
          v = DecimalText(x, c.desc.scale);
        }
      }
      break;
    }
    case SQL_FLOAT:
      v = static_cast<double>(Read<float>(p));
      break;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      v = Read<double>(p);
      break;
    case SQL_TYPE_DATE:
      v = FromFbDate(Read<ISC_DATE>(p));
      date_only = true;
      break;
    case SQL_TYPE_TIME:
      v = DateTime::FromMicros(static_cast<int64_t>(Read<ISC_TIME>(p)) * kMicrosPerFbTimeUnit);
      break;
    case SQL_TIMESTAMP: {
      const auto ts = Read<ISC_TIMESTAMP>(p);
      v = FromFbDate(ts.timestamp_date)
              .AddMicros(static_cast<int64_t>(ts.timestamp_time) * kMicrosPerFbTimeUnit);
      break;
    }
    case SQL_BOOLEAN:
      v = static_cast<int64_t>(p[0] ? 1 : 0);
      break;
    case SQL_BLOB: {
      std::string data = read_blob(Read<ISC_QUAD>(p));
      if (c.desc.subtype == 1)
        v = DecodeText(std::move(data), c.desc.charset, rules);
      else
        v = std::move(data);
      break;
    }
    default:
      throw EDatabaseError("Column " + c.name + " has a type (" + std::to_string(c.desc.type) +
                           ") this service cannot read");
  }
  // An empty text is no value, the same rule as when writing.
  if (rules.empty_strings_to_null) {
    if (const auto* s = std::get_if<std::string>(&v); s && s->empty()) v = {};
  }
  return v;
}

}  // namespace zv
