// The foreground modes of the service binary against a real store and the fake platform:
// -STATUS reads without writing, -SYNC sends every sale once, and a second run, like a
// restarted service, goes on from the stored cursor.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/clock.h"
#include "fake-platform/fake_platform.h"
#include "support/store_fixture.h"

namespace zv {
namespace {

struct RunResult {
  int exit_code = -1;
  std::string output;
};

RunResult RunCommand(const std::string& command) {
  RunResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

constexpr char kSalesToSend[] =
    "select count(distinct venda) from vendas where codigoproduto not in ('XXDESCONTOXX', "
    "'XXACRESCIMOXX', 'XXENTREGAXX', 'RECARGACELULAR')";

class ForegroundTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    if (StoreMissing()) return;
    fake::Options options;
    options.user = "loja";
    options.password = "segredo";
    platform = std::make_unique<fake::FakePlatform>(options);
    platform->Start();

    // The binary runs on the real clock: a history of the last two days, with every job
    // but the sales upload up to date.
    const DateTime now = SystemClock().Now();
    sample::SampleOptions o;
    o.days = 2;
    o.tills = 2;
    o.sales_per_day = 6;
    o.start = now.Date().AddDays(-2);
    o.url = platform->BaseUrl();
    o.user = "loja";
    o.password = "segredo";
    o.verificareenvio = now;
    o.verificapromo = now;
    o.ultcaixa = now.Date();
    BuildSample(o);
    WriteIni("localhost", db_path);
    exe = dir() + "SrvZentrovia";
    std::filesystem::copy_file(ZV_SERVICE_BINARY, exe);
  }

  std::unique_ptr<fake::FakePlatform> platform;
  std::string exe;
};

TEST_F(ForegroundTest, StatusReportsWithoutWritingAndSyncSendsEverySaleOnce) {
  const std::string to_send = Value(kSalesToSend);
  ASSERT_NE(to_send, "0");
  const std::string padrao =
      "select zentrovia_ultvenda || '|' || zentrovia_datainicio || '|' "
      "|| zentrovia_verificapromo from padrao";
  const std::string before = Value(padrao);

  const bool log_before = std::filesystem::exists(dir() + "Zentrovia.log");
  RunResult status = RunCommand(exe + " -STATUS");
  EXPECT_EQ(status.exit_code, 0) << status.output;
  // A report writes nothing, not even its own lines to the log.
  EXPECT_EQ(std::filesystem::exists(dir() + "Zentrovia.log"), log_before);
  EXPECT_NE(status.output.find("address (zentrovia_url1)     " + platform->BaseUrl()),
            std::string::npos)
      << status.output;
  EXPECT_EQ(status.output.find("segredo"), std::string::npos) << "the password is never shown";
  EXPECT_NE(status.output.find("sales above the sales cursor           " + to_send + "\n"),
            std::string::npos)
      << status.output;
  EXPECT_NE(status.output.find("The next cycle would run EnviarVendasZentrovia"), std::string::npos)
      << status.output;
  EXPECT_EQ(Value(padrao), before);

  RunResult sync = RunCommand(exe + " -SYNC -NOPROBE");
  ASSERT_EQ(sync.exit_code, 0) << sync.output;
  int64_t posted = 0;
  for (const auto& [till, count] : platform->SalesPerTill()) posted += count;
  EXPECT_EQ(std::to_string(posted), to_send);
  // With no new sale left, the cancellations went out too.
  EXPECT_EQ(Value("select zentrovia_ultcancelamento from padrao"),
            Value("select coalesce(max(codigocancelamento), 0) from vendas"));
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"),
            Value("select max(venda) from vendas where codigoproduto not in ('XXDESCONTOXX', "
                  "'XXACRESCIMOXX', 'XXENTREGAXX', 'RECARGACELULAR')"));

  // A second run finds nothing above the stored cursor and posts nothing.
  const size_t requests = platform->Requests().size();
  RunResult again = RunCommand(exe + " /sync /noprobe");
  EXPECT_EQ(again.exit_code, 0) << again.output;
  EXPECT_EQ(platform->Requests().size(), requests);
}

TEST_F(ForegroundTest, SyncStopsAfterMaxCyclesAndAPlatformFailureEndsTheRunWithAPause) {
  // The connecting cycle counts: three cycles send two sales.
  RunResult limited = RunCommand(exe + " -SYNC -NOPROBE -MAXCYCLES 3");
  EXPECT_EQ(limited.exit_code, 0) << limited.output;
  EXPECT_EQ(platform->Requests().size(), 2u);

  const std::string cursor = Value("select zentrovia_ultvenda from padrao");
  EXPECT_NE(cursor, "0");

  platform->AddFault({"", 503, "busy", "text/plain", 0, -1});
  RunResult failed = RunCommand(exe + " -SYNC -NOPROBE");
  EXPECT_EQ(failed.exit_code, 2) << failed.output;
  EXPECT_NE(failed.output.find("retry pause"), std::string::npos) << failed.output;
  // The sale that could not be posted is still the next one to send.
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), cursor);
}

TEST_F(ForegroundTest, SyncPassesOverAFailingJobSendsTheRestAndEndsNamingItAsDoesStatus) {
  Sql({"update padrao set zentrovia_verificapromo = dateadd(-3 hour to current_timestamp)"});
  platform->AddFault({"/promociones", 503, "down", "text/plain", 0, -1});
  RunResult sync = RunCommand(exe + " -SYNC -NOPROBE");
  EXPECT_EQ(sync.exit_code, 2) << sync.output;
  EXPECT_NE(sync.output.find("AtualizaPromo is still due: it failed 1 time, last with "
                             "ERESTException - HTTP/1.1 503 Service Unavailable"),
            std::string::npos)
      << sync.output;
  int64_t posted = 0;
  for (const auto& [till, count] : platform->SalesPerTill()) posted += count;
  EXPECT_EQ(std::to_string(posted), Value(kSalesToSend));

  // -STATUS reads the retry time back from the log and passes the job over too.
  RunResult status = RunCommand(exe + " -STATUS");
  EXPECT_EQ(status.exit_code, 0) << status.output;
  EXPECT_NE(status.output.find("AtualizaPromo              passed over until "), std::string::npos)
      << status.output;
  EXPECT_NE(status.output.find("failed 1 time in a row, last at "), std::string::npos)
      << status.output;
  EXPECT_NE(status.output.find("The next cycle would run EnviarVendasZentrovia"), std::string::npos)
      << status.output;
}

TEST_F(ForegroundTest, StatusFailsClearlyWhenTheStoreCannotBeReached) {
  WriteIni("localhost", dir() + "missing.fdb");
  RunResult status = RunCommand(exe + " -STATUS");
  EXPECT_EQ(status.exit_code, 2);
  EXPECT_NE(status.output.find("The store database cannot be reached"), std::string::npos)
      << status.output;
}

}  // namespace
}  // namespace zv
