#pragma once
// Internals shared by the connection (store_connection.cpp) and its statements
// (fb_statement.cpp).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/fb_client.h"
#include "store/fb_prepared.h"
#include "store/store_query.h"
#include "store/store_watchdog.h"

namespace zv {

class FbStatement;  // store/fb_statement.h

struct TStoreConnection::Impl {
  FbClientLibrary* lib = nullptr;
  Firebird::IAttachment* att = nullptr;
  // Read-only read-committed transaction for prepares, for the plain queries run outside an
  // explicit transaction and for the metadata stamp; such a transaction holds back nothing on
  // the server, so it stays open for the life of the attachment (and is parked with it).
  Firebird::ITransaction* meta_tra = nullptr;
  // The statements of the queries on this connection, and the prepared statements idle
  // between their runs (both of the current attachment, or of the parked one while the
  // connection is closed).
  std::vector<FbStatement*> statements;
  FbStatementCache cache;
  // The login of the current attachment.
  std::string key;
  // When the server last answered on this attachment.
  std::chrono::steady_clock::time_point last_answer;
  void Answered() { last_answer = std::chrono::steady_clock::now(); }
  // What the store's table layouts were at the last check (see MetadataStamp).
  std::string metadata_stamp;
  // A text that changes whenever a table is created, dropped or altered.
  std::string MetadataStamp();

  // Close keeps the server session of the attachment and Open takes it back when the login is
  // the same: as it is when the server answered on it a few milliseconds before, otherwise
  // after checking that the server still answers and whether the table layouts changed. A
  // fresh attach costs the authentication handshake, milliseconds of CPU, and the jobs close
  // and reopen the connection for every sale. Only the session, its read-only transaction and
  // its prepared statements are kept; every query is closed as before. Never both parked and
  // att at once.
  Firebird::IAttachment* parked = nullptr;
  Firebird::ITransaction* parked_meta_tra = nullptr;
  std::string parked_key;
  void DetachParked(bool polite);

  // The explicit transaction (StartTransaction to Commit or Rollback). in_transaction with
  // no tra: the connection was lost inside it, and every statement raises until Rollback.
  bool in_transaction = false;
  Firebird::ITransaction* tra = nullptr;
  // Raises EDatabaseError when the explicit transaction was lost.
  void CheckTransactionAlive() const;
  // Ends every cursor that runs in the explicit transaction: its unread rows die with it.
  void BreakTransactionCursors();

  // A read-write read-committed transaction that waits a while for a locked row.
  Firebird::ITransaction* StartWriteTransaction(Firebird::ThrowStatusWrapper* st);

  // Drops the attachment without talking to the server (it is gone) and with it every
  // statement's handles; results with unread rows become broken.
  void Abandon();
  Firebird::ITransaction* MetaTransaction();

  // The deadline on this connection's calls (see store_watchdog.h).
  StoreWatchSlot watch;
  // The error of a failed call: the watchdog's when it cut the connection, else the server's.
  std::string FailureText(const Firebird::FbException& e) const;
  // Whether a failed call means the attachment is gone (cut by the watchdog or lost).
  bool Lost(const Firebird::FbException& e) const;
};

// Raises the server's message for a failed call as EDatabaseError.
[[noreturn]] void ThrowFb(FbClientLibrary& lib, const Firebird::FbException& e);

}  // namespace zv
