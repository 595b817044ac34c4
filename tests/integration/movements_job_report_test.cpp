// What the movement jobs report through the job context, read by -SYNC and -STATUS: the
// documents posted by kind, and the pending cancellations counted as the upload finds them.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

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

}  // namespace
}  // namespace zv
