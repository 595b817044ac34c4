#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "base/version.h"
#include "service/activity_log.h"
#include "service/job_retry_status.h"
#include "service/srv_zentrovia.h"
#include "service/sync_cycle.h"
#include "support/log_messages.h"

namespace zv {
namespace {

using test::NoTransport;

class ScriptedProbe : public IUrlTester {
 public:
  bool TestUrl(const ProbeHost&, bool) override {
    ++calls;
    return answer;
  }
  bool answer = true;
  int calls = 0;
};

// The sync cycle alone: its connect step and jobs are stand-ins (the test's ISyncSteps),
// driven by a manual clock and a manual timer that move together; the log is the real one.
class SyncCycleTest : public ::testing::Test, public ISyncSteps {
 protected:
  SyncCycleTest() {
    timer.SetOnTimer([this] { cycle.Run(); });
    // Nothing but the sales upload is due.
    SetDueJobs(false, false, false);
  }

  bool isInternetOk() override {
    for (int host = 0; host < 2; ++host) {
      if (probe.TestUrl({"host"}, false) || probe.TestUrl({"host"}, true)) return true;
    }
    return false;
  }
  bool DbConnected() const override { return connected; }
  void IniConn() override { connected = connect_succeeds; }
  void RunJob(ZentroviaJob job) override {
    jobs.push_back(job);
    if (job_action) job_action(job);
  }
  bool StopRequested() const override { return stopping; }

  void SetDueJobs(bool reenvio, bool promo, bool caixa) {
    DateTime now = clock.Now();
    settings.zentrovia_verificareenvio = reenvio ? now.Date().AddMicros(-1) : now;
    settings.zentrovia_verificapromo = promo ? now.AddMinutes(-61) : now;
    settings.zentrovia_ultcaixa = caixa ? now.Date().AddDays(-1) : now.Date();
  }

  // Time passes for the clock and the timer alike; returns whether a cycle ran.
  bool Pass(int64_t ms) {
    clock.Set(clock.Now().AddMicros(ms * 1000));
    return timer.Advance(ms);
  }

  // The log's messages from line `from` on.
  std::vector<std::string> LogMessages(size_t from = 0) {
    std::vector<std::string> out = test::LogMessages(dir.path() / "Zentrovia.log");
    return from < out.size() ? std::vector<std::string>(out.begin() + from, out.end())
                             : std::vector<std::string>{};
  }

  // Arm the timer as the service start does and let the first, connecting cycle run.
  void StartAndConnect() {
    timer.Rearm(180000);
    ASSERT_FALSE(Pass(179999));
    ASSERT_TRUE(Pass(1));
    ASSERT_TRUE(connected);
  }

  test::TempDir dir;
  ManualClock clock{DateTime::FromParts(2026, 12, 9, 14, 0, 0)};
  ManualTimer timer;
  ScriptedProbe probe;
  IntegrationSettings settings;
  ActivityLog log{dir.dir() + "Zentrovia.log", clock, '/', ':'};
  TSyncCycle cycle{timer, clock, [this](const std::string& m) { log.Write(m); }, settings, *this};
  bool connected = false;
  bool connect_succeeds = true;
  bool stopping = false;
  std::vector<ZentroviaJob> jobs;
  std::function<void(ZentroviaJob)> job_action;
};

TEST_F(SyncCycleTest, FirstCycleConnectsAndTheFirstJobComesThirtySecondsLater) {
  StartAndConnect();
  EXPECT_TRUE(jobs.empty());
  EXPECT_EQ(timer.Interval(), 30000u);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"DB: desconectado -> IniConn"}));

  EXPECT_FALSE(Pass(29999));
  EXPECT_TRUE(Pass(1));
  EXPECT_EQ(jobs, std::vector<ZentroviaJob>{ZentroviaJob::EnviarVendas});
  EXPECT_EQ(timer.Interval(), 10000u);
  EXPECT_TRUE(Pass(10000));
  EXPECT_EQ(jobs.size(), 2u);
}

TEST_F(SyncCycleTest, AFailedConnectionIsTriedAgainInThirtySeconds) {
  connect_succeeds = false;
  timer.Rearm(180000);
  ASSERT_TRUE(Pass(180000));
  EXPECT_FALSE(connected);
  connect_succeeds = true;
  ASSERT_TRUE(Pass(30000));
  EXPECT_TRUE(connected);
  EXPECT_TRUE(jobs.empty());
}

