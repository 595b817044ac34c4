// EnviarVendasZentrovia: posts the new sales of the store one after the other (jobs/drain.h),
// moving the sales cursor past each.

#include "movements/sales_upload.h"

#include <exception>
#include <string_view>

#include "base/errors.h"
#include "jobs/data_error.h"
#include "jobs/drain.h"
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

bool MontaDocumentoOuPassa(JobContext& ctx, MovementDocument& doc,
                           const std::string& error_prefix) {
  try {
    if (doc.data_error) std::rethrow_exception(doc.data_error);
    MontaDocumentoVenda(ctx, doc);
    return false;
  } catch (const std::exception& e) {
    if (!IsDataError(e)) throw;
    // The sale cannot be expressed as a document: it is posted empty and passed over, so one
    // broken sale never holds back the ones after it.
    const auto& own = static_cast<const Exception&>(e);
    doc.batch.clear();
    doc.Free();
    ctx.DoSaveLog(doc.batch);
    ctx.DoSaveLog(error_prefix + own.kind() + "\r\n" + "Mensagem: " + e.what());
    return true;
  }
}

int64_t CountPendingSales(TStoreQuery& q, const IntegrationSettings& s) {
  const std::string_view next = movement_sql::kNextSaleStatement;
  q.ClearSQL();
  q.AddSQL("select count(distinct v.venda) as pendentes" +
           std::string(next.substr(next.find(" from "))));
  q.ParamByName("zentrovia_ultvenda").AsInteger(s.zentrovia_ultvenda);
  q.ParamByName("datainicio").AsDate(s.zentrovia_datainicio);
  q.Prepare();
  q.Open();
  const int64_t n = q.FieldByName("pendentes").AsInteger();
  q.ClearSQL();
  return n;
}

// One sale: answers false when none waits.
static bool EnviaProximaVenda(JobContext& ctx) {
  ctx.store.Reopen();

  TStoreQuery& q1 = ctx.store.StoreQuery1();
  q1.ClearSQL();
  q1.AddSQL(kNextSaleOrdered);
  q1.ParamByName("zentrovia_ultvenda").AsInteger(ctx.settings.zentrovia_ultvenda);
  q1.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q1.Prepare();
  q1.Open();
  const int64_t venda = q1.FieldByName("venda").AsInteger();

  if (venda <= 0) return false;

  MovementDocument doc;
  PreparaDocumentoVenda(ctx, venda, doc);

  const bool passed_over = MontaDocumentoOuPassa(ctx, doc, "Erro: ");

  ctx.platform.RequestBody = doc.batch;
  const TZentrovRetornos retorno = ctx.platform.postEnviarVenda();
  LogAnswerAndAdvance(ctx, retorno, "[Venda= " + doc.numero + "]", passed_over, [&] {
    ctx.settings.zentrovia_ultvenda = venda;
    q1.ClearSQL();
    q1.AddSQL(movement_sql::kSaleCursorUpdate);
    q1.ParamByName("venda").AsInteger(venda);
    q1.Prepare();
    q1.ExecSQL();
  });
  // The detail and payment objects go with `doc` on every way out.
  return true;
}

void EnviarVendasZentrovia(JobContext& ctx) {
  const UploadTimerGuard timer_guard(ctx);
  if (DrainBacklog(ctx, [&] { return EnviaProximaVenda(ctx); }) == 0) EnviarVendasCanceladas(ctx);
}

}  // namespace zv
