#include "store/store_session.h"

#include "base/errors.h"
#include "os/system.h"

namespace zv {

namespace {

// The store's SYSDBA password, and the one older installations were set up with.
constexpr const char* kPasswords[] = {"pelvoxard", "mirsol"};

TStoreQuery& Existing(const std::unique_ptr<TStoreQuery>& q, const char* name) {
  if (!q) throw EDatabaseError(std::string(name) + " is not connected to the store database");
  return *q;
}

}  // namespace

TStoreSession::TStoreSession() = default;

TStoreSession::~TStoreSession() {
  Release();
}

bool TStoreSession::Connect(const std::string& ini_dir, std::string* error) {
  const std::string ini = ini_dir + "Dorvali.ini";
  server_ = ReadIniString(ini, "Dorvali", "Servidor", "localhost");
  database_path_ = ReadIniString(ini, "Dorvali", "Caminho", ini_dir + "DORVALI.FDB");

  if (!driver_link_) driver_link_ = std::make_unique<TFbDriverLink>();
  if (!connection_) connection_ = std::make_unique<TStoreConnection>();
  if (!query1_) query1_ = std::make_unique<TStoreQuery>();
  if (!query2_) query2_ = std::make_unique<TStoreQuery>();
  if (!query3_) query3_ = std::make_unique<TStoreQuery>();
  connection_->DriverLink = driver_link_.get();
  connection_->CallDeadline = CallDeadline;

  bool connected = false;
  for (const char* password : kPasswords) {
    try {
      fb_conn_.CreateConn(server_, database_path_, "3050", "SYSDBA", password, *connection_);
      fb_conn_.ConfigureConnection(*connection_);
      fb_conn_.ConnectConn(*connection_);
      connected = true;
      break;
    } catch (const std::exception& e) {
      // The first attempt's error says what went wrong with the usual password.
      if (error && password == kPasswords[0]) *error = e.what();
    }
  }

  query1_->SetConnection(connection_.get());
  query2_->SetConnection(connection_.get());
  query3_->SetConnection(connection_.get());
  return connected;
}

void TStoreSession::Reopen() {
  TStoreConnection& conn = StoreConnection();
  conn.Close();
  conn.Open();
  StoreQuery1().SetConnection(&conn);
  StoreQuery2().SetConnection(&conn);
  StoreQuery3().SetConnection(&conn);
}

void TStoreSession::Release() {
  if (connection_) connection_->Close();
  // The queries and the connection hold handles of the client library: they go before the
  // driver link that unloads it.
  query1_.reset();
  query2_.reset();
  query3_.reset();
  connection_.reset();
  driver_link_.reset();
}

TStoreConnection& TStoreSession::StoreConnection() {
  if (!connection_) throw EDatabaseError("The store connection has not been created");
  return *connection_;
}
TStoreQuery& TStoreSession::StoreQuery1() {
  return Existing(query1_, "StoreQuery1");
}
TStoreQuery& TStoreSession::StoreQuery2() {
  return Existing(query2_, "StoreQuery2");
}
TStoreQuery& TStoreSession::StoreQuery3() {
  return Existing(query3_, "StoreQuery3");
}

}  // namespace zv
