#pragma once
// The statements of the closing jobs, each kept whole on one line so that it can be compared
// with the point-of-sale system's own queries at a glance. Every day is bound as a DATE.

namespace zv::closings_sql {

// clang-format off

// One row per till that has uncancelled rows on the day (a NULL till counts as till 1).
inline constexpr const char* kDaySalesStatement =
    "SELECT V.DATA, SUM(IIF(V.PRECOTOTAL = 0.00, V.PRECOAUTOMATICO, V.PRECOTOTAL)) AS VALOR, COUNT(DISTINCT(V.VENDA)) AS QUANTIDADE, COALESCE(V.TERMINAL, 1) AS TERMINAL FROM VENDAS V WHERE V.CANCELAMENTO IS NULL AND V.CODIGOPRODUTO NOT IN ('XXDESCONTOXX','XXACRESCIMOXX','XXENTREGAXX','RECARGACELULAR') AND V.DATA < CURRENT_DATE AND V.DATA = :ZENTROVIA_ULTCAIXA GROUP BY 1, 4";

// The till's sales in which every row is cancelled.
inline constexpr const char* kFullCancellationStatement =
    "SELECT V.DATA, SUM(IIF(V.PRECOTOTAL = 0.00, V.PRECOAUTOMATICO, V.PRECOTOTAL)) AS VALOR, COUNT(DISTINCT(V.VENDA)) AS QUANTIDADE FROM VENDAS V WHERE V.CANCELAMENTO IS NOT NULL AND V.CODIGOPRODUTO NOT IN ('XXDESCONTOXX','XXACRESCIMOXX','XXENTREGAXX','RECARGACELULAR') AND V.DATA < CURRENT_DATE AND V.DATA = :ZENTROVIA_ULTCAIXA AND V.TERMINAL = :TERMINAL AND NOT EXISTS ( SELECT 1 FROM VENDAS X WHERE X.VENDA = V.VENDA AND X.CANCELAMENTO IS NULL) GROUP BY 1";

// The till's cancelled rows of sales that keep an uncancelled row. The daily closing matches
// the till as its sales statement does, so that a NULL-till partial row is added back to
// till 1 as well as taken off by the "9999" document.
inline constexpr const char* kClosingTillPartialStatement =
    "SELECT V.DATA,     SUM(IIF(V.PRECOTOTAL = 0.00, V.PRECOAUTOMATICO, V.PRECOTOTAL)) AS VALOR,     COUNT(DISTINCT(V.VENDA)) AS QUANTIDADE     FROM VENDAS V     WHERE V.CANCELAMENTO IS NOT NULL     AND V.CODIGOPRODUTO NOT IN ('XXDESCONTOXX','XXACRESCIMOXX','XXENTREGAXX','RECARGACELULAR')     AND V.DATA < CURRENT_DATE     AND V.DATA = :DATACAIXA     AND COALESCE(V.TERMINAL, 1) = :TERMINAL     AND EXISTS (     SELECT 1     FROM VENDAS X     WHERE X.VENDA = V.VENDA     AND X.CANCELAMENTO IS NULL)     GROUP BY 1";

inline constexpr const char* kClosedDayUpdate =
    "update padrao set zentrovia_ultcaixa = :zentrovia_ultcaixa where codigo is not null and coalesce(cgc, '') <> '' ";

inline constexpr const char* kEmptyDayUpdate =
    "update padrao set zentrovia_ultcaixa = :zentrovia_ultcaixa where codigo is not null and coalesce(cgc, '') <> ''";

// Whether the store server has finished a day: a day without rows is passed over only then.
inline constexpr const char* kServerDateStatement =
    "select current_date from rdb$database";

// The closing resend of one till. It tests the till as the daily closing does (a NULL till
// is till 1 in the sales and their partly cancelled rows, kClosingTillPartialStatement; the
// full cancellations match the till itself), so that a resent day adds up to the day closed.
inline constexpr const char* kTillSalesStatement =
    "SELECT V.DATA,SUM(IIF(V.PRECOTOTAL = 0.00, V.PRECOAUTOMATICO, V.PRECOTOTAL)) AS VALOR, COUNT(DISTINCT(V.VENDA)) AS QUANTIDADE, COALESCE(V.TERMINAL, 1) AS TERMINAL FROM VENDAS V WHERE V.CANCELAMENTO IS NULL AND V.CODIGOPRODUTO NOT IN ('XXDESCONTOXX','XXACRESCIMOXX','XXENTREGAXX','RECARGACELULAR') AND V.DATA < CURRENT_DATE AND V.DATA = :DATACAIXA AND COALESCE(V.TERMINAL, 1) = :TERMINAL GROUP BY 1, 4";

inline constexpr const char* kResendFullCancellationStatement =
    "SELECT V.DATA, SUM(IIF(V.PRECOTOTAL = 0.00, V.PRECOAUTOMATICO, V.PRECOTOTAL)) AS VALOR, COUNT(DISTINCT(V.VENDA)) AS QUANTIDADE FROM VENDAS V WHERE V.CANCELAMENTO IS NOT NULL AND V.CODIGOPRODUTO NOT IN ('XXDESCONTOXX','XXACRESCIMOXX','XXENTREGAXX','RECARGACELULAR') AND V.DATA < CURRENT_DATE AND V.DATA = :DATACAIXA AND V.TERMINAL = :TERMINAL AND NOT EXISTS ( SELECT 1 FROM VENDAS X WHERE X.VENDA = V.VENDA AND X.CANCELAMENTO IS NULL) GROUP BY 1";

// The day's partial cancellations over every till: the "9999" document.
inline constexpr const char* kDayPartialStatement =
    "SELECT V.DATA, SUM(IIF(V.PRECOTOTAL = 0.00, V.PRECOAUTOMATICO, V.PRECOTOTAL)) AS VALOR, COUNT(DISTINCT(V.VENDA)) AS QUANTIDADE FROM VENDAS V WHERE V.CANCELAMENTO IS NOT NULL AND V.CODIGOPRODUTO NOT IN ('XXDESCONTOXX','XXACRESCIMOXX','XXENTREGAXX','RECARGACELULAR') AND V.DATA < CURRENT_DATE AND V.DATA = :DATACAIXA AND EXISTS ( SELECT 1 FROM VENDAS X WHERE X.VENDA = V.VENDA AND X.CANCELAMENTO IS NULL) GROUP BY 1";

// Bound to the service's own clock, the one the cycle compares the poll time with.
inline constexpr const char* kResendPollUpdate =
    "update padrao p set p.zentrovia_verificareenvio = :agora";

// clang-format on

}  // namespace zv::closings_sql
