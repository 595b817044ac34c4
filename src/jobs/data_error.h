#pragma once
// The line between a record's own bad data and every other failure of a job.

#include <exception>

namespace zv {

// Whether an error of a document build is a failure of the record's data (a value that
// cannot be read or that the document cannot hold): such a record cannot be built and is
// passed over. Any other error (the store went away, a lock time-out) leaves the cursor
// where it was, and the record is built again later.
bool IsDataError(const std::exception& e);

}  // namespace zv
