// The link over real pseudo-terminal pairs: frames put on the line, what received bytes yield,
// the POSIX backend's line settings and time-outs, failed reads and writes, refused opens.
#include "link/framing.h"
#include "link/serial_backend.h"
#include "link/port_argument.h"
#include "link/serial_port.h"
#include "pty_device.h"
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
long elapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Receive attempts until one yields a packet (its hex) or a problem (its text); "" when
// `tries` yield nothing.
std::string receiveOne(int tries = 20) {
  for (int i = 0; i < tries; ++i) {
    Packet packet{};
    const ReceiveReport report = receivePacket(packet);
    if (report.status == LinkStatus::Data) {
      std::string got = hex(Bytes(packet.bytes, packet.bytes + packet.size()));
      releasePacket(packet);
      return got;
    }
    if (report.problem != FrameProblem::None) return report.text;
  }
  return "";
}

class LinkTest : public ::testing::Test {
 protected:
  PtyDevice device;
  void SetUp() override {
    ASSERT_TRUE(device.create()) << "no pseudo-terminal available";
    ASSERT_EQ(openSerialPortPath(device.path.c_str()), nullptr);
    ASSERT_TRUE(isSerialPortOpen());
  }
  void TearDown() override { closeSerialPort(); }
};

// Each payload goes out as exactly its frame; lengths outside 1 to 255 send nothing.
TEST_F(LinkTest, SendPutsExactlyTheFrameOnTheLineOrRefusesIt) {
  Bytes longest(255);
  std::iota(longest.begin(), longest.end(), 0);  // SOT and EOT inside
  const struct { Bytes payload; std::string line; } cases[] = {
      {{0x00}, "aa 01 00 00 55"}, {{0x09, 0x01, 0x80}, "aa 03 09 01 80 8a 55"},
      {{0x0A, 0xFF, 0xFF, 0xFF, 0xFF}, "aa 05 0a ff ff ff ff 06 55"},  // the sum wraps
      {{0xAA, 0x55}, "aa 02 aa 55 ff 55"},  // SOT and EOT inside the payload
      {longest, hex(frameOf(longest))}};
  for (const auto& c : cases) {
    EXPECT_EQ(sendPacket(c.payload.data(), static_cast<int>(c.payload.size())), LinkStatus::Data);
    EXPECT_EQ(hex(device.drain()), c.line);
  }
  const Bytes big(256, 0x11);
  for (int length : {0, -1, 256}) EXPECT_EQ(sendPacket(big.data(), length), LinkStatus::Nothing) << length;
  EXPECT_EQ(hex(device.drain()), "");
}

TEST_F(LinkTest, WriteThatCannotCompleteFailsAndAfterAReopenTheNextFrameIsWhole) {
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
  // The write fails within its bound; opened again, the failed frame is gone and the next is whole.
  const uint8_t code = 0x01;
  auto start = Clock::now();
  EXPECT_EQ(sendPacket(&code, 1), LinkStatus::Failed);
  EXPECT_LT(elapsedMs(start), 2000);
  ASSERT_TRUE(tryReopenSerialPort());
  EXPECT_EQ(static_cast<long>(device.drain().size()), total);  // no part of the failed frame
  EXPECT_EQ(sendPacket(&code, 1), LinkStatus::Data);
  EXPECT_EQ(hex(device.drain()), "aa 01 01 01 55");
}

const std::string BAD_EOT = "Packet tossed for invalid EOT character";

// Each line's receive attempts yield these packets and notices in order, and then nothing:
// every byte was consumed. (Stray bytes, single bad frames and stalls are the fault tests' cases.)
TEST_F(LinkTest, ReceiveYieldsPacketsAndNoticesInOrder) {
  const struct { Bytes line; std::vector<std::string> attempts; } cases[] = {
      {{0xAA, 0x01, 0x00, 0x01, 0x54}, {BAD_EOT}},  // both bad: the EOT is reported
      {{0xAA, 0x00, 0x00, 0x55}, {"aa 00 00 55"}},  // empty payload
      {{0xAA, 0x02, 0xAA, 0x01, 0x00, 0x54, 0xAA, 0x01, 0x01, 0x01, 0x55}, {BAD_EOT, "aa 01 01 01 55"}},  // consumed whole
      {frameOf(Bytes(255, 0x55)), {hex(frameOf(Bytes(255, 0x55)))}},  // the longest, EOT bytes inside
      {{0xAA, 0x03, 0xFF, 0xFF, 0x01, 0xFF, 0x55}, {"aa 03 ff ff 01 ff 55"}}};  // a data byte 0xff arrives once
  for (const auto& c : cases) {
    device.send(c.line, true);
    for (const std::string& want : c.attempts) EXPECT_EQ(receiveOne(), want) << hex(c.line);
    auto start = Clock::now();
    EXPECT_EQ(receiveOne(1), "") << hex(c.line);
    EXPECT_GE(elapsedMs(start), 5);     // a quiet line returns after about 10 ms: it waited,
    EXPECT_LT(elapsedMs(start), 1000);  // but did not block (a loaded machine wakes it late)
  }
}

