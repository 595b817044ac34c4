// Jobs that this build does not contain yet. Each reports so, so that a cycle that chooses
// one ends with a clear log line and a retry pause instead of pretending to succeed.

#include "platform/errors.h"
#include "service/srv_zentrovia.h"

namespace zv {

namespace {
[[noreturn]] void NotInBuild(const char* job) {
  throw ENotAvailable(std::string(job) + " is not available in this build");
}
}  // namespace

void TSrvZentrovia::VerificaReenvio() {
  NotInBuild("VerificaReenvio");
}
void TSrvZentrovia::AtualizaPromo() {
  NotInBuild("AtualizaPromo");
}
void TSrvZentrovia::FechamentoCaixaZentrovia() {
  NotInBuild("FechamentoCaixaZentrovia");
}
void TSrvZentrovia::EnviarVendasCanceladas() {
  NotInBuild("EnviarVendasCanceladas");
}

}  // namespace zv
