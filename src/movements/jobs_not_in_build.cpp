// Jobs that this build does not contain yet. Each reports so, so that a cycle that chooses
// one ends with a clear log line and a retry pause instead of pretending to succeed.

#include "base/errors.h"
#include "closings/daily_closing.h"
#include "closings/resend_requests.h"
#include "movements/cancellation_upload.h"
#include "promotions/promotion_import.h"

namespace zv {

namespace {
[[noreturn]] void NotInBuild(const char* job) {
  throw ENotAvailable(std::string(job) + " is not available in this build");
}
}  // namespace

void VerificaReenvio(JobContext&) {
  NotInBuild("VerificaReenvio");
}
void AtualizaPromo(JobContext&) {
  NotInBuild("AtualizaPromo");
}
void FechamentoCaixaZentrovia(JobContext&) {
  NotInBuild("FechamentoCaixaZentrovia");
}
// The sales upload turns to the cancellations when no new sale waits; until they are in
// this build that turn posts nothing.
void EnviarVendasCanceladas(JobContext&) {}

}  // namespace zv
