#include "Scenarios.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kStandSeconds = 2.0;  // quiet standing at the start of every recording

double radians(double degrees) { return degrees * kPi / 180.0; }

// 0 before `from`, 1 after `to`, a smooth S-curve between.
double smoothStep(double from, double to, double t) {
  if (t <= from) {
    return 0.0;
  }
  if (t >= to) {
    return 1.0;
  }
  const double s = (t - from) / (to - from);
  return s * s * (3.0 - 2.0 * s);
}

// A single smooth bump from `start` lasting `length`, peak 1 in the middle.
double pulse(double start, double length, double t) {
  if (t <= start || t >= start + length) {
    return 0.0;
  }
  const double s = std::sin(kPi * (t - start) / length);
  return s * s;
}

double between(NoiseSource& random, double low, double high) {
  return low + (high - low) * random.uniform();
}

// Walking: the trunk rocks with every step and sways with every stride
// (two steps), the hip bounces up and down about 0.25 g.
struct Gait {
  double start = 0.0;
  double end = 0.0;
  double stepRate = 1.9;  // steps per second
  double fadeIn = 0.6;
  double fadeOut = 0.6;
  double lean = 0.0;  // mean forward lean while walking, radians
  std::vector<double> stepScale;

  Gait(NoiseSource& random, double startTime, double endTime)
      : start(startTime), end(endTime), stepRate(between(random, 1.75, 2.05)) {
    lean = radians(between(random, 3.0, 7.0));
    const auto steps = static_cast<std::size_t>((end - start) * stepRate) + 3;
    for (std::size_t i = 0; i < steps; ++i) {
      stepScale.push_back(between(random, 0.85, 1.15));
    }
  }

  [[nodiscard]] double envelope(double t) const {
    return smoothStep(start, start + fadeIn, t) * (1.0 - smoothStep(end - fadeOut, end, t));
  }

  // Step-to-step variation, blended smoothly from one step to the next.
  [[nodiscard]] double scale(double t) const {
    const double position = std::max(0.0, (t - start) * stepRate);
    const auto step = std::min(static_cast<std::size_t>(position), stepScale.size() - 2);
    const double blend = smoothStep(0.0, 1.0, position - static_cast<double>(step));
    return stepScale[step] + (stepScale[step + 1] - stepScale[step]) * blend;
  }

  // Adds the walking motion at time t to `state`.
  void addTo(BodyState& state, double t) const {
    const double weight = envelope(t);
    if (weight <= 0.0) {
      return;
    }
    const double amount = weight * scale(t);
    const double phase = 2.0 * kPi * stepRate * (t - start);
    state.pose.lean += weight * lean + amount * radians(2.0) * std::sin(phase + 0.8);
    state.pose.tilt += amount * radians(3.0) * std::sin(0.5 * phase);
    state.pose.heading += amount * radians(4.0) * std::sin(0.5 * phase + 1.0);
    state.acceleration.z += amount * (0.25 * std::sin(phase) + 0.07 * std::sin(2.0 * phase + 0.5));
    state.acceleration.x += amount * 0.15 * std::sin(phase + 1.2);
    state.acceleration.y += amount * 0.07 * std::sin(0.5 * phase + 0.3);
  }
};

// Quiet standing, sitting or lying: slow sway and breathing.
void addStillness(BodyState& state, double t, double sway) {
  state.pose.lean += radians(sway) * std::sin(2.0 * kPi * 0.27 * t);
  state.pose.tilt += radians(0.6 * sway) * std::sin(2.0 * kPi * 0.19 * t + 1.3);
  state.acceleration.z += 0.004 * std::sin(2.0 * kPi * 0.25 * t);
}

