// POSIX serial backend over real pseudo-terminals: line settings, purge, reads with their
// time-outs, the re-open after a failed read and the fatal paths.
#include "link_fixture.h"
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

struct RefusedOpen { const char* name; int number; const char* path; const char* text; };  // number if no path

class OpenDeathTest : public ::testing::TestWithParam<RefusedOpen> {};

TEST_P(OpenDeathTest, IsFatalWithItsTextAndStatusOne) {
  const RefusedOpen& c = GetParam();
  EXPECT_EXIT(
      {
        if (c.path != nullptr) openSerialPortPath(c.path);
        else openSerialPort(c.number);
        exit(0);
      },
      ::testing::ExitedWithCode(1), fatalBox(c.text));
}

const char* const OPEN_FAILED = "Failed to open communications port";

INSTANTIATE_TEST_SUITE_P(
    Refusals, OpenDeathTest,
    ::testing::Values(RefusedOpen{"NumberAbove9999", 10000, nullptr, OPEN_FAILED},
                      RefusedOpen{"LargestInt", 2147483647, nullptr, OPEN_FAILED},
                      RefusedOpen{"NumberZero", 0, nullptr, OPEN_FAILED},
                      RefusedOpen{"NoSuchDevice", 0, "/nonexistent/ttyKinestim", OPEN_FAILED},
                      RefusedOpen{"EmptyPath", 0, "", OPEN_FAILED},
                      RefusedOpen{"NotATerminal", 0, "/dev/null", "Failed to set comm state"}),
    caseName<RefusedOpen>);

TEST_F(LinkTest, PortInUseIsRefused) {
  // The child's descriptor is inherited from this process, which keeps the port.
  EXPECT_EXIT({ openSerialPortPath(device.path.c_str()); exit(0); }, ::testing::ExitedWithCode(1),
              fatalBox(OPEN_FAILED));
}

// A failed read at a frame start re-opens the port's path at once when it names a line, else
// on a later attempt once the device is back; one warning per failure.
TEST(LinkReopen, FailedReadAtFrameStartWarnsAndReopensThePath) {
  clearRecordings();
  setMessageBoxShowing(0);
  char dir[] = "/tmp/kinestim-link-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/port", fresh = link + ".new";
  auto pointAt = [&](const std::string& target) {
    unlink(fresh.c_str());
    ASSERT_EQ(symlink(target.c_str(), fresh.c_str()), 0);
    ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
  };
  const std::string WARNING = "Warning: Failed to Read Comm port while checking for SOT\n";
  PtyDevice first, second, third;
  ASSERT_TRUE(first.create() && second.create() && third.create());
  pointAt(first.path);
  openSerialPortPath(link.c_str());

  // The line dies and the path already names another one: warned, and open again at once.
  pointAt(second.path);
  first.close();
  EXPECT_EQ(receiveOne(1), WARNING);
  EXPECT_EQ(recordedBoxes().at(0).flagWhileShown, 1);
  EXPECT_TRUE(isSerialPortOpen());
  expectLineSettings(second.slave);
  second.send({0xAA, 0x01, 0x00, 0x00, 0x55});
  EXPECT_EQ(receiveOne(), "aa 01 00 00 55");

  // The line dies and nothing answers to the path: one warning, then silence while it is away.
  unlink(link.c_str());
  second.close();
  EXPECT_EQ(receiveOne(1), WARNING);
  EXPECT_FALSE(isSerialPortOpen());
  EXPECT_EQ(receiveOne(5), "");

  // It comes back behind the same path: a later attempt opens it with all settings.
  pointAt(third.path);
  auto start = std::chrono::steady_clock::now();
  for (; !isSerialPortOpen() && elapsedMs(start) < 3000; usleep(10 * 1000)) EXPECT_EQ(receiveOne(1), "");
  EXPECT_LT(elapsedMs(start), 2000);
  expectLineSettings(third.slave);
  third.send({0xAA, 0x01, 0x02, 0x02, 0x55});
  EXPECT_EQ(receiveOne(), "aa 01 02 02 55");
  closeSerialPort();
  unlink(link.c_str());
  rmdir(dir);
}

TEST(LinkReadDeathTest, FailedReadInsideAFrameClosesThePortAndIsFatal) {
  EXPECT_EXIT(
      {
        PtyDevice device;
        if (!device.create()) exit(3);
        openSerialPortPath(device.path.c_str());
        // L = 10: the rest of the frame is 12 bytes, of which 3 arrive before the line dies.
        device.send({0xAA, 0x0A, 0x01, 0x02, 0x03});
        std::thread([&device] { usleep(200 * 1000); device.close(); }).detach();
        Packet packet{};
        receivePacket(packet);
        exit(0);
      },
      ::testing::ExitedWithCode(1), fatalBox("Reading 12 bytes from com port failed"));
}
