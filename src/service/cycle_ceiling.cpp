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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = ceiling_s > 0;
    ceiling_s_ = ceiling_s;
    start_ = std::chrono::steady_clock::now();
    due_ = start_ + std::chrono::seconds(ceiling_s);
    what_ = "the sync cycle";
  }
  changed_.notify_all();
}

void CycleCeiling::Adjust(int ceiling_s) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    running_ = ceiling_s > 0;
    ceiling_s_ = ceiling_s;
    due_ = start_ + std::chrono::seconds(ceiling_s);
  }
  changed_.notify_all();
}

void CycleCeiling::Doing(std::string what) {
  std::lock_guard<std::mutex> lock(mutex_);
  what_ = std::move(what);
}

void CycleCeiling::End() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  changed_.notify_all();
}

void CycleCeiling::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (!running_) {
      changed_.wait(lock);
      continue;
    }
    if (std::chrono::steady_clock::now() < due_) {
      changed_.wait_until(lock, due_);
      continue;
    }
    running_ = false;
    const std::string what = what_;
    const int ceiling_s = ceiling_s_;
    lock.unlock();
    on_stuck_(what, ceiling_s);
    lock.lock();
  }
}

}  // namespace zv
