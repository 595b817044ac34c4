// The sync cycle over hours of a manual clock, with the real jobs, the real store and the fake
// platform: a job that keeps failing steps aside while the sales go out, the stamps and the
// due tests read the same clock whatever the store server's clock says, and a log that fails
// after a stamp does not make its job run again.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "closings_fixture.h"
#include "fake-platform/fake_platform.h"
#include "support/platform_store_fixture.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

using test::SaleLine;
using test::SqlDate;
using test::SqlStamp;
using test::TillRow;

// "dd/mm/yyyy hh:nn:ss" at the start of `s`.
DateTime LogStamp(std::string_view s) {
  auto n = [&](size_t at, size_t len) { return std::stoi(std::string(s.substr(at, len))); };
  return DateTime::FromParts(n(6, 4), n(3, 2), n(0, 2), n(11, 2), n(14, 2), n(17, 2));
}

struct RetryLine {
  DateTime logged;
  DateTime until;
  std::string error;
};

class FairnessTest : public test::PlatformStoreFixture {
 protected:
  void SetUp() override {
    PlatformStoreFixture::SetUp();
    if (StoreMissing()) return;
    const std::string server =
        Value("select cast(current_timestamp as varchar(30)) from rdb$database");
    ASSERT_GE(server.size(), 19u) << server;
    server_now =
        DateTime::FromParts(std::stoi(server.substr(0, 4)), std::stoi(server.substr(5, 2)),
                            std::stoi(server.substr(8, 2)), std::stoi(server.substr(11, 2)),
                            std::stoi(server.substr(14, 2)), std::stoi(server.substr(17, 2)));
  }

  // The settings row (stamps and cursor as given), and `sales` one-line sales numbered from 1:
  // the first half on the day before the store server's date over tills 1 and 2, the rest on
  // that date.
  void MakeStore(int sales, DateTime ultcaixa, DateTime verificapromo, DateTime verificareenvio) {
    const DateTime server_day = server_now.Date();
    test::SettingsRow settings = test::PlatformSettings(platform_.BaseUrl());
    settings.datainicio = SqlDate(server_day.AddDays(-5));
    settings.ultvenda = "0";
    settings.ultcancelamento = "0";
    settings.ultcaixa = SqlDate(ultcaixa);
    settings.verificapromo = SqlStamp(verificapromo);
    settings.verificareenvio = SqlStamp(verificareenvio);
    std::vector<std::string> sql = {test::ProductRow(test::kDipirona, test::kDipironaName),
                                    settings.Sql()};
    for (int v = 1; v <= sales; ++v) {
      SaleLine line;
      line.venda = v;
      line.data = SqlDate(v <= sales / 2 ? server_day.AddDays(-1) : server_day);
      line.terminal = std::to_string(1 + v % 2);
      line.coo = std::to_string(5000 + v);
      sql.push_back(line.Sql());
      sql.push_back(TillRow{.venda = v, .dinheiro = "10"}.Sql());
    }
    Sql(sql);
  }

  // Service start; the connecting cycle runs three minutes later.
  void Start() {
    Service().ServiceStart();
    Pass(180);
    ASSERT_TRUE(Service().DbConnected());
  }

  // Time passes for the clock and the timer alike, a second at a time; cycles run as the
  // timer ticks.
  void Pass(int64_t seconds) {
    for (int64_t i = 0; i < seconds; ++i) {
      clock.Advance(1);
      timer.Advance(1000);
    }
  }

  size_t Requests(const std::string& method, const std::string& path_part) const {
    size_t n = 0;
    for (const auto& r : platform_.Requests())
      n += r.method == method && r.path.find(path_part) != std::string::npos;
    return n;
  }
  size_t SalesPosted() const {
    size_t n = 0;
    for (const auto& [till, count] : platform_.SalesPerTill()) n += static_cast<size_t>(count);
    return n;
  }

