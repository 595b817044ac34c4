#pragma once
// What the import of accepted promotions and the marking of rejected ones share: how the
// platform's answer is read, how a refused promotion is named in the log, and how a pass tells
// a refused promotion from a store connection that is gone.

#include <string>

#include "base/errors.h"
#include "jobs/job_context.h"
#include "platform/zentrovia_client.h"
#include "promotions/promo_model.h"

namespace zv {

// Reads the platform's answer into `root`. Returns false for a body "" or "[]" (the platform has
// nothing for the store); true when read: an object, JSON null or an empty array (the last two
// hold no promotion). Raises ERESTException "HTTP " + status + ": " + the body's first line (at
// most 200 characters) for a status outside 200-299, before looking at the body, and
// EConversionError "The input value is not a valid Object" for any other body (not JSON, a
// non-empty array, a bare value), so that a login page or an error text is never taken for a
// list without promotions.
bool ReadPromotionAnswer(const TZentrovRetornos& answer, TRoot& root);

// The promotion of an entry, ready to be written or marked: raises the error that kept it from
// being read, or EConversionError when the document gave it no id (it would be written as
// promotion 0).
TResults& PromotionOf(PromotionEntry& entry);

// "ADICIONAL_DESCUENTO" or "ADICIONAL_REGALO": the types written as a promotion basket.
bool IsBasketType(const std::string& tipo);

// The error lines (jobs/job_rules.h) of one promotion: the message names it as "Promoção " + id,
// or "#" + its position from 1 when it has no readable id. An error of the whole pass is
// logged with LogError.
void LogRefusal(JobContext& ctx, const std::string& prefix, const PromotionEntry& entry,
                const Exception& e);

// After a promotion failed: whether the store connection went with it (lost inside the
// promotion's transaction, or not to be opened again). The pass then ends without its stamp,
// so the next cycle brings the whole document again instead of leaving the promotions after
// the cut for an hour.
bool StoreConnectionGone(JobContext& ctx);

}  // namespace zv