// A fall while walking: the trip or slip, a near free fall of the hip while
// the trunk turns towards the floor, the impact and a short rebound, then
// lying still.
struct FallPlan {
  Pose finalPose;             // lying
  Vec3 impactDirection;       // horizontal unit vector of the fall, world frame
  double trip = 0.0;          // start of the fall, seconds
  double duration = 0.0;      // trip to impact
  double dropDepth = 0.0;     // how far the hip's acceleration falls towards free fall, g
  double impactUp = 0.0;      // peak upward deceleration at impact, g
  double impactAcross = 0.0;  // peak horizontal deceleration at impact, g
  double impactLength = 0.0;  // seconds
  double turnShape = 0.0;     // exponent of the turn towards the floor (1 is steady)

  [[nodiscard]] double impact() const { return trip + duration; }

  void addTo(BodyState& state, double t) const {
    const double progress = std::clamp((t - trip) / duration, 0.0, 1.0);
    const double turned = std::pow(progress, turnShape);
    state.pose.lean += finalPose.lean * turned;
    state.pose.tilt += finalPose.tilt * turned;
    state.pose.heading += finalPose.heading * turned;
    if (t < impact()) {
      // The push of the trip, then the hip drops.
      const double push = 0.3 * pulse(trip, 0.3, t);
      state.acceleration.x += impactDirection.x * push;
      state.acceleration.y += impactDirection.y * push;
      // Most of the drop comes in the last moments, when the legs no
      // longer hold the body up.
      state.acceleration.z -= dropDepth * smoothStep(impact() - 0.4, impact() - 0.2, t);
      return;
    }
    const double since = t - impact();
    const double hit = pulse(impact(), impactLength, t);
    state.acceleration.z += impactUp * hit;
    state.acceleration.x -= impactDirection.x * impactAcross * hit;
    state.acceleration.y -= impactDirection.y * impactAcross * hit;
    if (since > impactLength) {
      const double after = since - impactLength;
      state.acceleration.z += 0.6 * std::exp(-after / 0.06) * std::sin(2.0 * kPi * 9.0 * after);
    }
    // The trunk rocks back a little and settles.
    const double rebound =
        radians(3.0) * std::exp(-since / 0.15) * std::sin(2.0 * kPi * 3.0 * since);
    const double sign = finalPose.lean + finalPose.tilt >= 0.0 ? -1.0 : 1.0;
    if (std::abs(finalPose.tilt) > std::abs(finalPose.lean)) {
      state.pose.tilt += sign * rebound;
    } else {
      state.pose.lean += sign * rebound;
    }
  }
};

SensorNoise makeNoise(NoiseSource& random) {
  SensorNoise noise;
  noise.accSpread = 0.008;
  noise.gyroSpread = 0.5;
  noise.gyroOffset = {between(random, -1.5, 1.5), between(random, -1.5, 1.5),
                      between(random, -1.5, 1.5)};
  return noise;
}

Scenario makeWalking(const ScenarioInfo& info, const ScenarioOptions& options,
                     NoiseSource& random) {
  const double walkEnd = kStandSeconds + options.walkSeconds;
  const auto gait = std::make_shared<Gait>(random, kStandSeconds, walkEnd);
  // Halfway, the walker turns round.
  const double turnAt = kStandSeconds + options.walkSeconds * between(random, 0.4, 0.6);
  Scenario scenario{info, walkEnd + options.restSeconds, {}, makeNoise(random)};
  scenario.motion = [gait, turnAt](double t) {
    BodyState state;
    addStillness(state, t, 0.4);
    gait->addTo(state, t);
    state.pose.heading += kPi * smoothStep(turnAt, turnAt + 1.6, t);
    return state;
  };
  return scenario;
}

