#pragma once
// The movement resend: sales of a past day posted again at the platform's request.

#include <cstdint>
#include <string>

#include "base/datetime.h"
#include "jobs/job_context.h"

namespace zv {

// ReenviaVendaZentrovia: the sales upload reduced to one given sale, without cursor.
void ReenviaVendaZentrovia(JobContext& ctx, int64_t Venda);

// CarregaVendasReenvioZentrovia: every sale of the day of `DataVenda`, of till `Terminal`
// ("" for every till), through ReenviaVendaZentrovia.
void CarregaVendasReenvioZentrovia(JobContext& ctx, DateTime DataVenda,
                                   const std::string& Terminal);

}  // namespace zv
