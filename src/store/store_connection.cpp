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
  for (TStoreQuery::Impl* q : queries)
    q->Break(/*polite=*/false,
             "The connection to the store database was lost before the whole result was read");
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
