// The query object: named parameters, conversion to the types the server describes, and
// rows read one at a time.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "base/text.h"
#include "os/system.h"
#include "store/sql_params.h"
#include "store/store_impl.h"
#include "store/store_query_impl.h"

namespace zv {

namespace {

// Firebird dates count days from 17 November 1858; ours from 30 December 1899.
constexpr int64_t kFbDateOffset = 15018;
// Firebird times count ten-thousandths of a second.
constexpr int64_t kMicrosPerFbTimeUnit = 100;

constexpr unsigned kCharsetNone = 0;
constexpr unsigned kCharsetOctets = 1;
constexpr unsigned kCharsetUnicodeFss = 3;
constexpr unsigned kCharsetUtf8 = 4;

bool IsTextType(unsigned t) {
  return t == SQL_TEXT || t == SQL_VARYING;
}
bool IsUtf8(unsigned cs) {
  return cs == kCharsetUtf8 || cs == kCharsetUnicodeFss;
}

unsigned BytesPerChar(unsigned cs) {
  if (cs == kCharsetUtf8) return 4;
  if (cs == kCharsetUnicodeFss) return 3;
  return 1;
}

int64_t Pow10(int n) {
  int64_t r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

// value * 10^from_scale rescaled to 10^to_scale, rounding half away from zero.
int64_t Rescale(int64_t value, int from_scale, int to_scale) {
  if (from_scale == to_scale) return value;
  if (to_scale < from_scale) return value * Pow10(from_scale - to_scale);
  int64_t div = Pow10(to_scale - from_scale);
  int64_t q = value / div;
  int64_t r = value % div;
  if (2 * (r < 0 ? -r : r) >= div) q += (value < 0 ? -1 : 1);
  return q;
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

std::string ValueAsText(const TStoreField::Value& v) {
  return TStoreField("", v).AsString();
}

// What goes into the input message for one marker.
struct Bound {
  bool null = false;
  unsigned type = SQL_VARYING;
  unsigned length = 0;
  int scale = 0;
  unsigned charset = kCharsetNone;
  int64_t i = 0;
  double d = 0;
  DateTime dt;
  std::string s;
};

Bound BindValue(const TStoreField::Value& v, const FbDesc& desc,
                const TStoreConnection::Options& opt) {
  Bound b;
  if (std::holds_alternative<std::monostate>(v)) {
    b.null = true;
    b.type = desc.type == SQL_NULL ? SQL_VARYING : desc.type;
    b.length = desc.type == SQL_NULL ? 1 : desc.length;
    b.scale = desc.scale;
    b.charset = desc.charset;
    return b;
  }
  const bool text_marker = IsTextType(desc.type) || (desc.type == SQL_BLOB && desc.subtype == 1);
  auto as_text = [&](std::string utf8, bool apply_text_rules) {
    b.type = SQL_VARYING;
    if (apply_text_rules && utf8.empty() && opt.empty_strings_to_null) {
      b.null = true;
      b.length = 1;
      return;
    }
    if (desc.type != SQL_BLOB && IsUtf8(desc.charset)) {
      if (apply_text_rules && opt.trim_to_length && IsTextType(desc.type))
        CutUtf8(utf8, desc.length / BytesPerChar(desc.charset));
      b.s = std::move(utf8);
      b.charset = kCharsetUtf8;
    } else {
      // Without a connection character set the server stores these bytes as they are, so
      // they must already be the database's code page.
      b.s = Utf8ToAnsi(utf8);
      if (apply_text_rules && opt.trim_to_length && IsTextType(desc.type) &&
          b.s.size() > desc.length)
        b.s.resize(desc.length);
      b.charset = kCharsetNone;
    }
    b.length = static_cast<unsigned>(std::max<size_t>(b.s.size(), 1));
  };

  if (text_marker) {
    if (const auto* s = std::get_if<std::string>(&v)) {
      as_text(*s, true);
    } else if (const auto* dt = std::get_if<DateTime>(&v)) {
      // A date-time into text: the form the server itself reads back as a timestamp.
      DateParts p = dt->Parts();
      char buf[40];
      std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%04d", p.year, p.month, p.day,
                    p.hour, p.minute, p.second, p.microsecond / 100);
      as_text(buf, true);
    } else {
      as_text(ValueAsText(v), true);
    }
    return b;
  }

  if (const auto* s = std::get_if<std::string>(&v)) {
    // Text for a number or a date: the server converts it and reports what it cannot.
    as_text(*s, false);
    return b;
  }

  switch (desc.type) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_NULL: {
      int scale = desc.type == SQL_NULL ? 0 : desc.scale;
      if (const auto* i = std::get_if<int64_t>(&v)) {
        b.i = Rescale(*i, 0, scale);
      } else if (const auto* m = std::get_if<Money>(&v)) {
        b.i = Rescale(m->raw(), -4, scale);
        if (desc.type == SQL_NULL) {
          b.i = m->raw();
          scale = -4;
        }
      } else if (const auto* d = std::get_if<double>(&v)) {
        if (desc.type == SQL_NULL) {
          b.type = SQL_DOUBLE;
          b.d = *d;
          return b;
        }
        b.i = std::llround(*d * static_cast<double>(Pow10(-scale)));
      } else if (const auto* dt = std::get_if<DateTime>(&v)) {
        if (desc.type == SQL_NULL) {
          b.type = SQL_TIMESTAMP;
          b.dt = *dt;
          return b;
        }
        throw EConversionError("A date cannot be bound to a numeric parameter");
      }
      b.type = SQL_INT64;
      b.scale = scale;
      return b;
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      b.type = SQL_DOUBLE;
      if (const auto* i = std::get_if<int64_t>(&v))
        b.d = static_cast<double>(*i);
      else if (const auto* m = std::get_if<Money>(&v))
        b.d = m->ToDouble();
      else if (const auto* d = std::get_if<double>(&v))
        b.d = *d;
      else if (const auto* dt = std::get_if<DateTime>(&v))
        b.d = static_cast<double>(dt->micros()) / DateTime::kMicrosPerDay;
      return b;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
      b.type = desc.type;
      if (const auto* dt = std::get_if<DateTime>(&v)) {
        b.dt = *dt;
      } else if (const auto* i = std::get_if<int64_t>(&v)) {
        b.dt = DateTime::FromDays(*i);
      } else if (const auto* d = std::get_if<double>(&v)) {
        b.dt = DateTime::FromMicros(std::llround(*d * DateTime::kMicrosPerDay));
      } else {
        throw EConversionError("A money value cannot be bound to a date parameter");
      }
      return b;
    case SQL_BOOLEAN:
      b.type = SQL_BOOLEAN;
      b.i = TStoreField("", v).AsInteger() != 0;
      return b;
    default:
      // Anything else (binary blobs, arrays): hand the server the value's text.
      as_text(ValueAsText(v), false);
      return b;
  }
}

unsigned FixedLength(unsigned type, unsigned described) {
  switch (type) {
    case SQL_SHORT:
      return 2;
    case SQL_LONG:
      return 4;
    case SQL_INT64:
      return 8;
    case SQL_FLOAT:
      return 4;
    case SQL_DOUBLE:
      return 8;
    case SQL_D_FLOAT:
      return 8;
    case SQL_TYPE_DATE:
      return 4;
    case SQL_TYPE_TIME:
      return 4;
    case SQL_TIMESTAMP:
      return 8;
    case SQL_BOOLEAN:
      return 1;
    default:
      return described;
  }
}

void WriteBound(const Bound& b, unsigned char* data) {
  switch (b.type) {
    case SQL_VARYING: {
      uint16_t len = static_cast<uint16_t>(b.s.size());
      std::memcpy(data, &len, sizeof len);
      std::memcpy(data + 2, b.s.data(), b.s.size());
      break;
    }
    case SQL_TEXT:
      std::memset(data, ' ', b.length);
      std::memcpy(data, b.s.data(), std::min<size_t>(b.s.size(), b.length));
      break;
    case SQL_INT64:
      std::memcpy(data, &b.i, sizeof b.i);
      break;
    case SQL_LONG: {
      int32_t v = static_cast<int32_t>(b.i);
      std::memcpy(data, &v, sizeof v);
      break;
    }
    case SQL_SHORT: {
      int16_t v = static_cast<int16_t>(b.i);
      std::memcpy(data, &v, sizeof v);
      break;
    }
    case SQL_DOUBLE:
      std::memcpy(data, &b.d, sizeof b.d);
      break;
    case SQL_FLOAT: {
      float f = static_cast<float>(b.d);
      std::memcpy(data, &f, sizeof f);
      break;
    }
    case SQL_BOOLEAN:
      data[0] = b.i ? 1 : 0;
      break;
    case SQL_TYPE_DATE: {
      ISC_DATE d = static_cast<ISC_DATE>(b.dt.Days() + kFbDateOffset);
      std::memcpy(data, &d, sizeof d);
      break;
    }
    case SQL_TYPE_TIME: {
      ISC_TIME t = static_cast<ISC_TIME>(b.dt.TimeOfDay() / kMicrosPerFbTimeUnit);
      std::memcpy(data, &t, sizeof t);
      break;
    }
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP ts;
      ts.timestamp_date = static_cast<ISC_DATE>(b.dt.Days() + kFbDateOffset);
      ts.timestamp_time = static_cast<ISC_TIME>(b.dt.TimeOfDay() / kMicrosPerFbTimeUnit);
      std::memcpy(data, &ts, sizeof ts);
      break;
    }
    default:
      break;  // a NULL of a type we do not write: only its null flag matters
  }
}

// value * 10^scale as plain decimal text (scale <= 0).
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

std::string TrimRight(std::string s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  s.resize(n);
  return s;
}

}  // namespace

// ---- TStoreQuery::Impl ----

void TStoreQuery::Impl::DropHandles(bool polite, bool keep_statement) {
  FbClientLibrary* lib = owner->connection_ ? owner->connection_->impl().lib : nullptr;
  if (polite && lib) {
    FbStatus status(*lib);
    if (rs) {
      try {
        rs->close(&status);
        rs = nullptr;
      } catch (const Firebird::FbException&) {
        ReleaseQuietly(rs);
      }
    }
    if (tra && owns_tra) {
      try {
        tra->commit(&status);
        tra = nullptr;
      } catch (const Firebird::FbException&) {
        ReleaseQuietly(tra);
      }
    }
    tra = nullptr;
    if (stmt && !keep_statement) {
      try {
        stmt->free(&status);
        stmt = nullptr;
      } catch (const Firebird::FbException&) {
        ReleaseQuietly(stmt);
      }
    }
  } else {
    ReleaseQuietly(rs);
    if (owns_tra) ReleaseQuietly(tra);
    tra = nullptr;
    if (!keep_statement) ReleaseQuietly(stmt);
  }
  if (!stmt) {
    ReleaseQuietly(in_described);
    ReleaseQuietly(out_meta);
    ReleaseQuietly(in_meta);
    in_signature.clear();
  }
}

void TStoreQuery::Impl::Release(bool polite, bool keep_statement) {
  DropHandles(polite, keep_statement);
  broken = false;
  broken_reason.clear();
  active = false;
  eof = true;
  position = 0;
  total = -1;
  ahead.clear();
  for (size_t i = 0; i < row.size() && i < null_row.size(); ++i) row[i] = null_row[i];
}

void TStoreQuery::Impl::Break(bool polite, const std::string& reason) {
  const bool unread = rs != nullptr;
  DropHandles(polite, /*keep_statement=*/polite);
  if (!unread) return;
  broken = true;
  broken_reason = reason;
  active = true;
  eof = false;
  ahead.clear();
  for (size_t i = 0; i < row.size() && i < null_row.size(); ++i) row[i] = null_row[i];
}

// ---- TStoreQuery ----

namespace {

// The query's operations, kept out of the public header.
struct QueryOps {
  TStoreQuery& q;
  TStoreQuery::Impl& m;

