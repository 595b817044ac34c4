#pragma once
// What the closing tests share: a store whose days are counted back from the store server's
// own date (the closing statements compare with the server's CURRENT_DATE, so fixed dates
// would stop working as the calendar moves), the fake platform, and readers for what the
// platform received.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/datetime.h"
#include "fake-platform/fake_platform.h"
#include "support/store_fixture.h"

namespace zv::test {

// One row of `vendas`. Amounts, `terminal`, `cancelamento` and `codigo` are SQL literals
// ("NULL" allowed).
struct SaleRow {
  SaleRow(int venda, int seq, DateTime data, std::string total, std::string automatico,
          std::string terminal, std::string cancelamento = "NULL",
          std::string codigo = "'7891000100103'")
      : venda(venda),
        seq(seq),
        data(data),
        total(std::move(total)),
        automatico(std::move(automatico)),
        terminal(std::move(terminal)),
        cancelamento(std::move(cancelamento)),
        codigo(std::move(codigo)) {}
  int venda;
  int seq;
  DateTime data;
  std::string total;       // precototal
  std::string automatico;  // precoautomatico
  std::string terminal;
  std::string cancelamento;
  std::string codigo;
};

inline std::string SqlDate(DateTime d) {
  const DateParts p = d.Parts();
  char buf[16];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d'", p.year, p.month, p.day);
  return buf;
}

inline std::string IsoDay(DateTime d) {
  const std::string quoted = SqlDate(d);
  return quoted.substr(1, quoted.size() - 2);
}

inline std::string Insert(const SaleRow& r) {
  return "insert into vendas (venda, sequencial, data, hora, cancelamento, codigoproduto, "
         "precounitario, quantidade, subtotal, desconto, precototal, precoautomatico, "
         "numeroserie, numerocoo, terminal) values (" +
         std::to_string(r.venda) + ", " + std::to_string(r.seq) + ", " + SqlDate(r.data) +
         ", '10:00:00', " + r.cancelamento + ", " + r.codigo + ", " + r.total + ", 1, " + r.total +
         ", 0, " + r.total + ", " + r.automatico + ", 'NAO FISCAL', " + std::to_string(r.venda) +
         ", " + r.terminal + ")";
}

// A closing document as the platform must receive it.
inline std::string Closing(const std::string& liquida, const std::string& cancelaciones,
                           int movimientos, DateTime day, int n_cancelaciones) {
  return R"([{"montoVentaLiquida": )" + liquida + R"(, "montoCancelaciones": )" + cancelaciones +
         R"(, "cantidadMovimientos": )" + std::to_string(movimientos) + R"(, "fechaVentas": ")" +
         IsoDay(day) + R"(", "cantidadCancelaciones": )" + std::to_string(n_cancelaciones) + " }]";
}

inline std::string Partial(const std::string& amount, DateTime day, int n) {
  return R"([{"montoVentaLiquida": -)" + amount + R"(, "montoCancelaciones": )" + amount +
         R"(, "cantidadMovimientos": 0 , "fechaVentas": ")" + IsoDay(day) +
         R"(", "cantidadCancelaciones": )" + std::to_string(n) + " }]";
}

