#include "jobs/drain.h"

namespace zv {

int DrainBacklog(JobContext& ctx, const std::function<bool()>& post_next) {
  const DateTime start = ctx.clock.Now();
  const int64_t bound_us = static_cast<int64_t>(ctx.options.drain_s) * 1000000;
  int posted = 0;
  while (post_next()) {
    ++posted;
    if (ctx.StopRequested() || ctx.PauseRequested()) break;
    const int64_t worked_us = ctx.clock.Now().micros() - start.micros();
    if (worked_us < 0 || worked_us >= bound_us) break;
  }
  return posted;
}

}  // namespace zv
