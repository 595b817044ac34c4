#pragma once
// The promotion import: accepted promotions written, rejected ones marked.

#include "jobs/job_context.h"

namespace zv {

void AtualizaPromo(JobContext& ctx);

}  // namespace zv
