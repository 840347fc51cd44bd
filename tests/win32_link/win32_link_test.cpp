// The Windows serial backend under Wine against kinestim-sim on COM1, whose control pipe
// (KINESTIM_SIM_CONTROL) puts stray bytes and stalled frames on the line.
#include "link/framing.h"
#include "link/serial_port.h"
#include "../link/recording_window.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// Receive attempts until one yields a packet (its hex) or a notice, or timeoutMs pass.
std::string receiveOne(DWORD timeoutMs = 10000) {
  clearRecordings();
  for (const DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs && recordedNotices().empty();) {
    Packet packet{};
    if (!receivePacket(packet)) continue;
    std::string text;
    for (int i = 0; i < packet.size(); ++i) {
      char cell[8];
      snprintf(cell, sizeof cell, i == 0 ? "%.2X" : " %.2X", packet.bytes[i]);
      text += cell;
    }
    releasePacket(packet);
    return text;
  }
  return recordedNotices();
}

void send(std::initializer_list<uint8_t> payload) {
  clearRecordings();
  sendPacket(payload.begin(), static_cast<int>(payload.size()));
  EXPECT_EQ(recordedNotices(), "");
}

void simulator(const char* line) {
  std::ofstream(std::getenv("KINESTIM_SIM_CONTROL")) << line << "\n";
  Sleep(200);
}

}  // namespace

TEST(Win32Link, ExchangesFramesWithTheDeviceOnCom1) {
  ASSERT_NE(std::getenv("KINESTIM_SIM_CONTROL"), nullptr);
  setMessageBoxShowing(0);
  openSerialPort(1);
  ASSERT_TRUE(isSerialPortOpen());
  EXPECT_EQ(receiveOne(), "AA 01 0A 0A 55");  // the device powered on
  EXPECT_EQ(receiveOne(), "AA 01 0B 0B 55");
  // Nothing more is on the line: an attempt comes back at once.
  const DWORD start = GetTickCount();
  Packet none{};
  EXPECT_FALSE(receivePacket(none));
  EXPECT_LT(GetTickCount() - start, 1000u);

  // A stray byte, then the answer to cdgDldMode.
  simulator("garbage 13");
  send({0x08});
  EXPECT_EQ(receiveOne(), "status: Packet tossed for invalid SOT character: 0x13\n");
  EXPECT_EQ(receiveOne(), "AA 02 1B 02 1D 55");

  // The device starts a frame and stops inside it for longer than the host waits.
  simulator("stall-next 1500");
  send({0x08});
  const DWORD stallStart = GetTickCount();
  EXPECT_EQ(receiveOne(5000), "status: Packet dropped: no byte for 1000 ms inside a frame\n");
  EXPECT_GE(GetTickCount() - stallStart, 900u);
  Sleep(800);
  while (!receiveOne(300).empty()) {}  // the frame's late rest, tossed

  // The same port opened by its device name.
  closeSerialPort();
  openSerialPortPath("COM1");
  send({0x08});
  EXPECT_EQ(receiveOne(), "AA 02 1B 02 1D 55");
  closeSerialPort();
}

// "--open N" opens port N and ends with status 0; the fatal paths end it with status 1.
int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--open") == 0) {
    openSerialPort(atoi(argv[2]));
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
