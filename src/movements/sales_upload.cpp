// EnviarVendasZentrovia: posts the new sales of the store one after the other (jobs/drain.h),
// moving the sales cursor past each.

#include "movements/sales_upload.h"

#include <exception>
#include <memory>

#include "base/errors.h"
#include "jobs/background_call.h"
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

namespace {

// What a drain carries from one sale to the next: the thread that posts, and the next sale,
// read from the store while the platform answered the one before.
struct SalesDrain {
  BackgroundCall post;
  std::unique_ptr<MovementDocument> ahead;  // none: nothing read ahead
  int64_t ahead_after = 0;                  // the sale the one read ahead follows
};

// The lowest sale above `after` waiting to be sent (0: none), on a connection opened afresh;
// StoreQuery1 rests on its row.
int64_t OpenNextSale(JobContext& ctx, int64_t after) {
  ctx.store.Reopen();
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  movement::OpenNextRecord(q1, kNextSaleOrdered, "zentrovia_ultvenda", after,
                           ctx.settings.zentrovia_datainicio);
  return q1.FieldByName("venda").AsInteger();
}

// Reads and builds the sale after `venda` into `drain`, for the next call to send once the
// cursor rests on `venda`. Reads only: nothing is logged, posted or moved here. A sale that
// cannot be built, a store error or anything else leaves nothing read ahead, and the next
// call reads that sale again in its own turn, where the error is met and reported as
// always.
void ReadNextSaleAhead(JobContext& ctx, int64_t venda, SalesDrain& drain) {
  drain.ahead.reset();
  try {
    const int64_t next = OpenNextSale(ctx, venda);
    if (next <= 0) return;
    auto doc = std::make_unique<MovementDocument>();
    PrepareSaleDocument(ctx, next, *doc);
    if (doc->data_error) return;
    BuildSaleDocument(ctx, *doc);
    drain.ahead = std::move(doc);
    drain.ahead_after = venda;
  } catch (...) {
    // The connection is made afresh for the cursor update, in case the error left it
    // unusable; should that fail too, the update raises the store's error.
    try {
      ctx.store.Reopen();
    } catch (...) {
    }
  }
}

}  // namespace

// One sale: answers false when none waits. With `drain`, the next sale is read while the
// platform answers this one.
static bool EnviaProximaVenda(JobContext& ctx, SalesDrain* drain) {
  int64_t venda = 0;
  std::unique_ptr<MovementDocument> doc;
  bool passed_over = false;
  if (drain && drain->ahead && drain->ahead_after == ctx.settings.zentrovia_ultvenda) {
    doc = std::move(drain->ahead);
    venda = doc->venda;
  } else {
    if (drain) drain->ahead.reset();
    venda = OpenNextSale(ctx, ctx.settings.zentrovia_ultvenda);
    if (venda <= 0) return false;
    doc = std::make_unique<MovementDocument>();
    PrepareSaleDocument(ctx, venda, *doc);
    passed_over = BuildSaleDocumentOrPassOver(ctx, *doc, "Erro: ");
  }

  ctx.platform.RequestBody = doc->batch;
  ctx.platform.RequestTill = doc->terminal;
  TZentrovRetornos retorno;
  if (drain) {
    // The platform client is the posting thread's until Wait; this thread keeps to the store.
    drain->post.Start([&] { retorno = ctx.platform.postEnviarVenda(); });
    ReadNextSaleAhead(ctx, venda, *drain);
    drain->post.Wait();
  } else {
    retorno = ctx.platform.postEnviarVenda();
  }
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  LogAnswerAndAdvance(ctx, PostedKind::Sale, retorno, "[Venda= " + doc->numero + "]", passed_over,
                      [&] {
                        MoveCursor(ctx, q1, movement_sql::kSaleCursorUpdate, "venda",
                                   "zentrovia_ultvenda", venda, ctx.settings.zentrovia_ultvenda);
                      });
  // The detail and payment objects go with `doc` on every way out.
  return true;
}

void EnviarVendasZentrovia(JobContext& ctx) {
  const UploadTimerGuard timer_guard(ctx);
  // One document per call (drain_s 0) has no next sale to read ahead.
  std::unique_ptr<SalesDrain> drain;
  if (ctx.options.drain_s > 0) drain = std::make_unique<SalesDrain>();
  if (DrainBacklog(ctx, [&] { return EnviaProximaVenda(ctx, drain.get()); }) == 0)
    EnviarVendasCanceladas(ctx);
}

}  // namespace zv