  // The retry lines of a job, with their times, in order.
  std::vector<RetryLine> RetryLines(const std::string& job) const {
    const std::string text = AnsiToUtf8(test::ReadFile(dir() + "Zentrovia.log"));
    const std::string head = " - Tarefa " + job + " adiada até ";
    std::vector<RetryLine> out;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      const std::string line = text.substr(start, end - start);
      if (line.compare(19, head.size(), head) != 0) continue;
      const std::string rest = line.substr(19 + head.size());
      out.push_back({LogStamp(line), LogStamp(rest), rest.substr(rest.find("): ") + 3)});
    }
    return out;
  }

  // The job failed at least `failures` times, each retry time one step of the schedule
  // longer, and each next attempt came in the first cycles after the retry time.
  void ExpectRetriedOnSchedule(const std::string& job, size_t failures, const std::string& error) {
    const std::vector<RetryLine> lines = RetryLines(job);
    ASSERT_GE(lines.size(), failures);
    const int64_t waits[] = {60, 120, 300, 600, 900};
    for (size_t i = 0; i < lines.size(); ++i) {
      SCOPED_TRACE("failure " + std::to_string(i + 1));
      EXPECT_EQ(lines[i].until, lines[i].logged.AddSeconds(waits[std::min<size_t>(i, 4)]));
      EXPECT_EQ(lines[i].error, error);
      if (i > 0) {
        EXPECT_GE(lines[i].logged, lines[i - 1].until);
        EXPECT_LE(lines[i].logged, lines[i - 1].until.AddSeconds(30));
      }
    }
  }

  void PollAcrossMidnight(int day_offset);

  DateTime server_now;
};

constexpr const char* k503 = "ERESTException - HTTP/1.1 503 Service Unavailable";

TEST_F(FairnessTest, AClosingEndpointDownForAnHourHoldsBackNoSaleAndIsRetriedOnSchedule) {
  const DateTime today = server_now.Date();
  clock.Set(today.AddSeconds(10 * 3600));
  MakeStore(50, today.AddDays(-1), clock.Now(), clock.Now());
  platform_.AddFault({.path_contains = "/cierresDiarios/",
                      .status = 503,
                      .body = "down",
                      .content_type = "text/plain"});
  Start();
  const DateTime down_until = clock.Now().AddSeconds(3600);

  Pass(3600);
  EXPECT_EQ(SalesPosted(), 50u) << "the sales went out while the closing failed";
  EXPECT_TRUE(platform_.ClosingsPerDayAndTill().empty());
  // After 1, 2, 5, 10, 15 and 15 minutes: seven attempts in the hour.
  ExpectRetriedOnSchedule("FechamentoCaixaZentrovia", 7, k503);
  EXPECT_EQ(RetryLines("FechamentoCaixaZentrovia").size(), 7u);
  EXPECT_EQ(Value("select zentrovia_ultcaixa from padrao"), test::IsoDay(today.AddDays(-1)));

  platform_.ClearFaults();
  ASSERT_EQ(clock.Now(), down_until);
  Pass(16 * 60);
  // Each till of the day once, and the cursor on today.
  EXPECT_EQ(platform_.ClosingsPerDayAndTill(),
            (std::map<std::string, std::map<std::string, int64_t>>{
                {test::IsoDay(today.AddDays(-1)), {{"1", 1}, {"2", 1}}}}));
  EXPECT_EQ(Value("select zentrovia_ultcaixa from padrao"), test::IsoDay(today));
  EXPECT_FALSE(Service().Cycle().RetryTimes().Of(ZentroviaJob::FechamentoCaixa));
  EXPECT_EQ(SalesPosted(), 50u);
}

TEST_F(FairnessTest, PromotionListsDownForAnHourHoldBackNoSaleAndAreRetriedOnSchedule) {
  clock.Set(server_now.Date().AddSeconds(10 * 3600));
  MakeStore(50, server_now.Date(), clock.Now().AddSeconds(-2 * 3600), clock.Now());
  platform_.AddFault({.path_contains = "/promociones",
                      .status = 503,
                      .body = "down",
                      .content_type = "text/plain"});
  Start();

  Pass(3600);
  EXPECT_EQ(SalesPosted(), 50u);
  ExpectRetriedOnSchedule("AtualizaPromo", 7, k503);
  EXPECT_EQ(RetryLines("AtualizaPromo").size(), 7u);
  const std::string stamp_before = Value("select zentrovia_verificapromo from padrao");

  platform_.ClearFaults();
  const size_t gets_before = Requests("GET", "/promociones");
  Pass(16 * 60);
  // Back within the retry time, then once: both lists asked for once and the stamp moved.
  EXPECT_EQ(Requests("GET", "/promociones") - gets_before, 2u);
  EXPECT_NE(Value("select zentrovia_verificapromo from padrao"), stamp_before);
  EXPECT_FALSE(Service().Cycle().RetryTimes().Of(ZentroviaJob::AtualizaPromo));
}

