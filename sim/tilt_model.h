// The simulated tilt sensor: turns X and Y tilt angles and a pulse period into the edge
// offsets that the device reports, so that the host's conversion gives the angles back.
#pragma once

// High time at zero tilt as a fraction of the period: 444 ticks at the nominal period of
// 1000 ticks, the reference the host uses before any calibration.
constexpr double SIM_ZERO_HIGH_FRACTION = 0.444;
constexpr double SIM_NOMINAL_PERIOD = 1000.0;
constexpr double SIM_MIN_PERIOD = 100.0;
constexpr double SIM_MAX_PERIOD = 20000.0;

// Edge offsets from the start of the X pulse: t1 - t0 (the X high time), t2 - t0 and t3 - t0.
struct SimTiltOffsets { int t1; int t2; int t3; };

// The period as the device can report it: a whole multiple of 0.5, within the limits above.
double simQuantisePeriod(double period);

// Offsets for a tilt of xDeg and yDeg at the given period (quantised first). The X and Y high
// times are 0.444 x period + 0.125 x period x sin(angle), rounded to whole ticks; the period
// fixes t2 + t3 - t1, so the two high times are rounded together to the nearest pair whose
// sum has the parity the period needs.
SimTiltOffsets simTiltOffsets(double xDeg, double yDeg, double period);
