#pragma once
// MovementFixture: a store with two products and a settings row pointing at a running fake
// platform, rows of sales and till records written as SQL, and the movement document the
// platform must receive, written out member by member.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake-platform/fake_platform.h"
#include "support/store_fixture.h"
#include "support/temp_dir.h"

namespace zv::test {

// One row of `vendas`; text members are SQL literals.
struct SaleLine {
  int venda = 0;
  int seq = 1;
  std::string data = "'2026-12-07'";
  std::string hora = "'10:11:12'";
  std::string cancelamento = "NULL";
  std::string codcanc = "NULL";
  std::string codigo = "'7891000100103'";
  std::string produto = "NULL";
  std::string unit = "10", subtotal = "10", desconto = "0", total = "10", automatico = "10";
  std::string serie = "'ECF-01'";
  std::string coo = "5001";
  std::string terminal = "2";

  std::string Sql() const {
    return "insert into vendas (venda, sequencial, data, hora, cancelamento, codigocancelamento, "
           "codigoproduto, produto, precounitario, quantidade, subtotal, desconto, precototal, "
           "precoautomatico, numeroserie, numerocoo, terminal) values (" +
           std::to_string(venda) + ", " + std::to_string(seq) + ", " + data + ", " + hora + ", " +
           cancelamento + ", " + codcanc + ", " + codigo + ", " + produto + ", " + unit + ", 1, " +
           subtotal + ", " + desconto + ", " + total + ", " + automatico + ", " + serie + ", " +
           coo + ", " + terminal + ")";
  }
};

// A till record ("caixa", or "caixacancelado" for a sale cancelled as a whole).
inline std::string TillRecord(const std::string& table, int venda, const std::string& natureza,
                              const std::string& dinheiro, const std::string& troco = "0",
                              const std::string& cheque = "0") {
  return "insert into " + table +
         " (codigovenda, naturezadaoperacao, dinheiro, cheque, cartao, carteiradigital, "
         "valetroca, ecommerce, troco, total, numerocoo) values (" +
         std::to_string(venda) + ", '" + natureza + "', " + dinheiro + ", " + cheque +
         ", 0, 0, 0, 0, " + troco + ", 0, 5001)";
}

inline constexpr const char* kDipirona = "7891000100103";
inline constexpr const char* kDipironaName = "DIPIRONA 500MG 10 CP";

// A detail of product kDipirona, quantity 1.
inline std::string Detail(const std::string& unitario, const std::string& importe,
                          const std::string& descuento = "0") {
  return std::string(R"({"codigoArticulo":"100103","codigoBarras":")") + kDipirona +
         R"(","descripcionArticulo":")" + kDipironaName + R"(","cantidad":1,"importeUnitario":)" +
         unitario + R"(,"importe":)" + importe + R"(,"descuento":)" + descuento +
         R"(,"recargo":0})";
}
inline std::string Payment(int codigo, const std::string& importe) {
  return R"({"codigoTipoPago":)" + std::to_string(codigo) + R"(,"codigoMoneda":"986","importe":)" +
         importe + R"(,"cotizacion":1})";
}

struct ExpectedDocument {
  std::string fecha = "2026-12-07T10:11:12.000-0300";
  std::string numero;
  std::string descuento = "0", recargo = "0", total;
  bool cancelacion = false;
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
           (cancelacion ? "true" : "false") +
           R"(,"documentoCliente":null,"codigoCanalVenta":1,"descripcionCanalVenta":")" +
           descricao + R"(","detalles":)" + join(detalles) + R"(,"pagos":)" + join(pagos) + "}]";
  }
};

class MovementFixture : public StoreFixture {
 protected:
  // Sales cursor 1000 (no sale of the tests is new), cancellation cursor 40, start date
  // 2026-12-01, interval 7 s.
  void SetUp() override {
    StoreFixture::SetUp();
    if (IsSkipped()) return;
    CreateStore();
    platform_.Start(0);
    Sql({"insert into produtos (codigo, produto) values ('7891000100103', 'DIPIRONA 500MG 10 CP')",
         "insert into padrao (codigo, cgc, zentrovia_usuario, zentrovia_senha, zentrovia_url1, "
         "zentrovia_idempresa, zentrovia_idlocal, zentrovia_intervalo, zentrovia_datainicio, "
         "zentrovia_ultvenda, zentrovia_ultcancelamento, zentrovia_ultcaixa, "
         "zentrovia_verificapromo, zentrovia_verificareenvio) values (1, '12.345.678/0001-90', "
         "'zentrovia', 'zentrovia', '" +
             platform_.BaseUrl() +
             "', '7', '3', 7, '2026-12-01', 1000, 40, '2026-12-09', "
             "'2026-12-09 14:00:00', '2026-12-09 14:00:00')"});
  }

  void ConnectOk() {
    Connect();
    ASSERT_TRUE(Service().DbConnected());
    ASSERT_EQ(Service().Settings().zentrovia_url1, platform_.BaseUrl());
  }

  // Posts of movement documents (closings excluded).
  std::vector<fake::RecordedRequest> MovementPosts() const { return Posts("/movimientos/"); }
  std::vector<fake::RecordedRequest> ClosingPosts() const { return Posts("/cierresDiarios/"); }

  static std::string MovementPath(const std::string& till) {
    return "/api-minoristas/api/v2/minoristas/7/locales/3/cajas/" + till + "/movimientos/lotes";
  }

  fake::FakePlatform platform_;

 private:
  std::vector<fake::RecordedRequest> Posts(const std::string& kind) const {
    std::vector<fake::RecordedRequest> out;
    for (auto& r : platform_.Requests())
      if (r.method == "POST" && r.path.find(kind) != std::string::npos) out.push_back(r);
    return out;
  }
};

}  // namespace zv::test
