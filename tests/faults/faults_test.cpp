// Fault-injection tests: kinestim-console against kinestim-sim, with line faults made by the
// simulator's control channel (stray bytes, damaged, stalled and missing frames, a device
// that goes silent or away) and a host killed in the middle of logging.
#include "process_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

// The log time stamp "%.2d\t%.2d\t%.2d.%.3d ".
const char* const STAMP = R"([0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\.[0-9]{3} )";
const char* const ENTER = "(press Enter) ";

// Every occurrence of needle in text.
int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

// The Received pane line the host makes of a transcript frame "<hex bytes> <name>":
// "%.2x %s" with the code and name, then " <%.2x>" per parameter byte.
std::string receivedLineOf(const std::string& frame) {
  std::vector<std::string> words;
  std::istringstream in(frame);
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 2) return frame;
  std::string line = words[0] + " " + words.back();
  for (size_t i = 1; i + 1 < words.size(); ++i) line += " <" + words[i] + ">";
  return line;
}

// The console's "received: " lines, in order.
std::vector<std::string> receivedLines(const std::string& output) {
  std::vector<std::string> lines;
  const std::string prefix = "received: ";
  for (size_t at = output.find(prefix); at != std::string::npos; at = output.find(prefix, at + 1)) {
    size_t start = at + prefix.size();
    lines.push_back(output.substr(start, output.find("\r\n", start) - start));
  }
  return lines;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { startBoth({}); }
  void TearDown() override {
    if (console.pid() > 0) {
      console.sendLine(":quit");
      console.waitExit();
    }
    if (sim) sim->control("quit");
  }
  void startBoth(const std::vector<std::string>& simOptions) {
    sim = std::make_unique<Simulator>(dir, simOptions);
    ASSERT_TRUE(sim->ok()) << "kinestim-sim did not report its port";
    ASSERT_TRUE(harness::startConsole(console, {sim->port(), "--expanded"}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  }
  // Asks for the mode and waits for its answer.
  void askMode() {
    console.sendLine("8");
    ASSERT_TRUE(console.expect("received: 1b mdgMode <")) << console.rest();
  }
  // Every good frame the device sent was traced by the host, in order, and nothing else.
  void expectEveryFrameDispatched() {
    std::vector<std::string> sent;
    for (const std::string& f : sim->frames('<'))
      if (f.find("(bad frame)") == std::string::npos) sent.push_back(receivedLineOf(f));
    EXPECT_EQ(receivedLines(console.output()), sent) << harness::readFile(sim->transcriptPath());
  }
  // Bytes the device sent outside good frames (transcript lines named "(bad frame)").
  int badBytes() {
    int n = 0;
    for (const std::string& f : sim->frames('<')) {
      size_t name = f.find("(bad frame)");
      if (name != std::string::npos) n += static_cast<int>(name / 3);
    }
    return n;
  }

  TempDir dir;
  std::unique_ptr<Simulator> sim;
  Process console;
};

TEST_F(Faults, StrayBytesBetweenFramesAreDroppedOneAtATime) {
  const char* bursts[] = {"13", "27 55 00", "ff 01 54 ab 0d"};
  for (const char* burst : bursts) {
    sim->control(std::string("garbage ") + burst);
    askMode();
  }
  console.settle(200);
  // One status line per stray byte, in order, before the frame that follows them.
  const std::string& out = console.output();
  size_t at = 0;
  for (const char* burst : bursts) {
    std::istringstream bytes(burst);
    for (std::string b; bytes >> b;) {
      std::string line = "status: Packet tossed for invalid SOT character: 0x" + b + "\r\n";
      size_t found = out.find(line, at);
      ASSERT_NE(found, std::string::npos) << line << out;
      at = found + line.size();
    }
    size_t frame = out.find("received: 1b mdgMode <02>\r\n", at);
    ASSERT_NE(frame, std::string::npos) << burst;
    at = frame;
  }
  EXPECT_EQ(occurrences(out, "Packet tossed for invalid SOT character"), 9);
  EXPECT_EQ(badBytes(), 9);
  EXPECT_EQ(occurrences(out, "Warning: "), 0);
  expectEveryFrameDispatched();
}

struct Damage {
  const char* kind;
  std::vector<std::string> reports;   // what the host shows for the damaged frame
  bool warning;                       // a Warning box that must be dismissed
};

class FaultsDamagedFrame : public Faults, public ::testing::WithParamInterface<Damage> {};

TEST_P(FaultsDamagedFrame, IsDroppedWithItsReportAndTheNextFrameIsHandled) {
  const Damage& d = GetParam();
  askMode();
  sim->control(std::string("corrupt-next ") + d.kind);
  console.sendLine("8");
  for (const std::string& report : d.reports) ASSERT_TRUE(console.expect(report)) << report << console.rest();
  if (d.warning) {
    ASSERT_TRUE(console.expect(ENTER));
    console.sendLine("");
  }
  askMode();
  console.settle(200);
  // The damaged frame was never traced: two good answers, two traced lines.
  EXPECT_EQ(occurrences(console.output(), "received: 1b mdgMode <02>\r\n"), 2);
  EXPECT_EQ(occurrences(console.output(), "Warning: "), d.warning ? 1 : 0);
  expectEveryFrameDispatched();
}

// mdgMode in Idle is the frame aa 02 1b 02 1d 55.
INSTANTIATE_TEST_SUITE_P(
    Faults, FaultsDamagedFrame,
    ::testing::Values(
        Damage{"checksum", {"Warning: Packet tossed for invalid checksum\r\n"}, true},
        Damage{"eot", {"Warning: Packet tossed for invalid EOT character\r\n"}, true},
        Damage{"sot",
               {"status: Packet tossed for invalid SOT character: 0xab\r\n",
                "status: Packet tossed for invalid SOT character: 0x02\r\n",
                "status: Packet tossed for invalid SOT character: 0x1b\r\n",
                "status: Packet tossed for invalid SOT character: 0x02\r\n",
                "status: Packet tossed for invalid SOT character: 0x1d\r\n",
                "status: Packet tossed for invalid SOT character: 0x55\r\n"},
               false}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.kind); });

TEST_F(Faults, FrameStalledOverASecondIsDroppedAndTheHostGoesOn) {
  // A pause shorter than the bound costs nothing.
  sim->control("stall-next 400");
  askMode();
  EXPECT_EQ(console.rest().find("Packet dropped"), std::string::npos);

  // aa 02 1b, then nothing for 1500 ms, then 02 1d 55.
  sim->control("stall-next 1500");
  long long sent = harness::nowMs();
  console.sendLine("8");
  ASSERT_TRUE(console.expect("status: Packet dropped: no byte for 1000 ms inside a frame\r\n", 4000))
      << console.rest();
  long long waited = harness::nowMs() - sent;
  EXPECT_GE(waited, 1000);
  EXPECT_LT(waited, 3000);
  // The rest of the frame arrives as stray bytes.
  for (const char* b : {"02", "1d", "55"})
    ASSERT_TRUE(console.expect(std::string("status: Packet tossed for invalid SOT character: 0x") + b + "\r\n"))
        << b << console.rest();
  // The host answers commands again and handles what the device sends.
  console.sendLine(":show");
  ASSERT_TRUE(console.expect("mode: Idle\r\n"));
  askMode();
  console.settle(200);
  EXPECT_EQ(occurrences(console.output(), "received: 1b mdgMode <02>\r\n"), 2);
  EXPECT_EQ(occurrences(console.output(), "Warning: "), 0);
}

TEST_F(Faults, DeviceSilentDuringAnUploadGivesOneWarningAndNoFurtherChunk) {
  std::string source = dir.file("three-chunks.txt");
  {
    std::ofstream f(source, std::ios::binary);
    for (int i = 0; i < 8; ++i) f << "SetAllElectrodes 128 128 128 128\r\n";   // 40 bytes
  }
  console.sendLine(":script-manager");
  ASSERT_TRUE(console.expect("script> "));
  ASSERT_TRUE(sim->waitForFrame("< 0f mdgEnteredModePgmScr"));
  console.settle(100);
  sim->control("silent on");
  console.settle(100);

  console.sendLine("upload");
  ASSERT_TRUE(console.expect("Open: "));
  long long sent = harness::nowMs();
  console.sendLine(source);
  ASSERT_TRUE(console.expect("Warning: Upload Failed - check connection and turn on Kinestim\r\n", 8000))
      << console.rest();
  long long waited = harness::nowMs() - sent;
  EXPECT_GE(waited, 4000);
  EXPECT_LT(waited, 6000);
  ASSERT_TRUE(console.expect(ENTER));
  console.sendLine("");
  console.settle(500);

  int chunks = 0;
  for (const std::string& f : sim->frames('>'))
    if (f.rfind("0d ", 0) == 0) ++chunks;
  EXPECT_EQ(chunks, 1) << harness::readFile(sim->transcriptPath());
  EXPECT_EQ(occurrences(console.output(), "Upload Failed"), 1);
  EXPECT_EQ(console.output().find("Upload Successful"), std::string::npos);

  // The device speaks again: the Script Manager and the host carry on.
  sim->control("silent off");
  console.sendLine("close");
  ASSERT_TRUE(console.expect("Script Manager closed.\r\n"));
  console.sendLine("8");
  ASSERT_TRUE(console.expect("received: 1b mdgMode <04>\r\n")) << console.rest();
}

// The host on the link path the simulator keeps up to date, started a second time on the
// same device (run as an ordinary user too, where a port left exclusive would be refused).
class FaultsVanishingDevice : public Faults {
 protected:
  void SetUp() override {
    startBoth({"--link", dir.file("kinestim")});
    console.sendLine(":quit");
    ASSERT_EQ(console.waitExit(), 0);
    ASSERT_TRUE(harness::startConsole(console, {dir.file("kinestim"), "--expanded"}));
    askMode();
    console.sendLine("1");   // Init: the device starts afresh and the host enables its controls
    ASSERT_TRUE(console.expect("status: Kinestim is Idle\r\n")) << console.rest();
  }
  // The lost link: one Warning, the mode field, the gated controls off and a typed command
  // refused with a status line.
  void expectLinkLost() {
    ASSERT_TRUE(console.expect("Warning: Failed to Read Comm port while checking for SOT\r\n")) << console.rest();
    ASSERT_TRUE(console.expect(ENTER));
    console.sendLine("");
    console.sendLine("8");
    ASSERT_TRUE(console.expect("status: Not sent: the link to " + dir.file("kinestim") + " is lost - re-opening it\r\n"))
        << console.rest();
    const std::string shown = show();
    for (const char* gated : {"mode: Link lost\r\n", "run button: Run, disabled\r\n", "script manager button: disabled\r\n",
                              "local control: checked, disabled\r\n", "electrode 1: 1 (-0.02), slider 127, disabled\r\n",
                              "tilt buttons: disabled\r\n"})
      EXPECT_NE(shown.find(gated), std::string::npos) << gated << shown;
  }
  // What :show prints.
  std::string show() {
    const size_t from = console.output().size();
    console.sendLine(":show");
    EXPECT_TRUE(console.expect("data log: off\r\n")) << console.rest();
    return console.output().substr(from);
  }
  void expectRestored() {
    ASSERT_TRUE(console.expect("status: Link restored\r\n", 5000)) << console.rest();
    console.settle(300);
    EXPECT_EQ(occurrences(console.output(), "Warning: "), 1) << console.output();
    EXPECT_EQ(console.output().find("Fatal Error!"), std::string::npos);
  }
};

TEST_F(FaultsVanishingDevice, HostShowsTheLostLinkAndComesBackWhenTheDeviceRestartsOnTheSamePath) {
  // A calibration run that loses its replies with the device does not block the next one.
  sim->control("silent on");
  console.sendLine(":calibrate");
  ASSERT_TRUE(sim->waitForFrame("> 1d cdgCalibrate"));
  sim->control("quit");
  ASSERT_EQ(sim->process().waitExit(), 0);
  expectLinkLost();

  // The device is back on a new pseudo-terminal behind the same path, freshly powered on.
  sim = std::make_unique<Simulator>(dir, std::vector<std::string>{"--link", dir.file("kinestim")});
  ASSERT_TRUE(sim->ok());
  expectRestored();
  EXPECT_TRUE(sim->waitForFrame("> 08 cdgDldMode"));
  const std::string shown = show();
  EXPECT_NE(shown.find("mode: Idle\r\nscript: Stopped\r\nrun button: Run, enabled\r\n"), std::string::npos) << shown;
  console.sendLine(":calibrate");
  EXPECT_TRUE(sim->waitForFrame("> 1d cdgCalibrate"));
}

// A cable pulled in Direct mode and put back: whatever the device did meanwhile is read back.
struct Outage { const char* name; const char* meanwhile; const char* mode; const char* electrode2; int electrodeQuestions; };

class FaultsOutage : public FaultsVanishingDevice, public ::testing::WithParamInterface<Outage> {};

TEST_P(FaultsOutage, ReReadsTheModeAndInDirectTheElectrodes) {
  const Outage& o = GetParam();
  console.sendLine("2");
  ASSERT_TRUE(console.expect("mode: Direct\r\n")) << console.rest();
  ASSERT_TRUE(sim->waitForCount("> 0b cdgDldAllElectrodes", 1));
  sim->control("hangup 3000");
  sim->control(o.meanwhile);
  expectLinkLost();
  expectRestored();
  EXPECT_EQ(sim->count("> 08 cdgDldMode"), 2) << harness::readFile(sim->transcriptPath());
  EXPECT_EQ(sim->count("> 0b cdgDldAllElectrodes"), o.electrodeQuestions) << harness::readFile(sim->transcriptPath());
  const std::string shown = show();
  EXPECT_NE(shown.find(std::string("mode: ") + o.mode + "\r\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(std::string(o.electrode2) + "\r\n"), std::string::npos) << shown;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultsOutage,
    ::testing::Values(Outage{"KnobTurned", "knob 2 200", "Direct", "electrode 2: 2 (+1.44), slider 200, enabled", 2},
                      Outage{"PowerCycled", "power-cycle", "Idle", "electrode 2: 2 (-0.02), slider 127, disabled", 1}),
    [](const ::testing::TestParamInfo<Outage>& info) { return std::string(info.param.name); });

TEST_F(Faults, LogsOnAFullDiskLoseTheirLinesButNothingElse) {
  // Every write to /dev/full fails with "no space left on device".
  for (const char* start : {":log", ":data-log"}) {
    console.sendLine(start);
    ASSERT_TRUE(console.expect("Save as: "));
    console.sendLine("/dev/full");
    ASSERT_TRUE(console.expect("Replace /dev/full? [y/n] "));
    console.sendLine("y");
  }
  console.sendLine(":show");
  ASSERT_TRUE(console.expect("traffic log: on\r\ndata log: on\r\n")) << console.rest();
  console.sendLine(":read-tilt");
  ASSERT_TRUE(console.expect("tilt y: ")) << console.rest();
  askMode();
  console.sendLine(":stop-data-log");
  console.sendLine(":stop-log");
  console.sendLine(":show");
  ASSERT_TRUE(console.expect("traffic log: off\r\n")) << console.rest();
  EXPECT_EQ(occurrences(console.output(), "Warning: "), 0) << console.output();
  expectEveryFrameDispatched();
}

TEST_F(Faults, HostKilledDuringATiltLoopLeavesOnlyWholeLinesInBothLogs) {
  std::string traffic = dir.file("traffic.log"), data = dir.file("data.log");
  console.sendLine(":log");
  ASSERT_TRUE(console.expect("Save as: "));
  console.sendLine(traffic);
  console.sendLine(":data-log");
  ASSERT_TRUE(console.expect("Save as: "));
  console.sendLine(data);
  console.sendLine(":tilt-loop");
  ASSERT_TRUE(console.expect("Count (16-bit) [10]: "));
  console.sendLine("60000");
  ASSERT_TRUE(console.expect("Step [1]: "));
  console.sendLine("1");

  // Let the readings flow, then kill the host in the middle of them.
  long long deadline = harness::nowMs() + 10000;
  while (harness::readLines(data).size() < 60 && harness::nowMs() < deadline) console.settle(50);
  ASSERT_GE(harness::readLines(data).size(), 60u);
  console.kill();

  const std::regex dataLine(std::string("^") + STAMP +
                            R"(\t\t[ +-][ 0-9.+-]{6}\t[ +-][ 0-9.+-]{6}\t[ +-][ 0-9.+-]{6}\t[ +-][ 0-9.+-]{6})"
                            R"(\t\t[ 0-9.-]{8}[0-9]\t[ 0-9.-]{8}[0-9]\r$)");
  const std::regex trafficLine(std::string("^") + STAMP +
                               R"((\t[0-9a-f]{2} cdg[A-Za-z]+( [0-9a-f]{2})*|\t\t\t[0-9a-f]{2} mdg[A-Za-z]+( <[0-9a-f]{2}>)*)\r$)");
  for (const auto& [path, form] : {std::make_pair(data, dataLine), std::make_pair(traffic, trafficLine)}) {
    std::string all = harness::readFile(path);
    ASSERT_GE(all.size(), 2u) << path;
    EXPECT_EQ(all.substr(all.size() - 2), "\r\n") << path << ": the last line was cut";
    std::vector<std::string> lines = harness::readLines(path);
    for (size_t i = 0; i < lines.size(); ++i)
      EXPECT_TRUE(std::regex_match(lines[i], form)) << path << " line " << i << ": " << lines[i];
  }
  // One data line per tilt reading traced in the traffic log, except those the kill cut off.
  int tilts = 0;
  for (const std::string& line : harness::readLines(traffic))
    if (line.find("32 mdgTilt") != std::string::npos) ++tilts;
  EXPECT_GE(tilts, 60);
  EXPECT_LE(static_cast<int>(harness::readLines(data).size()), tilts);
  EXPECT_GE(static_cast<int>(harness::readLines(data).size()), tilts - 1);
}

}  // namespace
