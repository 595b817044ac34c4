#pragma once
// The closing resend: one day's daily closing of one till (or of every till) posted again,
// followed by the day's partial cancellations under the pseudo-till "9999".

#include <string>

#include "base/datetime.h"
#include "jobs/job_context.h"

namespace zv {

// ReenviaCaixaZentrovia: handles and logs its own failures; raises nothing.
void ReenviaCaixaZentrovia(JobContext& ctx, DateTime DataCaixa, const std::string& Terminal);

}  // namespace zv
