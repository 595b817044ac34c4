// The resend requests against a real store database and the fake platform: which request
// lists lead to which posts, what an error ends, and when the poll counts as done.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

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
    if (IsSkipped()) return;
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
      // 22:00 at -03:00 is 01:00 UTC the next day: the request is for that day.
      Request(IsoDay(day.AddDays(-1)) + "T22:00:00-03:00", "CIERRES_DIARIOS", R"("codigoCaja":2)"),
      Request(d, "CIERRES_DIARIOS"),
      Request(d, "CIERRES_DIARIOS", R"("codigoCaja":null)"),
      Request(IsoDay(today), "CIERRES_DIARIOS", R"("codigoCaja":1)"),
      Request(d, "CIERRES_DIARIOS", R"("codigoCaja":"abc")"),
  }));
  ConnectOk();

  VerificaReenvio(Service().Context());

  const Post till1{"1", Closing("1234.50", "0.00", 1, day, 0)};
  const Post till2{"2", Closing("49.50", "0.00", 2, day, 0)};
  const Post till3{"3", Closing("0.00", "15.00", 2, day, 1)};
  const Post partial{"9999", Partial("17.00", day, 2)};
  EXPECT_EQ(ClosingPosts(), (std::vector<Post>{till1, partial, till2, partial, till1, till2, till3,
                                               partial, till1, till2, till3, partial}));
  // The till that is no number is refused by the store server; the list goes on to its end.
  const auto tail = LogTail(4);
  EXPECT_EQ(tail[0], "");
  EXPECT_EQ(tail[1], "Erro Reenvio Caixa: EDatabaseError");
  EXPECT_EQ(tail[2].rfind("Mensagem: ", 0), 0u) << tail[2];
  EXPECT_EQ(tail[3], Done());
  EXPECT_TRUE(PollMovedToday()) << Poll();
  EXPECT_GE(Service().Settings().zentrovia_verificareenvio, today);
  EXPECT_TRUE(timer.Enabled());
}

TEST_F(ResendRequestsTest, AnErrorEndsItsListOnly) {
  const std::string d = IsoDay(day);
  struct Case {
    const char* name;
    std::string movements, closings;
    std::vector<std::string> log;  // the job's lines, the error's two lines as two entries
    size_t closing_posts;
  };
  const std::vector<Case> cases = {
      {"movement list: an element without fecha",
       List({Request(d, "CIERRES_DIARIOS"), R"({"tipo":"MOVIMIENTOS"})",
             Request(d, "MOVIMIENTOS", R"("codigoCaja":2)")}),
       List({Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)")}),
       {"Erro Verifica Reenvio Movimentos: EJSONException", "Mensagem: Value 'fecha' not found",
        "[REENVIO-CAIXA:" + Dated(day) + "]Ok:#", "[REENVIO-CAIXA-PARC.:" + Dated(day) + "]Ok:#",
        Done()},
       2},
      {"closing list: an element that is no object after one acted on",
       "[]",
       List({Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)"), "17",
             Request(d, "CIERRES_DIARIOS", R"("codigoCaja":2)")}),
       {"[REENVIO-CAIXA:" + Dated(day) + "]Ok:#", "[REENVIO-CAIXA-PARC.:" + Dated(day) + "]Ok:#",
        "Erro Verifica Reenvio Cierres Diarios: EConversionError",
        "Mensagem: Cannot read JSON number as object", Done()},
       2},
      {"an error object in place of both lists",
       R"({"message":"NOT_FOUND"})",
       R"({"errores":[]})",
       {"Error on parse \"Reenvios\".", "Error on parse \"Reenvios\".", Done()},
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
    EXPECT_EQ(ClosingPosts().size(), c.closing_posts);
    EXPECT_EQ(CountRequests("POST", "/movimientos/"), 0u);
    EXPECT_TRUE(PollMovedToday()) << Poll();
  }
}

TEST_F(ResendRequestsTest, MovementRequestsResendTheDaysSalesInOrderUntilAnError) {
  const std::string d = IsoDay(day);
  platform_.SetResendMovements(List({
      Request(d, "CIERRES_DIARIOS"),  // not a movement request: skipped
      Request(d, "MOVIMIENTOS", R"("codigoCaja":2)"), Request(d, "MOVIMIENTOS"),
      Request(d, "MOVIMIENTOS", R"("codigoCaja":"1x")"),
      Request(d, "MOVIMIENTOS", R"("codigoCaja":3)"),  // after the error: not acted on
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
  // ones included.
  EXPECT_EQ(numbers,
            (std::vector<std::string>{"5", "6", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
  // The error ends the movement list only: the closing list still runs.
  EXPECT_EQ(LogTail(5),
            (std::vector<std::string>{"Erro Verifica Reenvio Movimentos: EConversionError",
                                      "Mensagem: '1x' is not a valid integer value",
                                      "[REENVIO-CAIXA:" + Dated(day) + "]Ok:#",
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

}  // namespace
}  // namespace zv
