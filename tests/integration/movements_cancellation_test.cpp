// The cancellation upload against a real store database and the fake platform: what the
// platform receives for each kind of cancellation, how far the cancellation cursor moves, and
// when the closing of the sale's day is sent again.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "movements/movement_document.h"
#include "support/movement_fixture.h"

namespace zv {
namespace {

using test::Detail;
using test::ExpectedDocument;
using test::Payment;
using test::SaleLine;
using test::TillRow;

class CancellationUploadTest : public test::MovementFixture {
 protected:
  std::string Cursor() { return Value("select zentrovia_ultcancelamento from padrao"); }

  bool HasLogLine(const std::regex& line) {
    const auto log = LogMessages();
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& m) { return std::regex_match(m, line); });
  }

  // Runs the upload and checks that it had the closing of `day` ("dd/mm/yyyy"; "" for none)
  // and `till` sent again.
  void UploadExpectingClosingResend(const std::string& day, const std::string& till) {
    const size_t closings_before = ClosingPosts().size();
    Service().EnviarVendasCanceladas();
    if (day.empty()) {
      EXPECT_EQ(ClosingPosts().size(), closings_before) << "closing resend called";
      return;
    }
    const auto closings = ClosingPosts();
    ASSERT_GT(closings.size(), closings_before) << "no closing resend";
    EXPECT_EQ(
        closings[closings_before].path,
        "/api-minoristas/api/v2/minoristas/7/locales/3/cajas/" + till + "/cierresDiarios/lotes");
    EXPECT_TRUE(HasLogLine(std::regex(R"(\[REENVIO-CAIXA:)" + day + R"(\]Ok:\d+)")));
  }
};

