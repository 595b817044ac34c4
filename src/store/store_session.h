#pragma once
// The store session: the driver link, the one connection and the three query objects through
// which every statement of the service runs, with the connection values read from the
// point-of-sale installation's ini file. Objects are created on first need and kept until
// Release (the service stop) or the destructor.

#include <chrono>
#include <memory>
#include <string>

#include "store/fb_conn.h"
#include "store/store_query.h"

namespace zv {

class TStoreSession {
 public:
  TStoreSession();
  ~TStoreSession();
  TStoreSession(const TStoreSession&) = delete;
  TStoreSession& operator=(const TStoreSession&) = delete;

  // Reads "Dorvali.ini" in `ini_dir` (section "Dorvali": "Servidor", "Caminho"), creates the
  // store objects when absent and attaches with the usual password, then the other one.
  // Returns whether it connected; when not, *error (if given) holds the first attempt's
  // reason. The queries are attached to the connection either way.
  bool Connect(const std::string& ini_dir, std::string* error);

  // Closes the connection and reopens it, the queries attached to it (the jobs do this at
  // their start). Raises EDatabaseError when the objects were never created or the server
  // refuses.
  void Reopen();

  // Closes the connection and releases every object, the driver link last.
  void Release();

  // The deadline on every store call, given to the connection at each Connect.
  std::chrono::milliseconds CallDeadline{std::chrono::seconds(120)};

  bool Created() const { return connection_ != nullptr; }
  const std::string& StoreServer() const { return server_; }
  const std::string& StoreDatabasePath() const { return database_path_; }
  // The connection values of the last attempt.
  const TFBConn& FBConn() const { return fb_conn_; }

  // Each raises EDatabaseError when the store objects were never created.
  TStoreConnection& StoreConnection();
  TStoreQuery& StoreQuery1();
  TStoreQuery& StoreQuery2();
  TStoreQuery& StoreQuery3();

 private:
  std::string server_;
  std::string database_path_;
  TFBConn fb_conn_;
  // Declared before the objects that use the client library it loads, so it goes last.
  std::unique_ptr<TFbDriverLink> driver_link_;
  std::unique_ptr<TStoreConnection> connection_;
  std::unique_ptr<TStoreQuery> query1_;
  std::unique_ptr<TStoreQuery> query2_;
  std::unique_ptr<TStoreQuery> query3_;
};

}  // namespace zv