TEST_F(SyncCycleTest, NoInternetLogsTwoLinesThenStaysQuietForFifteenMinutes) {
  StartAndConnect();
  size_t lines = LogMessages().size();
  probe.answer = false;
  probe.calls = 0;
  ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(probe.calls, 4);  // two hosts, HTTP then HTTPS each
  EXPECT_EQ(LogMessages(lines),
            (std::vector<std::string>{"Falha na conexão de internet.",
                                      "Entrando em pausa por 15 minutos (internet)."}));
  // 29 ticks, 30 seconds apart, inside the pause: nothing happens at all.
  for (int i = 0; i < 29; ++i) ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(probe.calls, 4);
  EXPECT_EQ(LogMessages(lines).size(), 2u);
  EXPECT_TRUE(jobs.empty());
  // Fifteen minutes after the failed probe the cycle works again.
  probe.answer = true;
  ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(jobs.size(), 1u);
}

struct ErrorCase {
  const char* name;
  std::function<void()> raise;
  std::string logged;
  bool dns;
};

TEST_F(SyncCycleTest, AJobErrorIsLoggedAndPausesFromTheCycleStart) {
  const std::vector<ErrorCase> cases = {
      {"winhttp number",
       [] {
         throw ERESTException(
             "REST request failed: Error sending data: (12007) The server name or address "
             "could not be resolved");
       },
       "ERRO no Timer: ERESTException - REST request failed: Error sending data: (12007) The "
       "server name or address could not be resolved",
       true},
      {"system text, capitals lowered",
       [] {
         throw EDatabaseError(
             "O Nome Do Servidor N\xC3\xA3o P\xC3\xB4"
             "de Ser Resolvido");
       },
       "ERRO no Timer: EDatabaseError - O Nome Do Servidor Não Pôde Ser Resolvido", true},
      {"accented capitals stay",
       [] {
         throw EDatabaseError(
             "N\xC3\x83O P\xC3\x94"
             "DE SER RESOLVIDO");
       },
       "ERRO no Timer: EDatabaseError - NÃO PÔDE SER RESOLVIDO", false},
      {"any other error", [] { throw EDatabaseError("lock conflict on no wait transaction"); },
       "ERRO no Timer: EDatabaseError - lock conflict on no wait transaction", false},
      // An allocation that fails inside a job is an error of that job, in the log.
      {"out of memory", [] { throw std::bad_alloc(); },
       "ERRO no Timer: EOutOfMemory - Out of memory (std::bad_alloc)", false},
  };
  StartAndConnect();
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    cycle.FCooldownUntil = DateTime();
    size_t lines = LogMessages().size();
    const DateTime start = clock.Now().AddMicros(30000 * 1000);
    // The job takes 100 seconds before it fails.
    job_action = [&](ZentroviaJob) {
      clock.Set(clock.Now().AddSeconds(100));
      c.raise();
    };
    ASSERT_TRUE(Pass(30000));
    job_action = nullptr;
    std::vector<std::string> expected = {c.logged};
    if (c.dns) expected.push_back("Rede/DNS falhou (12007). Pausando por 15 minutos.");
    EXPECT_EQ(LogMessages(lines), expected);
    EXPECT_EQ(cycle.FCooldownUntil, start.AddSeconds(c.dns ? 900 : 60));
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 30000u);
  }
  // The 60-second pause began 100 seconds ago: the very next tick runs the job again,
  // and the expired pause value stays until a job returns.
  size_t before = jobs.size();
  ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(jobs.size(), before + 1);
  EXPECT_EQ(cycle.FCooldownUntil, DateTime());
}

TEST_F(SyncCycleTest, AnExpiredPauseDoesNotBlockButAFutureOneDoes) {
  StartAndConnect();
  cycle.FCooldownUntil = clock.Now().AddSeconds(30);
  ASSERT_TRUE(Pass(30000));  // now == pause end: not greater, so the job runs
  EXPECT_EQ(jobs.size(), 1u);
  cycle.FCooldownUntil = clock.Now().AddSeconds(40);
  ASSERT_TRUE(Pass(10000));
  EXPECT_EQ(jobs.size(), 1u);
  EXPECT_EQ(timer.Interval(), 30000u);
}

