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
#include "support/platform_store_fixture.h"
#include "support/store_rows.h"

namespace zv::test {

// A line of a sale as the closing tests write them: one unit sold on `data` at 10:00 for
// `total` (precounitario, subtotal and precototal), document number `venda`, series
// 'NAO FISCAL'. Amounts, `terminal`, `cancelamento` and `codigo` are SQL literals ("NULL"
// allowed).
struct DayLine : SaleLine {
  DayLine(int venda, int seq, DateTime data, const std::string& total,
          const std::string& automatico, const std::string& terminal,
          const std::string& cancelamento = "NULL", const std::string& codigo = "'7891000100103'")
      : SaleLine{.venda = venda,
                 .seq = seq,
                 .data = SqlDate(data),
                 .hora = "'10:00:00'",
                 .cancelamento = cancelamento,
                 .codigo = codigo,
                 .unit = total,
                 .subtotal = total,
                 .total = total,
                 .automatico = automatico,
                 .serie = "'NAO FISCAL'",
                 .coo = std::to_string(venda),
                 .terminal = terminal} {}
};

inline std::string IsoDay(DateTime d) {
  const std::string quoted = SqlDate(d);
  return quoted.substr(1, quoted.size() - 2);
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

class ClosingsFixture : public PlatformStoreFixture {
 protected:
  void SetUp() override {
    PlatformStoreFixture::SetUp();
    if (StoreMissing()) return;
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
    SettingsRow row = PlatformSettings(platform_.BaseUrl());
    row.datainicio = datainicio;
    row.ultvenda = ultvenda;
    row.ultcancelamento = "0";
    row.ultcaixa = ultcaixa;
    row.verificapromo = "current_timestamp";
    row.verificareenvio = verificareenvio;
    Sql({ProductRow(kDipirona, "DIPIRONA"), row.Sql()});
  }

  void Rows(const std::vector<DayLine>& rows) {
    std::vector<std::string> sql;
    for (const DayLine& r : rows) sql.push_back(r.Sql());
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
};

}  // namespace zv::test