  TStoreConnection& Conn() {
    if (!q.Connection()) throw EDatabaseError("The query has no connection");
    return *q.Connection();
  }
  FbClientLibrary& Lib() { return *Conn().impl().lib; }

  void Parse() {
    if (m.parsed) return;
    std::vector<std::string> names;
    m.rewritten = RewriteNamedParams(q.SQLText(), names);
    std::vector<std::unique_ptr<TStoreParam>> old = std::move(m.params);
    m.params.clear();
    m.marker_params.clear();
    for (const std::string& name : names) {
      size_t idx = m.params.size();
      for (size_t k = 0; k < m.params.size(); ++k)
        if (SameName(m.params[k]->Name(), name)) idx = k;
      if (idx == m.params.size()) {
        auto p = std::make_unique<TStoreParam>(name);
        // A value bound before the text grew keeps its value.
        for (auto& o : old)
          if (o && SameName(o->Name(), name)) p = std::move(o);
        m.params.push_back(std::move(p));
      }
      m.marker_params.push_back(idx);
    }
    m.parsed = true;
  }

  // Attaches when needed; a connection closed by the settings reload opens on next use.
  void EnsureAttached() {
    TStoreConnection& c = Conn();
    if (!c.Connected()) c.Open();
  }

  void PrepareStatement(Firebird::ThrowStatusWrapper* st) {
    TStoreConnection& c = Conn();
    if (m.stmt && m.epoch == c.impl().epoch) return;
    m.Release(false);
    Parse();
    Firebird::ITransaction* tra = c.impl().MetaTransaction();
    m.stmt = c.impl().att->prepare(st, tra, 0, m.rewritten.c_str(), 3,
                                   Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    m.epoch = c.impl().epoch;
    m.stmt_type = m.stmt->getType(st);

    m.in_described = m.stmt->getInputMetadata(st);
    unsigned nin = m.in_described->getCount(st);
    m.in_desc.resize(nin);
    for (unsigned i = 0; i < nin; ++i) {
      FbDesc& d = m.in_desc[i];
      d.type = m.in_described->getType(st, i);
      d.subtype = m.in_described->getSubType(st, i);
      d.length = m.in_described->getLength(st, i);
      d.scale = m.in_described->getScale(st, i);
      d.charset = m.in_described->getCharSet(st, i);
    }
    if (nin != m.marker_params.size())
      throw EDatabaseError("The statement has " + std::to_string(nin) +
                           " parameters but its text names " +
                           std::to_string(m.marker_params.size()));

    m.out_meta = m.stmt->getOutputMetadata(st);
    unsigned nout = m.out_meta->getCount(st);
    m.cols.resize(nout);
    m.null_row.clear();
    m.row.clear();
    for (unsigned i = 0; i < nout; ++i) {
      FbColumn& col = m.cols[i];
      col.desc.type = m.out_meta->getType(st, i);
      col.desc.subtype = m.out_meta->getSubType(st, i);
      col.desc.length = m.out_meta->getLength(st, i);
      col.desc.scale = m.out_meta->getScale(st, i);
      col.desc.charset = m.out_meta->getCharSet(st, i);
      col.offset = m.out_meta->getOffset(st, i);
      col.null_offset = m.out_meta->getNullOffset(st, i);
      const char* alias = m.out_meta->getAlias(st, i);
      std::string name = (alias && *alias) ? alias : m.out_meta->getField(st, i);
      m.null_row.emplace_back(name, TStoreField::Value{});
    }
    m.row = m.null_row;
    m.out_buf.assign(m.out_meta->getMessageLength(st), 0);
  }

  void BuildInput(Firebird::ThrowStatusWrapper* st) {
    if (m.in_desc.empty()) {
      ReleaseQuietly(m.in_meta);
      m.in_buf.clear();
      return;
    }
    const auto& opt = Conn().options;
    std::vector<Bound> bound;
    bound.reserve(m.in_desc.size());
    // The message layout depends only on each marker's type and length: reuse it while
    // those stay the same, as they do when one statement runs for many rows.
    std::string sig;
    for (size_t i = 0; i < m.in_desc.size(); ++i) {
      bound.push_back(BindValue(m.params[m.marker_params[i]]->value(), m.in_desc[i], opt));
      const Bound& b = bound.back();
      sig += std::to_string(b.type) + ':' + std::to_string(b.length) + ':' +
             std::to_string(b.scale) + ':' + std::to_string(b.charset) + ';';
    }
    if (!m.in_meta || sig != m.in_signature) {
      ReleaseQuietly(m.in_meta);
      Firebird::IMetadataBuilder* builder = m.in_described->getBuilder(st);
      try {
        for (unsigned i = 0; i < bound.size(); ++i) {
          const Bound& b = bound[i];
          builder->setType(st, i, b.type);
          if (b.type == SQL_VARYING || b.type == SQL_TEXT) {
            builder->setLength(st, i, b.length);
            builder->setCharSet(st, i, b.charset);
            builder->setSubType(st, i, 0);
          } else if (b.type == SQL_BLOB) {
            builder->setSubType(st, i, m.in_desc[i].subtype);
          } else {
            // The builder keeps the described length when the type changes.
            builder->setLength(st, i, FixedLength(b.type, m.in_desc[i].length));
          }
          builder->setScale(st, i, b.scale);
        }
        m.in_meta = builder->getMetadata(st);
      } catch (...) {
        builder->release();
        throw;
      }
      builder->release();
      m.in_signature = std::move(sig);
      m.in_buf.assign(m.in_meta->getMessageLength(st), 0);
    }
    for (unsigned i = 0; i < bound.size(); ++i) {
      const Bound& b = bound[i];
      int16_t null_flag = b.null ? -1 : 0;
      std::memcpy(m.in_buf.data() + m.in_meta->getNullOffset(st, i), &null_flag, sizeof null_flag);
      if (!b.null) WriteBound(b, m.in_buf.data() + m.in_meta->getOffset(st, i));
    }
  }

  // Inside the connection's explicit transaction every statement runs in it; otherwise a
  // plain query reads in the shared read-only transaction and anything else gets a
  // transaction of its own, committed as soon as the statement is done.
  void StartTransaction(Firebird::ThrowStatusWrapper* st, bool read_only) {
    TStoreConnection::Impl& c = Conn().impl();
    if (c.in_transaction) {
      m.tra = c.tra;
      m.owns_tra = false;
      return;
    }
    if (read_only) {
      m.tra = c.MetaTransaction();
      m.owns_tra = false;
      return;
    }
    m.tra = c.StartWriteTransaction(st);
    m.owns_tra = true;
  }

  bool IsCursor() const {
    return m.stmt_type == isc_info_sql_stmt_select ||
           m.stmt_type == isc_info_sql_stmt_select_for_upd;
  }

  std::string ReadBlob(Firebird::ThrowStatusWrapper* st, const ISC_QUAD& id) {
    Firebird::IBlob* blob =
        Conn().impl().att->openBlob(st, m.tra, const_cast<ISC_QUAD*>(&id), 0, nullptr);
    std::string data;
    char buf[16384];
    try {
      for (;;) {
        unsigned got = 0;
        int rc = blob->getSegment(st, sizeof buf, buf, &got);
        if (rc == Firebird::IStatus::RESULT_OK || rc == Firebird::IStatus::RESULT_SEGMENT)
          data.append(buf, got);
        else
          break;
      }
      blob->close(st);
    } catch (...) {
      blob->release();
      throw;
    }
    return data;
  }

  std::string DecodeText(std::string raw, unsigned charset) {
    if (Conn().options.trim_strings) raw = TrimRight(std::move(raw));
    if (charset == kCharsetOctets || IsUtf8(charset)) return raw;
    return AnsiToUtf8(raw);
  }

  void DecodeRow(Firebird::ThrowStatusWrapper* st, std::vector<TStoreField>& out) {
    if (out.size() != m.null_row.size()) out = m.null_row;
    const unsigned char* buf = m.out_buf.data();
    for (size_t i = 0; i < m.cols.size(); ++i) {
      const FbColumn& c = m.cols[i];
      int16_t null_flag;
      std::memcpy(&null_flag, buf + c.null_offset, sizeof null_flag);
      if (null_flag) {
        out[i].SetValue(TStoreField::Value{});
        continue;
      }
      const unsigned char* p = buf + c.offset;
      TStoreField::Value v;
      bool date_only = false;
      switch (c.desc.type) {
        case SQL_TEXT:
          v = DecodeText(std::string(reinterpret_cast<const char*>(p), c.desc.length),
                         c.desc.charset);
          break;
        case SQL_VARYING: {
          uint16_t len;
          std::memcpy(&len, p, sizeof len);
          v = DecodeText(std::string(reinterpret_cast<const char*>(p + 2), len), c.desc.charset);
          break;
        }
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64: {
          int64_t x;
          if (c.desc.type == SQL_SHORT) {
            int16_t s;
            std::memcpy(&s, p, sizeof s);
            x = s;
          } else if (c.desc.type == SQL_LONG) {
            int32_t l;
            std::memcpy(&l, p, sizeof l);
            x = l;
          } else {
            std::memcpy(&x, p, sizeof x);
          }
          if (c.desc.scale == 0) {
            v = x;
          } else {
            // A decimal beyond the Money range is kept as its exact text: AsString reads it
            // and AsMoney raises where the job uses it, so the rest of the row stays
            // readable.
            try {
              v = Money::FromScaled(x, c.desc.scale);
            } catch (const EConversionError&) {
              v = DecimalText(x, c.desc.scale);
            }
          }
          break;
        }
        case SQL_FLOAT: {
          float f;
          std::memcpy(&f, p, sizeof f);
          v = static_cast<double>(f);
          break;
        }
        case SQL_DOUBLE:
        case SQL_D_FLOAT: {
          double d;
          std::memcpy(&d, p, sizeof d);
          v = d;
          break;
        }
        case SQL_TYPE_DATE: {
          ISC_DATE d;
          std::memcpy(&d, p, sizeof d);
          v = DateTime::FromDays(static_cast<int64_t>(d) - kFbDateOffset);
          date_only = true;
          break;
        }
        case SQL_TYPE_TIME: {
          ISC_TIME t;
          std::memcpy(&t, p, sizeof t);
          v = DateTime::FromMicros(static_cast<int64_t>(t) * kMicrosPerFbTimeUnit);
          break;
        }
        case SQL_TIMESTAMP: {
          ISC_TIMESTAMP ts;
          std::memcpy(&ts, p, sizeof ts);
          v = DateTime::FromDays(static_cast<int64_t>(ts.timestamp_date) - kFbDateOffset)
                  .AddMicros(static_cast<int64_t>(ts.timestamp_time) * kMicrosPerFbTimeUnit);
          break;
        }
        case SQL_BOOLEAN:
          v = static_cast<int64_t>(p[0] ? 1 : 0);
          break;
        case SQL_BLOB: {
          ISC_QUAD id;
          std::memcpy(&id, p, sizeof id);
          std::string data = ReadBlob(st, id);
          v = c.desc.subtype == 1 ? DecodeText(std::move(data), c.desc.charset) : data;
          break;
        }
        default:
          throw EDatabaseError("Column " + m.null_row[i].Name() + " has a type (" +
                               std::to_string(c.desc.type) + ") this service cannot read");
      }
      // An empty text is no value, the same rule as when writing.
      if (Conn().options.empty_strings_to_null) {
        if (const auto* s = std::get_if<std::string>(&v); s && s->empty()) v = {};
      }
      out[i].SetValue(std::move(v), date_only);
    }
  }

  // Moves to the next row from the read-ahead buffer or the cursor.
  void FetchNext(Firebird::ThrowStatusWrapper* st) {
    if (!m.ahead.empty()) {
      m.row = std::move(m.ahead.front());
      m.ahead.pop_front();
      ++m.position;
      return;
    }
    if (!m.rs) {
      SetEof();
      return;
    }
    int rc = m.rs->fetchNext(st, m.out_buf.data());
    if (rc == Firebird::IStatus::RESULT_OK) {
      DecodeRow(st, m.row);
      ++m.position;
      return;
    }
    // The whole result has been read: give the server its resources back now.
    m.rs->close(st);
    m.rs = nullptr;
    if (m.owns_tra) m.tra->commit(st);
    m.tra = nullptr;
    SetEof();
  }

  void SetEof() {
    m.eof = true;
    m.total = m.position;
    for (size_t i = 0; i < m.row.size(); ++i) m.row[i] = m.null_row[i];
  }

  // Runs body; a connection found lost is re-attached and body tried once more, unless the
  // statement may already have reached the server: body sets `sent` just before it hands
  // the statement over, as from then on a retry could run it twice (a generator step, an
  // insert) or read a result the job already half used.
  template <class Body>
  void WithReconnect(Body body) {
    for (int attempt = 0;; ++attempt) {
      bool sent = false;
      try {
        Conn().impl().CheckTransactionAlive();
        EnsureAttached();
        FbStatus status(Lib());
        body(status.get(), sent);
        return;
      } catch (const Firebird::FbException& e) {
        TStoreConnection& c = Conn();
        std::string text = FbStatusText(*c.impl().lib, e.getStatus());
        bool lost = FbConnectionLost(e.getStatus());
        if (lost) {
          c.impl().Abandon(c);
          m.Release(false);
        } else {
          m.Release(true, /*keep_statement=*/true);
        }
        // Inside a transaction a new attachment would run the rest of the work without what
        // the lost one had done, and commit it.
        if (lost && attempt == 0 && !sent && c.options.auto_reconnect && !c.impl().in_transaction)
          continue;
        throw EDatabaseError(text);
      }
    }
  }

  // Errors while reading rows of an open cursor: no retry, the rows are gone, and the query
  // stays broken so that no later read mistakes the cut for the end of the result.
  template <class Body>
  void Guard(Body body) {
    try {
      FbStatus status(Lib());
      body(status.get());
    } catch (const Firebird::FbException& e) {
      TStoreConnection& c = Conn();
      std::string text = FbStatusText(*c.impl().lib, e.getStatus());
      if (FbConnectionLost(e.getStatus()))
        c.impl().Abandon(c);
      else
        m.Break(true, text);
      throw EDatabaseError(text);
    } catch (const std::exception& e) {
      m.Break(true, e.what());
      throw;
    }
  }
};

}  // namespace

TStoreQuery::TStoreQuery(TStoreConnection* connection) : impl_(std::make_unique<Impl>(this)) {
  SetConnection(connection);
}

TStoreQuery::~TStoreQuery() {
  if (connection_) {
    impl_->Release(connection_->Connected());
    auto& qs = connection_->impl().queries;
    qs.erase(std::remove(qs.begin(), qs.end(), impl_.get()), qs.end());
  }
}

void TStoreQuery::SetConnection(TStoreConnection* connection) {
  if (connection == connection_) return;
  if (connection_) {
    impl_->Release(connection_->Connected());
    auto& qs = connection_->impl().queries;
    qs.erase(std::remove(qs.begin(), qs.end(), impl_.get()), qs.end());
  }
  connection_ = connection;
  if (connection_) connection_->impl().queries.push_back(impl_.get());
}

void TStoreQuery::ClearSQL() {
  if (connection_) impl_->Release(connection_->Connected());
  sql_.clear();
  impl_->parsed = false;
  impl_->rewritten.clear();
  impl_->params.clear();
  impl_->marker_params.clear();
  impl_->cols.clear();
  impl_->row.clear();
  impl_->null_row.clear();
  impl_->in_desc.clear();
}

void TStoreQuery::AddSQL(std::string_view text) {
  if (connection_) impl_->Release(connection_->Connected());
  if (!sql_.empty()) sql_ += "\n";
  sql_.append(text);
  impl_->parsed = false;
  QueryOps{*this, *impl_}.Parse();
}

TStoreParam& TStoreQuery::ParamByName(std::string_view name) {
  QueryOps{*this, *impl_}.Parse();
  for (auto& p : impl_->params)
    if (SameName(p->Name(), name)) return *p;
  throw EDatabaseError("Parameter '" + std::string(name) + "' not found");
}

void TStoreQuery::Prepare() {
  QueryOps ops{*this, *impl_};
  ops.WithReconnect([&](Firebird::ThrowStatusWrapper* st, bool&) { ops.PrepareStatement(st); });
}

void TStoreQuery::Open() {
  Close();
  QueryOps ops{*this, *impl_};
  ops.WithReconnect([&](Firebird::ThrowStatusWrapper* st, bool& sent) {
    ops.PrepareStatement(st);
    ops.BuildInput(st);
    Impl& m = *impl_;
    if (ops.IsCursor()) {
      ops.StartTransaction(st, m.stmt_type == isc_info_sql_stmt_select);
      sent = true;
      m.rs = m.stmt->openCursor(st, m.tra, m.in_meta, m.in_meta ? m.in_buf.data() : nullptr,
                                m.out_meta, 0);
      m.active = true;
      m.eof = false;
      m.position = 0;
      m.total = -1;
      ops.FetchNext(st);
      m.eof = m.eof || m.position == 0;
    } else {
      // A statement that returns one row at most (EXECUTE PROCEDURE, ... RETURNING).
      ops.StartTransaction(st, false);
      sent = true;
      m.stmt->execute(st, m.tra, m.in_meta, m.in_meta ? m.in_buf.data() : nullptr,
                      m.cols.empty() ? nullptr : m.out_meta,
                      m.cols.empty() ? nullptr : m.out_buf.data());
      if (m.owns_tra) m.tra->commit(st);
      m.tra = nullptr;
      m.active = true;
      if (m.cols.empty()) {
        m.eof = true;
        m.total = 0;
      } else {
        ops.DecodeRow(st, m.row);
        m.eof = false;
        m.position = 1;
        m.total = 1;
      }
    }
  });
}

void TStoreQuery::ExecSQL() {
  Close();
  QueryOps ops{*this, *impl_};
  ops.WithReconnect([&](Firebird::ThrowStatusWrapper* st, bool& sent) {
    ops.PrepareStatement(st);
    ops.BuildInput(st);
    Impl& m = *impl_;
    if (ops.IsCursor()) {
      // A query run for its effect only (a lock, a generator step): open and close it.
      ops.StartTransaction(st, m.stmt_type == isc_info_sql_stmt_select);
      sent = true;
      m.rs = m.stmt->openCursor(st, m.tra, m.in_meta, m.in_meta ? m.in_buf.data() : nullptr,
                                m.out_meta, 0);
      m.rs->fetchNext(st, m.out_buf.data());
      m.rs->close(st);
      m.rs = nullptr;
      if (m.owns_tra) m.tra->commit(st);
      m.tra = nullptr;
      return;
    }
    ops.StartTransaction(st, false);
    sent = true;
    m.stmt->execute(st, m.tra, m.in_meta, m.in_meta ? m.in_buf.data() : nullptr,
                    m.cols.empty() ? nullptr : m.out_meta,
                    m.cols.empty() ? nullptr : m.out_buf.data());
    if (m.owns_tra) m.tra->commit(st);
    m.tra = nullptr;
  });
}

void TStoreQuery::Close() {
  if (!impl_->active && !impl_->rs && !impl_->tra) return;
  impl_->Release(connection_ && connection_->Connected(), /*keep_statement=*/true);
}

bool TStoreQuery::Active() const {
  return impl_->active;
}
bool TStoreQuery::Eof() const {
  return !impl_->active || impl_->eof;
}
bool TStoreQuery::IsEmpty() const {
  return !impl_->active || (impl_->eof && impl_->position == 0);
}

void TStoreQuery::Next() {
  if (impl_->broken) throw EDatabaseError(impl_->broken_reason);
  if (!impl_->active || impl_->eof) return;
  QueryOps ops{*this, *impl_};
  ops.Guard([&](Firebird::ThrowStatusWrapper* st) { ops.FetchNext(st); });
}

int64_t TStoreQuery::RecordCount() {
  Impl& m = *impl_;
  if (m.broken) throw EDatabaseError(m.broken_reason);
  if (!m.active) return 0;
  if (m.total >= 0) return m.total;
  QueryOps ops{*this, *impl_};
  if (!connection_->options.record_count_total)
    return m.position + static_cast<int64_t>(m.ahead.size());

  // Reads rows ahead (they are delivered later, in order) until the end or the limit;
  // true when the end was reached.
  auto read_ahead = [&](size_t limit) {
    ops.Guard([&](Firebird::ThrowStatusWrapper* st) {
      while (m.rs && m.ahead.size() < limit) {
        if (m.rs->fetchNext(st, m.out_buf.data()) != Firebird::IStatus::RESULT_OK) {
          m.rs->close(st);
          m.rs = nullptr;
          if (m.owns_tra) m.tra->commit(st);
          m.tra = nullptr;
          break;
        }
        std::vector<TStoreField> r;
        ops.DecodeRow(st, r);
        m.ahead.push_back(std::move(r));
      }
    });
    if (m.rs) return false;
    m.total = m.position + static_cast<int64_t>(m.ahead.size());
    return true;
  };

  // The results the jobs count are a few rows, mostly already in the client's buffer:
  // reading them ahead costs nothing. Larger ones are counted by the server, so they are
  // never held in memory.
  constexpr size_t kReadAheadRows = 256;
  if (read_ahead(kReadAheadRows)) return m.total;
  bool counted = false;
  try {
    FbStatus status(ops.Lib());
    Firebird::ThrowStatusWrapper* st = status.get();
    std::string sql = "select count(*) from (" + m.rewritten + "\n)";
    Firebird::IStatement* count_stmt =
        connection_->impl().att->prepare(st, m.tra, 0, sql.c_str(), 3, 0);
    try {
      Firebird::IMessageMetadata* out = count_stmt->getOutputMetadata(st);
      std::vector<unsigned char> buf(out->getMessageLength(st));
      unsigned off = out->getOffset(st, 0);
      count_stmt->execute(st, m.tra, m.in_meta, m.in_meta ? m.in_buf.data() : nullptr, out,
                          buf.data());
      int64_t n;
      std::memcpy(&n, buf.data() + off, sizeof n);
      out->release();
      m.total = n;
      counted = true;
    } catch (...) {
      count_stmt->release();
      throw;
    }
    count_stmt->free(st);
  } catch (const Firebird::FbException& e) {
    if (FbConnectionLost(e.getStatus())) {
      std::string text = FbStatusText(ops.Lib(), e.getStatus());
      connection_->impl().Abandon(*connection_);
      throw EDatabaseError(text);
    }
    // Not a plain query (FOR UPDATE, a procedure): the rows themselves are counted.
  }
  if (counted) return m.total;
  read_ahead(SIZE_MAX);
  return m.total;
}

const TStoreField& TStoreQuery::FieldByName(std::string_view name) const {
  if (impl_->broken) throw EDatabaseError(impl_->broken_reason);
  for (const TStoreField& f : impl_->row)
    if (SameName(f.Name(), name)) return f;
  throw EDatabaseError("Field '" + std::string(name) + "' not found");
}

}  // namespace zv
