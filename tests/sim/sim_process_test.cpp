// kinestim-sim as a separate process: its pseudo-terminal seen through raw 9600 baud termios,
// line pacing, the wire log, the control channel, the transcript and options.
#include "bench/bench_wire.h"
#include "process_harness.h"
#include "sim_test_util.h"
#include <termios.h>

namespace {

// Milliseconds on the monotonic clock, the one the wire log is stamped with.
double clockMs() { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// The host's end of the line: raw 8N1 at 9600, reads that return at once; lastReadMs is
// when the latest bytes came.
struct Port {
  int fd = -1;
  Bytes pending;
  double lastReadMs = 0;
  explicit Port(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios t{};
    EXPECT_EQ(tcgetattr(fd, &t), 0) << path;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);
  }
  ~Port() { ::close(fd); }
  void write(const Bytes& bytes) const {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void send(const Bytes& payload) const { write(frameOf(payload)); }
  bool readSome(int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    uint8_t buffer[1024];
    const ssize_t n = poll(&p, 1, timeoutMs) > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
    if (n > 0) pending.insert(pending.end(), buffer, buffer + n), lastReadMs = clockMs();
    return n > 0;
  }
  // The next count frames as hex payloads; fewer if they do not come within timeoutMs.
  Lines frames(size_t count, int timeoutMs = 3000) {
    Lines out;
    for (const double end = clockMs() + timeoutMs;; readSome(static_cast<int>(end - clockMs()))) {
      Bytes rest;
      for (const std::string& f : splitFrames(pending, &rest)) out.push_back(f);
      pending = rest;
      if (out.size() >= count || clockMs() >= end) return out;
    }
  }
};

TEST(SimProcess, StartsAtOnceWritesATranscriptLinePerFrameAndReportsBadControlLines) {
  harness::TempDir dir;
  const double begun = clockMs();
  harness::Simulator sim(dir);
  ASSERT_TRUE(sim.ok());
  EXPECT_LT(clockMs() - begun, 1000.0) << "the port line must come at once";
  EXPECT_EQ(sim.port().rfind("/dev/pts/", 0), 0u);
  sim.process().settle(200);
  EXPECT_EQ(harness::readFile(sim.transcriptPath()), "") << "nothing is sent before a host is there";
  Port host(sim.port());
  const double opened = clockMs();
  EXPECT_EQ(host.frames(2), (Lines{"0a", "0b"}));
  EXPECT_GE(clockMs() - opened, 40.0) << "power-on waits for the host's purge to pass";
  host.send({cdgScrArm, 0x05, 0x00});
  EXPECT_EQ(host.frames(1), (Lines{"23 05 00"}));
  host.write({0xAA, 0x01, 0x00, 0x01, 0x55});
  EXPECT_EQ(host.frames(1), (Lines{"07"}));
  host.write({0xAA, 0x01, 0x1f, 0x1f, 0x55});
  EXPECT_EQ(host.frames(1), (Lines{"04 1f"}));
  sim.process().settle(100);
  // Read while the simulator still runs: every line is already flushed, its time "%8.1f".
  for (const std::string& line : harness::readLines(sim.transcriptPath())) EXPECT_EQ(line.find('.'), 6u) << line;
  EXPECT_EQ(sim.frames(), (Lines{"< 0a mdgExitedModeInit", "< 0b mdgEnteredModeIdle", "> 0f 05 00 cdgScrArm",
                                 "< 23 05 00 mdgScrArmed", "> aa 01 00 01 55 (bad frame)", "< 07 mdgCmdRejectedChecksum",
                                 "> 1f ?", "< 04 1f mdgCmdRejectedInvalidCdg"}));
  // A bad control line is reported (the end-to-end tests drive the device through good ones).
  sim.control("bogus words");
  EXPECT_TRUE(sim.process().expect("kinestim-sim: unknown control line 'bogus' (see --help)\r\n"))
      << sim.process().output();
  sim.control("quit");
  EXPECT_EQ(sim.process().waitExit(3000), 0);
}

// A 259-byte frame takes about 270 ms each way at 9600 baud, and the wire log holds every
// byte stamped on the host's own clock: never later than the host read it, at line pace.
TEST(SimProcess, At9600BaudA259ByteFrameTakesAbout270MsEachWayAndIsLoggedOnTheWire) {
  harness::TempDir dir;
  const double startMs = clockMs();
  harness::Simulator sim(dir, {"--baud", "9600", "--wire-log", dir.file("wire.log")});
  ASSERT_TRUE(sim.ok());
  Port host(sim.port());
  ASSERT_EQ(host.frames(2), (Lines{"0a", "0b"}));
  const double sentMs = clockMs();
  host.send({cdgDldRAM, 0, 0, 252});   // answered with a 259-byte frame
  while (host.pending.empty() && host.readSome(2000)) continue;
  const double firstByteMs = clockMs(), firstBytes = static_cast<double>(host.pending.size());
  while (host.pending.size() < 259 && host.readSome(2000)) continue;
  ASSERT_EQ(host.pending.size(), 259u);
  const double answerReadMs = host.lastReadMs;
  const Bytes answerRead = host.pending;
  // From the first bytes read to the last: the other bytes' times.
  EXPECT_NEAR(answerReadMs - firstByteMs + firstBytes * 1.0417, 270.0, 15.0);
  host.pending.clear();
  // The device hears the last byte of a 259-byte frame about 270 ms after the first was written.
  Bytes payload(255, 0x11);
  payload[0] = cdgSrcUldMem;
  const double written = clockMs();
  host.send(payload);
  while (host.pending.empty() && host.readSome(2000)) continue;
  EXPECT_NEAR(clockMs() - written, 271.0, 15.0);
  EXPECT_EQ(host.frames(1), (Lines{"05 0d ff"}));
  sim.control("quit");
  ASSERT_EQ(sim.process().waitExit(3000), 0);

  const std::string text = harness::readFile(dir.file("wire.log"));
  const WireLog log = parseWireLog(text);
  EXPECT_EQ(log.badLines + log.strayBytes, 0);
  ASSERT_EQ(log.frames.size(), 6u) << text;   // power-on pair, then two commands and their answers
  std::string directions;
  for (const WireFrame& f : log.frames) directions += f.direction;
  EXPECT_EQ(directions, "<<><><");
  const WireFrame& command = log.frames[2];
  const WireFrame& answer = log.frames[3];
  EXPECT_EQ(hex(command.bytes), "aa 04 1b 00 00 fc 17 55");
  EXPECT_EQ(answer.bytes, answerRead);
  EXPECT_EQ(hex(log.frames[5].bytes), "aa 03 05 0d ff 11 55");
  EXPECT_GE(log.frames[0].firstMs, startMs);
  EXPECT_GE(command.firstMs, sentMs);
  EXPECT_LE(answer.lastMs, answerReadMs);
  const double byteMs = 10000.0 / 9600.0;   // 8 bytes in, 259 out, the first at once
  EXPECT_GE(answer.lastMs - command.firstMs, 266 * byteMs);
  EXPECT_LT(answer.lastMs - command.firstMs, 267 * byteMs + 200.0);
}

TEST(SimProcess, HelpDocumentsEveryOptionAndBadOptionsAreRefused) {
  harness::TempDir dir;
  harness::Simulator help(dir, {"--help"});   // the usage text has its own "port: PATH" line
  harness::Process& sim = help.process();
  EXPECT_EQ(sim.waitExit(3000), 0);
  for (const char* word : {"--port", "--link", "--baud", "--power-on-delay", "--transcript", "--tilt", "--period",
                           "--noise", "--drift", "--seed", "--wire-log", "tilt X Y", "period P", "fault CODE",
                           "knob E CODE", "garbage HEX", "corrupt-next", "drop-next", "stall-next MS",
                           "silent on|off", "power-cycle", "too-fast", "quit"}) {
    EXPECT_NE(sim.output().find(word), std::string::npos) << word;
  }
  const struct { const char* option; const char* value; int status; const char* message; } refusals[] = {
    {"--baud", "fast", 2, "kinestim-sim: --baud wants a whole number from 0 to 4000000, not 'fast'\r\n"},
    {"--period", "50", 2, "kinestim-sim: --period wants a number from 100 to 20000, not '50'\r\n"},
    {"--port", "/nonexistent/tty", 1, "kinestim-sim: cannot open /nonexistent/tty: No such file or directory\r\n"}};
  for (const auto& r : refusals) {
    harness::Process refused;
    ASSERT_TRUE(refused.startOnTerminal({harness::binary("kinestim-sim"), r.option, r.value}));
    EXPECT_EQ(refused.waitExit(3000), r.status) << r.option;
    EXPECT_EQ(refused.output(), r.message);
  }
}

}  // namespace
