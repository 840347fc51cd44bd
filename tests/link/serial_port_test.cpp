// POSIX serial backend over real pseudo-terminals: line settings, purge, reads with their
// time-outs, the re-open after a failed read, the fatal paths and the message boxes.
#include "link/framing.h"
#include "link_fixture.h"
#include <cstdlib>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A symbolic link naming the port, so a test can point the same path at another pty.
struct PortLink {
  std::string dir;
  std::string path;

  PortLink() {
    char pattern[] = "/tmp/kinestim-link-XXXXXX";
    if (mkdtemp(pattern) != nullptr) dir = pattern;
    path = dir + "/port";
  }
  bool pointAt(const std::string& target) const {
    std::string fresh = dir + "/port.new";
    unlink(fresh.c_str());
    return symlink(target.c_str(), fresh.c_str()) == 0 && rename(fresh.c_str(), path.c_str()) == 0;
  }
  void remove() const { unlink(path.c_str()); }
  ~PortLink() {
    remove();
    rmdir(dir.c_str());
  }
};

// The fatal box as the recording window prints it to stderr.
std::string fatalBox(const std::string& text) {
  return "\\[Fatal Error!\\] " + text + " \\(style 0x1030\\)";
}

}  // namespace

TEST_F(LinkTest, OpenAppliesRawNineSixHundredEightNOneWithoutFlowControl) {
  termios applied{};
  ASSERT_EQ(tcgetattr(device.slave, &applied), 0);
  EXPECT_EQ(cfgetispeed(&applied), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B9600));
  EXPECT_EQ(applied.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(applied.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(applied.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(applied.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(applied.c_oflag & OPOST, 0u);
  EXPECT_EQ(applied.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(applied.c_cc[VMIN], 0);
  EXPECT_EQ(applied.c_cc[VTIME], 0);
}

TEST_F(LinkTest, OpenPurgesInputThatArrivedBefore) {
  closeSerialPort();
  EXPECT_FALSE(isSerialPortOpen());
  device.sendAndSettle({0xAA, 0x01, 0x00, 0x00, 0x55, 0x13});
  openSerialPortPath(device.path.c_str());
  uint8_t byte = 0;
  EXPECT_EQ(readFrameStart(&byte), NoByte);
  device.send({0x42});
  FrameStartResult result = NoByte;
  for (int i = 0; i < 20 && result == NoByte; ++i) result = readFrameStart(&byte);
  EXPECT_EQ(result, OtherByte);
  EXPECT_EQ(byte, 0x42);
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
  EXPECT_EQ(hex(Bytes(buffer, buffer + 6)), "10 20 AA 55 00 EE");
}

struct RefusedOpen {
  const char* name;
  int number;        // used when path is null
  const char* path;
  const char* text;
};

void PrintTo(const RefusedOpen& c, std::ostream* os) { *os << c.name; }

class OpenDeathTest : public ::testing::TestWithParam<RefusedOpen> {};

TEST_P(OpenDeathTest, IsFatalWithItsTextAndStatusOne) {
  const RefusedOpen& c = GetParam();
  EXPECT_EXIT(
      {
        if (c.path != nullptr) openSerialPortPath(c.path);
        else openSerialPort(c.number);
        fprintf(stderr, "opened\n");
        exit(0);
      },
      ::testing::ExitedWithCode(1), fatalBox(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, OpenDeathTest,
    ::testing::Values(
        RefusedOpen{"NumberAbove9999", 10000, nullptr, "Failed to open communications port"},
        RefusedOpen{"LargestInt", 2147483647, nullptr, "Failed to open communications port"},
        RefusedOpen{"NumberZero", 0, nullptr, "Failed to open communications port"},
        RefusedOpen{"NoSuchDevice", 0, "/nonexistent/ttyKinestim", "Failed to open communications port"},
        RefusedOpen{"EmptyPath", 0, "", "Failed to open communications port"},
        RefusedOpen{"NotATerminal", 0, "/dev/null", "Failed to set comm state"}),
    [](const ::testing::TestParamInfo<RefusedOpen>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, PortInUseIsRefused) {
  EXPECT_EXIT(
      {
        // This process's descriptor was inherited from the parent, which keeps the port.
        openSerialPortPath(device.path.c_str());
        exit(0);
      },
      ::testing::ExitedWithCode(1), fatalBox("Failed to open communications port"));
}

TEST(LinkReopen, FailedReadAtFrameStartReopensTheSamePathAndWarns) {
  clearRecordings();
  setMessageBoxShowing(0);
  PortLink link;
  PtyDevice first, second;
  ASSERT_TRUE(first.create());
  ASSERT_TRUE(second.create());
  ASSERT_TRUE(link.pointAt(first.path));
  openSerialPortPath(link.path.c_str());

  // The device goes away; the same path now names another line.
  ASSERT_TRUE(link.pointAt(second.path));
  first.closeAll();
  uint8_t byte = 0;
  EXPECT_EQ(readFrameStart(&byte), NoByte);
  ASSERT_EQ(recordedBoxes().size(), 1u);
  EXPECT_EQ(recordedBoxes()[0].caption, "Warning");
  EXPECT_EQ(recordedBoxes()[0].text, "Failed to Read Comm port while checking for SOT");
  EXPECT_EQ(recordedBoxes()[0].flagWhileShown, 1);
  EXPECT_TRUE(isSerialPortOpen());

  // The re-opened port carries the full settings and reads the next frame.
  termios applied{};
  ASSERT_EQ(tcgetattr(second.slave, &applied), 0);
  EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B9600));
  clearRecordings();
  second.send({0xAA, 0x01, 0x00, 0x00, 0x55});
  Packet packet{};
  bool got = false;
  for (int i = 0; i < 20 && !got; ++i) got = receivePacket(packet);
  ASSERT_TRUE(got);
  EXPECT_EQ(hex(Bytes(packet.bytes, packet.bytes + packet.size())), "AA 01 00 00 55");
  releasePacket(packet);
  EXPECT_TRUE(recordedBoxes().empty());
  closeSerialPort();
}

TEST(LinkReopen, DeviceGoneAtFrameStartWarnsOnceAndIsReopenedWhenItIsBack) {
  clearRecordings();
  setMessageBoxShowing(0);
  PortLink link;
  PtyDevice gone, back;
  ASSERT_TRUE(gone.create());
  ASSERT_TRUE(link.pointAt(gone.path));
  openSerialPortPath(link.path.c_str());

  // The device goes away and nothing answers to its path.
  link.remove();
  gone.closeAll();
  uint8_t byte = 0;
  EXPECT_EQ(readFrameStart(&byte), NoByte);
  ASSERT_EQ(recordedBoxes().size(), 1u);
  EXPECT_EQ(recordedBoxes()[0].caption, "Warning");
  EXPECT_EQ(recordedBoxes()[0].text, "Failed to Read Comm port while checking for SOT");
  EXPECT_FALSE(isSerialPortOpen());
  // While it is away, receive attempts find nothing and say nothing more.
  for (int i = 0; i < 5; ++i) EXPECT_EQ(readFrameStart(&byte), NoByte);
  EXPECT_EQ(recordedBoxes().size(), 1u);

  // It comes back behind the same path: a later attempt opens it with all settings.
  ASSERT_TRUE(back.create());
  ASSERT_TRUE(link.pointAt(back.path));
  auto start = std::chrono::steady_clock::now();
  while (!isSerialPortOpen() && elapsedMs(start) < 3000) {
    EXPECT_EQ(readFrameStart(&byte), NoByte);
    usleep(10 * 1000);
  }
  ASSERT_TRUE(isSerialPortOpen());
  EXPECT_LT(elapsedMs(start), 2000);
  termios applied{};
  ASSERT_EQ(tcgetattr(back.slave, &applied), 0);
  EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B9600));
  back.send({0xAA, 0x01, 0x00, 0x00, 0x55});
  Packet packet{};
  bool got = false;
  for (int i = 0; i < 20 && !got; ++i) got = receivePacket(packet);
  ASSERT_TRUE(got);
  EXPECT_EQ(hex(Bytes(packet.bytes, packet.bytes + packet.size())), "AA 01 00 00 55");
  releasePacket(packet);
  EXPECT_EQ(recordedBoxes().size(), 1u);
  closeSerialPort();
}

TEST(LinkReadDeathTest, FailedReadInsideAFrameClosesThePortAndIsFatal) {
  EXPECT_EXIT(
      {
        PtyDevice device;
        if (!device.create()) exit(3);
        openSerialPortPath(device.path.c_str());
        // L = 10: the rest of the frame is 12 bytes, of which 3 arrive before the line dies.
        device.send({0xAA, 0x0A, 0x01, 0x02, 0x03});
        std::thread killer([&device] {
          usleep(200 * 1000);
          device.closeAll();
        });
        killer.detach();
        Packet packet{};
        receivePacket(packet);
        exit(0);
      },
      ::testing::ExitedWithCode(1), fatalBox("Reading 12 bytes from com port failed"));
}
