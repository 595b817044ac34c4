// The backlog drain of the uploads, through the service's own cycle, a real store and the
// fake platform: a backlog goes out in one cycle up to the bound, in order and once; an
// error or a stop ends it with every cursor on its last verdict; DrainSeconds=0 in the ini
// gives one document per cycle. While one sale is posted the next is read ahead: what is read
// ahead goes out only in its turn, and a sale that was not there yet is still found.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/movement_fixture.h"

namespace zv {
namespace {

class DrainTest : public test::MovementFixture {
 protected:
  void SetUp() override {
    drain_backlog = true;
    MovementFixture::SetUp();
  }

  // Sales 1001.. (above the cursor 1000), document numbers 6001..
  void AddSales(int first, int count) {
    std::vector<std::string> rows;
    for (int v = first; v < first + count; ++v) {
      rows.push_back(test::SaleLine{.venda = v, .coo = std::to_string(v + 5000)}.Sql());
      rows.push_back(test::TillRow{.venda = v, .dinheiro = "10"}.Sql());
    }
    Sql(rows);
  }

  std::vector<std::string> PostedNumbers() const {
    std::vector<std::string> numbers;
    for (const auto& post : MovementPosts()) {
      const size_t at = post.body.find(R"("numero":")");
      numbers.push_back(at == std::string::npos
                            ? "?"
                            : post.body.substr(at + 10, post.body.find('"', at + 10) - at - 10));
    }
    return numbers;
  }

  std::string SalesCursor() { return Value("select zentrovia_ultvenda from padrao"); }

  size_t LogLinesStartingWith(const std::string& prefix) {
    size_t n = 0;
    for (const std::string& m : LogMessages()) n += m.rfind(prefix, 0) == 0;
    return n;
  }
};

TEST_F(DrainTest, ABacklogGoesOutInOneCycleInOrderOnceAndALaterSaleInTheNext) {
  AddSales(1001, 6);
  ConnectOk();
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers(),
            (std::vector<std::string>{"6001", "6002", "6003", "6004", "6005", "6006"}));
  EXPECT_EQ(SalesCursor(), "1006");
  EXPECT_EQ(LogLinesStartingWith("[Venda= "), 6u);
  // The cycle's interval after a job is kept.
  EXPECT_EQ(timer.Interval(), TSyncCycle::kIntervalAfterJob);

  AddSales(1007, 1);
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers().size(), 7u);
  EXPECT_EQ(PostedNumbers().back(), "6007");
  EXPECT_EQ(SalesCursor(), "1007");
}

TEST_F(DrainTest, TheBoundEndsTheCycleAndTheNextCycleGoesOn) {
  AddSales(1001, 5);
  ConnectOk();
  // Each sale takes 2 s here: the drain asks for a stop between two sales.
  Service().Context().stop_requested = [this] {
    clock.Advance(2);
    return false;
  };
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  // 2 s, 4 s, 6 s: the third sale is the last within the 5 s of the default.
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"6001", "6002", "6003"}));
  EXPECT_EQ(SalesCursor(), "1003");
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers().size(), 5u);
  EXPECT_EQ(SalesCursor(), "1005");
}

TEST_F(DrainTest, AnErrorInTheMiddleEndsTheCycleWithTheCursorOnTheLastVerdict) {
  AddSales(1001, 4);
  ConnectOk();
  platform_.AddFault({"/movimientos/", 503, "busy", "text/plain", 0, 1}, "POST", 2);
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobFailed);
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"6001", "6002", "6003"}));
  EXPECT_EQ(SalesCursor(), "1002");
  EXPECT_EQ(Service().Settings().zentrovia_ultvenda, 1002);
  EXPECT_EQ(LogLinesStartingWith("ERRO no Timer: ERESTException - HTTP/1.1 503"), 1u);
  EXPECT_GT(Service().FCooldownUntil(), clock.Now());

  // After the pause the same sale goes out first, and the rest after it.
  clock.Advance(61);
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"6001", "6002", "6003", "6003", "6004"}));
  EXPECT_EQ(SalesCursor(), "1004");
}

