#pragma once
// The cancellation upload: posts the next cancelled sale above the cancellation cursor and
// the ones waiting after it, for up to ctx.options.drain_s seconds.

#include <cstdint>

#include "jobs/job_context.h"

namespace zv {

class TStoreQuery;

// EnviarVendasCanceladas: steps (below) one after the other (jobs/drain.h), each on a
// reopened connection and followed by the settings reload.
void EnviarVendasCanceladas(JobContext& ctx);

// One step of the upload: the lowest cancellation code above the cursor, the cancellation of
// every sale that has a row at that code (lowest sale first), each followed by its day's
// closing when it came on a later day, then the cursor moved past the codes posted. Answers
// false when no cancellation waits. Raises, with the cursor unmoved, when a post gets no
// verdict, the store fails, or a closing resend fails.
bool EnviaProximoCancelamento(JobContext& ctx);

// Cancellation codes above the cancellation cursor and on or after the start date: what the
// upload has still to send, counted with the next-cancellation statement's own conditions (the
// special product rows left out). Runs on q.
int64_t CountPendingCancellations(TStoreQuery& q, const IntegrationSettings& s);

}  // namespace zv
