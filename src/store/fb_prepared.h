#pragma once
// Prepared statements of the store and the connection's cache of idle ones.

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "store/fb_client.h"
#include "store/fb_decoding.h"
#include "store/store_field.h"

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

}  // namespace zv
