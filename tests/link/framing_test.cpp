// Framing over a real pseudo-terminal: checksums, frames put on the line, and what each
// received byte sequence yields (packet, status notice or warning).
#include "link/framing.h"
#include "link_fixture.h"
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

Bytes countingPayload(int length) {
  Bytes payload;
  for (int i = 0; i < length; ++i) payload.push_back(static_cast<uint8_t>(i * 7 + 3));
  return payload;
}

// Receives with a few 10 ms attempts, for bytes that may still be crossing the pty.
bool receiveSoon(Packet& packet) {
  for (int tries = 0; tries < 20; ++tries) {
    if (receivePacket(packet)) return true;
    if (!recordedBoxes().empty() || !recordedStatusTexts().empty()) return false;
  }
  return false;
}

std::vector<std::string> warningTexts() {
  std::vector<std::string> texts;
  for (const RecordedBox& box : recordedBoxes()) {
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.style, 0x0030u);
    texts.push_back(box.text);
  }
  return texts;
}

}  // namespace

struct ChecksumCase {
  Bytes bytes;
  uint8_t sum;
};

void PrintTo(const ChecksumCase& c, std::ostream* os) { *os << hex(c.bytes); }

class Checksum : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(Checksum, IsTheByteSumModulo256) {
  const ChecksumCase& c = GetParam();
  EXPECT_EQ(computeChecksum(c.bytes.data(), static_cast<int>(c.bytes.size())), c.sum);
}

INSTANTIATE_TEST_SUITE_P(
    Sums, Checksum,
    ::testing::Values(ChecksumCase{{}, 0x00}, ChecksumCase{{0x01}, 0x01},
                      ChecksumCase{{0x09, 0x01, 0x80}, 0x8A},
                      ChecksumCase{{0x0A, 0xFF, 0xFF, 0xFF, 0xFF}, 0x06},
                      ChecksumCase{{0xFF, 0x01}, 0x00},
                      ChecksumCase{Bytes(255, 0xFF), 0x01}),
    [](const ::testing::TestParamInfo<ChecksumCase>& info) {
      char name[32];
      snprintf(name, sizeof name, "Of%zuBytesIs%.2X", info.param.bytes.size(), info.param.sum);
      return std::string(name);
    });