TEST_F(CancellationUploadTest, EachKindOfCancellationReachesThePlatformExactly) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    std::string till;
    ExpectedDocument expected;  // numero "-RANDOM": nine pseudo-random digits
    std::string tag;            // log line before "Ok:"; RANDOM as in numero
    std::string cursor;
    std::string closing_day;  // "" when the closing of the sale's day stays as sent
  };
  const std::vector<Case> cases = {
      {"three lines at code 41 cancelled the next day",
       {SaleLine{.venda = 10, .cancelamento = "'2026-12-08'", .codcanc = "41", .coo = "5010"}.Sql(),
        SaleLine{.venda = 10,
                 .seq = 2,
                 .cancelamento = "'2026-12-08'",
                 .codcanc = "42",
                 .unit = "20",
                 .subtotal = "20",
                 .total = "20",
                 .automatico = "20",
                 .coo = "5010"}
            .Sql(),
        SaleLine{.venda = 10,
                 .seq = 3,
                 .cancelamento = "'2026-12-08'",
                 .codcanc = "43",
                 .unit = "5",
                 .subtotal = "5",
                 .total = "5",
                 .automatico = "5",
                 .coo = "5010"}
            .Sql(),
        TillRow{
            .venda = 10, .natureza = "Venda a Prazo", .dinheiro = "35", .table = "caixacancelado"}
            .Sql(),
        // A sale of the same day and till that stays: the day's closing has something to
        // send again.
        SaleLine{.venda = 9, .coo = "5009"}.Sql()},
       "2",
       {.numero = "-5010",
        .total = "35",
        .cancelacion = true,
        .detalles = {Detail("10", "10"), Detail("20", "20"), Detail("5", "5")},
        .pagos = {Payment(9, "35")}},
       "[CancT= 5010]",
       "43",
       "07/12/2026"},
      {"one line of four, same day",
       {SaleLine{.venda = 11, .coo = "5011", .terminal = "3"}.Sql(),
        SaleLine{.venda = 11,
                 .seq = 2,
                 .cancelamento = "'2026-12-07'",
                 .codcanc = "44",
                 .unit = "12.5",
                 .subtotal = "12.5",
                 .total = "12.5",
                 .automatico = "12.5",
                 .coo = "5011",
                 .terminal = "3"}
            .Sql(),
        SaleLine{.venda = 11, .seq = 3, .coo = "5011", .terminal = "3"}.Sql(),
        SaleLine{.venda = 11, .seq = 4, .coo = "5011", .terminal = "3"}.Sql(),
        TillRow{.venda = 11, .dinheiro = "42.5"}.Sql()},
       "9999",
       {.numero = "-RANDOM",
        .total = "12.5",
        .cancelacion = true,
        .detalles = {Detail("12.5", "12.5")},
        .pagos = {Payment(9, "12.5")}},
       "[CancP= RANDOM]",
       "44",
       ""},
      {"whole sale, same day, net cash below the goods",
       {SaleLine{.venda = 12,
                 .cancelamento = "'2026-12-07'",
                 .codcanc = "45",
                 .unit = "60",
                 .subtotal = "60",
                 .total = "60",
                 .automatico = "60",
                 .coo = "5012",
                 .terminal = "3"}
            .Sql(),
        SaleLine{.venda = 12,
                 .seq = 2,
                 .cancelamento = "'2026-12-07'",
                 .codcanc = "46",
                 .unit = "35",
                 .subtotal = "35",
                 .total = "35",
                 .automatico = "35",
                 .coo = "5012",
                 .terminal = "3"}
            .Sql(),
        TillRow{.venda = 12, .dinheiro = "100", .troco = "10", .table = "caixacancelado"}.Sql()},
       "3",
       {.numero = "-5012",
        .total = "95",
        .cancelacion = true,
        .detalles = {Detail("60", "60"), Detail("35", "35")},
        .pagos = {Payment(9, "90")}},
       "[CancT= 5012]",
       "46",
       ""},
      {"whole sale, net cash above the goods",
       {SaleLine{.venda = 13,
                 .cancelamento = "'2026-12-07'",
                 .codcanc = "47",
                 .unit = "80",
                 .subtotal = "80",
                 .total = "80",
                 .automatico = "80",
                 .coo = "5013"}
            .Sql(),
        TillRow{.venda = 13, .dinheiro = "100", .troco = "10", .table = "caixacancelado"}.Sql()},
       "2",
       {.numero = "-5013",
        .total = "80",
        .cancelacion = true,
        .detalles = {Detail("80", "80")},
        .pagos = {Payment(9, "80")}},
       "[CancT= 5013]",
       "47",
       ""},
      {"non-fiscal sale with a delivery fee and nothing itemised",
       {SaleLine{.venda = 14,
                 .cancelamento = "'2026-12-07'",
                 .codcanc = "48",
                 .unit = "20",
                 .subtotal = "20",
                 .desconto = "1",
                 .total = "19",
                 .automatico = "20",
                 .serie = "'NAO FISCAL'"}
            .Sql(),
        SaleLine{.venda = 14,
                 .seq = 2,
                 .cancelamento = "'2026-12-07'",
                 .codigo = "'XXENTREGAXX'",
                 .unit = "4",
                 .subtotal = "4",
                 .total = "4",
                 .automatico = "4",
                 .serie = "'NAO FISCAL'"}
            .Sql(),
        TillRow{.venda = 14, .table = "caixacancelado"}.Sql()},
       "2",
       {.numero = "-14",
        .total = "20",
        .cancelacion = true,
        .detalles = {Detail("20", "20", "0")},
        .pagos = {Payment(9, "24")}},
       "[CancT= 14]",
       "48",
       ""},
  };
  for (const auto& c : cases) Sql(c.rows);
  ConnectOk();

  const std::regex random_numero(R"re("numero":"-(\d{9})")re");
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    timer.Disable();
    UploadExpectingClosingResend(c.closing_day, c.till);
    const auto posts = MovementPosts();
    ASSERT_EQ(posts.size(), i + 1);
    EXPECT_EQ(posts.back().path, MovementPath(c.till));
    std::string body = posts.back().body;
    std::string tag = c.tag;
    std::smatch m;
    if (c.expected.numero == "-RANDOM") {
      ASSERT_TRUE(std::regex_search(body, m, random_numero)) << body;
      // The log names the partial cancellation by the same nine digits.
      tag.replace(tag.find("RANDOM"), 6, m[1].str());
      body = std::regex_replace(body, random_numero, R"("numero":"-RANDOM")");
    }
    EXPECT_EQ(body, c.expected.Body());
    EXPECT_TRUE(HasLogLine(
        std::regex(std::regex_replace(tag, std::regex(R"([\[\]])"), R"(\$&)") + R"(Ok:\d+)")))
        << tag;
    EXPECT_EQ(Cursor(), c.cursor);
    EXPECT_EQ(std::to_string(Service().Settings().zentrovia_ultcancelamento), c.cursor);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 7000u);
  }
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "1000");

  // Nothing above the cursor: nothing is posted, and the settings row is read again (the
  // timer takes an interval changed there by hand).
  Sql({"update padrao set zentrovia_intervalo = 9"});
  timer.Disable();
  UploadExpectingClosingResend("", "");
  EXPECT_EQ(MovementPosts().size(), cases.size());
  EXPECT_EQ(Service().Settings().zentrovia_intervalo, 9);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 9000u);
}

