// The promotion job that this build does not contain yet: a cycle that chooses it ends with
// a clear log line and a retry pause instead of pretending to succeed.

#include "base/errors.h"
#include "promotions/promotion_import.h"

namespace zv {

void AtualizaPromo(JobContext&) {
  throw ENotAvailable("AtualizaPromo is not available in this build");
}

}  // namespace zv
