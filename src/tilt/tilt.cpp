// Tilt processing: decoding of the sensor's pulse edge times, conversion to angles against
// the calibration store, and the calibration store and calibration runs.
#include "tilt/tilt.h"
#include "link/catalogue.h"
#include "platform/clock.h"
#include "protocol/senders.h"
#include <cmath>
#include <cstdlib>

namespace {

constexpr int ENTRIES = CALIBRATION_SLOTS + 1;
constexpr double INITIAL_REFERENCE = 444.0;
constexpr int MAX_WEIGHT = 100;
// A high-time change of one eighth of the period counts as a sine of 1 (90 degrees).
constexpr double FULL_SCALE = 0.125;
// The divisor of the degree conversion is this literal, not full-precision pi.
constexpr double PI_LITERAL = 3.14159;

// Up to ten calibrated periods with their zero-angle high times; entry 10 holds the
// weighted averages that readings of an uncalibrated period are measured against.
struct CalibrationStore {
  double period[ENTRIES];
  double xReference[ENTRIES];
  double yReference[ENTRIES];
  int32_t weight[ENTRIES];
  int32_t nextSlot;
};
CalibrationStore calibrationStore;

// Replies still expected in the current run (0: no run), the AND of the run's results and
// when its latest request went out.
struct CalibrationRun {
  int32_t remaining;
  int32_t ok;
  uint32_t requestedAtMs;
};
CalibrationRun calibrationRun = {0, 0, 0};

bool slotInUse(int s) { return calibrationStore.period[s] != EMPTY_PERIOD; }

double runningAverage(double old, int32_t n, double sample) {
  double weight = static_cast<double>(n);
  return (weight * old + sample) / (weight + 1.0);
}

// The 101st sample of a slot first halves every slot's weight, so old samples fade.
void countSample(int s) {
  if (calibrationStore.weight[s] >= MAX_WEIGHT) {
    for (int i = 0; i < CALIBRATION_SLOTS; ++i) calibrationStore.weight[i] /= 2;
  }
  calibrationStore.weight[s] += 1;
}

void recomputeAverages() {
  double w = 0.0, xSum = 0.0, ySum = 0.0;
  for (int s = 0; s < CALIBRATION_SLOTS; ++s) {
    if (!slotInUse(s)) continue;
    w += calibrationStore.weight[s];
    xSum += calibrationStore.weight[s] * calibrationStore.xReference[s];
    ySum += calibrationStore.weight[s] * calibrationStore.yReference[s];
  }
  if (w <= 0.0) return;   // only reachable if no slot is in use; the averages stay put
  calibrationStore.xReference[AVERAGE_ENTRY] = xSum / w;
  calibrationStore.yReference[AVERAGE_ENTRY] = ySum / w;
}

// A new period takes the ring's next slot, whatever it held.
void addCalibrationPoint(double period, int xHigh, int yHigh) {
  int s = calibrationStore.nextSlot;
  calibrationStore.period[s] = period;
  calibrationStore.xReference[s] = xHigh;
  calibrationStore.yReference[s] = yHigh;
  calibrationStore.weight[s] = 1;
  calibrationStore.nextSlot = (calibrationStore.nextSlot + 1) % CALIBRATION_SLOTS;
  recomputeAverages();
}

// Folds one sample in; false when it created a new calibration point, true when averaged.
bool calibrateSample(const Packet& packet) {
  TiltSample sample = decodeTiltSample(packet.bytes + 3);
  int s = findPeriodSlot(sample.period);
  if (s == AVERAGE_ENTRY) {
    addCalibrationPoint(sample.period, sample.xHigh, sample.yHigh);
    return false;
  }
  int32_t n = calibrationStore.weight[s];
  calibrationStore.xReference[s] = runningAverage(calibrationStore.xReference[s], n, sample.xHigh);
  calibrationStore.yReference[s] = runningAverage(calibrationStore.yReference[s], n, sample.yHigh);
  countSample(s);
  return true;
}

// Normalised tilt to degrees: one wrap into [-1, 1]; anything still outside, or NaN, is 0.
double tiltDegrees(double highTime, double reference, double period) {
  double v = (highTime - reference) / period / FULL_SCALE;
  if (v > 1.0) v -= 2.0;
  else if (v < -1.0) v += 2.0;
  if (!(v >= -1.0 && v <= 1.0)) return 0.0;
  return std::asin(v) * 180.0 / PI_LITERAL;
}

uint16_t edgeTime(const uint8_t* params, int index) {
  const uint8_t* edge = params + 2 * static_cast<size_t>(index);
  return static_cast<uint16_t>(edge[0] | (edge[1] << 8));
}

}  // namespace

