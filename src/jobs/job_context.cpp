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

void LogAnswerAndAdvance(JobContext& ctx, PostedKind kind, const TZentrovRetornos& retorno,
                         const std::string& log_prefix, bool passed_over,
                         const std::function<void()>& move_cursor,
                         std::exception_ptr& log_failure) {
  const PlatformAnswer answer = ReadPlatformAnswer(retorno.json_retorno);
  ctx.report.NotePost(kind, answer.verdict, passed_over);
  std::exception_ptr own_failure;
  try {
    if (answer.log_request_body) ctx.DoSaveLog(ctx.platform.RequestBody);
    ctx.DoSaveLog(log_prefix + answer.text);
  } catch (...) {
    own_failure = std::current_exception();
  }
  const bool verdict = answer.verdict != PlatformVerdict::None;
  if (!verdict && !passed_over) {
    if (own_failure) std::rethrow_exception(own_failure);
    throw ERESTException(answer.text);
  }
  move_cursor();
  if (own_failure && !log_failure) log_failure = own_failure;
}

void LogAnswerAndAdvance(JobContext& ctx, PostedKind kind, const TZentrovRetornos& retorno,
                         const std::string& log_prefix, bool passed_over,
                         const std::function<void()>& move_cursor) {
  std::exception_ptr log_failure;
  LogAnswerAndAdvance(ctx, kind, retorno, log_prefix, passed_over, move_cursor, log_failure);
  if (log_failure) std::rethrow_exception(log_failure);
}

}  // namespace zv
