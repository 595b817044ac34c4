// Movement jobs that this build does not contain yet.

#include "base/errors.h"
#include "movements/movement_resend.h"

namespace zv {

void ReenviaVendaZentrovia(JobContext&, int64_t) {
  throw ENotAvailable("ReenviaVendaZentrovia is not available in this build");
}

void CarregaVendasReenvioZentrovia(JobContext&, DateTime, const std::string&) {
  throw ENotAvailable("CarregaVendasReenvioZentrovia is not available in this build");
}

}  // namespace zv