void resetCalibrationStore() {
  for (int i = 0; i < ENTRIES; ++i) {
    calibrationStore.period[i] = EMPTY_PERIOD;
    calibrationStore.xReference[i] = INITIAL_REFERENCE;
    calibrationStore.yReference[i] = INITIAL_REFERENCE;
    calibrationStore.weight[i] = 0;
  }
  calibrationStore.nextSlot = 0;
}

// Edge times t0..t3 (X start, X end, Y start, Y end); differences are plain absolute
// differences, a timer wrap is not undone.
TiltSample decodeTiltSample(const uint8_t* params) {
  int t0 = edgeTime(params, 0), t1 = edgeTime(params, 1);
  int t2 = edgeTime(params, 2), t3 = edgeTime(params, 3);
  int a = std::abs(t1 - t0) % 65536;
  int b = std::abs(t2 - t0) % 65536;
  int c = std::abs(t3 - t0) % 65536;
  TiltSample sample;
  sample.xHigh = a;
  sample.yHigh = c - b;
  sample.period = c - 0.5 * (c - b) - 0.5 * a;
  return sample;
}

int findPeriodSlot(double period) {
  for (int s = 0; s < CALIBRATION_SLOTS; ++s) {
    if (calibrationStore.period[s] == period) return s;
  }
  return AVERAGE_ENTRY;
}

bool computeTilt(const Packet& packet, double* xDegrees, double* yDegrees) {
  TiltSample sample = decodeTiltSample(packet.bytes + 3);
  int s = findPeriodSlot(sample.period);
  *xDegrees = tiltDegrees(sample.xHigh, calibrationStore.xReference[s], sample.period);
  *yDegrees = tiltDegrees(sample.yHigh, calibrationStore.yReference[s], sample.period);
  return s != AVERAGE_ENTRY;
}

// During a run the next request goes out before this sample is processed. A reply outside a
// run (a lone "1d  Calibrate") is folded in and answered with its own result; it sends
// nothing and leaves the run state alone, so the count never drops below 0.
int handleCalibrateReply(const Packet& packet) {
  if (calibrationRun.remaining <= 0) {
    calibrationRun.remaining = 0;
    return calibrateSample(packet) ? 1 : 0;
  }
  calibrationRun.remaining -= 1;
  if (calibrationRun.remaining > 0) {
    calibrationRun.requestedAtMs = tickCountMs();
    sendSimpleCommand(cdgCalibrate);
  }
  int r = calibrateSample(packet) ? 1 : 0;
  calibrationRun.ok = calibrationRun.ok & r;
  return calibrationRun.ok;
}

bool calibrationRunInProgress() { return calibrationRun.remaining != 0; }

// A run is 12 requests, each sent as the previous reply arrives; a press during a run does
// nothing.
void startCalibration() {
  if (calibrationRunInProgress()) return;
  beginCalibrationRun();
  sendSimpleCommand(cdgCalibrate);
}

void beginCalibrationRun() {
  calibrationRun.remaining = CALIBRATION_RUN_LENGTH;
  calibrationRun.ok = 1;
  calibrationRun.requestedAtMs = tickCountMs();
}

int calibrationRemaining() { return calibrationRun.remaining; }

int calibrationOk() { return calibrationRun.ok; }

void resetCalibrationRun() { calibrationRun = {0, 0, 0}; }

int abandonCalibrationRun() {
  if (!calibrationRunInProgress()) return -1;
  int taken = CALIBRATION_RUN_LENGTH - calibrationRun.remaining;
  calibrationRun.remaining = 0;
  return taken;
}

// Unsigned difference, so the tick counter's wrap after 49 days does not matter.
bool calibrationReplyOverdue() {
  return calibrationRunInProgress() &&
         tickCountMs() - calibrationRun.requestedAtMs > CALIBRATION_REPLY_TIMEOUT_MS;
}

CalibrationEntry calibrationEntry(int index) {
  if (index < 0 || index >= ENTRIES) return CalibrationEntry{EMPTY_PERIOD, 0.0, 0.0, 0};
  return CalibrationEntry{calibrationStore.period[index], calibrationStore.xReference[index],
                          calibrationStore.yReference[index], calibrationStore.weight[index]};
}

int calibrationNextSlot() { return calibrationStore.nextSlot; }
