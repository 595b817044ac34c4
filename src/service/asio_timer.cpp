#include "service/asio_timer.h"

#include <asio/post.hpp>

namespace zv {

AsioTimer::~AsioTimer() {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = false;
  ++generation_;
}

void AsioTimer::ArmLocked() {
  const uint64_t generation = ++generation_;
  const auto interval = std::chrono::milliseconds(interval_);
  const auto deadline = std::chrono::steady_clock::now() + interval;
  // The steady_timer itself is touched only on the io_context's thread.
  asio::post(io_, [this, generation, deadline] {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) return;
    if (timer_) timer_->cancel();
    timer_ = std::make_shared<asio::steady_timer>(io_, deadline);
    timer_->async_wait([this, generation, keep = timer_](const std::error_code& ec) {
      if (!ec) OnExpired(generation);
    });
  });
}

void AsioTimer::OnExpired(uint64_t generation) {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_ || !enabled_) return;
    ArmLocked();  // the countdown repeats until disabled
    handler = on_timer_;
  }
  if (handler) handler();
}

void AsioTimer::Disable() {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = false;
  ++generation_;
}

void AsioTimer::SetInterval(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ms == interval_) return;
  interval_ = ms;
  if (enabled_) ArmLocked();
}

void AsioTimer::Enable() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (enabled_) return;
  enabled_ = true;
  ArmLocked();
}

bool AsioTimer::Enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_;
}

uint32_t AsioTimer::Interval() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return interval_;
}

void AsioTimer::SetOnTimer(std::function<void()> on_timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_timer_ = std::move(on_timer);
}

}  // namespace zv
