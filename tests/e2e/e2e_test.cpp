// End-to-end tests of the host against the device simulator: both run as their own
// processes and meet on the simulator's pseudo-terminal, as a real device would be met.
#include "e2e_fixture.h"

#include <regex>

namespace {

// A log line: the time stamp "%.2d\t%.2d\t%.2d.%.3d " and the rest, up to the CR.
const std::regex LOG_LINE(R"(^[0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\.[0-9]{3} (.*)\r$)");

std::vector<std::string> logLines(const std::string& path) {
  std::vector<std::string> out;
  std::smatch m;
  for (const std::string& line : harness::readLines(path)) out.push_back(std::regex_match(line, m, LOG_LINE) ? m[1].str() : "bad: " + line);
  return out;
}

TEST_F(EndToEnd, DirectModeEnablesTheSlidersAndDownloadsMoveThem) {
  sim.control("knob 3 160");   // turned on the device while Idle: the greyed slider moves
  ASSERT_TRUE(console.expect("electrode 3: 3 (+0.64)\r\n")) << console.output();
  EXPECT_EQ(console.output().find("electrode 3: enabled"), std::string::npos);
  console.sendLine("2");
  ASSERT_TRUE(console.expect("mode: Direct\r\n")) << console.output();
  ASSERT_TRUE(sim.waitForFrame("> 0b cdgDldAllElectrodes"));
  console.settle(200);
  EXPECT_EQ(sim.count("< 1c 7f 7f a0 7f mdgAllElectrodesDld"), 2) << "the knob's report and the download's answer";
  EXPECT_EQ(sent("0b ").size(), 1u) << "asked once, right after the device entered Direct";
  for (const char* line : {"electrode 1: enabled\r\n", "electrode 4: enabled\r\n"}) EXPECT_NE(console.output().find(line), std::string::npos) << line;
  // A dragged thumb (not released) moves only the caption; a download puts it back.
  console.sendLine(":slider-drag 1 50");
  ASSERT_TRUE(console.expect("electrode 1: 1 (-1.56)\r\n"));
  console.sendLine("0x0b");
  ASSERT_TRUE(console.expect("electrode 1: 1 (-0.02)\r\n")) << console.rest();
  console.sendLine(":show");
  EXPECT_TRUE(console.expect("electrode 1: 1 (-0.02), slider 127, enabled\r\n"));
  EXPECT_TRUE(console.expect("electrode 3: 3 (+0.64), slider 160, enabled\r\n"));
  console.sendLine("3");
  ASSERT_TRUE(console.expect("mode: Idle\r\n"));
  EXPECT_NE(console.output().find("electrode 2: disabled\r\n"), std::string::npos) << "leaving Direct greys them again";
  EXPECT_TRUE(sent("09 ").empty());
}

// Each slider release or key, and each accepted typed number, sends exactly its frame; typed
// text that is not one whole number in range is refused and sends nothing.
TEST_F(EndToEnd, EachSliderMoveOrTypedNumberSendsExactlyItsFrameAndRefusalsSendNothing) {
  console.sendLine("2");
  ASSERT_TRUE(sim.waitForFrame("< 1c 7f 7f 7f 7f mdgAllElectrodesDld"));
  for (const char* drag : {":slider-drag 3 150", ":slider-drag 3 180", ":slider-drag 3 200"}) console.sendLine(drag);
  ASSERT_TRUE(console.expect("electrode 3: 3 (+1.44)\r\n"));
  console.settle(200);
  EXPECT_TRUE(sent("09 ").empty()) << "dragging sends nothing";
  const std::string current = "Warning: Current must be a number from 0 to 255, not ";
  const struct { std::string line; const char* frame; std::string caption; } steps[] = {
      {":slider 3 200", "09 03 c8 cdgSetElectrode", ""},   // the caption followed the drag
      {":slider-key 2 pagedown", "09 02 93 cdgSetElectrode", "electrode 2: 2 (+0.38)\r\n"},
      {":slider-key 2 up", "09 02 92 cdgSetElectrode", "electrode 2: 2 (+0.36)\r\n"},
      {":slider-key 4 end", "09 04 ff cdgSetElectrode", "electrode 4: 4 (+2.54)\r\n"},
      {":slider-key 4 down", "09 04 ff cdgSetElectrode", ""},   // already at the bottom
      {":slider-key 1 home", "09 01 00 cdgSetElectrode", "electrode 1: 1 (-2.56)\r\n"},
      {":slider 1 0200", "09 01 80 cdgSetElectrode", "electrode 1: 1 (+0.00)\r\n"},   // octal, as in a dialog
      {":slider 0x4 0x90", "09 04 90 cdgSetElectrode", "electrode 4: 4 (+0.32)\r\n"},
      {":slider 1 300", "", "Not a slider position: 300 (0 to 255)\r\n"},
      {":slider 2 -40", "", "Not a slider position: -40 (0 to 255)\r\n"},
      {":slider 3 999999999", "", "Not a slider position: 999999999 (0 to 255)\r\n"},
      {":slider 2 1.5", "", "Not a slider position: 1.5 (0 to 255)\r\n"},
      {":slider 1e 100", "", "Usage: :slider N POS\r\n"},
      // Set Electrode's dialog: a refusal, Enter for the Warning, "." to cancel.
      {"9\n2\n1.44\n\n.", "", current + "\"1.44\"\r\n"},
      {"9\n2\n-0.5\n\n.", "", current + "\"-0.5\"\r\n"},
      {"9\n2\n0x\n\n.", "", current + "\"0x\"\r\n"},
      {"9\n2\n12mA\n\n.", "", current + "\"12mA\"\r\n"},
      {"9\n2\n\n\n.", "", current + "\"\"\r\n"},
      {"9\n2.5\n1\n\n.", "", "Warning: Electrode must be a number from 0 to 255, not \"2.5\"\r\n"},
      {"10\n1\n2\n5 6\n4\n\n.", "", "Warning: Current 3 must be a number from 0 to 255, not \"5 6\"\r\n"},
      {"9\n 2 \n0x90", "09 02 90 cdgSetElectrode", "electrode 2: 2 (+0.32)\r\n"},
      {"10\n1\n2\n3\n0377", "0a 01 02 03 ff cdgSetAllElectrodes", "electrode 4: 4 (+2.54)\r\n"},
      // The Command box.
      {"12mA\n", "", "Warning: Command must be a number from 0 to 9999, not \"12mA\"\r\n"},
      {"2 3\n", "", "Warning: Command must be a number from 0 to 9999, not \"2 3\"\r\n"},
      {"0x\n", "", "Warning: Command must be a number from 0 to 9999, not \"0x\"\r\n"},
      {"0xb", "0b cdgDldAllElectrodes", ""}};
  for (const auto& s : steps) {
    const size_t before = sim.frames('>').size();
    console.sendLine(s.line);
    EXPECT_TRUE(console.expect(s.caption)) << s.line << "\n" << console.rest();
    const bool sends = *s.frame != '\0';
    EXPECT_TRUE(!sends || sim.waitForFrame("> " + std::string(s.frame))) << s.line;
    console.settle(150);
    const std::vector<std::string> frames = sim.frames('>');
    ASSERT_EQ(frames.size(), before + (sends ? 1 : 0)) << s.line;
    EXPECT_TRUE(!sends || frames.back() == s.frame) << s.line << ": " << frames.back();
  }
}

TEST_F(EndToEnd, CalibrationTakesTwelveReadingsAndTiltReadingsShowAndGoToTheDataLog) {
  console.sendLine(":calibrate");
  ASSERT_TRUE(sim.waitForCount("> 1d cdgCalibrate", 12));
  console.settle(300);
  EXPECT_EQ(sim.frames('>'), std::vector<std::string>(12, "1d cdgCalibrate"));
  int answers = 0;
  for (const std::string& f : sim.frames('<')) answers += f.rfind("33 ", 0) == 0;
  EXPECT_EQ(answers, 12);
  sim.control("knob 4 200");
  ASSERT_TRUE(console.expect("electrode 4: 4 (+1.44)\r\n"));
  console.sendLine(":data-log");
  ASSERT_TRUE(console.expect("Save as: "));
  console.sendLine(dir.file("data.log"));
  console.settle(200);
  std::vector<std::string> expected;
  for (const auto& t : {std::pair{0.0, 0.0}, {5.0, -3.0}, {-12.5, 20.0}}) {
    sim.control("tilt " + std::to_string(t.first) + " " + std::to_string(t.second));
    console.settle(100);
    console.sendLine(":read-tilt");
    double shown[2];
    for (int k = 0; k < 2; ++k) {
      ASSERT_TRUE(console.expect(k == 0 ? "tilt x: " : "tilt y: ") && console.expect("\r\n")) << console.rest();
      const std::string& out = console.output();
      shown[k] = std::atof(out.substr(out.rfind(": ", out.size() - console.rest().size()) + 2).c_str());
    }
    // Whole sensor ticks: about half a degree at this period; exact at the calibration point.
    EXPECT_NEAR(shown[0], t.first, t.first == 0 ? 0.01 : 0.5);
    EXPECT_NEAR(shown[1], t.second, t.second == 0 ? 0.01 : 0.5);
    char line[128];   // currents from the stored codes 127, 127, 127 and the knob's 200
    std::snprintf(line, sizeof line, "\t\t%+7.2f\t%+7.2f\t%+7.2f\t%+7.2f\t\t%9.1f\t%9.1f", -0.02, -0.02, -0.02, 1.44, shown[0], shown[1]);
    expected.push_back(line);
  }
  EXPECT_EQ(console.output().find("recalibrate"), std::string::npos);
  console.sendLine(":stop-data-log");
  console.settle(200);
  EXPECT_EQ(logLines(dir.file("data.log")), expected);
}

TEST_F(EndToEnd, DeviceFaultShowsTheWarningThenTheFaultName) {
  sim.control("fault WatchdogTimer");
  ASSERT_TRUE(console.expect("Warning: A Fault has occurred.  If possible send 'Clear Fault Status' and continue.\r\n"
                             "Otherwise restart the Kinestim\r\n(press Enter) ")) << console.output();
  console.settle(300);
  EXPECT_EQ(console.rest().find("fault: "), std::string::npos) << "nothing more is read while the box is open";
  console.sendLine("");
  ASSERT_TRUE(console.expect("fault: WatchdogTimer\r\n")) << console.rest();
  ASSERT_TRUE(console.expect("status: *** Fault: WatchdogTimer ***\r\n"));
  const size_t framesBefore = sim.frames('>').size();
  console.sendLine(":idle");   // with a fault name in the mode field Idle sends nothing
  console.settle(200);
  EXPECT_EQ(sim.frames('>').size(), framesBefore);
  console.sendLine("26");   // 1a Clear Fault Status
  ASSERT_TRUE(sim.waitForFrame("> 1a cdgClearFaultStatus"));
  console.settle(300);
  console.sendLine(":show");
  EXPECT_TRUE(console.expect("tilt buttons: enabled\r\n")) << console.rest();
}

TEST_F(EndToEnd, TrafficLogHoldsEverySentAndReceivedLine) {
  console.sendLine("73");
  ASSERT_TRUE(console.expect("Save as: "));
  console.sendLine(dir.file("traffic.log"));
  console.settle(200);
  console.sendLine(":advanced");   // shows the traffic, so the test can follow it
  console.sendLine("8");           // Dld Mode
  ASSERT_TRUE(console.expect("received: 1b mdgMode <02>\r\n")) << console.output();
  console.sendLine("2");
  ASSERT_TRUE(sim.waitForFrame("< 1c 7f 7f 7f 7f mdgAllElectrodesDld"));
  console.sendLine(":slider 2 144");
  ASSERT_TRUE(console.expect("received: 00 mdgCmdAccepted <09>\r\n"));
  console.sendLine("74");   // Stop Log
  console.settle(200);
  console.sendLine("8");    // after the stop: not logged
  ASSERT_TRUE(sim.waitForFrame("< 1b 03 mdgMode"));
  EXPECT_EQ(logLines(dir.file("traffic.log")), (std::vector<std::string>{
      "\t08 cdgDldMode", "\t\t\t1b mdgMode <02>", "\t02 cdgSelectModeDirect", "\t\t\t15 mdgModeDirectSelected",
      "\t\t\t0c mdgExitedModeIdle", "\t\t\t0d mdgEnteredModeDirect", "\t0b cdgDldAllElectrodes",
      "\t\t\t1c mdgAllElectrodesDld <7f> <7f> <7f> <7f>", "\t09 cdgSetElectrode 02 90", "\t\t\t00 mdgCmdAccepted <09>"}));
  const std::string all = harness::readFile(dir.file("traffic.log"));
  EXPECT_EQ(all.substr(all.size() - 2), "\r\n");
}

}  // namespace