TEST_F(CancellationUploadTest, LowestCodeFirstAndNoCodePassedOver) {
  // Sale 20 cancelled in two steps (codes 41 and 43) around sale 21's code 42, which is
  // stored first.
  Sql({SaleLine{.venda = 21, .cancelamento = "'2026-12-07'", .codcanc = "42", .coo = "5021"}.Sql(),
       SaleLine{.venda = 20, .cancelamento = "'2026-12-07'", .codcanc = "41", .coo = "5020"}.Sql(),
       SaleLine{
           .venda = 20, .seq = 2, .cancelamento = "'2026-12-07'", .codcanc = "43", .coo = "5020"}
           .Sql()});
  ConnectOk();

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"-5020", "41"}, {"-5021", "42"}, {"-5020", "43"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    UploadExpectingClosingResend("", "");
    const auto posts = MovementPosts();
    ASSERT_EQ(posts.size(), i + 1);
    EXPECT_NE(posts[i].body.find(R"("numero":")" + expected[i].first + R"(")"), std::string::npos)
        << posts[i].body;
    EXPECT_EQ(Cursor(), expected[i].second);
  }
  // Sale 20 goes out twice, whole both times.
  EXPECT_EQ(MovementPosts()[2].body, MovementPosts()[0].body);
  UploadExpectingClosingResend("", "");
  EXPECT_EQ(MovementPosts().size(), expected.size());
}

TEST_F(CancellationUploadTest, ATimestampCancellationIsALaterDayOnlyOnALaterDate) {
  Sql({"alter table vendas alter column cancelamento type timestamp",
       SaleLine{.venda = 29, .coo = "5029"}.Sql(),
       SaleLine{.venda = 30, .cancelamento = "'2026-12-07 16:25:00'", .codcanc = "41"}.Sql(),
       SaleLine{.venda = 31, .cancelamento = "'2026-12-08 00:05:00'", .codcanc = "42"}.Sql()});
  ConnectOk();

  UploadExpectingClosingResend("", "");
  EXPECT_EQ(Cursor(), "41");
  UploadExpectingClosingResend("07/12/2026", "2");
  EXPECT_EQ(Cursor(), "42");
  EXPECT_EQ(MovementPosts().size(), 2u);
}

