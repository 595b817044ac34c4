// The movement resend against a real store database and the fake platform: a day's sales
// posted again exactly as the sales upload posts them, without moving the sales cursor.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "base/errors.h"
#include "movements/movement_resend.h"
#include "support/movement_fixture.h"

namespace zv {
namespace {

using test::SaleLine;
using test::TillRow;

class MovementResendTest : public test::MovementFixture {
 protected:
  // The day's sales, from a request that names the day with a time of day.
  void Resend(int month, int day, const std::string& till) {
    CarregaVendasReenvioZentrovia(Service().Context(),
                                  DateTime::FromParts(2026, month, day, 15, 30), till);
  }
  std::string SalesCursor() { return Value("select zentrovia_ultvenda from padrao"); }
};

TEST_F(MovementResendTest, ADaysSalesGoOutAsTheSalesUploadSendsThem) {
  Sql({"update padrao set zentrovia_ultvenda = 0",
       SaleLine{.venda = 1, .coo = "5001", .terminal = "1"}.Sql(),
       TillRow{.venda = 1, .dinheiro = "20", .troco = "10"}.Sql(),
       SaleLine{.venda = 2, .coo = "5002"}.Sql(),
       SaleLine{.venda = 2,
                .seq = 2,
                .unit = "7",
                .subtotal = "7",
                .total = "7",
                .automatico = "7",
                .coo = "5002"}
           .Sql(),
       // Cancelled as a whole since: resent as the sale it was.
       SaleLine{.venda = 3, .cancelamento = "'2026-12-08'", .codcanc = "41", .coo = "5003"}.Sql(),
       TillRow{.venda = 3, .cheque = "10", .table = "caixacancelado"}.Sql(),
       // Partly cancelled since, on till 1.
       SaleLine{.venda = 4, .coo = "5004", .terminal = "1"}.Sql(),
       SaleLine{.venda = 4,
                .seq = 2,
                .cancelamento = "'2026-12-07'",
                .codcanc = "42",
                .coo = "5004",
                .terminal = "1"}
           .Sql(),
       TillRow{.venda = 4, .dinheiro = "10"}.Sql(),
       // Another day.
       SaleLine{.venda = 5, .data = "'2026-12-06'", .coo = "5005"}.Sql()});
  ConnectOk();

  Resend(12, 7, "");
  const auto day = MovementPosts();
  ASSERT_EQ(day.size(), 4u);
  const std::vector<std::string> tills = {"1", "2", "2", "1"};
  for (size_t i = 0; i < day.size(); ++i) EXPECT_EQ(day[i].path, MovementPath(tills[i]));
  const auto log = LogMessages();
  const std::regex ok(R"(\[REENVIO-VENDA= 500[1-4]\]Ok:\d+)");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [&](const std::string& m) { return std::regex_match(m, ok); }),
            4);
  EXPECT_EQ(SalesCursor(), "0");
  EXPECT_EQ(Service().Settings().zentrovia_ultvenda, 0);

  // One till: only the sales with a row on it.
  Resend(12, 7, "2");
  auto posts = MovementPosts();
  ASSERT_EQ(posts.size(), 6u);
  EXPECT_EQ(posts[4].body, day[1].body);
  EXPECT_EQ(posts[5].body, day[2].body);

  // The sales upload, which still has every sale to send, sends the same documents.
  for (int i = 0; i < 4; ++i) Service().EnviarVendasZentrovia();
  posts = MovementPosts();
  ASSERT_EQ(posts.size(), 10u);
  for (size_t i = 0; i < day.size(); ++i) {
    EXPECT_EQ(posts[6 + i].path, day[i].path);
    EXPECT_EQ(posts[6 + i].body, day[i].body);
  }
  EXPECT_NE(day[2].body.find(R"("cancelacion":false)"), std::string::npos) << day[2].body;

  // A stop asked for while the day is sent ends the job after the sale being sent.
  const size_t before = MovementPosts().size();
  Service().Context().stop_requested = [&] { return MovementPosts().size() > before; };
  Resend(12, 7, "");
  EXPECT_EQ(MovementPosts().size(), before + 1);
}

TEST_F(MovementResendTest, SalesThatCannotGoOutWhole) {
  Sql({// A store whose amounts are kept as text.
       "alter table vendas alter column precototal type varchar(21)",
       // Before the start date.
       SaleLine{.venda = 7, .data = "'2026-11-28'", .coo = "5007"}.Sql(),
       SaleLine{.venda = 8, .data = "'2026-11-28'", .coo = "5008"}.Sql(),
       // An amount written with its currency.
       SaleLine{.venda = 9, .coo = "5009"}.Sql(),
       "update vendas set precototal = 'R$ 12,50' where venda = 9"});
  ConnectOk();

  Resend(11, 28, "");
  EXPECT_TRUE(MovementPosts().empty());
  const std::vector<std::string> expected = {
      "[REENVIO-VENDA= 7]Venda anterior à data de início; não reenviada",
      "[REENVIO-VENDA= 8]Venda anterior à data de início; não reenviada"};
  auto log = LogMessages();
  std::vector<std::string> resend_lines;
  for (const auto& m : log)
    if (m.rfind("[REENVIO-VENDA= ", 0) == 0) resend_lines.push_back(m);
  EXPECT_EQ(resend_lines, expected);

  // Posted empty, with the resend's own error line.
  Resend(12, 7, "");
  const auto posts = MovementPosts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].body, "");
  const std::string ts = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )";
  const std::string raw = test::ReadFile(dir() + "Zentrovia.log");
  EXPECT_TRUE(std::regex_search(
      raw, std::regex(ts + R"(\r\n)" + ts +
                      R"(Erro Reenvio Venda: EConversionError\r\nMensagem: [^\r]+\r\n)" +
                      "(?:" + ts + R"(\r\n)?)" + ts + R"(\[REENVIO-VENDA= 5009\][^\r\n]*\r\n)")))
      << raw;
}

TEST_F(MovementResendTest, ATillThatIsNotAWholeNumberSendsNothing) {
  Sql({SaleLine{.venda = 1}.Sql()});
  ConnectOk();
  for (const char* till : {"2.0", "1x", " 2", "+", "-", "+-2", "99999999999999999999"}) {
    SCOPED_TRACE(till);
    EXPECT_THROW(Resend(12, 7, till), EConversionError);
  }
  EXPECT_TRUE(MovementPosts().empty());
  // A sign is part of a whole number.
  Resend(12, 7, "+2");
  EXPECT_EQ(MovementPosts().size(), 1u);
}

}  // namespace
}  // namespace zv
