#pragma once
// MovementFixture: a store with product kDipirona and the settings row pointing at a running
// fake platform (the rows themselves are written with support/store_rows.h), and the movement
// document the platform must receive, written out member by member.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake-platform/fake_platform.h"
#include "support/platform_store_fixture.h"
#include "support/store_rows.h"
#include "support/temp_dir.h"

namespace zv::test {

// The day of the fixture's sales (StoreDay) as the document gives it.
struct MovementDay : StoreDay {
  static constexpr const char* kFecha = "2026-12-07T10:11:12.000-0300";
};

// Pieces of the document; every value is written here as the platform must see it.
inline std::string DetailOf(const std::string& articulo, const std::string& barras,
                            const std::string& desc, const std::string& cantidad,
                            const std::string& unitario, const std::string& importe,
                            const std::string& descuento) {
  return R"({"codigoArticulo":")" + articulo + R"(","codigoBarras":")" + barras +
         R"(","descripcionArticulo":")" + desc + R"(","cantidad":)" + cantidad +
         R"(,"importeUnitario":)" + unitario + R"(,"importe":)" + importe + R"(,"descuento":)" +
         descuento + R"(,"recargo":0})";
}
// A detail of product kDipirona, quantity 1.
inline std::string Detail(const std::string& unitario, const std::string& importe,
                          const std::string& descuento = "0") {
  return DetailOf("100103", kDipirona, kDipironaName, "1", unitario, importe, descuento);
}
// `card`: the members Card gives, for a card payment.
inline std::string Payment(int codigo, const std::string& importe, const std::string& card = "") {
  return R"({"codigoTipoPago":)" + std::to_string(codigo) + R"(,"codigoMoneda":"986","importe":)" +
         importe + R"(,"cotizacion":1)" + card + "}";
}
inline std::string Card(const std::string& ultimos, const std::string& autorizacao,
                        const std::string& bin) {
  return R"(,"ultimosDigitosTarjeta":)" + ultimos + R"(,"numeroAutorizacion":")" + autorizacao +
         R"(","codigoTarjeta":null,"bin":")" + bin + R"(")";
}

// A movement document as the platform must receive it, for sales sold on Day (a type with the
// document's date and time as kFecha).
template <class Day>
struct ExpectedDocumentOn {
  std::string fecha = Day::kFecha;
  std::string numero;
  std::string descuento = "0", recargo = "0", total;
  bool cancelacion = false;
  std::string cliente = "null";  // JSON: null or a string
  int canal = 1;
  std::string descricao = "VENDA NA LOJA-DINHEIRO";
  std::vector<std::string> detalles, pagos;

  std::string Body() const {
    auto join = [](const std::vector<std::string>& v) {
      std::string s;
      for (const auto& x : v) s += (s.empty() ? "" : ",") + x;
      return "[" + s + "]";
    };
    return R"([{"fecha":")" + fecha + R"(","numero":")" + numero + R"(","descuentoTotal":)" +
           descuento + R"(,"recargoTotal":)" + recargo +
           R"(,"codigoMoneda":"986","cotizacion":1,"total":)" + total + R"(,"cancelacion":)" +
           (cancelacion ? "true" : "false") + R"(,"documentoCliente":)" + cliente +
           R"(,"codigoCanalVenta":)" + std::to_string(canal) + R"(,"descripcionCanalVenta":")" +
           descricao + R"(","detalles":)" + join(detalles) + R"(,"pagos":)" + join(pagos) + "}]";
  }
};
using ExpectedDocument = ExpectedDocumentOn<MovementDay>;

class MovementFixture : public PlatformStoreFixture {
 protected:
  // The settings row SetUp writes, with the fake platform's address (PlatformSettings: sales
  // cursor 1000, cancellation cursor 40, start date 2026-12-01); a test fixture may change it
  // in its constructor.
  SettingsRow settings = PlatformSettings("");

  void SetUp() override {
    PlatformStoreFixture::SetUp();
    if (StoreMissing()) return;
    settings.url1 = Quoted(platform_.BaseUrl());
    Sql({ProductRow(kDipirona, kDipironaName), settings.Sql()});
  }

  // Posts of movement documents (closings excluded).
  std::vector<fake::RecordedRequest> MovementPosts() const { return Posts("/movimientos/"); }
  std::vector<fake::RecordedRequest> ClosingPosts() const { return Posts("/cierresDiarios/"); }
  // The posts whose address holds `kind`; every post for "".
  std::vector<fake::RecordedRequest> Posts(const std::string& kind = "") const {
    std::vector<fake::RecordedRequest> out;
    for (auto& r : platform_.Requests())
      if (r.method == "POST" && r.path.find(kind) != std::string::npos) out.push_back(r);
    return out;
  }

  static std::string MovementPath(const std::string& till) {
    return "/api-minoristas/api/v2/minoristas/7/locales/3/cajas/" + till + "/movimientos/lotes";
  }
};

}  // namespace zv::test
