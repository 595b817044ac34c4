// IniConn against the real server: where the database is found, the two passwords, and
// every way of failing to connect.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/errors.h"
#include "support/store_fixture.h"
#include "support/store_rows.h"

namespace zv {
namespace {

using ::testing::ElementsAre;

const char* const kCreated = "Servi\xC3\xA7o criado";
const char* const kConnFailed = "Falha na conex\xC3\xA3o com o banco de dados do Quelmara";
const char* const kSettingsFailed =
    "Falha ao tentar recuperar os dados da Zentrovia do banco do Quelmara";

class StoreConnectionTest : public test::StoreFixture {
 protected:
  // A settings row whose start date needs no adjustment on the fixture's clock.
  void StoreWithSettings() {
    CreateStore();
    Sql({test::SettingsRow{.cgc = "'1.2/3-4'", .datainicio = "'2026-12-01'"}.Sql()});
  }
};

TEST_F(StoreConnectionTest, WithoutIniFileConnectsToTheDefaultDatabase) {
  StoreWithSettings();
  Connect();
  TSrvZentrovia& s = Service();
  EXPECT_TRUE(s.DbConnected());
  EXPECT_EQ(s.Store().StoreServer(), "localhost");
  EXPECT_EQ(s.Store().StoreDatabasePath(), dir() + "DORVALI.FDB");
  EXPECT_EQ(s.Store().StoreConnection().ParamValue("Server"), "localhost");
  EXPECT_EQ(s.Store().StoreConnection().ParamValue("Port"), "3050");
  EXPECT_EQ(s.Store().StoreConnection().ParamValue("User_Name"), "SYSDBA");
  EXPECT_EQ(s.Store().StoreConnection().ParamValue("Password"), "pelvoxard");
  EXPECT_EQ(s.Store().FBConn().FDatabase, dir() + "DORVALI.FDB");
  EXPECT_EQ(s.Settings().cnpj, "1234");
  // Every query is attached and the connection is open after the settings reload.
  EXPECT_TRUE(s.Store().StoreConnection().Connected());
  EXPECT_EQ(s.Store().StoreQuery1().Connection(), &s.Store().StoreConnection());
  EXPECT_EQ(s.Store().StoreQuery2().Connection(), &s.Store().StoreConnection());
  EXPECT_EQ(s.Store().StoreQuery3().Connection(), &s.Store().StoreConnection());
  EXPECT_EQ(s.Store().StoreQuery1().SQLText(), "");
  EXPECT_THAT(LogMessages(), ElementsAre(kCreated));
}

TEST_F(StoreConnectionTest, IniFileNamesServerAndPathAndIsReadAtEveryCall) {
  StoreWithSettings();
  WriteIni("127.0.0.1", db_path);
  // Not the default location: only the ini file can lead there.
  std::string moved = dir() + "LOJA.FDB";
  ASSERT_EQ(std::rename(db_path.c_str(), moved.c_str()), 0);
  WriteIni("127.0.0.1", moved);
  Connect();
  EXPECT_TRUE(Service().DbConnected());
  EXPECT_EQ(Service().Store().StoreServer(), "127.0.0.1");
  EXPECT_EQ(Service().Store().StoreDatabasePath(), moved);

  // The next call reads the file again.
  Service().Store().StoreConnection().Close();
  WriteIni("localhost", moved);
  Connect();
  EXPECT_TRUE(Service().DbConnected());
  EXPECT_EQ(Service().Store().StoreServer(), "localhost");
  db_path = moved;  // so that the fixture drops it
}

struct FailureCase {
  const char* name;
  const char* server;
  const char* file;  // relative to the test directory
};

TEST_F(StoreConnectionTest, AFailedConnectionLogsTwoLinesAndNeverCreatesTheDatabase) {
  StoreWithSettings();
  const FailureCase cases[] = {
      {"database missing", "localhost", "NOPE.FDB"},
      // The server listens on 127.0.0.1 only: another loopback address refuses at once.
      {"server unreachable", "127.0.0.2", "DORVALI.FDB"},
  };
  Service();  // its creation line is not part of what each case checks
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove((dir() + "Zentrovia.log").c_str());
    WriteIni(c.server, dir() + c.file);
    timer.Disable();
    Connect();
    EXPECT_FALSE(Service().DbConnected());
    EXPECT_FALSE(Service().Store().StoreConnection().Connected());
    EXPECT_THAT(LogMessages(), ElementsAre(kConnFailed, kSettingsFailed));
    EXPECT_TRUE(timer.Enabled());
  }
  EXPECT_FALSE(std::filesystem::exists(dir() + "NOPE.FDB"));
}

// Sets SYSDBA's password for the length of a test and puts "pelvoxard" back, even when the
// test fails half way.
class SysdbaPasswordSwitch {
 public:
  SysdbaPasswordSwitch(std::string db, std::string password)
      : db_(std::move(db)), password_(std::move(password)) {
    sample::ExecuteSql(db_, {"alter user SYSDBA password '" + password_ + "'"});
  }
  ~SysdbaPasswordSwitch() {
    sample::ServerLogin login;
    login.password = password_;
    try {
      sample::ExecuteSql(db_, {"alter user SYSDBA password 'pelvoxard'"}, login);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "could not restore SYSDBA's password: " << e.what();
    }
  }

 private:
  std::string db_;
  std::string password_;
};

TEST_F(StoreConnectionTest, TheSecondPasswordIsTriedSilently) {
  StoreWithSettings();
  {
    SysdbaPasswordSwitch sw(db_path, "mirsol");
    Connect();
    EXPECT_TRUE(Service().DbConnected());
    EXPECT_EQ(Service().Store().StoreConnection().ParamValue("Password"), "mirsol");
    EXPECT_EQ(Service().Settings().cnpj, "1234");
  }
  EXPECT_THAT(LogMessages(), ElementsAre(kCreated));
}

TEST_F(StoreConnectionTest, LoginAndStatementFailuresCarryTheServersMessage) {
  CreateStore();
  TFBConn fb;
  TStoreConnection conn;
  fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "wrong-password", conn);
  fb.ConfigureConnection(conn);
  try {
    fb.ConnectConn(conn);
    FAIL() << "a wrong password was accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("password"), std::string::npos) << e.what();
  }

  fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", conn);
  fb.ConfigureConnection(conn);
  EXPECT_TRUE(fb.ConnectConn(conn));
  TStoreQuery q(&conn);
  q.AddSQL("select * from nao_existe");
  try {
    q.Open();
    FAIL() << "an unknown table was accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("NAO_EXISTE"), std::string::npos) << e.what();
  }
  // The connection is still usable after a failed statement.
  q.ClearSQL();
  q.AddSQL("select count(*) as n from padrao");
  q.Open();
  EXPECT_EQ(q.FieldByName("N").AsInteger(), 0);
  fb.DisconnectConn(conn);
  EXPECT_FALSE(conn.Connected());
}

}  // namespace
}  // namespace zv
