// Placeholder until the store layer lands: every entry point reports that it is missing.
#include "platform/errors.h"
#include "service/srv_zentrovia.h"
#include "store/fb_conn.h"
#include "store/store_query.h"

namespace zv {

namespace {
[[noreturn]] void Missing() { throw ENotAvailable("store access is not available in this build"); }
}  // namespace

struct TStoreConnection::Impl {};
struct TStoreQuery::Impl {};
class FbClientLibrary {};

TFbDriverLink::TFbDriverLink() = default;
TFbDriverLink::~TFbDriverLink() = default;
FbClientLibrary& TFbDriverLink::Library() { Missing(); }
TStoreConnection::TStoreConnection() = default;
TStoreConnection::~TStoreConnection() = default;
void TStoreConnection::Open() { Missing(); }
void TStoreConnection::Close() {}
bool TStoreConnection::Connected() const { return false; }
TStoreQuery::TStoreQuery(TStoreConnection* c) : connection_(c) {}
TStoreQuery::~TStoreQuery() = default;
void TStoreQuery::ClearSQL() { sql_.clear(); }
void TStoreQuery::AddSQL(std::string_view text) { sql_ += text; }
TStoreParam& TStoreQuery::ParamByName(std::string_view) { Missing(); }
void TStoreQuery::Prepare() { Missing(); }
void TStoreQuery::Open() { Missing(); }
const TStoreField& TStoreQuery::FieldByName(std::string_view) const { Missing(); }
int64_t TStoreField::AsInteger() const { Missing(); }

void TSrvZentrovia::IniConn() { Missing(); }
void TSrvZentrovia::GetCredenciaisZentrovia() {}

}  // namespace zv
