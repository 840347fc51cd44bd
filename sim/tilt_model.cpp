// The simulated tilt sensor: angles and period to edge offsets.
#include "sim/tilt_model.h"
#include <cmath>

namespace {
constexpr double DEGREES_PER_RADIAN = 180.0 / 3.14159265358979323846;
constexpr double FULL_SCALE_FRACTION = 0.125;
}

double simQuantisePeriod(double period) {
  if (!std::isfinite(period)) return SIM_NOMINAL_PERIOD;
  if (period < SIM_MIN_PERIOD) period = SIM_MIN_PERIOD;
  if (period > SIM_MAX_PERIOD) period = SIM_MAX_PERIOD;
  return std::round(period * 2.0) / 2.0;
}

SimTiltOffsets simTiltOffsets(double xDeg, double yDeg, double period) {
  period = simQuantisePeriod(period);
  const long twicePeriod = std::lround(period * 2.0);
  const double zero = SIM_ZERO_HIGH_FRACTION * period;
  const double scale = FULL_SCALE_FRACTION * period;
  const double xExact = zero + scale * std::sin((std::isfinite(xDeg) ? xDeg : 0.0) / DEGREES_PER_RADIAN);
  const double yExact = zero + scale * std::sin((std::isfinite(yDeg) ? yDeg : 0.0) / DEGREES_PER_RADIAN);
  // The host's period is (b + c - a) / 2 with c - b the Y high time, so 2 x period + a + yHigh
  // must be even. Pick the nearest pair of whole high times that satisfies it.
  const long xRound = std::lround(xExact);
  const long yRound = std::lround(yExact);
  long bestX = xRound, bestY = yRound;
  double bestError = -1.0;
  for (long dx = -1; dx <= 1; ++dx) {
    for (long dy = -1; dy <= 1; ++dy) {
      const long x = xRound + dx, y = yRound + dy;
      if (((twicePeriod + x + y) & 1) != 0) continue;
      const double error = (x - xExact) * (x - xExact) + (y - yExact) * (y - yExact);
      if (bestError < 0.0 || error < bestError) { bestError = error; bestX = x; bestY = y; }
    }
  }
  SimTiltOffsets offsets;
  offsets.t1 = static_cast<int>(bestX);
  offsets.t2 = static_cast<int>((twicePeriod + bestX - bestY) / 2);
  offsets.t3 = static_cast<int>((twicePeriod + bestX + bestY) / 2);
  return offsets;
}
