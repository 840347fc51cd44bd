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
#include <cmath>
#include <functional>
#include <memory>
#include <regex>

namespace {

const char INVALID_ADDRESS_BOX[] = "Warning: Invalid address, must be between 0 and 2047";

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
  void selectMode(uint8_t command, const char* name) {
    sendSimpleCommand(command);
    ASSERT_TRUE(pumpUntil([name] { return mode() == name; }, 5000)) << mode();
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
    for (const std::string& f : sim->frames('>')) if (f.rfind(code, 0) == 0) out.push_back(f);
    return out;
  }
  int timesPrinted(const std::string& text) const {
    int n = 0;
    for (size_t at = output.str().find(text); at != std::string::npos; at = output.str().find(text, at + 1)) ++n;
    return n;
  }
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name) + "\n";
  }
  harness::TempDir dir;
  std::unique_ptr<harness::Simulator> sim;
  std::istringstream input;
  std::ostringstream output;
};

// At 300 baud each chunk and its acknowledgement take about a second: the upload outlasts the
// time-out, which must restart with each chunk.
TEST_F(SimulatorTransfer, ChunksGoOutEachAfterTheLastAcknowledgementEachWithItsOwnTimeOut) {
  TearDown();
  start({"--baud", "300"});
  selectMode(cdgSelectModePgmScr, "Program Script");
  std::vector<uint8_t> image;
  for (int i = 0; i < 72; ++i) image.push_back(static_cast<uint8_t>(0x40 + i));
  const long long t0 = harness::nowMs();
  EXPECT_TRUE(uploadScriptImage(100, image.data(), 72));
  EXPECT_GE(harness::nowMs() - t0, 4100);
  std::vector<std::string> order, expected;
  for (const std::string& f : sim->frames()) if (f.rfind("> 0d ", 0) == 0 || f.rfind("< 1f ", 0) == 0) order.push_back(f);
  for (int at = 0; at < 72; at += 16) {   // each chunk, then its acknowledgement
    const std::string address = hex({static_cast<uint8_t>(100 + at), 0}) + " ";
    expected.push_back("> 0d " + address + hex(image.data() + at, at < 64 ? 16 : 8) + " cdgSrcUldMem");
    expected.push_back("< 1f " + address + (at < 64 ? "10" : "08") + " mdgScrMemUlded");
  }
  EXPECT_EQ(order, expected);
  EXPECT_TRUE(uploadScriptImage(0, nullptr, 0));
  pumpFor(200);
  EXPECT_EQ(sent("0d ").size(), 5u) << "an empty image sends nothing";
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

// The preview's timeline against the simulator running the same image with trace on: every
// traced instruction and mdgScrStopped at the preview's address and step (25 ms steps from
// mdgScrStarted). The script calls, delays (0 and n) and starts a tilt loop.
TEST_F(SimulatorTransfer, PreviewStepsAreTheSimulatorsStepTimes) {
  ScriptImage image;
  ASSERT_TRUE(compileScript("SetAllElectrodes 128 128 128 128\nCall 22\nDelay 0\nDelay 3\nTiltLoop 2 1\n"
                            "SetElectrode 1 150\nStop\nSetElectrode 2 140\nDelay 2\nReturn\n", image));
  const ScriptPreview preview = previewScript(image.bytes, image.length, 0, 1000, true, true);
  selectMode(cdgSelectModePgmScr, "Program Script");
  ASSERT_TRUE(uploadScriptImage(0, image.bytes, image.length));
  releaseScriptImage(image);
  selectMode(cdgSelectModeRunScr, "Run Scr");
  sendSimpleCommand(cdgScrTraceOn);
  const uint8_t run[3] = {cdgScrRun, 0, 0};
  sendPacket(run, 3);
  const auto stopped = [this] { return harness::readFile(sim->transcriptPath()).find("mdgScrStopped") != std::string::npos; };
  ASSERT_TRUE(pumpUntil(stopped, 5000));
  static const std::regex traced(R"(^ *([0-9.]+) < [0-9a-f]{2} ([0-9a-f]{2}) ([0-9a-f]{2}) .*(mdgScr\w+)$)");
  std::smatch m;
  double started = -1;
  std::string simulated, previewed;
  const auto at = [](int64_t address, int64_t step) { return std::to_string(address) + "@" + std::to_string(step) + " "; };
  for (const std::string& line : harness::readLines(sim->transcriptPath())) {
    if (!std::regex_match(line, m, traced)) continue;
    const int address = std::stoi(m[2].str(), nullptr, 16) | std::stoi(m[3].str(), nullptr, 16) << 8;
    if (m[4] == "mdgScrStarted") started = std::stod(m[1].str());
    const long step = std::lround((std::stod(m[1].str()) - started) / 25);
    if (m[4] == "mdgScrTrace" || m[4] == "mdgScrStopped") simulated += at(address, step);
  }
  for (const auto& [address, step] : preview.trace) previewed += at(address, step);
  EXPECT_EQ(simulated, previewed + at(preview.endAddress, preview.endStep));
}

// A View from 2040 stops with one warning at the end of script memory; read-back requests
// outside it are refused, each with a warning; a stray answer lists nothing.
TEST_F(SimulatorTransfer, ReadBackStaysInsideScriptMemory) {
  setField(IDC_SM_ADDRESS, "2040");
  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(pumpUntil([&] { return timesPrinted(INVALID_ADDRESS_BOX) > 0; }, 5000));
  sim->control("silent on");
  sim->control("garbage " + hex(frameOf({mdgScrMemDld, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01}), ""));
  for (int address : {0, 300, 2047, 2048, -1, INT_MIN}) requestScriptMemory(address);
  pumpFor(300);
  EXPECT_EQ(field(IDC_SM_MEMORY) + "|" + field(IDC_SM_ADDRESS), "|2040");
  const std::vector<std::string> requests = sent("0e ");
  ASSERT_EQ(requests.size(), 11u) << "the View's eight, then the three inside";
  EXPECT_EQ(std::vector<std::string>(requests.begin() + 7, requests.end()),
            (std::vector<std::string>{"0e ff 07 05 cdgScrDldMem", "0e 00 00 05 cdgScrDldMem",
                                      "0e 2c 01 05 cdgScrDldMem", "0e ff 07 05 cdgScrDldMem"}));
  EXPECT_EQ(timesPrinted(INVALID_ADDRESS_BOX), 4);
}

TEST_F(SimulatorTransfer, UploadReadsTheAddressFieldAsANumber) {
  selectMode(cdgSelectModePgmScr, "Program Script");
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

// Refusals before anything is sent: the compiler output pane, the number of files asked for,
// and the one warning, if any. Then, in Idle, the device refuses the first chunk: the upload
// ends at once, without the time-out's warning.
TEST_F(SimulatorTransfer, RefusedUploadsSendNothing) {
  const std::string ADDRESS = "Warning: Address must be a number from 0 to 2047, not ";
  const struct {
    int button;
    const char *address, *timestep;
    std::string input, pane;
    int opens;
    std::string warning;
  } cases[] = {
    {IDC_SM_APPEND, "2048", "25", "", "", 0, INVALID_ADDRESS_BOX},
    {IDC_SM_APPEND, "-1", "25", "", "", 0, INVALID_ADDRESS_BOX},
    {IDC_SM_VIEW, "1.5", "25", "", "", 0, ADDRESS + "\"1.5\""},
    {IDC_SM_UPLOAD_SAMPLES, "abc", "25", file("s.txt", "0 0 0 0"), "", 0, ADDRESS + "\"abc\""},
    {IDC_SM_UPLOAD, "", "25", file("a.ks", "Stop"), "", 0, ADDRESS + "\"\""},
    {IDC_SM_UPLOAD, "2048", "25", file("a.ks", "Stop"), "Invalid address, must be between 0 and 2047", 0, ""},
    {IDC_SM_UPLOAD, "0", "25", file("bad.ks", "Stop\r\nWait 5\r\n"), "Syntax Error: Invalid command Wait", 1, ""},
    {IDC_SM_UPLOAD, "0", "25", dir.file("missing.ks") + "\n\n", "Failed to read source file", 2, ""},
    {IDC_SM_UPLOAD_SAMPLES, "0", "25ms", file("s.txt", "0 0 0 0"), "", 0,
     "Warning: Timestep must be a number from 0 to 1638424, not \"25ms\""},
    {IDC_SM_UPLOAD_SAMPLES, "0", "1638425", file("s.txt", "0 0 0 0"), "Invalid timestep", 0, ""},
    {IDC_SM_UPLOAD_SAMPLES, "0", "25", "\n", "Failed to read sample file", 1, ""},
    {IDC_SM_UPLOAD_SAMPLES, "0", "25", file("s3.txt", "0 0 0 2.56"), "Sample must be between -2.56 and 2.54: 2.56",
     1, ""}};
  for (const auto& c : cases) {
    setField(IDC_SM_ADDRESS, c.address);
    setField(IDC_SM_TIMESTEP, c.timestep);
    setField(IDC_SM_COMPILER_OUTPUT, "");
    output.str("");
    input.clear();
    input.str(c.input);
    routeScriptManagerCommand(c.button);
    pumpFor(50);
    EXPECT_EQ(field(IDC_SM_COMPILER_OUTPUT) + "|" + std::to_string(timesPrinted("Open: ")) + "|" +
                  std::to_string(timesPrinted("Warning:")),
              c.pane + "|" + std::to_string(c.opens) + "|" + (c.warning.empty() ? "0" : "1")) << c.address;
    EXPECT_TRUE(c.warning.empty() || timesPrinted(c.warning + "\n") == 1) << output.str();
  }
  pumpFor(100);
  EXPECT_TRUE(sent("0d ").empty() && sent("0e ").empty());
  const long long t0 = harness::nowMs();
  EXPECT_FALSE(uploadScriptImage(0, reinterpret_cast<const uint8_t*>("0123456789abcdef0123"), 20));
  EXPECT_LT(harness::nowMs() - t0, 1500);
  ASSERT_TRUE(sim->waitForFrame("< 02 0d mdgCmdRejectedInvalidMode"));
  pumpFor(200);
  EXPECT_EQ(sent("0d ").size(), 1u);
  EXPECT_EQ(timesPrinted("Warning: Upload Failed"), 0);
}

}  // namespace
