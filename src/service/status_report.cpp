// -STATUS: a read-only report of where the service stands.

#include <ostream>

#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace zv {

int RunStatusReport(TSrvZentrovia&, std::ostream& out) {
  out << "The status report is not available in this build." << std::endl;
  return 2;
}

}  // namespace zv
