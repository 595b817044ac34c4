// The daily closing against a real store database and the fake platform: the documents per
// till and the "9999" document byte for byte, the log lines, and how the closing cursor moves.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "closings_fixture.h"

namespace zv {
namespace {

using test::Closing;
using test::DayLine;
using test::Partial;
using test::SqlDate;

class DailyClosingTest : public test::ClosingsFixture {
 protected:
  DateTime D(int days_ago) const { return today.AddDays(-days_ago); }

  // What the platform must receive for DayOfThreeTills: the tills' net sales with their
  // partial cancellations (1359.50 + 49.50 + 0.00) less the day's 17.00 give 1392.00, the sum
  // of the uncancelled rows. Till 4 sold nothing that stayed: no document.
  std::vector<Post> ThreeTillsPosts(DateTime d) const {
    return {{"1", Closing("1359.50", "0.00", 3, d, 0)},
            {"2", Closing("49.50", "0.00", 2, d, 0)},
            {"3", Closing("0.00", "15.00", 2, d, 1)},
            {"9999", Partial("17.00", d, 2)}};
  }
};

TEST_F(DailyClosingTest, ClosesEachFinishedDayPerTillThenPassesOverACancelledOnlyDay) {
  Settings(SqlDate(D(3)), SqlDate(D(10)), "current_timestamp", "20");
  DayOfThreeTills(D(3), 1);
  Rows({{10, 1, D(2), "50", "50", "1", SqlDate(D(2))},  // D2: a cancelled sale only
        {11, 1, D(1), "15", "15", "2"},                 // D3
        {21, 1, today, "8", "8", "1"}});                // today: never closed, but uploaded
  ConnectOk();

  Service().FechamentoCaixaZentrovia();
  EXPECT_EQ(ClosingPosts(), ThreeTillsPosts(D(3)));
  // D2 is passed over and the run ends there: no sales upload in this cycle.
  EXPECT_EQ(Cursor(), test::IsoDay(D(1)));
  EXPECT_EQ(Service().Settings().zentrovia_ultcaixa, D(1));
  EXPECT_EQ(CountRequests("POST", "/movimientos/"), 0u);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(LogTail(4),
            (std::vector<std::string>{
                "[F.Dia- " + Dated(D(3)) + "]Ok:#", "[F.Dia- " + Dated(D(3)) + "]Ok:#",
                "[F.Dia- " + Dated(D(3)) + "]Ok:#", "[F.Parc- " + Dated(D(3)) + "]Ok:#"}));

  // The next run closes D3, reaches today and runs the sales upload once.
  Service().FechamentoCaixaZentrovia();
  auto posts = ClosingPosts();
  ASSERT_EQ(posts.size(), 5u);
  EXPECT_EQ(posts[4], (Post{"2", Closing("15.00", "0.00", 1, D(1), 0)}));
  EXPECT_EQ(Cursor(), test::IsoDay(today));
  EXPECT_EQ(Service().Settings().zentrovia_ultcaixa, today);
  EXPECT_EQ(CountRequests("POST", "/movimientos/"), 1u);
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "21");
}

TEST_F(DailyClosingTest, ADayWithoutVerdictOnEveryDocumentStaysDueAndGoesAgainWhole) {
  struct Case {
    const char* name;
    fake::Fault fault;
    int skip;
    // The log's end.
    std::vector<std::string> log_tail;
    // What the run raises to the cycle ("" for none).
    std::string error;
  };
  const std::string day = Dated(D(1));
  const std::string till2 = Closing("49.50", "0.00", 2, D(1), 0);
  const std::vector<Case> cases = {
      {"503 on the second till's post",
       {"/cierresDiarios/", 503, "busy", "text/plain", 0, 1},
       1,
       {"[F.Dia- " + day + "]Ok:#"},
       "ERESTException - HTTP/1.1 503 Service Unavailable"},
      {"login refused on the second till's post",
       {"/cierresDiarios/", 401, R"({"appErrorCode":"ERROR_LOGIN"})", "application/json", 0, 1},
       1,
       {"[F.Dia- " + day + "]Ok:#", "[F.Dia- " + day + "]Usuário e/ou senha inválidos"},
       "ERESTException - Usuário e/ou senha inválidos"},
      {"second till's document rejected: a verdict",
       {"/cierresDiarios/", 400, R"({"errores":[{"error":{"message":"CAJA_INVALIDA"}}]})",
        "application/json", 0, 1},
       1,
       {"[F.Dia- " + day + "]Ok:#", till2, "[F.Dia- " + day + "]CAJA_INVALIDA",
        "[F.Dia- " + day + "]Ok:#", "[F.Parc- " + day + "]Ok:#"},
       ""},
  };
  // No sale waits above the sales cursor: a closed day ends with a sales upload that posts
  // nothing.
  Settings(SqlDate(D(1)), SqlDate(D(10)), "current_timestamp", "1000");
  DayOfThreeTills(D(1), 1);
  ConnectOk();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sql({"update padrao set zentrovia_ultcaixa = " + SqlDate(D(1))});
    Service().Settings().zentrovia_ultcaixa = D(1);
    platform_.ClearRequests();
    platform_.ClearFaults();
    platform_.AddFault(c.fault, "POST", c.skip);

    std::string raised;
    try {
      Service().FechamentoCaixaZentrovia();
    } catch (const Exception& e) {
      raised = e.kind() + " - " + e.what();
    }
    EXPECT_EQ(raised, c.error);
    EXPECT_EQ(LogTail(c.log_tail.size()), c.log_tail);
    EXPECT_TRUE(timer.Enabled());
    if (c.error.empty()) {
      EXPECT_EQ(Cursor(), test::IsoDay(today));
      continue;
    }
    EXPECT_EQ(Cursor(), test::IsoDay(D(1)));
    EXPECT_EQ(Service().Settings().zentrovia_ultcaixa, D(1));
    EXPECT_EQ(ClosingPosts().size(), 2u);

    // The next run posts every document of the day again, then moves on.
    platform_.ClearRequests();
    Service().FechamentoCaixaZentrovia();
    EXPECT_EQ(ClosingPosts(), ThreeTillsPosts(D(1)));
    EXPECT_EQ(Cursor(), test::IsoDay(today));
  }
}

