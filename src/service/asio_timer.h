#pragma once
// ZentroviaTimer on the main thread's io_context. The service thread arms and disarms it
// (start, stop), so every operation is safe from any thread; ticks run on the thread that
// runs the io_context, one at a time.

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <memory>
#include <mutex>

#include "base/zentrovia_timer.h"

namespace zv {

class AsioTimer : public IZentroviaTimer {
 public:
  explicit AsioTimer(asio::io_context& io) : io_(io) {}
  ~AsioTimer() override;

  void Disable() override;
  void SetInterval(uint32_t ms) override;
  void Enable() override;
  bool Enabled() const override;
  uint32_t Interval() const override;
  void SetOnTimer(std::function<void()> on_timer) override;

 private:
  // Starts a countdown of the current interval from now; the caller holds mutex_.
  void ArmLocked();
  void OnExpired(uint64_t generation);

  asio::io_context& io_;
  mutable std::mutex mutex_;
  bool enabled_ = false;
  uint32_t interval_ = 1000;
  // Each arm gets a new generation; a countdown of an older one is ignored when it ends.
  uint64_t generation_ = 0;
  std::shared_ptr<asio::steady_timer> timer_;
  std::function<void()> on_timer_;
};

}  // namespace zv
