#pragma once
// The closing resend: one day's daily closing of one till (or of every till) posted again,
// followed by the day's partial cancellations under the pseudo-till "9999".

#include <exception>
#include <string>

#include "base/datetime.h"
#include "jobs/job_context.h"

namespace zv {

// ReenviaCaixaZentrovia. Each failure is logged in its two lines and the remaining documents
// still go out; a document without a verdict (a failed post, a login page, an answer that says
// nothing about it) is a failure too. Once the call has done what it could, the first failure
// is raised, so that a caller that must not move on while the day's closing is wrong (a
// later-day cancellation, a resend poll) keeps its place.
//  - `progress_key` (a resend poll's request): the documents already done under it in an
//    earlier run (ctx.resend_progress) are not posted again, and each one done is noted.
//  - `log_failure`: when given, a log that cannot be written after a post with a verdict is
//    kept there for the caller instead of raised.
void ReenviaCaixaZentrovia(JobContext& ctx, DateTime DataCaixa, const std::string& Terminal,
                           const std::string& progress_key = {},
                           std::exception_ptr* log_failure = nullptr);

}  // namespace zv
