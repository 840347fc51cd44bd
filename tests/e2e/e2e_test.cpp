// End-to-end tests: kinestim-console (and kinestim-script) against kinestim-sim, each as its own
// process, meeting on the simulator's pseudo-terminal as a real device would be met.
#include "process_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sys/stat.h>

namespace {

// The simulator and the console on its port at Idle; both end cleanly after the test.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.ok()) << "kinestim-sim did not report its port";
    ASSERT_TRUE(harness::startConsole(console, {sim.port()}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  }
  void TearDown() override {
    console.sendLine(":quit");
    EXPECT_EQ(console.waitExit(), 0) << console.output();
    sim.control("quit");
  }
  // The text between the next `label` and the line end, which is consumed.
  std::string next(const std::string& label) {
    if (!console.expect(label) || !console.expect("\r\n")) return "missing: " + label;
    const size_t end = console.output().size() - console.rest().size() - 2;
    const size_t start = console.output().rfind(label, end) + label.size();
    return console.output().substr(start, end - start);
  }
  // The log's lines without their time stamp ("%.2d\t%.2d\t%.2d.%.3d "); each must end in CR.
  std::vector<std::string> logLines(const std::string& name) const {
    static const std::regex stamped(R"(^[0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\.[0-9]{3} (.*)\r$)");
    std::vector<std::string> out;
    std::smatch m;
    for (const std::string& line : harness::readLines(dir.file(name)))
      out.push_back(std::regex_match(line, m, stamped) ? m[1].str() : "bad: " + line);
    return out;
  }
  harness::TempDir dir;
  harness::Simulator sim{dir};
  harness::Process console;
};

// The port argument: text that names no port is refused before anything is opened; a port
// that cannot be opened says which and why. The refused permission is met as an ordinary user
// on a port of the dialout group.
TEST(PortArgument, RefusesWhatNamesNoPortAndSaysWhyAPortDidNotOpen) {
  harness::TempDir dir;
  harness::Simulator sim{dir};
  ASSERT_TRUE(sim.ok());
  const bool root = geteuid() == 0;
  if (root) {   // the simulator's port as a serial port of the dialout group
    ASSERT_EQ(chown(sim.port().c_str(), 0, 20), 0);
    ASSERT_EQ(chmod(sim.port().c_str(), 0660), 0);
  }
  const std::string refused = "\" is not a port: give a port number from 1 to 9999 (1 is /dev/ttyS0), or a device "
                              "path such as /dev/ttyUSB0\nUsage: ";
  const std::string fatal = "Fatal Error!: Failed to open communications port\n";
  const struct { std::string port; bool asUser; int status; std::string out; } runs[] = {
      {"abc", false, 2, "\"abc" + refused}, {"ttyUSB0", false, 2, "\"ttyUSB0" + refused},
      {"2x", false, 2, "\"2x" + refused}, {"0", false, 2, "\"0" + refused}, {"99999", false, 2, "\"99999" + refused},
      {"COM5", false, 2, "\"COM5" + refused}, {"/nonexistent", false, 1, fatal + "/nonexistent: No such file or directory\n"},
      {"/tmp", false, 1, fatal + "/tmp: Is a directory\n"}, {"1", true, 1, fatal + "/dev/ttyS0: Permission denied\n"},
      {sim.port(), true, 1, fatal + sim.port() + ": Permission denied\nThe port belongs to group dialout: join it "
                                                  "(sudo usermod -aG dialout kinestim-test) and log in again.\n"}};
  for (const auto& r : runs) {
    if (r.asUser && (!root || system("id -u kinestim-test >/dev/null 2>&1") != 0)) continue;
    const std::string command = (r.asUser ? "setpriv --reuid=kinestim-test --regid=kinestim-test --clear-groups " : "") +
                                harness::binary("kinestim-console") + " '" + r.port + "' </dev/null >" + dir.file("out") +
                                " 2>&1";
    const int status = system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, r.status) << r.port;
    const std::string out = harness::readFile(dir.file("out"));
    EXPECT_EQ(r.status == 2 ? out.substr(0, r.out.size()) : out, r.out) << r.port;   // a refusal, then the usage
  }
  EXPECT_TRUE(sim.frames(0).empty()) << "the device was never switched on";
}

