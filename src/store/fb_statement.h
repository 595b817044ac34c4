#pragma once
// One query's statement on the server: the prepared statement, its input and output
// messages, the open cursor and the rows read. Prepared statements outlive the runs: when a
// query changes its text, or the connection is closed and its session kept, the prepared
// statement goes to the connection's cache and the next run of the same text takes it back
// instead of preparing it again.

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/fb_client.h"
#include "store/fb_decoding.h"
#include "store/fb_prepared.h"
#include "store/store_field.h"

namespace zv {

class TStoreConnection;  // store/store_query.h

class FbStatement {
 public:
  FbStatement() = default;
  ~FbStatement();
  FbStatement(const FbStatement&) = delete;
  FbStatement& operator=(const FbStatement&) = delete;

  // Moves to another connection (or none), giving the prepared statement back first.
  void SetConnection(TStoreConnection* connection);
  TStoreConnection* connection() const { return conn_; }
  // The connection is being destroyed: forget it; the handles died with it.
  void Orphan();

  // The values bound to the markers, in order.
  using Inputs = std::vector<const TStoreField::Value*>;

  // Has sql (markers as "?", `markers` of them) prepared, from the cache when it can.
  void Prepare(const std::string& sql, size_t markers);
  // Runs sql. with_rows: a result is expected and the first row is read (Open); otherwise
  // the statement runs for its effect and nothing stays open (ExecSQL).
  void Execute(const std::string& sql, size_t markers, const Inputs& inputs, bool with_rows);
  void Next();
  int64_t RecordCount();
  const TStoreField& Field(std::string_view name) const;
  bool Active() const { return active_; }
  bool Eof() const { return !active_ || eof_; }
  bool IsEmpty() const { return !active_ || (eof_ && position_ == 0); }

  enum class Release {
    kKeepPrepared,  // the query closes; the same text runs again next
    kGiveBack,      // the query's text changes or the connection closes: to the cache
    kDrop,          // the attachment is gone: nothing to tell the server
  };
  // Ends the run (cursor closed, own transaction committed, rows forgotten) and releases
  // the prepared statement as asked. Never throws.
  void CloseOrRelease(Release how);
  // The cursor ends without the query asking: the connection was lost (polite false) or
  // the transaction it reads in ends. A result with unread rows becomes broken; a complete
  // one stays readable.
  void Break(bool polite, const std::string& reason);
  // Whether the open cursor reads in this transaction.
  bool ReadsIn(const Firebird::ITransaction* tra) const { return tra_ && tra_ == tra; }

 private:
  TStoreConnection& Conn() const;
  FbTextRules Rules() const;

  // Runs body on the server; a connection found lost is re-attached and body run once
  // more, unless the statement may already have reached the server (body sets `sent` just
  // before handing it over: from then on a retry could run it twice) or a transaction is
  // open (a new attachment would run the rest of its work without its beginning).
  template <class Body>
  void OnServer(Body body);
  // Reads rows of the open cursor: a failure breaks the result, as its rows are gone.
  template <class Body>
  void Reading(Body body);

  void PrepareOn(Firebird::ThrowStatusWrapper* st, const std::string& sql, size_t markers);
  void BindInputs(Firebird::ThrowStatusWrapper* st, const Inputs& inputs);
  void StartTransaction(Firebird::ThrowStatusWrapper* st, bool read_only);
  // One row from the cursor into out; false at the end of the result (the cursor is then
  // finished).
  bool FetchInto(Firebird::ThrowStatusWrapper* st, std::vector<TStoreField>& out);
  // The next row for the query: from the rows read ahead, else from the cursor.
  void Fetch(Firebird::ThrowStatusWrapper* st);
  // The whole result has been read: the server gets its resources back at once.
  void FinishCursor(Firebird::ThrowStatusWrapper* st);
  void SetEof();
  void DecodeRow(Firebird::ThrowStatusWrapper* st, std::vector<TStoreField>& out);
  std::string ReadBlob(Firebird::ThrowStatusWrapper* st, const ISC_QUAD& id);
  // Drops the cursor and the transaction; polite: closes and commits them on the server.
  void DropCursor(bool polite);
  void ResetRows();

  TStoreConnection* conn_ = nullptr;
  std::unique_ptr<FbPrepared> prepared_;
  std::vector<unsigned char> in_buf_;
  std::vector<unsigned char> out_buf_;

  // The open cursor and the transaction it reads in. owns_tra_ is false for the shared
  // read-only transaction of plain queries and for the connection's explicit transaction.
  Firebird::ITransaction* tra_ = nullptr;
  bool owns_tra_ = false;
  Firebird::IResultSet* rs_ = nullptr;

  bool active_ = false;
  bool eof_ = true;
  int64_t position_ = 0;                        // rows delivered so far, the current one included
  int64_t total_ = -1;                          // the whole result's size once known
  std::deque<std::vector<TStoreField>> ahead_;  // rows read ahead for the record count
  std::vector<TStoreField> row_;
  // Set when the cursor ended with rows unread (see Break): every read raises this text
  // instead of ending the result early, until the query closes or runs again.
  bool broken_ = false;
  std::string broken_reason_;
};

}  // namespace zv