TEST(NextJob, TheFirstDueJobWinsAndTheComparisonsAreStrict) {
  const DateTime now = DateTime::FromParts(2026, 12, 9, 14, 0, 0);
  const DateTime today = now.Date();
  struct Case {
    const char* name;
    DateTime reenvio, promo, caixa;
    ZentroviaJob expected;
  };
  const Case cases[] = {
      {"resend poll of yesterday 23:59 beats everything", today.AddSeconds(-60),
       now.AddMinutes(-120), today.AddDays(-5), ZentroviaJob::VerificaReenvio},
      {"resend poll at today's midnight is not due", today, now, today, ZentroviaJob::EnviarVendas},
      {"promotions exactly 60 minutes old are not due", now, now.AddMinutes(-60), today,
       ZentroviaJob::EnviarVendas},
      {"promotions a millisecond older are due", now, now.AddMinutes(-60).AddMicros(-1000),
       today.AddDays(-1), ZentroviaJob::AtualizaPromo},
      {"closing cursor on today is not due", now, now, today, ZentroviaJob::EnviarVendas},
      {"closing cursor on yesterday is due", now, now, today.AddDays(-1),
       ZentroviaJob::FechamentoCaixa},
  };
  IntegrationSettings settings;
  for (const Case& c : cases) {
    settings.zentrovia_verificareenvio = c.reenvio;
    settings.zentrovia_verificapromo = c.promo;
    settings.zentrovia_ultcaixa = c.caixa;
    EXPECT_EQ(ChooseJob(settings, now, today), c.expected) << c.name;
  }
}

TEST_F(SyncCycleTest, TheCycleReArmDecidesAfterAJobSetItsOwnInterval) {
  StartAndConnect();
  // The uploads end by arming the timer at zentrovia_intervalo seconds.
  job_action = [&](ZentroviaJob) {
    timer.Disable();
    timer.SetInterval(5000);
    timer.Enable();
  };
  ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(timer.Interval(), 10000u);
  EXPECT_FALSE(Pass(9999));
  EXPECT_TRUE(Pass(1));
}

TEST_F(SyncCycleTest, ALogThatCannotBeWrittenStillPausesAndLeavesTheTimerRunning) {
  StartAndConnect();
  std::filesystem::remove(dir.path() / "Zentrovia.log");
  std::filesystem::create_directory(dir.path() / "Zentrovia.log");
  job_action = [](ZentroviaJob) { throw EDatabaseError("connection lost"); };
  const DateTime start = clock.Now().AddSeconds(30);
  ASSERT_TRUE(Pass(30000));
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 30000u);
  // The pause does not depend on the log: the failing job is not retried every 30 seconds.
  EXPECT_EQ(cycle.FCooldownUntil, start.AddSeconds(60));
  ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(jobs.size(), 1u);
  std::filesystem::remove(dir.path() / "Zentrovia.log");
}

// The service module around the cycle: its start arms the first cycle in three minutes, and
// its stop waits for a running cycle (here one held in the connectivity probe).
TEST(ServiceModule, TheStopWaitsForARunningCycleAndNoCycleRunsAfterIt) {
  test::TempDir dir;
  ManualClock clock(DateTime::FromParts(2026, 12, 9, 14, 0, 0));
  ManualTimer timer;
  NoTransport transport;
  std::promise<void> cycle_started;
  std::atomic<bool> cycle_finished{false};
  TSrvZentrovia* module_ptr = nullptr;
  struct HeldProbe : IUrlTester {
    std::function<void()> on_test;
    bool TestUrl(const ProbeHost&, bool) override {
      on_test();
      return false;
    }
  } probe;
  probe.on_test = [&] {
    if (cycle_finished) return;
    cycle_started.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    module_ptr->DoSaveLog("probe finished");
    cycle_finished = true;
  };
  ServiceEnvironment env;
  env.clock = &clock;
  env.timer = &timer;
  env.transport = &transport;
  env.url_tester = &probe;
  env.probe_hosts = {{"one.invalid"}};
  env.exe_dir = dir.dir();
  env.firewall_setup = false;
  TSrvZentrovia module(env);
  module_ptr = &module;
  module.ServiceStart();
  EXPECT_EQ(timer.Interval(), 180000u);
  EXPECT_TRUE(timer.Enabled());

  std::thread cycle([&] { timer.Advance(180000); });
  cycle_started.get_future().wait();
  module.ServiceStop();
  EXPECT_TRUE(cycle_finished);
  cycle.join();

  std::vector<std::string> log = test::LogMessages(dir.path() / "Zentrovia.log");
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[1], "Serviço iniciado. Primeiro ciclo do Zentrovia em 3 minutos. " + VersionText());
  // Everything the running cycle wrote comes before the stop's line.
  EXPECT_NE(std::find(log.begin(), log.end(), "probe finished"), log.end());
  EXPECT_EQ(log.back(), "Serviço parado");
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(module.ZentroviaTimerTimer(), CycleOutcome::Stopped);
}

