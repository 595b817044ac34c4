// The posting thread of the sales drain: calls run one after the other on one thread other
// than the caller's, and Wait hands back what each raised.

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "jobs/background_call.h"

namespace zv {
namespace {

TEST(BackgroundCall, RunsEachCallOnItsThreadAndHandsBackWhatItRaised) {
  BackgroundCall call;
  std::thread::id first, second;
  int value = 0;
  call.Start([&] {
    first = std::this_thread::get_id();
    value = 1;
  });
  call.Wait();
  EXPECT_EQ(value, 1);
  EXPECT_NE(first, std::this_thread::get_id());

  call.Start([] { throw std::runtime_error("REST request failed: refused"); });
  try {
    call.Wait();
    ADD_FAILURE() << "the call's error was lost";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "REST request failed: refused");
  }

  // An error is handed back once: the next call starts clean.
  call.Start([&] {
    second = std::this_thread::get_id();
    value = 2;
  });
  EXPECT_NO_THROW(call.Wait());
  EXPECT_EQ(value, 2);
  EXPECT_EQ(second, first);
}

TEST(BackgroundCall, ACallNeverWaitedForIsMadeBeforeTheObjectEnds) {
  int value = 0;
  {
    BackgroundCall call;
    call.Start([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      value = 7;
    });
  }
  EXPECT_EQ(value, 7);
}

}  // namespace
}  // namespace zv
