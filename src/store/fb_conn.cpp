// TFBConn: the connection values and the settings every store connection gets.

#include "store/fb_conn.h"

namespace zv {

void TFBConn::CreateConn(const std::string& Server, const std::string& DatabasePath,
                         const std::string& Port, const std::string& Username,
                         const std::string& Password, TStoreConnection& /*Conn*/) {
  FServer = Server;
  FPort = Port;
  FDatabase = DatabasePath;
  FUser_Name = Username;
  FPassword = Password;
}

void TFBConn::ConfigureConnection(TStoreConnection& Conn) {
  Conn.Params.clear();
  Conn.Params.push_back("DriverID=FB");
  Conn.Params.push_back("Pooled=false");
  Conn.Params.push_back("Database=" + FDatabase);
  Conn.Params.push_back("User_Name=" + FUser_Name);
  Conn.Params.push_back("Password=" + FPassword);
  Conn.Params.push_back("Protocol=TCPIP");
  Conn.Params.push_back("Server=" + FServer);
  Conn.Params.push_back("Port=" + FPort);
  Conn.Params.push_back("SQLDialect=3");
  Conn.Params.push_back("CharacterSet=" + FCharacterSet);
  Conn.Params.push_back("ExtendedMetaData=False");
  Conn.Params.push_back("OpenMode=Open");
  Conn.SetParamValue("Pooled", "False");
  Conn.SetParamValue("POOLING", "False");

  Conn.options.read_committed = true;
  Conn.options.auto_commit = true;
  Conn.options.record_count_total = true;
  Conn.options.auto_reconnect = true;
  Conn.options.auto_reconnect = true;
  Conn.options.empty_strings_to_null = true;
  Conn.options.trim_strings = true;
  Conn.options.trim_to_length = true;
  Conn.options.login_prompt = false;
  Conn.options.silent_mode = true;
}

bool TFBConn::ConnectConn(TStoreConnection& Conn) {
  Conn.Open();
  return Conn.Connected();
}

void TFBConn::DisconnectConn(TStoreConnection& Conn) {
  if (Conn.Connected()) Conn.Close();
}

}  // namespace zv
