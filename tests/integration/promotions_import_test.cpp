// The promotion job against a real store database and the fake platform: the rows each shape of
// promotion leaves in the five promotion tables, what a refused promotion leaves (nothing), the
// rejection marks, how each kind of answer is taken, and a connection cut inside a promotion.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fake-platform/fake_platform.h"
#include "platform/json_helpers.h"
#include "promotions/promo_model.h"
#include "promotions/promotion_import.h"
#include "store/fb_conn.h"
#include "support/platform_store_fixture.h"
#include "support/store_rows.h"

namespace zv {
namespace {

// Products of the store; kUnknown is not one of them, so the store refuses its product row.
const std::string kA = "7890000000001";
const std::string kB = "7890000000002";
const std::string kC = "7890000000003";
const std::string kD = "7890000000004";
const std::string kUnknown = "7890000009999";

const std::string kDates =
    R"("vigenciaDesde":"2024-06-01T03:00:00Z","vigenciaHasta":"2024-07-01T03:00:00Z")";
constexpr const char* kOldStamp = "2000-01-01 00:00:00";

std::string List(const std::vector<std::string>& elements) {
  std::string out;
  for (const std::string& e : elements) out += (out.empty() ? "" : ",") + e;
  return "[" + out + "]";
}
std::string Item(int cantidad, const std::vector<std::string>& codes) {
  std::vector<std::string> articles;
  for (const std::string& c : codes) articles.push_back(R"({"codigoBarras":")" + c + R"("})");
  return R"({"cantidad":)" + std::to_string(cantidad) + R"(,"articulos":)" + List(articles) + "}";
}
std::string Pay(int codigo, const std::vector<std::string>& bins) {
  std::vector<std::string> quoted;
  for (const std::string& b : bins) quoted.push_back("\"" + b + "\"");
  return R"({"descripcion":"Cartão","codigoTipoPago":)" + std::to_string(codigo) + R"(,"bines":)" +
         List(quoted) + "}";
}
// `amounts`: the members of "detalles" before its conditions, each followed by a comma.
std::string Details(const std::string& amounts, const std::vector<std::string>& items,
                    const std::vector<std::string>& pay = {},
                    const std::string& beneficios = "null") {
  std::string conditions = R"({"items":)" + List(items);
  if (!pay.empty()) conditions += R"(,"formasPago":)" + List(pay);
  conditions += "}";
  std::string out = "{" + amounts + R"("condiciones":)" + conditions;
  if (beneficios != "absent") out += R"(,"beneficios":)" + beneficios;
  return out + "}";
}
std::string Benefits(const std::vector<std::string>& items) {
  return R"({"items":)" + List(items) + "}";
}
std::string Promo(int id, const std::string& tipo, const std::string& detalles,
                  const std::string& more = kDates) {
  return R"({"id":)" + std::to_string(id) + R"(,"tipo":")" + tipo + R"(","descripcion":"Promo )" +
         std::to_string(id) + R"(",)" + more + R"(,"detalles":)" + detalles + "}";
}
std::string Doc(const std::vector<std::string>& promotions) {
  return R"({"results":)" + List(promotions) + R"(,"total":)" + std::to_string(promotions.size()) +
         "}";
}

DateTime ParseStamp(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
  return DateTime::FromParts(y, mo, d, h, mi, s);
}

class PromotionImportTest : public test::PlatformStoreFixture {
 protected:
  void SetUp() override {
    PlatformStoreFixture::SetUp();
    if (StoreMissing()) return;
    std::vector<std::string> sql;
    for (const std::string& code : {kA, kB, kC, kD})
      sql.push_back(test::ProductRow(code, "P" + code));
    // The settings row and a row that does not qualify: the stamp goes to both.
    test::SettingsRow settings = test::PlatformSettings(platform_.BaseUrl());
    settings.intervalo = settings.datainicio = settings.ultvenda = settings.ultcancelamento = "";
    settings.ultcaixa = settings.verificareenvio = "'2999-12-31'";
    settings.verificapromo = test::Quoted(kOldStamp);
    sql.push_back(settings.Sql());
    settings.codigo = "NULL";
    settings.cgc = "''";
    sql.push_back(settings.Sql());
    Sql(sql);
    Connect();
    ASSERT_TRUE(Service().DbConnected());
  }

  void Serve(const std::string& accepted, const std::string& rejected = "") {
    platform_.SetPromotionsAccepted(accepted);
    platform_.SetPromotionsRejected(rejected);
  }

  // The job as the cycle runs it, with its counts.
  PromotionPassCounts Run() {
    PromotionPassCounts counts;
    AtualizaPromo(Service().Context(), &counts);
    return counts;
  }

  // The log lines written by `action`.
  template <class F>
  std::vector<std::string> NewLog(F action) {
    const size_t before = LogMessages().size();
    action();
    const std::vector<std::string> all = LogMessages();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  }

