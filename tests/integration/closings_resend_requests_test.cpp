// The resend requests against a real store database and the fake platform: which request
// lists lead to which posts, what an error ends, and when the poll counts as done.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "base/errors.h"
#include "closings/resend_requests.h"
#include "closings_fixture.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

using test::Closing;
using test::IsoDay;
using test::Partial;
using test::SqlDate;

std::string Request(const std::string& fecha, const std::string& tipo,
                    const std::string& caja_member = "") {
  return R"({"fecha":")" + fecha + R"(","tipo":")" + tipo + "\"" +
         (caja_member.empty() ? "" : "," + caja_member) + "}";
}

std::string List(const std::vector<std::string>& requests) {
  std::string s;
  for (const auto& r : requests) s += (s.empty() ? "" : ",") + r;
  return "[" + s + "]";
}

class ResendRequestsTest : public test::ClosingsFixture {
 protected:
  void SetUp() override {
    ClosingsFixture::SetUp();
    if (StoreMissing()) return;
    day = today.AddDays(-2);
    // The poll was done yesterday: the job is due.
    Settings(SqlDate(today), SqlDate(today.AddDays(-10)),
             "'" + IsoDay(today.AddDays(-1)) + " 08:00:00'");
    DayOfThreeTills(day, 1);
  }

  std::string Poll() { return Value("select zentrovia_verificareenvio from padrao"); }
  bool PollMovedToday() {
    return Value("select count(*) from padrao where zentrovia_verificareenvio >= current_date") ==
           "1";
  }
  std::string Done() const { return "[R: " + Dated(today) + "]Renvios enviados com sucesso"; }

  DateTime day;
};

TEST_F(ResendRequestsTest, ClosingRequestsAreResentInOrderThenThePollIsDone) {
  const std::string d = IsoDay(day);
  platform_.SetResendClosings(List({
      Request(d, "MOVIMIENTOS"),  // not a closing request: skipped
      Request(d, "CIERRES_DIARIOS", R"("codigoCaja":"1")"),
      // 22:00 at -03:00 is 01:00 UTC the next day: the request is still for the day written.
      Request(d + "T22:00:00-03:00", "CIERRES_DIARIOS", R"("codigoCaja":2)"),
      Request(d, "CIERRES_DIARIOS"),
      Request(d, "CIERRES_DIARIOS", R"("codigoCaja":null)"),
      Request(IsoDay(today), "CIERRES_DIARIOS", R"("codigoCaja":1)"),
      Request(d, "CIERRES_DIARIOS", R"("codigoCaja":"abc")"),
  }));
  ConnectOk();

  VerificaReenvio(Service().Context());

  // Till 1 counts the NULL-till rows, as the daily closing does.
  const Post till1{"1", Closing("1359.50", "0.00", 3, day, 0)};
  const Post till2{"2", Closing("49.50", "0.00", 2, day, 0)};
  const Post till3{"3", Closing("0.00", "15.00", 2, day, 1)};
  const Post partial{"9999", Partial("17.00", day, 2)};
  EXPECT_EQ(ClosingPosts(), (std::vector<Post>{till1, partial, till2, partial, till1, till2, till3,
                                               partial, till1, till2, till3, partial}));
  // The till that is no number is passed over alone, before anything is sent.
  const auto log = LogMessages();
  const auto refused =
      std::find(log.begin(), log.end(), "Erro Verifica Reenvio Cierres Diarios: EConversionError");
  ASSERT_NE(refused, log.end());
  EXPECT_EQ(*(refused + 1), "Mensagem: 'abc' is not a valid integer value");
  EXPECT_EQ((refused + 2)->rfind("[REENVIO-CAIXA:", 0), 0u) << *(refused + 2);
  EXPECT_EQ(log.back(), Done());
  EXPECT_TRUE(PollMovedToday()) << Poll();
  // The poll time is the service's own clock.
  EXPECT_EQ(Service().Settings().zentrovia_verificareenvio, clock.Now());
  EXPECT_NE(Service().NextJob(clock.Now(), today), ZentroviaJob::VerificaReenvio);
  EXPECT_TRUE(timer.Enabled());
}

