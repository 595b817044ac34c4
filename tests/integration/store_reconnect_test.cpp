// A server restart between two statements: the next statement re-attaches by itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/errors.h"
#include "support/store_fixture.h"
#include "support/store_rows.h"

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
  Sql({test::SettingsRow{.cgc = "'1'", .datainicio = "'2026-12-01'"}.Sql()});
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

// An attachment cut while a result is half read (the server restarted, or the attachment
// killed by an administrator): the query never reports the end of its rows early.
class StoreLostConnectionTest : public test::StoreFixture {
 protected:
  static constexpr int kRows = 20000;

  void SetUp() override {
    test::StoreFixture::SetUp();
    if (StoreMissing()) return;
    CreateStore();
    Sql({"create table big (id integer)",
         "execute block as declare i int = 1; begin while (i <= " + std::to_string(kRows) +
             ") do begin insert into big (id) values (:i); i = i + 1; end end"});
    fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", conn);
    fb.ConfigureConnection(conn);
    fb.ConnectConn(conn);
  }

  void CutAttachments() {
    Sql(
        {"delete from mon$attachments where mon$attachment_id <> current_connection and "
         "mon$system_flag = 0"});
  }

  // Reads the rest of a's rows, checking their order; the rows read and the error raised.
  std::pair<int64_t, std::string> Drain(int64_t next_id) {
    int64_t read = 0;
    try {
      while (!a.Eof()) {
        EXPECT_EQ(a.FieldByName("id").AsInteger(), next_id++);
        ++read;
        a.Next();
      }
    } catch (const EDatabaseError& e) {
      return {read, e.what()};
    }
    return {read, ""};
  }

  void OpenBig(const char* where = "") {
    a.ClearSQL();
    a.AddSQL(std::string("select id from big ") + where + " order by id");
    a.Open();
    for (int i = 0; i < 10; ++i) a.Next();
  }

  // Something run on the other query of the connection after the cut.
  void RunOther() {
    b.ClearSQL();
    b.AddSQL("select count(*) as n from big");
    b.Open();
    EXPECT_EQ(b.FieldByName("n").AsInteger(), kRows);
  }

  TFBConn fb;
  TStoreConnection conn;
  TStoreQuery a{&conn};
  TStoreQuery b{&conn};
};

TEST_F(StoreLostConnectionTest, AHalfReadResultRaisesInsteadOfEndingEarly) {
  struct Case {
    const char* name;
    bool count_first;  // RecordCount before the cut (the server counts, rows stay unread)
    bool other_query;  // another query re-attaches before the next fetch
  } cases[] = {
      {"re-attached on behalf of another query", false, true},
      {"found lost by its own fetch", false, false},
      {"counted, then re-attached", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenBig();
    if (c.count_first) {
      EXPECT_EQ(a.RecordCount(), kRows);
    }
    CutAttachments();
    if (c.other_query) RunOther();
    auto [read, error] = Drain(11);
    EXPECT_FALSE(error.empty()) << "the result ended after " << read << " more rows";
    EXPECT_LT(read, kRows - 10);
    // Still broken until the query is run again.
    EXPECT_FALSE(a.Eof());
    EXPECT_THROW(a.FieldByName("id"), EDatabaseError);
    EXPECT_THROW(a.RecordCount(), EDatabaseError);
    a.Close();
    EXPECT_TRUE(a.Eof());
  }
  // After all that, the connection works and whole results come again.
  OpenBig();
  EXPECT_EQ(Drain(11), std::make_pair(int64_t{kRows - 10}, std::string()));
}

TEST_F(StoreLostConnectionTest, AResultReadWholeBeforeTheCutIsStillDelivered) {
  OpenBig("where id <= 100");
  EXPECT_EQ(a.RecordCount(), 100);  // a small result is read ahead to its end
  CutAttachments();
  RunOther();
  EXPECT_EQ(Drain(11), std::make_pair(int64_t{90}, std::string()));
}

}  // namespace
}  // namespace zv
