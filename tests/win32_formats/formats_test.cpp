// Formats that depend on the C runtime, checked byte for byte in the Windows build: traffic
// lines, electrode captions, tilt angles, data log lines and extended-precision sample codes.
// The expected texts are the native build's.
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "frontends/console/console_window.h"
#include "link/catalogue.h"
#include "app/dispatcher.h"
#include "resource.h"
#include "script/samples.h"
#include "tilt/tilt.h"
#include "../test_bytes.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

Bytes tiltFrame(std::initializer_list<int> counts) {
  Bytes p = {mdgTilt};
  for (int t : counts) p.push_back(static_cast<uint8_t>(t & 0xff)), p.push_back(static_cast<uint8_t>(t >> 8));
  return frameOf(p);
}

std::string text(int id) { return consoleControlText(Dialog::Main, id); }

class Formats : public ::testing::Test {
 protected:
  void SetUp() override {
    consoleWindowReset(&in_, &out_);
    stopDataLog();
    stopTrafficLog();
    setDataLogTimeStamps(false);
    resetCalibrationStore();
    clearElectrodeCodes();
    initMainDialog();
    consoleRunPostedCommands();
  }
  std::istringstream in_;
  std::ostringstream out_;
};

TEST_F(Formats, TrafficLines) {
  struct Case { Bytes payload; const char* line; };
  const Case received[] = {
      {{0x23, 0x05, 0x00}, "23 mdgScrArmed <05> <00>"},
      {{0x1c, 0x80, 0x90, 0xa0, 0xb0}, "1c mdgAllElectrodesDld <80> <90> <a0> <b0>"},
      {{0x0b}, "0b mdgEnteredModeIdle"}};
  for (const Case& c : received) {
    Bytes f = frameOf(c.payload);
    Packet p{f.data()};
    char line[256];
    int n = formatReceivedLine(line, sizeof line, p);
    EXPECT_EQ(std::string(line, n), c.line);
  }
  const uint8_t arm[] = {0x0f, 0x05, 0x00};
  showSentCommand(arm, 3);
  EXPECT_EQ(text(IDC_SENT_PANE), "0f cdgScrArm 05 00\r\n");
  EXPECT_EQ(text(IDC_RECEIVED_PANE), "\r\n");
}

TEST_F(Formats, ElectrodeCaptions) {
  const struct { int index; uint8_t code; const char* caption; } cases[] = {
      {0, 0, "1 (-2.56)"}, {0, 255, "1 (+2.54)"}, {0, 128, "1 (+0.00)"}, {1, 127, "2 (-0.02)"},
      {2, 200, "3 (+1.44)"}, {3, 1, "4 (-2.54)"}, {1, 144, "2 (+0.32)"}, {3, 176, "4 (+0.96)"}};
  const int captions[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};
  for (const auto& c : cases) {
    showElectrodeCode(c.index, c.code);
    EXPECT_EQ(text(captions[c.index]), c.caption);
  }
}

TEST_F(Formats, TiltAnglesInTheFields) {
  const struct { int t[4]; const char* x; const char* y; } cases[] = {
      {{0, 444, 1000, 1444}, "0.0000", "0.0000"},
      {{0, 444, 1000, 1569}, "0.0000", "70.2501"},
      {{0, 569, 1000, 1444}, "-68.9606", "0.0000"},
      {{100, 600, 1100, 1500}, "28.1369", "-21.7481"},
      {{0, 569, 1062, 1507}, "90.0001", "0.4584"}};
  for (const auto& c : cases) {
    Bytes f = tiltFrame({c.t[0], c.t[1], c.t[2], c.t[3]});
    handleDeviceMessage(Packet{f.data()});
    EXPECT_EQ(text(IDC_TILT_X), c.x);
    EXPECT_EQ(text(IDC_TILT_Y), c.y);
  }
}

TEST_F(Formats, DataLogLines) {
  const struct { uint8_t codes[4]; double x, y; const char* line; } cases[] = {
      {{127, 127, 127, 200}, 28.1369, -21.7481,
       "\t\t  -0.02\t  -0.02\t  -0.02\t  +1.44\t\t     28.1\t    -21.7\r\n"},
      {{0, 0, 0, 0}, 0.0, 0.0, "\t\t  -2.56\t  -2.56\t  -2.56\t  -2.56\t\t      0.0\t      0.0\r\n"},
      {{128, 255, 1, 100}, 90.0001, -0.04,
       "\t\t  +0.00\t  +2.54\t  -2.54\t  -0.56\t\t     90.0\t     -0.0\r\n"},
      {{127, 127, 127, 127}, -90.0001, 45.26,
       "\t\t  -0.02\t  -0.02\t  -0.02\t  -0.02\t\t    -90.0\t     45.3\r\n"}};
  for (const auto& c : cases) {
    for (int e = 1; e <= 4; ++e) setElectrodeCode(e, c.codes[e - 1]);
    char line[192];
    int n = formatDataLogLine(line, sizeof line, c.x, c.y);
    EXPECT_EQ(std::string(line, n), c.line);
  }
}

TEST_F(Formats, ExtendedPrecisionSampleCodes) {
  // Double precision would give 178 and 255 for the first two.
  const struct { const char* field; int code; } cases[] = {
      {"1", 177}, {"2.54", 254}, {"0", 128}, {"-2.56", 0}, {"0.5", 152}, {"-1", 78},
      {"2.55", 255}, {"2.56", 256}, {"-2.58", -1}, {"0.02", 129}, {"-0.02", 127}};
  for (const auto& c : cases) {
    int code = -12345;
    ASSERT_TRUE(sampleCode(c.field, &code)) << c.field;
    EXPECT_EQ(code, c.code) << c.field;
  }
}

}  // namespace