TEST_F(ResendRequestsTest, ARequestThatCannotBeReadIsPassedOverAlone) {
  const std::string d = IsoDay(day);
  const std::string dated = Dated(day);
  struct Case {
    const char* name;
    std::string movements, closings;
    std::vector<std::string> log;  // the job's lines, the error's two lines as two entries
    size_t movement_posts, closing_posts;
  };
  const std::vector<Case> cases = {
      {"movement list: an element without fecha",
       List({Request(d, "CIERRES_DIARIOS"), R"({"tipo":"MOVIMIENTOS"})",
             Request(d, "MOVIMIENTOS", R"("codigoCaja":2)")}),
       List({Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)")}),
       {"Erro Verifica Reenvio Movimentos: EJSONException", "Mensagem: Value 'fecha' not found",
        "[REENVIO-VENDA= 5]Ok:#", "[REENVIO-VENDA= 6]Ok:#", "[REENVIO-CAIXA:" + dated + "]Ok:#",
        "[REENVIO-CAIXA-PARC.:" + dated + "]Ok:#", Done()},
       2,
       2},
      {"closing list: an element that is no object between two acted on",
       "[]",
       List({Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)"), "17",
             Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)")}),
       {"Erro Verifica Reenvio Cierres Diarios: EConversionError",
        "Mensagem: Cannot read JSON number as object", "[REENVIO-CAIXA:" + dated + "]Ok:#",
        "[REENVIO-CAIXA-PARC.:" + dated + "]Ok:#", "[REENVIO-CAIXA:" + dated + "]Ok:#",
        "[REENVIO-CAIXA-PARC.:" + dated + "]Ok:#", Done()},
       0,
       4},
      {"closing list: a date that is no date",
       "[]",
       List({Request("2026-02-30", "CIERRES_DIARIOS", R"("codigoCaja":2)")}),
       {"Erro Verifica Reenvio Cierres Diarios: EConversionError",
        "Mensagem: '2026-02-30' is not a valid ISO 8601 date", Done()},
       0,
       0},
      {"an error object in place of both lists",
       R"({"message":"NOT_FOUND"})",
       R"({"errores":[]})",
       {"Error on parse \"Reenvios\".", "Error on parse \"Reenvios\".", Done()},
       0,
       0},
  };
  ConnectOk();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sql({"update padrao set zentrovia_verificareenvio = '" + IsoDay(today.AddDays(-1)) +
         " 08:00:00'"});
    platform_.ClearRequests();
    platform_.SetResendMovements(c.movements);
    platform_.SetResendClosings(c.closings);
    const size_t before = LogMessages().size();

    VerificaReenvio(Service().Context());
    EXPECT_EQ(LogMessages().size(), before + c.log.size());
    EXPECT_EQ(LogTail(c.log.size()), c.log);
    EXPECT_EQ(CountRequests("POST", "/movimientos/"), c.movement_posts);
    EXPECT_EQ(ClosingPosts().size(), c.closing_posts);
    EXPECT_TRUE(PollMovedToday()) << Poll();
  }
}

