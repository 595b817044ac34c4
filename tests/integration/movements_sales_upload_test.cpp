// The sales upload against a real store database and the fake platform over loopback: what
// the platform receives for each shape of sale, byte for byte, and how the sales cursor moves.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base/errors.h"
#include "fake-platform/fake_platform.h"
#include "support/movement_fixture.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

using test::Card;
using test::DetailOf;
using test::Payment;
using test::TillRow;

// The sales of this file were sold on 5 December, at a time given to the ten-thousandth of a
// second; the document gives it to the millisecond.
struct SaleDay {
  static constexpr const char* kData = "'2026-12-05'";
  static constexpr const char* kHora = "'10:11:12.3456'";
  static constexpr const char* kFecha = "2026-12-05T10:11:12.346-0300";
};
using Line = test::SaleLineOn<SaleDay>;
using Expected = test::ExpectedDocumentOn<SaleDay>;

std::string Cartao(int venda, const std::string& autorizacao, const std::string& bin,
                   const std::string& ultimos, const std::string& operacao,
                   const std::string& valor) {
  return "insert into vendacartao (codigovenda, autorizacao, bin, ultimosquatrodigitos, "
         "operacao, movimento, valortotal) values (" +
         std::to_string(venda) + ", " + autorizacao + ", " + bin + ", " + ultimos + ", '" +
         operacao + "', 1, " + valor + ")";
}

using test::kDipirona;
using test::kDipironaName;
constexpr const char* kParacetamol = "7891000100110";
// Slash and quotation marks are escaped; the accented letter goes out as it is.
const std::string kParacetamolJson = R"(PARACETAMOL 750MG\/20 \"CP\" )"
                                     "\xC3\x89";

class SalesUploadTest : public test::MovementFixture {
 protected:
  // Both cursors at 0: every sale of the tests is new.
  SalesUploadTest() {
    settings.ultvenda = "0";
    settings.ultcancelamento = "0";
  }

  void SetUp() override {
    MovementFixture::SetUp();
    if (StoreMissing()) return;
    Sql({test::ProductRow(kParacetamol, "PARACETAMOL 750MG/20 \"CP\" \xC3\x89"),
         test::ProductRow("ABC", "CREME D\xC3\x89RMICO"),
         "insert into clientes (codigo, nome, cic) values (1, 'MARIA', '123.456.789-00')",
         "insert into clientes (codigo, nome, cic) values (2, 'JOAO', NULL)"});
  }

  std::string Cursor() { return Value("select zentrovia_ultvenda from padrao"); }

  std::string RawLog() { return test::ReadFile(dir() + "Zentrovia.log"); }
};

