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
#include "store/store_query.h"

namespace zv {

// A prepared statement and the server's description of it. It belongs to one attachment:
// held by the statement that runs it, or idle in that connection's cache.
struct FbPrepared {
  FbPrepared() = default;
  FbPrepared(const FbPrepared&) = delete;
  FbPrepared& operator=(const FbPrepared&) = delete;
  // Releases the handles without telling the server (Free tells it).
  ~FbPrepared();

  // Prepares sql (markers as "?") on the attachment; the description is read at once.
  static std::unique_ptr<FbPrepared> Make(Firebird::ThrowStatusWrapper* st,
                                          Firebird::IAttachment* att,
                                          Firebird::ITransaction* meta_tra, const std::string& sql);
  // Frees the statement on the server, as far as it still answers.
  void Free(FbClientLibrary& lib);
  bool IsCursor() const;

  std::string sql;
  Firebird::IStatement* stmt = nullptr;
  unsigned type = 0;  // isc_info_sql_stmt_*
  Firebird::IMessageMetadata* in_described = nullptr;
  std::vector<FbDesc> in_desc;
  Firebird::IMessageMetadata* out_meta = nullptr;
  std::vector<FbColumn> cols;
  std::vector<TStoreField> null_row;
  unsigned out_length = 0;
  // The input message layout of the last run: it depends only on the types and lengths
  // bound, which stay the same when one statement runs cycle after cycle.
  Firebird::IMessageMetadata* in_meta = nullptr;
  std::string in_signature;
  std::vector<unsigned> in_offsets, in_null_offsets;
};

// Idle prepared statements of the connection's attachment, keyed by their text, the most
// recently used first. Two queries running the same text at once each hold one.
class FbStatementCache {
 public:
  static constexpr size_t kCapacity = 32;
  std::unique_ptr<FbPrepared> Take(const std::string& sql);
  // Frees the least recently used beyond the capacity.
  void Give(std::unique_ptr<FbPrepared> prepared, FbClientLibrary& lib);
  // polite: the attachment still answers and frees them on the server too.
  void Clear(FbClientLibrary* lib, bool polite);
  size_t size() const { return idle_.size(); }

 private:
  std::list<std::unique_ptr<FbPrepared>> idle_;
};

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
