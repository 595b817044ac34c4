#include "store/store_errors.h"

#include "store/fb_client.h"

namespace zv {

[[noreturn]] void ThrowStatementError(const Firebird::IStatus* status, const std::string& text) {
  if (FbHasError(status, isc_foreign_key) &&
      FbHasError(status, isc_foreign_key_target_doesnt_exist)) {
    throw EMissingReference(text);
  }
  throw EDatabaseError(text);
}

}  // namespace zv
