#pragma once
// The resend requests: the days whose movements or closings the platform wants again.

#include "jobs/job_context.h"

namespace zv {

void VerificaReenvio(JobContext& ctx);

}  // namespace zv
