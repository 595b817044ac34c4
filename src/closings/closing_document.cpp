#include "closings/closing_document.h"

#include <cstdio>

namespace zv {

namespace {

std::string IsoDate(DateTime day) {
  const DateParts p = day.Parts();
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

}  // namespace

std::optional<ClosingTotals> OpenClosingTotals(TStoreQuery& q, const char* statement,
                                               const char* day_param, DateTime day,
                                               const int64_t* till) {
  q.ClearSQL();
  q.AddSQL(statement);
  q.ParamByName(day_param).AsDate(day);
  if (till) q.ParamByName("TERMINAL").AsInteger(*till);
  q.Prepare();
  q.Open();
  std::optional<ClosingTotals> t;
  if (!q.Eof())
    t = ClosingTotals{q.FieldByName("VALOR").AsMoney(), q.FieldByName("QUANTIDADE").AsInteger()};
  q.Close();
  return t;
}

std::string ClosingDocument(Money montoVentaLiquida, Money montoCancelaciones,
                            int64_t cantidadMovimientos, DateTime fechaVentas,
                            int64_t cantidadCancelaciones) {
  return "[{\"montoVentaLiquida\": " + montoVentaLiquida.ToFixed2() +
         ", \"montoCancelaciones\": " + montoCancelaciones.ToFixed2() +
         ", \"cantidadMovimientos\": " + std::to_string(cantidadMovimientos) +
         ", \"fechaVentas\": \"" + IsoDate(fechaVentas) +
         "\", \"cantidadCancelaciones\": " + std::to_string(cantidadCancelaciones) + " }]";
}

std::string PartialCancellationDocument(Money partial, int64_t count, DateTime fechaVentas) {
  return "[{\"montoVentaLiquida\": " + (-partial).ToFixed2() +
         ", \"montoCancelaciones\": " + partial.ToFixed2() +
         ", \"cantidadMovimientos\": 0 , \"fechaVentas\": \"" + IsoDate(fechaVentas) +
         "\", \"cantidadCancelaciones\": " + std::to_string(count) + " }]";
}

}  // namespace zv
