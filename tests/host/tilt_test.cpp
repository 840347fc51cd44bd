// Tilt decoding, angle conversion and the calibration store, fed with real message frames.
#include "host_fixture.h"
#include "protocol/catalogue.h"
#include "tilt/tilt.h"
#include <cstdio>
#include <vector>

namespace {

// A whole mdgTilt or mdgCalibrate frame carrying four little-endian edge times.
std::vector<uint8_t> tiltFrame(uint8_t code, int t0, int t1, int t2, int t3) {
  std::vector<uint8_t> f = {0xAA, 9, code};
  for (int t : {t0, t1, t2, t3}) {
    f.push_back(static_cast<uint8_t>(t & 0xff));
    f.push_back(static_cast<uint8_t>((t >> 8) & 0xff));
  }
  unsigned sum = 0;
  for (size_t i = 2; i < f.size(); ++i) sum += f[i];
  f.push_back(static_cast<uint8_t>(sum & 0xff));
  f.push_back(0x55);
  return f;
}

std::string fourDecimals(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", v);
  return text;
}

class TiltTest : public HostTest {
 protected:
  // Angles of a reading, as the X and Y fields show them.
  std::pair<std::string, std::string> reading(int t0, int t1, int t2, int t3, bool* calibrated = nullptr) {
    std::vector<uint8_t> frame = tiltFrame(mdgTilt, t0, t1, t2, t3);
    Packet p{frame.data()};
    double x = -99.0, y = -99.0;
    bool c = computeTilt(p, &x, &y);
    if (calibrated != nullptr) *calibrated = c;
    return {fourDecimals(x), fourDecimals(y)};
  }
  // One calibration sample outside a run; its own result (0: new point, 1: averaged).
  int calibrate(int t0, int t1, int t2, int t3) {
    std::vector<uint8_t> frame = tiltFrame(mdgCalibrate, t0, t1, t2, t3);
    Packet p{frame.data()};
    return handleCalibrateReply(p);
  }
  // A sample whose period is exactly `period` (a whole or half number) with the given highs.
  int calibratePeriod(double period, int xHigh, int yHigh) {
    // period = (b + c - a) / 2 with c - b = yHigh; choose t0 = 0.
    int twiceB = static_cast<int>(2 * period) + xHigh - yHigh;
    EXPECT_EQ(twiceB % 2, 0) << "pick highs that give a whole b";
    int b = twiceB / 2;
    return calibrate(0, xHigh, b, b + yHigh);
  }
};

TEST_F(TiltTest, DecodesHighTimesAndPeriod) {
  const uint8_t plain[8] = {0x00, 0x00, 0xbc, 0x01, 0xe8, 0x03, 0xa4, 0x05};   // 0 444 1000 1444
  TiltSample s = decodeTiltSample(plain);
  EXPECT_EQ(s.xHigh, 444);
  EXPECT_EQ(s.yHigh, 444);
  EXPECT_EQ(s.period, 1000.0);
  // Y start before the X start (a timer wrap): plain absolute differences, not unwrapped.
  const uint8_t wrapped[8] = {0xe8, 0x03, 0xac, 0x05, 0xf4, 0x01, 0x84, 0x03};  // 1000 1452 500 900
  s = decodeTiltSample(wrapped);
  EXPECT_EQ(s.xHigh, 452);
  EXPECT_EQ(s.yHigh, 100 - 500);
  EXPECT_EQ(s.period, (500 + 100 - 452) / 2.0);
  // Edge times near the top of the 16-bit range keep their full value.
  const uint8_t high[8] = {0x00, 0x00, 0xff, 0xff, 0x00, 0x00, 0x01, 0x00};    // 0 65535 0 1
  s = decodeTiltSample(high);
  EXPECT_EQ(s.xHigh, 65535);
  EXPECT_EQ(s.yHigh, 1);
  EXPECT_EQ(s.period, (0 + 1 - 65535) / 2.0);
}

struct AngleCase { int t[4]; const char* x; const char* y; };

class FreshStoreAngleTest : public TiltTest, public ::testing::WithParamInterface<AngleCase> {};

TEST_P(FreshStoreAngleTest, MeasuresAgainstTheInitialReferences) {
  const AngleCase& c = GetParam();
  bool calibrated = true;
  auto [x, y] = reading(c.t[0], c.t[1], c.t[2], c.t[3], &calibrated);
  EXPECT_EQ(x, c.x);
  EXPECT_EQ(y, c.y);
  EXPECT_FALSE(calibrated);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, FreshStoreAngleTest,
    ::testing::Values(
        AngleCase{{0, 444, 1000, 1444}, "0.0000", "0.0000"},
        AngleCase{{0, 444, 1000, 1569}, "0.0000", "70.2501"},
        // X normalised 1.0667 wraps once to -0.9333.
        AngleCase{{0, 569, 1000, 1444}, "-68.9606", "0.0000"},
        AngleCase{{100, 600, 1100, 1500}, "28.1369", "-21.7481"},
        // Exactly a sine of 1: the 3.14159 divisor shows 90.0001, not 90.0000.
        AngleCase{{0, 569, 1062, 1507}, "90.0001", "0.4584"},
        // Period 100: X normalised 3.2 stays outside [-1, 1] after one wrap, so 0; Y is -12.8.
        AngleCase{{0, 484, 200, 484}, "0.0000", "0.0000"},
        // A period of 0 gives no number: both angles 0.
        AngleCase{{0, 0, 0, 0}, "0.0000", "0.0000"}));

TEST_F(TiltTest, FirstSampleCreatesSlotZeroAndSetsTheAverages) {
  EXPECT_EQ(calibrate(0, 500, 1000, 1400), 0);   // a = 500, yHigh = 400, period 950
  CalibrationEntry slot = calibrationEntry(0);
  EXPECT_EQ(slot.period, 950.0);
  EXPECT_EQ(slot.xReference, 500.0);
  EXPECT_EQ(slot.yReference, 400.0);
  EXPECT_EQ(slot.weight, 1);
  EXPECT_EQ(calibrationEntry(AVERAGE_ENTRY).xReference, 500.0);
  EXPECT_EQ(calibrationEntry(AVERAGE_ENTRY).yReference, 400.0);
  EXPECT_EQ(calibrationNextSlot(), 1);
  EXPECT_EQ(calibrationRemaining(), 0);
  // A reading with the same period and high times reads level and calibrated.
  bool calibrated = false;
  auto [x, y] = reading(0, 500, 1000, 1400, &calibrated);
  EXPECT_EQ(x, "0.0000");
  EXPECT_EQ(y, "0.0000");
  EXPECT_TRUE(calibrated);
}

TEST_F(TiltTest, AveragingIntoASlotLeavesTheAveragesEntryAlone) {
  ASSERT_EQ(calibratePeriod(1000.0, 400, 420), 0);
  ASSERT_EQ(calibratePeriod(1000.0, 460, 480), 1);
  ASSERT_EQ(calibratePeriod(1000.0, 430, 390), 1);
  CalibrationEntry slot = calibrationEntry(0);
  EXPECT_EQ(slot.weight, 3);
  // Running average: (1 * 400 + 460) / 2 = 430, then (2 * 430 + 430) / 3 = 430.
  EXPECT_DOUBLE_EQ(slot.xReference, 430.0);
  // (420 + 480) / 2 = 450, then (2 * 450 + 390) / 3 = 430.
  EXPECT_DOUBLE_EQ(slot.yReference, 430.0);
  EXPECT_EQ(calibrationEntry(AVERAGE_ENTRY).xReference, 400.0);
  EXPECT_EQ(calibrationEntry(AVERAGE_ENTRY).yReference, 420.0);
}

TEST_F(TiltTest, NewPointWeighsTheAveragesBySampleCount) {
  calibratePeriod(1000.0, 400, 400);
  calibratePeriod(1000.0, 400, 400);
  calibratePeriod(1000.0, 400, 400);   // slot 0: weight 3, references 400
  calibratePeriod(800.0, 500, 300);    // slot 1: weight 1
  EXPECT_DOUBLE_EQ(calibrationEntry(AVERAGE_ENTRY).xReference, (3 * 400.0 + 500.0) / 4);
  EXPECT_DOUBLE_EQ(calibrationEntry(AVERAGE_ENTRY).yReference, (3 * 400.0 + 300.0) / 4);
  // An uncalibrated period is measured against those averages.
  bool calibrated = true;
  auto [x, y] = reading(0, 425, 1000, 1375, &calibrated);   // xHigh 425, yHigh 375, period 975
  EXPECT_FALSE(calibrated);
  EXPECT_EQ(x, "0.0000");
  EXPECT_EQ(y, "0.0000");
}

TEST_F(TiltTest, PeriodsHalfATickApartAreDifferentSlots) {
  EXPECT_EQ(calibratePeriod(1000.0, 400, 400), 0);
  EXPECT_EQ(calibratePeriod(1000.5, 401, 400), 0);
  EXPECT_EQ(calibrationEntry(0).period, 1000.0);
  EXPECT_EQ(calibrationEntry(1).period, 1000.5);
  EXPECT_EQ(findPeriodSlot(1000.5), 1);
  EXPECT_EQ(findPeriodSlot(999.5), AVERAGE_ENTRY);
}

TEST_F(TiltTest, EleventhPeriodReusesTheFirstSlot) {
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(calibratePeriod(500.0 + 10 * i, 400, 400), 0);
    calibratePeriod(500.0 + 10 * i, 400, 400);   // weight 2 each, to show weight is ignored
  }
  EXPECT_EQ(calibrationNextSlot(), 0);
  EXPECT_EQ(calibratePeriod(2000.0, 300, 200), 0);
  EXPECT_EQ(calibrationEntry(0).period, 2000.0);
  EXPECT_EQ(calibrationEntry(0).weight, 1);
  EXPECT_EQ(calibrationEntry(0).xReference, 300.0);
  EXPECT_EQ(calibrationNextSlot(), 1);
  EXPECT_EQ(findPeriodSlot(500.0), AVERAGE_ENTRY);   // the first period is gone
  EXPECT_EQ(calibrationEntry(1).period, 510.0);
}