// The sale after a good one cannot be built: read ahead, its error stays unsaid until its
// turn, where it is logged and the sale passed over as on its own.
TEST_F(DrainTest, ASaleThatCannotBeBuiltIsPassedOverInItsTurnWithItsError) {
  Sql({"alter table vendas alter column precototal type numeric(18,2)"});
  AddSales(1001, 3);
  // An amount beyond what the document's money type holds.
  Sql({"update vendas set precototal = 9999999999999999.99 where venda = 1002"});
  ConnectOk();
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  const auto posts = MovementPosts();
  ASSERT_EQ(posts.size(), 3u);
  EXPECT_NE(posts[0].body.find(R"("numero":"6001")"), std::string::npos);
  EXPECT_EQ(posts[1].body, "");
  EXPECT_NE(posts[2].body.find(R"("numero":"6003")"), std::string::npos);
  EXPECT_EQ(SalesCursor(), "1003");

  const auto log = LogMessages();
  auto at = [&](const std::string& prefix) {
    return std::find_if(log.begin(), log.end(),
                        [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }) -
           log.begin();
  };
  EXPECT_EQ(std::count(log.begin(), log.end(), "Erro: EConversionError"), 1);
  EXPECT_LT(at("[Venda= 6001]"), at("Erro: EConversionError"));
  EXPECT_LT(at("Erro: EConversionError"), at("[Venda= 6002]"));
  EXPECT_LT(at("[Venda= 6002]"), at("[Venda= 6003]"));
  EXPECT_LT(at("[Venda= 6003]"), static_cast<std::ptrdiff_t>(log.size()));
}

// A sale stored while the one before it is posted was not there to be read ahead: the drain
// reads it in its turn.
TEST_F(DrainTest, ASaleStoredDuringAPostGoesOutInTheSameDrain) {
  AddSales(1001, 1);
  ConnectOk();
  bool added = false;
  Service().Context().stop_requested = [&] {
    if (!added) AddSales(1002, 1);
    added = true;
    return false;
  };
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"6001", "6002"}));
  EXPECT_EQ(SalesCursor(), "1002");
}

// The store fails on the next sale while the one before is posted: the sale before still
// gets its verdict and its cursor, and the failing sale raises in its own turn (once), ending
// the cycle with the cursor on the last verdict.
TEST_F(DrainTest, AStoreErrorOnTheNextSaleIsRaisedInItsTurn) {
  AddSales(1001, 1);
  // A card sale whose card rows lack a column (only the card rows name it).
  Sql({test::SaleLine{.venda = 1002, .coo = "6002"}.Sql(),
       test::TillRow{.venda = 1002, .cartao = "10"}.Sql(),
       "insert into vendacartao (codigovenda, operacao, movimento, valortotal) values "
       "(1002, 'CREDITO', 1, 10)",
       "alter table vendacartao alter column valortotal to valortotal_fora"});
  ConnectOk();
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobFailed);
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"6001"}));
  EXPECT_EQ(SalesCursor(), "1001");
  const auto log = LogMessages();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& m) {
                            return m.find("Field 'valortotal' not found") != std::string::npos;
                          }),
            1);
}

TEST_F(DrainTest, AStopRequestIsHonouredBetweenSales) {
  AddSales(1001, 4);
  ConnectOk();
  Service().Context().stop_requested = [this] { return MovementPosts().size() >= 2; };
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"6001", "6002"}));
  EXPECT_EQ(SalesCursor(), "1002");
}

TEST_F(DrainTest, DrainSecondsZeroInTheIniGivesOneSalePerCycle) {
  WriteIni("localhost", db_path);
  std::ofstream(dir() + "Dorvali.ini", std::ios::app) << "[SrvZentrovia]\r\nDrainSeconds=0\r\n";
  AddSales(1001, 3);
  ConnectOk();
  EXPECT_EQ(Service().Options().drain_s, 0);
  for (size_t cycle = 1; cycle <= 3; ++cycle) {
    EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
    EXPECT_EQ(PostedNumbers().size(), cycle);
    EXPECT_EQ(SalesCursor(), std::to_string(1000 + cycle));
  }
}

TEST_F(DrainTest, CancellationsDrainTheSameWayOnceNoSaleWaits) {
  Sql({test::SaleLine{.venda = 20, .cancelamento = "'2026-12-07'", .codcanc = "41", .coo = "5020"}
           .Sql(),
       test::SaleLine{.venda = 21, .cancelamento = "'2026-12-07'", .codcanc = "42", .coo = "5021"}
           .Sql(),
       test::SaleLine{.venda = 22, .cancelamento = "'2026-12-07'", .codcanc = "43", .coo = "5022"}
           .Sql()});
  ConnectOk();
  EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
  EXPECT_EQ(PostedNumbers(), (std::vector<std::string>{"-5020", "-5021", "-5022"}));
  EXPECT_EQ(Value("select zentrovia_ultcancelamento from padrao"), "43");
  EXPECT_EQ(LogLinesStartingWith("[CancT= "), 3u);
}

}  // namespace
}  // namespace zv
