// The cycle ceiling: a cycle that outlives it is reported once, with what it was doing; one
// that ends in time is not.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/cycle_ceiling.h"

namespace zv {
namespace {

struct Reports {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::promise<void> first;
  void Add(const std::string& what, int s) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(what + " " + std::to_string(s));
    if (lines.size() == 1) first.set_value();
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
  }
};

TEST(CycleCeiling, ACycleStuckPastItIsReportedOnceWithWhatItWasDoing) {
  Reports reports;
  CycleCeiling ceiling([&](const std::string& what, int s) { reports.Add(what, s); });
  // Ends well inside its ceiling: never reported.
  ceiling.Begin(1);
  ceiling.End();
  ceiling.Begin(1);
  ceiling.Doing("EnviarVendasZentrovia");
  ASSERT_EQ(reports.first.get_future().wait_for(std::chrono::seconds(60)),
            std::future_status::ready);
  // Reported once, though the cycle goes on.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ceiling.End();
  EXPECT_EQ(reports.Lines(), std::vector<std::string>{"EnviarVendasZentrovia 1"});
}

// The thread sleeps until the due time it knows; a cycle whose ceiling comes sooner than
// that (a new cycle with a shorter ceiling, or a ceiling lowered inside the cycle) must
// still be seen in time.
TEST(CycleCeiling, AShorterCeilingThanTheOneSleptOnIsStillSeen) {
  for (bool lowered_inside : {false, true}) {
    SCOPED_TRACE(lowered_inside ? "lowered inside the cycle" : "a new cycle");
    Reports reports;
    CycleCeiling ceiling([&](const std::string& what, int s) { reports.Add(what, s); });
    ceiling.Begin(3600);
    // The thread now sleeps for an hour.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (lowered_inside) {
      ceiling.Adjust(1);
    } else {
      ceiling.End();
      ceiling.Begin(1);
    }
    ceiling.Doing("EnviarVendasZentrovia");
    ASSERT_EQ(reports.first.get_future().wait_for(std::chrono::seconds(60)),
              std::future_status::ready);
    ceiling.End();
    EXPECT_EQ(reports.Lines(), std::vector<std::string>{"EnviarVendasZentrovia 1"});
  }
}

}  // namespace
}  // namespace zv
