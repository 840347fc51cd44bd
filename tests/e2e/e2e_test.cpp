// End-to-end tests of the host against the device simulator: both run as their own
// processes and meet on the simulator's pseudo-terminal, as a real device would be met.
#include "process_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <regex>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

// The log time stamp "%.2d\t%.2d\t%.2d.%.3d ".
const char* const STAMP = R"([0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\.[0-9]{3} )";

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(dir);
    ASSERT_TRUE(sim->ok()) << "kinestim-sim did not report its port";
    ASSERT_TRUE(harness::startConsole(console, {sim->port()}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  }
  void TearDown() override {
    console.sendLine(":quit");
    EXPECT_EQ(console.waitExit(), 0) << console.output();
    sim->control("quit");
  }
  // The value printed after a prefix such as "tilt x: ", read up to the line end.
  double valueAfter(const std::string& prefix) {
    EXPECT_TRUE(console.expect(prefix));
    EXPECT_TRUE(console.expect("\r\n"));
    const std::string& out = console.output();
    size_t end = out.rfind("\r\n");
    size_t start = out.rfind(prefix, end) + prefix.size();
    return std::atof(out.substr(start, end - start).c_str());
  }
  TempDir dir;
  std::unique_ptr<Simulator> sim;
  Process console;
};

TEST_F(EndToEnd, DirectModeEnablesTheSlidersAndDownloadsMoveThem) {
  // A knob turned on the device while Idle: its report moves the (still greyed) slider.
  sim->control("knob 3 160");
  ASSERT_TRUE(console.expect("electrode 3: 3 (+0.64)\r\n")) << console.output();
  EXPECT_EQ(console.output().find("electrode 3: enabled"), std::string::npos);

  console.sendLine("2");
  ASSERT_TRUE(console.expect("mode: Direct\r\n")) << console.output();
  ASSERT_TRUE(sim->waitForFrame("> 0b cdgDldAllElectrodes"));
  console.settle(200);
  // The knob's report and the answer to the download carry the same codes.
  EXPECT_EQ(sim->count("< 1c 7f 7f a0 7f mdgAllElectrodesDld"), 2);
  for (const char* line : {"electrode 1: enabled\r\n", "electrode 4: enabled\r\n"})
    EXPECT_NE(console.output().find(line), std::string::npos) << line;
  // The host asked for the codes once, right after the device entered Direct.
  EXPECT_EQ(sim->count("> 0b cdgDldAllElectrodes"), 1);

  // A dragged thumb (not released) moves only the caption; a download puts it back.
  console.sendLine(":slider-drag 1 50");
  ASSERT_TRUE(console.expect("electrode 1: 1 (-1.56)\r\n"));
  console.sendLine("0x0b");
  ASSERT_TRUE(console.expect("electrode 1: 1 (-0.02)\r\n")) << console.rest();
  EXPECT_EQ(sim->count("> 0b cdgDldAllElectrodes"), 2);
  console.sendLine(":show");
  EXPECT_TRUE(console.expect("electrode 1: 1 (-0.02), slider 127, enabled\r\n"));
  EXPECT_TRUE(console.expect("electrode 3: 3 (+0.64), slider 160, enabled\r\n"));
  for (const std::string& f : sim->frames('>')) EXPECT_EQ(f.rfind("09 ", 0), std::string::npos) << f;

  // Leaving Direct greys the sliders again.
  console.sendLine("3");
  ASSERT_TRUE(console.expect("mode: Idle\r\n"));
  EXPECT_NE(console.output().find("electrode 2: disabled\r\n", 0), std::string::npos);
}

TEST_F(EndToEnd, EachSliderReleaseOrKeySendsExactlyOneSetElectrode) {
  console.sendLine("2");
  ASSERT_TRUE(console.expect("mode: Direct\r\n"));
  ASSERT_TRUE(sim->waitForFrame("< 1c 7f 7f 7f 7f mdgAllElectrodesDld"));
  console.sendLine(":slider-drag 3 150");
  console.sendLine(":slider-drag 3 180");
  console.sendLine(":slider-drag 3 200");
  ASSERT_TRUE(console.expect("electrode 3: 3 (+1.44)\r\n"));
  console.settle(200);
  for (const std::string& f : sim->frames('>')) EXPECT_EQ(f.rfind("09 ", 0), std::string::npos) << f;

  const struct { const char* line; const char* frame; const char* caption; } steps[] = {
      {":slider 3 200", "> 09 03 c8 cdgSetElectrode", nullptr},   // the caption followed the drag
      {":slider-key 2 pagedown", "> 09 02 93 cdgSetElectrode", "electrode 2: 2 (+0.38)"},
      {":slider-key 2 up", "> 09 02 92 cdgSetElectrode", "electrode 2: 2 (+0.36)"},
      {":slider-key 4 end", "> 09 04 ff cdgSetElectrode", "electrode 4: 4 (+2.54)"},
      {":slider-key 4 down", "> 09 04 ff cdgSetElectrode", nullptr},   // already at the bottom
      {":slider-key 1 home", "> 09 01 00 cdgSetElectrode", "electrode 1: 1 (-2.56)"},
  };
  for (const auto& s : steps) {
    int before = sim->count(s.frame);
    console.sendLine(s.line);
    if (s.caption) {
      EXPECT_TRUE(console.expect(std::string(s.caption) + "\r\n")) << s.line;
    }
    ASSERT_TRUE(sim->waitForFrame(s.frame)) << s.line;
    console.settle(100);
    EXPECT_EQ(sim->count(s.frame), before + 1) << s.line;
  }
  std::vector<std::string> sets;
  for (const std::string& f : sim->frames('>'))
    if (f.rfind("09 ", 0) == 0) sets.push_back(f);
  EXPECT_EQ(sets.size(), 6u);
}