TEST_F(CancellationUploadTest, APostWithoutVerdictKeepsTheCursorAndTheClosing) {
  Sql({SaleLine{.venda = 39, .coo = "5039"}.Sql(),
       SaleLine{.venda = 40, .cancelamento = "'2026-12-08'", .codcanc = "41", .coo = "5040"}
           .Sql()});
  ConnectOk();
  const std::string url = Service().Settings().zentrovia_url1;
  fake::FakePlatform closed;
  const int closed_port = closed.Start(0);
  closed.Stop();

  struct Failure {
    const char* name;
    std::function<void()> set, clear;
  };
  const std::vector<Failure> failures = {
      {"connection refused",
       [&] {
         Service().Settings().zentrovia_url1 = "http://127.0.0.1:" + std::to_string(closed_port);
       },
       [&] { Service().Settings().zentrovia_url1 = url; }},
      {"login refused", [&] { platform_.SetCredentials("zentrovia", "outra"); },
       [&] { platform_.SetCredentials("zentrovia", "zentrovia"); }},
      {"503",
       [&] {
         fake::Fault fault;
         fault.path_contains = "/movimientos/";
         fault.status = 503;
         platform_.AddFault(fault);
       },
       [&] { platform_.ClearFaults(); }},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.name);
    f.set();
    timer.Disable();
    EXPECT_THROW(Service().EnviarVendasCanceladas(), ERESTException);
    f.clear();
    EXPECT_EQ(Cursor(), "40");
    EXPECT_EQ(Service().Settings().zentrovia_ultcancelamento, 40);
    EXPECT_TRUE(ClosingPosts().empty());
    EXPECT_TRUE(timer.Enabled());
  }
  EXPECT_TRUE(HasLogLine(std::regex(R"(\[CancT= 5040\].+)")));

  UploadExpectingClosingResend("07/12/2026", "2");
  EXPECT_EQ(Cursor(), "41");
  const auto posts = MovementPosts();
  ASSERT_FALSE(posts.empty());
  EXPECT_NE(posts.back().body.find(R"("numero":"-5040")"), std::string::npos);
}

TEST_F(CancellationUploadTest, AStoreErrorKeepsTheCursorBrokenDataIsPassedOver) {
  Sql({// A store whose amounts are kept as text.
       "alter table vendas alter column precototal type varchar(21)",
       SaleLine{.venda = 50, .cancelamento = "'2026-12-07'", .codcanc = "41", .coo = "5050"}.Sql(),
       TillRow{.venda = 50, .dinheiro = "10", .table = "caixacancelado"}.Sql(),
       SaleLine{.venda = 51, .cancelamento = "'2026-12-07'", .codcanc = "42", .coo = "5051"}.Sql(),
       "update vendas set precototal = 'R$ 12,50' where venda = 51",
       // The cancelled till record cannot be read for a moment, as when the store goes away
       // while the document is built.
       "alter table caixacancelado alter column naturezadaoperacao to natureza_fora"});
  ConnectOk();

  EXPECT_THROW(Service().EnviarVendasCanceladas(), EDatabaseError);
  EXPECT_TRUE(MovementPosts().empty());
  EXPECT_EQ(Cursor(), "40");

  Sql({"alter table caixacancelado alter column natureza_fora to naturezadaoperacao"});
  Service().EnviarVendasCanceladas();
  ASSERT_EQ(MovementPosts().size(), 1u);
  EXPECT_NE(MovementPosts()[0].body.find(R"("numero":"-5050")"), std::string::npos);
  EXPECT_EQ(Cursor(), "41");

  // An amount written with its currency cannot be read: posted empty, logged, passed over.
  Service().EnviarVendasCanceladas();
  ASSERT_EQ(MovementPosts().size(), 2u);
  EXPECT_EQ(MovementPosts()[1].body, "");
  EXPECT_EQ(Cursor(), "42");
  const std::string ts = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )";
  const std::string raw = test::ReadFile(dir() + "Zentrovia.log");
  EXPECT_TRUE(std::regex_search(
      raw, std::regex(ts + R"(\r\n)" + ts + R"(Erro: EConversionError\r\nMensagem: [^\r]+\r\n)" +
                      "(?:" + ts + R"(\r\n)?)" + ts + R"(\[CancT= 5051\][^\r\n]*\r\n)")))
      << raw;
}

