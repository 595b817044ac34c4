// The promotion document as the import meets it: what assigning a text does, how member keys
// find their fields, which objects exist when a member is absent or null, and the document
// written back.

#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "promotions/promo_model.h"

namespace zv {
namespace {

constexpr char kOnePromotion[] = R"({"results":[{"id":7,"tipo":"PRECIO_FIJO"}],"total":1})";

TEST(PromotionMapping, AssigningTextThatIsNoObject) {
  struct Case {
    const char* text;
    bool raises;
  };
  const Case cases[] = {
      {"", false},     {"  \r\n", false}, {"null", false}, {" null ", false},
      {"[{}]", false}, {"[]", false},     {"{", false},    {"nul", false},
      {"42", true},    {"true", true},    {"\"x\"", true}, {"-0.5", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TRoot root;
    root.SetAsJson(kOnePromotion);
    const std::string before = root.AsJson();
    if (c.raises) {
      try {
        root.SetAsJson(c.text);
        ADD_FAILURE() << "no error";
      } catch (const EConversionError& e) {
        EXPECT_STREQ(e.what(), "The input value is not a valid Object");
        EXPECT_EQ(e.kind(), "EConversionError");
      }
    } else {
      EXPECT_NO_THROW(root.SetAsJson(c.text));
    }
    EXPECT_EQ(root.AsJson(), before);
  }
}

TEST(PromotionMapping, ArrayLeavesListHoldersUnchanged) {
  // TCondiciones has a list answering to "Items": offering the array to it fails, and the
  // assignment still ends quietly because nothing answers to "Results".
  TCondiciones conditions;
  conditions.SetAsJson(R"({"items":[{"cantidad":2}]})");
  EXPECT_NO_THROW(conditions.SetAsJson(R"([{"cantidad":5}])"));
  ASSERT_EQ(conditions.Items().size(), 1u);
  EXPECT_EQ(conditions.Items()[0].Cantidad(), 2);

  TItems item;
  EXPECT_NO_THROW(item.SetAsJson(R"([{"codigoBarras":"1"}])"));
  EXPECT_TRUE(item.Articulos().empty());
}

TEST(PromotionMapping, AbsentNullAndEmptyMembersAgainstTheShapeTests) {
  struct Case {
    const char* promotion;
    PromotionShape shape;  // details, benefits, benefit items, conditions, condition items, pay
  };
  const Case cases[] = {
      {R"({"id":1})", {true, true, false, true, false, false}},
      {R"({"id":1,"detalles":null})", {false, false, false, false, false, false}},
      {R"({"id":1,"detalles":{}})", {true, true, false, true, false, false}},
      {R"({"id":1,"detalles":{"beneficios":null}})", {true, false, false, true, false, false}},
      {R"({"id":1,"detalles":{"beneficios":{}}})", {true, true, false, true, false, false}},
      {R"({"id":1,"detalles":{"beneficios":{"items":[{}]},"condiciones":null}})",
       {true, true, true, false, false, false}},
      {R"({"id":1,"detalles":{"condiciones":{"items":[{}],"formasPago":[{}]}}})",
       {true, true, false, true, true, true}},
      {R"({"id":1,"detalles":{"beneficios":{"items":null},"condiciones":{"items":[]}}})",
       {true, true, false, true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.promotion);
    TRoot root;
    root.SetAsJson(std::string(R"({"results":[)") + c.promotion + "]}");
    ASSERT_EQ(root.Results().size(), 1u);
    const PromotionShape s = ShapeOf(root.Results()[0].Promotion());
    EXPECT_EQ(s.has_details, c.shape.has_details);
    EXPECT_EQ(s.has_benefits, c.shape.has_benefits);
    EXPECT_EQ(s.has_benefit_items, c.shape.has_benefit_items);
    EXPECT_EQ(s.has_conditions, c.shape.has_conditions);
    EXPECT_EQ(s.has_condition_items, c.shape.has_condition_items);
    EXPECT_EQ(s.has_payment_methods, c.shape.has_payment_methods);
  }
}

TEST(PromotionMapping, KeysMatchFieldsAsTheMapperDoes) {
  struct Case {
    const char* promotion;
    const char* written;  // part of the promotion written back, or "" when refused
    const char* error;
  };
  const Case cases[] = {
      // Field names match without regard to case, with or without their "F".
      {R"({"ID":5,"Descripcion":"x","fTipo":"T","DETALLES":{"PAGA":2}})",
       R"("descripcion":"x","detalles":{"beneficios":{"items":[]},"condiciones":{"formasPago":[],"gruposCliente":[],"items":[]},"descuento":0,"paga":2,"precio":null},"id":5,"limitePromocionesPorTicket":0,"tipo":"T")",
       ""},
      // A key given twice counts once, by its last value: an earlier bad value does not matter.
      {R"({"id":"x","id":3,"tipo":"A","tipo":"B"})",
       R"("id":3,"limitePromocionesPorTicket":0,"tipo":"B")", ""},
      {R"({"id":3,"id":"x"})", "", R"(id: text "x" is not an integer)"},
      // Lists answer only to their exact key.
      {R"({"id":1,"detalles":{"condiciones":{"Items":[]}}})", "",
       R"(detalles.condiciones.Items: this list is read only under the key "items")"},
      {R"({"id":1,"detalles":{"beneficios":{"ITEMS":null}}})", "",
       R"(detalles.beneficios.ITEMS: this list is read only under the key "items")"},
      // "bines" has an explicit name, so another case finds nothing and is ignored.
      {R"({"id":1,"detalles":{"condiciones":{"formasPago":[{"Bines":[5],"bines":["4"]}]}}})",
       R"("bines":["4"])", ""},
      // Customer groups are never used: a list key in another case or odd elements pass.
      {R"({"id":1,"detalles":{"condiciones":{"GruposCliente":5,"gruposCliente":[7,{"id":"g"}]}}})",
       R"("gruposCliente":[{"descripcion":"","id":"g","tipo":""}])", ""},
      // Unknown members are ignored.
      {R"({"id":1,"extra":{"deep":[1,2]},"vigenciaDesdeX":"nope"})", R"("id":1,)", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.promotion);
    TRoot root;
    root.SetAsJson(std::string(R"({"results":[)") + c.promotion + "]}");
    ASSERT_EQ(root.Results().size(), 1u);
    const PromotionEntry& entry = root.Results()[0];
    if (*c.error) {
      ASSERT_FALSE(entry.Readable());
      EXPECT_EQ(entry.ErrorMessage(), c.error);
    } else {
      ASSERT_TRUE(entry.Readable()) << entry.ErrorMessage();
      EXPECT_NE(WriteJson(entry.ToJsonValue()).find(c.written), std::string::npos)
          << WriteJson(entry.ToJsonValue());
    }
  }
}

TEST(PromotionMapping, DocumentMembersThatFailTheWholeDocument) {
  // Only the list of promotions itself can spoil the document; "total" is never used.
  TRoot root;
  EXPECT_THROW(root.SetAsJson(R"({"results":{"id":1}})"), EConversionError);
  EXPECT_THROW(root.SetAsJson(R"({"Results":[]})"), EConversionError);
  root.SetAsJson(R"({"total":"many","results":null})");
  EXPECT_TRUE(root.Results().empty());
  EXPECT_EQ(root.Total(), 0);
  // The list given twice: the last one counts.
  root.SetAsJson(R"({"results":[{"id":1},{"id":2}],"results":[{"id":3}],"total":1})");
  ASSERT_EQ(root.Results().size(), 1u);
  EXPECT_EQ(root.Results()[0].Promotion().Id(), 3);
}

TEST(PromotionMapping, WritesTheModelBackAndReadsItAgain) {
  const std::string input = R"({"total":3,"results":[
    {"id":42,"tipo":"LLEVA_PAGA","descripcion":"Leve 3 \"pague\" 2\n","titulo":"t",
     "autor":{"descripcion":"Ana"},"limitePromocionesPorTicket":2,
     "vigenciaDesde":"2024-07-01T22:30:00-03:00","vigenciaHasta":"",
     "detalles":{"paga":2,"descuento":12.34565,"beneficios":null,
       "condiciones":{"items":[{"cantidad":3,"articulos":[{"codigoBarras":"789","nombre":"A"}]}],
         "formasPago":[{"codigoTipoPago":13,"bines":["4111","5500"],"descripcion":"D",
           "codigoTarjeta":"V","codigoMoneda":"BRL"}],
         "gruposCliente":[{"descripcion":"g","id":"9","tipo":"X"}]}}},
    {"id":"bad","detalles":5},
    {"autor":null,"detalles":null,"vigenciaDesde":"2024-05-01T10:00:00.1234567Z"}]})";
  TRoot root;
  root.SetAsJson(input);
  const std::string expected =
      R"({"results":[{"autor":{"descripcion":"Ana"},"descripcion":"Leve 3 \"pague\" 2\n",)"
      R"("detalles":{"beneficios":null,"condiciones":{"formasPago":[{"descripcion":"D",)"
      R"("codigoTipoPago":13,"codigoTarjeta":"V","codigoMoneda":"BRL","bines":["4111","5500"]}],)"
      R"("gruposCliente":[{"descripcion":"g","id":"9","tipo":"X"}],"items":[{"articulos":)"
      R"([{"codigoBarras":"789","nombre":"A"}],"cantidad":3}]},"descuento":12.3457,"paga":2,)"
      R"("precio":null},"id":42,"limitePromocionesPorTicket":2,"tipo":"LLEVA_PAGA","titulo":"t",)"
      R"("vigenciaDesde":"2024-07-02T01:30:00Z","vigenciaHasta":""},)"
      R"({"id":"bad","detalles":5},)"
      R"({"autor":null,"descripcion":"","detalles":null,"id":null,"limitePromocionesPorTicket":0,)"
      R"("tipo":"","titulo":"","vigenciaDesde":"2024-05-01T10:00:00.123456Z","vigenciaHasta":""}],)"
      R"("total":3})";
  EXPECT_EQ(root.AsJson(), expected);
  EXPECT_EQ(root.ToString(), expected);

