// VerificaReenvio: the platform's lists of days whose movements or closings it wants again,
// each request handed to its resend, then the poll time written.
//
// The poll counts as done only when both lists were read and every document they ask for got
// the platform's verdict. Anything else (a list that cannot be read, a refused login, a store
// error, a post without verdict) reaches the cycle with the poll still due, and what was
// already posted is remembered (ctx.resend_progress), so the next run goes on from there
// instead of posting it again.

#include "closings/resend_requests.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "closings/closing_resend.h"
#include "closings/closings_sql.h"
#include "jobs/job_rules.h"
#include "movements/movement_resend.h"
#include "platform/answer.h"
#include "platform/json_helpers.h"
#include "store/store_query.h"

namespace zv {

namespace {

constexpr const char* kMovementsError = "Erro Verifica Reenvio Movimentos: ";
constexpr const char* kClosingsError = "Erro Verifica Reenvio Cierres Diarios: ";

struct ResendRequest {
  DateTime day;
  std::string till;  // "" for every till
  std::string key;   // names the request in the poll's progress
};

// The requested day is the calendar date as the platform wrote it, in its own offset: a
// request for "2024-07-01T22:00:00-03:00" asks for 1 July. The whole text must still be a
// date.
DateTime RequestedDay(const JsonValue& request) {
  const std::string fecha = GetText(request, "fecha");
  ParseISO8601(fecha);
  return DateTime::FromParts(std::stoi(fecha.substr(0, 4)), std::stoi(fecha.substr(5, 2)),
                             std::stoi(fecha.substr(8, 2)));
}

// A refused login names no list: the poll must stay due until the account is right.
bool LoginRefused(const TZentrovRetornos& retorno, const JsonValue& body) {
  if (retorno.code_retorno == "401" || retorno.code_retorno == "403") return true;
  std::string code;
  if (TryGetText(body, "appErrorCode", code) && code == "ERROR_LOGIN") return true;
  const JsonValue* errores = nullptr;
  const JsonValue* error = nullptr;
  return TryGetArray(body, "errores", errores) && errores->Count() > 0 &&
         TryGetObject(errores->Items()[0], "error", error) && TryGetText(*error, "message", code) &&
         code == "ERROR_LOGIN";
}

// The requests of `tipo` in a list answer, in order. A request whose own data cannot be read
// (no object, no "fecha", a till that is no whole number) is logged with the list's error
// line and passed over; the others stand.
std::vector<ResendRequest> ReadRequests(JobContext& ctx, const TZentrovRetornos& retorno,
                                        const std::string& tipo, const char* error_prefix) {
  const std::optional<JsonValue> list =
      ParseJsonAnswer(retorno.json_retorno, "resend request list " + tipo);
  // Not a list at all (an empty body, a proxy's page): the poll must not count as done, and
  // the cycle's pause keeps it from being asked again every few seconds.
  if (!list) throw EConversionError("resend request list is not JSON");
  if (!list->IsArray()) {
    if (LoginRefused(retorno, *list))
      throw ERESTException(ReadPlatformAnswer(retorno.json_retorno).text);
    ctx.DoSaveLog("Error on parse \"Reenvios\".");
    return {};
  }
  std::vector<ResendRequest> requests;
  std::map<std::string, int> seen;  // two requests for the same day are both acted on
  for (const JsonValue& element : list->Items()) {
    // Requests of the other kind are passed over and cost nothing kept; the ones kept are
    // bounded far above any real list.
    if (requests.size() == kMaxResendRequests) {
      throw EConversionError("resend request list " + tipo + ": more than the " +
                             std::to_string(kMaxResendRequests) + " requests one answer may hold");
    }
    try {
      const JsonValue& request = AsObject(element);
      if (GetText(request, "tipo") != tipo) continue;
      const DateTime day = RequestedDay(request);
      // Missing, null or "": every till.
      std::string till;
      TryGetText(request, "codigoCaja", till);
      if (!till.empty()) TillNumber(till);
      const std::string what = tipo + "|" + day.ToDateText('/') + "|" + till;
      requests.push_back({day, till, what + "|" + std::to_string(seen[what]++)});
    } catch (const Exception& e) {
      LogError(ctx, error_prefix, e);
    }
  }
  return requests;
}

// Acts on the requests not yet done in this poll. Returns false when a stop was asked for;
// an error is logged with the list's line and raised.
bool Act(JobContext& ctx, const std::vector<ResendRequest>& requests, const char* error_prefix,
         const std::function<void(const ResendRequest&)>& resend) {
  for (const ResendRequest& r : requests) {
    if (ctx.StopRequested()) return false;
    if (ctx.resend_progress.Done(r.key)) continue;
    try {
      resend(r);
    } catch (const Exception& e) {
      LogError(ctx, error_prefix, e);
      throw;
    }
    // A resend that a stop ended is not done.
    if (ctx.StopRequested()) return false;
    ctx.resend_progress.MarkDone(r.key);
  }
  return true;
}

}  // namespace

void VerificaReenvio(JobContext& ctx) {
  ctx.timer.Disable();
  ctx.resend_progress.Begin(ctx.settings.zentrovia_verificareenvio);

  // Both lists are read before anything is posted: a closing list that cannot be read leaves
  // nothing half done.
  const std::vector<ResendRequest> movements =
      ReadRequests(ctx, ctx.platform.getSolReenvioMovimientos(), "MOVIMIENTOS", kMovementsError);
  const std::vector<ResendRequest> closings = ReadRequests(
      ctx, ctx.platform.getSolReenvioCierresDiarios(), "CIERRES_DIARIOS", kClosingsError);

  if (!Act(ctx, movements, kMovementsError, [&](const ResendRequest& r) {
        CarregaVendasReenvioZentrovia(ctx, r.day, r.till, r.key);
      }))
    return;
  if (!Act(ctx, closings, kClosingsError,
           [&](const ResendRequest& r) { ReenviaCaixaZentrovia(ctx, r.day, r.till, r.key); }))
    return;

  // The service's own time, the clock of the cycle's due test; in memory too, so that the poll
  // counts as done whatever the log and the settings reload do afterwards.
  MoveCursor(ctx, ctx.store.StoreQuery1(), closings_sql::kResendPollUpdate, "agora",
             "zentrovia_verificareenvio", ctx.clock.Now(), CursorBinding::Timestamp,
             ctx.settings.zentrovia_verificareenvio);
  ctx.resend_progress.Clear();
  ctx.DoSaveLog("[R: " + ctx.clock.Today().ToDateText(ctx.date_separator) +
                "]Renvios enviados com sucesso");
  ctx.ReloadSettings();
}

}  // namespace zv
