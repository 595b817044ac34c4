// The query object: its SQL text with :name parameters, run through its statement.

#include <memory>

#include "base/errors.h"
#include "store/fb_statement.h"
#include "store/sql_params.h"

namespace zv {

struct TStoreQuery::Impl {
  FbStatement statement;
  // The text as the server takes it (markers as "?") and the parameter behind each marker.
  bool parsed = false;
  std::string rewritten;
  std::vector<size_t> marker_params;
  std::vector<std::unique_ptr<TStoreParam>> params;

  void Parse(const std::string& sql) {
    if (parsed) return;
    const ParsedSql& text = ParseNamedParams(sql);
    rewritten = text.rewritten;
    const std::vector<std::string>& names = text.names;
    std::vector<std::unique_ptr<TStoreParam>> old = std::move(params);
    params.clear();
    marker_params.clear();
    for (const std::string& name : names) {
      size_t idx = params.size();
      for (size_t k = 0; k < params.size(); ++k)
        if (SameName(params[k]->Name(), name)) idx = k;
      if (idx == params.size()) {
        auto p = std::make_unique<TStoreParam>(name);
        // A value bound before the text grew keeps its value.
        for (auto& o : old)
          if (o && SameName(o->Name(), name)) p = std::move(o);
        params.push_back(std::move(p));
      }
      marker_params.push_back(idx);
    }
    parsed = true;
  }

  FbStatement::Inputs Inputs() const {
    FbStatement::Inputs in;
    for (size_t idx : marker_params) in.push_back(&params[idx]->value());
    return in;
  }
};

TStoreQuery::TStoreQuery(TStoreConnection* connection) : impl_(std::make_unique<Impl>()) {
  SetConnection(connection);
}

TStoreQuery::~TStoreQuery() = default;

void TStoreQuery::SetConnection(TStoreConnection* connection) {
  impl_->statement.SetConnection(connection);
}

TStoreConnection* TStoreQuery::Connection() const {
  return impl_->statement.connection();
}

void TStoreQuery::ClearSQL() {
  impl_->statement.CloseOrRelease(FbStatement::Release::kGiveBack);
  sql_.clear();
  impl_->parsed = false;
  impl_->rewritten.clear();
  impl_->params.clear();
  impl_->marker_params.clear();
}

void TStoreQuery::AddSQL(std::string_view text) {
  impl_->statement.CloseOrRelease(FbStatement::Release::kGiveBack);
  if (!sql_.empty()) sql_ += "\n";
  sql_.append(text);
  // Parsed when first used: a text added in several pieces is parsed once, whole.
  impl_->parsed = false;
}

TStoreParam& TStoreQuery::ParamByName(std::string_view name) {
  impl_->Parse(sql_);
  for (auto& p : impl_->params)
    if (SameName(p->Name(), name)) return *p;
  throw EDatabaseError("Parameter '" + std::string(name) + "' not found");
}

void TStoreQuery::Prepare() {
  impl_->Parse(sql_);
  impl_->statement.Prepare(impl_->rewritten, impl_->marker_params.size());
}

void TStoreQuery::Open() {
  impl_->Parse(sql_);
  impl_->statement.Execute(impl_->rewritten, impl_->marker_params.size(), impl_->Inputs(), true);
}

void TStoreQuery::ExecSQL() {
  impl_->Parse(sql_);
  impl_->statement.Execute(impl_->rewritten, impl_->marker_params.size(), impl_->Inputs(), false);
}

void TStoreQuery::Close() {
  impl_->statement.CloseOrRelease(FbStatement::Release::kKeepPrepared);
}

bool TStoreQuery::Active() const {
  return impl_->statement.Active();
}

bool TStoreQuery::Eof() const {
  return impl_->statement.Eof();
}

bool TStoreQuery::IsEmpty() const {
  return impl_->statement.IsEmpty();
}

void TStoreQuery::Next() {
  impl_->statement.Next();
}

int64_t TStoreQuery::RecordCount() {
  return impl_->statement.RecordCount();
}

const TStoreField& TStoreQuery::FieldByName(std::string_view name) const {
  return impl_->statement.Field(name);
}

}  // namespace zv
