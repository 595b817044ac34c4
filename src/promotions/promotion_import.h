#pragma once
// The promotion job: rejected promotions marked, then accepted promotions written.

#include <cstdint>

#include "jobs/job_context.h"

namespace zv {

// What one run of the job did, for a caller that reports it (-SYNC). A promotion counts once
// per time it is listed.
struct PromotionPassCounts {
  // Accepted promotions committed with at least one row written.
  uint64_t written = 0;
  // Accepted promotions refused (unreadable, no id, checks, a row the store refused): rolled
  // back and logged with "Erro AtualizaPromo: ".
  uint64_t refused = 0;
  // Rejected promotions whose marks were committed (a mark that matches no row still counts).
  uint64_t marked_rejected = 0;
  // Rejected promotions that could not be marked, logged with "Erro RejeitaPromo: ".
  uint64_t rejection_refused = 0;

  PromotionPassCounts& operator+=(const PromotionPassCounts& o) {
    written += o.written;
    refused += o.refused;
    marked_rejected += o.marked_rejected;
    rejection_refused += o.rejection_refused;
    return *this;
  }
};

// AtualizaPromo. Adds what it did to *counts when given, also when it raises part way.
void AtualizaPromo(JobContext& ctx, PromotionPassCounts* counts = nullptr);

// The rejection pass, the job's first step; it never stamps and never raises for what it
// reads, only when the request itself fails.
void RejeitaPromo(JobContext& ctx, PromotionPassCounts& counts);

}  // namespace zv
