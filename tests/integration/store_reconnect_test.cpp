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
  ASSERT_TRUE(svc.DbConnected);
  TStoreQuery& q = *svc.StoreQuery2;
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
  EXPECT_TRUE(svc.StoreConnection->Connected());
}

}  // namespace
}  // namespace zv
