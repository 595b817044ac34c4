#include "jobs/background_call.h"

#include <system_error>
#include <utility>

#include "os/system.h"

namespace zv {

BackgroundCall::~BackgroundCall() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundCall::Start(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    call_ = std::move(call);
    error_ = nullptr;
    pending_ = true;
  }
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread to be had (the process is out of them): the call is made in place.
      std::function<void()> here = std::exchange(call_, nullptr);
      try {
        here();
      } catch (...) {
        error_ = std::current_exception();
      }
      pending_ = false;
      return;
    }
  }
  changed_.notify_all();
}

void BackgroundCall::Wait() {
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    error = std::exchange(error_, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

void BackgroundCall::Run() {
  BlockSignalsInThisThread();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A call handed over is made to its end, also when the object ends without waiting.
    changed_.wait(lock, [this] { return quit_ || (pending_ && call_); });
    if (!(pending_ && call_)) return;
    std::function<void()> call = std::exchange(call_, nullptr);
    lock.unlock();
    std::exception_ptr error;
    try {
      call();
    } catch (...) {
      error = std::current_exception();
    }
    call = nullptr;
    lock.lock();
    error_ = error;
    pending_ = false;
    changed_.notify_all();
  }
}

}  // namespace zv