Scenario makeSitDown(const ScenarioInfo& info, const ScenarioOptions& options,
                     NoiseSource& random) {
  const double walkEnd = kStandSeconds + options.walkSeconds;
  const auto gait = std::make_shared<Gait>(random, kStandSeconds, walkEnd);
  // Turn to face away from the chair, then lower onto it: the trunk bends
  // forward while the hip drops, the seat stops it, and the trunk leans
  // back against the backrest.
  const double turn = walkEnd;
  const double lower = turn + 1.4;
  const double lowerLength = between(random, 0.7, 0.9);
  const double contact = lower + lowerLength;
  const double bend = radians(between(random, 25.0, 35.0));
  const double recline = radians(between(random, -12.0, -6.0));
  const double seatJolt = between(random, 0.8, 1.2);
  Scenario scenario{info, contact + options.restSeconds, {}, makeNoise(random)};
  scenario.motion = [=](double t) {
    BodyState state;
    addStillness(state, t, 0.4);
    gait->addTo(state, t);
    state.pose.heading += kPi * smoothStep(turn, turn + 1.2, t);
    state.pose.lean += bend * pulse(lower - 0.1, lowerLength + 0.6, t) +
                       recline * smoothStep(contact + 0.2, contact + 1.0, t);
    state.acceleration.z +=
        -0.35 * pulse(lower, lowerLength, t) + seatJolt * pulse(contact, 0.16, t);
    return state;
  };
  return scenario;
}

Scenario makeFall(const ScenarioInfo& info, const ScenarioOptions& options, NoiseSource& random,
                  const Pose& lying, const Vec3& direction) {
  FallPlan plan;
  plan.trip = kStandSeconds + options.walkSeconds;
  // The walk ends at the trip: the gait fades out quickly as it happens.
  auto gait = std::make_shared<Gait>(random, kStandSeconds, plan.trip + 0.25);
  gait->fadeOut = 0.25;
  plan.finalPose = {lying.lean * between(random, 0.95, 1.0),
                    lying.tilt * between(random, 0.95, 1.0), radians(between(random, -10.0, 10.0))};
  plan.impactDirection = direction;
  plan.duration = between(random, 0.75, 0.85);
  plan.dropDepth = between(random, 0.7, 0.8);
  plan.impactUp = between(random, 4.5, 5.5);
  plan.impactAcross = between(random, 2.5, 3.0);
  plan.impactLength = between(random, 0.10, 0.12);
  plan.turnShape = between(random, 1.0, 1.15);
  Scenario scenario{info, plan.impact() + options.restSeconds, {}, makeNoise(random)};
  scenario.motion = [gait, plan](double t) {
    BodyState state;
    addStillness(state, t, 0.4);
    gait->addTo(state, t);
    plan.addTo(state, t);
    return state;
  };
  return scenario;
}

// A slow fall at ground level: after a short walk the knees give way and
// the body sinks to the floor over a few seconds, ending on its side. The
// hip never leaves the support of the legs, so there is no free-fall phase,
// and it reaches the floor with only a soft bump.
Scenario makeSlowFall(const ScenarioInfo& info, const ScenarioOptions& options,
                      NoiseSource& random) {
  const double walkEnd = kStandSeconds + options.walkSeconds;
  const auto gait = std::make_shared<Gait>(random, kStandSeconds, walkEnd);
  const double sink = walkEnd + between(random, 0.6, 1.0);  // knees start to give way
  const double sinkLength = between(random, 2.2, 2.8);      // down to sitting on the floor
  const double floor = sink + sinkLength;
  const double rollOver = floor + between(random, 0.3, 0.6);  // then onto the side
  const double rollLength = between(random, 1.4, 1.8);
  const double side = radians(between(random, 78.0, 86.0));
  const double slump = radians(between(random, 20.0, 30.0));
  const double bump = between(random, 0.5, 0.6);
  Scenario scenario{info, rollOver + rollLength + options.restSeconds, {}, makeNoise(random)};
  scenario.motion = [=](double t) {
    BodyState state;
    addStillness(state, t, 0.4);
    gait->addTo(state, t);
    // The trunk slumps forward while sinking, straightens a little on the
    // floor and then rolls onto its side.
    const double sinking = smoothStep(sink, floor, t);
    const double rolling = smoothStep(rollOver, rollOver + rollLength, t);
    state.pose.lean += slump * sinking * (1.0 - rolling);
    state.pose.tilt += side * rolling;
    // Lowering the hip: a gentle dip while it starts, a gentle brake at
    // the end, never far from 1 g.
    state.acceleration.z += -0.12 * pulse(sink, 0.8 * sinkLength, t) +
                            0.10 * pulse(sink + 0.5 * sinkLength, 0.5 * sinkLength, t) +
                            bump * pulse(floor - 0.05, 0.2, t);
    return state;
  };
  return scenario;
}