// Open applies the settings and purges earlier input; reads collect bytes sent with pauses
// longer than the read time-out.
TEST_F(LinkTest, OpenSetsTheLinePurgesItAndReadsWaitForEveryByte) {
  // Raw 9600 8N1, no flow control or translation, line errors marked, reads that never block.
  termios t{};
  ASSERT_EQ(tcgetattr(device.slave, &t), 0);
  const tcflag_t in = IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP | INPCK | PARMRK | IGNPAR | IGNBRK | BRKINT;
  const tcflag_t control = CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD;
  const tcflag_t local = ICANON | ECHO | ISIG | IEXTEN;
  EXPECT_EQ(std::vector<unsigned>({cfgetispeed(&t), cfgetospeed(&t), t.c_cflag & control, t.c_iflag & in,
                                   t.c_oflag & OPOST, t.c_lflag & local, t.c_cc[VMIN], t.c_cc[VTIME]}),
            (std::vector<unsigned>{B9600, B9600, CS8 | CLOCAL | CREAD, INPCK | PARMRK, 0, 0, 0, 0}));
  closeSerialPort();
  EXPECT_FALSE(isSerialPortOpen());
  device.send({0xAA, 0x01, 0x00, 0x00, 0x55, 0x13}, true);
  openSerialPortPath(device.path.c_str());
  EXPECT_EQ(receiveOne(1), "");
  std::thread sender([this] {
    for (uint8_t b : {0x10, 0x20, 0xAA, 0x55, 0x00}) {
      usleep(40 * 1000);
      device.send({b});
    }
  });
  uint8_t buffer[6] = {0, 0, 0, 0, 0, 0xEE};
  LinkStatus complete = readExact(buffer, 5);
  sender.join();
  EXPECT_EQ(complete, LinkStatus::Data);
  EXPECT_EQ(hex(Bytes(buffer, buffer + 6)), "10 20 aa 55 00 ee");
  // Opening the port this process holds, numbers outside 1 to 9999, paths that name no device
  // and a file that is no terminal are refused with the port's name and the system's reason.
  const std::string OPEN = "open communications port\r\n";
  const struct { int number; const char* path; std::string text; } refused[] = {  // number if no path
      {0, device.path.c_str(), OPEN + device.path + ": in use by another program"},
      {10000, nullptr, OPEN + "port 10000: no such port number"}, {0, nullptr, OPEN + "port 0: no such port number"},
      {0, "", OPEN + "(no port): no device path given, or a path too long"},
      {0, "/nonexistent/ttyKinestim", OPEN + "/nonexistent/ttyKinestim: No such file or directory"},
      {0, "/tmp", OPEN + "/tmp: Is a directory"},
      {0, "/dev/null", "set comm state\r\n/dev/null: Inappropriate ioctl for device"}};
  closeSerialPort();
  const int holder = open(device.path.c_str(), O_RDWR | O_NOCTTY);  // another program's lock
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  for (const auto& c : refused) {
    const char* failure = c.path ? openSerialPortPath(c.path) : openSerialPort(c.number);
    EXPECT_EQ(std::string(failure ? failure : "(opened)"), "Failed to " + c.text)
        << c.number << " " << (c.path ? c.path : "(number)");
    EXPECT_FALSE(isSerialPortOpen());
  }
  close(holder);
}

TEST_F(LinkTest, FailedReadInsideAFrameIsReportedWithItsReason) {
  // L = 10: the rest of the frame is 12 bytes, of which 3 arrive before the line dies.
  device.send({0xAA, 0x0A, 0x01, 0x02, 0x03});
  std::thread dies([this] {
    usleep(200 * 1000);
    device.close();
  });
  Packet packet{};
  const ReceiveReport report = receivePacket(packet);
  dies.join();
  EXPECT_EQ(packet.bytes, nullptr);
  EXPECT_EQ(std::tuple(report.status, report.problem, std::string(report.text)),
            std::tuple(LinkStatus::Failed, FrameProblem::ReadFailed, std::string("Reading 12 bytes from com port failed")));
}

// The Windows command line: a number or COMn in any case, blanks around it allowed; anything
// else is refused (number 0) before a port is opened.
TEST(PortArgumentTable, WindowsNamesAPortOrNothing) {
  const struct { const char* text; int number; } cases[] = {
      {nullptr, 1}, {"  ", 1}, {"3", 3}, {" com12 ", 12}, {"COM5", 5}, {"cOm9999", 9999}, {"COM10000", 0},
      {"COM0", 0}, {"COM", 0}, {"COM 5", 0}, {"COM5x", 0}, {"-2", 0}, {"12abc", 0}, {"\\\\.\\COM3", 0}};
  for (const auto& c : cases) {
    PortArgument port;
    char refusal[200];
    const bool named = readPortArgument(c.text, PortNaming::Windows, &port, refusal, sizeof refusal);
    EXPECT_EQ(named ? port.number : 0, c.number) << (c.text ? c.text : "(none)") << ": " << refusal;
  }
}

// With input marking on, a line error reaches the program as 0xff 0x00 x and a data byte
// 0xff doubled; a pseudo-terminal cannot make line errors, so the decoding is checked alone.
TEST(MarkedInputTable, DecodesTheFirstItem) {
  const struct { Bytes input; MarkedInput item; int used; uint8_t value; } cases[] = {
      {{0x42, 0xFF}, MarkedInput::Byte, 1, 0x42}, {{0xFF, 0xFF, 0x07}, MarkedInput::Byte, 2, 0xFF},  // doubled 0xff
      {{0xFF, 0x00, 0x41}, MarkedInput::LineError, 3, 0x5A},  // framing error (x = 0: a break)
      {{0xFF, 0x13}, MarkedInput::Byte, 1, 0xFF},  // 0xff before another byte is data
      {{0xFF}, MarkedInput::Incomplete, -1, 0x5A}, {{0xFF, 0x00}, MarkedInput::Incomplete, -1, 0x5A}};
  for (const auto& c : cases) {
    uint8_t value = 0x5A;
    int used = -1;
    EXPECT_EQ(decodeMarkedInput(c.input.data(), static_cast<int>(c.input.size()), &value, &used), c.item) << hex(c.input);
    if (c.item != MarkedInput::Incomplete) { EXPECT_EQ(used, c.used) << hex(c.input); }
    if (c.item == MarkedInput::Byte) { EXPECT_EQ(value, c.value) << hex(c.input); }
  }
}

}  // namespace
