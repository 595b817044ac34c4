#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "base/version.h"
#include "service/activity_log.h"
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

}  // namespace
}  // namespace zv
