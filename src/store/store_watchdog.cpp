#include "store/store_watchdog.h"

#include <ibase.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "os/socket_cut.h"
#include "os/system.h"

namespace zv {

class StoreWatchdog {
 public:
  static StoreWatchdog& Get() {
    // Never destroyed: a connection may be used by a static object's destructor, and the
    // thread sleeps until a call needs it.
    static StoreWatchdog* watchdog = new StoreWatchdog();
    return *watchdog;
  }

  std::mutex mutex;

  // Called under mutex: the slot's deadline starts now.
  void Arm(StoreWatchSlot& slot) {
    if (slot.deadline.count() <= 0 || slot.cut_) return;
    slot.armed_ = slot.deadline;
    slot.due_ = std::chrono::steady_clock::now() + slot.deadline;
    if (std::find(watched_.begin(), watched_.end(), &slot) == watched_.end())
      watched_.push_back(&slot);
    // A due time after the one the thread already waits for needs no wake-up: it finds the
    // later time when it wakes. So a call re-arms without a context switch.
    if (slot.due_ < waiting_until_) wake_.notify_one();
  }
  // Called under mutex.
  void Disarm(StoreWatchSlot& slot) {
    watched_.erase(std::remove(watched_.begin(), watched_.end(), &slot), watched_.end());
  }

 private:
  StoreWatchdog() {
    std::thread([this] {
      BlockSignalsInThisThread();
      Run();
    }).detach();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (watched_.empty()) {
        waiting_until_ = std::chrono::steady_clock::time_point::max();
        wake_.wait(lock);
        continue;
      }
      const auto now = std::chrono::steady_clock::now();
      auto next = std::chrono::steady_clock::time_point::max();
      for (size_t i = 0; i < watched_.size();) {
        StoreWatchSlot& s = *watched_[i];
        if (s.due_ <= now) {
          CutLocked(s);
          watched_.erase(watched_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          next = std::min(next, s.due_);
          ++i;
        }
      }
      waiting_until_ = next;
      if (next != std::chrono::steady_clock::time_point::max()) wake_.wait_until(lock, next);
    }
  }

  void CutLocked(StoreWatchSlot& s) {
    if (s.frames_.empty()) return;
    const StoreWatchSlot::Frame& f = s.frames_.back();
    const auto secs = std::chrono::duration_cast<std::chrono::duration<double>>(s.armed_);
    char amount[32];
    std::snprintf(amount, sizeof amount, "%g", secs.count());
    s.cut_ = true;
    s.cut_text_ = std::string("The store database did not answer for ") + amount + " s (" + f.what +
                  "); the connection was cut";
    if (f.att)
      CutAttachment(*s.lib_, f.att);
    else
      ShutdownSocketsOpenedSince(f.sockets_before);
  }

  std::condition_variable wake_;
  // The time the thread sleeps until (max: until woken); guarded by mutex.
  std::chrono::steady_clock::time_point waiting_until_ = std::chrono::steady_clock::time_point::max();
  std::vector<StoreWatchSlot*> watched_;
};

void StoreWatchSlot::Reset() {
  std::lock_guard<std::mutex> lock(StoreWatchdog::Get().mutex);
  cut_ = false;
  cut_text_.clear();
}

bool StoreWatchSlot::Cut() const {
  std::lock_guard<std::mutex> lock(StoreWatchdog::Get().mutex);
  return cut_;
}

std::string StoreWatchSlot::CutText() const {
  std::lock_guard<std::mutex> lock(StoreWatchdog::Get().mutex);
  return cut_text_;
}

StoreCallWatch::StoreCallWatch(StoreWatchSlot& slot, FbClientLibrary& lib,
                               Firebird::IAttachment* att, const char* what)
    : slot_(slot) {
  // Taken outside the lock: listing the sockets reads the file system.
  std::vector<std::string> before;
  if (!att) before = OpenSocketIds();
  StoreWatchdog& w = StoreWatchdog::Get();
  std::lock_guard<std::mutex> lock(w.mutex);
  slot_.lib_ = &lib;
  // Held while watched, so that a cut never reaches a released attachment.
  if (att) att->addRef();
  slot_.frames_.push_back({att, what, std::move(before)});
  w.Arm(slot_);
}

StoreCallWatch::~StoreCallWatch() {
  StoreWatchdog& w = StoreWatchdog::Get();
  Firebird::IAttachment* att = nullptr;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    att = slot_.frames_.back().att;
    slot_.frames_.pop_back();
    if (slot_.frames_.empty())
      w.Disarm(slot_);
    else
      w.Arm(slot_);
  }
  if (att) att->release();
}

void StoreWatchSlot::Step(const char* what) {
  StoreWatchdog& w = StoreWatchdog::Get();
  std::lock_guard<std::mutex> lock(w.mutex);
  if (frames_.empty()) return;
  frames_.back().what = what;
  w.Arm(*this);
}

void CutAttachment(FbClientLibrary& lib, Firebird::IAttachment* att) {
  if (!att) return;
  Firebird::IStatus* status = lib.master->getStatus();
  Firebird::CheckStatusWrapper wrapper(status);
  att->cancelOperation(&wrapper, fb_cancel_abort);
  status->dispose();
}

}  // namespace zv