TEST_F(CancellationUploadTest, APartialCancellationPostedAgainKeepsItsNumber) {
  Sql({SaleLine{.venda = 11, .coo = "5011"}.Sql(),
       SaleLine{.venda = 11, .seq = 2, .cancelamento = "'2026-12-07'", .codcanc = "41"}.Sql(),
       SaleLine{.venda = 12, .coo = "5012"}.Sql(),
       SaleLine{.venda = 12, .seq = 2, .cancelamento = "'2026-12-07'", .codcanc = "42"}.Sql()});
  ConnectOk();
  const std::regex numero(R"re("numero":"-(\d{9})")re");
  auto number_of = [&](const fake::RecordedRequest& post) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(post.body, m, numero)) << post.body;
    return m.size() > 1 ? m[1].str() : "";
  };

  Service().EnviarVendasCanceladas();
  // Posted again, as after a stop between the post and the cursor update.
  Sql({"update padrao set zentrovia_ultcancelamento = 40"});
  Service().GetCredenciaisZentrovia();
  Service().EnviarVendasCanceladas();
  Service().EnviarVendasCanceladas();
  const auto posts = MovementPosts();
  ASSERT_EQ(posts.size(), 3u);
  EXPECT_EQ(posts[1].body, posts[0].body);
  EXPECT_EQ(number_of(posts[0]), std::to_string(movement::PartialCancellationNumber(11, 41)));
  EXPECT_EQ(number_of(posts[2]), std::to_string(movement::PartialCancellationNumber(12, 42)));
  EXPECT_NE(number_of(posts[2]), number_of(posts[0]));
  EXPECT_EQ(Cursor(), "42");
}

TEST_F(CancellationUploadTest, WhichSalesACodeStandsFor) {
  Sql({// Code 41 sits on a row that is not cancelled: nothing to post for it.
       SaleLine{.venda = 60, .codcanc = "41", .coo = "5060"}.Sql(),
       // A cancelled surcharge row (code 43) between two product rows of the same sale.
       SaleLine{.venda = 61, .cancelamento = "'2026-12-07'", .codcanc = "42", .coo = "5061"}.Sql(),
       SaleLine{.venda = 61,
                .seq = 2,
                .cancelamento = "'2026-12-07'",
                .codcanc = "43",
                .codigo = "'XXACRESCIMOXX'",
                .unit = "2",
                .subtotal = "2",
                .total = "2",
                .automatico = "2",
                .coo = "5061"}
           .Sql(),
       SaleLine{
           .venda = 61, .seq = 3, .cancelamento = "'2026-12-07'", .codcanc = "44", .coo = "5061"}
           .Sql(),
       // Two sales sharing code 45; sale 63 stored first.
       SaleLine{.venda = 63, .cancelamento = "'2026-12-07'", .codcanc = "45", .coo = "5063"}.Sql(),
       SaleLine{.venda = 62, .cancelamento = "'2026-12-07'", .codcanc = "45", .coo = "5062"}.Sql(),
       // A sale whose code follows the shared one closely is not passed over either.
       SaleLine{.venda = 64, .cancelamento = "'2026-12-07'", .codcanc = "46", .coo = "5064"}
           .Sql()});
  ConnectOk();
  auto numbers = [&] {
    std::vector<std::string> out;
    static const std::regex numero(R"re("numero":"(-?\d+)")re");
    for (const auto& p : MovementPosts()) {
      std::smatch m;
      out.push_back(std::regex_search(p.body, m, numero) ? m[1].str() : p.body);
    }
    return out;
  };
  struct Step {
    std::vector<std::string> posted;
    std::string cursor;
  };
  const std::vector<Step> steps = {
      {{}, "41"},
      {{"-5061"}, "44"},
      {{"-5061", "-5062", "-5063"}, "45"},
      {{"-5061", "-5062", "-5063", "-5064"}, "46"},
      {{"-5061", "-5062", "-5063", "-5064"}, "46"},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    Service().EnviarVendasCanceladas();
    EXPECT_EQ(numbers(), steps[i].posted);
    EXPECT_EQ(Cursor(), steps[i].cursor);
  }
  EXPECT_TRUE(HasLogLine(std::regex(R"(\[Canc= 41\]Venda 60 sem item cancelado.*)")));
  // The surcharge row counts in the document as the sale's cancelled surcharge.
  EXPECT_NE(MovementPosts()[0].body.find(R"("recargoTotal":2,)"), std::string::npos)
      << MovementPosts()[0].body;
}