TEST_F(SyncCycleTest, AFailingJobStepsAsideForAGrowingRetryTimeWhileTheOthersRun) {
  StartAndConnect();
  SetDueJobs(false, true, true);
  bool promo_fails = true;
  std::vector<int64_t> waits;  // retry time after each failure, in seconds
  job_action = [&](ZentroviaJob job) {
    if (job == ZentroviaJob::AtualizaPromo) {
      if (promo_fails) throw ERESTException("HTTP/1.1 503 Service Unavailable");
      settings.zentrovia_verificapromo = clock.Now();
    }
    // The closing and the sales upload do their work.
    if (job == ZentroviaJob::FechamentoCaixa) settings.zentrovia_ultcaixa = clock.Now().Date();
  };
  for (int i = 0; i < 6; ++i) {
    // Until the promotion import runs again, the closing then the sales upload go on.
    for (int tick = 0; tick < 200; ++tick) {
      const size_t before = jobs.size();
      Pass(10000);
      if (jobs.size() > before && jobs.back() == ZentroviaJob::AtualizaPromo) break;
    }
    ASSERT_EQ(jobs.back(), ZentroviaJob::AtualizaPromo);
    const std::optional<JobRetry>& retry = cycle.RetryTimes().Of(ZentroviaJob::AtualizaPromo);
    ASSERT_TRUE(retry);
    waits.push_back((retry->until.micros() - clock.Now().micros()) / DateTime::kMicrosPerSecond);
    EXPECT_EQ(retry->failures, i + 1);
    EXPECT_EQ(LogMessages().back(), RetryLogLine(ZentroviaJob::AtualizaPromo, *retry));
    EXPECT_EQ(cycle.FCooldownUntil, clock.Now().AddSeconds(60));
  }
  EXPECT_EQ(waits, (std::vector<int64_t>{60, 120, 300, 600, 900, 900}));
  EXPECT_EQ(std::count(jobs.begin(), jobs.end(), ZentroviaJob::FechamentoCaixa), 1);
  EXPECT_GT(std::count(jobs.begin(), jobs.end(), ZentroviaJob::EnviarVendas), 100);
  EXPECT_EQ(cycle.NextJob(clock.Now(), clock.Now().Date()), ZentroviaJob::EnviarVendas);

  // Mended: the next attempt succeeds and clears the retry time; a new failure starts over.
  promo_fails = false;
  for (int tick = 0; tick < 95; ++tick) Pass(10000);
  EXPECT_EQ(jobs.back(), ZentroviaJob::EnviarVendas);
  EXPECT_FALSE(cycle.RetryTimes().Of(ZentroviaJob::AtualizaPromo));
  SetDueJobs(false, true, false);
  promo_fails = true;
  ASSERT_TRUE(Pass(10000));
  EXPECT_EQ(cycle.RetryTimes().Of(ZentroviaJob::AtualizaPromo)->until, clock.Now().AddSeconds(60));
}