// Jumping down from a wall about a metre high: a step forward off the edge
// (no push off the floor), about 0.45 s of near free fall, a hard landing
// on the feet with the trunk bending to absorb it, and standing on.
Scenario makeJumpDown(const ScenarioInfo& info, const ScenarioOptions& options,
                      NoiseSource& random) {
  const double walkEnd = kStandSeconds + options.walkSeconds;
  const auto gait = std::make_shared<Gait>(random, kStandSeconds, walkEnd);
  const double stepOff = walkEnd + between(random, 0.8, 1.2);
  const double flightLength = between(random, 0.42, 0.48);
  const double landing = stepOff + flightLength;
  const double landingPeak = between(random, 3.2, 3.8);
  const double bend = radians(between(random, 30.0, 40.0));
  Scenario scenario{info, landing + 1.0 + options.restSeconds, {}, makeNoise(random)};
  scenario.motion = [=](double t) {
    BodyState state;
    addStillness(state, t, 0.4);
    gait->addTo(state, t);
    // The trunk leans forward over the edge, then bends deeply to absorb
    // the landing and comes up again.
    state.pose.lean +=
        radians(8.0) * pulse(stepOff - 0.3, 0.6, t) + bend * pulse(landing - 0.05, 1.0, t);
    // The hip falls freely until the feet meet the floor.
    state.acceleration.z += -0.95 * smoothStep(stepOff - 0.05, stepOff + 0.05, t) *
                                (1.0 - smoothStep(landing - 0.04, landing, t)) +
                            landingPeak * pulse(landing, 0.14, t) -
                            0.3 * pulse(landing + 0.14, 0.3, t);
    return state;
  };
  return scenario;
}

constexpr std::array<ScenarioInfo, 7> kScenarios = {{
    {"walking", "walking along a corridor, turning round halfway (daily living)", false},
    {"sit-down", "walking, then sitting down on a chair (daily living)", false},
    {"fall-forward", "walking, tripping and falling forward, lying face down", true},
    {"fall-backward", "walking, slipping and falling backward, lying on the back", true},
    {"fall-sideways", "walking, falling to the right side, lying on that side", true},
    {"fall-slow", "walking, then sinking slowly to the floor and onto the side, no free fall",
     true},
    {"jump-down", "walking, then jumping down from a wall a metre high (daily living)", false},
}};

}  // namespace

std::span<const ScenarioInfo> scenarioList() { return kScenarios; }

std::optional<Scenario> makeScenario(std::string_view name, const ScenarioOptions& options) {
  NoiseSource random(options.seed);
  for (const ScenarioInfo& info : kScenarios) {
    if (name != info.name) {
      continue;
    }
    const std::string_view chosen = info.name;
    if (chosen == "walking") {
      return makeWalking(info, options, random);
    }
    if (chosen == "sit-down") {
      return makeSitDown(info, options, random);
    }
    if (chosen == "fall-forward") {
      return makeFall(info, options, random, {radians(88.0), 0.0, 0.0}, {1.0, 0.0, 0.0});
    }
    if (chosen == "fall-slow") {
      return makeSlowFall(info, options, random);
    }
    if (chosen == "jump-down") {
      return makeJumpDown(info, options, random);
    }
    if (chosen == "fall-backward") {
      return makeFall(info, options, random, {radians(-86.0), 0.0, 0.0}, {-1.0, 0.0, 0.0});
    }
    return makeFall(info, options, random, {0.0, radians(85.0), 0.0}, {0.0, -1.0, 0.0});
  }
  return std::nullopt;
}
