#pragma once
// The cancellation upload: posts the next cancelled sale above the cancellation cursor and
// the ones waiting after it, for up to ctx.options.drain_s seconds.

#include "jobs/job_context.h"

namespace zv {

void EnviarVendasCanceladas(JobContext& ctx);

}  // namespace zv