TEST_F(SyncCycleTest, AStampedJobThatReturnsWithItsStampUnmovedHasFailedUnlessStopping) {
  StartAndConnect();
  SetDueJobs(true, false, false);
  const size_t lines = LogMessages().size();
  ASSERT_TRUE(Pass(30000));  // the job returns without writing its stamp
  EXPECT_EQ(LogMessages(lines),
            (std::vector<std::string>{
                "ERRO no Timer: EJobIncomplete - VerificaReenvio terminou sem gravar "
                "zentrovia_verificareenvio",
                "Tarefa VerificaReenvio adiada até 09/12/2026 14:04:30 (falha 1): EJobIncomplete "
                "- VerificaReenvio terminou sem gravar zentrovia_verificareenvio"}));

  // A stop request ends a job early without a failure.
  cycle.FCooldownUntil = DateTime();
  Pass(60000);
  const size_t after = LogMessages().size();
  const int failures = cycle.RetryTimes().Of(ZentroviaJob::VerificaReenvio)->failures;
  stopping = true;
  ASSERT_TRUE(Pass(120000));
  EXPECT_EQ(jobs.back(), ZentroviaJob::VerificaReenvio);
  EXPECT_EQ(LogMessages().size(), after);
  EXPECT_EQ(cycle.FCooldownUntil, DateTime());
  EXPECT_EQ(failures, 2);
}

TEST_F(SyncCycleTest, AJobWhoseStampMovedBeforeALogFailureIsDoneButTheCyclePauses) {
  StartAndConnect();
  SetDueJobs(false, true, false);
  job_action = [&](ZentroviaJob job) {
    if (job != ZentroviaJob::AtualizaPromo) return;
    settings.zentrovia_verificapromo = clock.Now();
    throw EInOutError("I/O error 28: No space left on device");
  };
  const size_t lines = LogMessages().size();
  ASSERT_TRUE(Pass(30000));
  EXPECT_EQ(LogMessages(lines), (std::vector<std::string>{"ERRO no Timer: EInOutError - I/O error "
                                                          "28: No space left on device"}));
  EXPECT_FALSE(cycle.RetryTimes().Of(ZentroviaJob::AtualizaPromo));
  EXPECT_EQ(cycle.FCooldownUntil, clock.Now().AddSeconds(60));
  ASSERT_TRUE(Pass(60000));
  EXPECT_EQ(jobs.back(), ZentroviaJob::EnviarVendas);
}

TEST(JobRetryStatus, TheLastNoticeOfEachJobSinceTheProcessStartedIsReadBack) {
  JobRetry promo{DateTime::FromParts(2026, 12, 9, 14, 20, 0), 3,
                 "ERESTException - HTTP/1.1 503 Service Unavailable"};
  JobRetry closing{DateTime::FromParts(2026, 12, 9, 14, 1, 0), 1,
                   "EDatabaseError - conexão perdida: (12029)"};
  const std::string log =
      "09/12/2026 13:00:00 - Tarefa FechamentoCaixaZentrovia adiada até 09/12/2026 13:01:00 "
      "(falha 1): from an earlier process\r\n"
      "09-12-2026 13:50:00 - Serviço iniciado. Primeiro ciclo do Zentrovia em 3 minutos.\r\n"
      "09-12-2026 13:53:00 - DB: desconectado -> IniConn\r\n"
      "09-12-2026 14:00:00 - " +
      RetryLogLine(ZentroviaJob::AtualizaPromo, {promo.until.AddSeconds(-600), 2, "old"}, '-',
                   '.') +
      "\r\n"
      "Mensagem: a continuation line without a time\r\n"
      "09-12-2026 14:00:00 - Tarefa AtualizaPromo adiada até nonsense (falha 9): cut\r\n"
      "09-12-2026 14:00:00 - " +
      RetryLogLine(ZentroviaJob::FechamentoCaixa, closing, '-', '.') +
      "\r\n"
      "09-12-2026 14:05:00 - " +
      RetryLogLine(ZentroviaJob::AtualizaPromo, promo, '-', '.') + "\n";
  const std::vector<RetryNotice> notices = ReadRetryNotices(log);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].job, "FechamentoCaixaZentrovia");
  EXPECT_EQ(notices[0].until, closing.until);
  EXPECT_EQ(notices[0].error, closing.error);
  EXPECT_EQ(notices[1].job, "AtualizaPromo");
  EXPECT_EQ(notices[1].logged, DateTime::FromParts(2026, 12, 9, 14, 5, 0));
  EXPECT_EQ(notices[1].until, promo.until);
  EXPECT_EQ(notices[1].failures, 3);
  EXPECT_EQ(notices[1].error, promo.error);
}

}  // namespace
}  // namespace zv
