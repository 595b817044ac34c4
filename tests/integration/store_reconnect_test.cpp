// A server restart between two statements: the next statement re-attaches by itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/store_fixture.h"

namespace zv {
namespace {

std::string FirebirdScript() {
  return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "scripts" /
          "firebird")
      .string();
}

// Starts the server again however the test ends.
class ServerRestartGuard {
 public:
  ~ServerRestartGuard() {
    if (stopped_) Run("start");
  }
  void Stop() {
    stopped_ = true;
    ASSERT_EQ(Run("stop"), 0);
  }
  void Start() {
    ASSERT_EQ(Run("start"), 0);
    stopped_ = false;
  }

 private:
  static int Run(const char* what) {
    std::string cmd = FirebirdScript() + " " + what + " >/dev/null";
    return std::system(cmd.c_str());
  }
  bool stopped_ = false;
};

class StoreReconnectTest : public test::StoreFixture {};

TEST_F(StoreReconnectTest, NextStatementAfterAServerRestartSucceeds) {
  if (::geteuid() != 0) GTEST_SKIP() << "restarting the Firebird server needs root";
  CreateStore();
  Sql({"insert into padrao (codigo, cgc, zentrovia_datainicio) values (1, '1', '2026-12-01')"});
  Connect();
  TSrvZentrovia& svc = Service();
  ASSERT_TRUE(svc.DbConnected());
  TStoreQuery& q = svc.Store().StoreQuery2();
  q.ClearSQL();
  q.AddSQL("select count(*) as n from padrao");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 1);

  {
    ServerRestartGuard server;
    server.Stop();
    server.Start();
  }

  q.ClearSQL();
  q.AddSQL(
      "update padrao set zentrovia_ultvenda = :venda where codigo is not null and "
      "coalesce(cgc, '') <> '' ");
  q.ParamByName("venda").AsInteger(120);
  q.Prepare();
  q.ExecSQL();
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "120");

  // An already prepared statement comes back too.
  q.ParamByName("venda").AsInteger(121);
  {
    ServerRestartGuard server;
    server.Stop();
    server.Start();
  }
  q.ExecSQL();
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "121");
  EXPECT_TRUE(svc.Store().StoreConnection().Connected());

  // A settings reload right after a restart reopens the connection without a failure.
  {
    ServerRestartGuard server;
    server.Stop();
    server.Start();
  }
  svc.GetCredenciaisZentrovia();
  EXPECT_EQ(svc.Settings().zentrovia_ultvenda, 121);
  for (const std::string& line : LogMessages())
    EXPECT_EQ(line.find("Falha"), std::string::npos) << line;
}

// Close and Open keep the server session when the login is the same (the jobs reopen the
// connection for every sale), and only then.
TEST_F(StoreReconnectTest, ReopeningKeepsTheSessionOfTheSameLoginOnly) {
  CreateStore();
  TFBConn fb;
  TStoreConnection conn;
  fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", conn);
  fb.ConfigureConnection(conn);
  fb.ConnectConn(conn);
  TStoreQuery q(&conn);
  auto session = [&] {
    q.ClearSQL();
    q.AddSQL("select current_connection as id from RDB$DATABASE");
    q.Open();
    return q.FieldByName("id").AsInteger();
  };
  const int64_t first = session();
  conn.Close();
  EXPECT_FALSE(conn.Connected());
  EXPECT_FALSE(q.Active());
  conn.Open();
  EXPECT_EQ(session(), first);

  fb.CreateConn("127.0.0.1", db_path, "3050", "SYSDBA", "pelvoxard", conn);
  fb.ConfigureConnection(conn);
  conn.Close();
  conn.Open();
  const int64_t second = session();
  EXPECT_NE(second, first);
  EXPECT_EQ(Value("select count(*) from mon$attachments where mon$attachment_id = " +
                  std::to_string(first)),
            "0");
}

}  // namespace
}  // namespace zv
