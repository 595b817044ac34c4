// What the movement jobs report through the job context, read by -SYNC and -STATUS: the
// documents posted by kind, the pending cancellations counted as the upload finds them, and
// the cursor that the store takes before memory does.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "base/errors.h"
#include "service/foreground.h"
#include "support/movement_fixture.h"

namespace zv {
namespace {

using test::SaleLine;

class JobReportTest : public test::MovementFixture {};

TEST_F(JobReportTest, StatusCountsOnlyTheCancellationsTheUploadPosts) {
  // Sale 22 is cancelled at code 41; of sale 23 only the surcharge row is cancelled, at code
  // 42, and a surcharge row is never posted.
  Sql({SaleLine{.venda = 22, .cancelamento = "'2026-12-07'", .codcanc = "41", .coo = "5022"}.Sql(),
       SaleLine{.venda = 23, .coo = "5023"}.Sql(),
       SaleLine{.venda = 23,
                .seq = 2,
                .cancelamento = "'2026-12-07'",
                .codcanc = "42",
                .codigo = "'XXACRESCIMOXX'",
                .coo = "5023"}
           .Sql()});
  WriteIni("localhost", db_path);
  ConnectOk();
  auto pending_line = [&] {
    std::ostringstream out;
    EXPECT_EQ(RunStatusReport(dir(), clock, out), kExitOk) << out.str();
    const std::string text = out.str();
    const size_t at = text.find("cancellations above their cursor");
    return at == std::string::npos ? text : text.substr(at, text.find('\n', at) - at);
  };
  EXPECT_EQ(pending_line(), "cancellations above their cursor       1");

  Service().EnviarVendasCanceladas();
  Service().EnviarVendasCanceladas();
  ASSERT_EQ(MovementPosts().size(), 1u);
  EXPECT_EQ(pending_line(), "cancellations above their cursor       0");
}

TEST_F(JobReportTest, SyncCountsWhatEachJobReports) {
  // Sale 60 whole; sale 61 (another day) cannot be built, its amount being beyond what the
  // document's money type holds; sale 62 cancelled on a later day: its cancellation has the
  // closing of its day resent.
  Sql({"alter table vendas alter column precototal type numeric(18,2)",
       "update padrao set zentrovia_ultvenda = 59",
       SaleLine{.venda = 60, .coo = "5060"}.Sql(),
       SaleLine{.venda = 61, .data = "'2026-12-06'", .coo = "5061"}.Sql(),
       "update vendas set precototal = 9999999999999999.99 where venda = 61",
       SaleLine{.venda = 62, .cancelamento = "'2026-12-08'", .codcanc = "41", .coo = "5062"}
           .Sql()});

  std::ostringstream out;
  EXPECT_EQ(RunSyncForeground(Service(), timer, SyncRunOptions{}, out), kExitOk) << out.str();
  // Sales 60 and 62 with sale 61 passed over, the cancellation, its closing resend.
  EXPECT_NE(out.str().find("; 2 sales, 1 cancellations, 0 closing documents, 1 resent documents; "
                           "1 sales passed over as they cannot be built (see Zentrovia.log).\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(MovementPosts().size(), 4u);
  EXPECT_EQ(ClosingPosts().size(), 1u) << test::ReadFile(dir() + "Zentrovia.log");
}

TEST_F(JobReportTest, AFailedCursorUpdateLeavesTheSaleToGoAgain) {
  // The store refuses the update while zv_refuse holds a row.
  Sql({"update padrao set zentrovia_ultvenda = 59", SaleLine{.venda = 60, .coo = "5060"}.Sql(),
       "create table zv_refuse (n integer)", "insert into zv_refuse values (1)",
       "create exception zv_cursor_refused 'the cursor update is refused'",
       "create trigger zv_refuse_cursor for padrao before update as begin "
       "if (exists(select 1 from zv_refuse)) then exception zv_cursor_refused; end"});
  ConnectOk();

  EXPECT_THROW(Service().EnviarVendasZentrovia(), EDatabaseError);
  ASSERT_EQ(MovementPosts().size(), 1u);
  // The value in memory follows the store's: the sale is not passed over by the next run.
  EXPECT_EQ(Service().Settings().zentrovia_ultvenda, 59);

  Sql({"delete from zv_refuse"});
  Service().EnviarVendasZentrovia();
  ASSERT_EQ(MovementPosts().size(), 2u);
  EXPECT_EQ(MovementPosts()[1].body, MovementPosts()[0].body);
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "60");
}

}  // namespace
}  // namespace zv
