#pragma once
// The movement jobs: the sales upload and the document build of one sale.

#include <cstdint>
#include <string>

#include "jobs/job_context.h"
#include "movements/movement_document.h"

namespace zv {

// EnviarVendasZentrovia: posts the next new sale above the sales cursor and the ones waiting
// after it, for up to ctx.options.drain_s seconds (jobs/drain.h); when none waits, runs the
// cancellation upload. While the platform answers one sale of a drain, the next one is read
// from the store; it is sent only once the cursor has moved past the one before.
void EnviarVendasZentrovia(JobContext& ctx);

// The movement document of one sale. The preparing statements run unguarded; the build that
// follows is guarded by the calling job. Neither touches the platform client: the caller
// posts to the till the document names (`terminal`).
void PrepareSaleDocument(JobContext& ctx, int64_t Venda, MovementDocument& Doc);
void BuildSaleDocument(JobContext& ctx, MovementDocument& Doc);

// BuildSaleDocument under the guard of the posting jobs (BuildOrPassOver, jobs/job_rules.h):
// a data error, of the build or kept by the preparing statements, leaves the batch empty and
// logs it with `error_prefix` ("Erro: ", "Erro Reenvio Venda: "), and the call answers true
// (the sale is passed over); any other error goes to the caller.
bool BuildSaleDocumentOrPassOver(JobContext& ctx, MovementDocument& doc,
                                 const std::string& error_prefix);

// Sales above the sales cursor and on or after the start date: what the sales upload has
// still to send, counted with the next-sale statement's own conditions. Runs on q.
int64_t CountPendingSales(TStoreQuery& q, const IntegrationSettings& s);

}  // namespace zv
