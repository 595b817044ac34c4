// The movement resend: the sales of a past day posted again when the platform asks for them,
// each exactly as the sales upload builds it, without touching the sales cursor.

#include "movements/movement_resend.h"

#include <charconv>
#include <cstddef>
#include <exception>
#include <string>

#include "base/errors.h"
#include "movements/movement_document.h"
#include "movements/movement_sql.h"
#include "movements/sales_upload.h"
#include "store/store_query.h"

namespace zv {

int64_t TillNumber(const std::string& text) {
  const size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  bool digits = text.size() > sign;
  for (size_t i = sign; i < text.size(); ++i) digits = digits && text[i] >= '0' && text[i] <= '9';
  int64_t value = 0;
  // from_chars takes a minus sign but not a plus sign.
  const char* first = text.data() + (text.empty() || text[0] != '+' ? 0 : 1);
  const char* last = text.data() + text.size();
  if (!digits || std::from_chars(first, last, value).ec != std::errc())
    throw EConversionError("'" + text + "' is not a valid integer value");
  return value;
}

void ReenviaVendaZentrovia(JobContext& ctx, int64_t Venda, const std::function<void()>& on_done) {
  MovementDocument doc;
  PrepareSaleDocument(ctx, Venda, doc);
  if (ctx.store.StoreQuery1().IsEmpty()) {
    // Only lines on or after the start date may be shown: without one the document would be
    // empty, dated 1899 and addressed to no till.
    if (on_done) on_done();
    ctx.DoSaveLog("[REENVIO-VENDA= " + std::to_string(Venda) +
                  "]Venda anterior à data de início; não reenviada");
    return;
  }

  const bool passed_over = BuildSaleDocumentOrPassOver(ctx, doc, "Erro Reenvio Venda: ");

  ctx.platform.RequestBody = doc.batch;
  ctx.platform.RequestTill = doc.terminal;
  const TZentrovRetornos retorno = ctx.platform.postEnviarVenda();
  // No cursor to move; an answer that is no verdict on the document still raises, so the
  // rest of the day is not posted into a channel that cannot take it.
  LogAnswerAndAdvance(ctx, PostedKind::Resend, retorno, "[REENVIO-VENDA= " + doc.numero + "]",
                      passed_over, [&] {
                        if (on_done) on_done();
                      });
}

void CarregaVendasReenvioZentrovia(JobContext& ctx, DateTime DataVenda, const std::string& Terminal,
                                   const std::string& progress_key) {
  ctx.timer.Disable();
  // The sales are walked here while each resend runs its own statements on the other two
  // queries.
  TStoreQuery& q3 = ctx.store.StoreQuery3();
  q3.ClearSQL();
  q3.AddSQL(movement_sql::kResendSalesStatement);
  if (!Terminal.empty()) q3.AddSQL(movement_sql::kResendSalesTillCondition);
  // In sale order, as the sales upload sent them.
  q3.AddSQL(" order by 1");
  if (!Terminal.empty()) q3.ParamByName("terminal").AsInteger(TillNumber(Terminal));
  q3.ParamByName("datavenda").AsDate(DataVenda);
  q3.Prepare();
  q3.Open();
  for (; !q3.Eof(); q3.Next()) {
    if (ctx.StopRequested()) return;
    const int64_t venda = q3.FieldByName("venda").AsInteger();
    const std::string key = progress_key + "|venda " + std::to_string(venda);
    if (!progress_key.empty() && ctx.resend_progress.Done(key)) continue;
    ReenviaVendaZentrovia(ctx, venda, [&] {
      if (!progress_key.empty()) ctx.resend_progress.MarkDone(key);
    });
  }
  ctx.ReloadSettings();
}

}  // namespace zv
