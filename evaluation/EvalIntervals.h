// 95 % confidence intervals for the figures of an evaluation: the Wilson
// score interval of a proportion (sensitivity, specificity) and the exact
// two-sided Poisson (Garwood) interval of a rate (false alarms per hour).
#pragma once

#include <cstdint>
#include <optional>

namespace velmora::evaluation {

struct Interval {
  double low = 0.0;
  double high = 0.0;
};

// The normal quantile of a two-sided 95 % interval.
inline constexpr double kZ95 = 1.959964;

// Wilson score interval of `successes` out of `trials`, without continuity
// correction; empty when there are no trials.
[[nodiscard]] std::optional<Interval> wilsonInterval(int64_t successes, int64_t trials);

// Exact two-sided 95 % Poisson interval of `events` seen in `exposure`
// (hours, say), as a rate per unit of exposure; the lower bound is 0 when
// there are no events. Empty when the exposure is not positive.
[[nodiscard]] std::optional<Interval> poissonRateInterval(int64_t events, double exposure);

}  // namespace velmora::evaluation
