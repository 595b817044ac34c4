// The sample store: the shapes the jobs must handle are all there, consistently, and the
// same options give the same history.

#include <gtest/gtest.h>

#include "support/store_fixture.h"

namespace zv {
namespace {

class StoreSampleTest : public test::StoreFixture {};

TEST_F(StoreSampleTest, HistoryHoldsEveryShapeConsistently) {
  sample::SampleOptions o;
  o.days = 7;
  o.tills = 3;
  o.sales_per_day = 60;
  sample::SampleSummary s = BuildSample(o);
  EXPECT_EQ(s.sales, 7 * 60);
  EXPECT_EQ(Value("select count(distinct venda) from vendas"), std::to_string(s.sales));
  EXPECT_EQ(Value("select count(*) from vendas"), std::to_string(s.vendas_rows));

  struct Shape {
    const char* what;
    const char* count_sql;
  } shapes[] = {
      {"discount lines",
       "select count(*) from vendas where codigoproduto = 'XXDESCONTOXX' and "
       "produto = 'Desconto Adicional'"},
      {"surcharge lines", "select count(*) from vendas where codigoproduto = 'XXACRESCIMOXX'"},
      {"delivery lines", "select count(*) from vendas where codigoproduto = 'XXENTREGAXX'"},
      {"mobile top-ups", "select count(*) from vendas where codigoproduto = 'RECARGACELULAR'"},
      {"lines without till", "select count(*) from vendas where terminal is null"},
      {"sales without fiscal receipt",
       "select count(*) from vendas where numeroserie = 'NAO "
       "FISCAL'"},
      {"later-day cancellations", "select count(*) from vendas where cancelamento > data"},
      {"same-day cancellations", "select count(*) from vendas where cancelamento = data"},
      {"customers without tax id",
       "select count(*) from vendas v join clientes c on "
       "c.codigo = v.codigocliente where c.cic is null"},
      {"customers with tax id",
       "select count(*) from vendas v join clientes c on c.codigo = "
       "v.codigocliente where c.cic is not null"},
      {"accented names", "select count(*) from produtos where produto like '%Ó%'"},
      {"cash",
       "select count(*) from caixa where dinheiro > 0 and naturezadaoperacao = 'Venda "
       "a Vista'"},
      {"change", "select count(*) from caixa where troco > 0"},
      {"cheque", "select count(*) from caixa where cheque > 0"},
      {"digital wallet", "select count(*) from caixa where carteiradigital > 0"},
      {"exchange voucher", "select count(*) from caixa where valetroca > 0"},
      {"e-commerce", "select count(*) from caixa where ecommerce > 0"},
      {"credit sales", "select count(*) from caixa where naturezadaoperacao = 'Venda a Prazo'"},
      {"empty nature", "select count(*) from caixa where naturezadaoperacao is null"},
      {"debit cards", "select count(*) from vendacartao where operacao = 'DÉBITO'"},
      {"two cards in one sale",
       "select count(*) from (select codigovenda from vendacartao "
       "group by codigovenda having count(*) > 1)"},
      {"short authorizations",
       "select count(*) from vendacartao where char_length(autorizacao) "
       "< 6"},
  };
  for (const auto& sh : shapes) EXPECT_NE(Value(sh.count_sql), "0") << sh.what;

  // A totally cancelled sale keeps its till records only in the cancelled tables.
  EXPECT_EQ(Value("select count(*) from caixacancelado c where exists (select 1 from caixa x "
                  "where x.codigovenda = c.codigovenda)"),
            "0");
  EXPECT_EQ(Value("select count(*) from caixacancelado"), std::to_string(s.total_cancellations));
  EXPECT_EQ(Value("select count(*) from vendas v where not exists (select 1 from caixa x where "
                  "x.codigovenda = v.venda) and not exists (select 1 from caixacancelado c where "
                  "c.codigovenda = v.venda)"),
            "0");
  // Every cancelled line has its own number, growing with the cancellation date.
  EXPECT_EQ(Value("select count(distinct codigocancelamento) from vendas where cancelamento "
                  "is not null"),
            std::to_string(s.last_codigocancelamento));
  EXPECT_EQ(Value("select count(*) from vendas a join vendas b on a.codigocancelamento < "
                  "b.codigocancelamento and a.cancelamento > b.cancelamento"),
            "0");
  // The till record's total is what the sale's lines add up to.
  EXPECT_EQ(Value("select count(*) from caixa x where x.total <> (select sum(iif(v.precototal "
                  "= 0, v.precoautomatico, v.precototal)) from vendas v where v.venda = "
                  "x.codigovenda)"),
            "0");
}

TEST_F(StoreSampleTest, SameOptionsSameHistory) {
  sample::SampleOptions o;
  o.days = 2;
  o.sales_per_day = 30;
  const char* fingerprint =
      "select count(*) || '/' || sum(precototal) || '/' || sum(venda * sequencial) || '/' || "
      "sum(coalesce(codigocancelamento, 0)) from vendas";
  BuildSample(o);
  std::string first = Value(fingerprint);
  BuildSample(o);
  EXPECT_EQ(Value(fingerprint), first);
  o.seed += 1;
  BuildSample(o);
  EXPECT_NE(Value(fingerprint), first);
}

}  // namespace
}  // namespace zv
