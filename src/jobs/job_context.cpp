#include "jobs/job_context.h"

#include <exception>

#include "base/errors.h"
#include "platform/answer.h"
#include "store/store_settings.h"

namespace zv {

void JobContext::ReloadSettings() {
  GetCredenciaisZentrovia(store, settings, timer, clock, log);
}

void JobContext::ResendClosing(DateTime DataCaixa, const std::string& Terminal) const {
  if (!resend_closing) throw ENotAvailable("Reenvio do fechamento de caixa não ligado ao trabalho");
  resend_closing(DataCaixa, Terminal);
}

std::string VerificarErroJSON(JobContext& ctx, const std::string& AJson) {
  const PlatformAnswer answer = ReadPlatformAnswer(AJson);
  // The rejected document goes into the log just before the caller's line.
  if (answer.log_request_body) ctx.DoSaveLog(ctx.platform.RequestBody);
  return answer.text;
}

void LogAnswerAndAdvance(JobContext& ctx, const TZentrovRetornos& retorno,
                         const std::string& log_prefix, bool passed_over,
                         const std::function<void()>& move_cursor) {
  const PlatformAnswer answer = ReadPlatformAnswer(retorno.json_retorno);
  std::exception_ptr log_failure;
  try {
    if (answer.log_request_body) ctx.DoSaveLog(ctx.platform.RequestBody);
    ctx.DoSaveLog(log_prefix + answer.text);
  } catch (...) {
    log_failure = std::current_exception();
  }
  const bool verdict = answer.verdict != PlatformVerdict::None;
  if (verdict || passed_over) move_cursor();
  if (log_failure) std::rethrow_exception(log_failure);
  if (!verdict && !passed_over) throw ERESTException(answer.text);
}

}  // namespace zv