TEST_F(DailyClosingTest, AStopRequestEndsTheCatchUpBetweenDocumentsOrDays) {
  struct Case {
    const char* name;
    size_t stop_after_posts;
    std::vector<Post> posts;
    DateTime cursor;
  };
  const std::vector<Post> first_day = ThreeTillsPosts(D(2));
  const std::vector<Case> cases = {
      // Mid-day: the day stays due, and goes again whole later.
      {"after the first till", 1, {first_day[0]}, D(2)},
      // Between days: the first is closed, the second not begun.
      {"after the first day", first_day.size(), first_day, D(1)},
  };
  Settings(SqlDate(D(2)), SqlDate(D(10)), "current_timestamp", "1000");
  DayOfThreeTills(D(2), 1);
  DayOfThreeTills(D(1), 101);
  ConnectOk();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sql({"update padrao set zentrovia_ultcaixa = " + SqlDate(D(2))});
    Service().Settings().zentrovia_ultcaixa = D(2);
    platform_.ClearRequests();
    Service().Context().stop_requested = [&] {
      return ClosingPosts().size() >= c.stop_after_posts;
    };

    Service().FechamentoCaixaZentrovia();
    EXPECT_EQ(ClosingPosts(), c.posts);
    EXPECT_EQ(Cursor(), test::IsoDay(c.cursor));
    EXPECT_EQ(Service().Settings().zentrovia_ultcaixa, c.cursor);
    EXPECT_EQ(CountRequests("POST", "/movimientos/"), 0u) << "no sales upload after a stop";
    EXPECT_TRUE(timer.Enabled());
  }
}

TEST_F(DailyClosingTest, ANullCursorAndStartDateBeginAtTheAdjustedStartDate) {
  Settings("NULL", "NULL");
  const DateTime start = today.AddMonths(-2);
  Rows({{1, 1, start.AddDays(-1), "70", "70", "1"},  // before the start date: never closed
        {2, 1, start, "25", "25", "2"}});
  ConnectOk();
  ASSERT_EQ(Service().Settings().zentrovia_datainicio, start);

  Service().FechamentoCaixaZentrovia();
  // The start day is closed; the empty day after it is passed over and ends the run.
  EXPECT_EQ(ClosingPosts(), (std::vector<Post>{{"2", Closing("25.00", "0.00", 1, start, 0)}}));
  EXPECT_EQ(Cursor(), test::IsoDay(start.AddDays(2)));
  EXPECT_EQ(Service().Settings().zentrovia_ultcaixa, start.AddDays(2));
}

TEST_F(DailyClosingTest, ADayTheStoreServerHasNotFinishedIsNotPassedOver) {
  // The service's clock is a day ahead of the store server's: for the service the server's
  // today is finished, for the server's statements it is not.
  Settings(SqlDate(today), SqlDate(D(10)), "current_timestamp", "0");
  Rows({{1, 1, today, "12", "12", "1"}});
  clock.Set(today.AddDays(1).AddSeconds(1800));
  ConnectOk();

  Service().FechamentoCaixaZentrovia();
  EXPECT_TRUE(ClosingPosts().empty());
  EXPECT_EQ(Cursor(), test::IsoDay(today));
  EXPECT_EQ(Service().Settings().zentrovia_ultcaixa, today);
  // The cycle is not lost: the sales upload ran instead.
  EXPECT_EQ(CountRequests("POST", "/movimientos/"), 1u);
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "1");
  EXPECT_TRUE(timer.Enabled());
}

}  // namespace
}  // namespace zv
