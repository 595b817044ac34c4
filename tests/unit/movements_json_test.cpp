// The compact JSON of the movement document: escapes, member order, numbers, null customer.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <nlohmann/json.hpp>

#include "movements/movement_document.h"

namespace zv {
namespace {

TEST(MovementJson, StringEscapes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"a\"b", R"("a\"b")"},
      {"a\\b", R"("a\\b")"},
      {"10/12", R"("10\/12")"},
      // Escapes at both ends and side by side, plain runs between them.
      {"\"a/\\\"bc/\"", R"("\"a\/\\\"bc\/\"")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      // Other control characters would make the body invalid JSON.
      {std::string("x\x01y\x1Fz", 5), R"("x\u0001y\u001fz")"},
      {std::string("\0", 1), R"("\u0000")"},
      // Letters outside ASCII go out as they are, never as \u escapes.
      {"D\xC3\x89"
       "BITO \xE2\x82\xAC",
       "\"D\xC3\x89"
       "BITO \xE2\x82\xAC\""},
      {"\x7F", "\"\x7F\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonString(c.in), c.out);
    // Whatever goes out must read back as the same text.
    EXPECT_EQ(nlohmann::json::parse(c.out).get<std::string>(), c.in);
    // The texts the service writes for itself differ only in keeping "/" as it stands.
    std::string plain = c.out;
    for (size_t at = plain.find("\\/"); at != std::string::npos; at = plain.find("\\/", at))
      plain.erase(at, 1);
    EXPECT_EQ(JsonString(c.in, JsonSlash::Plain), plain) << c.in;
  }
}

TEST(MovementJson, ObjectKeepsMemberOrderAndWritesMoneyExactly) {
  TJsonDocObject o;
  o.AddString("z", "1");
  o.AddNumber("a", Money::Parse("2.50"));
  o.AddNumber("m", Money::Parse("-1.5"));
  o.AddNumber("n", Money::Parse("0.125"));
  o.AddNumber("big", Money::Parse("12345678901.2345"));
  o.AddInteger("i", 13);
  o.AddBool("b", false);
  o.AddNull("nul");
  EXPECT_EQ(o.ToJson(),
            R"({"z":"1","a":2.5,"m":-1.5,"n":0.125,"big":12345678901.2345,"i":13,"b":false,)"
            R"("nul":null})");
  EXPECT_EQ(TJsonDocObject().ToJson(), "{}");
}

TEST(MovementJson, JsonVendaHeader) {
  TJsonObjectList detalhes, pagos;
  detalhes.push_back(std::make_unique<TJsonDocObject>());
  detalhes.back()->AddString("codigoArticulo", "1");
  detalhes.push_back(std::make_unique<TJsonDocObject>());
  detalhes.back()->AddString("codigoArticulo", "2");
  pagos.push_back(std::make_unique<TJsonDocObject>());
  pagos.back()->AddInteger("codigoTipoPago", 9);

  const std::string expected_tail =
      R"("codigoCanalVenta":1,"descripcionCanalVenta":"VENDA NA LOJA-DINHEIRO",)"
      R"("detalles":[{"codigoArticulo":"1"},{"codigoArticulo":"2"}],)"
      R"("pagos":[{"codigoTipoPago":9}]})";
  const std::string head =
      R"({"fecha":"2024-03-05T07:08:09.045-0300","numero":"120","descuentoTotal":0.5,)"
      R"("recargoTotal":0,"codigoMoneda":"986","cotizacion":1,"total":99.5,"cancelacion":false,)";

  // A blank tax id is no tax id.
  for (const std::string blank : {"", "   "}) {
    EXPECT_EQ(JsonVenda("2024-03-05T07:08:09.045-0300", "120", Money::Parse("0.5"), Money(), "986",
                        Money::FromInt(1), Money::Parse("99.5"), false, blank, 1,
                        "VENDA NA LOJA-DINHEIRO", detalhes, pagos),
              head + R"("documentoCliente":null,)" + expected_tail);
  }
  EXPECT_EQ(JsonVenda("2024-03-05T07:08:09.045-0300", "120", Money::Parse("0.5"), Money(), "986",
                      Money::FromInt(1), Money::Parse("99.5"), false, "123.456.789-00", 1,
                      "VENDA NA LOJA-DINHEIRO", detalhes, pagos),
            head + R"("documentoCliente":"123.456.789-00",)" + expected_tail);

  // The caller keeps its objects; releasing twice is harmless.
  EXPECT_EQ(detalhes.size(), 2u);
  FreeJsonArrayObjs(detalhes);
  FreeJsonArrayObjs(detalhes);
  EXPECT_TRUE(detalhes.empty());
  EXPECT_EQ(JsonVenda("f", "", Money(), Money(), "986", Money::FromInt(1), Money(), true, "", 3,
                      "IFOOD", detalhes, pagos),
            R"({"fecha":"f","numero":"","descuentoTotal":0,"recargoTotal":0,"codigoMoneda":"986",)"
            R"("cotizacion":1,"total":0,"cancelacion":true,"documentoCliente":null,)"
            R"("codigoCanalVenta":3,"descripcionCanalVenta":"IFOOD","detalles":[],)"
            R"("pagos":[{"codigoTipoPago":9}]})");
}

TEST(MovementJson, CardFields) {
  auto without_auth = movement::NewPayment(10, Money::Parse("30"));
  movement::AddCardFields(*without_auth, "", "1234", "411111");
  EXPECT_EQ(without_auth->ToJson(),
            R"({"codigoTipoPago":10,"codigoMoneda":"986","importe":30,"cotizacion":1})");

  auto full = movement::NewPayment(13, Money::Parse("30.1"));
  movement::AddCardFields(*full, "000123", "4321", "522222");
  EXPECT_EQ(full->ToJson(),
            R"({"codigoTipoPago":13,"codigoMoneda":"986","importe":30.1,"cotizacion":1,)"
            R"("ultimosDigitosTarjeta":"4321","numeroAutorizacion":"000123",)"
            R"("codigoTarjeta":null,"bin":"522222"})");

  for (int i = 0; i < 200; ++i) {
    auto p = movement::NewPayment(10, Money::FromInt(1));
    movement::AddCardFields(*p, "9", "", "");
    const auto j = nlohmann::json::parse(p->ToJson());
    ASSERT_TRUE(j["ultimosDigitosTarjeta"].is_number_integer());
    EXPECT_GE(j["ultimosDigitosTarjeta"].get<int>(), 1000);
    EXPECT_LE(j["ultimosDigitosTarjeta"].get<int>(), 9999);
    EXPECT_EQ(j["bin"], "123456");
  }
}

TEST(MovementJson, TrimText) {
  EXPECT_EQ(TrimText(" \t 00123 \r\n"), "00123");
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimText("a b"), "a b");
}