  // The rows of a table, columns joined by "|", NULL as "NULL", in `order`.
  std::vector<std::string> Rows(const std::string& table, const std::vector<std::string>& columns,
                                const std::string& order) {
    std::string row;
    for (const std::string& c : columns) {
      row += (row.empty() ? "" : " || '|' || ") +
             ("coalesce(cast(" + c + " as varchar(300)), 'NULL')");
    }
    const std::string text = Value("select list(r, ';') from (select " + row + " as r from " +
                                   table + " order by " + order + ")");
    std::vector<std::string> out;
    for (size_t start = 0; !text.empty();) {
      const size_t end = text.find(';', start);
      out.push_back(text.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return out;
  }

  std::vector<std::string> Promotions() {
    return Rows("ZENTROVA_PROMOCOES",
                {"CODIGOPROMOCAO", "DATAINICIAL", "DATAFINAL", "LIMITE", "TIPOPROMOCAO",
                 "QUANTIDADEMINIMA", "DESCONTOPORCENTAGEM", "DESCONTOFIXO", "PRECOFIXO", "LEVE",
                 "PAGUE", "DESCRICAO", "iif(REJEITADA is null, 'in force', 'rejected')"},
                "CODIGOPROMOCAO");
  }
  std::vector<std::string> Products() {
    return Rows("ZENTROVA_PROMOCOES_PRODUTOS", {"CODIGOPROMOCAO", "CODIGOPRODUTO"},
                "CODIGOPROMOCAO, CODIGOPRODUTO");
  }
  std::vector<std::string> Bins() {
    return Rows("ZENTROVA_PROMOCOES_BIN", {"CODIGOPROMOCAO", "BIN", "CREDITODEBITO"},
                "CODIGOPROMOCAO, BIN");
  }
  std::vector<std::string> Baskets() {
    return Rows("CESTASPROMOCIONAIS",
                {"CODIGO", "DESCRICAO", "DATAINICIOPROMOCAO", "DATAFINALPROMOCAO", "CODIGOZENTROVA",
                 "iif(REJEITADA is null, 'in force', 'rejected')"},
                "CODIGOZENTROVA");
  }
  std::vector<std::string> BasketItems() {
    return Rows("ITENSCESTASPROMOCIONAIS",
                {"CODIGOCESTA", "CODIGOPRODUTO", "QUANTIDADE", "TIPODESCONTO", "DESCONTOVISTA",
                 "DESCONTOPRAZO", "DESCRICAO"},
                "CODIGOCESTA, CODIGOPRODUTO");
  }
  std::string Generator() {
    return Value("select gen_id(GEN_CESTASPROMOCIONAIS, 0) from rdb$database");
  }
  // How many `padrao` rows carry a stamp newer than the old one.
  std::string StampedRows() {
    return Value(std::string("select count(*) from padrao where zentrovia_verificapromo <> '") +
                 kOldStamp + "'");
  }
  void MakeDue() {
    Sql({std::string("update padrao set zentrovia_verificapromo = '") + kOldStamp + "'"});
    Service().Context().ReloadSettings();
  }
  // The job the next cycle chooses, a minute after the stamp the store now holds.
  ZentroviaJob NextJobAfterTheStamp() {
    const DateTime stamp =
        ParseStamp(Value("select cast(zentrovia_verificapromo as varchar(30)) from padrao "
                         "where codigo = 1"));
    return Service().NextJob(stamp.AddMinutes(1), stamp.AddMinutes(1).Date());
  }

  static std::vector<std::string> ErrorPair(const std::string& job, const std::string& kind,
                                            const std::string& message) {
    return {"Erro " + job + ": " + kind, "Mensagem: " + message};
  }
  static std::string Ok(const std::string& tag, const std::string& what) {
    return "[" + tag + "- 09/12/2026]Ok:Promos Zentrovia " + what + " com sucesso";
  }
};

TEST_F(PromotionImportTest, EveryPathWritesItsRowsAndASecondRunChangesNothing) {
  const std::vector<std::string> promotions = {
      Promo(101, "DESCUENTO_VARIABLE",
            Details(R"("descuento":12.5,)", {Item(2, {kA, kUnknown}), Item(3, {kB})},
                    {Pay(13, {"411111", "422222"}), Pay(10, {"433333"}), Pay(20, {"444444"}),
                     Pay(10, {})}),
            kDates + R"(,"limitePromocionesPorTicket":2)"),
      Promo(102, "ADICIONAL_REGALO",
            Details("", {Item(2, {kA}), Item(1, {kB})}, {},
                    Benefits({Item(1, {kC}), Item(1, {kD})}))),
      Promo(103, "ADICIONAL_DESCUENTO",
            Details(R"("descuento":30,)", {Item(2, {kA, kB})}, {Pay(13, {"555555"})},
                    Benefits({Item(1, {kB})}))),
      Promo(104, "COMBO_ESPECIAL", Details("", {Item(1, {kC})})),
      Promo(105, "DESCUENTO_VARIABLE", Details(R"("descuento":5,)", {Item(1, {kD})}, {}, "absent")),
      Promo(106, "PRECIO_FIJO", "null"),
      Promo(107, "LLEVA_PAGA", Details(R"("paga":4,)", {Item(3, {kA}), Item(5, {kB})})),
      Promo(108, "PRECIO_FIJO", Details(R"("precio":19.9,)", {Item(1, {kC, kD})})),
      Promo(109, "DESCUENTO_FIJO",
            Details(R"("descuento":5.25,)", {Item(1, {kD})}, {Pay(10, {"466666"})})),
  };
  const std::string d = "2024-06-01|2024-06-30|";
  const std::vector<std::string> promotion_rows = {
      "101|" + d + "2|N|3|12.5000|NULL|NULL|NULL|NULL|Promo 101|in force",
      "103|" + d + "0|NULL|2|NULL|NULL|NULL|NULL|NULL|Promo 103|in force",
      "104|" + d + "0|NULL|1|NULL|NULL|NULL|NULL|NULL|Promo 104|in force",
      "107|" + d + "0|P|5|NULL|NULL|NULL|5|4|Promo 107|in force",
      "108|" + d + "0|K|1|NULL|NULL|19.90|NULL|NULL|Promo 108|in force",
      "109|" + d + "0|F|1|NULL|5.25|NULL|NULL|NULL|Promo 109|in force",
  };
  const std::vector<std::string> product_rows = {
      "101|" + kA, "101|" + kB, "103|" + kA, "103|" + kB, "104|" + kC,
      "107|" + kA, "107|" + kB, "108|" + kC, "108|" + kD, "109|" + kD,
  };
  const std::vector<std::string> bin_rows = {"101|411111|D",    "101|422222|D", "101|433333|C",
                                             "101|444444|NULL", "103|555555|D", "109|466666|C"};
  const std::vector<std::string> basket_rows = {
      "CPROM1|Promo 102|2024-06-01|2024-07-01|102|in force",
      "CPROM2|Promo 103|2024-06-01|2024-07-01|103|in force",
  };
  // The article both condition and benefit of 103 ends with the benefit's values and keeps the
  // condition's description.
  const std::vector<std::string> item_rows = {
      "CPROM1|" + kA + "|2|N|NULL|NULL|Promo 102", "CPROM1|" + kB + "|1|N|NULL|NULL|Promo 102",
      "CPROM1|" + kC + "|1|P|100.00|100.00|NULL",  "CPROM1|" + kD + "|1|P|100.00|100.00|NULL",
      "CPROM2|" + kA + "|2|N|NULL|NULL|Promo 103", "CPROM2|" + kB + "|1|P|30.00|30.00|Promo 103",
  };

  Serve(Doc(promotions));
  PromotionPassCounts counts;
  EXPECT_EQ(NewLog([&] { counts = Run(); }),
            (std::vector<std::string>{Ok("R", "rejeitadas"), Ok("P", "atualizadas")}));
  EXPECT_EQ(counts.written, 7u);
  EXPECT_EQ(counts.refused, 0u);
  EXPECT_EQ(Promotions(), promotion_rows);
  EXPECT_EQ(Products(), product_rows);
  EXPECT_EQ(Bins(), bin_rows);
  EXPECT_EQ(Baskets(), basket_rows);
  EXPECT_EQ(BasketItems(), item_rows);
  EXPECT_EQ(Generator(), "2");
  EXPECT_EQ(StampedRows(), "2");
  EXPECT_EQ(NextJobAfterTheStamp(), ZentroviaJob::EnviarVendas);

  // The same again, the basket promotion listed twice: written twice, into the same basket.
  std::vector<std::string> twice = promotions;
  twice.push_back(promotions[1]);
  Serve(Doc(twice));
  MakeDue();
  EXPECT_EQ(NewLog([&] { counts = Run(); }),
            (std::vector<std::string>{Ok("R", "rejeitadas"), Ok("P", "atualizadas")}));
  EXPECT_EQ(counts.written, 8u);
  EXPECT_EQ(Promotions(), promotion_rows);
  EXPECT_EQ(Products(), product_rows);
  EXPECT_EQ(Bins(), bin_rows);
  EXPECT_EQ(Baskets(), basket_rows);
  EXPECT_EQ(BasketItems(), item_rows);
  EXPECT_EQ(Generator(), "2");
  EXPECT_EQ(StampedRows(), "2");
}

TEST_F(PromotionImportTest, ARefusedPromotionLeavesNothingAndTheOthersAreWritten) {
  Serve(Doc({
      Promo(201, "PRECIO_FIJO", Details(R"("precio":10,)", {Item(1, {kA})})),
      Promo(202, "ADICIONAL_DESCUENTO",
            Details(R"("descuento":20,)", {Item(1, {kA}), Item(1, {kB}), Item(1, {kC})}, {},
                    Benefits({Item(1, {kD}), Item(1, {kD})}))),
      Promo(203, "PRECIO_FIJO", Details("", {Item(1, {kB})})),
      Promo(204, "DESCUENTO_FIJO", Details(R"("descuento":99999999999999.99,)", {Item(1, {kC})})),
      R"({"tipo":"PRECIO_FIJO","descripcion":"sem id","detalles":)" +
          Details(R"("precio":5,)", {Item(1, {kD})}) + "}",
      Promo(206, "PRECIO_FIJO", Details(R"("precio":5,)", {Item(1, {kD})}),
            kDates + R"(,"limitePromocionesPorTicket":"x")"),
      Promo(207, "DESCUENTO_VARIABLE", Details(R"("descuento":10,)", {Item(1, {kD})})),
  }));
  PromotionPassCounts counts;
  const std::vector<std::string> log = NewLog([&] { counts = Run(); });

  std::vector<std::string> expected = {Ok("R", "rejeitadas")};
  for (const auto& pair : {
           ErrorPair("AtualizaPromo", "EArgumentOutOfRangeException",
                     "Promoção 202: detalles.beneficios.items: condition item 3 of 3 has no "
                     "benefit item at its position"),
           ErrorPair("AtualizaPromo", "EConversionError",
                     "Promoção 203: detalles.precio: a PRECIO_FIJO promotion without a price"),
           ErrorPair("AtualizaPromo", "EConversionError",
                     "Promoção 204: DESCONTOFIXO: 99999999999999.99 does not fit NUMERIC(15,2)"),
           ErrorPair("AtualizaPromo", "EConversionError",
                     "Promoção #5: id: the promotion has no id"),
       }) {
    expected.insert(expected.end(), pair.begin(), pair.end());
  }
  ASSERT_EQ(log.size(), expected.size() + 2) << ::testing::PrintToString(log);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.end() - 2), expected);
  // The unreadable value is named by the model; the promotion by its id.
  EXPECT_EQ(log[log.size() - 2], "Erro AtualizaPromo: EConversionError");
  EXPECT_EQ(log.back().rfind("Mensagem: Promoção 206: ", 0), 0u) << log.back();

