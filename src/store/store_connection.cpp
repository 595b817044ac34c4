// StoreConnection: one attachment to the store database, re-attached when found lost.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/errors.h"
#include "base/text.h"
#include "store/fb_attach.h"
#include "store/fb_statement.h"
#include "store/store_impl.h"

namespace zv {

namespace {

// Shorter than any attach from another program, so a table change made meanwhile is never
// missed by more than one reopen.
constexpr auto kFreshAnswer = std::chrono::milliseconds(5);

constexpr const char* kLostInTransaction =
    "The connection to the store database was lost inside a transaction; its work was undone";

// A store for connections that were given no driver link.
TFbDriverLink& DefaultDriverLink() {
  static TFbDriverLink link;
  return link;
}

}  // namespace

void ThrowFb(FbClientLibrary& lib, const Firebird::FbException& e) {
  throw EDatabaseError(FbStatusText(lib, e.getStatus()));
}

std::string TStoreConnection::Impl::FailureText(const Firebird::FbException& e) const {
  if (watch.Cut()) return watch.CutText();
  return FbStatusText(*lib, e.getStatus());
}

bool TStoreConnection::Impl::Lost(const Firebird::FbException& e) const {
  return watch.Cut() || FbConnectionLost(e.getStatus());
}

// ---- TFbDriverLink ----

TFbDriverLink::TFbDriverLink() : VendorLib(FbDefaultClientLibraryName()) {}
TFbDriverLink::~TFbDriverLink() = default;

FbClientLibrary& TFbDriverLink::Library() {
  // The loaded library is shared by the process and outlives this link.
  return FbClientLibrary::Load(VendorLib);
}

// ---- TStoreConnection ----

TStoreConnection::TStoreConnection() : impl_(std::make_unique<Impl>()) {}

TStoreConnection::~TStoreConnection() {
  Close();
  impl_->DetachParked(true);
  for (FbStatement* s : impl_->statements) s->Orphan();
  impl_->statements.clear();
}

std::string TStoreConnection::ParamValue(std::string_view key) const {
  for (const std::string& p : Params) {
    auto eq = p.find('=');
    if (eq != std::string::npos && EqualsIgnoreAsciiCase(std::string_view(p).substr(0, eq), key))
      return p.substr(eq + 1);
  }
  return "";
}

void TStoreConnection::SetParamValue(std::string_view key, std::string_view value) {
  for (std::string& p : Params) {
    auto eq = p.find('=');
    if (eq != std::string::npos && EqualsIgnoreAsciiCase(std::string_view(p).substr(0, eq), key)) {
      p = p.substr(0, eq + 1) + std::string(value);
      return;
    }
  }
  Params.push_back(std::string(key) + "=" + std::string(value));
}

bool TStoreConnection::Connected() const {
  return impl_->att != nullptr;
}

void TStoreConnection::Open() {
  if (impl_->att) return;
  FbClientLibrary& lib = (DriverLink ? *DriverLink : DefaultDriverLink()).Library();
  impl_->lib = &lib;
  impl_->watch.deadline = CallDeadline;

  const FbAttachRequest request = BuildAttachRequest(*this);
  const std::string key = request.target + '\n' + request.dpb + '\n' +
                          std::to_string(reinterpret_cast<uintptr_t>(&lib));
  if (impl_->parked && impl_->parked_key != key) impl_->DetachParked(true);
  // A new attachment, or a kept session that was never cut: watched afresh.
  impl_->watch.Reset();
  if (impl_->parked) {
    impl_->att = std::exchange(impl_->parked, nullptr);
    impl_->meta_tra = std::exchange(impl_->parked_meta_tra, nullptr);
    impl_->key = key;
    // A session that answered a moment ago (the jobs close and reopen the connection between
    // statements when they send sales back to back) is taken back as it is: asking the
    // server again so soon tells nothing new, and costs a round trip per sale.
    if (std::chrono::steady_clock::now() - impl_->last_answer < kFreshAnswer) return;
    try {
      StoreCallWatch watch(impl_->watch, lib, impl_->att, "checking the kept session");
      // Proves that the session still answers, and tells whether the store's tables changed
      // since the last check (an upgrade of the point-of-sale system): statements prepared
      // before such a change are prepared again, as before it they would still run against
      // the old layout.
      const std::string stamp = impl_->MetadataStamp();
      if (stamp != impl_->metadata_stamp) impl_->cache.Clear(&lib, /*polite=*/true);
      impl_->metadata_stamp = stamp;
      impl_->Answered();
      return;
    } catch (const Firebird::FbException& e) {
      const std::string text = impl_->FailureText(e);
      const bool cut = impl_->watch.Cut();
      impl_->Abandon();  // gone with the server: attach anew
      // Unless the server stopped answering: a new attach would wait as long again.
      if (cut) throw EDatabaseError(text);
    }
  }

  FbStatus status(lib);
  try {
    {
      StoreCallWatch watch(impl_->watch, lib, nullptr, "attaching");
      impl_->att = lib.provider->attachDatabase(
          &status, request.target.c_str(), static_cast<unsigned>(request.dpb.size()),
          reinterpret_cast<const unsigned char*>(request.dpb.data()));
    }
    impl_->key = key;
    StoreCallWatch watch(impl_->watch, lib, impl_->att, "reading the table layouts");
    impl_->metadata_stamp = impl_->MetadataStamp();
    impl_->Answered();
  } catch (const Firebird::FbException& e) {
    const std::string text = impl_->FailureText(e);
    if (impl_->att) impl_->Abandon();
    throw EDatabaseError(text);
  }
}

std::string TStoreConnection::Impl::MetadataStamp() {
  // Every ALTER TABLE gives its table a new format number; creating or dropping one changes
  // the count.
  static const char* const kSql =
      "select count(*), coalesce(sum(rdb$format), 0) from rdb$relations";
  FbStatus status(*lib);
  Firebird::ThrowStatusWrapper* st = status.get();
  Firebird::IMetadataBuilder* builder = lib->master->getMetadataBuilder(st, 2);
  Firebird::IMessageMetadata* out = nullptr;
  try {
    for (unsigned i = 0; i < 2; ++i) {
      builder->setType(st, i, SQL_INT64);
      builder->setLength(st, i, sizeof(int64_t));
      builder->setScale(st, i, 0);
    }
    out = builder->getMetadata(st);
    builder->release();
    builder = nullptr;
    std::vector<unsigned char> buf(out->getMessageLength(st));
    att->execute(st, MetaTransaction(), 0, kSql, 3, nullptr, nullptr, out, buf.data());
    int64_t count = 0, formats = 0;
    std::memcpy(&count, buf.data() + out->getOffset(st, 0), sizeof count);
    std::memcpy(&formats, buf.data() + out->getOffset(st, 1), sizeof formats);
    out->release();
    return std::to_string(count) + "/" + std::to_string(formats);
  } catch (...) {
    if (builder) builder->release();
    if (out) out->release();
    throw;
  }
}

void TStoreConnection::Close() {
  Rollback();
  for (FbStatement* s : impl_->statements) s->CloseOrRelease(FbStatement::Release::kGiveBack);
  // A close that found the server silent leaves nothing worth keeping.
  if (impl_->att && impl_->watch.Cut()) impl_->Abandon();
  if (!impl_->att) return;
  impl_->DetachParked(true);
  impl_->parked = impl_->att;
  impl_->parked_meta_tra = impl_->meta_tra;
  impl_->parked_key = impl_->key;
  impl_->att = nullptr;
  impl_->meta_tra = nullptr;
}

void TStoreConnection::Impl::DetachParked(bool polite) {
  if (!parked) return;
  if (polite) {
    StoreCallWatch watch(this->watch, *lib, parked, "detaching");
    cache.Clear(lib, /*polite=*/true);
    FbStatus status(*lib);
    if (parked_meta_tra) {
      try {
        parked_meta_tra->commit(&status);
        parked_meta_tra = nullptr;
      } catch (const Firebird::FbException&) {
      }
    }
    try {
      parked->detach(&status);
      parked = nullptr;
    } catch (const Firebird::FbException&) {
    }
  }
  cache.Clear(lib, /*polite=*/false);
  // What is left was not closed on the server: cut first, so that releasing it does not
  // wait on a server that may not answer.
  if (parked) CutAttachment(*lib, parked);
  ReleaseQuietly(parked_meta_tra);
  ReleaseQuietly(parked);
}

void TStoreConnection::Impl::CheckTransactionAlive() const {
  if (in_transaction && !tra) throw EDatabaseError(kLostInTransaction);
}

void TStoreConnection::Impl::BreakTransactionCursors() {
  for (FbStatement* s : statements)
    if (s->ReadsIn(tra))
      s->Break(/*polite=*/true, "The transaction ended before the whole result was read");
}

Firebird::ITransaction* TStoreConnection::Impl::StartWriteTransaction(
    Firebird::ThrowStatusWrapper* st) {
  Firebird::IXpbBuilder* tpb = lib->util->getXpbBuilder(st, Firebird::IXpbBuilder::TPB, nullptr, 0);
  Firebird::ITransaction* t = nullptr;
  try {
    tpb->insertTag(st, isc_tpb_write);
    tpb->insertTag(st, isc_tpb_read_committed);
    tpb->insertTag(st, isc_tpb_rec_version);
    tpb->insertTag(st, isc_tpb_wait);
    // A row locked by someone else is waited for, but not for ever.
    tpb->insertInt(st, isc_tpb_lock_timeout, 30);
    t = att->startTransaction(st, tpb->getBufferLength(st), tpb->getBuffer(st));
  } catch (...) {
    tpb->dispose();
    throw;
  }
  tpb->dispose();
  return t;
}

void TStoreConnection::StartTransaction() {
  if (impl_->in_transaction)
    throw EDatabaseError("A transaction is already open on the store connection");
  for (int attempt = 0;; ++attempt) {
    if (!Connected()) Open();
    FbStatus status(*impl_->lib);
    try {
      StoreCallWatch watch(impl_->watch, *impl_->lib, impl_->att, "starting a transaction");
      impl_->tra = impl_->StartWriteTransaction(status.get());
      impl_->in_transaction = true;
      return;
    } catch (const Firebird::FbException& e) {
      std::string text = impl_->FailureText(e);
      if (!impl_->Lost(e)) throw EDatabaseError(text);
      const bool cut = impl_->watch.Cut();
      impl_->Abandon();
      // Nothing has run in it yet: a new attachment is as good, unless the server stopped
      // answering.
      if (attempt > 0 || cut || !options.auto_reconnect) throw EDatabaseError(text);
    }
  }
}

void TStoreConnection::Commit() {
  if (!impl_->in_transaction)
    throw EDatabaseError("No transaction is open on the store connection");
  if (!impl_->tra) {
    Rollback();
    throw EDatabaseError(kLostInTransaction);
  }
  impl_->BreakTransactionCursors();
  FbStatus status(*impl_->lib);
  try {
    StoreCallWatch watch(impl_->watch, *impl_->lib, impl_->att, "committing");
    impl_->tra->commit(status.get());
    impl_->tra = nullptr;
    impl_->in_transaction = false;
  } catch (const Firebird::FbException& e) {
    std::string text = impl_->FailureText(e);
    if (impl_->Lost(e)) impl_->Abandon();
    // A commit that fails leaves nothing half done: the work is undone and the
    // transaction over.
    Rollback();
    throw EDatabaseError(text);
  }
}

void TStoreConnection::Rollback() {
  if (!impl_->in_transaction) return;
  if (impl_->tra) {
    impl_->BreakTransactionCursors();
    FbStatus status(*impl_->lib);
    try {
      StoreCallWatch watch(impl_->watch, *impl_->lib, impl_->att, "rolling back");
      impl_->tra->rollback(status.get());
      impl_->tra = nullptr;
    } catch (const Firebird::FbException& e) {
      // The server undoes what it cannot finish; the handle is of no further use.
      if (impl_->Lost(e))
        impl_->Abandon();
      else
        ReleaseQuietly(impl_->tra);
    }
  }
  impl_->in_transaction = false;
}

bool TStoreConnection::InTransaction() const {
  return impl_->in_transaction;
}

// ---- TStoreTransaction ----

TStoreTransaction::TStoreTransaction(TStoreConnection& connection) : connection_(connection) {
  connection_.StartTransaction();
}

TStoreTransaction::~TStoreTransaction() {
  if (!done_) connection_.Rollback();
}

void TStoreTransaction::Commit() {
  done_ = true;
  connection_.Commit();
}

void TStoreConnection::Impl::Abandon() {
  // Closes the socket first: releasing the handles of an attachment that is still open
  // would tell the server, and wait on it.
  if (att) CutAttachment(*lib, att);
  for (FbStatement* s : statements)
    s->Break(/*polite=*/false,
             "The connection to the store database was lost before the whole result was read");
  cache.Clear(lib, /*polite=*/false);
  ReleaseQuietly(tra);
  ReleaseQuietly(meta_tra);
  ReleaseQuietly(att);
}

Firebird::ITransaction* TStoreConnection::Impl::MetaTransaction() {
  if (meta_tra) return meta_tra;
  FbStatus status(*lib);
  Firebird::IXpbBuilder* tpb =
      lib->util->getXpbBuilder(&status, Firebird::IXpbBuilder::TPB, nullptr, 0);
  try {
    tpb->insertTag(&status, isc_tpb_read);
    tpb->insertTag(&status, isc_tpb_read_committed);
    tpb->insertTag(&status, isc_tpb_rec_version);
    tpb->insertTag(&status, isc_tpb_nowait);
    meta_tra =
        att->startTransaction(&status, tpb->getBufferLength(&status), tpb->getBuffer(&status));
  } catch (...) {
    tpb->dispose();
    throw;
  }
  tpb->dispose();
  return meta_tra;
}

}  // namespace zv
