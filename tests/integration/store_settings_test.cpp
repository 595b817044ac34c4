// GetCredenciaisZentrovia on real `padrao` rows: defaults, the start-date adjustment and the
// state it leaves behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/store_fixture.h"
#include "support/store_rows.h"

namespace zv {
namespace {

using ::testing::ElementsAre;

const char* const kCreated = "Servi\xC3\xA7o criado";
const char* const kAdjusted = "Ajuste na data de inicio Zentrovia no banco do Quelmara";

class StoreSettingsTest : public test::StoreFixture {};

TEST_F(StoreSettingsTest, FullRowIsReadIntoTheSettings) {
  sample::SampleOptions o;
  o.days = 1;
  o.sales_per_day = 3;
  o.start = DateTime::FromParts(2026, 12, 1);
  o.url = "http://127.0.0.1:8089/api";
  o.user = "loja";
  o.password = "segredo";
  o.idempresa = "77";
  o.idlocal = "5";
  o.intervalo = 25;
  o.ultvenda = 41;
  o.ultcancelamento = 9;
  o.ultcaixa = DateTime::FromParts(2026, 12, 3);
  o.verificapromo = DateTime::FromParts(2026, 12, 8, 10, 0, 0);
  o.verificareenvio = DateTime::FromParts(2026, 12, 7, 9, 30, 15);
  BuildSample(o);
  Connect();
  const IntegrationSettings& s = Service().Settings();
  EXPECT_EQ(s.zentrovia_usuario, "loja");
  EXPECT_EQ(s.zentrovia_senha, "segredo");
  EXPECT_EQ(s.zentrovia_url1, "http://127.0.0.1:8089/api");
  EXPECT_EQ(s.zentrovia_url2, "");
  EXPECT_EQ(s.zentrovia_idempresa, "77");
  EXPECT_EQ(s.zentrovia_idlocal, "5");
  EXPECT_EQ(s.zentrovia_intervalo, 25);
  EXPECT_EQ(s.zentrovia_datainicio, DateTime::FromParts(2026, 12, 1));
  EXPECT_EQ(s.zentrovia_ultvenda, 41);
  EXPECT_EQ(s.zentrovia_ultcancelamento, 9);
  EXPECT_EQ(s.zentrovia_ultcaixa, DateTime::FromParts(2026, 12, 3));
  EXPECT_EQ(s.zentrovia_verificapromo, DateTime::FromParts(2026, 12, 8, 10, 0, 0));
  EXPECT_EQ(s.zentrovia_verificareenvio, DateTime::FromParts(2026, 12, 7, 9, 30, 15));
  EXPECT_EQ(s.cnpj, "12345678000190");
  EXPECT_THAT(LogMessages(), ElementsAre(kCreated));
}

TEST_F(StoreSettingsTest, NullColumnsGiveTheDocumentedDefaults) {
  CreateStore();
  Sql({test::SettingsRow{}.Sql()});
  clock.Set(DateTime::FromParts(2026, 3, 15, 9, 0, 0));
  timer.SetInterval(10000);
  Connect();
  const IntegrationSettings& s = Service().Settings();
  EXPECT_EQ(s.zentrovia_usuario, "");
  EXPECT_EQ(s.zentrovia_url1, "");
  EXPECT_EQ(s.zentrovia_intervalo, 10);
  EXPECT_EQ(s.zentrovia_idlocal, "1");
  EXPECT_EQ(s.zentrovia_ultvenda, 0);
  EXPECT_EQ(s.zentrovia_ultcancelamento, 0);
  // The closing cursor takes the start date as stored: NULL.
  EXPECT_TRUE(s.zentrovia_ultcaixa.IsZero());
  // Both come from one current_timestamp: two hours and one day back.
  EXPECT_EQ(s.zentrovia_verificapromo.micros() - s.zentrovia_verificareenvio.micros(),
            22LL * 3600 * DateTime::kMicrosPerSecond);
  EXPECT_EQ(s.cnpj, "12345678000190");
  // NULL start date: two months before 15 March, stored and logged.
  EXPECT_EQ(s.zentrovia_datainicio, DateTime::FromParts(2026, 1, 15));
  EXPECT_EQ(Value("select zentrovia_datainicio from padrao"), "2026-01-15");
  EXPECT_THAT(LogMessages(), ElementsAre(kCreated, kAdjusted));
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 10000u);
}

struct AdjustCase {
  DateParts today;
  DateParts stored;
  DateParts expected;
  bool adjusted;
};

TEST_F(StoreSettingsTest, StartDateIsKeptWithinTwoCalendarMonths) {
  CreateStore();
  Sql({test::SettingsRow{.cgc = "'1'"}.Sql()});
  const AdjustCase cases[] = {
      {{2026, 5, 31}, {2026, 1, 1}, {2026, 3, 31}, true},
      {{2026, 4, 30}, {2026, 1, 1}, {2026, 2, 28}, true},
      {{2026, 3, 15}, {2026, 1, 15}, {2026, 1, 15}, false},  // exactly the limit stays
      {{2026, 3, 15}, {2026, 2, 1}, {2026, 2, 1}, false},
  };
  Service();
  for (const auto& c : cases) {
    DateTime stored = DateTime::FromParts(c.stored);
    DateTime expected = DateTime::FromParts(c.expected);
    SCOPED_TRACE(DateTime::FromParts(c.today).ToText() + " / " + stored.ToText());
    Sql({"update padrao set zentrovia_datainicio = '" + stored.ToText().substr(0, 10) +
         "', zentrovia_ultcaixa = null"});
    std::remove((dir() + "Zentrovia.log").c_str());
    clock.Set(DateTime::FromParts(c.today).AddSeconds(15 * 3600 + 7));
    Connect();
    const IntegrationSettings& s = Service().Settings();
    EXPECT_EQ(s.zentrovia_datainicio, expected);
    EXPECT_EQ(s.zentrovia_ultcaixa, stored);  // read before the adjustment
    EXPECT_EQ(Value("select zentrovia_datainicio from padrao"), expected.ToText().substr(0, 10));
    if (c.adjusted)
      EXPECT_THAT(LogMessages(), ElementsAre(kAdjusted));
    else
      EXPECT_TRUE(LogMessages().empty());
  }
}

TEST_F(StoreSettingsTest, NoQualifyingRowGivesEmptySettingsAndAdjustsEveryRow) {
  CreateStore();
  Sql({test::SettingsRow{.codigo = "null", .cgc = "'1'", .usuario = "'a'"}.Sql(),
       test::SettingsRow{.codigo = "2", .cgc = "''", .usuario = "'b'"}.Sql()});
  clock.Set(DateTime::FromParts(2026, 5, 31, 8, 0, 0));
  Connect();
  TSrvZentrovia& svc = Service();
  EXPECT_TRUE(svc.DbConnected());
  EXPECT_EQ(svc.Settings().zentrovia_usuario, "");
  EXPECT_EQ(svc.Settings().zentrovia_intervalo, 0);
  EXPECT_EQ(svc.Settings().zentrovia_idlocal, "");
  EXPECT_TRUE(svc.Settings().zentrovia_verificapromo.IsZero());
  EXPECT_EQ(svc.Settings().zentrovia_datainicio, DateTime::FromParts(2026, 3, 31));
  EXPECT_EQ(Value("select count(*) from padrao where zentrovia_datainicio = '2026-03-31'"), "2");
  EXPECT_THAT(LogMessages(), ElementsAre(kCreated, kAdjusted));
}

TEST_F(StoreSettingsTest, ReloadClosesEveryQueryAndReenablesTheTimer) {
  BuildSample(sample::SampleOptions{});
  Connect();
  TSrvZentrovia& svc = Service();
  svc.Store().StoreQuery2().ClearSQL();
  svc.Store().StoreQuery2().AddSQL("select venda from vendas order by venda");
  svc.Store().StoreQuery2().Open();
  ASSERT_FALSE(svc.Store().StoreQuery2().Eof());
  timer.Disable();
  svc.GetCredenciaisZentrovia();
  EXPECT_FALSE(svc.Store().StoreQuery2().Active());
  EXPECT_TRUE(svc.Store().StoreQuery2().Eof());
  EXPECT_TRUE(svc.Store().StoreConnection().Connected());
  EXPECT_EQ(svc.Store().StoreQuery1().SQLText(), "");
  EXPECT_FALSE(svc.Store().StoreQuery1().Active());
  EXPECT_TRUE(timer.Enabled());
  // The query reopens on the fresh attachment.
  svc.Store().StoreQuery2().Open();
  EXPECT_EQ(svc.Store().StoreQuery2().FieldByName("venda").AsInteger(), 1);
}

TEST_F(StoreSettingsTest, AFailedReloadKeepsThePreviousValues) {
  CreateStore();
  Sql({test::SettingsRow{.cgc = "'1'", .usuario = "'antes'", .datainicio = "'2026-12-01'"}.Sql()});
  Connect();
  ASSERT_EQ(Service().Settings().zentrovia_usuario, "antes");
  Sql({"alter table padrao drop zentrovia_senha"});  // the settings query now fails
  timer.Disable();
  Service().GetCredenciaisZentrovia();
  EXPECT_EQ(Service().Settings().zentrovia_usuario, "antes");
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(LogMessages().back(),
            "Falha ao tentar recuperar os dados da Zentrovia do banco do Quelmara");
  // Either way the query is left holding no statement.
  EXPECT_EQ(Service().Store().StoreQuery1().SQLText(), "");
}

}  // namespace
}  // namespace zv
