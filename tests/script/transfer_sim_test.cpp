// Memory transfer against kinestim-sim as a separate process: the program's real serial
// backend, pump and dispatcher in this process, the simulated device on its pseudo-terminal.
#include "link/framing.h"
#include "link/serial_port.h"
#include "platform/console/console_window.h"
#include "process_harness.h"
#include "protocol/catalogue.h"
#include "protocol/dispatcher.h"
#include "protocol/senders.h"
#include "resource.h"
#include "script/memory_view.h"
#include "script/transfer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using harness::Simulator;
using harness::TempDir;

class SimulatorTransfer : public ::testing::Test {
 protected:
  void start(std::vector<std::string> simOptions = {}) {
    sim = std::make_unique<Simulator>(dir, simOptions);
    ASSERT_TRUE(sim->ok()) << "kinestim-sim did not report its port";
    consoleWindowReset(&input, &output);
    setMessageBoxShowing(0);
    resetMemoryView();
    openSerialPortPath(sim->port().c_str());
    ASSERT_TRUE(pumpUntil([] { return mode() == "Idle"; }, 5000)) << mode();
  }
  void TearDown() override {
    closeSerialPort();
    if (sim) sim->control("quit");
  }

  static std::string mode() { return consoleControlText(Dialog::Main, IDC_MODE_FIELD); }

  void selectProgramScript() {
    sendSimpleCommand(cdgSelectModePgmScr);
    ASSERT_TRUE(pumpUntil([] { return mode() == "Program Script"; }, 5000)) << mode();
  }

  bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    long long deadline = harness::nowMs() + timeoutMs;
    while (harness::nowMs() < deadline) {
      ReceiveTimerProc();
      if (done()) return true;
      usleep(5000);
    }
    return done();
  }

  std::vector<std::string> chunks() {
    std::vector<std::string> out;
    for (const std::string& f : sim->frames('>'))
      if (f.rfind("0d ", 0) == 0) out.push_back(f);
    return out;
  }

  int timesPrinted(const std::string& text) const {
    std::string all = output.str();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  TempDir dir;
  std::unique_ptr<Simulator> sim;
  std::istringstream input;
  std::ostringstream output;
};

std::vector<uint8_t> imageOf(int length) {
  std::vector<uint8_t> image;
  for (int i = 0; i < length; ++i) image.push_back(static_cast<uint8_t>(0x40 + i));
  return image;
}

std::string hexRun(int from, int count) {
  std::string out;
  char pair[4];
  for (int i = from; i < from + count; ++i) {
    std::snprintf(pair, sizeof pair, "%.2x ", 0x40 + i);
    out += pair;
  }
  return out;
}

TEST_F(SimulatorTransfer, FortyBytesAt100GoOutAsThreeChunks) {
  start();
  selectProgramScript();
  std::vector<uint8_t> image = imageOf(40);
  EXPECT_TRUE(uploadScriptImage(100, image.data(), 40));
  EXPECT_EQ(chunks(), (std::vector<std::string>{"0d 64 00 " + hexRun(0, 16) + "cdgSrcUldMem",
                                                "0d 74 00 " + hexRun(16, 16) + "cdgSrcUldMem",
                                                "0d 84 00 " + hexRun(32, 8) + "cdgSrcUldMem"}));
  // Each chunk follows the acknowledgement of the one before.
  std::vector<std::string> order;
  for (const std::string& f : sim->frames())
    if (f.rfind("> 0d ", 0) == 0 || f.rfind("< 1f ", 0) == 0) order.push_back(f.substr(0, 11));
  EXPECT_EQ(order, (std::vector<std::string>{"> 0d 64 00 ", "< 1f 64 00 ", "> 0d 74 00 ", "< 1f 74 00 ",
                                             "> 0d 84 00 ", "< 1f 84 00 "}));
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

TEST_F(SimulatorTransfer, EmptyImageSendsNothing) {
  start();
  selectProgramScript();
  EXPECT_TRUE(uploadScriptImage(0, nullptr, 0));
  usleep(200000);
  EXPECT_TRUE(chunks().empty());
}

TEST_F(SimulatorTransfer, SilentDeviceWarnsOnceAfterFourSeconds) {
  start();
  selectProgramScript();
  sim->control("silent on");
  usleep(100000);
  std::vector<uint8_t> image = imageOf(40);
  long long t0 = harness::nowMs();
  EXPECT_FALSE(uploadScriptImage(0, image.data(), 40));
  long long elapsed = harness::nowMs() - t0;
  EXPECT_GE(elapsed, 4000);
  EXPECT_LT(elapsed, 6000);
  EXPECT_EQ(timesPrinted("Warning: Upload Failed - check connection and turn on Kinestim"), 1);
  usleep(300000);
  EXPECT_EQ(chunks().size(), 1u);
}

TEST_F(SimulatorTransfer, RejectionEndsTheUploadAtOnce) {
  start();  // Idle: uploads are not allowed
  std::vector<uint8_t> image = imageOf(40);
  long long t0 = harness::nowMs();
  EXPECT_FALSE(uploadScriptImage(0, image.data(), 40));
  EXPECT_LT(harness::nowMs() - t0, 1500);
  ASSERT_TRUE(sim->waitForFrame("< 02 0d mdgCmdRejectedInvalidMode"));
  usleep(200000);
  EXPECT_EQ(chunks().size(), 1u);
  EXPECT_EQ(timesPrinted("Warning: Upload Failed"), 0);
}

TEST_F(SimulatorTransfer, MessagesOfOtherKindsAreDispatchedDuringTheUpload) {
  start({"--baud", "9600"});
  selectProgramScript();
  // A tilt loop reports every 25 ms while the chunks cross the 9600 baud line.
  const uint8_t tiltLoop[4] = {cdgTiltLoop, 40, 0, 1};
  sendPacket(tiltLoop, 4);
  std::vector<uint8_t> image = imageOf(160);
  EXPECT_TRUE(uploadScriptImage(0, image.data(), 160));
  EXPECT_EQ(chunks().size(), 10u);
  // Nothing but the upload's own polling has read the line since the loop started, so
  // every reading in the Received pane was dispatched while the upload waited.
  std::string received = consoleControlText(Dialog::Main, IDC_RECEIVED_PANE);
  size_t readings = 0;
  for (size_t at = received.find(" mdgTilt <"); at != std::string::npos; at = received.find(" mdgTilt <", at + 1))
    ++readings;
  EXPECT_GE(readings, 3u) << received;
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

}  // namespace
