#pragma once
// The rows the integration tests write into a store, as SQL statements for StoreFixture::Sql:
// the lines of a sale (`vendas`), its till record (`caixa`, or `caixacancelado` for a sale
// cancelled as a whole), the settings row (`padrao`) and products. Every member is an SQL
// literal ("NULL" allowed), so a test states exactly what the store holds:
//
//   Sql({test::ProductRow(test::kDipirona, test::kDipironaName),
//        test::SaleLine{.venda = 7, .seq = 2, .total = "8"}.Sql(),
//        test::TillRow{.venda = 7, .dinheiro = "18"}.Sql()});
//
// The defaults are those of MovementFixture: one line of product kDipirona worth 10, sold on
// 2026-12-07 at 10:11:12 on till 2 with document number 5001, paid in cash at sight.

#include <cstdio>
#include <string>
#include <vector>

#include "base/datetime.h"

namespace zv::test {

inline constexpr const char* kDipirona = "7891000100103";
inline constexpr const char* kDipironaName = "DIPIRONA 500MG 10 CP";

// 'yyyy-mm-dd' and 'yyyy-mm-dd hh:nn:ss', quoted.
inline std::string SqlDate(DateTime d) {
  const DateParts p = d.Parts();
  char buf[16];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d'", p.year, p.month, p.day);
  return buf;
}
inline std::string SqlStamp(DateTime t) {
  const DateParts p = t.Parts();
  char buf[32];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d'", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}
inline std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

// When a sale line was sold unless it says otherwise: a type with the literals kData and kHora.
struct StoreDay {
  static constexpr const char* kData = "'2026-12-07'";
  static constexpr const char* kHora = "'10:11:12'";
};

// One line of a sale: a row of `vendas`. A test whose sales all fall on another day names that
// day once, as `using Line = test::SaleLineOn<MyDay>;`.
template <class Day>
struct SaleLineOn {
  int venda = 0;
  int seq = 1;
  std::string data = Day::kData;
  std::string hora = Day::kHora;
  std::string cliente = "NULL";
  std::string cancelamento = "NULL";
  std::string codcanc = "NULL";
  std::string codigo = "'7891000100103'";
  std::string produto = "NULL";
  std::string unit = "10", qtd = "1", subtotal = "10", desconto = "0", total = "10",
              automatico = "10";
  std::string serie = "'ECF-01'";
  std::string coo = "5001";
  std::string terminal = "2";

  std::string Sql() const {
    return "insert into vendas (venda, sequencial, data, hora, codigocliente, cancelamento, "
           "codigocancelamento, codigoproduto, produto, precounitario, quantidade, subtotal, "
           "desconto, precototal, precoautomatico, numeroserie, numerocoo, terminal) values (" +
           std::to_string(venda) + ", " + std::to_string(seq) + ", " + data + ", " + hora + ", " +
           cliente + ", " + cancelamento + ", " + codcanc + ", " + codigo + ", " + produto + ", " +
           unit + ", " + qtd + ", " + subtotal + ", " + desconto + ", " + total + ", " +
           automatico + ", " + serie + ", " + coo + ", " + terminal + ")";
  }
};
using SaleLine = SaleLineOn<StoreDay>;

// The till record of a sale: its nature and what each means of payment took.
struct TillRow {
  int venda = 0;
  std::string natureza = "Venda a Vista";
  std::string dinheiro = "0", cheque = "0", cartao = "0", carteira = "0", valetroca = "0",
              ecommerce = "0", troco = "0";
  std::string table = "caixa";  // "caixacancelado": the sale was cancelled as a whole

  std::string Sql() const {
    return "insert into " + table +
           " (codigovenda, naturezadaoperacao, dinheiro, cheque, cartao, carteiradigital, "
           "valetroca, ecommerce, troco, total, numerocoo) values (" +
           std::to_string(venda) + ", " + Quoted(natureza) + ", " + dinheiro + ", " + cheque +
           ", " + cartao + ", " + carteira + ", " + valetroca + ", " + ecommerce + ", " + troco +
           ", 0, 5001)";
  }
};

// The settings row. A member left empty leaves its column out of the insert (NULL in the
// store). PlatformSettings gives the row the jobs work with.
struct SettingsRow {
  std::string codigo = "1";
  std::string cgc = "'12.345.678/0001-90'";
  std::string usuario = "";
  std::string senha = "";
  std::string url1 = "";
  std::string idempresa = "";
  std::string idlocal = "";
  std::string intervalo = "";
  std::string datainicio = "";
  std::string ultvenda = "";
  std::string ultcancelamento = "";
  std::string ultcaixa = "";
  std::string verificapromo = "";
  std::string verificareenvio = "";

  std::string Sql() const {
    std::string columns, values;
    auto add = [&](const char* column, const std::string& value) {
      if (value.empty()) return;
      columns += (columns.empty() ? "" : ", ") + std::string(column);
      values += (values.empty() ? "" : ", ") + value;
    };
    add("codigo", codigo);
    add("cgc", cgc);
    add("zentrovia_usuario", usuario);
    add("zentrovia_senha", senha);
    add("zentrovia_url1", url1);
    add("zentrovia_idempresa", idempresa);
    add("zentrovia_idlocal", idlocal);
    add("zentrovia_intervalo", intervalo);
    add("zentrovia_datainicio", datainicio);
    add("zentrovia_ultvenda", ultvenda);
    add("zentrovia_ultcancelamento", ultcancelamento);
    add("zentrovia_ultcaixa", ultcaixa);
    add("zentrovia_verificapromo", verificapromo);
    add("zentrovia_verificareenvio", verificareenvio);
    return "insert into padrao (" + columns + ") values (" + values + ")";
  }
};

// Account zentrovia/zentrovia, company 7, store 3, on the platform at `url`, every 7 s; start
// date 2026-12-01, sales cursor 1000 and cancellation cursor 40 (no sale of the defaults is
// new), closings done up to 2026-12-09, promotions and resend requests polled at 14:00 that day.
inline SettingsRow PlatformSettings(const std::string& url) {
  return {.usuario = "'zentrovia'",
          .senha = "'zentrovia'",
          .url1 = Quoted(url),
          .idempresa = "'7'",
          .idlocal = "'3'",
          .intervalo = "7",
          .datainicio = "'2026-12-01'",
          .ultvenda = "1000",
          .ultcancelamento = "40",
          .ultcaixa = "'2026-12-09'",
          .verificapromo = "'2026-12-09 14:00:00'",
          .verificareenvio = "'2026-12-09 14:00:00'"};
}

// A product; UTF-8 text (stored as WIN1252).
inline std::string ProductRow(const std::string& codigo, const std::string& produto) {
  return "insert into produtos (codigo, produto) values (" + Quoted(codigo) + ", " +
         Quoted(produto) + ")";
}

}  // namespace zv::test
