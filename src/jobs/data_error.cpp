#include "jobs/data_error.h"

#include "base/errors.h"

namespace zv {

bool IsDataError(const std::exception& e) {
  return dynamic_cast<const EConversionError*>(&e) != nullptr ||
         dynamic_cast<const EArgumentOutOfRangeException*>(&e) != nullptr;
}

}  // namespace zv
