#pragma once
// The ceiling on a sync cycle. Every wait of a cycle has a deadline of its own (the store
// calls, the platform requests), so a cycle that runs far longer than they explain is stuck
// somewhere nothing else watches. A thread of its own sees it and calls the handler, which
// in the service logs the fact and ends the process with a failure exit, for the service
// manager to start it again.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zv {

class CycleCeiling {
 public:
  // Called on the ceiling's thread with what the cycle was doing and the ceiling in seconds.
  // Not expected to return in the service (it ends the process); when it does, the cycle
  // is not reported again.
  using StuckHandler = std::function<void(const std::string& what, int ceiling_s)>;

  explicit CycleCeiling(StuckHandler on_stuck);
  ~CycleCeiling();
  CycleCeiling(const CycleCeiling&) = delete;
  CycleCeiling& operator=(const CycleCeiling&) = delete;

  // A cycle begins; ceiling_s <= 0: none.
  void Begin(int ceiling_s);
  // The cycle's ceiling changed (the settings were read again inside it): counted from the
  // cycle's start. Nothing when no cycle runs.
  void Adjust(int ceiling_s);
  // What the cycle is doing now (a job's name), for the report.
  void Doing(std::string what);
  void End();

 private:
  void Run();
  // Under mutex_: wakes the thread when it sleeps past the new due time. A later due time
  // needs no wake-up (the thread finds it when it wakes), so back-to-back cycles cost no
  // context switch.
  bool NeedsWake() const { return running_ && due_ < waiting_until_; }

  StuckHandler on_stuck_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  bool quit_ = false;
  int ceiling_s_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point due_;
  // When the thread wakes by itself (max: only when notified).
  std::chrono::steady_clock::time_point waiting_until_ = std::chrono::steady_clock::time_point::max();
  std::string what_;
  std::thread thread_;
};

// Begin and End of one cycle.
class CycleCeilingScope {
 public:
  CycleCeilingScope(CycleCeiling& ceiling, int ceiling_s) : ceiling_(ceiling) {
    ceiling_.Begin(ceiling_s);
  }
  ~CycleCeilingScope() { ceiling_.End(); }
  CycleCeilingScope(const CycleCeilingScope&) = delete;
  CycleCeilingScope& operator=(const CycleCeilingScope&) = delete;

 private:
  CycleCeiling& ceiling_;
};

}  // namespace zv