TEST_F(CancellationUploadTest, AFailedClosingResendKeepsTheCursor) {
  Sql({SaleLine{.venda = 39, .coo = "5039"}.Sql(),
       SaleLine{.venda = 40, .cancelamento = "'2026-12-08'", .codcanc = "41", .coo = "5040"}
           .Sql()});
  ConnectOk();
  struct Failure {
    const char* name;
    fake::Fault fault;
    std::string message;
  };
  const std::vector<Failure> failures = {
      {"503",
       {"/cierresDiarios/", 503, "busy", "text/plain", 0, -1},
       "HTTP/1.1 503 Service Unavailable"},
      {"a login page",
       {"/cierresDiarios/", 200, "<html>login</html>", "text/html", 0, -1},
       "Erro: JSON inválido"},
      {"an answer about nothing", {"/cierresDiarios/", 200, "{}", "application/json", 0, -1}, "{}"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    platform_.ClearFaults();
    platform_.AddFault(f.fault, "POST", 0);
    EXPECT_THROW(Service().EnviarVendasCanceladas(), ERESTException);
    EXPECT_EQ(Cursor(), "40");
    EXPECT_EQ(Service().Settings().zentrovia_ultcancelamento, 40);
    const auto log = LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Erro Reenvio Caixa Total: ERESTException");
    EXPECT_EQ(log.back(), "Mensagem: " + f.message);
  }
  platform_.ClearFaults();
  UploadExpectingClosingResend("07/12/2026", "2");
  EXPECT_EQ(Cursor(), "41");
  const auto posts = MovementPosts();
  ASSERT_EQ(posts.size(), failures.size() + 1);
  // The cancellation went again each time, the same document.
  for (const auto& p : posts) EXPECT_EQ(p.body, posts[0].body);
}

// The cancellation upload reaches the closing resend only through the job context: a context
// built without it stops the later-day cancellation before its cursor, never skips the closing.
TEST_F(CancellationUploadTest, TheClosingResendComesThroughTheJobContext) {
  Sql({SaleLine{.venda = 39, .coo = "5039"}.Sql(),
       SaleLine{.venda = 40, .cancelamento = "'2026-12-08'", .codcanc = "41", .coo = "5040"}
           .Sql()});
  ConnectOk();
  auto wired = std::exchange(Service().Context().resend_closing, nullptr);
  EXPECT_THROW(Service().EnviarVendasCanceladas(), ENotAvailable);
  EXPECT_EQ(Cursor(), "40");
  Service().Context().resend_closing = std::move(wired);
  UploadExpectingClosingResend("07/12/2026", "2");
  EXPECT_EQ(Cursor(), "41");
}

TEST_F(CancellationUploadTest, AValueReadBeforeTheBuildPassesOnlyItsCancellationOver) {
  Sql({"alter table vendas alter column cancelamento type varchar(20)",
       SaleLine{.venda = 70, .cancelamento = "'ontem'", .codcanc = "41", .coo = "5070"}.Sql(),
       SaleLine{.venda = 71, .cancelamento = "'2026-12-07'", .codcanc = "42", .coo = "5071"}
           .Sql()});
  ConnectOk();
  Service().EnviarVendasCanceladas();
  ASSERT_EQ(MovementPosts().size(), 1u);
  EXPECT_EQ(MovementPosts()[0].body, "");
  EXPECT_EQ(Cursor(), "41");
  EXPECT_TRUE(HasLogLine(std::regex("Erro: EConversionError")));

  Service().EnviarVendasCanceladas();
  ASSERT_EQ(MovementPosts().size(), 2u);
  EXPECT_NE(MovementPosts()[1].body.find(R"("numero":"-5071")"), std::string::npos);
  EXPECT_EQ(Cursor(), "42");
}

}  // namespace
}  // namespace zv
