// POSIX serial backend over real pseudo-terminals: line settings, purge, reads with their
// time-outs, the lost link and its re-open after a failed read, the fatal open paths and
// the decoding of marked line errors.
#include "link_fixture.h"
#include "link/serial_backend.h"
#include <cstdlib>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Raw 9600 8N1, no flow control, no translation, reads that never block.
void expectLineSettings(int fd) {
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
  // Line errors marked in the input rather than dropped or passed on as 0x00.
  EXPECT_EQ(t.c_iflag & (INPCK | PARMRK | IGNPAR | IGNBRK | BRKINT), static_cast<tcflag_t>(INPCK | PARMRK));
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);
}

// The fatal box as the recording window prints it to stderr.
std::string fatalBox(const std::string& text) { return "\\[Fatal Error!\\] " + text + " \\(style 0x1030\\)"; }

}  // namespace

TEST_F(LinkTest, OpenAppliesTheLineSettingsAndPurgesEarlierInput) {
  expectLineSettings(device.slave);
  closeSerialPort();
  EXPECT_FALSE(isSerialPortOpen());
  device.send({0xAA, 0x01, 0x00, 0x00, 0x55, 0x13}, true);
  openSerialPortPath(device.path.c_str());
  EXPECT_EQ(receiveOne(1), "");
  device.send({0x42});
  EXPECT_EQ(receiveOne(), "status: Packet tossed for invalid SOT character: 0x42\n");
}

TEST_F(LinkTest, ReadExactCollectsBytesSentWithPausesLongerThanTheReadTimeOut) {
  std::thread sender([this] {
    for (uint8_t b : {0x10, 0x20, 0xAA, 0x55, 0x00}) {
      usleep(40 * 1000);
      device.send({b});
    }
  });
  uint8_t buffer[6] = {0, 0, 0, 0, 0, 0xEE};
  bool complete = readExact(buffer, 5);
  sender.join();
  EXPECT_TRUE(complete);
  EXPECT_EQ(hex(Bytes(buffer, buffer + 6)), "10 20 aa 55 00 ee");
}

const char* const OPEN_FAILED = "Failed to open communications port";

// Port numbers outside 1 to 9999, paths that name no device and a file that is no terminal.
TEST(OpenDeathTest, RefusedOpensAreFatalWithTheirTextAndStatusOne) {
  const struct { int number; const char* path; const char* text; } cases[] = {  // number if no path
      {10000, nullptr, OPEN_FAILED},
      {2147483647, nullptr, OPEN_FAILED},
      {0, nullptr, OPEN_FAILED},
      {0, "/nonexistent/ttyKinestim", OPEN_FAILED},
      {0, "", OPEN_FAILED},
      {0, "/dev/null", "Failed to set comm state"}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          if (c.path != nullptr) openSerialPortPath(c.path);
          else openSerialPort(c.number);
          exit(0);
        },
        ::testing::ExitedWithCode(1), fatalBox(c.text))
        << c.number << " " << (c.path ? c.path : "(number)");
  }
}

TEST_F(LinkTest, PortInUseIsRefused) {
  // The child's descriptor is inherited from this process, which keeps the port.
  EXPECT_EXIT({ openSerialPortPath(device.path.c_str()); exit(0); }, ::testing::ExitedWithCode(1),
              fatalBox(OPEN_FAILED));
}

