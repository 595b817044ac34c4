#pragma once
// One call at a time on a thread of its own, so that a job can read its next document from
// the store while the platform answers the current one. The thread is started by the first
// call and ends with the object, which first lets a call still running or handed over finish.
//
// Between Start and Wait the caller must leave alone everything the call uses; Wait hands the
// call's result back, or raises what the call raised, exactly as if the call had been made
// in place.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace zv {

class BackgroundCall {
 public:
  BackgroundCall() = default;
  ~BackgroundCall();
  BackgroundCall(const BackgroundCall&) = delete;
  BackgroundCall& operator=(const BackgroundCall&) = delete;

  // Hands `call` to the thread. Only one call runs at a time: the one before must have been
  // waited for. When no thread can be started, the call runs here, before Start returns.
  void Start(std::function<void()> call);
  // Waits until the call has returned; raises what it raised.
  void Wait();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> call_;
  std::exception_ptr error_;
  bool pending_ = false;  // handed over and not yet returned
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace zv
