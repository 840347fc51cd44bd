// Memory transfer, read-back and Script Manager actions against kinestim-sim as a separate
// process: the program's real serial backend, pump and dispatcher in this process.
#include "link/serial_port.h"
#include "frontends/console/console_window.h"
#include "process_harness.h"
#include "link/catalogue.h"
#include "app/dispatcher.h"
#include "protocol/senders.h"
#include "resource.h"
#include "script/compiler.h"
#include "script/memory_view.h"
#include "app/script_manager.h"
#include "app/transfer.h"
#include "script/preview.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <regex>

namespace {

const char INVALID_ADDRESS_BOX[] = "Warning: Invalid address, must be between 0 and 2047";

int occurrences(const std::string& all, const std::string& text) {
  int n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
  return n;
}

// The simulator on its port, the Script Manager open on this process's console window.
class SimulatorTransfer : public ::testing::Test {
 protected:
  void start(std::vector<std::string> simOptions = {}) {
    sim = std::make_unique<harness::Simulator>(dir, simOptions);
    ASSERT_TRUE(sim->ok()) << "kinestim-sim did not report its port";
    consoleWindowReset(&input, &output);
    setMessageBoxShowing(0);
    resetMemoryView();
    resetCompilerOutput();
    consoleOpenDialog(Dialog::ScriptManager);
    initScriptManager();
    openSerialPortPath(sim->port().c_str());
    ASSERT_TRUE(pumpUntil([] { return mode() == "Idle"; }, 5000)) << mode();
  }
  void SetUp() override { start(); }
  void TearDown() override {
    closeScriptManager();
    consoleCloseDialog(Dialog::ScriptManager);
    closeSerialPort();
    sim->control("quit");
  }
  static std::string mode() { return consoleControlText(Dialog::Main, IDC_MODE_FIELD); }
  static std::string field(int id) { return consoleControlText(Dialog::ScriptManager, id); }
  static void setField(int id, const char* text) { setControlText(Dialog::ScriptManager, id, text); }

  void selectProgramScript() {
    sendSimpleCommand(cdgSelectModePgmScr);
    ASSERT_TRUE(pumpUntil([] { return mode() == "Program Script"; }, 5000)) << mode();
  }
  // Runs the receive timer's work until done holds or timeoutMs passes.
  bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    for (const long long deadline = harness::nowMs() + timeoutMs; harness::nowMs() < deadline; usleep(5000)) {
      ReceiveTimerProc();
      if (done()) return true;
    }
    return done();
  }
  void pumpFor(int ms) { pumpUntil([] { return false; }, ms); }
  // Host frames with the given code, as "<hex> <name>".
  std::vector<std::string> sent(const char* code) {
    std::vector<std::string> out;
    for (const std::string& f : sim->frames('>')) {
      if (f.rfind(code, 0) == 0) out.push_back(f);
    }
    return out;
  }
  // The device sends this message now, whatever it is doing (also while silent).
  void inject(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame = {SOT, static_cast<uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(computeChecksum(payload.data(), static_cast<int>(payload.size())));
    frame.push_back(EOT);
    sim->control("garbage " + hex(frame, ""));
  }
  int timesPrinted(const std::string& text) const { return occurrences(output.str(), text); }
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name) + "\n";
  }

  harness::TempDir dir;
  std::unique_ptr<harness::Simulator> sim;
  std::istringstream input;
  std::ostringstream output;
};

std::vector<uint8_t> imageOf(int length) {
  std::vector<uint8_t> image;
  for (int i = 0; i < length; ++i) image.push_back(static_cast<uint8_t>(0x40 + i));
  return image;
}

