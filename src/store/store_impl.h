#pragma once
// Internals shared by the connection and the query objects.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/fb_client.h"
#include "store/store_query.h"

namespace zv {

struct TStoreConnection::Impl {
  FbClientLibrary* lib = nullptr;
  Firebird::IAttachment* att = nullptr;
  // Read-only read-committed transaction used for prepares; such a transaction holds back
  // nothing on the server, so it stays open for the life of the attachment.
  Firebird::ITransaction* meta_tra = nullptr;
  // Incremented by every attach: a query whose statement belongs to an older attachment
  // prepares it again.
  uint64_t epoch = 0;
  std::vector<TStoreQuery::Impl*> queries;

  // Drops the attachment without talking to the server (it is gone) and frees every query's
  // handles.
  void Abandon(TStoreConnection& owner);
  Firebird::ITransaction* MetaTransaction();
};

// Runs one attach / statement step and turns a Firebird error into EDatabaseError.
[[noreturn]] void ThrowFb(FbClientLibrary& lib, const Firebird::FbException& e);

// Releases a Firebird handle whose proper close (detach, commit, free) failed or is not
// wanted, without letting a second error escape.
template <class T>
void ReleaseQuietly(T*& handle) {
  if (handle) {
    handle->release();
    handle = nullptr;
  }
}

}  // namespace zv