TEST_F(SalesUploadTest, EachSaleShapeReachesThePlatformExactly) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    std::string till;
    Expected expected;
  };
  const std::vector<Case> cases = {
      {"no till record; customer with tax id; short product code",
       {Line{.venda = 1, .cliente = "1", .unit = "10.5", .subtotal = "10.5", .desconto = "0.5"}
            .Sql(),
        Line{.venda = 1,
             .seq = 2,
             .codigo = "'ABC'",
             .unit = "3.2",
             .qtd = "2.5",
             .subtotal = "8",
             .total = "8",
             .automatico = "8"}
            .Sql()},
       "2",
       {.numero = "5001",
        .descuento = "0.5",
        .recargo = "0",
        .total = "18",
        .cliente = R"("123.456.789-00")",
        .descricao = "VENDA NA LOJA-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "10.5", "10", "0.5"),
                     DetailOf("17763", "ABC", "CREME D\xC3\x89RMICO", "2.5", "3.2", "8", "0")},
        .pagos = {Payment(9, "18")}}},
      {"Venda a Vista with every amount 0",
       {Line{.venda = 2,
             .unit = "20",
             .subtotal = "20",
             .desconto = "2",
             .total = "18",
             .automatico = "20"}
            .Sql(),
        TillRow{.venda = 2}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "18",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "20", "18", "2")},
        .pagos = {Payment(9, "18")}}},
      {"price 0 and a delivery fee",
       {Line{.venda = 3,
             .unit = "8",
             .subtotal = "8",
             .desconto = "0.5",
             .total = "0",
             .automatico = "7.5"}
            .Sql(),
        Line{.venda = 3,
             .seq = 2,
             .codigo = "'7891000100110'",
             .unit = "12",
             .subtotal = "12",
             .desconto = "1",
             .total = "11",
             .automatico = "12.5"}
            .Sql(),
        Line{.venda = 3,
             .seq = 3,
             .codigo = "'XXENTREGAXX'",
             .produto = "'TAXA DE ENTREGA'",
             .unit = "4",
             .subtotal = "4",
             .total = "4",
             .automatico = "4"}
            .Sql(),
        TillRow{.venda = 3, .dinheiro = "30", .troco = "6"}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "-0.5",
        .recargo = "4",
        .total = "24",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "8", "7.5", "0"),
                     DetailOf("100110", kParacetamol, kParacetamolJson, "1", "12", "12.5", "-0.5")},
        .pagos = {Payment(9, "24")}}},
      {"surcharge and Desconto Adicional",
       {Line{.venda = 4,
             .unit = "50",
             .subtotal = "50",
             .desconto = "5",
             .total = "45",
             .automatico = "48"}
            .Sql(),
        Line{.venda = 4,
             .seq = 2,
             .codigo = "'XXACRESCIMOXX'",
             .produto = "'ACRESCIMO'",
             .unit = "3",
             .subtotal = "3",
             .total = "3",
             .automatico = "3"}
            .Sql(),
        Line{.venda = 4,
             .seq = 3,
             .codigo = "'XXDESCONTOXX'",
             .produto = "'Desconto Adicional'",
             .unit = "-4",
             .subtotal = "-4",
             .total = "-4",
             .automatico = "-4"}
            .Sql(),
        TillRow{.venda = 4, .carteira = "47"}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "6",
        .recargo = "3",
        .total = "47",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-PIX",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "50", "48", "2")},
        .pagos = {Payment(1, "47")}}},
      {"capped cheque and negative cash; no till number",
       {Line{.venda = 5,
             .unit = "100",
             .subtotal = "100",
             .total = "100",
             .automatico = "100",
             .terminal = "NULL"}
            .Sql(),
        TillRow{.venda = 5, .dinheiro = "50", .cheque = "150", .troco = "70"}.Sql()},
       "1",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "100",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CHEQUE-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "100", "100", "0")},
        .pagos = {Payment(11, "100"), Payment(9, "-20")}}},
      {"e-commerce with cheque and cash",
       {Line{.venda = 6, .unit = "60", .subtotal = "60", .total = "60", .automatico = "60"}.Sql(),
        TillRow{.venda = 6, .dinheiro = "20", .cheque = "10", .ecommerce = "30"}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "60",
        .cliente = "null",
        .canal = 3,
        .descricao = "IFOOD-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "60", "60", "0")},
        .pagos = {Payment(11, "10"), Payment(9, "30"), Payment(9, "20")}}},
      {"card without authorization",
       {Line{.venda = 7, .unit = "40", .subtotal = "40", .total = "40", .automatico = "40"}.Sql(),
        TillRow{.venda = 7, .cartao = "40"}.Sql(),
        Cartao(7, "NULL", "'411111'", "'1234'", "CREDITO", "40")},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "40",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CARTAO CREDITO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "40", "40", "0")},
        .pagos = {Payment(10, "40")}}},
      {"debit card without last digits and BIN",
       {Line{.venda = 8, .unit = "40", .subtotal = "40", .total = "40", .automatico = "40"}.Sql(),
        TillRow{.venda = 8, .cartao = "40"}.Sql(),
        Cartao(8, "'123'", "NULL", "NULL",
               "D\xC3\x89"
               "BITO",
               "40")},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "40",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CARTAO DEBITO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "40", "40", "0")},
        .pagos = {Payment(13, "40", Card("RANDOM", "000123", "123456"))}}},
      {"card amount without card rows",
       {Line{.venda = 9, .unit = "20", .subtotal = "20", .total = "20", .automatico = "20"}.Sql(),
        TillRow{.venda = 9, .cartao = "25"}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "20",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CARTAO CREDITO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "20", "20", "0")},
        .pagos = {Payment(10, "20")}}},
      {"DEBITO without the accent is credit",
       {Line{.venda = 10, .unit = "40", .subtotal = "40", .total = "40", .automatico = "40"}.Sql(),
        TillRow{.venda = 10, .cartao = "40"}.Sql(),
        Cartao(10, "'654321'", "'411111'", "'4321'", "DEBITO", "40")},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "40",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CARTAO CREDITO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "40", "40", "0")},
        .pagos = {Payment(10, "40", Card(R"("4321")", "654321", "411111"))}}},
      {"two card rows and a cheque",
       {Line{.venda = 11, .unit = "60", .subtotal = "60", .total = "60", .automatico = "60"}.Sql(),
        TillRow{.venda = 11, .cheque = "10", .cartao = "50"}.Sql(),
        Cartao(11, "'11'", "'522222'", "'1111'",
               "D\xC3\x89"
               "BITO",
               "20"),
        Cartao(11, "'22'", "NULL", "'2222'", "CREDITO", "80")},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "60",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CHEQUE-CARTAO DEBITO-CARTAO CREDITO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "60", "60", "0")},
        .pagos = {Payment(11, "10"), Payment(13, "20", Card(R"("1111")", "11", "522222")),
                  Payment(10, "60", Card(R"("2222")", "22", "123456"))}}},
      {"NAO FISCAL; customer without tax id",
       {Line{.venda = 12, .cliente = "2", .serie = "'NAO FISCAL'", .coo = "777"}.Sql(),
        TillRow{.venda = 12, .natureza = "Venda a Prazo", .dinheiro = "10"}.Sql()},
       "2",
       {.numero = "12",
        .descuento = "0",
        .recargo = "0",
        .total = "10",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "10", "10", "0")},
        .pagos = {Payment(9, "10")}}},
      {"partly cancelled",
       {Line{.venda = 13, .unit = "30", .subtotal = "30", .total = "30", .automatico = "30"}.Sql(),
        Line{.venda = 13,
             .seq = 2,
             .cancelamento = "'2026-12-06'",
             .codigo = "'7891000100110'",
             .unit = "12",
             .subtotal = "12",
             .total = "12",
             .automatico = "12"}
            .Sql(),
        TillRow{.venda = 13, .dinheiro = "30"}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "42",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-DINHEIRO",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "30", "30", "0"),
                     DetailOf("100110", kParacetamol, kParacetamolJson, "1", "12", "12", "0")},
        .pagos = {Payment(9, "42")}}},
      {"wholly cancelled: payments from the cancelled till record",
       {Line{.venda = 14, .cancelamento = "'2026-12-06'"}.Sql(),
        Line{.venda = 14,
             .seq = 2,
             .cancelamento = "'2026-12-06'",
             .unit = "5",
             .subtotal = "5",
             .total = "5",
             .automatico = "5"}
            .Sql(),
        TillRow{.venda = 14, .cheque = "15", .table = "caixacancelado"}.Sql()},
       "2",
       {.numero = "5001",
        .descuento = "0",
        .recargo = "0",
        .total = "15",
        .cliente = "null",
        .descricao = "VENDA NA LOJA-CHEQUE",
        .detalles = {DetailOf("100103", kDipirona, kDipironaName, "1", "10", "10", "0"),
                     DetailOf("100103", kDipirona, kDipironaName, "1", "5", "5", "0")},
        .pagos = {Payment(11, "15")}}},
  };
  for (const auto& c : cases) Sql(c.rows);
  ConnectOk();

  const std::regex random_digits(R"("ultimosDigitosTarjeta":(\d+),)");
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    timer.Rearm(1);
    Service().EnviarVendasZentrovia();
    const auto posts = Posts();
    ASSERT_EQ(posts.size(), i + 1);
    EXPECT_EQ(posts.back().path, MovementPath(c.till));
    std::string body = posts.back().body;
    std::smatch m;
    if (std::regex_search(body, m, random_digits)) {
      const int digits = std::stoi(m[1].str());
      EXPECT_GE(digits, 1000);
      EXPECT_LE(digits, 9999);
      body = std::regex_replace(body, random_digits, R"("ultimosDigitosTarjeta":RANDOM,)");
    }
    EXPECT_EQ(body, c.expected.Body());
    // The cursor follows every post, in memory and in the settings row.
    EXPECT_EQ(Service().Settings().zentrovia_ultvenda, static_cast<int64_t>(i + 1));
    EXPECT_EQ(Cursor(), std::to_string(i + 1));
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 7000u);
  }

  // Nothing above the cursor: nothing is posted and the timer still runs.
  timer.Disable();
  Service().EnviarVendasZentrovia();
  EXPECT_EQ(Posts().size(), cases.size());
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 7000u);

  const auto log = LogMessages();
  EXPECT_NE(std::find(log.begin(), log.end(), "[Venda= 12]Ok:12"), log.end());
}

