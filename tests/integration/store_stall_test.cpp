// A store server that stops answering without closing the connection, through a relay that
// holds every byte while keeping the sockets open: each store call ends in a store error
// once its deadline passes, no cursor moves, nothing is posted short, and once bytes pass
// again everything goes out once.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "promotions/promotion_import.h"
#include "store/fb_conn.h"
#include "support/movement_fixture.h"
#include "support/tcp_relay.h"

namespace zv {
namespace {

constexpr char kCutText[] = "The store database did not answer for 1 s (";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The store reached through a relay on its own loopback address, with a deadline of one
// second on every store call.
class StoreStallTest : public test::MovementFixture {
 protected:
  void StartRelay(const std::string& address,
                  const std::string& options = "StoreCallDeadline=1\r\nDrainSeconds=0\r\n") {
    relay = std::make_unique<test::TcpRelay>(address);
    std::ofstream(dir() + "Dorvali.ini") << "[Dorvali]\r\nServidor=" << address
                                         << "\r\nCaminho=" << db_path << "\r\n[SrvZentrovia]\r\n"
                                         << options;
  }

  // One sync cycle, after the 60-second retry pause of the last one.
  CycleOutcome Cycle() {
    clock.Advance(61);
    return Service().ZentroviaTimerTimer();
  }

  std::string Cursor() { return Value("select zentrovia_ultvenda from padrao"); }

