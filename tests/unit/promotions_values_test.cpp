// How each kind of value of a promotion is read: one value that reads and one that fails per
// rule, always beside a promotion that must still read, since one bad promotion may not cost
// the others.

#include <gtest/gtest.h>

#include <string>

#include "promotions/promo_model.h"

namespace zv {
namespace {

struct ValueCase {
  const char* promotion;
  // Part of the promotion written back when it reads; the error message when it fails.
  const char* expect;
  bool reads;
};

void CheckBesideGoodOne(const ValueCase& c) {
  SCOPED_TRACE(c.promotion);
  TRoot root;
  root.SetAsJson(std::string(R"({"results":[)") + c.promotion +
                 R"(,{"id":99,"tipo":"PRECIO_FIJO","detalles":{"precio":5}}]})");
  ASSERT_EQ(root.Results().size(), 2u);
  const PromotionEntry& entry = root.Results()[0];
  if (c.reads) {
    ASSERT_TRUE(entry.Readable()) << entry.ErrorMessage();
    const std::string written = WriteJson(entry.ToJsonValue());
    EXPECT_NE(written.find(c.expect), std::string::npos) << written;
  } else {
    ASSERT_FALSE(entry.Readable());
    EXPECT_EQ(entry.ErrorKind(), "EConversionError");
    EXPECT_EQ(entry.ErrorMessage(), c.expect);
  }
  const PromotionEntry& good = root.Results()[1];
  ASSERT_TRUE(good.Readable()) << good.ErrorMessage();
  EXPECT_EQ(good.Promotion().Id(), 99);
  EXPECT_EQ(good.Promotion().Detalles()->Precio(), Money::FromInt(5));
}

TEST(PromotionValues, IntegersAreWholeNumbersOf32Bits) {
  const ValueCase cases[] = {
      {R"({"id":1001})", R"("id":1001)", true},
      {R"({"id":"1001"})", R"(id: text "1001" is not an integer)", false},
      {R"({"id":-2147483648,"limitePromocionesPorTicket":2147483647})",
       R"("id":-2147483648,"limitePromocionesPorTicket":2147483647)", true},
      {R"({"id":2147483648})", "id: number 2147483648 does not fit in 32 bits", false},
      {R"({"id":1,"limitePromocionesPorTicket":1e3})", R"("limitePromocionesPorTicket":1000)",
       true},
      {R"({"id":1,"limitePromocionesPorTicket":3.5})",
       "limitePromocionesPorTicket: number 3.5 is not a whole number", false},
      {R"({"id":1,"detalles":{"paga":2.0}})", R"("paga":2,)", true},
      {R"({"id":1,"detalles":{"condiciones":{"items":[{"cantidad":true}]}}})",
       "detalles.condiciones.items[0].cantidad: true is not an integer", false},
      {R"({"id":1,"detalles":{"condiciones":{"formasPago":[{"codigoTipoPago":1e99999999999}]}}})",
       "detalles.condiciones.formasPago[0].codigoTipoPago: number 1e99999999999 does not fit in 32 "
       "bits",
       false},
  };
  for (const ValueCase& c : cases) CheckBesideGoodOne(c);
}

TEST(PromotionValues, MoneyIsTheDecimalWrittenRoundedToFourPlaces) {
  const ValueCase cases[] = {
      {R"({"id":1,"detalles":{"descuento":12.34565}})", R"("descuento":12.3457,)", true},
      {R"({"id":1,"detalles":{"descuento":-12.34565}})", R"("descuento":-12.3457,)", true},
      {R"({"id":1,"detalles":{"descuento":0.00004}})", R"("descuento":0,)", true},
      {R"({"id":1,"detalles":{"precio":1.5e2}})", R"("precio":150})", true},
      {R"({"id":1,"detalles":{"precio":922337203685477.5807}})",
       R"("precio":922337203685477.5807})", true},
      {R"({"id":1,"detalles":{"precio":922337203685477.58075}})",
       "detalles.precio: number 922337203685477.58075 is beyond the money range", false},
      {R"({"id":1,"detalles":{"precio":1e400}})",
       "detalles.precio: number 1e400 is beyond the money range", false},
      {R"({"id":1,"detalles":{"precio":1e-400}})", R"("precio":0})", true},
      {R"({"id":1,"detalles":{"descuento":"10"}})",
       R"(detalles.descuento: text "10" is not a number)", false},
  };
  for (const ValueCase& c : cases) CheckBesideGoodOne(c);
}

TEST(PromotionValues, TextsAreJsonStrings) {
  const ValueCase cases[] = {
      {R"({"id":1,"tipo":"ADICIONAL_REGALO","descripcion":"Caf\u00e9"})",
       "\"descripcion\":\"Caf\xC3\xA9\"", true},
      {R"({"id":1,"descripcion":5})", "descripcion: number 5 is not a text", false},
      {R"({"id":1,"detalles":{"condiciones":{"items":[{"articulos":[{"codigoBarras":789}]}]}}})",
       "detalles.condiciones.items[0].articulos[0].codigoBarras: number 789 is not a text", false},
      // Long or multi-line values are cut and escaped in the message, which is one log line.
      {R"({"id":1,"tipo":["a"],"descripcion":"x"})", "tipo: a list is not a text", false},
      {R"({"id":1,"detalles":{"condiciones":{"formasPago":[{"bines":"4111\n22222222222222222222222222222222222222222"}]}}})",
       R"(detalles.condiciones.formasPago[0].bines: text "4111\n22222222222222222222222222222222222..." is not a list)",
       false},
  };
  for (const ValueCase& c : cases) CheckBesideGoodOne(c);
}

TEST(PromotionValues, DatesAreIso8601MovedToUtc) {
  const ValueCase cases[] = {
      {R"({"id":1,"vigenciaDesde":"2024-07-01T22:30:00-03:00"})",
       R"("vigenciaDesde":"2024-07-02T01:30:00Z")", true},
      {R"({"id":1,"vigenciaHasta":"2024-05-01T10:00:00.1234567+02:00"})",
       R"("vigenciaHasta":"2024-05-01T08:00:00.123456Z")", true},
      {R"({"id":1,"vigenciaDesde":"2024-03-01"})", R"("vigenciaDesde":"2024-03-01T00:00:00Z")",
       true},
      {R"({"id":1,"vigenciaDesde":"","vigenciaHasta":null})",
       R"("vigenciaDesde":"","vigenciaHasta":"")", true},
      {R"({"id":1,"vigenciaDesde":"01/05/2024"})",
       R"(vigenciaDesde: text "01/05/2024" is not an ISO 8601 date)", false},
      {R"({"id":1,"vigenciaHasta":"2024-02-30T00:00:00Z"})",
       R"(vigenciaHasta: text "2024-02-30T00:00:00Z" is not an ISO 8601 date)", false},
      {R"({"id":1,"vigenciaHasta":"9999-12-31T23:00:00-03:00"})",
       R"(vigenciaHasta: text "9999-12-31T23:00:00-03:00" is out of the date range)", false},
      {R"({"id":1,"vigenciaHasta":20240501})", "vigenciaHasta: number 20240501 is not a date",
       false},
  };
  for (const ValueCase& c : cases) CheckBesideGoodOne(c);
}

TEST(PromotionValues, ObjectsAndListsTakeTheirKindOrNull) {
  const ValueCase cases[] = {
      {R"({"id":1,"detalles":{"condiciones":{"items":null,"formasPago":null}}})",
       R"("condiciones":{"formasPago":[],"gruposCliente":[],"items":[]})", true},
      {R"({"id":1,"detalles":{"condiciones":{"items":[null]}}})",
       "detalles.condiciones.items[0]: null is not an object", false},
      {R"({"id":1,"detalles":{"beneficios":{"items":[{"articulos":[{},"789"]}]}}})",
       R"(detalles.beneficios.items[0].articulos[1]: text "789" is not an object)", false},
      {R"({"id":1,"detalles":{"condiciones":{"items":{}}}})",
       "detalles.condiciones.items: an object is not a list", false},
      {R"({"id":1,"detalles":{"condiciones":{"formasPago":[{"bines":["4111",null]}]}}})",
       "detalles.condiciones.formasPago[0].bines[1]: null is not a text", false},
      {R"({"id":1,"detalles":[]})", "detalles: a list is not an object", false},
      {R"({"id":1,"detalles":{"condiciones":"none"}})",
       R"(detalles.condiciones: text "none" is not an object)", false},
  };
  for (const ValueCase& c : cases) CheckBesideGoodOne(c);
}

TEST(PromotionValues, MembersTheImportNeverUsesAreReadLeniently) {
  const ValueCase cases[] = {
      {R"({"id":1,"autor":5,"titulo":false,"detalles":{"condiciones":{"gruposCliente":{"a":1},)"
       R"("formasPago":[{"codigoTipoPago":10,"descripcion":1,"codigoTarjeta":[],"codigoMoneda":{}}],)"
       R"("items":[{"articulos":[{"codigoBarras":"7","nombre":3}]}]}}})",
       R"("codigoTipoPago":10,"codigoTarjeta":"","codigoMoneda":"","bines":[])", true},
      {R"({"id":1,"autor":{"descripcion":7},"titulo":"T"})",
       R"("autor":{"descripcion":""},"descripcion":"")", true},
  };
  for (const ValueCase& c : cases) CheckBesideGoodOne(c);
}

}  // namespace
}  // namespace zv
