#pragma once
// The backlog drain of the uploads: one job goes on with the next waiting document in the
// same cycle, each document exactly as if it had a cycle of its own (its own post, verdict,
// cursor update and log line).

#include <functional>

#include "jobs/job_context.h"

namespace zv {

// Calls `post_next` (which posts the next waiting document and answers true, or answers
// false when none waits) again and again until:
//  - none waits,
//  - an error is raised (it goes to the caller; every cursor stays on its last verdict),
//  - a stop or pause is requested,
//  - the job has worked for ctx.options.drain_s seconds by ctx.clock (0: one document).
// A clock that goes back ends the drain too. Returns how many documents went out.
int DrainBacklog(JobContext& ctx, const std::function<bool()>& post_next);

}  // namespace zv
