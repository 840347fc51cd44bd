// Framing over a real pseudo-terminal: frames put on the line, and what each received byte
// sequence yields (packet, status notice or warning).
#include "link_fixture.h"
#include <fcntl.h>
#include <unistd.h>

namespace {

Bytes countingPayload(int length) {
  Bytes payload;
  for (int i = 0; i < length; ++i) payload.push_back(static_cast<uint8_t>(i * 7 + 3));
  return payload;
}

// One-byte payloads go through sendCode, longer ones through sendPacket; each puts exactly
// its frame on the line.
TEST_F(LinkTest, SendPutsExactlyTheFrameOnTheLine) {
  const struct { Bytes payload; std::string line; } cases[] = {
      {{0x00}, "aa 01 00 00 55"},
      {{0x09, 0x01, 0x80}, "aa 03 09 01 80 8a 55"},
      {{0x0A, 0xFF, 0xFF, 0xFF, 0xFF}, "aa 05 0a ff ff ff ff 06 55"},  // the sum wraps
      {{0xAA, 0x55}, "aa 02 aa 55 ff 55"},  // SOT and EOT inside the payload
      {countingPayload(255), hex(frameOf(countingPayload(255)))}};  // the longest
  for (const auto& c : cases) {
    if (c.payload.size() == 1) sendCode(c.payload[0]);
    else sendPacket(c.payload.data(), static_cast<int>(c.payload.size()));
    EXPECT_EQ(hex(device.drain()), c.line);
  }
  EXPECT_EQ(recordedNotices(), "");
}

TEST_F(LinkTest, PayloadOutsideOneTo255IsRefusedWithNothingSent) {
  const Bytes big(256, 0x11);
  for (int length : {0, -1, 256}) {
    clearRecordings();
    sendPacket(big.data(), length);
    EXPECT_EQ(recordedNotices(),
              "Warning: Packet not sent: payload of " + std::to_string(length) + " bytes is outside 1 to 255\n");
  }
  EXPECT_EQ(hex(device.drain()), "");
}

TEST_F(LinkTest, WriteThatCannotCompleteWarnsAndTheNextFrameIsWhole) {
  // Fill the line until it has stayed full for a while: the device is not reading.
  int filler = open(device.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  const Bytes block(1024, 0x00);
  long total = 0;
  for (int quiet = 0, i = 0; quiet < 5 && i < 100000; ++i) {
    ssize_t n = write(filler, block.data(), block.size());
    if (n > 0) total += n, quiet = 0;
    else ++quiet, usleep(20 * 1000);
  }
  close(filler);
  ASSERT_GT(total, 0);

  // The port is opened again at once; the failed frame is gone and the next one is whole.
  auto start = std::chrono::steady_clock::now();
  sendCode(0x01);
  EXPECT_LT(elapsedMs(start), 2000);
  EXPECT_EQ(recordedNotices(), "link lost: " + device.path + "\nlink re-opened: " + device.path + "\nWarning: Write Failed\n");
  EXPECT_EQ(recordedBoxes().at(0).style, 0x0030u);
  EXPECT_EQ(isMessageBoxShowing(), 0);
  EXPECT_EQ(static_cast<long>(device.drain().size()), total);  // no part of the failed frame
  clearRecordings();
  sendCode(0x01);
  EXPECT_EQ(hex(device.drain()), "aa 01 01 01 55");
  EXPECT_EQ(recordedNotices(), "");
}

// A port that cannot be opened again: one warning, then a status line per refused command.
TEST_F(LinkTest, SendOnAVanishedPortWarnsOnceThenRefusesWithAStatusLine) {
  device.close();  // the path names no line any more
  closeSerialPort();
  sendCode(0x01);
  EXPECT_EQ(recordedNotices(), "link lost: " + device.path + "\nWarning: Write Failed\n");
  clearRecordings();
  sendCode(0x01);
  EXPECT_EQ(recordedNotices(), "status: Not sent: the link to " + device.path + " is lost - re-opening it\n");
  EXPECT_EQ(receiveOne(1), "");
  resetLinkState();
}

const std::string BAD_EOT = "Warning: Packet tossed for invalid EOT character\n";
const std::string BAD_SUM = "Warning: Packet tossed for invalid checksum\n";
std::string stray(const char* byte) { return std::string("status: Packet tossed for invalid SOT character: 0x") + byte + "\n"; }

// Each line's receive attempts yield these packets and notices in order, and then nothing:
// every byte was consumed.
TEST_F(LinkTest, ReceiveYieldsPacketsAndNoticesInOrder) {
  const struct { Bytes line; std::vector<std::string> attempts; } cases[] = {
      {{0x55, 0x00, 0xFE, 0xAA, 0x01, 0x00, 0x00, 0x55}, {stray("55"), stray("00"), stray("fe"), "aa 01 00 00 55"}},
      {{0xAA, 0x01, 0x00, 0x00, 0x54}, {BAD_EOT}},
      {{0xAA, 0x01, 0x00, 0x01, 0x55}, {BAD_SUM}},
      {{0xAA, 0x01, 0x00, 0x01, 0x54}, {BAD_EOT}},  // both bad: the EOT is reported
      {{0xAA, 0x00, 0x00, 0x55}, {"aa 00 00 55"}},  // empty payload
      {{0xAA, 0x02, 0xAA, 0x01, 0x00, 0x54, 0xAA, 0x01, 0x01, 0x01, 0x55}, {BAD_EOT, "aa 01 01 01 55"}},  // consumed whole
      {frameOf(countingPayload(255)), {hex(frameOf(countingPayload(255)))}},  // longest, SOT and EOT inside
      {{0xAA, 0x03, 0xFF, 0xFF, 0x01, 0xFF, 0x55}, {"aa 03 ff ff 01 ff 55"}}};  // a data byte 0xff arrives once
  for (const auto& c : cases) {
    device.send(c.line, true);
    for (const std::string& want : c.attempts) EXPECT_EQ(receiveOne(), want) << hex(c.line);
    EXPECT_EQ(receiveOne(1), "") << hex(c.line);
  }
}

TEST_F(LinkTest, NothingOnTheLineReturnsNothingAfterAboutTenMs) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(receiveOne(1), "");
  EXPECT_GE(elapsedMs(start), 5);
  EXPECT_LT(elapsedMs(start), 100);
}

TEST_F(LinkTest, StalledFrameIsDroppedAfterOneSecondAndTheNextFrameIsRead) {
  for (const Bytes& partial : {Bytes{0xAA}, Bytes{0xAA, 0x03, 0x09}}) {  // before L, inside payload
    device.send(partial, true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(receiveOne(1), "status: Packet dropped: no byte for 1000 ms inside a frame\n") << hex(partial);
    EXPECT_GE(elapsedMs(start), 1000);
    EXPECT_LT(elapsedMs(start), 3000);
    device.send({0xAA, 0x01, 0x01, 0x01, 0x55});
    EXPECT_EQ(receiveOne(), "aa 01 01 01 55");
  }
}

}  // namespace
