#pragma once
// Store errors that a job tells apart from the rest. They keep the kind name "EDatabaseError",
// so the log reads the same whichever one it is.

#include <string>

#include "base/errors.h"

namespace zv {

// A row refused because it names a key that the table it refers to does not hold (a foreign
// key whose target is missing): the store does not know the thing the row names. Raised only
// for that; a lock, a conflict or a lost connection stays a plain EDatabaseError.
class EMissingReference : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

}  // namespace zv