TEST_F(SalesUploadTest, ErrorDocumentMovesTheCursorARefusedConnectionDoesNot) {
  Sql({Line{.venda = 1, .codigo = "'7891000100110'"}.Sql(), Line{.venda = 2, .coo = "5002"}.Sql()});
  ConnectOk();

  platform_.SetArticleError(kParacetamol);
  Service().EnviarVendasZentrovia();
  ASSERT_EQ(Posts().size(), 1u);
  const auto log = LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().rfind("[Venda= 5001]", 0), 0u) << log.back();
  EXPECT_EQ(log.back().find("Ok:"), std::string::npos) << log.back();
  EXPECT_EQ(Cursor(), "1");

  // The platform cannot be reached: the post raises, the cursor stays, the timer runs.
  const std::string url = Service().Settings().zentrovia_url1;
  fake::FakePlatform closed;
  const int closed_port = closed.Start(0);
  closed.Stop();
  Service().Settings().zentrovia_url1 = "http://127.0.0.1:" + std::to_string(closed_port);
  timer.Disable();
  EXPECT_THROW(Service().EnviarVendasZentrovia(), ERESTException);
  EXPECT_EQ(Service().Settings().zentrovia_ultvenda, 1);
  EXPECT_EQ(Cursor(), "1");
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 7000u);

  // Back online, the same sale goes out.
  Service().Settings().zentrovia_url1 = url;
  Service().EnviarVendasZentrovia();
  const auto posts = Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_NE(posts.back().body.find(R"("numero":"5002")"), std::string::npos);
  EXPECT_EQ(Cursor(), "2");
}

