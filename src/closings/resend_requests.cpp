// VerificaReenvio: the platform's lists of days whose movements or closings it wants again,
// each request handed to its resend, then the poll time written.

#include "closings/resend_requests.h"

#include <functional>
#include <optional>
#include <string>

#include "base/errors.h"
#include "closings/closing_resend.h"
#include "closings/closings_sql.h"
#include "movements/movement_resend.h"
#include "platform/json_helpers.h"
#include "store/store_query.h"

namespace zv {

namespace {

using Resend = std::function<void(DateTime day, const std::string& till)>;

// Acts on every request of `tipo` in the list, in order. Returns false when a stop was asked
// for: the job then ends at once.
bool ProcessList(JobContext& ctx, const TZentrovRetornos& retorno, const std::string& tipo,
                 const char* error_prefix, const Resend& resend) {
  const std::optional<JsonValue> list =
      ParseJsonAnswer(retorno.json_retorno, "resend request list " + tipo);
  // Not a list at all (an empty body, a proxy's page): the poll must not count as done, and
  // the cycle's pause keeps it from being asked again every few seconds.
  if (!list) throw EConversionError("resend request list is not JSON");
  if (!list->IsArray()) {
    ctx.DoSaveLog("Error on parse \"Reenvios\".");
    return true;
  }
  try {
    for (const JsonValue& element :
         BoundedItems(*list, kMaxResendRequests, "resend request list " + tipo)) {
      if (ctx.StopRequested()) return false;
      const JsonValue& request = AsObject(element);
      const DateTime fecha = GetDate(request, "fecha");
      if (GetText(request, "tipo") != tipo) continue;
      // Missing, null or "": every till.
      std::string till;
      TryGetText(request, "codigoCaja", till);
      resend(fecha, till);
    }
  } catch (const Exception& e) {
    ctx.DoSaveLog(error_prefix + e.kind() + "\r\n" + "Mensagem: " + e.what());
  }
  return !ctx.StopRequested();
}

}  // namespace

void VerificaReenvio(JobContext& ctx) {
  ctx.timer.Disable();

  if (!ProcessList(
          ctx, ctx.platform.getSolReenvioMovimientos(), "MOVIMIENTOS",
          "Erro Verifica Reenvio Movimentos: ", [&](DateTime day, const std::string& till) {
            CarregaVendasReenvioZentrovia(ctx, day, till);
          }))
    return;
  if (!ProcessList(
          ctx, ctx.platform.getSolReenvioCierresDiarios(), "CIERRES_DIARIOS",
          "Erro Verifica Reenvio Cierres Diarios: ", [&](DateTime day, const std::string& till) {
            ReenviaCaixaZentrovia(ctx, day, till);
          }))
    return;

  TStoreQuery& q1 = ctx.store.StoreQuery1();
  q1.ClearSQL();
  q1.AddSQL(closings_sql::kResendPollUpdate);
  q1.Prepare();
  q1.ExecSQL();
  ctx.DoSaveLog("[R: " + ctx.clock.Today().ToDateText(ctx.date_separator) +
                "]Renvios enviados com sucesso");
  ctx.ReloadSettings();
}

}  // namespace zv
