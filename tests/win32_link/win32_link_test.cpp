// The Windows serial backend under Wine: COM1 is mapped to a pseudo-terminal whose other end
// is played by wine_link_device.py, which checks every frame this program sends.
#include "link/framing.h"
#include "link/serial_port.h"
#include "../link/recording_window.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace

TEST(Win32Link, ExchangesFramesWithTheDeviceOnCom1) {
  setMessageBoxShowing(0);
  openSerialPort(1);
  ASSERT_TRUE(isSerialPortOpen());
  // Nothing is on the line before the first command: an attempt comes back at once.
  const DWORD start = GetTickCount();
  Packet none{};
  EXPECT_FALSE(receivePacket(none));
  EXPECT_LT(GetTickCount() - start, 1000u);

  // cdgInit; the device answers with a stray byte and an armed answer.
  send({0x01});
  EXPECT_EQ(receiveOne(), "status: Packet tossed for invalid SOT character: 0x13\n");
  EXPECT_EQ(receiveOne(), "AA 03 23 05 00 28 55");

  // cdgSetElectrode; the device starts a frame and stops inside it.
  send({0x09, 0x01, 0x80});
  const DWORD stallStart = GetTickCount();
  EXPECT_EQ(receiveOne(5000), "status: Packet dropped: no byte for 1000 ms inside a frame\n");
  EXPECT_GE(GetTickCount() - stallStart, 900u);

  // The same port opened by its device name.
  closeSerialPort();
  openSerialPortPath("COM1");
  send({0x01});
  EXPECT_EQ(receiveOne(), "AA 01 03 03 55");
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
