#pragma once
// The deadline on store calls. A store server that stops answering without closing the
// connection (its machine lost power, a cable or a VPN dropped) would hold a call until the
// operating system gives the connection up, which takes from minutes to for ever. A watchdog
// thread watches the call in flight on each connection and, past the connection's deadline,
// cuts the connection from the client side (the client library's cancel with the abort
// option closes the socket without waiting for the server); the waiting call then fails and
// the connection's error says what did not answer and for how long.

#include <chrono>
#include <string>
#include <vector>

#include "store/fb_client.h"

namespace zv {

// The watch state of one connection. Used by the connection's own thread, and by the
// watchdog thread under the watchdog's lock.
class StoreWatchSlot {
 public:
  StoreWatchSlot() = default;
  StoreWatchSlot(const StoreWatchSlot&) = delete;
  StoreWatchSlot& operator=(const StoreWatchSlot&) = delete;

  // The deadline of each call; zero or less: no deadline.
  std::chrono::milliseconds deadline{std::chrono::seconds(120)};

  // Whether the connection's attachment was cut, and the text of the error then. It stays
  // so, and no call is watched, until Reset: a new attachment.
  bool Cut() const;
  std::string CutText() const;
  void Reset();
  // The watched call goes on to its next step: restarts the deadline and names the step.
  // Does nothing when no watch is open.
  void Step(const char* what);

 private:
  friend class StoreCallWatch;
  friend class StoreWatchdog;
  struct Frame {
    Firebird::IAttachment* att;  // referenced while watched; null while attaching
    const char* what;
    std::vector<std::string> sockets_before;  // while attaching
  };
  FbClientLibrary* lib_ = nullptr;
  std::vector<Frame> frames_;
  std::chrono::steady_clock::time_point due_;
  std::chrono::milliseconds armed_{0};
  bool cut_ = false;
  std::string cut_text_;
};

// Watches the calls made while it lives on one attachment (or on the attach in progress,
// when att is null). Watches nest: the innermost names the call and its attachment, and each
// watch that begins or ends restarts the deadline, since the server answered in between.
class StoreCallWatch {
 public:
  StoreCallWatch(StoreWatchSlot& slot, FbClientLibrary& lib, Firebird::IAttachment* att,
                 const char* what);
  ~StoreCallWatch();
  StoreCallWatch(const StoreCallWatch&) = delete;
  StoreCallWatch& operator=(const StoreCallWatch&) = delete;

 private:
  StoreWatchSlot& slot_;
};

// Cuts an attachment from the client side at once, without waiting on the network; its
// handles can then be released without a round trip. Never throws.
void CutAttachment(FbClientLibrary& lib, Firebird::IAttachment* att);

}  // namespace zv
