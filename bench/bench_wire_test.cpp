// Tests of the benchmark readers and of the simulator's wire log they rely on: frames
// rebuilt from split reads and writes, traffic lines, stamped output, and a real
// kinestim-sim at 9600 baud logging a command and its answer.
#include "bench/bench_wire.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct WireCase {
  const char* name;
  const char* log;
  std::vector<std::pair<char, Bytes>> frames;
  std::vector<std::pair<double, double>> times;   // first and last ms of each frame
  long stray;
  long bad;
};

class WireLogTable : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireLogTable, RebuildsFramesWithTheTimesOfTheirFirstAndLastBytes) {
  const WireCase& c = GetParam();
  WireLog log = parseWireLog(c.log);
  ASSERT_EQ(log.frames.size(), c.frames.size());
  for (size_t i = 0; i < c.frames.size(); ++i) {
    EXPECT_EQ(log.frames[i].direction, c.frames[i].first) << i;
    EXPECT_EQ(log.frames[i].bytes, c.frames[i].second) << i;
    EXPECT_DOUBLE_EQ(log.frames[i].firstMs, c.times[i].first) << i;
    EXPECT_DOUBLE_EQ(log.frames[i].lastMs, c.times[i].second) << i;
  }
  EXPECT_EQ(log.strayBytes, c.stray);
  EXPECT_EQ(log.badLines, c.bad);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, WireLogTable,
    ::testing::Values(
        // One byte per write, as a paced line gives them.
        WireCase{"BytePerWrite", "10.000 < aa\n11.042 < 01\n12.083 < 0b\n13.125 < 0b\n14.167 < 55\n",
                 {{'<', {0xaa, 0x01, 0x0b, 0x0b, 0x55}}}, {{10.0, 14.167}}, 0, 0},
        // A read that ends one frame and starts the next.
        WireCase{"SplitAcrossReads", "5.5 > aa 01 00\n6.5 > 00 55 aa 01\n7.5 > 01 01 55\n",
                 {{'>', {0xaa, 0x01, 0x00, 0x00, 0x55}}, {'>', {0xaa, 0x01, 0x01, 0x01, 0x55}}},
                 {{5.5, 6.5}, {6.5, 7.5}}, 0, 0},
        // The two directions are reassembled apart, and listed as their last bytes pass.
        WireCase{"Interleaved", "1.0 > aa 01\n2.0 < aa 02 00\n3.0 > 00 00 55\n4.0 < 0d 0d 55\n",
                 {{'>', {0xaa, 0x01, 0x00, 0x00, 0x55}}, {'<', {0xaa, 0x02, 0x00, 0x0d, 0x0d, 0x55}}},
                 {{1.0, 3.0}, {2.0, 4.0}}, 0, 0},
        // Stray bytes before a start byte, a frame cut off by the end of the log, bad lines.
        WireCase{"StrayCutAndBad", "1.0 < 13 55\nnonsense\n2.0 < aa 00 00 55\n3.0 x aa\n4.0 < zz\n5.0 < aa 05 01\n",
                 {{'<', {0xaa, 0x00, 0x00, 0x55}}}, {{2.0, 2.0}}, 2, 3},
        WireCase{"EmptyLog", "", {}, {}, 0, 0}),
    [](const ::testing::TestParamInfo<WireCase>& info) { return std::string(info.param.name); });

