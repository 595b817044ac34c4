#pragma once
// The cancellation upload: posts the next cancelled sale above the cancellation cursor.

#include "jobs/job_context.h"

namespace zv {

void EnviarVendasCanceladas(JobContext& ctx);

}  // namespace zv
