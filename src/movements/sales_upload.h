#pragma once
// The movement jobs: the sales upload and the document build of one sale.

#include <cstdint>
#include <string>

#include "jobs/job_context.h"
#include "movements/movement_document.h"

namespace zv {

// EnviarVendasZentrovia: posts the next new sale above the sales cursor and the ones waiting
// after it, for up to ctx.options.drain_s seconds (jobs/drain.h); when none waits, runs the
// cancellation upload.
void EnviarVendasZentrovia(JobContext& ctx);

// The movement document of one sale. The preparing statements run unguarded; the build that
// follows is guarded by the calling job.
void PreparaDocumentoVenda(JobContext& ctx, int64_t Venda, MovementDocument& Doc);
void MontaDocumentoVenda(JobContext& ctx, MovementDocument& Doc);

// MontaDocumentoVenda under the guard of the posting jobs: a data error leaves the batch
// empty and logs it with `error_prefix` ("Erro: ", "Erro Reenvio Venda: "), and the call
// answers true (the sale is passed over); any other error goes to the caller.
bool MontaDocumentoOuPassa(JobContext& ctx, MovementDocument& doc, const std::string& error_prefix);

// Sales above the sales cursor and on or after the start date: what the sales upload has
// still to send, counted with the next-sale statement's own conditions. Runs on q.
int64_t CountPendingSales(TStoreQuery& q, const IntegrationSettings& s);

}  // namespace zv
