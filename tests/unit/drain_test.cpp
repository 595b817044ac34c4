// The backlog drain's loop: what ends it, and that an error reaches the caller.

#include <gtest/gtest.h>

#include <string>

#include "base/clock.h"
#include "base/errors.h"
#include "base/zentrovia_timer.h"
#include "jobs/drain.h"
#include "support/log_messages.h"

namespace zv {
namespace {

struct DrainCase {
  const char* name;
  int drain_s;
  int waiting;           // documents waiting
  int seconds_per_post;  // how far the clock moves while one is posted (negative: back)
  int stop_after;        // a stop request once this many went out (0: none)
  int pause_after;       // a pause request once this many went out (0: none)
  int expected_posts;
};

class DrainTest : public ::testing::TestWithParam<DrainCase> {
 protected:
  DrainTest() : platform(transport, settings) {}

  JobContext Context(int drain_s) {
    ServiceOptions options;
    options.drain_s = drain_s;
    return {store,   platform, settings, timer, clock, [](const std::string&) {},
            nullptr, '/',      options, ResendProgress{}};
  }

  TStoreSession store;
  IntegrationSettings settings;
  test::NoTransport transport;
  TZentrovia platform;
  ManualTimer timer;
  ManualClock clock;
};

TEST_P(DrainTest, EndsOnTheFirstOfItsConditions) {
  const DrainCase& c = GetParam();
  JobContext ctx = Context(c.drain_s);
  int posts = 0;
  ctx.stop_requested = [&] { return c.stop_after > 0 && posts >= c.stop_after; };
  ctx.pause_requested = [&] { return c.pause_after > 0 && posts >= c.pause_after; };
  const int drained = DrainBacklog(ctx, [&] {
    if (posts == c.waiting) return false;
    ++posts;
    clock.Advance(c.seconds_per_post);
    return true;
  });
  EXPECT_EQ(posts, c.expected_posts);
  EXPECT_EQ(drained, c.expected_posts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DrainTest,
    ::testing::Values(DrainCase{"NothingWaiting", 5, 0, 1, 0, 0, 0},
                      DrainCase{"AllWaitingWithinTheBound", 5, 4, 1, 0, 0, 4},
                      // 2 s, 4 s: still within 5 s; the third post reaches 6 s and is the last.
                      DrainCase{"TheBoundEndsALongBacklog", 5, 100, 2, 0, 0, 3},
                      DrainCase{"ZeroSecondsIsOneDocumentPerCycle", 0, 100, 0, 0, 0, 1},
                      DrainCase{"AStopRequestIsHonouredBetweenDocuments", 5, 100, 0, 2, 0, 2},
                      DrainCase{"APauseRequestIsHonouredBetweenDocuments", 5, 100, 0, 0, 3, 3},
                      DrainCase{"AClockThatGoesBackEndsIt", 5, 100, -60, 0, 0, 1}),
    [](const ::testing::TestParamInfo<DrainCase>& info) { return info.param.name; });

TEST(DrainErrors, AnErrorEndsTheDrainAndReachesTheCaller) {
  TStoreSession store;
  IntegrationSettings settings;
  test::NoTransport transport;
  TZentrovia platform(transport, settings);
  ManualTimer timer;
  ManualClock clock;
  JobContext ctx{store,   platform, settings,        timer, clock, [](const std::string&) {},
                 nullptr, '/',      ServiceOptions{}, ResendProgress{}};
  int posts = 0;
  EXPECT_THROW(DrainBacklog(ctx,
                            [&] {
                              if (++posts == 3) throw EDatabaseError("connection lost");
                              return true;
                            }),
               EDatabaseError);
  EXPECT_EQ(posts, 3);
}

}  // namespace
}  // namespace zv
