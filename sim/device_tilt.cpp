// The simulated device's tilt sensor: readings built from the world's tilt and period with
// noise and drift, single or in a tilt loop.
#include "sim/device_state.h"
#include <cstring>

namespace simdev {

namespace {

uint32_t nextRandom() {
  uint32_t x = device.rng;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  device.rng = x;
  return x;
}

// Uniform in [-range, range].
int randomJitter(int range) {
  if (range <= 0) return 0;
  return static_cast<int>(nextRandom() % static_cast<uint32_t>(2 * range + 1)) - range;
}

}  // namespace

void stopTiltLoop() {
  device.tiltLoopLeft = 0;
  device.nextTiltUs = SIM_NEVER;
}

double periodAt(int64_t t) {
  const double seconds = static_cast<double>(t - device.periodSetUs) / 1e6;
  return simQuantisePeriod(device.period + device.drift * (seconds > 0.0 ? seconds : 0.0));
}

void sendTiltReading(int64_t t, uint8_t code) {
  const SimTiltOffsets offsets = simTiltOffsets(device.tiltX, device.tiltY, periodAt(t));
  int t1 = offsets.t1 + randomJitter(device.noise);
  int t2 = offsets.t2 + randomJitter(device.noise);
  int t3 = offsets.t3 + randomJitter(device.noise);
  if (t1 < 0) t1 = 0;
  if (t2 < 0) t2 = 0;
  if (t3 < 0) t3 = 0;
  int span = t1 > t2 ? t1 : t2;
  if (t3 > span) span = t3;
  // The sensor timer runs at one tick per 8 us; the reading starts where the timer stands,
  // placed so that no edge passes 65535 (the host does not unwrap edge times).
  const int64_t ticks = t / 8;
  const int t0 = static_cast<int>(ticks % (65536 - span));
  const int edges[4] = {t0, t0 + t1, t0 + t2, t0 + t3};
  uint8_t message[9];
  message[0] = code;
  for (int i = 0; i < 4; ++i) {
    message[1 + 2 * i] = low(edges[i]);
    message[2 + 2 * i] = high(edges[i]);
  }
  std::memcpy(device.lastTilt, message + 1, 8);
  send(t, message, 9);
}

void startTiltLoop(int64_t t, int count, int step) {
  stopTiltLoop();
  if (count <= 0) return;
  device.tiltLoopStep = step < 1 ? 1 : step;
  sendTiltReading(t, mdgTilt);
  device.tiltLoopLeft = count - 1;
  if (device.tiltLoopLeft > 0) device.nextTiltUs = t + device.tiltLoopStep * SIM_STEP_US;
}

void tiltLoopTick() {
  const int64_t t = device.nextTiltUs;
  sendTiltReading(t, mdgTilt);
  if (--device.tiltLoopLeft > 0) device.nextTiltUs = t + device.tiltLoopStep * SIM_STEP_US;
  else stopTiltLoop();
}

}  // namespace simdev
