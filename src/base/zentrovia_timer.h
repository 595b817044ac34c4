#pragma once
// ZentroviaTimer: a restartable, repeating countdown whose ticks reach the sync cycle one at
// a time on the main thread.
//   Disable:      stop the countdown; no tick until enabled again.
//   SetInterval:  a different value is stored and, when enabled, restarts the countdown from
//                 now; the same value changes nothing.
//   Enable:       when disabled, start the countdown from now; when enabled, nothing.
// A countdown that runs out while a cycle runs delivers one tick when the cycle returns.

#include <cstdint>
#include <functional>

namespace zv {

class IZentroviaTimer {
 public:
  virtual ~IZentroviaTimer() = default;
  virtual void Disable() = 0;
  virtual void SetInterval(uint32_t ms) = 0;
  virtual void Enable() = 0;
  virtual bool Enabled() const = 0;
  virtual uint32_t Interval() const = 0;
  virtual void SetOnTimer(std::function<void()> on_timer) = 0;

  // Set the interval, then enable.
  void Rearm(uint32_t ms) {
    SetInterval(ms);
    Enable();
  }
};

// A timer driven by the caller: it keeps the countdown against a millisecond counter that
// the caller advances. Used by tests and by the foreground -SYNC run.
class ManualTimer : public IZentroviaTimer {
 public:
  void Disable() override { enabled_ = false; }
  void SetInterval(uint32_t ms) override {
    if (ms == interval_) return;
    interval_ = ms;
    if (enabled_) due_ = now_ + ms;
  }
  void Enable() override {
    if (enabled_) return;
    enabled_ = true;
    due_ = now_ + interval_;
  }
  bool Enabled() const override { return enabled_; }
  uint32_t Interval() const override { return interval_; }
  void SetOnTimer(std::function<void()> on_timer) override { on_timer_ = std::move(on_timer); }

  // Moves time forward by ms, delivering at most one tick (ticks do not pile up), as the
  // main thread's loop would. Returns whether a tick was delivered.
  bool Advance(int64_t ms) {
    now_ += ms;
    if (!enabled_ || now_ < due_) return false;
    due_ = now_ + interval_;  // repeating
    if (on_timer_) on_timer_();
    return true;
  }

 private:
  bool enabled_ = false;
  uint32_t interval_ = 1000;
  int64_t now_ = 0;
  int64_t due_ = 0;
  std::function<void()> on_timer_;
};

}  // namespace zv