// A failed read at a frame start loses the link: it warns and re-opens the path at once
// when it names a line, else on a later attempt once the device is back. Only a link the
// device had answered on warns; one that fails again before an answer does not.
TEST(LinkReopen, FailedReadAtFrameStartWarnsOnceAndReopensThePath) {
  resetLink();
  char dir[] = "/tmp/kinestim-link-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/port", fresh = link + ".new";
  auto pointAt = [&](const std::string& target) {
    unlink(fresh.c_str());
    ASSERT_EQ(symlink(target.c_str(), fresh.c_str()), 0);
    ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
  };
  const std::string WARNING = "Warning: Failed to Read Comm port while checking for SOT\n";
  const std::string LOST = "link lost: " + link + "\n", REOPENED = "link re-opened: " + link + "\n";
  PtyDevice first, second, third;
  ASSERT_TRUE(first.create() && second.create() && third.create());
  pointAt(first.path);
  openSerialPortPath(link.c_str());

  // The line dies and the path already names another one: warned, and open again at once.
  pointAt(second.path);
  first.close();
  EXPECT_EQ(receiveOne(1), LOST + REOPENED + WARNING);
  EXPECT_EQ(recordedBoxes().at(0).flagWhileShown, 1);
  EXPECT_TRUE(isSerialPortOpen());
  expectLineSettings(second.slave);

  // It dies again before any answer, and nothing answers to the path: no second warning.
  unlink(link.c_str());
  second.close();
  EXPECT_EQ(receiveOne(1), LOST);
  EXPECT_FALSE(isSerialPortOpen());
  EXPECT_EQ(receiveOne(5), "");

  // It comes back behind the same path: a later attempt opens it with all settings.
  pointAt(third.path);
  auto start = std::chrono::steady_clock::now();
  for (; !isSerialPortOpen() && elapsedMs(start) < 3000; usleep(10 * 1000)) receiveOne(1);
  EXPECT_LT(elapsedMs(start), 2000);
  expectLineSettings(third.slave);
  third.send({0xAA, 0x01, 0x02, 0x02, 0x55});
  EXPECT_EQ(receiveOne(), "aa 01 02 02 55");

  // The device answered, so losing it now warns again.
  unlink(link.c_str());
  third.close();
  EXPECT_EQ(receiveOne(1), LOST + WARNING);
  closeSerialPort();
  resetLinkState();
  rmdir(dir);
}

TEST_F(LinkTest, FailedReadInsideAFrameLosesTheLinkButNotTheProgram) {
  // L = 10: the rest of the frame is 12 bytes, of which 3 arrive before the line dies.
  device.send({0xAA, 0x0A, 0x01, 0x02, 0x03});
  std::thread dies([this] { usleep(200 * 1000); device.close(); });
  Packet packet{};
  EXPECT_FALSE(receivePacket(packet));
  dies.join();
  EXPECT_EQ(recordedNotices(), "link lost: " + device.path + "\nWarning: Reading 12 bytes from com port failed\n");
  EXPECT_FALSE(isSerialPortOpen());
  resetLinkState();
}

// With input marking on, a line error reaches the program as 0xff 0x00 x and a data byte
// 0xff doubled; a pseudo-terminal cannot make line errors, so the decoding is checked alone.
TEST(MarkedInputTable, DecodesTheFirstItem) {
  const struct { Bytes input; MarkedInput item; int used; uint8_t value; } cases[] = {
      {{0x42, 0xFF}, MarkedInput::Byte, 1, 0x42},
      {{0x00}, MarkedInput::Byte, 1, 0x00},  // NUL is data
      {{0xFF, 0xFF, 0x07}, MarkedInput::Byte, 2, 0xFF},  // a doubled 0xff
      {{0xFF, 0x00, 0x41}, MarkedInput::LineError, 3, 0x5A},  // framing error
      {{0xFF, 0x00, 0x00}, MarkedInput::LineError, 3, 0x5A},  // break
      {{0xFF, 0x13}, MarkedInput::Byte, 1, 0xFF},  // 0xff before another byte is data
      {{}, MarkedInput::Incomplete, -1, 0x5A},
      {{0xFF}, MarkedInput::Incomplete, -1, 0x5A},
      {{0xFF, 0x00}, MarkedInput::Incomplete, -1, 0x5A}};  // a mark without its byte
  for (const auto& c : cases) {
    uint8_t value = 0x5A;
    int used = -1;
    EXPECT_EQ(decodeMarkedInput(c.input.data(), static_cast<int>(c.input.size()), &value, &used), c.item) << hex(c.input);
    if (c.item != MarkedInput::Incomplete) { EXPECT_EQ(used, c.used) << hex(c.input); }
    if (c.item == MarkedInput::Byte) { EXPECT_EQ(value, c.value) << hex(c.input); }
  }
}