TEST_F(ResendRequestsTest, MovementRequestsResendTheDaysSalesInOrder) {
  const std::string d = IsoDay(day);
  platform_.SetResendMovements(List({
      Request(d, "CIERRES_DIARIOS"),  // not a movement request: skipped
      Request(d, "MOVIMIENTOS", R"("codigoCaja":2)"),
      Request(d, "MOVIMIENTOS"),
      Request(d, "MOVIMIENTOS", R"("codigoCaja":"1x")"),  // passed over alone
      Request(d, "MOVIMIENTOS", R"("codigoCaja":3)"),
  }));
  platform_.SetResendClosings(List({Request(d, "CIERRES_DIARIOS", R"("codigoCaja":3)")}));
  ConnectOk();

  VerificaReenvio(Service().Context());
  std::vector<std::string> numbers;
  static const std::regex numero(R"re("numero":"(\d+)")re");
  for (const auto& r : platform_.Requests()) {
    std::smatch m;
    if (r.method == "POST" && r.path.find("/movimientos/") != std::string::npos &&
        std::regex_search(r.body, m, numero))
      numbers.push_back(m[1]);
  }
  // Till 2's sales, then every sale of the day, the NULL-till ones and the wholly cancelled
  // ones included, then till 3's.
  EXPECT_EQ(numbers, (std::vector<std::string>{"5", "6", "1", "2", "3", "4", "5", "6", "7", "8",
                                               "9", "7", "8"}));
  const auto log = LogMessages();
  const auto refused =
      std::find(log.begin(), log.end(), "Erro Verifica Reenvio Movimentos: EConversionError");
  ASSERT_NE(refused, log.end());
  EXPECT_EQ(*(refused + 1), "Mensagem: '1x' is not a valid integer value");
  EXPECT_EQ(LogTail(3),
            (std::vector<std::string>{"[REENVIO-CAIXA:" + Dated(day) + "]Ok:#",
                                      "[REENVIO-CAIXA-PARC.:" + Dated(day) + "]Ok:#", Done()}));
  EXPECT_TRUE(PollMovedToday());
}

TEST_F(ResendRequestsTest, AListThatCannotBeReadPausesTheCycleAndLeavesThePollDue) {
  test::TempDir files;
  const std::string empty_file = (files.path() / "empty.json").string();
  std::ofstream(empty_file).close();
  const std::string huge_file = (files.path() / "huge.json").string();
  {
    // Just over the 32 MiB an answer may have.
    std::ofstream huge(huge_file, std::ios::binary);
    huge << "[";
    const std::string element = Request(IsoDay(day), "CIERRES_DIARIOS") + ",";
    for (size_t n = 1; n <= (32u << 20) + 1; n += element.size()) huge << element;
    huge << Request(IsoDay(day), "CIERRES_DIARIOS") << "]";
  }
  struct Case {
    const char* name;
    std::string file;
    fake::Fault fault;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"an empty body", empty_file, {}, "EConversionError - resend request list is not JSON"},
      {"a proxy's page",
       "",
       {"/solicitudes/movimientos", 200, "<html><body>Acesso bloqueado</body></html>", "text/html",
        0, -1},
       "EConversionError - resend request list is not JSON"},
      {"503 on the GET",
       "",
       {"/solicitudes/movimientos", 503, "busy", "text/plain", 0, -1},
       "ERESTException - HTTP/1.1 503 Service Unavailable"},
      {"an answer over 32 MiB",
       huge_file,
       {},
       "ERESTException - REST request failed: the answer is longer than 33554432 bytes"},
  };
  ConnectOk();
  const std::string poll = Poll();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.ClearRequests();
    platform_.ClearFaults();
    if (c.fault.status != 0) platform_.AddFault(c.fault, "GET", 0);
    platform_.SetResendMovementsFile(c.file);

    EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobFailed);
    const std::vector<std::string> log = LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "ERRO no Timer: " + c.error);
    EXPECT_EQ(log.back().rfind("Tarefa VerificaReenvio adiada até ", 0), 0u) << log.back();
    EXPECT_EQ(Service().FCooldownUntil(), clock.Now().AddSeconds(60));
    EXPECT_EQ(Poll(), poll);
    EXPECT_EQ(platform_.Requests().size(), 1u);  // the closing list is not asked for
    clock.Advance(901);                          // past the job's retry time
  }
}

