// Placeholder until the platform client lands.
#include "platform/errors.h"
#include "platform/zentrovia_client.h"
#include "service/srv_zentrovia.h"

namespace zv {

std::string TSrvZentrovia::VerificarErroJSON(const std::string& AJson) { return AJson; }

}  // namespace zv
