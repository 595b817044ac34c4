#pragma once
// An allocation that fails inside a job (an answer far larger than any real one, a store
// running short) is an error of that job: the cycle logs it and pauses as for any other, and
// the job runs again after the pause. Nothing of it reaches the system's own reports.

#include <new>
#include <string>
#include <utility>

#include "base/errors.h"

namespace zv {

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(const std::string& message) : Exception("EOutOfMemory", message) {}
};

// Runs `job`, raising EOutOfMemory for a std::bad_alloc that leaves it. By then the job's own
// objects are gone, so the log line that follows has the memory it needs.
template <class Job>
void RunJobGuarded(Job&& job) {
  try {
    std::forward<Job>(job)();
  } catch (const std::bad_alloc& e) {
    throw EOutOfMemory(std::string("Out of memory (") + e.what() + ")");
  }
}

}  // namespace zv
