#include "EvalIntervals.h"

#include <algorithm>
#include <cmath>

namespace velmora::evaluation {
namespace {

// Regularised lower incomplete gamma function P(a, x), a > 0, x >= 0: the
// series below a + 1, the continued fraction above (both converge fast
// there).
double lowerGamma(double a, double x) {
  if (x <= 0.0) {
    return 0.0;
  }
  const double logPrefix = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1.0) {
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < 10000; ++n) {
      term *= x / (a + n);
      sum += term;
      if (std::abs(term) < std::abs(sum) * 1e-17) {
        break;
      }
    }
    return std::min(1.0, sum * std::exp(logPrefix));
  }
  // Lentz's method for the continued fraction of Q(a, x).
  constexpr double kTiny = 1e-300;
  double b = x + 1.0 - a;
  double c = 1.0 / kTiny;
  double d = 1.0 / b;
  double fraction = d;
  for (int n = 1; n < 10000; ++n) {
    const double an = -n * (n - a);
    b += 2.0;
    d = an * d + b;
    d = std::abs(d) < kTiny ? kTiny : d;
    c = b + an / c;
    c = std::abs(c) < kTiny ? kTiny : c;
    d = 1.0 / d;
    const double step = d * c;
    fraction *= step;
    if (std::abs(step - 1.0) < 1e-17) {
      break;
    }
  }
  return std::max(0.0, 1.0 - std::exp(logPrefix) * fraction);
}

// The x with P(a, x) = p, by bisection (P rises with x).
double lowerGammaInverse(double a, double p) {
  double low = 0.0;
  double high = std::max(1.0, 2.0 * a);
  while (lowerGamma(a, high) < p) {
    low = high;
    high *= 2.0;
  }
  for (int i = 0; i < 200 && high - low > 1e-14 * high; ++i) {
    const double middle = 0.5 * (low + high);
    (lowerGamma(a, middle) < p ? low : high) = middle;
  }
  return 0.5 * (low + high);
}

}  // namespace

std::optional<Interval> wilsonInterval(int64_t successes, int64_t trials) {
  if (trials <= 0 || successes < 0 || successes > trials) {
    return std::nullopt;
  }
  const auto n = static_cast<double>(trials);
  const double p = static_cast<double>(successes) / n;
  const double z2 = kZ95 * kZ95;
  const double denominator = 1.0 + z2 / n;
  const double centre = (p + z2 / (2.0 * n)) / denominator;
  const double half = kZ95 * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n)) / denominator;
  // With no successes (or no failures) the bound is exactly 0 (or 1); the
  // formula misses it by a rounding step, which would print as 0.9999999999999999.
  return Interval{successes == 0 ? 0.0 : std::max(0.0, centre - half),
                  successes == trials ? 1.0 : std::min(1.0, centre + half)};
}

std::optional<Interval> poissonRateInterval(int64_t events, double exposure) {
  if (!(exposure > 0.0) || events < 0) {
    return std::nullopt;
  }
  // Half the chi-square quantiles: lower 0.5 chi2(0.025; 2k), upper
  // 0.5 chi2(0.975; 2k + 2), which are incomplete-gamma quantiles.
  const auto k = static_cast<double>(events);
  const double low = events == 0 ? 0.0 : lowerGammaInverse(k, 0.025);
  const double high = lowerGammaInverse(k + 1.0, 0.975);
  return Interval{low / exposure, high / exposure};
}

}  // namespace velmora::evaluation
