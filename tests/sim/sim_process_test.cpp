// End-to-end tests of kinestim-sim as a separate process: its pseudo-terminal seen through a
// raw 9600 baud termios setup, line pacing, the control channel, the transcript and options.
#include "sim_test_util.h"
#include "protocol/catalogue.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Raw 8N1 at 9600 with reads that return at once: what a host's port setup looks like.
void makeRaw(int fd) {
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
}

// One end of the line: writes frames and reads the device's frames with time-outs.
struct Port {
  int fd = -1;
  Bytes pending;

  void open(const std::string& path) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    makeRaw(fd);
    tcflush(fd, TCIOFLUSH);
  }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    pending.clear();
  }
  ~Port() { close(); }

  void write(const Bytes& bytes) const {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void send(const Bytes& payload) const { write(frameOf(payload)); }

  // Reads whatever arrives until timeoutMs pass with the line quiet or the deadline.
  bool readSome(int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending.insert(pending.end(), buffer, buffer + n);
    return true;
  }

  // The next count frames as hex payloads; fewer if they do not come within timeoutMs.
  Lines frames(size_t count, int timeoutMs = 3000) {
    Lines out;
    const auto start = Clock::now();
    for (;;) {
      Bytes rest;
      const std::vector<Bytes> got = splitFrames(pending, &rest);
      size_t used = 0;
      for (const Bytes& f : got) {
        if (out.size() == count) break;
        out.push_back(hex(f));
        used += f.size() + 4;
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
      if (out.size() == count) return out;
      const int left = timeoutMs - static_cast<int>(msSince(start));
      if (left <= 0) return out;
      readSome(left);
    }
  }

  // Everything that arrives within ms.
  Bytes drain(int ms) {
    const auto start = Clock::now();
    for (int left = ms; left > 0; left = ms - static_cast<int>(msSince(start))) readSome(left);
    Bytes all;
    all.swap(pending);
    return all;
  }
};

Bytes unhex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::strtol(text.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

// Everything written to fd until it is closed, or until timeoutMs pass.
std::string readAll(int fd, int timeoutMs) {
  std::string text;
  const auto start = Clock::now();
  for (;;) {
    const int left = timeoutMs - static_cast<int>(msSince(start));
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) return text;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// kinestim-sim as a child process with pipes on its standard streams.
struct SimProcess {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  std::string port;
  double startMs = 0.0;

  void start(const std::vector<std::string>& args) {
    int pin[2], pout[2], perr[2];
    ASSERT_EQ(pipe(pin), 0);
    ASSERT_EQ(pipe(pout), 0);
    ASSERT_EQ(pipe(perr), 0);
    const auto begun = Clock::now();
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dup2(pin[0], 0);
      dup2(pout[1], 1);
      dup2(perr[1], 2);
      for (int fd : {pin[0], pin[1], pout[0], pout[1], perr[0], perr[1]}) ::close(fd);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(KINESTIM_SIM_PATH));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KINESTIM_SIM_PATH, argv.data());
      _exit(127);
    }
    ::close(pin[0]);
    ::close(pout[1]);
    ::close(perr[1]);
    in = pin[1];
    out = pout[0];
    err = perr[0];
    const std::string line = readLine(out, 5000);
    startMs = msSince(begun);
    ASSERT_EQ(line.rfind("port: ", 0), 0u) << "first line: " << line;
    port = line.substr(6);
  }

  static std::string readLine(int fd, int timeoutMs) {
    std::string line;
    const auto start = Clock::now();
    for (;;) {
      const int left = timeoutMs - static_cast<int>(msSince(start));
      pollfd p{fd, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) return line;
      char c;
      if (::read(fd, &c, 1) != 1) return line;
      if (c == '\n') return line;
      line += c;
    }
  }

  void control(const std::string& line) const {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Waits up to timeoutMs for the process to end; its exit status, or -1 if still running.
  int waitExit(int timeoutMs) {
    const auto start = Clock::now();
    while (msSince(start) < timeoutMs) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

  ~SimProcess() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : {in, out, err}) {
      if (fd >= 0) ::close(fd);
    }
  }
};

class SimProcessTest : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    char path[] = "/tmp/kinestim-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    dir = path;
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
};

