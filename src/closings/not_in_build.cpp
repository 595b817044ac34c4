// Closing jobs that this build does not contain yet. Each reports so, so that a cycle that
// chooses one ends with a clear log line and a retry pause instead of pretending to succeed.

#include "base/errors.h"
#include "closings/closing_resend.h"
#include "closings/daily_closing.h"
#include "closings/resend_requests.h"

namespace zv {

void VerificaReenvio(JobContext&) {
  throw ENotAvailable("VerificaReenvio is not available in this build");
}

void FechamentoCaixaZentrovia(JobContext&) {
  throw ENotAvailable("FechamentoCaixaZentrovia is not available in this build");
}

void ReenviaCaixaZentrovia(JobContext&, DateTime, const std::string&) {
  throw ENotAvailable("ReenviaCaixaZentrovia is not available in this build");
}

}  // namespace zv
