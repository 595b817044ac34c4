#pragma once
// TFBConn holds the connection values and applies the connection settings to a connection.

#include <string>

#include "store/store_query.h"

namespace zv {

class TFBConn {
 public:
  void CreateConn(const std::string& Server, const std::string& DatabasePath,
                  const std::string& Port, const std::string& Username, const std::string& Password,
                  TStoreConnection& Conn);
  void ConfigureConnection(TStoreConnection& Conn);
  bool ConnectConn(TStoreConnection& Conn);
  void DisconnectConn(TStoreConnection& Conn);

  std::string FDatabase;
  std::string FUser_Name;
  std::string FPassword;
  std::string FServer;
  std::string FPort;
  std::string FCharacterSet;
};

}  // namespace zv
