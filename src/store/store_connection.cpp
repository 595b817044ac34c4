// StoreConnection: one attachment to the store database, re-attached when found lost.

#include <algorithm>
#include <cctype>

#include "base/errors.h"
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

// A store for connections that were given no driver link.
TFbDriverLink& DefaultDriverLink() {
  static TFbDriverLink link;
  return link;
}

constexpr unsigned kConnectTimeoutSeconds = 15;

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

  std::string server = ParamValue("Server");
  std::string port = ParamValue("Port");
  std::string database = ParamValue("Database");
  std::string dialect_text = ParamValue("SQLDialect");
  std::string protocol = ParamValue("Protocol");
  int dialect = 3;
  if (!dialect_text.empty()) dialect = std::atoi(dialect_text.c_str());
  if (database.empty()) throw EDatabaseError("No database path given for the store connection");

  // host/port:path is the client's TCP/IP form; an empty protocol means a local attach.
  std::string target = database;
  if (protocol.empty() || KeyEquals(protocol, "TCPIP") || !server.empty()) {
    target = (server.empty() ? std::string("localhost") : server);
    if (!port.empty()) target += "/" + port;
    target += ":" + database;
  }

  const std::string key = target + '\n' + ParamValue("User_Name") + '\n' + ParamValue("Password") +
                          '\n' + std::to_string(dialect) + '\n' + ParamValue("CharacterSet") +
                          '\n' + std::to_string(reinterpret_cast<uintptr_t>(&lib));
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
  Firebird::IXpbBuilder* dpb = nullptr;
  try {
    dpb = lib.util->getXpbBuilder(&status, Firebird::IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, ParamValue("User_Name").c_str());
    dpb->insertString(&status, isc_dpb_password, ParamValue("Password").c_str());
    dpb->insertInt(&status, isc_dpb_sql_dialect, dialect);
    dpb->insertInt(&status, isc_dpb_connect_timeout, kConnectTimeoutSeconds);
    // A connection character set is only sent when one is configured: without it the
    // server hands text over as stored (Windows-1252 bytes).
    std::string charset = ParamValue("CharacterSet");
    if (!charset.empty()) dpb->insertString(&status, isc_dpb_lc_ctype, charset.c_str());
    Firebird::IAttachment* att = lib.provider->attachDatabase(
        &status, target.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
    dpb->dispose();
    dpb = nullptr;
    impl_->att = att;
    impl_->key = key;
    ++impl_->epoch;
  } catch (const Firebird::FbException& e) {
    if (dpb) dpb->dispose();
    ThrowFb(lib, e);
  }
}

void TStoreConnection::Close() {
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

void TStoreConnection::Impl::Abandon(TStoreConnection& /*owner*/) {
  for (TStoreQuery::Impl* q : queries) q->Release(/*polite=*/false);
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