TEST_F(SimulatorTransfer, FortyBytesAt100GoOutAsThreeChunksEachAfterTheLastAcknowledgement) {
  selectProgramScript();
  const std::vector<uint8_t> image = imageOf(40);
  EXPECT_TRUE(uploadScriptImage(100, image.data(), 40));
  std::vector<std::string> order;
  for (const std::string& f : sim->frames()) {
    if (f.rfind("> 0d ", 0) == 0 || f.rfind("< 1f ", 0) == 0) order.push_back(f);
  }
  EXPECT_EQ(order, (std::vector<std::string>{
                       "> 0d 64 00 " + hex({image.begin(), image.begin() + 16}) + " cdgSrcUldMem",
                       "< 1f 64 00 10 mdgScrMemUlded",
                       "> 0d 74 00 " + hex({image.begin() + 16, image.begin() + 32}) + " cdgSrcUldMem",
                       "< 1f 74 00 10 mdgScrMemUlded",
                       "> 0d 84 00 " + hex({image.begin() + 32, image.end()}) + " cdgSrcUldMem",
                       "< 1f 84 00 08 mdgScrMemUlded"}));
  EXPECT_TRUE(uploadScriptImage(0, nullptr, 0));
  pumpFor(200);
  EXPECT_EQ(sent("0d ").size(), 3u) << "an empty image sends nothing";
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

// A silent device during an upload is the fault-injection suite's case; here the time-out
// must restart with each chunk, so a slow upload longer than it still succeeds.
// The preview's timeline against the simulator process running the same image with trace on:
// every traced instruction at the preview's step (within one 25 ms step of mdgScrStarted),
// and mdgScrStopped at the preview's end. The script calls, delays (0 and n) and starts a tilt loop.
TEST_F(SimulatorTransfer, PreviewStepsAreTheSimulatorsStepTimes) {
  ScriptImage image;
  ASSERT_TRUE(compileScript("SetAllElectrodes 128 128 128 128\nCall 22\nDelay 0\nDelay 3\nTiltLoop 2 1\n"
                            "SetElectrode 1 150\nStop\nSetElectrode 2 140\nDelay 2\nReturn\n", image));
  const ScriptPreview preview = previewScript(image.bytes, image.length, 0, 1000, true, true);
  selectProgramScript();
  ASSERT_TRUE(uploadScriptImage(0, image.bytes, image.length));
  releaseScriptImage(image);
  sendSimpleCommand(cdgSelectModeRunScr);
  ASSERT_TRUE(pumpUntil([] { return mode() == "Run Scr"; }, 5000)) << mode();
  sendSimpleCommand(cdgScrTraceOn);
  const uint8_t run[3] = {cdgScrRun, 0, 0};
  sendPacket(run, 3);
  const auto stopped = [this] {
    return harness::readFile(sim->transcriptPath()).find("mdgScrStopped") != std::string::npos;
  };
  ASSERT_TRUE(pumpUntil(stopped, 5000));
  static const std::regex traced(R"(^ *([0-9.]+) < [0-9a-f]{2} ([0-9a-f]{2}) ([0-9a-f]{2}) .*(mdgScr\w+)$)");
  std::smatch m;
  double started = -1;
  std::vector<std::pair<int, double>> steps;   // address, time after mdgScrStarted in steps; then the Stop's
  for (const std::string& line : harness::readLines(sim->transcriptPath())) {
    if (!std::regex_match(line, m, traced)) continue;
    const int address = std::stoi(m[2].str(), nullptr, 16) | std::stoi(m[3].str(), nullptr, 16) << 8;
    if (m[4] == "mdgScrStarted") started = std::stod(m[1].str());
    const double step = (std::stod(m[1].str()) - started) / 25;
    if (m[4] == "mdgScrTrace" || m[4] == "mdgScrStopped") steps.push_back({address, step});
  }
  ASSERT_EQ(steps.size(), preview.trace.size() + 1);
  for (size_t i = 0; i < preview.trace.size(); ++i) {
    EXPECT_EQ(steps[i].first, preview.trace[i].first) << i;
    EXPECT_NEAR(steps[i].second, static_cast<double>(preview.trace[i].second), 0.5) << i;
  }
  EXPECT_EQ(steps.back().first, preview.endAddress);
  EXPECT_NEAR(steps.back().second, static_cast<double>(preview.endStep), 0.5);
}

TEST_F(SimulatorTransfer, TheTimeOutCountsPerChunk) {
  TearDown();
  start({"--baud", "300"});   // about a second for each chunk and its acknowledgement
  selectProgramScript();
  const std::vector<uint8_t> image = imageOf(80);
  const long long t0 = harness::nowMs();
  EXPECT_TRUE(uploadScriptImage(0, image.data(), 80));
  EXPECT_GE(harness::nowMs() - t0, 4100);
  EXPECT_EQ(sent("0d ").size(), 5u);
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

TEST_F(SimulatorTransfer, RejectionEndsTheUploadAtOnce) {
  const std::vector<uint8_t> image = imageOf(40);   // Idle: uploads are not allowed
  const long long t0 = harness::nowMs();
  EXPECT_FALSE(uploadScriptImage(0, image.data(), 40));
  EXPECT_LT(harness::nowMs() - t0, 1500);
  ASSERT_TRUE(sim->waitForFrame("< 02 0d mdgCmdRejectedInvalidMode"));
  usleep(200000);
  EXPECT_EQ(sent("0d ").size(), 1u);
  EXPECT_EQ(timesPrinted("Warning: Upload Failed"), 0);
}

TEST_F(SimulatorTransfer, MessagesOfOtherKindsAreDispatchedDuringTheUpload) {
  TearDown();
  start({"--baud", "9600"});
  selectProgramScript();
  // A tilt loop reports every 25 ms while the chunks cross the 9600 baud line.
  const uint8_t tiltLoop[4] = {cdgTiltLoop, 40, 0, 1};
  sendPacket(tiltLoop, 4);
  const std::vector<uint8_t> image = imageOf(160);
  EXPECT_TRUE(uploadScriptImage(0, image.data(), 160));
  EXPECT_EQ(sent("0d ").size(), 10u);
  // Only the upload's own polling has read the line since the loop started.
  const std::string received = consoleControlText(Dialog::Main, IDC_RECEIVED_PANE);
  EXPECT_GE(occurrences(received, " mdgTilt <"), 3) << received;
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

// A View from 2040 stops with one warning at the end of script memory; read-back requests
// outside it are refused, each with a warning.
TEST_F(SimulatorTransfer, ReadBackStaysInsideScriptMemory) {
  setField(IDC_SM_ADDRESS, "2040");
  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(pumpUntil([&] { return timesPrinted(INVALID_ADDRESS_BOX) > 0; }, 5000));
  pumpFor(200);
  EXPECT_EQ(timesPrinted(INVALID_ADDRESS_BOX), 1);
  ASSERT_EQ(sent("0e ").size(), 8u);
  EXPECT_EQ(field(IDC_SM_MEMORY) + "|" + field(IDC_SM_ADDRESS), "|2040");
  sim->control("silent on");
  for (int address : {0, 300, 2047, 2048, -1, INT_MIN}) requestScriptMemory(address);
  pumpFor(300);
  const std::vector<std::string> requests = sent("0e ");
  // The View's last, then the three inside.
  EXPECT_EQ(std::vector<std::string>(requests.begin() + 7, requests.end()),
            (std::vector<std::string>{"0e ff 07 05 cdgScrDldMem", "0e 00 00 05 cdgScrDldMem",
                                      "0e 2c 01 05 cdgScrDldMem", "0e ff 07 05 cdgScrDldMem"}));
  EXPECT_EQ(timesPrinted(INVALID_ADDRESS_BOX), 4);
}

TEST_F(SimulatorTransfer, MemoryViewIgnoresStrayAndWrongAddressAnswersAndListsShortOnes) {
  sim->control("silent on");
  inject({mdgScrMemDld, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01});   // no batch running
  pumpFor(150);
  EXPECT_EQ(field(IDC_SM_MEMORY), "");
  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(pumpUntil([&] { return sent("0e ").size() == 1; }, 2000));
  inject({mdgScrMemDld, 0x07, 0x00, 0x02, 0x01, 0x02, 0x00, 0x00});   // another address
  pumpFor(150);
  EXPECT_EQ(sent("0e ").size(), 1u);
  // Each request answered by hand with only two memory bytes.
  std::string expected;
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(pumpUntil([&] { return sent("0e ").size() == static_cast<size_t>(k + 1); }, 2000)) << k;
    const int address = 5 * k;   // each short answer still moves the view on by a whole instruction
    char line[48];
    std::snprintf(line, sizeof line, "0e %.2x %.2x 05 cdgScrDldMem", address & 0xFF, address >> 8);
    EXPECT_EQ(sent("0e ")[static_cast<size_t>(k)], line);
    inject({mdgScrMemDld, static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8), 0x03, 0x80});
    std::snprintf(line, sizeof line, "%4d\tSetAllElectrodes\t128 ? ? ?\r\n", address);
    expected += line;
  }
  ASSERT_TRUE(pumpUntil([&] { return field(IDC_SM_ADDRESS) != "0"; }, 2000));
  EXPECT_EQ(field(IDC_SM_MEMORY), expected);
  EXPECT_EQ(field(IDC_SM_ADDRESS), "100");
}

TEST_F(SimulatorTransfer, AnswersAfterCloseShowNothing) {
  sim->control("silent on");
  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(pumpUntil([&] { return sent("0e ").size() == 1; }, 2000));
  closeScriptManager();
  consoleCloseDialog(Dialog::ScriptManager);
  inject({mdgScrMemDld, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01});
  pumpFor(200);
  EXPECT_EQ(sent("0e ").size(), 1u);
  consoleOpenDialog(Dialog::ScriptManager);
  initScriptManager();
  EXPECT_EQ(field(IDC_SM_MEMORY), "");
}

TEST_F(SimulatorTransfer, UploadReadsTheAddressFieldAsANumber) {
  selectProgramScript();
  for (const char* address : {"0x10", "010", "2044"}) {   // the last fills memory up to its end
    setField(IDC_SM_ADDRESS, address);
    input.clear();
    input.str(file("a.ks", "Delay 40 Stop\r\n"));
    EXPECT_TRUE(routeScriptManagerCommand(IDC_SM_UPLOAD));
    EXPECT_EQ(field(IDC_SM_COMPILER_OUTPUT), "Build Successful\r\n\r\nUpload Successful") << address;
  }
  EXPECT_EQ(sent("0d "), (std::vector<std::string>{"0d 10 00 04 28 00 00 cdgSrcUldMem",
                                                  "0d 08 00 04 28 00 00 cdgSrcUldMem",
                                                  "0d fc 07 04 28 00 00 cdgSrcUldMem"}));
}

// Refusals before anything is sent: the compiler output pane, and whether a file was asked for
// (the console Script Manager test has an upload past memory and a cancelled source choice).
TEST_F(SimulatorTransfer, RefusedUploadsSendNothing) {
  const char* const BAD_ADDRESS = "Invalid address, must be between 0 and 2047";
  const std::string ADDRESS = "Warning: Address must be a number from 0 to 2047, not ";
  const struct {
    int button;
    const char* address;
    const char* timestep;
    std::string input;
    const char* pane;
    int opens;
    std::string warning = "";
  } cases[] = {
    {IDC_SM_APPEND, "2048", "25", "", "", 0, INVALID_ADDRESS_BOX},
    {IDC_SM_APPEND, "-1", "25", "", "", 0, INVALID_ADDRESS_BOX},
    {IDC_SM_VIEW, "1.5", "25", "", "", 0, ADDRESS + "\"1.5\""},
    {IDC_SM_APPEND, "0x", "25", "", "", 0, ADDRESS + "\"0x\""},
    {IDC_SM_UPLOAD_SAMPLES, "abc", "25", file("s.txt", "0 0 0 0"), "", 0, ADDRESS + "\"abc\""},
    {IDC_SM_UPLOAD, "", "25", file("a.ks", "Stop"), "", 0, ADDRESS + "\"\""},
    {IDC_SM_UPLOAD, "2048", "25", file("a.ks", "Stop"), BAD_ADDRESS, 0},
    {IDC_SM_UPLOAD, "0", "25", file("bad.ks", "Stop\r\nWait 5\r\n"), "Syntax Error: Invalid command Wait", 1},
    {IDC_SM_UPLOAD, "0", "25", dir.file("missing.ks") + "\n\n", "Failed to read source file", 2},
    {IDC_SM_UPLOAD_SAMPLES, "0", "abc", file("s.txt", "0 0 0 0"), "", 0,
     "Warning: Timestep must be a number from 0 to 1638424, not \"abc\""},
    {IDC_SM_UPLOAD_SAMPLES, "0", "25ms", file("s.txt", "0 0 0 0"), "", 0,
     "Warning: Timestep must be a number from 0 to 1638424, not \"25ms\""},
    {IDC_SM_UPLOAD_SAMPLES, "0", "1638425", file("s.txt", "0 0 0 0"), "Invalid timestep", 0},
    {IDC_SM_UPLOAD_SAMPLES, "0", "25", "\n", "Failed to read sample file", 1},
    {IDC_SM_UPLOAD_SAMPLES, "0", "25", file("s3.txt", "0 0 0 2.56"),
     "Sample must be between -2.56 and 2.54: 2.56", 1}};
  for (const auto& c : cases) {
    setField(IDC_SM_ADDRESS, c.address);
    setField(IDC_SM_TIMESTEP, c.timestep);
    setField(IDC_SM_COMPILER_OUTPUT, "");
    output.str("");
    input.clear();
    input.str(c.input);
    routeScriptManagerCommand(c.button);
    pumpFor(50);
    EXPECT_EQ(field(IDC_SM_COMPILER_OUTPUT), c.pane) << c.address << " " << c.timestep << " " << c.input;
    EXPECT_EQ(timesPrinted("Open: "), c.opens) << c.pane;
    EXPECT_EQ(timesPrinted("Warning:"), c.warning.empty() ? 0 : 1) << c.address << " " << c.timestep;
    EXPECT_TRUE(c.warning.empty() || timesPrinted(c.warning + "\n") == 1) << output.str();
  }
  pumpFor(100);
  EXPECT_TRUE(sent("0d ").empty() && sent("0e ").empty());
}

}  // namespace
