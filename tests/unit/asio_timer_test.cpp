// The production timer on a real io_context: the same rules as the manual timer the cycle
// tests use, with ticks on the loop's thread. Intervals are short and the checks count
// ticks, never durations.

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <thread>

#include "service/asio_timer.h"

namespace zv {
namespace {

using namespace std::chrono_literals;

// Runs the loop for a while, as the main thread does.
void RunFor(asio::io_context& io, std::chrono::milliseconds d) {
  io.restart();
  io.run_for(d);
}

TEST(AsioTimer, TicksRepeatWhileEnabledAndStopWhenDisabled) {
  asio::io_context io;
  AsioTimer timer(io);
  int ticks = 0;
  timer.SetOnTimer([&] { ++ticks; });
  timer.Rearm(20);
  RunFor(io, 300ms);
  EXPECT_GE(ticks, 3);

  timer.Disable();
  const int seen = ticks;
  RunFor(io, 150ms);
  EXPECT_EQ(ticks, seen);
  EXPECT_FALSE(timer.Enabled());
}

TEST(AsioTimer, ASlowTickDoesNotLetTicksPileUp) {
  asio::io_context io;
  AsioTimer timer(io);
  int ticks = 0;
  // The first tick holds the loop for ten intervals, as a long cycle would; the second
  // disables the timer, as a cycle does when it begins.
  timer.SetOnTimer([&] {
    if (++ticks == 1) {
      std::this_thread::sleep_for(200ms);
    } else {
      timer.Disable();
    }
  });
  timer.Rearm(20);
  RunFor(io, 500ms);
  // The countdowns that ran out meanwhile come as one tick, not ten.
  EXPECT_EQ(ticks, 2);
}

TEST(AsioTimer, TheSameIntervalDoesNotRestartTheCountdown) {
  asio::io_context io;
  AsioTimer timer(io);
  int ticks = 0;
  timer.SetOnTimer([&] { ++ticks; });
  timer.Rearm(100);
  // Setting the same value over and over, faster than the interval, must not hold the
  // tick back; a different value would.
  asio::steady_timer poke(io);
  std::function<void()> again = [&] {
    timer.SetInterval(100);
    poke.expires_after(10ms);
    poke.async_wait([&](const std::error_code& ec) {
      if (!ec && ticks == 0) again();
    });
  };
  again();
  RunFor(io, 400ms);
  EXPECT_GE(ticks, 1);
}

TEST(AsioTimer, AnotherThreadArmsAndDisarmsIt) {
  asio::io_context io;
  auto work = asio::make_work_guard(io);
  AsioTimer timer(io);
  std::atomic<int> ticks{0};
  std::atomic<std::thread::id> tick_thread;
  timer.SetOnTimer([&] {
    tick_thread = std::this_thread::get_id();
    ++ticks;
  });
  std::thread loop([&] { io.run(); });
  timer.Rearm(10);  // as the service thread's start does
  for (int i = 0; i < 200 && ticks < 2; ++i) std::this_thread::sleep_for(5ms);
  timer.Disable();  // as the stop does
  EXPECT_GE(ticks.load(), 2);
  EXPECT_EQ(tick_thread.load(), loop.get_id());
  asio::post(io, [&] {
    work.reset();
    io.stop();
  });
  loop.join();
}

}  // namespace
}  // namespace zv