TEST_F(SalesUploadTest, AStoreErrorWhileTheDocumentIsBuiltLeavesTheCursorForTheNextCall) {
  // The till statement reads the card table; a column it names is missing for a moment, as
  // when the store goes away after the preparing statements.
  Sql({Line{.venda = 1}.Sql(), TillRow{.venda = 1, .dinheiro = "10"}.Sql(),
       "alter table vendacartao alter column autorizacao to autorizacao_fora"});
  ConnectOk();

  EXPECT_THROW(Service().EnviarVendasZentrovia(), EDatabaseError);
  EXPECT_TRUE(Posts().empty());
  EXPECT_EQ(Cursor(), "0");
  EXPECT_EQ(Service().Settings().zentrovia_ultvenda, 0);

  Sql({"alter table vendacartao alter column autorizacao_fora to autorizacao"});
  Service().EnviarVendasZentrovia();
  const auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_NE(posts[0].body, "");
  EXPECT_NE(posts[0].body.find(R"("numero":"5001")"), std::string::npos) << posts[0].body;
  EXPECT_EQ(Cursor(), "1");
}

TEST_F(SalesUploadTest, SaleWhoseDocumentCannotBeBuiltIsPostedEmptyAndPassedOver) {
  // An amount beyond what the document's money type holds: the sale's data itself is wrong.
  Sql({"alter table vendas alter column precototal type numeric(18,2)",
       Line{.venda = 1, .seq = 1}.Sql(),
       "update vendas set precototal = 9999999999999999.99 where venda = 1",
       TillRow{.venda = 1, .dinheiro = "10"}.Sql(), Line{.venda = 2, .seq = 1}.Sql(),
       TillRow{.venda = 2, .dinheiro = "10"}.Sql()});
  ConnectOk();

  Service().EnviarVendasZentrovia();
  auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].body, "");
  EXPECT_EQ(Cursor(), "1");

  // The empty batch text, then the error in two lines, then the platform's answer.
  const std::string ts = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )";
  const std::string raw = RawLog();
  const std::regex entries(ts + R"(\r\n)" + ts +
                           R"(Erro: EConversionError\r\nMensagem: [^\r]+\r\n)" + "(?:" + ts +
                           R"(\r\n)?)" + ts + R"(\[Venda= 5001\][^\r\n]*\r\n$)");
  EXPECT_TRUE(std::regex_search(raw, entries)) << raw;

  // The sale after it goes out whole.
  Service().EnviarVendasZentrovia();
  posts = Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_NE(posts[1].body, "");
  EXPECT_EQ(Cursor(), "2");
}