  EXPECT_EQ(counts.written, 2u);
  EXPECT_EQ(counts.refused, 5u);
  const std::string d = "2024-06-01|2024-06-30|0|";
  EXPECT_EQ(Promotions(), (std::vector<std::string>{
                              "201|" + d + "K|1|NULL|NULL|10.00|NULL|NULL|Promo 201|in force",
                              "207|" + d + "N|1|10.0000|NULL|NULL|NULL|NULL|Promo 207|in force"}));
  EXPECT_EQ(Products(), (std::vector<std::string>{"201|" + kA, "207|" + kD}));
  EXPECT_EQ(Baskets(), std::vector<std::string>{});
  EXPECT_EQ(BasketItems(), std::vector<std::string>{});
  EXPECT_EQ(Generator(), "0");
  // Retried an hour later, not in every cycle: the sales go out meanwhile.
  EXPECT_EQ(StampedRows(), "2");
  EXPECT_EQ(NextJobAfterTheStamp(), ZentroviaJob::EnviarVendas);
}

TEST_F(PromotionImportTest, RejectionMarksRowsAndBasketsAndAcceptanceClearsThem) {
  const std::vector<std::string> promotions = {
      Promo(301, "DESCUENTO_VARIABLE",
            Details(R"("descuento":10,)", {Item(1, {kA})}, {Pay(13, {"411111"})})),
      Promo(302, "ADICIONAL_REGALO", Details("", {Item(1, {kA})}, {}, Benefits({Item(1, {kB})}))),
      Promo(303, "PRECIO_FIJO", Details(R"("precio":3,)", {Item(1, {kC})})),
      Promo(304, "PRECIO_FIJO", Details(R"("precio":4,)", {Item(1, {})})),
  };
  Serve(Doc(promotions));
  Run();
  ASSERT_EQ(Promotions().size(), 3u);
  ASSERT_EQ(Baskets().size(), 1u);

  // Rejected: an unreadable promotion among them is logged and the next ones are still marked;
  // 304 (no article) and 4040 (never imported) change nothing.
  std::vector<std::string> rejected = promotions;
  rejected.insert(rejected.begin() + 2,
                  Promo(305, "PRECIO_FIJO", Details(R"("precio":"caro",)", {Item(1, {kC})})));
  rejected.push_back(Promo(4040, "DESCUENTO_VARIABLE",
                           Details(R"("descuento":1,)", {Item(1, {kA})}, {Pay(13, {"411111"})})));
  Serve("[]", Doc(rejected));
  MakeDue();
  PromotionPassCounts counts;
  const std::vector<std::string> log = NewLog([&] { counts = Run(); });
  ASSERT_EQ(log.size(), 2u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[0], "Erro RejeitaPromo: EConversionError");
  EXPECT_EQ(log[1].rfind("Mensagem: Promoção 305: ", 0), 0u) << log[1];
  EXPECT_EQ(counts.marked_rejected, 4u);
  EXPECT_EQ(counts.rejection_refused, 1u);
  auto marks = [&] {
    std::vector<std::string> out;
    for (const std::string& row : Promotions())
      out.push_back(row.substr(0, 3) + row.substr(row.rfind('|')));
    for (const std::string& row : Baskets())
      out.push_back(row.substr(0, 6) + row.substr(row.rfind('|')));
    return out;
  };
  EXPECT_EQ(marks(), (std::vector<std::string>{"301|rejected", "303|rejected", "304|in force",
                                               "CPROM1|rejected"}));
  EXPECT_EQ(StampedRows(), "2");  // by the accepted pass's "[]"

  // Accepted again, while the rejected list cannot be read: the marks go.
  Serve(Doc(promotions), "42");
  MakeDue();
  EXPECT_EQ(NewLog([&] { Run(); }),
            (std::vector<std::string>{"Erro RejeitaPromo: EConversionError",
                                      "Mensagem: The input value is not a valid Object",
                                      Ok("P", "atualizadas")}));
  EXPECT_EQ(marks(), (std::vector<std::string>{"301|in force", "303|in force", "304|in force",
                                               "CPROM1|in force"}));
}

