#pragma once
// systemd's notification protocol, for a unit of Type=notify: each state is one datagram to
// the socket systemd names in NOTIFY_SOCKET. The protocol is a stable interface of systemd;
// speaking it directly keeps libsystemd and the libraries it brings out of the process.

#include <chrono>
#include <string_view>

namespace zv {

// Sends `state` ("READY=1", "STOPPING=1", "WATCHDOG=1"). False outside systemd (no
// NOTIFY_SOCKET) or when the datagram could not be sent; neither stops the service.
bool SystemdNotify(std::string_view state);

// The watchdog interval systemd asks for (WatchdogSec= of the unit, passed as WATCHDOG_USEC,
// for this process when WATCHDOG_PID names one); zero when no watchdog is armed.
std::chrono::microseconds SystemdWatchdogInterval();

}  // namespace zv
