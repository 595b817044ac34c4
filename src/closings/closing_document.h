#pragma once
// The daily closing document: one till's totals of one day, as the platform's closing
// endpoint takes them. Written by concatenation, with the platform's own spacing.

#include <cstdint>
#include <optional>
#include <string>

#include "base/datetime.h"
#include "base/money.h"
#include "store/store_query.h"

namespace zv {

// VALOR and QUANTIDADE of one closing statement's row.
struct ClosingTotals {
  Money valor;
  int64_t quantidade = 0;
};

// Runs one closing statement on q with the day bound as a date to `day_param` and, when
// given, TERMINAL bound as an integer; VALOR (NULL reads 0) and QUANTIDADE of its row, or
// nothing without a row. q is closed afterwards.
std::optional<ClosingTotals> OpenClosingTotals(TStoreQuery& q, const char* statement,
                                               const char* day_param, DateTime day,
                                               const int64_t* till);

// The pseudo-till that carries a day's partial cancellations.
inline constexpr const char* kPartialCancellationTill = "9999";

// [{"montoVentaLiquida": 512.40, "montoCancelaciones": 12.00, "cantidadMovimientos": 87,
//   "fechaVentas": "2026-12-05", "cantidadCancelaciones": 2 }] on one line.
std::string ClosingDocument(Money montoVentaLiquida, Money montoCancelaciones,
                            int64_t cantidadMovimientos, DateTime fechaVentas,
                            int64_t cantidadCancelaciones);

// The "9999" document: the day's partial cancellations taken off the net sales and counted as
// cancellations; no movements, written "0 ," as the platform has always received it.
std::string PartialCancellationDocument(Money partial, int64_t count, DateTime fechaVentas);

}  // namespace zv
