#include "store/fb_statement.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "base/errors.h"
#include "store/sql_params.h"
#include "store/store_impl.h"

namespace zv {

// ---- FbStatement: connection and lifetime ----

FbStatement::~FbStatement() {
  SetConnection(nullptr);
}

void FbStatement::SetConnection(TStoreConnection* connection) {
  if (connection == conn_) return;
  if (conn_) {
    CloseOrRelease(Release::kGiveBack);
    auto& all = conn_->impl().statements;
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }
  conn_ = connection;
  if (conn_) conn_->impl().statements.push_back(this);
}

void FbStatement::Orphan() {
  CloseOrRelease(Release::kDrop);
  conn_ = nullptr;
}

TStoreConnection& FbStatement::Conn() const {
  if (!conn_) throw EDatabaseError("The query has no connection");
  return *conn_;
}

FbTextRules FbStatement::Rules() const {
  FbTextRules r;
  r.empty_strings_to_null = conn_->options.empty_strings_to_null;
  r.trim_strings = conn_->options.trim_strings;
  r.trim_to_length = conn_->options.trim_to_length;
  return r;
}

// ---- FbStatement: the server calls and their failures ----

template <class Body>
void FbStatement::OnServer(Body body) {
  for (int attempt = 0;; ++attempt) {
    TStoreConnection& c = Conn();
    bool sent = false;
    try {
      c.impl().CheckTransactionAlive();
      // A connection closed by the settings reload opens again on next use.
      if (!c.Connected()) c.Open();
      FbStatus status(*c.impl().lib);
      {
        StoreCallWatch watch(c.impl().watch, *c.impl().lib, c.impl().att, "running a statement");
        body(status.get(), sent);
      }
      c.impl().Answered();
      return;
    } catch (const Firebird::FbException& e) {
      const std::string text = c.impl().FailureText(e);
      const bool lost = c.impl().Lost(e);
      // A server that stopped answering would keep a new attachment waiting as long.
      const bool cut = c.impl().watch.Cut();
      if (lost) c.impl().Abandon();
      CloseOrRelease(lost ? Release::kDrop : Release::kKeepPrepared);
      if (lost && !cut && attempt == 0 && !sent && c.options.auto_reconnect &&
          !c.impl().in_transaction)
        continue;
      ThrowStatementError(e.getStatus(), text);
    } catch (...) {
      CloseOrRelease(Release::kKeepPrepared);
      throw;
    }
  }
}

template <class Body>
void FbStatement::Reading(Body body) {
  TStoreConnection& c = Conn();
  try {
    FbStatus status(*c.impl().lib);
    {
      StoreCallWatch watch(c.impl().watch, *c.impl().lib, c.impl().att, "reading rows");
      body(status.get());
    }
    c.impl().Answered();
  } catch (const Firebird::FbException& e) {
    const std::string text = c.impl().FailureText(e);
    if (c.impl().Lost(e))
      c.impl().Abandon();
    else
      Break(/*polite=*/true, text);
    throw EDatabaseError(text);
  } catch (const std::exception& e) {
    Break(/*polite=*/true, e.what());
    throw;
  }
}

// ---- FbStatement: prepare, bind, execute ----

void FbStatement::Prepare(const std::string& sql, size_t markers) {
  OnServer([&](Firebird::ThrowStatusWrapper* st, bool&) { PrepareOn(st, sql, markers); });
}

void FbStatement::PrepareOn(Firebird::ThrowStatusWrapper* st, const std::string& sql,
                            size_t markers) {
  if (!prepared_ || prepared_->sql != sql) {
    CloseOrRelease(Release::kGiveBack);
    TStoreConnection::Impl& c = conn_->impl();
    prepared_ = c.cache.Take(sql);
    if (!prepared_) {
      c.watch.Step("preparing a statement");
      prepared_ = FbPrepared::Make(st, c.att, c.MetaTransaction(), sql);
    }
    row_ = prepared_->null_row;
    out_buf_.assign(prepared_->out_length, 0);
  }
  if (prepared_->in_desc.size() != markers)
    throw EDatabaseError("The statement has " + std::to_string(prepared_->in_desc.size()) +
                         " parameters but its text names " + std::to_string(markers));
}

void FbStatement::BindInputs(Firebird::ThrowStatusWrapper* st, const Inputs& inputs) {
  FbPrepared& p = *prepared_;
  if (p.in_desc.empty()) return;
  const FbTextRules rules = Rules();
  std::vector<FbBound> bound;
  bound.reserve(inputs.size());
  std::string signature;
  for (size_t i = 0; i < inputs.size(); ++i) {
    bound.push_back(BindValue(*inputs[i], p.in_desc[i], rules));
    const FbBound& b = bound.back();
    signature += std::to_string(b.type) + ':' + std::to_string(b.length) + ':' +
                 std::to_string(b.scale) + ':' + std::to_string(b.charset) + ';';
  }
  if (!p.in_meta || signature != p.in_signature) {
    ReleaseQuietly(p.in_meta);
    p.in_signature.clear();
    Firebird::IMetadataBuilder* builder = p.in_described->getBuilder(st);
    try {
      for (unsigned i = 0; i < bound.size(); ++i) {
        const FbBound& b = bound[i];
        builder->setType(st, i, b.type);
        if (b.type == SQL_VARYING || b.type == SQL_TEXT) {
          builder->setLength(st, i, b.length);
          builder->setCharSet(st, i, b.charset);
          builder->setSubType(st, i, 0);
        } else if (b.type == SQL_BLOB) {
          builder->setSubType(st, i, b.subtype);
        } else {
          // The builder keeps the described length when the type changes.
          builder->setLength(st, i, b.length);
        }
        builder->setScale(st, i, b.scale);
      }
      p.in_meta = builder->getMetadata(st);
    } catch (...) {
      builder->release();
      throw;
    }
    builder->release();
    p.in_offsets.clear();
    p.in_null_offsets.clear();
    for (unsigned i = 0; i < bound.size(); ++i) {
      p.in_offsets.push_back(p.in_meta->getOffset(st, i));
      p.in_null_offsets.push_back(p.in_meta->getNullOffset(st, i));
    }
    p.in_signature = std::move(signature);
  }
  in_buf_.resize(p.in_meta->getMessageLength(st));
  for (size_t i = 0; i < bound.size(); ++i) {
    const int16_t null_flag = bound[i].null ? -1 : 0;
    std::memcpy(in_buf_.data() + p.in_null_offsets[i], &null_flag, sizeof null_flag);
    if (!bound[i].null)
      std::memcpy(in_buf_.data() + p.in_offsets[i], bound[i].data.data(), bound[i].data.size());
  }
}

// Inside the connection's explicit transaction every statement runs in it; otherwise a plain
// query reads in the shared read-only transaction and anything else gets a transaction of its
// own, committed as soon as the statement is done.
void FbStatement::StartTransaction(Firebird::ThrowStatusWrapper* st, bool read_only) {
  TStoreConnection::Impl& c = conn_->impl();
  owns_tra_ = false;
  if (c.in_transaction) {
    tra_ = c.tra;
  } else if (read_only) {
    tra_ = c.MetaTransaction();
  } else {
    tra_ = c.StartWriteTransaction(st);
    owns_tra_ = true;
  }
}

void FbStatement::Execute(const std::string& sql, size_t markers, const Inputs& inputs,
                          bool with_rows) {
  CloseOrRelease(Release::kKeepPrepared);
  OnServer([&](Firebird::ThrowStatusWrapper* st, bool& sent) {
    PrepareOn(st, sql, markers);
    BindInputs(st, inputs);
    FbPrepared& p = *prepared_;
    Firebird::IMessageMetadata* in = p.in_meta;
    unsigned char* in_data = in ? in_buf_.data() : nullptr;
    StartTransaction(st, p.type == isc_info_sql_stmt_select);
    Conn().impl().watch.Step("running a statement");
    sent = true;
    if (p.IsCursor()) {
      rs_ = p.stmt->openCursor(st, tra_, in, in_data, p.out_meta, 0);
      if (!with_rows) {
        // A query run for its effect only (a lock, a generator step).
        rs_->fetchNext(st, out_buf_.data());
        FinishCursor(st);
        return;
      }
      active_ = true;
      eof_ = false;
      Fetch(st);
      eof_ = eof_ || position_ == 0;
      return;
    }
    // A statement that returns one row at most (EXECUTE PROCEDURE, ... RETURNING).
    const bool row = !p.cols.empty();
    p.stmt->execute(st, tra_, in, in_data, row ? p.out_meta : nullptr,
                    row ? out_buf_.data() : nullptr);
    if (with_rows && row) DecodeRow(st, row_);
    Conn().impl().watch.Step("committing a statement");
    if (owns_tra_) tra_->commit(st);
    tra_ = nullptr;
    if (!with_rows) return;
    active_ = true;
    eof_ = !row;
    position_ = total_ = row ? 1 : 0;
  });
}

// ---- FbStatement: rows ----

bool FbStatement::FetchInto(Firebird::ThrowStatusWrapper* st, std::vector<TStoreField>& out) {
  if (rs_->fetchNext(st, out_buf_.data()) == Firebird::IStatus::RESULT_OK) {
    DecodeRow(st, out);
    return true;
  }
  FinishCursor(st);
  return false;
}

void FbStatement::Fetch(Firebird::ThrowStatusWrapper* st) {
  if (!ahead_.empty()) {
    row_ = std::move(ahead_.front());
    ahead_.pop_front();
    ++position_;
  } else if (rs_ && FetchInto(st, row_)) {
    ++position_;
  } else {
    SetEof();
  }
}

void FbStatement::FinishCursor(Firebird::ThrowStatusWrapper* st) {
  total_ = position_ + static_cast<int64_t>(ahead_.size());
  // Forgotten first: should closing fail, the rows read are still the whole result.
  Firebird::IResultSet* rs = std::exchange(rs_, nullptr);
  Firebird::ITransaction* tra = std::exchange(tra_, nullptr);
  try {
    rs->close(st);
    rs = nullptr;
    if (owns_tra_) tra->commit(st);
  } catch (...) {
    ReleaseQuietly(rs);
    if (owns_tra_) ReleaseQuietly(tra);
    throw;
  }
}

void FbStatement::SetEof() {
  eof_ = true;
  total_ = position_;
  for (TStoreField& f : row_) f.SetValue(TStoreField::Value{});
}

void FbStatement::DecodeRow(Firebird::ThrowStatusWrapper* st, std::vector<TStoreField>& out) {
  const FbPrepared& p = *prepared_;
  if (out.size() != p.null_row.size()) out = p.null_row;
  const FbTextRules rules = Rules();
  const FbBlobReader read_blob = [&](const ISC_QUAD& id) { return ReadBlob(st, id); };
  for (size_t i = 0; i < p.cols.size(); ++i) {
    bool date_only = false;
    TStoreField::Value v = DecodeColumn(p.cols[i], out_buf_.data(), rules, read_blob, date_only);
    out[i].SetValue(std::move(v), date_only);
  }
}

std::string FbStatement::ReadBlob(Firebird::ThrowStatusWrapper* st, const ISC_QUAD& id) {
  Firebird::IBlob* blob =
      conn_->impl().att->openBlob(st, tra_, const_cast<ISC_QUAD*>(&id), 0, nullptr);
  std::string data;
  char buf[16384];
  try {
    for (;;) {
      unsigned got = 0;
      int rc = blob->getSegment(st, sizeof buf, buf, &got);
      if (rc != Firebird::IStatus::RESULT_OK && rc != Firebird::IStatus::RESULT_SEGMENT) break;
      data.append(buf, got);
    }
    blob->close(st);
  } catch (...) {
    blob->release();
    throw;
  }
  return data;
}

void FbStatement::Next() {
  if (broken_) throw EDatabaseError(broken_reason_);
  if (!active_ || eof_) return;
  Reading([&](Firebird::ThrowStatusWrapper* st) { Fetch(st); });
}

const TStoreField& FbStatement::Field(std::string_view name) const {
  if (broken_) throw EDatabaseError(broken_reason_);
  for (const TStoreField& f : row_)
    if (SameName(f.Name(), name)) return f;
  throw EDatabaseError("Field '" + std::string(name) + "' not found");
}

int64_t FbStatement::RecordCount() {
  if (broken_) throw EDatabaseError(broken_reason_);
  if (!active_) return 0;
  if (total_ >= 0) return total_;
  if (!conn_->options.record_count_total) return position_ + static_cast<int64_t>(ahead_.size());

  // The results the jobs count are a few rows, mostly already in the client's buffer:
  // reading them ahead costs nothing. Larger ones are counted by the server, so they are
  // never held in memory. Rows read ahead are delivered later, in order.
  auto read_ahead = [&](size_t limit) {
    Reading([&](Firebird::ThrowStatusWrapper* st) {
      while (rs_ && ahead_.size() < limit) {
        std::vector<TStoreField> r;
        if (FetchInto(st, r)) ahead_.push_back(std::move(r));
      }
    });
    return !rs_;
  };
  constexpr size_t kReadAheadRows = 256;
  if (read_ahead(kReadAheadRows)) return total_;

  TStoreConnection::Impl& c = conn_->impl();
  bool counted = false;
  try {
    StoreCallWatch watch(c.watch, *c.lib, c.att, "counting rows");
    FbStatus status(*c.lib);
    Firebird::ThrowStatusWrapper* st = status.get();
    const std::string sql = "select count(*) from (" + prepared_->sql + "\n)";
    Firebird::IStatement* count_stmt = c.att->prepare(st, tra_, 0, sql.c_str(), 3, 0);
    try {
      Firebird::IMessageMetadata* out = count_stmt->getOutputMetadata(st);
      std::vector<unsigned char> buf(out->getMessageLength(st));
      const unsigned off = out->getOffset(st, 0);
      Firebird::IMessageMetadata* in = prepared_->in_meta;
      count_stmt->execute(st, tra_, in, in ? in_buf_.data() : nullptr, out, buf.data());
      out->release();
      std::memcpy(&total_, buf.data() + off, sizeof total_);
      counted = true;
    } catch (...) {
      count_stmt->release();
      throw;
    }
    count_stmt->free(st);
  } catch (const Firebird::FbException& e) {
    if (c.Lost(e)) {
      const std::string text = c.FailureText(e);
      c.Abandon();
      throw EDatabaseError(text);
    }
    // Not a plain query (FOR UPDATE, a procedure): the rows themselves are counted.
  }
  if (counted) return total_;
  read_ahead(SIZE_MAX);
  return total_;
}

// ---- FbStatement: ending runs ----

void FbStatement::DropCursor(bool polite) {
  FbClientLibrary* lib = conn_ ? conn_->impl().lib : nullptr;
  if (polite && lib && (rs_ || (tra_ && owns_tra_))) {
    std::optional<StoreCallWatch> watch;
    if (conn_->impl().att)
      watch.emplace(conn_->impl().watch, *lib, conn_->impl().att, "closing a result");
    FbStatus status(*lib);
    if (rs_) {
      try {
        rs_->close(status.get());
        rs_ = nullptr;
      } catch (const Firebird::FbException&) {
        ReleaseQuietly(rs_);
      }
    }
    if (tra_ && owns_tra_) {
      try {
        tra_->commit(status.get());
        tra_ = nullptr;
      } catch (const Firebird::FbException&) {
        ReleaseQuietly(tra_);
      }
    }
  }
  ReleaseQuietly(rs_);
  if (owns_tra_) ReleaseQuietly(tra_);
  tra_ = nullptr;
  owns_tra_ = false;
}

void FbStatement::ResetRows() {
  active_ = false;
  eof_ = true;
  position_ = 0;
  total_ = -1;
  ahead_.clear();
  broken_ = false;
  broken_reason_.clear();
  if (prepared_)
    row_ = prepared_->null_row;
  else
    row_.clear();
}

void FbStatement::CloseOrRelease(Release how) {
  TStoreConnection::Impl* c = conn_ ? &conn_->impl() : nullptr;
  const bool attached = c && c->att;
  std::optional<StoreCallWatch> watch;
  if (attached && how != Release::kDrop)
    watch.emplace(c->watch, *c->lib, c->att, "closing a statement");
  DropCursor(how != Release::kDrop && attached);
  if (prepared_ && how != Release::kKeepPrepared) {
    if (how == Release::kGiveBack && attached)
      c->cache.Give(std::move(prepared_), *c->lib);
    else
      prepared_.reset();
  }
  ResetRows();
}

void FbStatement::Break(bool polite, const std::string& reason) {
  const bool unread = rs_ != nullptr;
  DropCursor(polite);
  if (!polite) prepared_.reset();
  if (!unread) return;
  ahead_.clear();
  for (TStoreField& f : row_) f.SetValue(TStoreField::Value{});
  active_ = true;
  eof_ = false;
  broken_ = true;
  broken_reason_ = reason;
}

}  // namespace zv
