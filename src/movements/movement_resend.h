#pragma once
// The movement resend: sales of a past day posted again at the platform's request.

#include <cstdint>
#include <functional>
#include <string>

#include "base/datetime.h"
#include "jobs/job_context.h"

namespace zv {

// ReenviaVendaZentrovia: the sales upload reduced to one given sale, without cursor. Raises
// when the post gets no verdict. `on_done` runs once the sale needs no further post (a
// verdict, a document passed over as unbuildable, a sale before the start date), also when
// the log fails afterwards.
void ReenviaVendaZentrovia(JobContext& ctx, int64_t Venda,
                           const std::function<void()>& on_done = {});

// CarregaVendasReenvioZentrovia: every sale of the day of `DataVenda`, of till `Terminal`
// ("" for every till), lowest sale first, through ReenviaVendaZentrovia. With a
// `progress_key` (a resend poll's request) the sales already done under it in an earlier run
// (ctx.resend_progress) are not posted again, and each one done is noted.
void CarregaVendasReenvioZentrovia(JobContext& ctx, DateTime DataVenda, const std::string& Terminal,
                                   const std::string& progress_key = {});

// A till named by the platform: a whole number, nothing else ("2.0" or "1x" name no till);
// EConversionError otherwise.
int64_t TillNumber(const std::string& text);

}  // namespace zv