TEST(TrafficLine, PayloadOfReceivedAndSentLinesAndNothingForOthers) {
  const struct { const char* text; Bytes payload; } cases[] = {
      {"received: 32 mdgTilt <da> <b3> <96> <b5> <c2> <b7> <7e> <b9>",
       {0x32, 0xda, 0xb3, 0x96, 0xb5, 0xc2, 0xb7, 0x7e, 0xb9}},
      {"received: 00 mdgCmdAccepted", {0x00}},
      {"received: 00 mdgCmdAccepted <ff>", {0x00, 0xff}},
      {"sent: 0f cdgScrArm 05 00", {0x0f, 0x05, 0x00}},
      {"sent: 1c cdgDldTilt", {0x1c}},
      {"status: New period detected - recalibrate", {}},
      {"received: ", {}},
      {"tilt x: 0.0000", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(trafficLinePayload(c.text), c.payload) << c.text;
}

TEST(StampedOutput, TakesTheStampAfterAPromptAndDropsLineEnds) {
  std::vector<StampedLine> lines = parseStampedOutput(
      "[2813315.164] local control: checked\r\n"
      "Step [1]: [2813393.207] mode: Idle\r\n"
      "no stamp here\r\n"
      "[  12.5] received: 00 mdgCmdAccepted\r\n"
      "[bad] x\r\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_DOUBLE_EQ(lines[0].ms, 2813315.164);
  EXPECT_EQ(lines[0].text, "local control: checked");
  EXPECT_DOUBLE_EQ(lines[1].ms, 2813393.207);
  EXPECT_EQ(lines[1].text, "mode: Idle");
  EXPECT_DOUBLE_EQ(lines[2].ms, 12.5);
  EXPECT_EQ(lines[2].text, "received: 00 mdgCmdAccepted");
}

TEST(Quantile, NearestRank) {
  std::vector<double> v = {5, 1, 4, 2, 3, 10, 9, 8, 7, 6};
  EXPECT_DOUBLE_EQ(quantile(v, 0.0), 1);
  EXPECT_DOUBLE_EQ(quantile(v, 0.5), 5);
  EXPECT_DOUBLE_EQ(quantile(v, 0.99), 10);
  EXPECT_DOUBLE_EQ(quantile(v, 1.0), 10);
  EXPECT_DOUBLE_EQ(quantile({}, 0.5), 0);
}

TEST(ProcessFigures, OwnProcessHasCpuTimeAndMemory) {
  // Burn a little CPU so both counters have moved.
  volatile double x = 0;
  for (int i = 0; i < 20000000; ++i) x = x + 1.0;
  EXPECT_GE(processCpuTicks(getpid()), 0);
  EXPECT_GT(processRunNs(getpid()), 0);
  EXPECT_GT(processStatusKb(getpid(), "VmRSS"), 0);
  EXPECT_EQ(processStatusKb(getpid(), "VmNoSuchField"), -1);
  EXPECT_EQ(processCpuTicks(-5), -1);
}

double nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// kinestim-sim --baud 9600 --wire-log: a host on its pseudo-terminal sends cdgNOP and reads
// the answer; the log holds both frames, stamped on the host's own clock, the answer's last
// byte no later than the host saw it and the answer paced after the command.
TEST(SimulatorWireLog, LogsBothDirectionsOnTheMonotonicClockAtLinePace) {
  char folder[] = "/tmp/kinestim-bench-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string wirePath = std::string(folder) + "/wire.log";
  int toSim[2], fromSim[2];
  ASSERT_EQ(pipe(toSim), 0);
  ASSERT_EQ(pipe(fromSim), 0);
  const double startMs = nowMs();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(toSim[0], 0);
    dup2(fromSim[1], 1);
    close(toSim[1]);
    close(fromSim[0]);
    execl(KINESTIM_SIM_PATH, KINESTIM_SIM_PATH, "--baud", "9600", "--wire-log", wirePath.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toSim[0]);
  close(fromSim[1]);
  // Everything read from the device, with the time each read returned.
  std::vector<std::pair<double, uint8_t>> received;
  auto readFor = [&received](int fd, double ms) {
    const double end = nowMs() + ms;
    while (nowMs() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      uint8_t buffer[64];
      ssize_t n = read(fd, buffer, sizeof buffer);
      const double at = nowMs();
      for (ssize_t i = 0; i < n; ++i) received.push_back({at, buffer[i]});
    }
  };
  std::string portLine;
  char c;
  while (read(fromSim[0], &c, 1) == 1 && c != '\n') portLine += c;
  ASSERT_EQ(portLine.rfind("port: ", 0), 0u) << portLine;
  int port = open(portLine.substr(6).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(port, 0) << std::strerror(errno);
  termios t{};
  tcgetattr(port, &t);
  cfmakeraw(&t);
  tcsetattr(port, TCSANOW, &t);
  readFor(port, 400);   // power-on messages
  received.clear();
  const uint8_t nop[] = {0xaa, 0x01, 0x00, 0x00, 0x55};
  const double sentMs = nowMs();
  ASSERT_EQ(write(port, nop, sizeof nop), static_cast<ssize_t>(sizeof nop));
  readFor(port, 300);
  ASSERT_EQ(write(toSim[1], "quit\n", 5), 5);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(port);
  close(toSim[1]);
  close(fromSim[0]);

  std::ifstream in(wirePath);
  std::stringstream text;
  text << in.rdbuf();
  WireLog log = parseWireLog(text.str());
  std::string rm = std::string("rm -rf '") + folder + "'";
  EXPECT_EQ(std::system(rm.c_str()), 0);

  EXPECT_EQ(log.badLines, 0);
  EXPECT_EQ(log.strayBytes, 0);
  ASSERT_EQ(log.frames.size(), 4u) << text.str();   // two power-on messages, the command, its answer
  const WireFrame& command = log.frames[2];
  const WireFrame& answer = log.frames[3];
  EXPECT_EQ(command.direction, '>');
  EXPECT_EQ(command.bytes, Bytes(nop, nop + 5));
  EXPECT_EQ(answer.direction, '<');
  EXPECT_EQ(answer.bytes, (Bytes{0xaa, 0x02, 0x00, 0x00, 0x00, 0x55}));   // mdgCmdAccepted <00>
  // Same clock as ours: the times fall between our own readings around the exchange.
  EXPECT_GE(command.firstMs, sentMs);
  EXPECT_GE(log.frames[0].firstMs, startMs);
  ASSERT_FALSE(received.empty());
  // The answer's last byte was logged no later than we read it ...
  EXPECT_LE(answer.lastMs, received.back().first);
  // ... and the command (5 bytes) and the answer (6 bytes) took their byte times at 9600.
  const double byteMs = 10000.0 / 9600.0;
  EXPECT_GE(answer.lastMs - command.firstMs, 10 * byteMs);
  EXPECT_LT(answer.lastMs - command.firstMs, 11 * byteMs + 200.0);
}

}  // namespace