TEST_F(SimProcessTest, StartsAtOnceAndPowersOnOnlyAfterTheHostOpens) {
  SimProcess sim;
  const std::string transcript = dir + "/t.txt";
  sim.start({"--transcript", transcript});
  EXPECT_LT(sim.startMs, 1000.0) << "the port line must come at once";
  EXPECT_EQ(sim.port.rfind("/dev/pts/", 0), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(readFile(transcript), "") << "nothing is sent before a host is there";
  Port port;
  port.open(sim.port);
  const auto opened = Clock::now();
  EXPECT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  EXPECT_GE(msSince(opened), 40.0) << "power-on waits for the host's purge to pass";
}

TEST_F(SimProcessTest, FullMemoryUploadAndReadBackThroughTheLineAreTheSame) {
  SimProcess sim;
  sim.start({});
  Port port;
  port.open(sim.port);
  ASSERT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  port.send({cdgSelectModePgmScr});
  ASSERT_EQ(port.frames(3), (Lines{"17", "0c", "0f"}));
  Bytes image(SIM_SCRIPT_MEMORY_SIZE);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
  for (int address = 0; address < SIM_SCRIPT_MEMORY_SIZE; address += 16) {
    Bytes chunk = {cdgSrcUldMem, static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8)};
    chunk.insert(chunk.end(), image.begin() + address, image.begin() + address + 16);
    port.send(chunk);
    const Lines ack = port.frames(1);
    ASSERT_EQ(ack.size(), 1u) << "no answer to the chunk at " << address;
    ASSERT_EQ(ack[0].substr(0, 2), "1f") << address;
  }
  Bytes readBack;
  for (int address = 0; address < SIM_SCRIPT_MEMORY_SIZE; address += 16) {
    port.send({cdgScrDldMem, static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8), 16});
    const Lines answer = port.frames(1);
    ASSERT_EQ(answer.size(), 1u) << "no answer to the read at " << address;
    const Bytes got = unhex(answer[0]);
    ASSERT_EQ(got.size(), 19u);
    ASSERT_EQ(got[1] | (got[2] << 8), address);
    readBack.insert(readBack.end(), got.begin() + 3, got.end());
  }
  EXPECT_EQ(readBack, image);
}

TEST_F(SimProcessTest, At9600BaudA259ByteFrameTakesAbout270MsEachWay) {
  SimProcess sim;
  sim.start({"--baud", "9600"});
  Port port;
  port.open(sim.port);
  ASSERT_EQ(port.frames(2), (Lines{"0a", "0b"}));

  // Device to host: 252 bytes of RAM make a 259-byte frame.
  port.send({cdgDldRAM, 0, 0, 252});
  while (port.pending.empty() && port.readSome(2000)) {
  }
  ASSERT_FALSE(port.pending.empty());
  const auto firstByte = Clock::now();
  const double firstBytes = static_cast<double>(port.pending.size());
  while (port.pending.size() < 259 && port.readSome(2000)) {
  }
  const double elapsed = msSince(firstByte);
  ASSERT_EQ(port.pending.size(), 259u);
  // From the end of the first byte(s) read to the end of the last: the other bytes' times.
  EXPECT_NEAR(elapsed + firstBytes * 1.0417, 270.0, 15.0);
  port.pending.clear();

  // Host to device: the device hears the last byte of a 259-byte frame about 270 ms after
  // the first was written, and only then answers (here: wrong length for cdgSrcUldMem).
  Bytes payload(255, 0x11);
  payload[0] = cdgSrcUldMem;
  const auto written = Clock::now();
  port.send(payload);
  while (port.pending.empty() && port.readSome(2000)) {
  }
  EXPECT_NEAR(msSince(written), 270.0 + 1.0, 15.0);
  EXPECT_EQ(port.frames(1), (Lines{"05 0d ff"}));
}