// The values read while the sale's statements run (its surcharge, its additional discount, its
// partial-cancellation total) are the sale's own data too: one that cannot be read passes that
// sale over, never holds back the sales after it.
TEST_F(SalesUploadTest, AValueReadBeforeTheBuildPassesOnlyItsSaleOver) {
  const std::string beyond = "9999999999999999.99";  // more than the money type holds
  Sql({"alter table vendas alter column subtotal type numeric(18,2)",
       "alter table vendas alter column precototal type numeric(18,2)", Line{.venda = 1}.Sql(),
       Line{.venda = 1, .seq = 2, .codigo = "'XXACRESCIMOXX'", .subtotal = beyond}.Sql(),
       Line{.venda = 2}.Sql(),
       Line{.venda = 2,
            .seq = 2,
            .codigo = "'XXDESCONTOXX'",
            .produto = "'Desconto Adicional'",
            .subtotal = beyond}
           .Sql(),
       Line{.venda = 3}.Sql(),
       Line{.venda = 3, .seq = 2, .cancelamento = "'2026-12-06'", .total = beyond}.Sql(),
       Line{.venda = 4, .coo = "5004"}.Sql()});
  ConnectOk();
  for (int venda = 1; venda <= 3; ++venda) {
    SCOPED_TRACE(venda);
    Service().EnviarVendasZentrovia();
    EXPECT_EQ(Posts().back().body, "");
    EXPECT_EQ(Cursor(), std::to_string(venda));
    const auto log = LogMessages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Erro: EConversionError"), venda);
  }
  Service().EnviarVendasZentrovia();
  ASSERT_EQ(Posts().size(), 4u);
  EXPECT_NE(Posts().back().body.find(R"("numero":"5004")"), std::string::npos);
  EXPECT_EQ(Cursor(), "4");
}

// Only a verdict on the document moves the cursor: accepted ("idLote") or refused
// ("errores"). Every other answer says nothing about the sale: the job raises with the
// answer's text, the cursor stays, and the same sale goes out once the platform answers.
TEST_F(SalesUploadTest, TheCursorMovesOnlyOnTheVerdictOfThePlatform) {
  struct Case {
    const char* name;
    int status;
    std::string body;
    std::string content_type;
    bool verdict;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"accepted", 200, R"({"idLote":"77"})", "application/json", true, "Ok:77"},
      {"refused", 400, R"({"errores":[{"error":{"message":"ARTICULO_NO_ENCONTRADO"}}]})",
       "application/json", true, "Artigo não encontrado"},
      {"login error", 401, R"({"appErrorCode":"ERROR_LOGIN"})", "application/json", false,
       "Usuário e/ou senha inválidos"},
      {"portal page", 200, "<html><body>Wi-Fi</body></html>", "text/html", false,
       "Erro: JSON inválido"},
      {"not found", 404, R"({"message":"NOT_FOUND"})", "application/json", false,
       R"({"message":"NOT_FOUND"})"},
      {"empty object", 200, "{}", "application/json", false, "{}"},
      {"empty body", 200, "", "application/json", false, "Erro: JSON inválido"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Sql({Line{.venda = static_cast<int>(i + 1)}.Sql(),
         TillRow{.venda = static_cast<int>(i + 1), .dinheiro = "10"}.Sql()});
  }
  ConnectOk();

  int64_t cursor = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Fault answer;
    answer.path_contains = "/movimientos/lotes";
    answer.status = c.status;
    answer.body = c.body;
    answer.content_type = c.content_type;
    answer.times = 1;
    platform_.AddFault(answer);
    const size_t posts_before = Posts().size();

    if (c.verdict) {
      Service().EnviarVendasZentrovia();
      ++cursor;
    } else {
      try {
        Service().EnviarVendasZentrovia();
        ADD_FAILURE() << "an answer without a verdict must raise";
      } catch (const ERESTException& e) {
        EXPECT_EQ(std::string(e.what()), c.text);
      }
    }
    EXPECT_EQ(LogMessages().back(), "[Venda= 5001]" + c.text);
    EXPECT_EQ(Cursor(), std::to_string(cursor));
    EXPECT_EQ(Service().Settings().zentrovia_ultvenda, cursor);

    if (!c.verdict) {
      // The platform answers normally again: the same sale goes out and is passed.
      Service().EnviarVendasZentrovia();
      ++cursor;
      const auto posts = Posts();
      ASSERT_EQ(posts.size(), posts_before + 2);
      EXPECT_EQ(posts.back().body, posts[posts_before].body);
      EXPECT_EQ(LogMessages().back().rfind("[Venda= 5001]Ok:", 0), 0u) << LogMessages().back();
      EXPECT_EQ(Cursor(), std::to_string(cursor));
    }
  }
}

