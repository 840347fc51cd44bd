// The link's notices through the real console window seam and status display: what the
// operator sees for a stray byte, a bad frame and a fatal read failure.
#include "link/framing.h"
#include "link/serial_port.h"
#include "platform/console/console_window.h"
#include "pty_device.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

std::vector<int> flagsWhileAnswering;

// Answers every box at once, noting whether the pump's guard flag was up meanwhile.
bool answerBox(std::string& line) {
  flagsWhileAnswering.push_back(isMessageBoxShowing());
  line.clear();
  return true;
}

bool receiveSoon(Packet& packet) {
  for (int tries = 0; tries < 20; ++tries)
    if (receivePacket(packet)) return true;
  return false;
}

}  // namespace

TEST(LinkOnConsole, NoticesReachTheStatusBarAndTheWarningBox) {
  std::istringstream in;
  std::ostringstream out;
  consoleWindowReset(&in, &out, true);
  consoleSetLineReader(answerBox);
  flagsWhileAnswering.clear();
  setMessageBoxShowing(0);

  PtyDevice device;
  ASSERT_TRUE(device.create());
  openSerialPortPath(device.path.c_str());
  device.sendAndSettle({0x13, 0xAA, 0x01, 0x00, 0x01, 0x55, 0xAA, 0x01, 0x02, 0x02, 0x55});

  Packet packet{};
  EXPECT_FALSE(receivePacket(packet));
  EXPECT_EQ(consoleControlText(Dialog::Main, IDC_STATUS_BAR),
            "Packet tossed for invalid SOT character: 0x13");
  EXPECT_FALSE(receivePacket(packet));
  EXPECT_EQ(flagsWhileAnswering, std::vector<int>{1});
  EXPECT_EQ(isMessageBoxShowing(), 0);
  ASSERT_TRUE(receiveSoon(packet));
  EXPECT_EQ(packet.code(), 0x02);
  releasePacket(packet);
  closeSerialPort();

  const std::string shown = out.str();
  EXPECT_NE(shown.find("status: Packet tossed for invalid SOT character: 0x13\n"), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("Warning: Packet tossed for invalid checksum\n"), std::string::npos) << shown;
  consoleSetLineReader(nullptr);
}

TEST(LinkOnConsoleDeathTest, ReadFailureInsideAFrameShowsTheFatalBoxAndExitsWithOne) {
  EXPECT_EXIT(
      {
        std::istringstream in;
        consoleWindowReset(&in, &std::cerr, true);
        consoleSetLineReader(answerBox);
        PtyDevice device;
        if (!device.create()) exit(3);
        openSerialPortPath(device.path.c_str());
        device.send({0xAA, 0x04, 0x01});
        std::thread killer([&device] {
          usleep(200 * 1000);
          device.closeAll();
        });
        killer.detach();
        Packet packet{};
        receivePacket(packet);
        exit(0);
      },
      ::testing::ExitedWithCode(1), "Fatal Error!: Reading 6 bytes from com port failed");
}