// The number of a partial cancellation names it at the platform: built again (another
// process, another machine, the Windows build) it must come out the same, and different
// cancellations must not share one.
TEST(MovementJson, PartialCancellationNumber) {
  // Pinned: the same on every standard library, and across versions of this program.
  EXPECT_EQ(movement::PartialCancellationNumber(11, 41), 711872346);
  EXPECT_EQ(movement::PartialCancellationNumber(12, 42), 678634326);
  // Sale and code are not interchangeable.
  EXPECT_EQ(movement::PartialCancellationNumber(41, 11), 847273130);

  std::set<int64_t> numbers;
  size_t drawn = 0;
  int64_t lowest = 999999999, highest = 0;
  for (int64_t venda : {1LL, 2LL, 11LL, 5000LL, 123456789LL, 1LL << 40})
    for (int64_t codigo : {0LL, 1LL, 41LL, 42LL, 1000000LL, 1LL << 33}) {
      const int64_t n = movement::PartialCancellationNumber(venda, codigo);
      EXPECT_GE(n, 100000000);
      EXPECT_LE(n, 999999999);
      EXPECT_EQ(n, movement::PartialCancellationNumber(venda, codigo));
      numbers.insert(n);
      lowest = std::min(lowest, n);
      highest = std::max(highest, n);
      ++drawn;
    }
  EXPECT_EQ(numbers.size(), drawn);
  // Spread over the range, not bunched at one end.
  EXPECT_LT(lowest, 400000000);
  EXPECT_GT(highest, 700000000);
}

}  // namespace
}  // namespace zv