TEST_F(EndToEnd, CalibrationRunTakesTwelvePointsThenReadsLevel) {
  console.sendLine(":calibrate");
  ASSERT_TRUE(sim->waitForCount("> 1d cdgCalibrate", 12));
  console.settle(300);
  EXPECT_EQ(sim->frames('>').size(), 12u) << harness::readFile(sim->transcriptPath());
  int sent = 0, answered = 0;
  for (const std::string& f : sim->frames()) {
    if (f == "> 1d cdgCalibrate") ++sent;
    if (f.rfind("< 33 ", 0) == 0) ++answered;
  }
  EXPECT_EQ(sent, 12);
  EXPECT_EQ(answered, 12);

  // Calibrated at 0/0: a reading there is level and needs no recalibration.
  console.sendLine(":read-tilt");
  ASSERT_TRUE(sim->waitForFrame("> 1c cdgDldTilt"));
  double x = valueAfter("tilt x: ");
  double y = valueAfter("tilt y: ");
  EXPECT_NEAR(x, 0.0, 0.01);
  EXPECT_NEAR(y, 0.0, 0.01);
  EXPECT_EQ(console.output().find("recalibrate"), std::string::npos);
}

TEST_F(EndToEnd, TiltReadingShowsAndGoesToTheDataLog) {
  console.sendLine(":calibrate");
  ASSERT_TRUE(sim->waitForCount("> 1d cdgCalibrate", 12));
  sim->control("knob 4 200");
  ASSERT_TRUE(console.expect("electrode 4: 4 (+1.44)\r\n"));

  std::string log = dir.file("data.log");
  console.sendLine(":data-log");
  ASSERT_TRUE(console.expect("Save as: "));
  console.sendLine(log);
  console.settle(200);

  const struct { double x, y; } tilts[] = {{5.0, -3.0}, {-12.5, 20.0}};
  std::vector<std::pair<double, double>> shown;
  for (const auto& t : tilts) {
    char line[64];
    std::snprintf(line, sizeof line, "tilt %.1f %.1f", t.x, t.y);
    sim->control(line);
    console.settle(100);
    console.sendLine(":read-tilt");
    double x = valueAfter("tilt x: ");
    double y = valueAfter("tilt y: ");
    // The sensor reports whole ticks: one tick is about half a degree at this period.
    EXPECT_NEAR(x, t.x, 0.5);
    EXPECT_NEAR(y, t.y, 0.5);
    shown.emplace_back(x, y);
  }
  console.sendLine(":stop-data-log");
  console.settle(200);

  std::vector<std::string> lines = harness::readLines(log);
  ASSERT_EQ(lines.size(), 2u) << harness::readFile(log);
  for (size_t i = 0; i < lines.size(); ++i) {
    // Currents from the stored codes: 127, 127, 127 and the knob's 200.
    char rest[128];
    std::snprintf(rest, sizeof rest, "\t\t%+7.2f\t%+7.2f\t%+7.2f\t%+7.2f\t\t%9.1f\t%9.1f\r", -0.02, -0.02, -0.02,
                  1.44, shown[i].first, shown[i].second);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, std::regex(std::string("^") + STAMP + "([\\s\\S]*)$"))) << lines[i];
    EXPECT_EQ(m[1].str(), rest) << "line " << i;
  }
}

TEST_F(EndToEnd, DeviceFaultShowsTheWarningThenTheFaultName) {
  sim->control("fault WatchdogTimer");
  ASSERT_TRUE(console.expect("Warning: A Fault has occurred.  If possible send 'Clear Fault Status' and "
                             "continue.\r\nOtherwise restart the Kinestim\r\n(press Enter) "))
      << console.output();
  // While the box is open nothing more is read from the device.
  console.settle(300);
  EXPECT_EQ(console.rest().find("fault: "), std::string::npos) << console.rest();
  console.sendLine("");
  ASSERT_TRUE(console.expect("fault: WatchdogTimer\r\n")) << console.rest();
  ASSERT_TRUE(console.expect("status: *** Fault: WatchdogTimer ***\r\n"));

  // With a fault name in the mode field the Idle command sends nothing.
  size_t framesBefore = sim->frames('>').size();
  console.sendLine(":idle");
  console.settle(200);
  EXPECT_EQ(sim->frames('>').size(), framesBefore);

  console.sendLine("26");   // 1a Clear Fault Status
  ASSERT_TRUE(sim->waitForFrame("> 1a cdgClearFaultStatus"));
  console.settle(300);
  console.sendLine(":show");
  EXPECT_TRUE(console.expect("tilt buttons: enabled\r\n")) << console.rest();
}