// Once the post has returned, the cursor moves whatever the log does: a log that cannot be
// written must not make the same sale go out at every cycle.
TEST_F(SalesUploadTest, ALogThatFailsAfterThePostStillMovesTheCursorOnce) {
  Sql({Line{.venda = 1}.Sql(), TillRow{.venda = 1, .dinheiro = "10"}.Sql(),
       Line{.venda = 2, .coo = "5002"}.Sql(), TillRow{.venda = 2, .dinheiro = "10"}.Sql()});
  ConnectOk();
  std::filesystem::remove(dir() + "Zentrovia.log");
  std::filesystem::create_directory(dir() + "Zentrovia.log");

  EXPECT_THROW(Service().EnviarVendasZentrovia(), EInOutError);
  EXPECT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Cursor(), "1");

  std::filesystem::remove(dir() + "Zentrovia.log");
  Service().EnviarVendasZentrovia();
  const auto posts = Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_NE(posts[0].body.find(R"("numero":"5001")"), std::string::npos);
  EXPECT_NE(posts[1].body.find(R"("numero":"5002")"), std::string::npos);
  EXPECT_EQ(Cursor(), "2");
}

// A line without a time is dated the sale's day at midnight, never 30 December 1899.
TEST_F(SalesUploadTest, ALineWithoutATimeIsDatedTheSaleDayAtMidnight) {
  Sql({Line{.venda = 1, .hora = "NULL"}.Sql(), TillRow{.venda = 1, .dinheiro = "10"}.Sql()});
  ConnectOk();
  Service().EnviarVendasZentrovia();
  const auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_NE(posts[0].body.find(R"("fecha":"2026-12-05T00:00:00.000-0300")"), std::string::npos)
      << posts[0].body;
}

TEST_F(SalesUploadTest, LowestQualifyingSaleFirstAndSpecialOnlySalesNeverPicked) {
  auto special = [](int venda, int seq, const char* code) {
    return Line{.venda = venda,
                .seq = seq,
                .codigo = std::string("'") + code + "'",
                .produto = "'Desconto Adicional'",
                .serie = "'NAO FISCAL'"}
        .Sql();
  };
  Sql({// Stored before the lower-numbered sales.
       Line{.venda = 21, .serie = "'NAO FISCAL'"}.Sql(),
       Line{.venda = 20, .serie = "'NAO FISCAL'"}.Sql(),
       // Only special lines: invisible to the upload.
       special(15, 1, "XXDESCONTOXX"), special(15, 2, "XXACRESCIMOXX"),
       special(15, 3, "XXENTREGAXX"), special(15, 4, "RECARGACELULAR"),
       // Before the start date.
       Line{.venda = 10, .data = "'2026-11-20'", .serie = "'NAO FISCAL'"}.Sql()});
  ConnectOk();

  for (int i = 0; i < 3; ++i) Service().EnviarVendasZentrovia();
  const auto posts = Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_NE(posts[0].body.find(R"("numero":"20")"), std::string::npos) << posts[0].body;
  EXPECT_NE(posts[1].body.find(R"("numero":"21")"), std::string::npos) << posts[1].body;
  EXPECT_EQ(Cursor(), "21");
}

}  // namespace
}  // namespace zv
