// Tilt decoding, angle conversion and the calibration store, fed with real message frames.
#include "host_fixture.h"
#include "link/catalogue.h"
#include "tilt/tilt.h"
#include <cstdio>
#include <vector>

namespace {

// A whole mdgTilt or mdgCalibrate frame carrying four little-endian edge times.
Bytes tiltFrame(uint8_t code, std::initializer_list<int> times) {
  Bytes payload{code};
  for (int t : times) payload.insert(payload.end(), {static_cast<uint8_t>(t & 0xff), static_cast<uint8_t>(t >> 8)});
  return frameOf(payload);
}

// The angles of a reading as the X and Y fields show them, and whether its period was calibrated.
std::string reading(int t0, int t1, int t2, int t3) {
  Bytes frame = tiltFrame(mdgTilt, {t0, t1, t2, t3});
  double x = -99.0, y = -99.0;
  char shown[64];
  const bool calibrated = computeTilt(Packet{frame.data()}, &x, &y);
  std::snprintf(shown, sizeof shown, "%.4f %.4f%s", x, y, calibrated ? " calibrated" : "");
  return shown;
}

// One calibration sample outside a run whose period is exactly `period` (t0 = 0); its own
// result (0: new point, 1: averaged).
int calibratePeriod(double period, int xHigh, int yHigh) {
  int twiceB = static_cast<int>(2 * period) + xHigh - yHigh;  // period = (b + c - a) / 2, c - b = yHigh
  Bytes frame = tiltFrame(mdgCalibrate, {0, xHigh, twiceB / 2, twiceB / 2 + yHigh});
  return handleCalibrateReply(Packet{frame.data()});
}

using TiltTest = HostTest;

TEST_F(TiltTest, MeasuresAgainstTheInitialReferences) {
  const struct { int t[4]; const char* shown; } readings[] = {
      {{0, 569, 1000, 1444}, "-68.9606 0.0000"},  // X normalised 1.0667 wraps once to -0.9333
      {{0, 569, 1062, 1507}, "90.0001 0.4584"},  // a sine of exactly 1: the 3.14159 divisor shows 90.0001
      {{0, 319, 937, 1382}, "-90.0001 0.4584"},  // and of exactly -1: full tilt the other way
      {{0, 484, 200, 484}, "0.0000 0.0000"},     // period 100: X 3.2 stays outside [-1, 1] after one wrap
      {{0, 0, 0, 0}, "0.0000 0.0000"},           // a period of 0 gives no number
      {{0, 65535, 1000, 1444}, "0.0000 -0.0000"}};  // the widest X time is kept: the period falls below 0
  for (const auto& c : readings) EXPECT_EQ(reading(c.t[0], c.t[1], c.t[2], c.t[3]), c.shown);
}

// The first sample of a period sets its slot and the averages; averaging into the slot leaves
// the averages alone; a new point weighs them by sample count. Periods half a tick apart are
// different slots; an eleventh period reuses the first slot whatever its weight; the
// hundred-and-first sample of a slot halves every weight.
TEST_F(TiltTest, SlotsAndAveragesFollowTheSamples) {
  EXPECT_EQ(calibratePeriod(1000.0, 400, 420), 0);
  EXPECT_EQ(reading(0, 400, 990, 1410), "0.0000 0.0000 calibrated");
  ASSERT_EQ(calibratePeriod(1000.0, 460, 480) + calibratePeriod(1000.0, 430, 390), 2);
  const CalibrationEntry slot = calibrationEntry(0), average = calibrationEntry(AVERAGE_ENTRY);
  // (400 + 460) / 2, then (2 * 430 + 430) / 3; Y: (420 + 480) / 2, then (2 * 450 + 390) / 3
  EXPECT_EQ(std::vector<double>({slot.period, slot.xReference, slot.yReference, average.xReference, average.yReference,
                                 1.0 * slot.weight}),
            (std::vector<double>{1000.0, 430.0, 430.0, 400.0, 420.0, 3.0}));
  EXPECT_EQ(calibratePeriod(800.0, 530, 274), 0);  // slot 1: weight 1
  EXPECT_EQ(std::vector<double>({calibrationEntry(AVERAGE_ENTRY).xReference, calibrationEntry(AVERAGE_ENTRY).yReference}),
            (std::vector<double>{(3 * 430.0 + 530.0) / 4, (3 * 430.0 + 274.0) / 4}));
  // An uncalibrated period (975) is measured against those averages (455, 391).
  EXPECT_EQ(reading(0, 455, 1007, 1398), "0.0000 0.0000");
  EXPECT_EQ(calibratePeriod(1000.5, 401, 400), 0);
  EXPECT_EQ(std::vector<int>({findPeriodSlot(1000.5), findPeriodSlot(999.5), calibrationNextSlot()}),
            (std::vector<int>{2, AVERAGE_ENTRY, 3}));
  for (int i = 3; i < 10; ++i) ASSERT_EQ(calibratePeriod(500.0 + 10 * i, 400, 400), 0);
  EXPECT_EQ(calibrationNextSlot(), 0);
  EXPECT_EQ(calibratePeriod(2000.0, 300, 200), 0);
  const CalibrationEntry first = calibrationEntry(0);
  EXPECT_EQ(std::vector<double>({first.period, 1.0 * first.weight, first.xReference, 1.0 * calibrationNextSlot()}),
            (std::vector<double>{2000.0, 1.0, 300.0, 1.0}));
  EXPECT_EQ(findPeriodSlot(1000.0), AVERAGE_ENTRY);  // the first period is gone
  // The hundred-and-first sample of a slot halves every weight.
  for (int i = 0; i < 99; ++i) calibratePeriod(2000.0, 300, 200);
  for (int i = 0; i < 7; ++i) calibratePeriod(1000.5, 401, 400);
  ASSERT_EQ(calibrationEntry(0).weight, 100);
  calibratePeriod(2000.0, 300, 200);
  std::vector<int> weights;
  for (int i = 0; i < 4; ++i) weights.push_back(calibrationEntry(i).weight);
  EXPECT_EQ(weights, std::vector<int>({51, 0, 4, 0}));  // 100 / 2 and the new sample, 1 / 2, 8 / 2
}

}  // namespace