// Sliders follow the device while greyed, enable in Direct; each release, key or accepted
// typed number sends exactly its frame; drags and refused text send nothing.
TEST_F(EndToEnd, SlidersAndTypedNumbersSendExactlyTheirFramesAndRefusalsSendNothing) {
  // Turned on the device while Idle: the greyed slider moves.
  ASSERT_EQ(harness::play(console, &sim, {{'!', "knob 3 160"}, {'<', "electrode 3: 3 (+0.64)\r\n"}, {'%', "0 electrode 3: enabled"},
                                          {'>', "2"}, {'<', "mode: Direct\r\n"}, {'%', "1 electrode 4: enabled\r\n"}}), "");
  const std::string current = "Warning: Current must be a number from 0 to 255, not ";
  const std::string command = "Warning: Command must be a number from 0 to 9999, not ";
  const struct { std::string line; const char* frame; std::string caption; } steps[] = {
      {":slider-drag 3 200", "", "electrode 3: 3 (+1.44)\r\n"},   // a drag moves only the caption
      {":slider 3 200", "09 03 c8 cdgSetElectrode", ""},   // the caption shows it already
      {":slider-key 2 pagedown", "09 02 93 cdgSetElectrode", "electrode 2: 2 (+0.38)\r\n"},
      // Home and End would swing an electrode full scale in one key press.
      {":slider-key 4 end", "", "The end key does nothing on an electrode slider: one key moves it at most one page (0.40)\r\n"},
      {":slider-key 1 home", "", "The home key does nothing on an electrode slider: one key moves it at most one page (0.40)\r\n"},
      {":slider 4 255", "09 04 ff cdgSetElectrode", "electrode 4: 4 (+2.54)\r\n"},
      {":slider-key 4 down", "09 04 ff cdgSetElectrode", ""},   // already at the bottom
      {":slider 1 0200\n", "", "Warning: Slider position must be written in decimal or with 0x, not \"0200\"\r\n"},
      {":slider 0x4 0x90", "09 04 90 cdgSetElectrode", "electrode 4: 4 (+0.32)\r\n"},
      {":slider 1 300", "", "Not a slider position: 300 (0 to 255)\r\n"}, {":slider 2 1.5", "", "Not a slider position: 1.5 (0 to 255)\r\n"},
      {":slider 3 999999999", "", "Not a slider position: 999999999 (0 to 255)\r\n"}, {":slider 2 -40", "", "Not a slider position: -40 (0 to 255)\r\n"},
      {":slider 1e 100", "", "Usage: :slider N POS\r\n"},
      // Set Electrode's dialog: a refusal, Enter for the Warning, "." to cancel.
      {"9\n2\n1.44\n\n.", "", current + "\"1.44\"\r\n"}, {"9\n2\n0x\n\n.", "", current + "\"0x\"\r\n"},
      {"9\n2\n12mA\n\n.", "", current + "\"12mA\"\r\n"}, {"9\n2\n\n\n.", "", current + "\"\"\r\n"},
      {"9\n2.5\n1\n\n.", "", "Warning: Electrode must be a number from 1 to 4, not \"2.5\"\r\n"},
      {"9\n5\n1\n\n.", "", "Warning: Electrode must be a number from 1 to 4, not \"5\"\r\n"},   // no such electrode
      {"9\n2\n010\n\n.", "", "Warning: Current must be written in decimal or with 0x, not \"010\"\r\n"},
      {"10\n1\n2\n5 6\n4\n\n.", "", "Warning: Current 3 must be a number from 0 to 255, not \"5 6\"\r\n"},
      {"9\n 2 \n0x90", "09 02 90 cdgSetElectrode", "electrode 2: 2 (+0.32)\r\n"},
      {"10\n1\n2\n3\n255", "0a 01 02 03 ff cdgSetAllElectrodes", "electrode 4: 4 (+2.54)\r\n"},
      // The Command box; a download puts a dragged thumb back.
      {"0x\n", "", command + "\"0x\"\r\n"}, {"2 3\n", "", command + "\"2 3\"\r\n"},
      {"31", "", "status: No command 31\r\n"},   // a number that names no command
      {":slider-drag 1 50", "", "electrode 1: 1 (-1.56)\r\n"},
      {"0xb", "0b cdgDldAllElectrodes", "electrode 1: 1 (-2.54)\r\n"},
      {":show", "", "electrode 3: 3 (-2.50), slider 3, enabled\r\n"},
      {"3", "03 cdgDeselectModeDirect", "electrode 2: disabled\r\n"}};   // leaving Direct greys them
  // The start-up question, Direct and its electrode question, then the rows' frames in order:
  // the last row's frame, once written, follows every earlier one.
  std::vector<std::string> sent = {"08 cdgDldMode", "02 cdgSelectModeDirect", "0b cdgDldAllElectrodes"};
  for (const auto& s : steps) {
    console.sendLine(s.line);
    EXPECT_TRUE(s.caption.empty() || console.expect(s.caption)) << s.line << "\n" << console.rest();
    if (*s.frame) sent.push_back(s.frame);
  }
  ASSERT_TRUE(sim.waitForFrame("> " + sent.back()));
  EXPECT_EQ(sim.frames('>'), sent);
}

