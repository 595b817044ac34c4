#pragma once
// The control requests of the service manager (stop, pause, continue ...), handed from the
// thread that receives them to the service thread that runs the events, one at a time and in
// order. Both service hosts use it.

#include <condition_variable>
#include <deque>
#include <mutex>

namespace zv {

template <class Request>
class ControlQueue {
 public:
  void Push(Request r) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(r);
    }
    cv_.notify_one();
  }
  // Blocks the service thread until a request arrives (also while the service is paused).
  Request Pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return !queue_.empty(); });
    Request r = queue_.front();
    queue_.pop_front();
    return r;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Request> queue_;
};

}  // namespace zv