class ClosingsFixture : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    if (IsSkipped()) return;
    CreateStore();
    platform_.Start(0);
    const std::string server_day = Value("select current_date from rdb$database");
    ASSERT_EQ(server_day.size(), 10u) << server_day;
    today =
        DateTime::FromParts(std::stoi(server_day.substr(0, 4)), std::stoi(server_day.substr(5, 2)),
                            std::stoi(server_day.substr(8, 2)));
    clock.Set(today.AddSeconds(10 * 3600));
  }

  // The settings row: cursor and start date as SQL literals, the resend poll done today.
  void Settings(const std::string& ultcaixa, const std::string& datainicio,
                const std::string& verificareenvio = "current_timestamp",
                const std::string& ultvenda = "0") {
    Sql({"insert into produtos (codigo, produto) values ('7891000100103', 'DIPIRONA')",
         "insert into padrao (codigo, cgc, zentrovia_usuario, zentrovia_senha, zentrovia_url1, "
         "zentrovia_idempresa, zentrovia_idlocal, zentrovia_intervalo, zentrovia_datainicio, "
         "zentrovia_ultvenda, zentrovia_ultcancelamento, zentrovia_ultcaixa, "
         "zentrovia_verificapromo, zentrovia_verificareenvio) values (1, '12.345.678/0001-90', "
         "'zentrovia', 'zentrovia', '" +
             platform_.BaseUrl() + "', '7', '3', 7, " + datainicio + ", " + ultvenda + ", 0, " +
             ultcaixa + ", current_timestamp, " + verificareenvio + ")"});
  }

  void ConnectOk() {
    Connect();
    ASSERT_TRUE(Service().DbConnected());
    ASSERT_EQ(Service().Settings().zentrovia_url1, platform_.BaseUrl());
  }

  void Rows(const std::vector<SaleRow>& rows) {
    std::vector<std::string> sql;
    for (const SaleRow& r : rows) sql.push_back(Insert(r));
    Sql(sql);
  }

  struct Post {
    std::string till;
    std::string body;
    bool operator==(const Post&) const = default;
  };
  friend std::ostream& operator<<(std::ostream& os, const Post& p) {
    return os << "till " << p.till << ": " << p.body;
  }

  // The closing posts received, with the till of their address.
  std::vector<Post> ClosingPosts() const {
    std::vector<Post> out;
    const std::string tail = "/cierresDiarios/lotes";
    for (const auto& r : platform_.Requests()) {
      if (r.method != "POST" || r.path.size() < tail.size() ||
          r.path.compare(r.path.size() - tail.size(), tail.size(), tail) != 0)
        continue;
      const std::string head = r.path.substr(0, r.path.size() - tail.size());
      out.push_back({head.substr(head.rfind('/') + 1), r.body});
    }
    return out;
  }

  size_t CountRequests(const std::string& method, const std::string& path_part) const {
    size_t n = 0;
    for (const auto& r : platform_.Requests())
      n += r.method == method && r.path.find(path_part) != std::string::npos;
    return n;
  }

  // The log's last n messages, batch ids written "Ok:#" (the fake numbers every accepted post).
  std::vector<std::string> LogTail(size_t n) const {
    const std::vector<std::string> log = LogMessages();
    std::vector<std::string> tail(log.end() - static_cast<long>(std::min(n, log.size())),
                                  log.end());
    static const std::regex batch(R"(\]Ok:\d+$)");
    for (std::string& line : tail) line = std::regex_replace(line, batch, "]Ok:#");
    return tail;
  }

  // A day with three tills that sold, one till whose only sale was wholly cancelled, and
  // NULL-till rows of every kind; sales numbered from `v`.
  void DayOfThreeTills(DateTime d, int v) {
    const std::string cancelled = SqlDate(d);
    Rows({// Till 1: 1234.50 over two rows; a discount row never counts.
          {v, 1, d, "1000", "1000", "1"},
          {v, 2, d, "234.5", "234.5", "1"},
          {v, 3, d, "-5", "-5", "1", "NULL", "'XXDESCONTOXX'"},
          // NULL till: sold, partly cancelled and wholly cancelled.
          {v + 1, 1, d, "100", "100", "NULL"},
          {v + 2, 1, d, "20", "20", "NULL"},
          {v + 2, 2, d, "5", "5", "NULL", cancelled},
          {v + 3, 1, d, "40", "40", "NULL", cancelled},
          // Till 2: a price-0 row read from the automatic price, and a partly cancelled sale.
          {v + 4, 1, d, "0", "7.5", "2"},
          {v + 5, 1, d, "30", "30", "2"},
          {v + 5, 2, d, "12", "12", "2", cancelled},
          // Till 3: a sale worth 0 and a wholly cancelled one of two rows.
          {v + 6, 1, d, "0", "0", "3"},
          {v + 7, 1, d, "10", "10", "3", cancelled},
          {v + 7, 2, d, "5", "5", "3", cancelled},
          // Till 4: only a wholly cancelled sale.
          {v + 8, 1, d, "9", "9", "4", cancelled}});
  }

  std::string Cursor() { return Value("select zentrovia_ultcaixa from padrao"); }
  std::string Dated(DateTime d) const { return d.ToDateText('/'); }

  DateTime today;
  fake::FakePlatform platform_;
};

}  // namespace zv::test