// Twelve calibration readings; tilt readings show (whole sensor ticks: within half a degree,
// exact at the calibration point) and go to the data log with the currents. Then a device
// fault: the warning first, nothing more read while it is open, then the fault name; Idle sends
// nothing while the fault stands, and Clear Fault Status enables the tilt buttons. The traffic
// log holds every line sent and received until it is stopped.
TEST_F(EndToEnd, CalibrationTiltDataLogThenAFaultWithEveryLineInTheTrafficLog) {
  console.sendLine(":calibrate");
  ASSERT_TRUE(sim.waitForCount("> 1d cdgCalibrate", 12));
  console.sendLine("8");   // answered after the twelfth reading: no thirteenth request before it
  ASSERT_TRUE(sim.waitForFrame("< 1b 02 mdgMode"));
  EXPECT_EQ(sim.frames('>', "1d "), std::vector<std::string>(12, "1d cdgCalibrate"));
  ASSERT_EQ(harness::play(console, &sim, {{'!', "knob 4 200"}, {'<', "electrode 4: 4 (+1.44)\r\n"},
                                          {'>', ":data-log\n" + dir.file("data.log")}, {'<', "Save as: "}}), "");
  std::string shown;
  for (const char* tilt : {"0 0", "5 -3", "-12.5 20"}) {
    ASSERT_TRUE(sim.controlNow(std::string("tilt ") + tilt));
    console.sendLine(":read-tilt");
    const std::string x = next("tilt x: ");
    shown += x + " " + next("tilt y: ") + "|";
  }
  EXPECT_EQ(shown, "0.0000 0.0000|5.0486 -3.2102|-12.4742 20.1208|");
  EXPECT_EQ(console.output().find("recalibrate"), std::string::npos);
  console.sendLine(":stop-data-log\n:show");
  ASSERT_TRUE(console.expect("data log: off\r\n"));
  const std::string currents = "\t\t  -0.02\t  -0.02\t  -0.02\t  +1.44\t\t";   // the stored 127s and the knob's 200
  EXPECT_EQ(logLines("data.log"), (std::vector<std::string>{currents + "      0.0\t      0.0",
                                                           currents + "      5.0\t     -3.2",
                                                           currents + "    -12.5\t     20.1"}));
  // Start Log, then the traffic shown (:advanced) so the test can follow it; after Stop Log (74) nothing is logged.
  EXPECT_EQ(harness::play(console, &sim, {{'>', "73\n" + dir.file("traffic.log")}, {'<', "Save as: "}, {'>', ":advanced"},
      {'>', "8"}, {'<', "received: 1b mdgMode <02>\r\n"}, {'>', "9\n2\n0x90"},   // Set Electrode, refused in Idle
      {'<', "Warning: Command Rejected - Not allowed in this mode\r\n(press Enter) "}, {'>', ""}, {'!', "fault WatchdogTimer"},
      {'<', "Warning: A Fault has occurred.  If possible send 'Clear Fault Status' and continue.\r\n"
            "Otherwise restart the Kinestim\r\n(press Enter) "},
      {'-', "fault: "}, {'>', ""}, {'<', "fault: WatchdogTimer\r\n"}, {'<', "status: *** Fault: WatchdogTimer ***\r\n"},
      // With a fault name in the mode field Idle sends nothing; then Clear Fault Status (26).
      {'>', ":idle"}, {'>', "26"}, {'<', "received: 0b mdgEnteredModeIdle\r\n"}, {'>', ":show"},
      {'<', "tilt buttons: enabled\r\n"}, {'>', "74"}, {'>', "8"}, {'<', "received: 1b mdgMode <"}}), "");
  EXPECT_EQ(logLines("traffic.log"), (std::vector<std::string>{
      "\t08 cdgDldMode", "\t\t\t1b mdgMode <02>", "\t09 cdgSetElectrode 02 90", "\t\t\t02 mdgCmdRejectedInvalidMode <09>",
      "\t\t\t0c mdgExitedModeIdle", "\t\t\t2d mdgFault <08>", "\t0b cdgDldAllElectrodes", "\t\t\t13 mdgEnteredModeFault",
      "\t\t\t1c mdgAllElectrodesDld <7f> <7f> <7f> <7f>", "\t1a cdgClearFaultStatus",
      "\t\t\t2e mdgFaultStatusCleared", "\t\t\t14 mdgExitedModeFault", "\t\t\t0b mdgEnteredModeIdle"}));
}