TEST_F(TiltTest, HundredAndFirstSampleHalvesEveryWeight) {
  calibratePeriod(1000.0, 400, 400);
  for (int i = 0; i < 99; ++i) calibratePeriod(1000.0, 400, 400);
  for (int i = 0; i < 7; ++i) calibratePeriod(600.0, 400, 400);
  for (int i = 0; i < 2; ++i) calibratePeriod(700.0, 400, 400);
  ASSERT_EQ(calibrationEntry(0).weight, 100);
  ASSERT_EQ(calibrationEntry(1).weight, 7);
  ASSERT_EQ(calibrationEntry(2).weight, 2);
  calibratePeriod(1000.0, 400, 400);
  EXPECT_EQ(calibrationEntry(0).weight, 51);
  EXPECT_EQ(calibrationEntry(1).weight, 3);
  EXPECT_EQ(calibrationEntry(2).weight, 1);
  EXPECT_EQ(calibrationEntry(3).weight, 0);
}

TEST_F(TiltTest, ResetEmptiesEveryEntry) {
  calibratePeriod(1000.0, 400, 400);
  resetCalibrationStore();
  for (int i = 0; i <= AVERAGE_ENTRY; ++i) {
    CalibrationEntry e = calibrationEntry(i);
    EXPECT_EQ(e.period, EMPTY_PERIOD);
    EXPECT_EQ(e.xReference, 444.0);
    EXPECT_EQ(e.yReference, 444.0);
    EXPECT_EQ(e.weight, 0);
  }
  EXPECT_EQ(calibrationNextSlot(), 0);
}

}  // namespace
