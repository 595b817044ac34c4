// StoreConnection: one attachment to the store database, re-attached when found lost.

#include <algorithm>
#include <cctype>

#include "base/errors.h"
#include "store/fb_attach.h"
#include "store/store_impl.h"
#include "store/store_query_impl.h"

namespace zv {

namespace {

bool KeyEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

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
  for (TStoreQuery::Impl* q : impl_->queries) q->Orphan();
  impl_->queries.clear();
}

std::string TStoreConnection::ParamValue(std::string_view key) const {
  for (const std::string& p : Params) {
    auto eq = p.find('=');
    if (eq != std::string::npos && KeyEquals(std::string_view(p).substr(0, eq), key))
      return p.substr(eq + 1);
  }
  return "";
}

void TStoreConnection::SetParamValue(std::string_view key, std::string_view value) {
  for (std::string& p : Params) {
    auto eq = p.find('=');
    if (eq != std::string::npos && KeyEquals(std::string_view(p).substr(0, eq), key)) {
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

  const FbAttachRequest request = BuildAttachRequest(*this);
  const std::string key = request.target + '\n' + request.dpb + '\n' +
                          std::to_string(reinterpret_cast<uintptr_t>(&lib));
  if (impl_->parked) {
    if (impl_->parked_key == key) {
      FbStatus ping_status(lib);
      try {
        impl_->parked->ping(ping_status.get());
        impl_->att = impl_->parked;
        impl_->meta_tra = impl_->parked_meta_tra;
        impl_->parked = nullptr;
        impl_->parked_meta_tra = nullptr;
        impl_->key = key;
        ++impl_->epoch;
        return;
      } catch (const Firebird::FbException&) {
        impl_->DetachParked(false);  // gone with the server: attach anew
      }
    } else {
      impl_->DetachParked(true);
    }
  }

  FbStatus status(lib);
  try {
    impl_->att = lib.provider->attachDatabase(
        &status, request.target.c_str(), static_cast<unsigned>(request.dpb.size()),
        reinterpret_cast<const unsigned char*>(request.dpb.data()));
    impl_->key = key;
    ++impl_->epoch;
  } catch (const Firebird::FbException& e) {
    ThrowFb(lib, e);
  }
}

void TStoreConnection::Close() {
  Rollback();
  for (TStoreQuery::Impl* q : impl_->queries) q->Release(/*polite=*/true);
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
  if (!polite) {
    ReleaseQuietly(parked_meta_tra);
    ReleaseQuietly(parked);
    return;
  }
  FbStatus status(*lib);
  if (parked_meta_tra) {
    try {
      parked_meta_tra->commit(&status);
      parked_meta_tra = nullptr;
    } catch (const Firebird::FbException&) {
      ReleaseQuietly(parked_meta_tra);
    }
  }
  try {
    parked->detach(&status);
    parked = nullptr;
  } catch (const Firebird::FbException&) {
    ReleaseQuietly(parked);
  }
}

void TStoreConnection::Impl::CheckTransactionAlive() const {
  if (in_transaction && !tra) throw EDatabaseError(kLostInTransaction);
}

void TStoreConnection::Impl::BreakTransactionCursors() {
  for (TStoreQuery::Impl* q : queries)
    if (q->tra && q->tra == tra)
      q->Break(/*polite=*/true, "The transaction ended before the whole result was read");
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
      impl_->tra = impl_->StartWriteTransaction(status.get());
      impl_->in_transaction = true;
      return;
    } catch (const Firebird::FbException& e) {
      std::string text = FbStatusText(*impl_->lib, e.getStatus());
      if (!FbConnectionLost(e.getStatus())) throw EDatabaseError(text);
      impl_->Abandon(*this);
      // Nothing has run in it yet: a new attachment is as good.
      if (attempt > 0 || !options.auto_reconnect) throw EDatabaseError(text);
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
    impl_->tra->commit(status.get());
    impl_->tra = nullptr;
    impl_->in_transaction = false;
  } catch (const Firebird::FbException& e) {
    std::string text = FbStatusText(*impl_->lib, e.getStatus());
    if (FbConnectionLost(e.getStatus())) impl_->Abandon(*this);
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
      impl_->tra->rollback(status.get());
      impl_->tra = nullptr;
    } catch (const Firebird::FbException&) {
      // The server undoes what it cannot finish; the handle is of no further use.
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

void TStoreConnection::Impl::Abandon(TStoreConnection& /*owner*/) {
  for (TStoreQuery::Impl* q : queries)
    q->Break(/*polite=*/false,
             "The connection to the store database was lost before the whole result was read");
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
