#include "store/fb_prepared.h"

#include <utility>

namespace zv {

// ---- FbPrepared ----

FbPrepared::~FbPrepared() {
  ReleaseQuietly(in_meta);
  ReleaseQuietly(out_meta);
  ReleaseQuietly(in_described);
  ReleaseQuietly(stmt);
}

std::unique_ptr<FbPrepared> FbPrepared::Make(Firebird::ThrowStatusWrapper* st,
                                             Firebird::IAttachment* att,
                                             Firebird::ITransaction* meta_tra,
                                             const std::string& sql) {
  auto p = std::make_unique<FbPrepared>();
  p->sql = sql;
  p->stmt = att->prepare(st, meta_tra, 0, sql.c_str(), 3,
                         Firebird::IStatement::PREPARE_PREFETCH_METADATA);
  p->type = p->stmt->getType(st);

  p->in_described = p->stmt->getInputMetadata(st);
  const unsigned nin = p->in_described->getCount(st);
  p->in_desc.resize(nin);
  for (unsigned i = 0; i < nin; ++i) {
    FbDesc& d = p->in_desc[i];
    d.type = p->in_described->getType(st, i);
    d.subtype = p->in_described->getSubType(st, i);
    d.length = p->in_described->getLength(st, i);
    d.scale = p->in_described->getScale(st, i);
    d.charset = p->in_described->getCharSet(st, i);
  }

  p->out_meta = p->stmt->getOutputMetadata(st);
  const unsigned nout = p->out_meta->getCount(st);
  p->cols.resize(nout);
  for (unsigned i = 0; i < nout; ++i) {
    FbColumn& col = p->cols[i];
    col.desc.type = p->out_meta->getType(st, i);
    col.desc.subtype = p->out_meta->getSubType(st, i);
    col.desc.length = p->out_meta->getLength(st, i);
    col.desc.scale = p->out_meta->getScale(st, i);
    col.desc.charset = p->out_meta->getCharSet(st, i);
    col.offset = p->out_meta->getOffset(st, i);
    col.null_offset = p->out_meta->getNullOffset(st, i);
    const char* alias = p->out_meta->getAlias(st, i);
    col.name = (alias && *alias) ? alias : p->out_meta->getField(st, i);
    p->null_row.emplace_back(col.name, TStoreField::Value{});
  }
  p->out_length = p->out_meta->getMessageLength(st);
  return p;
}

void FbPrepared::Free(FbClientLibrary& lib) {
  if (!stmt) return;
  FbStatus status(lib);
  try {
    stmt->free(status.get());
    stmt = nullptr;
  } catch (const Firebird::FbException&) {
    ReleaseQuietly(stmt);
  }
}

bool FbPrepared::IsCursor() const {
  return type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd;
}

// ---- FbStatementCache ----

std::unique_ptr<FbPrepared> FbStatementCache::Take(const std::string& sql) {
  for (auto it = idle_.begin(); it != idle_.end(); ++it) {
    if ((*it)->sql == sql) {
      std::unique_ptr<FbPrepared> p = std::move(*it);
      idle_.erase(it);
      return p;
    }
  }
  return nullptr;
}

void FbStatementCache::Give(std::unique_ptr<FbPrepared> prepared, FbClientLibrary& lib) {
  idle_.push_front(std::move(prepared));
  while (idle_.size() > kCapacity) {
    idle_.back()->Free(lib);
    idle_.pop_back();
  }
}

void FbStatementCache::Clear(FbClientLibrary* lib, bool polite) {
  if (polite && lib)
    for (auto& p : idle_) p->Free(*lib);
  idle_.clear();
}

}  // namespace zv