TEST_F(EndToEnd, TrafficLogHoldsEverySentAndReceivedLine) {
  std::string log = dir.file("traffic.log");
  console.sendLine("73");
  ASSERT_TRUE(console.expect("Save as: "));
  console.sendLine(log);
  console.settle(200);
  console.sendLine(":show");
  ASSERT_TRUE(console.expect("traffic log: on\r\n"));

  console.sendLine(":advanced");   // shows the traffic, so the test can follow it
  console.sendLine("8");           // Dld Mode
  ASSERT_TRUE(console.expect("received: 1b mdgMode <02>\r\n")) << console.output();
  console.sendLine("2");
  ASSERT_TRUE(console.expect("mode: Direct\r\n"));
  ASSERT_TRUE(sim->waitForFrame("< 1c 7f 7f 7f 7f mdgAllElectrodesDld"));
  console.sendLine(":slider 2 144");
  ASSERT_TRUE(console.expect("received: 00 mdgCmdAccepted <09>\r\n"));
  console.sendLine("74");   // Stop Log
  console.settle(200);
  console.sendLine("8");    // after the stop: not logged
  ASSERT_TRUE(sim->waitForFrame("< 1b 03 mdgMode"));

  const char* expected[] = {
      "\t08 cdgDldMode",
      "\t\t\t1b mdgMode <02>",
      "\t02 cdgSelectModeDirect",
      "\t\t\t15 mdgModeDirectSelected",
      "\t\t\t0c mdgExitedModeIdle",
      "\t\t\t0d mdgEnteredModeDirect",
      "\t0b cdgDldAllElectrodes",
      "\t\t\t1c mdgAllElectrodesDld <7f> <7f> <7f> <7f>",
      "\t09 cdgSetElectrode 02 90",
      "\t\t\t00 mdgCmdAccepted <09>",
  };
  std::vector<std::string> lines = harness::readLines(log);
  ASSERT_EQ(lines.size(), std::size(expected)) << harness::readFile(log);
  const std::regex form(std::string("^") + STAMP + "(.*)\r$");
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, form)) << "line " << i << ": " << lines[i];
    EXPECT_EQ(m[1].str(), expected[i]) << "line " << i;
  }
  // The file ends with CR LF and holds nothing else.
  std::string all = harness::readFile(log);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all.substr(all.size() - 2), "\r\n");
}

TEST_F(EndToEnd, ScriptManagerUploadsAScriptAndListsItBack) {
  std::string source = dir.file("script.txt");
  {
    std::ofstream f(source, std::ios::binary);
    f << "SetElectrode 1 200\r\nDelay 5 ; settle\r\nSetAllElectrodes 128 144 160 176\r\nStop\r\n";
  }
  console.sendLine(":script-manager");
  ASSERT_TRUE(console.expect("script> "));
  ASSERT_TRUE(console.expect("mode: Program Script\r\n")) << console.output();
  ASSERT_TRUE(sim->waitForFrame("> 04 cdgSelectModePgmScr"));

  console.sendLine("address 0x10");
  ASSERT_TRUE(console.expect("address: 0x10\r\n"));
  console.sendLine("upload");
  ASSERT_TRUE(console.expect("Open: "));
  console.sendLine(dir.file("missing.txt"));
  ASSERT_TRUE(console.expect("File not found: " + dir.file("missing.txt") + "\r\nOpen: "));
  console.sendLine(source);
  ASSERT_TRUE(console.expect("compiler output: Build Successful\r\ncompiler output: \r\n"
                             "compiler output: Upload Successful\r\n"))
      << console.rest();
  EXPECT_EQ(sim->count("> 0d 10 00 02 01 c8 04 05 00 03 80 90 a0 b0 00 cdgSrcUldMem"), 1)
      << harness::readFile(sim->transcriptPath());

  console.sendLine("view");
  ASSERT_TRUE(console.expect("memory:   16\tSetElectrode\t1 200\r\n"
                             "memory:   19\tDelay\t\t5\r\n"
                             "memory:   22\tSetAllElectrodes\t128 144 160 176\r\n"
                             "memory:   27\tStop\r\n"))
      << console.rest();
  console.sendLine("close");
  ASSERT_TRUE(console.expect("Script Manager closed.\r\n"));
  // Back at the main window: its commands work again.
  console.sendLine(":show");
  EXPECT_TRUE(console.expect("mode: Program Script\r\n"));
}

}  // namespace
