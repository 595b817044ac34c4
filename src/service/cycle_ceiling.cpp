#include "service/cycle_ceiling.h"

#include "os/system.h"

namespace zv {

CycleCeiling::CycleCeiling(StuckHandler on_stuck) : on_stuck_(std::move(on_stuck)) {
  thread_ = std::thread([this] {
    BlockSignalsInThisThread();
    Run();
  });
}

CycleCeiling::~CycleCeiling() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CycleCeiling::Begin(int ceiling_s) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = ceiling_s > 0;
    ceiling_s_ = ceiling_s;
    start_ = std::chrono::steady_clock::now();
    due_ = start_ + std::chrono::seconds(ceiling_s);
    what_ = "the sync cycle";
    wake = NeedsWake();
  }
  if (wake) changed_.notify_all();
}

void CycleCeiling::Adjust(int ceiling_s) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    running_ = ceiling_s > 0;
    ceiling_s_ = ceiling_s;
    due_ = start_ + std::chrono::seconds(ceiling_s);
    wake = NeedsWake();
  }
  if (wake) changed_.notify_all();
}

void CycleCeiling::Doing(std::string what) {
  std::lock_guard<std::mutex> lock(mutex_);
  what_ = std::move(what);
}

void CycleCeiling::End() {
  // No wake-up: the thread finds the cycle ended when its wait runs out.
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
}

void CycleCeiling::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (!running_) {
      waiting_until_ = std::chrono::steady_clock::time_point::max();
      changed_.wait(lock);
      continue;
    }
    if (std::chrono::steady_clock::now() < due_) {
      waiting_until_ = due_;
      changed_.wait_until(lock, due_);
      continue;
    }
    waiting_until_ = std::chrono::steady_clock::time_point::max();
    running_ = false;
    const std::string what = what_;
    const int ceiling_s = ceiling_s_;
    lock.unlock();
    on_stuck_(what, ceiling_s);
    lock.lock();
  }
}

}  // namespace zv