struct SendCase {
  const char* name;
  Bytes payload;
  Bytes line;  // empty: built from the payload below
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class SendPacket : public LinkTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendPacket, PutsExactlyTheFrameOnTheLine) {
  const SendCase& c = GetParam();
  Bytes expected = c.line;
  if (expected.empty()) {
    expected = {SOT, static_cast<uint8_t>(c.payload.size())};
    expected.insert(expected.end(), c.payload.begin(), c.payload.end());
    expected.push_back(computeChecksum(c.payload.data(), static_cast<int>(c.payload.size())));
    expected.push_back(EOT);
  }
  sendPacket(c.payload.data(), static_cast<int>(c.payload.size()));
  EXPECT_EQ(hex(device.drain()), hex(expected));
  EXPECT_TRUE(recordedBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SendPacket,
    ::testing::Values(
        SendCase{"Init", {0x01}, {0xAA, 0x01, 0x01, 0x01, 0x55}},
        SendCase{"Nop", {0x00}, {0xAA, 0x01, 0x00, 0x00, 0x55}},
        SendCase{"SetElectrode", {0x09, 0x01, 0x80}, {0xAA, 0x03, 0x09, 0x01, 0x80, 0x8A, 0x55}},
        SendCase{"SumWraps", {0x0A, 0xFF, 0xFF, 0xFF, 0xFF},
                 {0xAA, 0x05, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x55}},
        SendCase{"SotAndEotInPayload", {0xAA, 0x55}, {0xAA, 0x02, 0xAA, 0x55, 0xFF, 0x55}},
        SendCase{"Longest", countingPayload(255), {}}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, SendCodeFramesTheOneByte) {
  sendCode(0x0F);
  EXPECT_EQ(hex(device.drain()), "AA 01 0F 0F 55");
}

TEST_F(LinkTest, PayloadOutsideOneTo255IsRefusedWithNothingSent) {
  const Bytes big(256, 0x11);
  for (int length : {0, -1, 256}) {
    clearRecordings();
    sendPacket(big.data(), length);
    ASSERT_EQ(warningTexts().size(), 1u) << length;
    EXPECT_EQ(recordedBoxes()[0].text, "Packet not sent: payload of " + std::to_string(length) +
                                           " bytes is outside 1 to 255");
  }
  EXPECT_EQ(hex(device.drain()), "");
}

TEST_F(LinkTest, WriteThatCannotCompleteWarnsAndTheNextFrameIsWhole) {
  // Fill the line until it accepts no more: the device is not reading.
  int filler = open(device.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  const Bytes block(1024, 0x00);
  long total = 0;
  // The kernel moves queued bytes along in the background, so keep filling until the line
  // has stayed full for a while.
  for (int quiet = 0, i = 0; quiet < 5 && i < 100000; ++i) {
    ssize_t n = write(filler, block.data(), block.size());
    if (n > 0) {
      total += n;
      quiet = 0;
    } else {
      ++quiet;
      usleep(20 * 1000);
    }
  }
  close(filler);
  ASSERT_GT(total, 0);

  auto start = std::chrono::steady_clock::now();
  sendCode(0x01);
  EXPECT_LT(elapsedMs(start), 2000);
  EXPECT_EQ(warningTexts(), std::vector<std::string>{"Write Failed"});
  EXPECT_EQ(isMessageBoxShowing(), 0);

  Bytes flushed = device.drain();
  EXPECT_EQ(static_cast<long>(flushed.size()), total);  // no part of the failed frame
  clearRecordings();
  sendCode(0x01);
  EXPECT_EQ(hex(device.drain()), "AA 01 01 01 55");
  EXPECT_TRUE(recordedBoxes().empty());
}

TEST(LinkClosed, SendOnAClosedPortReportsWriteFailed) {
  clearRecordings();
  closeSerialPort();
  sendCode(0x01);
  ASSERT_EQ(recordedBoxes().size(), 1u);
  EXPECT_EQ(recordedBoxes()[0].text, "Write Failed");
  Packet packet{};
  EXPECT_FALSE(receivePacket(packet));  // nothing can arrive on a closed port
}

// One receive attempt's outcome: a packet, or nothing with the notices it produced.
struct Attempt {
  std::optional<Bytes> packet;
  std::vector<std::string> statusTexts;
  std::vector<std::string> warnings;
};

struct ReceiveCase {
  const char* name;
  Bytes line;
  std::vector<Attempt> attempts;
};

void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.name; }

class ReceivePacket : public LinkTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceivePacket, YieldsPacketsAndNoticesInOrder) {
  const ReceiveCase& c = GetParam();
  device.sendAndSettle(c.line);
  for (size_t i = 0; i < c.attempts.size(); ++i) {
    const Attempt& want = c.attempts[i];
    clearRecordings();
    Packet packet{};
    bool got = receiveSoon(packet);
    SCOPED_TRACE("attempt " + std::to_string(i + 1));
    if (want.packet) {
      ASSERT_TRUE(got);
      Bytes bytes(packet.bytes, packet.bytes + packet.size());
      EXPECT_EQ(hex(bytes), hex(*want.packet));
      EXPECT_EQ(packet.length(), (*want.packet)[1]);
      EXPECT_EQ(packet.code(), (*want.packet)[2]);
      releasePacket(packet);
      EXPECT_EQ(packet.bytes, nullptr);
    } else {
      EXPECT_FALSE(got);
      EXPECT_EQ(packet.bytes, nullptr);
    }
    EXPECT_EQ(recordedStatusTexts(), want.statusTexts);
    EXPECT_EQ(warningTexts(), want.warnings);
  }
  // Everything was consumed: the line is quiet now.
  clearRecordings();
  Packet packet{};
  EXPECT_FALSE(receivePacket(packet));
  EXPECT_TRUE(recordedBoxes().empty());
  EXPECT_TRUE(recordedStatusTexts().empty());
}

namespace {
const char* const BAD_EOT = "Packet tossed for invalid EOT character";
const char* const BAD_SUM = "Packet tossed for invalid checksum";
Attempt packet(Bytes bytes) { return Attempt{std::move(bytes), {}, {}}; }
Attempt status(const char* text) { return Attempt{std::nullopt, {text}, {}}; }
Attempt warning(const char* text) { return Attempt{std::nullopt, {}, {text}}; }

Bytes longestFrame() {
  Bytes payload = countingPayload(255);
  Bytes frame{0xAA, 0xFF};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(computeChecksum(payload.data(), 255));
  frame.push_back(0x55);
  return frame;
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Lines, ReceivePacket,
    ::testing::Values(
        ReceiveCase{"ArmedAnswer",
                    {0xAA, 0x03, 0x23, 0x05, 0x00, 0x28, 0x55},
                    {packet({0xAA, 0x03, 0x23, 0x05, 0x00, 0x28, 0x55})}},
        ReceiveCase{"StrayByteThenFrame",
                    {0x13, 0xAA, 0x01, 0x00, 0x00, 0x55},
                    {status("Packet tossed for invalid SOT character: 0x13"),
                     packet({0xAA, 0x01, 0x00, 0x00, 0x55})}},
        ReceiveCase{"StrayEotAndZero",
                    {0x55, 0x00, 0xFE},
                    {status("Packet tossed for invalid SOT character: 0x55"),
                     status("Packet tossed for invalid SOT character: 0x00"),
                     status("Packet tossed for invalid SOT character: 0xfe")}},
        ReceiveCase{"BadEot", {0xAA, 0x01, 0x00, 0x00, 0x54}, {warning(BAD_EOT)}},
        ReceiveCase{"BadChecksum", {0xAA, 0x01, 0x00, 0x01, 0x55}, {warning(BAD_SUM)}},
        ReceiveCase{"BothBadReportsEotOnly", {0xAA, 0x01, 0x00, 0x01, 0x54}, {warning(BAD_EOT)}},
        ReceiveCase{"EmptyPayload", {0xAA, 0x00, 0x00, 0x55}, {packet({0xAA, 0x00, 0x00, 0x55})}},
        ReceiveCase{"BadFrameIsConsumedWhole",
                    {0xAA, 0x02, 0xAA, 0x01, 0x00, 0x54, 0xAA, 0x01, 0x01, 0x01, 0x55},
                    {warning(BAD_EOT), packet({0xAA, 0x01, 0x01, 0x01, 0x55})}},
        ReceiveCase{"SotInsidePayload",
                    {0xAA, 0x02, 0xAA, 0x01, 0xAB, 0x55},
                    {packet({0xAA, 0x02, 0xAA, 0x01, 0xAB, 0x55})}},
        ReceiveCase{"Longest", longestFrame(), {packet(longestFrame())}}),
    [](const ::testing::TestParamInfo<ReceiveCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, NothingOnTheLineReturnsNothingAfterAboutTenMs) {
  auto start = std::chrono::steady_clock::now();
  Packet packet{};
  EXPECT_FALSE(receivePacket(packet));
  long ms = elapsedMs(start);
  EXPECT_GE(ms, 5);
  EXPECT_LT(ms, 100);
  EXPECT_TRUE(recordedBoxes().empty());
  EXPECT_TRUE(recordedStatusTexts().empty());
}

struct StallCase {
  const char* name;
  Bytes partial;
};

void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class StalledFrame : public LinkTest, public ::testing::WithParamInterface<StallCase> {};

TEST_P(StalledFrame, IsDroppedAfterOneSecondAndTheNextFrameIsRead) {
  device.sendAndSettle(GetParam().partial);
  auto start = std::chrono::steady_clock::now();
  Packet packet{};
  EXPECT_FALSE(receivePacket(packet));
  long ms = elapsedMs(start);
  EXPECT_GE(ms, 1000);
  EXPECT_LT(ms, 3000);
  EXPECT_EQ(recordedStatusTexts(),
            std::vector<std::string>{"Packet dropped: no byte for 1000 ms inside a frame"});
  EXPECT_TRUE(recordedBoxes().empty());

  clearRecordings();
  device.send({0xAA, 0x01, 0x01, 0x01, 0x55});
  ASSERT_TRUE(receiveSoon(packet));
  EXPECT_EQ(hex(Bytes(packet.bytes, packet.bytes + packet.size())), "AA 01 01 01 55");
  releasePacket(packet);
  EXPECT_TRUE(recordedStatusTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(Stalls, StalledFrame,
                         ::testing::Values(StallCase{"BeforeLength", {0xAA}},
                                           StallCase{"InsidePayload", {0xAA, 0x03, 0x09}}),
                         [](const ::testing::TestParamInfo<StallCase>& info) {
                           return std::string(info.param.name);
                         });
