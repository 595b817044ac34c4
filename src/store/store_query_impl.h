#pragma once
// The state of one query object: its statement text, the prepared statement with the
// server's description of markers and columns, and the open cursor.

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "store/fb_client.h"
#include "store/store_query.h"

namespace zv {

struct FbDesc {
  unsigned type = 0;
  int subtype = 0;
  unsigned length = 0;
  int scale = 0;
  unsigned charset = 0;
};

struct FbColumn {
  FbDesc desc;
  unsigned offset = 0;
  unsigned null_offset = 0;
};

struct TStoreQuery::Impl {
  explicit Impl(TStoreQuery* q) : owner(q) {}
  TStoreQuery* owner;

  // Statement text after :name rewriting; the parameter behind each "?".
  bool parsed = false;
  std::string rewritten;
  std::vector<size_t> marker_params;
  std::vector<std::unique_ptr<TStoreParam>> params;

  // Prepared statement and its description.
  Firebird::IStatement* stmt = nullptr;
  uint64_t epoch = 0;
  unsigned stmt_type = 0;
  Firebird::IMessageMetadata* in_described = nullptr;
  std::vector<FbDesc> in_desc;
  Firebird::IMessageMetadata* out_meta = nullptr;
  std::vector<FbColumn> cols;
  std::vector<unsigned char> out_buf;
  std::vector<TStoreField> null_row;

  // The input message of the last run (kept for the record count).
  Firebird::IMessageMetadata* in_meta = nullptr;
  std::vector<unsigned char> in_buf;
  std::string in_signature;

  // The open result.
  Firebird::ITransaction* tra = nullptr;
  // false while tra is the connection's shared read-only transaction, which plain queries
  // use: it never needs a commit, and saves two round trips per query.
  bool owns_tra = false;
  Firebird::IResultSet* rs = nullptr;
  bool active = false;
  bool eof = true;
  int64_t position = 0;                        // rows delivered so far, the current one included
  int64_t total = -1;                          // whole result size once known
  std::deque<std::vector<TStoreField>> ahead;  // rows read ahead for the record count
  std::vector<TStoreField> row;
  // Set when the cursor was lost with rows still unread: the connection dropped or was
  // re-attached on behalf of another query, or a fetch failed. Such a result can never be
  // completed, so every further read raises this text instead of ending it early. Cleared by
  // Close, ClearSQL and the next run.
  bool broken = false;
  std::string broken_reason;

  // Frees the cursor, the transaction and (unless keep_statement) the statement. polite:
  // the server is reachable and is told; otherwise the handles are just dropped.
  void Release(bool polite, bool keep_statement = false);
  // Frees the handles only; the rows already read stay.
  void DropHandles(bool polite, bool keep_statement);
  // Release for a cursor that ends without the job asking: a result with unread rows
  // becomes broken; a complete one (every row fetched or read ahead) stays readable.
  void Break(bool polite, const std::string& reason);
  void Orphan() { owner->connection_ = nullptr; }
};

}  // namespace zv