// The store server's clock cannot be moved; the service's clock is set away from it instead.
TEST_F(FairnessTest, WithTheStoreServerAnHourBehindThePromotionImportRunsOnceAnHour) {
  clock.Set(server_now.AddSeconds(3600));
  MakeStore(0, DateTime::FromParts(2999, 12, 31), clock.Now().AddSeconds(-2 * 3600), clock.Now());
  Start();
  Pass(2 * 3600 + 5 * 60);
  // At the start, an hour later and two hours later.
  size_t imports = 0;
  for (const auto& r : platform_.Requests())
    imports += r.path.find("/promociones") != std::string::npos &&
               r.query.find("ACEPTADA") != std::string::npos;
  EXPECT_EQ(imports, 3u);
  EXPECT_TRUE(RetryLines("AtualizaPromo").empty());
}

// Four minutes before the service's midnight, `day_offset` days away from the store server's
// date, with the resend poll last done the day before: it runs before midnight and once after.
void FairnessTest::PollAcrossMidnight(int day_offset) {
  const DateTime start = server_now.Date().AddDays(day_offset + 1).AddSeconds(-240);
  clock.Set(start);
  MakeStore(0, DateTime::FromParts(2999, 12, 31), DateTime::FromParts(2999, 12, 31),
            start.AddDays(-1));
  Start();  // connects at 23:59, the poll runs 30 s later
  Pass(10 * 60);
  ASSERT_GT(clock.Now().Date(), start.Date());
  EXPECT_EQ(Requests("GET", "/solicitudes/movimientos"), 2u);
  EXPECT_EQ(Value("select cast(zentrovia_verificareenvio as date) from padrao"),
            test::IsoDay(clock.Now()));
  EXPECT_TRUE(RetryLines("VerificaReenvio").empty());
}

TEST_F(FairnessTest, WithTheStoreServerBehindTheResendPollRunsOnceADay) {
  PollAcrossMidnight(1);
}

TEST_F(FairnessTest, WithTheStoreServerAheadTheResendPollRunsOnceADay) {
  PollAcrossMidnight(-1);
}

TEST_F(FairnessTest, ALogThatFailsAfterTheStampDoesNotRunTheJobAgain) {
  const DateTime today = server_now.Date();
  clock.Set(today.AddSeconds(10 * 3600));
  MakeStore(2, today, clock.Now().AddSeconds(-2 * 3600), clock.Now().AddDays(-1));
  // The platform asks for yesterday's movements again: sale 1.
  platform_.SetResendMovements(R"([{"fecha":")" + test::IsoDay(today.AddDays(-1)) +
                               R"(","tipo":"MOVIMIENTOS","codigoCaja":"2"}])");
  platform_.SetResendClosings("[]");
  Start();
  // The disk fills up just as the resend poll and the promotion import log their success.
  Service().Context().log = [this](const std::string& msg) {
    if (msg.rfind("[R: ", 0) == 0 || msg.rfind("[P- ", 0) == 0)
      throw EInOutError("I/O error 28: No space left on device");
    Service().DoSaveLog(msg);
  };
  Pass(30 * 60);

  EXPECT_EQ(Requests("GET", "/solicitudes/movimientos"), 1u);
  EXPECT_EQ(Requests("GET", "/promociones"), 2u);
  const std::vector<std::string> log = LogMessages();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "ERRO no Timer: EInOutError - I/O error 28: No space left on device"),
            2);
  EXPECT_TRUE(RetryLines("VerificaReenvio").empty());
  EXPECT_TRUE(RetryLines("AtualizaPromo").empty());
  // The resent sale once, and the second sale by the sales upload.
  EXPECT_EQ(SalesPosted(), 3u);
}

}  // namespace
}  // namespace zv