TEST_F(ResendRequestsTest, ALongListRunsWholeAndAStopEndsItAfterTheCurrentRequest) {
  // 100,000 requests of the other kind are read and passed over.
  std::vector<std::string> skipped(100000, Request(IsoDay(day), "CIERRES_DIARIOS"));
  platform_.SetResendMovements(List(skipped));
  ConnectOk();
  VerificaReenvio(Service().Context());
  EXPECT_TRUE(ClosingPosts().empty());
  EXPECT_TRUE(PollMovedToday()) << Poll();
  EXPECT_EQ(LogMessages().back(), Done());

  // A stop asked for while the first of many requests is resent.
  const std::string due = "'" + IsoDay(today.AddDays(-1)) + " 08:00:00'";
  Sql({"update padrao set zentrovia_verificareenvio = " + due});
  const std::string poll = Poll();
  platform_.SetResendMovements("[]");
  platform_.SetResendClosings(List(
      std::vector<std::string>(50, Request(IsoDay(day), "CIERRES_DIARIOS", R"("codigoCaja":2)"))));
  Service().Context().stop_requested = [this] { return !ClosingPosts().empty(); };
  const size_t before = LogMessages().size();
  VerificaReenvio(Service().Context());
  EXPECT_EQ(ClosingPosts().size(), 2u);  // the till and "9999" of the first request
  EXPECT_EQ(LogMessages().size(), before + 2);
  EXPECT_EQ(Poll(), poll);
}

// A poll that an error ends stays due and goes on where it stopped: every document goes out
// once with a verdict, whatever ended the first run.
TEST_F(ResendRequestsTest, APollEndedEarlyGoesOnWithoutPostingAnythingTwice) {
  const std::string d = IsoDay(day);
  platform_.SetResendMovements(List({Request(d, "MOVIMIENTOS", R"("codigoCaja":2)"),
                                     Request(d, "MOVIMIENTOS", R"("codigoCaja":3)")}));
  platform_.SetResendClosings(List({Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)")}));
  ConnectOk();

  // What the platform received over both runs: movement numbers, "C<till>" for closings; a
  // post that failed or got no verdict is marked "!".
  auto received = [this] {
    std::vector<std::string> out;
    static const std::regex numero(R"re("numero":"(\d+)")re");
    for (const auto& r : platform_.Requests()) {
      if (r.method != "POST") continue;
      std::smatch m;
      if (r.path.find("/movimientos/") != std::string::npos && std::regex_search(r.body, m, numero))
        out.push_back(m[1]);
      else if (r.path.find("/cierresDiarios/") != std::string::npos)
        out.push_back("C" +
                      r.path.substr(r.path.find("/cajas/") + 7,
                                    r.path.find("/cierresDiarios/") - r.path.find("/cajas/") - 7));
    }
    return out;
  };
  auto fault = [this](const char* path, int status, const char* body, const char* type,
                      const char* method, int skip) {
    return [=, this] { platform_.AddFault({path, status, body, type, 0, 1}, method, skip); };
  };
  struct Case {
    const char* name;
    std::function<void()> set, clear;
    std::vector<std::string> posts;
    std::string error;  // the cycle's line after the first run
  };
  const std::vector<Case> cases = {
      {"the closing list answers 503",
       fault("/solicitudes/cierresDiarios", 503, "busy", "text/plain", "GET", 0),
       [] {},
       {"5", "6", "7", "8", "C2", "C9999"},
       "ERRO no Timer: ERESTException - HTTP/1.1 503 Service Unavailable"},
      {"a login refused on the movement list",
       [this] { platform_.SetCredentials("zentrovia", "outra"); },
       [this] { platform_.SetCredentials("zentrovia", "zentrovia"); },
       {"5", "6", "7", "8", "C2", "C9999"},
       "ERRO no Timer: ERESTException - Usuário e/ou senha inválidos"},
      {"the second sale's post answers 503",
       fault("/movimientos/", 503, "busy", "text/plain", "POST", 1),
       [] {},
       {"5", "6", "6", "7", "8", "C2", "C9999"},
       "ERRO no Timer: ERESTException - HTTP/1.1 503 Service Unavailable"},
      {"a login page in answer to the third sale",
       fault("/movimientos/", 200, "<html>login</html>", "text/html", "POST", 2),
       [] {},
       {"5", "6", "7", "7", "8", "C2", "C9999"},
       "ERRO no Timer: ERESTException - Erro: JSON inválido"},
      {"the 9999 closing answers 503",
       fault("/cajas/9999/", 503, "busy", "text/plain", "POST", 0),
       [] {},
       {"5", "6", "7", "8", "C2", "C9999", "C9999"},
       "ERRO no Timer: ERESTException - HTTP/1.1 503 Service Unavailable"},
      {"the poll's update is refused by the store",
       [this] {
         Sql({"create exception zv_padrao_busy 'padrao em uso'",
              "create trigger zv_padrao_busy for padrao before update as begin "
              "if (new.zentrovia_verificareenvio is distinct from old.zentrovia_verificareenvio) "
              "then exception zv_padrao_busy; end"});
         // A new attachment sees the new trigger.
         Service().Store().Release();
         Service().IniConn();
       },
       [this] {
         Service().Store().Release();
         Sql({"drop trigger zv_padrao_busy", "drop exception zv_padrao_busy"});
         Service().IniConn();
       },
       {"5", "6", "7", "8", "C2", "C9999"},
       "ERRO no Timer: EDatabaseError - "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sql({"update padrao set zentrovia_verificareenvio = '" + IsoDay(today.AddDays(-1)) +
         " 08:00:00'"});
    Service().GetCredenciaisZentrovia();
    platform_.ClearRequests();
    platform_.ClearFaults();
    const std::string poll = Poll();
    c.set();

    EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobFailed);
    const std::vector<std::string> log = LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].rfind(c.error, 0), 0u) << log[log.size() - 2];
    EXPECT_EQ(log.back().rfind("Tarefa VerificaReenvio adiada até ", 0), 0u) << log.back();
    EXPECT_EQ(Poll(), poll);
    c.clear();
    clock.Advance(61);
    EXPECT_EQ(Service().ZentroviaTimerTimer(), CycleOutcome::JobDone);
    EXPECT_EQ(LogMessages().back(), Done());
    EXPECT_TRUE(PollMovedToday()) << Poll();
    EXPECT_EQ(received(), c.posts);
    EXPECT_EQ(Service().Context().resend_progress.Size(), 0u);
  }
}