TEST_F(SimProcessTest, ControlLinesChangeTheWorldAndBadOnesAreReported) {
  SimProcess sim;
  const std::string transcript = dir + "/t.txt";
  sim.start({"--transcript", transcript});
  Port port;
  port.open(sim.port);
  ASSERT_EQ(port.frames(2), (Lines{"0a", "0b"}));

  sim.control("tilt 30 -20");
  sim.control("bogus words");
  EXPECT_EQ(SimProcess::readLine(sim.err, 3000), "kinestim-sim: unknown control line 'bogus' (see --help)");
  port.send({cdgDldTilt});
  const Lines tilt = port.frames(1);
  ASSERT_EQ(tilt.size(), 1u);
  const Bytes m = unhex(tilt[0]);
  ASSERT_EQ(m.size(), 9u);
  int t[4];
  for (int k = 0; k < 4; ++k) t[k] = m[1 + 2 * k] | (m[2 + 2 * k] << 8);
  const double period = (std::abs(t[2] - t[0]) + std::abs(t[3] - t[0]) - std::abs(t[1] - t[0])) / 2.0;
  const double x = std::asin((std::abs(t[1] - t[0]) - 444.0) / period / 0.125) * 180.0 / 3.14159;
  const double y = std::asin((std::abs(t[3] - t[0]) - std::abs(t[2] - t[0]) - 444.0) / period / 0.125) * 180.0 / 3.14159;
  EXPECT_EQ(period, 1000.0);
  EXPECT_NEAR(x, 30.0, 0.6);
  EXPECT_NEAR(y, -20.0, 0.6);

  sim.control("knob 2 0x90");
  EXPECT_EQ(port.frames(1), (Lines{"1c 7f 90 7f 7f"}));
  sim.control("corrupt-next");
  port.send({cdgDldMode});
  EXPECT_EQ(hex(port.drain(300)), "aa 02 1b 02 e2 55");
  sim.control("stall-next 300");
  port.send({cdgDldMode});
  const auto asked = Clock::now();
  EXPECT_EQ(hex(port.drain(150)), "aa 02 1b");
  while (port.pending.size() < 3 && port.readSome(1000)) {
  }
  EXPECT_GE(msSince(asked), 280.0);
  EXPECT_EQ(hex(port.drain(50)), "02 1d 55");
  sim.control("fault ScrInvalidOp");
  EXPECT_EQ(port.frames(3), (Lines{"0c", "2d 0b", "13"}));
  sim.control("power-cycle");
  EXPECT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  sim.control("quit");
  EXPECT_EQ(sim.waitExit(3000), 0);

  const std::string text = readFile(transcript);
  EXPECT_NE(text.find(" > 1c cdgDldTilt\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" < 1c 7f 90 7f 7f mdgAllElectrodesDld\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" < aa 02 1b 02 e2 55 (bad frame)\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" < 2d 0b mdgFault\n"), std::string::npos) << text;
}

TEST_F(SimProcessTest, TranscriptHasOneFlushedLinePerFrameInEachDirection) {
  SimProcess sim;
  const std::string transcript = dir + "/t.txt";
  sim.start({"--transcript", transcript});
  Port port;
  port.open(sim.port);
  ASSERT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  port.send({cdgScrArm, 0x05, 0x00});
  ASSERT_EQ(port.frames(1), (Lines{"23 05 00"}));
  port.write({0xAA, 0x01, 0x00, 0x01, 0x55});
  ASSERT_EQ(port.frames(1), (Lines{"07"}));
  port.write({0xAA, 0x01, 0x1f, 0x1f, 0x55});
  ASSERT_EQ(port.frames(1), (Lines{"04 1f"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  // Read while the simulator still runs: every line must already be there.
  std::vector<std::string> lines;
  std::stringstream text(readFile(transcript));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  const std::vector<std::string> expected = {
    "< 0a mdgExitedModeInit", "< 0b mdgEnteredModeIdle", "> 0f 05 00 cdgScrArm", "< 23 05 00 mdgScrArmed",
    "> aa 01 00 01 55 (bad frame)", "< 07 mdgCmdRejectedChecksum", "> 1f ?", "< 04 1f mdgCmdRejectedInvalidCdg"};
  ASSERT_EQ(lines.size(), expected.size());
  double last = 0.0;
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_GT(lines[i].size(), 9u);
    EXPECT_EQ(lines[i].substr(9), expected[i]);
    EXPECT_EQ(lines[i][8], ' ');
    EXPECT_EQ(lines[i][lines[i].find('.') + 2], ' ') << "one decimal: " << lines[i];
    const double time = std::strtod(lines[i].c_str(), nullptr);
    EXPECT_GE(time, last);
    last = time;
  }
}

TEST_F(SimProcessTest, AHostThatReconnectsFindsTheDeviceAsItLeftIt) {
  SimProcess sim;
  sim.start({"--power-on-delay", "100"});
  Port port;
  port.open(sim.port);
  const auto opened = Clock::now();
  ASSERT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  EXPECT_GE(msSince(opened), 140.0);
  port.send({cdgSelectModeDirect});
  ASSERT_EQ(port.frames(3), (Lines{"15", "0c", "0d"}));
  port.close();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  port.open(sim.port);
  EXPECT_TRUE(port.drain(300).empty()) << "no second power-on";
  port.send({cdgDldMode});
  EXPECT_EQ(port.frames(1), (Lines{"1b 03"}));
  port.send({cdgInit});
  EXPECT_EQ(port.frames(2), (Lines{"0a", "0b"}));
}

TEST_F(SimProcessTest, AHostThatLeavesBeforePowerOnGetsItWhenBack) {
  SimProcess sim;
  sim.start({"--power-on-delay", "300"});
  Port port;
  port.open(sim.port);
  EXPECT_TRUE(port.drain(100).empty());
  port.close();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  port.open(sim.port);
  EXPECT_EQ(port.frames(2), (Lines{"0a", "0b"}));
}

TEST_F(SimProcessTest, LinkPointsAtThePortAndGoesAwayOnTermination) {
  SimProcess sim;
  const std::string link = dir + "/kinestim";
  sim.start({"--link", link});
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), sim.port);
  Port port;
  port.open(link);
  EXPECT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  kill(sim.pid, SIGTERM);
  EXPECT_EQ(sim.waitExit(3000), 0);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed at exit";
}

TEST_F(SimProcessTest, ServesAGivenSerialDevice) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  Port port;
  port.fd = master;
  SimProcess sim;
  sim.start({"--port", name});
  EXPECT_EQ(sim.port, name);
  EXPECT_EQ(port.frames(2), (Lines{"0a", "0b"}));
  port.send({cdgDldMode});
  EXPECT_EQ(port.frames(1), (Lines{"1b 02"}));
}

TEST_F(SimProcessTest, HelpDocumentsEveryOptionAndControlLine) {
  SimProcess sim;
  int pout[2];
  ASSERT_EQ(pipe(pout), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(pout[1], 1);
    ::close(pout[0]);
    ::close(pout[1]);
    execl(KINESTIM_SIM_PATH, KINESTIM_SIM_PATH, "--help", static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(pout[1]);
  sim.pid = pid;
  sim.out = pout[0];
  const std::string help = readAll(sim.out, 5000);
  EXPECT_EQ(sim.waitExit(3000), 0);
  for (const char* word : {"--port", "--link", "--baud", "--power-on-delay", "--transcript", "--tilt", "--period",
                           "--noise", "--drift", "--seed", "--help", "tilt X Y", "period P", "fault CODE",
                           "knob E CODE", "garbage HEX", "corrupt-next", "drop-next", "stall-next MS",
                           "silent on|off", "power-cycle", "too-fast", "quit", "port: PATH"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word;
  }
}

TEST_F(SimProcessTest, BadOptionsAreRefusedWithAMessage) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--baud", "fast"}, {"--frobnicate"}, {"--port"}, {"--tilt", "3"}, {"--port", "/nonexistent/tty"}}) {
    SimProcess sim;
    int perr[2];
    ASSERT_EQ(pipe(perr), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dup2(perr[1], 2);
      ::close(perr[0]);
      ::close(perr[1]);
      std::vector<char*> argv = {const_cast<char*>(KINESTIM_SIM_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KINESTIM_SIM_PATH, argv.data());
      _exit(127);
    }
    ::close(perr[1]);
    sim.pid = pid;
    sim.err = perr[0];
    const std::string message = SimProcess::readLine(sim.err, 3000);
    EXPECT_EQ(message.rfind("kinestim-sim: ", 0), 0u) << args[0] << ": " << message;
    const int status = sim.waitExit(3000);
    EXPECT_TRUE(status == 1 || status == 2) << args[0] << " exit " << status;
  }
}

}  // namespace
