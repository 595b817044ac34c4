#pragma once
// The daily closing upload: each finished day's totals per till.

#include "jobs/job_context.h"

namespace zv {

void FechamentoCaixaZentrovia(JobContext& ctx);

}  // namespace zv
