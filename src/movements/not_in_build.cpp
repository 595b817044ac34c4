// Movement jobs that this build does not contain yet.

#include "base/errors.h"
#include "movements/cancellation_upload.h"
#include "movements/movement_resend.h"

namespace zv {

// The sales upload turns to the cancellations when no new sale waits; until they are in
// this build that turn posts nothing.
void EnviarVendasCanceladas(JobContext&) {}

void ReenviaVendaZentrovia(JobContext&, int64_t) {
  throw ENotAvailable("ReenviaVendaZentrovia is not available in this build");
}

void CarregaVendasReenvioZentrovia(JobContext&, DateTime, const std::string&) {
  throw ENotAvailable("CarregaVendasReenvioZentrovia is not available in this build");
}

}  // namespace zv