// 43 bytes, 28 instructions: 0 SetAllElectrodes, 5 Delay, 8 SetElectrode, 11 TiltLoop,
// 15 Call, 18 Goto, 21 to 40 NOP, 41 Return, 42 Stop.
std::string rampSource() {
  std::string s = "; ramp\r\nSetAllElectrodes 128 128 128 128\r\nDelay 40 ; one second\r\nSetElectrode 1 200\r\n"
                  "TiltLoop 1000 5\r\nCall 0x29\r\nGoto 0\r\n";
  for (int i = 0; i < 20; ++i) s += "NOP\r\n";
  return s + "Return\r\nStop\r\n";
}

// A listing of count lines: the given ones, then filler lines from address fillFrom on.
std::string listing(std::vector<std::pair<int, const char*>> lines, int fillFrom, int count, const char* filler) {
  std::string out;
  char line[80];
  for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
    const bool given = k < lines.size();
    std::snprintf(line, sizeof line, "%4d\t%s\r\n", given ? lines[k].first : fillFrom++, given ? lines[k].second : filler);
    out += line;
  }
  return out;
}

// The Script Manager (opened with its main-window button, which selects Program Script)
// uploads, lists back, appends, erases; then the README's example runs with tracing on.
TEST_F(EndToEnd, ScriptManagerUploadsListsBackErasesAndTheReadmeExampleRunsTraced) {
  const auto upload = [this](const char* button, const std::string& path, const char* built) {
    console.sendLine(button + ("\n" + path));
    ASSERT_TRUE(console.expect("Open: ") && console.expect(std::string("compiler output: ") + built +
                               "\r\ncompiler output: \r\ncompiler output: Upload Successful\r\n")) << console.rest();
  };
  const auto memory = [this](int count) {   // the next count "memory: " lines
    std::string lines;
    for (int k = 0; k < count; ++k) lines += next("memory: ") + "\r\n";
    return lines;
  };
  console.sendLine(":script-manager");
  ASSERT_TRUE(console.expect("script> ") && console.expect("mode: Program Script\r\n")) << console.output();
  std::ofstream(dir.file("ramp.ks"), std::ios::binary) << rampSource();
  upload("upload", dir.file("ramp.ks"), "Build Successful");
  const std::vector<std::string> chunks = sim.frames('>', "0d ");
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0], "0d 00 00 03 80 80 80 80 04 28 00 02 01 c8 08 e8 03 05 06 cdgSrcUldMem");
  EXPECT_EQ(chunks[2], "0d 20 00 01 01 01 01 01 01 01 01 01 07 00 cdgSrcUldMem");
  EXPECT_EQ(sim.frames(0, "< 1f 00 00 10 mdgScrMemUlded").size(), 1u);
  console.sendLine("view");
  EXPECT_EQ(memory(20), listing({{0, "SetAllElectrodes\t128 128 128 128"}, {5, "Delay\t\t40"}, {8, "SetElectrode\t1 200"},
                                 {11, "TiltLoop\t\t1000 5"}, {15, "Call\t\t41"}, {18, "Goto\t\t0"}}, 21, 20, "NOP"));
  console.sendLine("address");
  EXPECT_EQ(next("address: "), "35");
  EXPECT_EQ(sim.frames(0, "> 0e 00 00 05 cdgScrDldMem").size(), 1u);
  console.sendLine("append");   // goes on where View stopped
  EXPECT_EQ(memory(20), listing({{35, "NOP"}, {36, "NOP"}, {37, "NOP"}, {38, "NOP"}, {39, "NOP"}, {40, "NOP"},
                                 {41, "Return"}}, 42, 20, "Stop"));
  // Clear Memory asks first; No sends nothing.
  ASSERT_EQ(harness::play(console, &sim, {{'>', "clear-mem\nn"}, {'<', "Are you sure?: Really erase all script memory on the "
      "Kinestim?\r\n[y/n] "}, {'>', "clear-mem\ny"}, {'=', "< 1e mdgScrMemCleared"}, {'#', "1 > 0c "}}), "");
  // A View or Append past the end of memory or from a field that is no number sends nothing,
  // nor do samples with a timestep below zero, nor a script that does not fit from its address.
  const std::string INVALID = "Warning: Invalid address, must be between 0 and 2047\r\n(press Enter) ";
  ASSERT_EQ(harness::play(console, &sim, {{'>', "address 2048\nappend"}, {'<', INVALID}, {'>', ""}, {'>', "address 2040\nview"},
      {'<', INVALID}, {'>', ""}, {'>', "address 1.5\nview"}, {'<', "Warning: Address must be a number from 0 to 2047, not \"1.5\""},
      {'>', ""}, {'>', "address 0\ntimestep -25\nsamples"}, {'<', "compiler output: Invalid timestep\r\n"},
      {'-', "Successful"}, {'|', ""}, {'>', "address 2040\nupload\n" + dir.file("ramp.ks")},
      {'<', "compiler output: The script does not fit in script memory from this address\r\n"}, {'#', "0 > 0d "}}), "");
  // The README quotes the example file, uploaded at 0 to run later.
  const std::string example = std::string(KINESTIM_SOURCE_DIR) + "/docs/examples/pulses.ks";
  ASSERT_FALSE(harness::readFile(example).empty());
  EXPECT_NE(harness::readFile(std::string(KINESTIM_SOURCE_DIR) + "/README.md").find(harness::readFile(example)),
            std::string::npos);
  console.sendLine("address 0");
  upload("upload", example, "Build Successful");
  console.sendLine("timestep 110");   // rows of four whole steps, 100 ms, and the pane says so
  console.sendLine("address 0x100");
  std::ofstream(dir.file("samples.txt"), std::ios::binary) << "0 0 0 0\r\n1 -1 0.5 2.54\r\n";
  upload("samples", dir.file("samples.txt"), "Script Generation Successful");
  EXPECT_NE(console.output().find("compiler output: Timestep 110 ms: each row lasts 100 ms (steps of 25 ms)\r\n"
                                  "compiler output: duration: 0.200 s (8 steps), ends at Stop at 272\r\n"),
            std::string::npos) << console.output();
  EXPECT_EQ(sim.frames('>', "0e ").size(), 20u + 20 + 8) << "the two Views, then 2040 to 2047";
  const std::vector<std::string> all = sim.frames('>', "0d ");
  EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()),
            (std::vector<std::string>{"0d 00 01 03 80 80 80 80 04 03 00 03 b2 4e 99 ff 04 03 00 cdgSrcUldMem",
                                      "0d 10 01 00 cdgSrcUldMem"}));
  // Trace On (21 is 0x15), then Run from 0.
  ASSERT_EQ(harness::play(console, &sim, {{'>', "close"}, {'>', "21"}, {'=', "< 00 15 mdgCmdAccepted"}, {'>', ":run"},
      {'<', "Address (16-bit) [0]: "}, {'>', ""}, {'<', "script: Running at 0x000\r\n"}, {'<', "status: Script terminated\r\n"},
      {'=', "> 07 cdgDeselectModeRunScr"}}), "");
  // The device reports each instruction once, in order, at the preview's step (25 ms steps from
  // mdgScrStarted; the script tool's preview of the example has 12), then stops.
  static const std::regex traced(R"(^ *([0-9.]+) < ([0-9a-f ]+) (mdgScr\w+)$)");
  std::smatch m;
  double started = 0;
  std::string run;
  for (const std::string& line : harness::readLines(sim.transcriptPath())) {
    if (!std::regex_match(line, m, traced)) continue;
    if (m[3] == "mdgScrStarted") started = std::stod(m[1].str());
    const long step = std::lround((std::stod(m[1].str()) - started) / 25);
    if (m[3] == "mdgScrTrace" || m[3] == "mdgScrStopped")
      run += m[2].str().substr(0, 11) + "@" + std::to_string(step) + "|";
  }
  EXPECT_EQ(run, "2a 00 00 03@0|2a 05 00 02@1|2a 08 00 04@2|2a 0b 00 02@5|2a 0e 00 04@6|2a 11 00 02@7|"
                 "2a 14 00 04@8|2a 17 00 03@11|2a 1c 00 00@12|29 1c 00@12|");
}

}  // namespace