// What a poll remembers belongs to that poll: once the poll has moved (here by hand in the
// settings row) the requests are acted on afresh.
TEST_F(ResendRequestsTest, AMovedPollForgetsWhatTheUnfinishedOneSent) {
  platform_.SetResendMovements(List({Request(IsoDay(day), "MOVIMIENTOS", R"("codigoCaja":2)")}));
  platform_.AddFault({"/movimientos/", 503, "busy", "text/plain", 0, 1}, "POST", 1);
  ConnectOk();
  EXPECT_THROW(VerificaReenvio(Service().Context()), ERESTException);
  EXPECT_EQ(CountRequests("POST", "/movimientos/"), 2u);

  Sql({"update padrao set zentrovia_verificareenvio = '" + IsoDay(today.AddDays(-1)) +
       " 09:00:00'"});
  Service().GetCredenciaisZentrovia();
  VerificaReenvio(Service().Context());
  // Sale 5 again, then sale 6.
  EXPECT_EQ(CountRequests("POST", "/movimientos/"), 4u);
  EXPECT_TRUE(PollMovedToday()) << Poll();
}

// Once the poll is written it counts, even when its log line cannot be written.
TEST_F(ResendRequestsTest, AWrittenPollStandsWhenTheLogFails) {
  ConnectOk();
  std::filesystem::remove(dir() + "Zentrovia.log");
  std::filesystem::create_directory(dir() + "Zentrovia.log");
  EXPECT_THROW(VerificaReenvio(Service().Context()), EInOutError);
  std::filesystem::remove(dir() + "Zentrovia.log");
  EXPECT_TRUE(PollMovedToday()) << Poll();
  EXPECT_EQ(Service().Settings().zentrovia_verificareenvio, clock.Now());
  EXPECT_NE(Service().NextJob(clock.Now(), today), ZentroviaJob::VerificaReenvio);
}

}  // namespace
}  // namespace zv
