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

std::string hex(const uint8_t* bytes, int count) {
  std::string text;
  char cell[8];
  for (int i = 0; i < count; ++i) {
    snprintf(cell, sizeof cell, i == 0 ? "%.2X" : " %.2X", bytes[i]);
    text += cell;
  }
  return text;
}

// One receive outcome: the frame's bytes, or the notice that ended the attempt.
struct Outcome {
  std::string packet;
  std::string status;
  std::string warning;
};

// Repeats receive attempts until one yields a packet or a notice, or timeoutMs pass.
Outcome receiveOne(DWORD timeoutMs = 10000) {
  clearRecordings();
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    Packet packet{};
    if (receivePacket(packet)) {
      Outcome got{hex(packet.bytes, packet.size()), "", ""};
      releasePacket(packet);
      return got;
    }
    if (!recordedStatusTexts().empty()) return Outcome{"", recordedStatusTexts()[0], ""};
    if (!recordedBoxes().empty()) return Outcome{"", "", recordedBoxes()[0].text};
  }
  return Outcome{"(nothing)", "", ""};
}

void send(std::initializer_list<uint8_t> payload) {
  clearRecordings();
  sendPacket(payload.begin(), static_cast<int>(payload.size()));
  EXPECT_TRUE(recordedBoxes().empty()) << recordedBoxes()[0].text;
}

}  // namespace

TEST(Win32Link, ExchangesFramesWithTheDeviceOnCom1) {
  setMessageBoxShowing(0);
  openSerialPort(1);
  ASSERT_TRUE(isSerialPortOpen());

  // Nothing is sent before the first command: a frame-start read comes back empty.
  const DWORD start = GetTickCount();
  uint8_t byte = 0;
  EXPECT_EQ(readFrameStart(&byte), NoByte);
  EXPECT_LT(GetTickCount() - start, 1000u);

  // cdgInit; the device answers with a stray byte, an armed answer, a frame with a bad
  // checksum and an empty frame.
  send({0x01});
  Outcome got = receiveOne();
  EXPECT_EQ(got.status, "Packet tossed for invalid SOT character: 0x13");
  EXPECT_EQ(receiveOne().packet, "AA 03 23 05 00 28 55");
  got = receiveOne();
  EXPECT_EQ(got.warning, "Packet tossed for invalid checksum");
  EXPECT_EQ(recordedBoxes().at(0).caption, "Warning");
  EXPECT_EQ(recordedBoxes().at(0).flagWhileShown, 1);
  EXPECT_EQ(receiveOne().packet, "AA 00 00 55");

  // cdgSetElectrode; the device starts a frame and stops inside it.
  send({0x09, 0x01, 0x80});
  const DWORD stallStart = GetTickCount();
  got = receiveOne(5000);
  EXPECT_EQ(got.status, "Packet dropped: no byte for 1000 ms inside a frame");
  EXPECT_GE(GetTickCount() - stallStart, 900u);

  // cdgNOP; the device answers with a whole frame again.
  send({0x00});
  EXPECT_EQ(receiveOne().packet, "AA 01 02 02 55");

  // The same port opened by its device name.
  closeSerialPort();
  EXPECT_FALSE(isSerialPortOpen());
  openSerialPortPath("COM1");
  send({0x01});
  EXPECT_EQ(receiveOne().packet, "AA 01 03 03 55");
  closeSerialPort();
}

// "--open N" opens port N and reports success; the fatal paths end the process with status 1.
int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--open") == 0) {
    openSerialPort(atoi(argv[2]));
    printf("opened\n");
    closeSerialPort();
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
