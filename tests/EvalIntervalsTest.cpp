// The 95 % intervals against reference values (Wilson: closed form; Poisson:
// half the chi-square quantiles, from a statistics package).
#include <gtest/gtest.h>

#include "EvalIntervals.h"

namespace {

using velmora::evaluation::poissonRateInterval;
using velmora::evaluation::wilsonInterval;

TEST(EvalIntervals, WilsonScoreInterval) {
  struct Case {
    int64_t successes, trials;
    double low, high;
  };
  for (const Case& c : {Case{0, 10, 0.0, 0.277532}, Case{5, 10, 0.236593, 0.763407},
                        Case{10, 10, 0.722468, 1.0}, Case{139, 1798, 0.065844, 0.090574}}) {
    const auto interval = wilsonInterval(c.successes, c.trials);
    ASSERT_TRUE(interval) << c.successes << "/" << c.trials;
    EXPECT_NEAR(interval->low, c.low, 1e-6) << c.successes << "/" << c.trials;
    EXPECT_NEAR(interval->high, c.high, 1e-6) << c.successes << "/" << c.trials;
  }
  EXPECT_EQ(wilsonInterval(10, 10)->high, 1.0);  // exactly, not a rounding step below
  EXPECT_FALSE(wilsonInterval(0, 0));
}

TEST(EvalIntervals, ExactPoissonRateInterval) {
  struct Case {
    int64_t events;
    double hours, low, high;
  };
  for (const Case& c : {Case{0, 1.0, 0.0, 3.688879454}, Case{1, 1.0, 0.025317808, 5.571643391},
                        Case{10, 2.0, 4.795388696 / 2, 18.390356042 / 2},
                        Case{100, 1.0, 81.363991251, 121.626793792}}) {
    const auto interval = poissonRateInterval(c.events, c.hours);
    ASSERT_TRUE(interval) << c.events;
    EXPECT_NEAR(interval->low, c.low, 1e-7) << c.events;
    EXPECT_NEAR(interval->high, c.high, 1e-7) << c.events;
  }
  EXPECT_FALSE(poissonRateInterval(3, 0.0));
}

}  // namespace