  std::unique_ptr<test::TcpRelay> relay;
};

TEST_F(StoreStallTest, EachKindOfCallIsCutAtItsDeadlineAndTheNextUseAttachesAgain) {
  StartRelay("127.0.0.2");
  Sql({"create table u (id integer not null primary key)",
       "insert into u (id) with recursive n as (select 1 as i from rdb$database union all "
       "select i + 1 from n where i < 1000) select i from n"});
  TFBConn fb;
  TStoreConnection conn;
  conn.CallDeadline = std::chrono::seconds(1);
  fb.CreateConn("127.0.0.2", db_path, "3050", "SYSDBA", "pelvoxard", conn);
  fb.ConfigureConnection(conn);
  TStoreQuery q(&conn);
  auto insert = [&](int id) {
    q.ClearSQL();
    q.AddSQL("insert into u (id) values (:id)");
    q.ParamByName("id").AsInteger(id);
    q.ExecSQL();
  };

  struct Case {
    const char* name;
    const char* call;              // as the error names it
    std::function<void()> before;  // runs while bytes pass
    std::function<void()> stalled;
  };
  const std::vector<Case> cases = {
      {"attach", "attaching", [] {},
       [&] {
         TStoreConnection fresh;
         fresh.CallDeadline = std::chrono::seconds(1);
         fb.ConfigureConnection(fresh);
         fresh.Open();
       }},
      {"statement", "running a statement", [&] { insert(-100); }, [&] { insert(-1); }},
      {"rows of a long result", "reading rows",
       [&] {
         q.ClearSQL();
         q.AddSQL("select a.id from u a cross join u b");
         q.Open();
       },
       [&] {
         for (;;) q.Next();
       }},
      {"statement in a transaction", "running a statement",
       [&] {
         conn.StartTransaction();
         insert(-101);
       },
       [&] { insert(-2); }},
      {"commit", "committing",
       [&] {
         conn.StartTransaction();
         insert(-3);
       },
       [&] { conn.Commit(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fb.ConnectConn(conn);
    c.before();
    relay->Freeze();
    try {
      c.stalled();
      ADD_FAILURE() << "the stalled call returned";
    } catch (const EDatabaseError& e) {
      EXPECT_TRUE(Contains(e.what(), std::string(kCutText) + c.call + "); the connection was cut"))
          << e.what();
    }
    conn.Rollback();
    relay->Thaw();
    // The next use attaches anew and the work of a cut transaction is not there.
    q.ClearSQL();
    q.AddSQL("select count(*) as n from u where id in (-1, -2, -101)");
    q.Open();
    EXPECT_EQ(q.FieldByName("n").AsInteger(), 0);
    q.ClearSQL();
  }
  // A call that answers in time is not cut.
  insert(5000);
  EXPECT_EQ(Value("select count(*) from u where id = 5000"), "1");
}

// Every store call of the sales upload stalls in turn, from the next-sale statement through
// the document build up to the post: each ends the cycle in the store error, with nothing
// posted and the cursor where it was. The first stall after the post (the cursor update)
// ends the sweep: that post returned, so the cursor would move, but the store cannot take
// it; the sale goes out once more when the store answers, and the cursor moves then.
TEST_F(StoreStallTest, ASaleStalledAtAnyCallBeforeItsPostIsPostedOnlyOnceTheStoreAnswers) {
  StartRelay("127.0.0.3");
  Sql({test::SaleLine{.venda = 1001}.Sql(), test::SaleLine{.venda = 1001, .seq = 2}.Sql()});
  ConnectOk();

  long k = 1;
  for (;; ++k) {
    SCOPED_TRACE("stall at request " + std::to_string(k));
    ASSERT_LT(k, 200) << "the job never got to its post";
    relay->FreezeAtRequest(k);
    const size_t log_before = LogMessages().size();
    const CycleOutcome outcome = Cycle();
    ASSERT_TRUE(relay->Frozen()) << "the job ended without a stall after its post";
    relay->Thaw();
    EXPECT_EQ(outcome, CycleOutcome::JobFailed);
    const auto log = LogMessages();
    ASSERT_GT(log.size(), log_before);
    EXPECT_TRUE(Contains(log.back(), std::string("ERRO no Timer: EDatabaseError - ") + kCutText))
        << log.back();
    EXPECT_EQ(Cursor(), "1000");
    if (!MovementPosts().empty()) break;
  }
  EXPECT_GE(k, 5) << "the sweep must stall the statement, the build and the reads";
  ASSERT_EQ(MovementPosts().size(), 1u);
  EXPECT_TRUE(Contains(MovementPosts()[0].body, R"("numero":"5001")"));

  // The cursor update held back in the relay may still reach the server once bytes pass
  // (here its request had left the service); when it does not, the sale goes out once more.
  // Never a third time, and the cursor ends past it.
  ASSERT_EQ(Cycle(), CycleOutcome::JobDone);
  ASSERT_EQ(Cycle(), CycleOutcome::JobDone);
  const auto posts = MovementPosts();
  EXPECT_LE(posts.size(), 2u);
  EXPECT_EQ(posts.back().body, posts.front().body);
  EXPECT_EQ(Cursor(), "1001");
}

// Every store call of the promotion import stalls in turn, inside a promotion's transaction
// and at its commit among them: the stamp does not move before every promotion is written,
// and once the store answers the promotions are there once each.
TEST_F(StoreStallTest, APromotionImportStalledAtAnyCallLeavesItsStampAndImportsOnceAfterwards) {
  StartRelay("127.0.0.5");
  const std::string dates =
      R"("vigenciaDesde":"2024-06-01T03:00:00Z","vigenciaHasta":"2024-07-01T03:00:00Z")";
  auto promo = [&](int id) {
    return R"({"id":)" + std::to_string(id) + R"(,"tipo":"PRECIO_FIJO","descripcion":"Promo )" +
           std::to_string(id) + R"(",)" + dates +
           R"(,"detalles":{"precio":1,"condiciones":{"items":[{"cantidad":1,"articulos":[{)"
           R"("codigoBarras":")" +
           test::kDipirona + R"("}]}]},"beneficios":null}})";
  };
  platform_.SetPromotionsAccepted(R"({"results":[)" + promo(701) + "," + promo(702) +
                                  R"(],"total":2})");
  ConnectOk();
  clock.Advance(3600);  // the hourly promotion pass is due
  const std::string stamp = "select zentrovia_verificapromo from padrao";
  const std::string before = Value(stamp);

  long k = 1;
  for (;; ++k) {
    SCOPED_TRACE("stall at request " + std::to_string(k));
    ASSERT_LT(k, 300) << "the import never ended";
    const size_t logged = LogMessages().size();
    relay->FreezeAtRequest(k);
    Cycle();
    const bool stalled = relay->Frozen();
    relay->Thaw();
    // The stamp moves only once every promotion is written (a stall after it, in the
    // settings reload, leaves it moved): the sweep ends there.
    if (!stalled || Value(stamp) != before) break;
    const std::vector<std::string> log = LogMessages();
    bool cut = false;
    for (size_t i = logged; i < log.size(); ++i)
      cut = cut || Contains(log[i], kCutText) || Contains(log[i], "Falha ao tentar recuperar");
    EXPECT_TRUE(cut) << log.back();
    clock.Advance(901);  // past the import's retry time
  }
  EXPECT_GE(k, 5);
  ASSERT_NE(Value(stamp), before);
  EXPECT_EQ(Value("select list(codigopromocao, ',') from (select codigopromocao from "
                  "zentrova_promocoes order by 1)"),
            "701,702");
  EXPECT_EQ(Value("select count(*) from zentrova_promocoes_produtos"), "2");
}

// The service binary with a store that stopped answering and a cycle ceiling of one second
// (the store call deadline far behind it): -SYNC ends with exit 2, naming what was stuck, on
// the terminal and in the log.
TEST_F(StoreStallTest, SyncEndsWithExit2WhenACycleOutlivesItsCeiling) {
  StartRelay("127.0.0.4", "StoreCallDeadline=60\r\nCycleCeiling=1\r\n");
  const std::string exe = dir() + "SrvZentrovia";
  std::filesystem::copy_file(ZV_SERVICE_BINARY, exe);
  relay->Freeze();

  FILE* p = popen((exe + " -SYNC -NOPROBE 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  const int status = pclose(p);
  relay->Thaw();

  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 2) << output;
  const std::string line =
      "Ciclo travado há mais de 1 s em IniConn: o processo será encerrado para ser reiniciado";
  EXPECT_TRUE(Contains(output, line)) << output;
  EXPECT_EQ(LogMessages().back(), line);
}

}  // namespace
}  // namespace zv