  TRoot again;
  again.SetAsJson(root.AsJson());
  EXPECT_EQ(again.AsJson(), expected);
  ASSERT_EQ(again.Results().size(), 3u);
  EXPECT_FALSE(again.Results()[1].Readable());
  EXPECT_FALSE(again.Results()[2].Promotion().HasId());
  EXPECT_EQ(again.Results()[0].Promotion().Detalles()->Descuento(), Money::FromRaw(123457));
}

TEST(PromotionMapping, RefusedPromotionKeepsItsPlaceAndError) {
  TRoot root;
  root.SetAsJson(
      R"({"results":[{"id":7,"detalles":{"precio":"9.90"}},null,{"detalles":{"paga":1.5}},{"id":8}]})");
  ASSERT_EQ(root.Results().size(), 4u);
  const PromotionEntry& first = root.Results()[0];
  EXPECT_FALSE(first.Readable());
  EXPECT_EQ(first.Position(), 1);
  EXPECT_EQ(first.Id(), 7);  // the id still names the refused promotion
  EXPECT_EQ(first.ErrorKind(), "EConversionError");
  EXPECT_EQ(first.ErrorMessage(), R"(detalles.precio: text "9.90" is not a number)");
  try {
    (void)first.Promotion();
    ADD_FAILURE() << "refused promotion handed out";
  } catch (const EConversionError& e) {
    EXPECT_EQ(e.what(), first.ErrorMessage());
  }
  EXPECT_EQ(root.Results()[1].ErrorMessage(), "null is not an object");
  EXPECT_EQ(root.Results()[1].Id(), std::nullopt);
  EXPECT_EQ(root.Results()[2].ErrorMessage(), "detalles.paga: number 1.5 is not a whole number");
  EXPECT_EQ(root.Results()[2].Position(), 3);
  ASSERT_TRUE(root.Results()[3].Readable());
  EXPECT_EQ(root.Results()[3].Id(), 8);
}

}  // namespace
}  // namespace zv
