// EnviarVendasZentrovia: posts the new sales of the store one after the other (jobs/drain.h),
// moving the sales cursor past each.

#include "movements/sales_upload.h"

#include <exception>

#include "base/errors.h"
#include "jobs/drain.h"
#include "jobs/job_rules.h"
#include "movements/cancellation_upload.h"
#include "movements/movement_sql.h"
#include "store/store_query.h"

namespace zv {

namespace {

// The candidate must be the lowest qualifying sale: the cursor only grows, and without an
// ordering Firebird returns the first qualifying row in storage order (index or not), so a
// sale stored after a higher-numbered one would be passed over for ever.
const std::string kNextSaleOrdered =
    std::string(movement_sql::kNextSaleStatement) + " order by v.venda";

}  // namespace

bool BuildSaleDocumentOrPassOver(JobContext& ctx, MovementDocument& doc,
                                 const std::string& error_prefix) {
  const bool passed_over = BuildOrPassOver(ctx, doc.batch, error_prefix, [&] {
    if (doc.data_error) std::rethrow_exception(doc.data_error);
    BuildSaleDocument(ctx, doc);
  });
  if (passed_over) doc.Free();
  return passed_over;
}

int64_t CountPendingSales(TStoreQuery& q, const IntegrationSettings& s) {
  return movement::CountWithConditionsOf(
      q, movement_sql::kNextSaleStatement, "count(distinct v.venda)", [&](TStoreQuery& query) {
        movement::BindNextRecord(query, "zentrovia_ultvenda", s.zentrovia_ultvenda,
                                 s.zentrovia_datainicio);
      });
}

// One sale: answers false when none waits.
static bool EnviaProximaVenda(JobContext& ctx) {
  ctx.store.Reopen();

  TStoreQuery& q1 = ctx.store.StoreQuery1();
  movement::OpenNextRecord(q1, kNextSaleOrdered, "zentrovia_ultvenda",
                           ctx.settings.zentrovia_ultvenda, ctx.settings.zentrovia_datainicio);
  const int64_t venda = q1.FieldByName("venda").AsInteger();

  if (venda <= 0) return false;

  MovementDocument doc;
  PrepareSaleDocument(ctx, venda, doc);

  const bool passed_over = BuildSaleDocumentOrPassOver(ctx, doc, "Erro: ");

  ctx.platform.RequestBody = doc.batch;
  const TZentrovRetornos retorno = ctx.platform.postEnviarVenda();
  LogAnswerAndAdvance(ctx, PostedKind::Sale, retorno, "[Venda= " + doc.numero + "]", passed_over,
                      [&] {
                        MoveCursor(ctx, q1, movement_sql::kSaleCursorUpdate, "venda",
                                   "zentrovia_ultvenda", venda, ctx.settings.zentrovia_ultvenda);
                      });
  // The detail and payment objects go with `doc` on every way out.
  return true;
}

void EnviarVendasZentrovia(JobContext& ctx) {
  const UploadTimerGuard timer_guard(ctx);
  if (DrainBacklog(ctx, [&] { return EnviaProximaVenda(ctx); }) == 0) EnviarVendasCanceladas(ctx);
}

}  // namespace zv