TEST_F(PromotionImportTest, EachKindOfAnswerIsLoggedAndStampedAsItDeserves) {
  struct Case {
    const char* name;
    int status;
    std::string body;
    std::string content_type;
    std::vector<std::string> log;  // after the rejection pass's line
    bool stamped;
  };
  const std::string login = R"({"code":"ERROR_LOGIN","message":"Usuario o clave incorrectos"})";
  // Far more promotions, or far more JSON values, than any real answer: refused before the
  // memory they would take is taken.
  std::string many_promotions = R"({"results":[{})";
  for (size_t i = 1; i <= kMaxPromotions; ++i) many_promotions += ",{}";
  many_promotions += "]}";
  std::string many_values = R"({"results":[[0)";
  for (size_t i = 0; i < kJsonMaxValues; ++i) many_values += ",0";
  many_values += "]]}";
  const std::vector<Case> cases = {
      {"too many promotions", 200, many_promotions, "application/json",
       ErrorPair("AtualizaPromo", "EConversionError",
                 "results: 10001 promotions, more than the 10000 one answer may hold"),
       true},
      {"too many values", 200, many_values, "application/json",
       ErrorPair("AtualizaPromo", "EConversionError",
                 "promotion answer: more than 1000000 JSON values, far more than any real answer "
                 "holds"),
       true},
      {"empty body", 200, "", "application/json", {}, true},
      {"empty list", 200, R"({"results":[]})", "application/json", {Ok("P", "atualizadas")}, true},
      {"login refused", 401, login, "application/json",
       ErrorPair("AtualizaPromo", "ERESTException", "HTTP 401: " + login), true},
      {"a page with 200", 200, "<html><body>Manuten\xC3\xA7\xC3\xA3o</body></html>",
       "text/html; charset=utf-8",
       ErrorPair("AtualizaPromo", "EConversionError", "The input value is not a valid Object"),
       true},
      // The request itself fails: the cycle logs it and pauses; the job steps aside for a
      // minute and is due again after.
      {"platform down",
       503,
       "down",
       "text/plain",
       {"ERRO no Timer: ERESTException - HTTP/1.1 503 Service Unavailable",
        RetryLogLine(
            ZentroviaJob::AtualizaPromo,
            {clock.Now().AddSeconds(60), 1, "ERESTException - HTTP/1.1 503 Service Unavailable"})},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeDue();
    platform_.ClearFaults();
    // The rejected list is asked first and answered as usual; the accepted one gets the case.
    fake::Fault as_usual;
    as_usual.path_contains = "/promociones";
    as_usual.times = 1;
    platform_.AddFault(as_usual);
    platform_.AddFault({.path_contains = "/promociones",
                        .status = c.status,
                        .body = c.body,
                        .content_type = c.content_type,
                        .times = 1});
    std::vector<std::string> expected = {Ok("R", "rejeitadas")};
    expected.insert(expected.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(NewLog([&] { Service().ZentroviaTimerTimer(); }), expected);
    EXPECT_EQ(StampedRows(), c.stamped ? "2" : "0");
  }
}

TEST_F(PromotionImportTest, DatesAndTextsAreWrittenAsTheStoreHoldsThem) {
  Sql({test::ProductRow("789?", "cut or replaced"),
       test::ProductRow("78901234567890123456", "cut")});
  std::string accented;
  for (int i = 0; i < 299; ++i) accented += "\xC3\xA9";  // é
  const std::string emoji = "\xF0\x9F\x98\x80";
  const std::string odd = "789\xC5\x82";  // ł: not in Windows-1252
  Serve(Doc({
      Promo(501, "PRECIO_FIJO", Details(R"("precio":1,)", {Item(1, {kA})}),
            R"("vigenciaDesde":"","vigenciaHasta":"")"),
      Promo(
          502, "DESCUENTO_VARIABLE", Details(R"("descuento":1,)", {Item(1, {kA})}),
          R"("vigenciaDesde":"2024-02-01T22:30:00-03:00","vigenciaHasta":"2024-03-01T00:00:00Z")"),
      Promo(
          503, "ADICIONAL_REGALO", Details("", {Item(1, {kA})}, {}, Benefits({Item(1, {kB})})),
          R"("vigenciaDesde":"2024-02-01T22:30:00-03:00","vigenciaHasta":"2024-03-01T00:00:00Z")"),
      R"({"id":504,"tipo":"PRECIO_FIJO","descripcion":")" + emoji + accented + R"(","detalles":)" +
          Details(R"("precio":1,)", {Item(1, {kA})}) + "}",
      Promo(505, "DESCUENTO_VARIABLE",
            Details(R"("descuento":1,)", {Item(1, {odd, "789012345678901234567", "", kA})},
                    {Pay(13, {"", "411111"})})),
      Promo(506, "ADICIONAL_REGALO", Details("", {Item(1, {odd})}, {}, Benefits({Item(1, {kB})}))),
      Promo(507, "DESCUENTO_VARIABLE",
            Details(R"("descuento":1,)", {Item(1, {kA})}, {Pay(13, {"411111", "12345678901"})})),
      Promo(508, "DESCUENTO_VARIABLE",
            Details(R"("descuento":1,)", {Item(1, {kA})},
                    {Pay(10, {"41\xC5\x82"
                              "111"})})),
  }));
  const std::vector<std::string> log = NewLog([&] { Run(); });

  EXPECT_EQ(
      Rows("ZENTROVA_PROMOCOES", {"CODIGOPROMOCAO", "DATAINICIAL", "DATAFINAL"}, "CODIGOPROMOCAO"),
      (std::vector<std::string>{"501|1899-12-30|1899-12-29", "502|2024-02-02|2024-02-29",
                                "504|1899-12-30|1899-12-29", "505|2024-06-01|2024-06-30"}));
  EXPECT_EQ(Rows("CESTASPROMOCIONAIS",
                 {"CODIGOZENTROVA", "DATAINICIOPROMOCAO", "DATAFINALPROMOCAO"}, "CODIGO"),
            std::vector<std::string>{"503|2024-02-02|2024-03-01"});
  // Cut to the column, one Windows-1252 byte per character, "?" for the emoji.
  EXPECT_EQ(Value("select DESCRICAO from ZENTROVA_PROMOCOES where CODIGOPROMOCAO = 504"),
            "?" + accented.substr(0, 2 * 199));
  EXPECT_EQ(Value("select octet_length(DESCRICAO) from ZENTROVA_PROMOCOES "
                  "where CODIGOPROMOCAO = 504"),
            "200");
  // A key is never cut or changed: the store knows "789?" and the cut code, yet no row names
  // them.
  EXPECT_EQ(Value("select list(CODIGOPRODUTO) from ZENTROVA_PROMOCOES_PRODUTOS "
                  "where CODIGOPROMOCAO = 505"),
            kA);
  EXPECT_EQ(Value("select list(BIN) from ZENTROVA_PROMOCOES_BIN where CODIGOPROMOCAO = 505"),
            "411111");
  // As a basket item the odd code refuses its promotion, before a basket number is taken.
  EXPECT_EQ(log,
            (std::vector<std::string>{Ok("R", "rejeitadas"), "Erro AtualizaPromo: EConversionError",
                                      // The log is written in Windows-1252 too.
                                      "Mensagem: Promoção 506: codigoBarras \"789?\": not a "
                                      "product code the store can hold whole",
                                      // A BIN is not passed over: the promotion would miss the
                                      // cards it names.
                                      "Erro AtualizaPromo: EConversionError",
                                      "Mensagem: Promoção 507: bines \"12345678901\": not a BIN "
                                      "the store can hold whole",
                                      "Erro AtualizaPromo: EConversionError",
                                      "Mensagem: Promoção 508: bines \"41?111\": not a BIN the "
                                      "store can hold whole"}));
  EXPECT_EQ(Generator(), "1");
}

// The product and BIN rows in the order the store receives them, each write counted: a
// promotion's BIN rows are written once, after all of its product rows.
TEST_F(PromotionImportTest, BinRowsAreWrittenOnceAfterThePromotionsProductRows) {
  Sql({"create table write_order (n integer, what varchar(60))", "create generator gen_write_order",
       "create trigger products_written for ZENTROVA_PROMOCOES_PRODUTOS before insert or update "
       "as begin insert into write_order values (gen_id(gen_write_order, 1), "
       "new.CODIGOPROMOCAO || ' P ' || new.CODIGOPRODUTO); end",
       "create trigger bins_written for ZENTROVA_PROMOCOES_BIN before insert or update "
       "as begin insert into write_order values (gen_id(gen_write_order, 1), "
       "new.CODIGOPROMOCAO || ' B ' || new.BIN); end"});
  Serve(Doc({
      Promo(701, "DESCUENTO_VARIABLE",
            Details(R"("descuento":5,)", {Item(2, {kA, kB}), Item(3, {kC, kUnknown})},
                    {Pay(13, {"411111", "422222"}), Pay(10, {"433333"})})),
      // No article: no BIN row, as before.
      Promo(702, "DESCUENTO_VARIABLE",
            Details(R"("descuento":5,)", {Item(1, {})}, {Pay(13, {"455555"})})),
  }));
  Run();
  // The unknown product's row is refused by the store and leaves no trace.
  EXPECT_EQ(Rows("write_order", {"what"}, "n"),
            (std::vector<std::string>{"701 P " + kA, "701 P " + kB, "701 P " + kC, "701 B 411111",
                                      "701 B 422222", "701 B 433333"}));
  EXPECT_EQ(Bins(), (std::vector<std::string>{"701|411111|D", "701|422222|D", "701|433333|C"}));
  EXPECT_EQ(Rows("ZENTROVA_PROMOCOES", {"CODIGOPROMOCAO"}, "CODIGOPROMOCAO"),
            (std::vector<std::string>{"701", "702"}));
}

// Only a product the store does not know is passed over. A row another transaction holds and
// then commits (an update conflict) refuses the whole promotion: nothing of it stays, the
// error names it, and the other promotions are written.
TEST_F(PromotionImportTest, AConflictOnAProductOrBinRowRefusesThePromotionWhole) {
  struct Case {
    const char* name;
    std::string seed;  // the row the other transaction holds
    std::string lock;
    std::string table;
    std::vector<std::string> products;
    std::vector<std::string> bins;
  };
  const std::vector<Case> cases = {
      {"product row",
       "insert into ZENTROVA_PROMOCOES_PRODUTOS (CODIGOPROMOCAO, CODIGOPRODUTO) values (802, '" +
           kB + "')",
       "update ZENTROVA_PROMOCOES_PRODUTOS set CODIGOPRODUTO = CODIGOPRODUTO "
       "where CODIGOPROMOCAO = 802",
       "ZENTROVA_PROMOCOES_PRODUTOS",
       {"801|" + kA, "802|" + kB, "803|" + kC},
       {}},
      {"BIN row",
       "insert into ZENTROVA_PROMOCOES_BIN (CODIGOPROMOCAO, BIN) values (802, '422222')",
       "update ZENTROVA_PROMOCOES_BIN set BIN = BIN where CODIGOPROMOCAO = 802",
       "ZENTROVA_PROMOCOES_BIN",
       {"801|" + kA, "803|" + kC},
       {"802|422222|NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sql({"delete from ZENTROVA_PROMOCOES", "delete from ZENTROVA_PROMOCOES_PRODUTOS",
         "delete from ZENTROVA_PROMOCOES_BIN", c.seed});
    MakeDue();
    TFBConn fb;
    TStoreConnection blocker;
    fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", blocker);
    fb.ConfigureConnection(blocker);
    fb.ConnectConn(blocker);
    TStoreQuery lock(&blocker);
    blocker.StartTransaction();
    lock.AddSQL(c.lock);
    lock.Prepare();
    lock.ExecSQL();

    Serve(Doc({
        Promo(801, "PRECIO_FIJO", Details(R"("precio":1,)", {Item(1, {kA})})),
        Promo(802, "DESCUENTO_VARIABLE",
              Details(R"("descuento":5,)", {Item(1, {kA, kUnknown}), Item(1, {kB})},
                      {Pay(13, {"411111", "422222"})})),
        Promo(803, "PRECIO_FIJO", Details(R"("precio":3,)", {Item(1, {kC})})),
    }));
    // Once the job waits on the held row, the other transaction commits: the job's statement
    // then fails with an update conflict.
    const std::string waiting =
        "from mon$statements s where s.mon$state = 1 and s.mon$attachment_id <> "
        "current_connection and s.mon$sql_text containing '" +
        c.table + "' and s.mon$sql_text containing 'UPDATE OR INSERT'";
    std::atomic<bool> job_done{false};
    std::atomic<bool> committed{false};
    std::thread other([&] {
      while (!job_done) {
        if (Value("select count(*) " + waiting) != "0") {
          blocker.Commit();
          committed = true;
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    std::vector<std::string> log;
    PromotionPassCounts counts;
    try {
      log = NewLog([&] { counts = Run(); });
    } catch (...) {
      job_done = true;
      other.join();
      throw;
    }
    job_done = true;
    other.join();
    if (!committed) blocker.Rollback();
    ASSERT_TRUE(committed) << "the job never waited on the held row";

    ASSERT_EQ(log.size(), 3u) << ::testing::PrintToString(log);
    EXPECT_EQ(log[0], Ok("R", "rejeitadas"));
    EXPECT_EQ(log[1], "Erro AtualizaPromo: EDatabaseError");
    EXPECT_EQ(log[2].rfind("Mensagem: Promoção 802: ", 0), 0u) << log[2];
    EXPECT_NE(log[2].find("update conflicts with concurrent update"), std::string::npos) << log[2];
    EXPECT_EQ(counts.written, 2u);
    EXPECT_EQ(counts.refused, 1u);
    EXPECT_EQ(Rows("ZENTROVA_PROMOCOES", {"CODIGOPROMOCAO"}, "CODIGOPROMOCAO"),
              (std::vector<std::string>{"801", "803"}));
    // Of 802 only the other transaction's row is left.
    EXPECT_EQ(Products(), c.products);
    EXPECT_EQ(Bins(), c.bins);
  }
}

// A connection cut while a promotion is being written (the attachment deleted by an
// administrator): that promotion is undone whole, the pass ends without its stamp, and the
// next cycle imports everything.
TEST_F(PromotionImportTest, AConnectionCutInsideAPromotionUndoesItAndTheNextCycleImportsAll) {
  // The product row of 602's second item is locked by another transaction, so the job waits
  // there, with 602's promotion row and first product row written, until the cut.
  Sql({"insert into ZENTROVA_PROMOCOES_PRODUTOS (CODIGOPROMOCAO, CODIGOPRODUTO) values (602, '" +
       kB + "')"});
  TFBConn fb;
  TStoreConnection blocker;
  fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", blocker);
  fb.ConfigureConnection(blocker);
  fb.ConnectConn(blocker);
  TStoreQuery lock(&blocker);
  blocker.StartTransaction();
  lock.AddSQL(
      "update ZENTROVA_PROMOCOES_PRODUTOS set CODIGOPRODUTO = CODIGOPRODUTO "
      "where CODIGOPROMOCAO = 602");
  lock.Prepare();
  lock.ExecSQL();

  Serve(Doc({
      Promo(601, "PRECIO_FIJO", Details(R"("precio":1,)", {Item(1, {kA})})),
      Promo(602, "PRECIO_FIJO", Details(R"("precio":2,)", {Item(1, {kA}), Item(1, {kB})})),
      Promo(603, "PRECIO_FIJO", Details(R"("precio":3,)", {Item(1, {kC})})),
  }));

  const std::string waiting =
      "from mon$statements s where s.mon$state = 1 and s.mon$attachment_id <> current_connection "
      "and s.mon$sql_text containing 'ZENTROVA_PROMOCOES_PRODUTOS'";
  std::atomic<bool> job_done{false};
  std::atomic<bool> cut{false};
  std::thread administrator([&] {
    while (!job_done) {
      if (Value("select count(*) " + waiting) != "0") {
        Sql({"delete from mon$attachments where mon$attachment_id in (select s.mon$attachment_id " +
             waiting + ")"});
        cut = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<std::string> log;
  PromotionPassCounts counts;
  try {
    log = NewLog([&] { counts = Run(); });
  } catch (...) {
    job_done = true;
    administrator.join();
    throw;
  }
  job_done = true;
  administrator.join();
  blocker.Rollback();
  ASSERT_TRUE(cut) << "the job never waited on the locked row";

  ASSERT_EQ(log.size(), 3u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[0], Ok("R", "rejeitadas"));
  EXPECT_EQ(log[1], "Erro AtualizaPromo: EDatabaseError");
  EXPECT_EQ(log[2].rfind("Mensagem: Promoção 602: ", 0), 0u) << log[2];
  EXPECT_EQ(counts.written, 1u);
  EXPECT_EQ(counts.refused, 1u);
  EXPECT_EQ(Rows("ZENTROVA_PROMOCOES", {"CODIGOPROMOCAO"}, "CODIGOPROMOCAO"),
            std::vector<std::string>{"601"});
  EXPECT_EQ(Products(), (std::vector<std::string>{"601|" + kA, "602|" + kB}));
  EXPECT_EQ(StampedRows(), "0");
  EXPECT_EQ(Service().NextJob(clock.Now(), clock.Now().Date()), ZentroviaJob::AtualizaPromo);

  // The next cycle, on the connection the settings reload opened again.
  EXPECT_EQ(NewLog([&] { counts = Run(); }),
            (std::vector<std::string>{Ok("R", "rejeitadas"), Ok("P", "atualizadas")}));
  EXPECT_EQ(counts.written, 3u);
  EXPECT_EQ(Rows("ZENTROVA_PROMOCOES", {"CODIGOPROMOCAO"}, "CODIGOPROMOCAO"),
            (std::vector<std::string>{"601", "602", "603"}));
  EXPECT_EQ(Products(),
            (std::vector<std::string>{"601|" + kA, "602|" + kA, "602|" + kB, "603|" + kC}));
  EXPECT_EQ(StampedRows(), "2");
}

}  // namespace
}  // namespace zv
