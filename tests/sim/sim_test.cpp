// The simulated device driven with frames, time and control lines, and kinestim-sim as a
// process on a pseudo-terminal: answers, modes, script memory and runs, tilt, pacing and logs.
#include "bench/bench_wire.h"
#include "link/catalogue.h"
#include "process_harness.h"
#include "sim/control.h"
#include "sim/device.h"
#include "test_bytes.h"
#include <gtest/gtest.h>
#include <termios.h>
#include <cmath>
#include <cstring>
#include <tuple>

namespace {

using Lines = std::vector<std::string>;
constexpr int64_t MS = 1000;

// Payloads of the whole, valid frames at the start of bytes as "hex|hex"; the rest stays in
// bytes. Each message must have its catalogue length, or the host would refuse it.
std::string takeFrames(Bytes& bytes, int* count = nullptr) {
  std::string frames;
  size_t i = 0;
  for (size_t n; i + 4 <= bytes.size() && bytes[i] == SIM_SOT && i + (n = bytes[i + 1]) + 4 <= bytes.size(); i += n + 4) {
    if (bytes[i + n + 3] != SIM_EOT || simChecksum(&bytes[i + 2], static_cast<int>(n)) != bytes[i + n + 2]) break;
    const int length = bytes[i + 2] < MESSAGE_COUNT ? messageLength(bytes[i + 2]) : 0;
    EXPECT_TRUE(length == VARIABLE_LENGTH || length == static_cast<int>(n)) << hex(bytes);
    frames += (frames.empty() ? "" : "|") + hex(&bytes[i + 2], n);
    if (count) ++*count;
  }
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(i));
  return frames;
}

// One step of a device scenario: ';'-separated actions, the payloads they bring ('|' between)
// and the mode letter after them (N Init, I Idle, D Direct, P Program Script, R Run Scr, F
// Fault; 0 unchecked). Actions:
//   HEX          a framed payload, 1 ms after the last action   raw HEX    raw bytes, 1 ms after
//   wait MS      time passes                                     ctl LINE   a control line
//   trace MS     time passes; the messages since the last action as "ms:payload", ms from it
//   in X         a fresh device, quietly brought to mode X       enter X    quietly to mode X
//   load A HEX   script bytes stored at A through Program Script, back to Idle
//   off / on MS  a device that was never switched on / power on with that delay
struct Step { std::string action, want; char mode = 0; };

class SimDevice : public ::testing::Test {
 protected:
  int64_t now = MS, mark = MS;
  void SetUp() override { act("in I"); }

  // What the device sent by now, taken a few bytes at a time so that frames are cut between
  // takes; a run that is no valid frame shows as "bad: ...".
  std::string answers() {
    simAdvance(now);
    Bytes out;
    uint8_t buffer[7];
    for (int n; (n = simTakeOutput(now, buffer, sizeof buffer)) > 0;) out.insert(out.end(), buffer, buffer + n);
    const std::string frames = takeFrames(out);
    return out.empty() ? frames : frames + (frames.empty() ? "" : "|") + "bad: " + hex(out);
  }
  std::string events() {
    std::string s;
    for (SimFrameEvent e; simTakeFrameEvent(e);) {
      if (e.direction == '<') s += (s.empty() ? "" : "|") + std::to_string((e.timeUs - mark) / MS) + ":" + hex(e.bytes, e.count);
    }
    return s;
  }
  std::string act(const std::string& actions) {
    std::string out, action;
    for (std::istringstream list(actions); std::getline(list, action, ';');) {
      const std::string got = one(action.substr(action.find_first_not_of(' ')));
      out += (out.empty() || got.empty() ? "" : "|") + got;
    }
    return out;
  }
  std::string one(const std::string& action) {
    const size_t space = action.find(' ');
    const std::string verb = action.substr(0, space), arg = space == std::string::npos ? "" : action.substr(space + 1);
    if (verb == "trace") {
      now += std::stoi(arg) * MS;
      answers();
      const std::string timed = events();
      mark = now;
      return timed;
    }
    events();
    std::string got;
    if (verb == "in") {
      simReset(7);
      simPowerOn(now = 0, 0);
      answers();
      now = MS;
      got = one("enter " + arg);
    } else if (verb == "enter") {
      const char* select[] = {"on 10000", "", "02", "04", "06", "ctl fault 8"};
      one(select[std::string("NIDPRF").find(arg)]);
      EXPECT_EQ(" NIDPRF"[simMode()], arg[0]);
    } else if (verb == "load") {
      std::istringstream in(arg);
      int at;
      in >> at;
      Bytes image;
      for (unsigned b; in >> std::hex >> b;) image.push_back(static_cast<uint8_t>(b));
      one("enter P");
      for (size_t i = 0; i < image.size(); i += 16, at += 16) {
        const std::string chunk = hex(&image[i], std::min<size_t>(16, image.size() - i));
        EXPECT_EQ(one("0d " + hex({static_cast<uint8_t>(at & 0xFF), static_cast<uint8_t>(at >> 8)}) + " " + chunk).substr(0, 2), "1f");
      }
      one("05");
    } else if (verb == "wait") {
      now += std::stoi(arg) * MS;
      got = answers();
    } else if (verb == "ctl") {
      char message[256];
      const SimControlResult result = simControlLine(now, arg.c_str(), 30, message, sizeof message);
      got = result == SimControlResult::Ok ? answers() : result == SimControlResult::Quit ? "quit" : std::string("error: ") + message;
    } else if (verb == "off") {
      simReset(1);
    } else if (verb == "on") {
      simPowerOn(now, std::stoi(arg));
    } else if (!verb.empty()) {
      Bytes bytes;
      std::istringstream in(verb == "raw" ? arg : action);
      for (unsigned b; in >> std::hex >> b;) bytes.push_back(static_cast<uint8_t>(b));
      if (verb != "raw") bytes = frameOf(bytes);
      simReceive(now += MS, bytes.data(), static_cast<int>(bytes.size()));
      got = answers();
    }
    mark = now;
    return verb == "in" || verb == "enter" || verb == "load" ? "" : got;
  }
  void run(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      EXPECT_EQ(act(s.action), s.want) << s.action;
      EXPECT_TRUE(s.mode == 0 || " NIDPRF"[simMode()] == s.mode) << s.action << " ends in mode " << int(simMode());
    }
  }
};

// One frame in a mode: the answers and the mode after it; an upload stores what is accepted.
TEST_F(SimDevice, EachFrameGetsItsAnswersAndEndsInTheRightMode) {
  const std::string zeros252 = hex(Bytes(252, 0)), upload16 = " 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10";
  run({{"off; 00; on 200; wait 199", ""},
       {"wait 1", "0a|0b", 'I'},
       {"in I; 06", "19|0c|11", 'R'},
       {"in D; 04", "17|0e|0f", 'P'},
       {"in P; 06", "19|10|11", 'R'},
       {"in P; 04", "00 04", 'P'},
       {"in D; 01", "0a|0b", 'I'},
       {"in N; 01", "0a|0b", 'I'},
       {"in F; 1a", "2e|14|0b", 'I'},
       {"in F; 19; 08", "2d 08|1b 06", 'F'},
       {"in I; raw aa 01 00 00 54", "06", 'I'},
       {"in I; raw aa 01 00 01 54", "06", 'I'},
       {"in I; raw aa 00 00 55", "03", 'I'},
       {"in I; raw aa 02 08 00 08 55", "05 08 02", 'I'},
       {"in I; " + hex(Bytes(20, 0x0d)), "05 0d 14", 'I'},
       {"in I; raw 13 14 15 aa 01 00 00 55", "01|00 00", 'I'},
       {"in P; 0d f0 07" + upload16 + "; 0e ff 07 01", "1f f0 07 10|21 ff 07 10", 'P'},
       {"in P; 0d f1 07" + upload16 + "; 0e ff 07 01", "20 f1 07 10|21 ff 07 00", 'P'},
       {"in P; 0d ff 07 09; 0d 00 08 09; 0d ff ff 09", "1f ff 07 01|20 00 08 01|20 ff ff 01", 'P'},
       {"in P; 0e fd 07 05; 0e 00 00 00; 0e 00 08 01", "21 fd 07 00 00 00|21 00 00|22 00 08", 'P'},
       {"in P; 0e 00 00 ff", "21 00 00 " + zeros252, 'P'},
       {"in P; 1b fa 00 0a; 1b 00 01 01", "2f fa 00 00 00 00 00 00 00|30 00 01", 'P'},
       // Half a second of quiet ends an unfinished frame, and starts a new run of stray bytes.
       {"in I; raw aa 03 0f; wait 499", ""},
       {"wait 1; 11; raw 13; wait 498; raw 13", "08|25|01"},
       {"wait 499; raw 13", "01"}});
}

// Modes that accept each command (N I D P R F as above), with a payload of the right length.
TEST_F(SimDevice, EachCommandIsRejectedExactlyInTheModesThatDoNotAllowIt) {
  const char* allowed[COMMAND_COUNT][2] = {
      {"00", "NIDPRF"}, {"01", "NIDPRF"}, {"02", "IDPR"}, {"03", "D"}, {"04", "IDPR"}, {"05", "P"},
      {"06", "IDPR"}, {"07", "R"}, {"08", "NIDPRF"}, {"09 01 80", "D"}, {"0a 01 02 03 04", "D"},
      {"0b", "IDPRF"}, {"0c", "P"}, {"0d 00 00 01", "P"}, {"0e 00 00 05", "IDPRF"}, {"0f 00 00", "IDPR"},
      {"10", "IDPR"}, {"11", "IDPR"}, {"12 00 00", "R"}, {"13", "R"}, {"14", "R"}, {"15", "IDPR"},
      {"16", "IDPR"}, {"17", "IDPR"}, {"18", "IDPR"}, {"19", "IDPRF"}, {"1a", "IDPRF"},
      {"1b 00 00 04", "IDPRF"}, {"1c", "IDP"}, {"1d", "IDP"}, {"1e 01 00 01", "IDP"}};
  for (const auto& [payload, modes] : allowed) {
    for (const char mode : std::string("NIDPRF")) {
      const std::string got = act(std::string("in ") + mode + "; " + payload);
      const bool rejected = got.rfind(std::string("02 ") + std::string(payload, 2), 0) == 0;
      EXPECT_EQ(rejected, std::strchr(modes, mode) == nullptr) << payload << " in " << mode << ": " << got;
      EXPECT_TRUE(!rejected || " NIDPRF"[simMode()] == mode) << "a rejected command changes nothing";
    }
  }
}

// depth Calls, each to the next, then Stop.
std::string nestedCalls(int depth) {
  std::string image;
  for (int k = 1; k <= depth; ++k) image += " 06 " + hex({static_cast<uint8_t>(k * 3)}) + " 00";
  return image + " 00";
}

TEST_F(SimDevice, ScriptsStepEvery25MsAndFaultsStopThemAndIdleTheElectrodes) {
  const std::string ram16 = "2f 00 00 02 7f 7f 7f 7f 01 ff 00 00 00 00 00 00 00 00 00";
  run({{"1b 00 00 10", ram16},
       // RAM mirrors a script waiting in a Delay inside a Call (0: Call 4; 3: Stop; 4: Delay 16),
       // armed at 0x123, tracing, local control off: 16 steps, 394 ms, to go.
       {"load 0 06 04 00 00 04 10 00; enter R; 17; 15; 0f 23 01; 12 00 00; wait 30",
        "2b|00 15|23 23 01|26 00 00|2a 00 00 06 00|2a 04 00 04 01"},
       {"1b 00 00 28", "2f 00 00 05 7f 7f 7f 7f 00 ff 01 01 23 01 01 07 00 01 00 03 00 " + hex(Bytes(14, 0))
                           + " 10 00 00 00 01 00 00 00"},
       {"in I; load 0 03 80 80 80 80 04 28 00 02 01 c8 00; enter R; 15; 12 00 00", "00 15|26 00 00|2a 00 00 03 00"},
       {"trace 2000", "0:26 00 00|0:2a 00 00 03 00|25:2a 05 00 04 00|1025:2a 08 00 02 00|1050:2a 0b 00 00 00|1050:29 0b 00"},
       {"1b 01 00 04", "2f 01 00 c8 80 80 80", 'R'},
       // 0: Delay 0; 3: Call 10; 6: Stop; 10: Call 20; 13: Return; 20: NOP; 21: Return
       {"in I; load 0 04 00 00 06 0a 00 00 00 00 00 06 14 00 07 00 00 00 00 00 00 01 07; enter R; 15; 12 00 00",
        "00 15|26 00 00|2a 00 00 04 00|2a 03 00 06 00"},
       {"trace 500", "0:26 00 00|0:2a 00 00 04 00|0:2a 03 00 06 00|25:2a 0a 00 06 01|50:2a 14 00 01 02|"
                     "75:2a 15 00 07 02|100:2a 0d 00 07 01|125:2a 06 00 00 00|125:29 06 00"},
       {"in I; load 0" + nestedCalls(8) + "; enter R; 12 00 00; wait 2000", "26 00 00|29 18 00", 'R'},
       {"in I; load 0" + nestedCalls(9) + "; enter R; 12 00 00; wait 2000; 1b 0b 00 01", "26 00 00|12|2d 0c|13|2f 0b 00 00", 'F'},
       {"in I; load 0 01 09; enter R; 12 00 00; wait 100", "26 00 00|12|2d 0b|13", 'F'},
       {"in I; load 0 03 01 02 03 04 02 05 80; enter R; 12 00 00; wait 100; 1b 01 00 04",
        "26 00 00|12|2d 0a|13|2f 01 00 7f 7f 7f 7f", 'F'},
       {"in I; load 0 02 00 80; enter R; 12 00 00; wait 100", "26 00 00|12|2d 0a|13", 'F'},
       {"in I; load 0 05 00 08; enter R; 12 00 00; wait 100", "26 00 00|12|2d 09|13", 'F'},
       {"in I; load 0 05 fe 07; load 2046 04 01; enter R; 12 00 00; wait 100", "26 00 00|12|2d 09|13", 'F'},
       {"in I; load 0 01 07; enter R; 12 00 00; wait 100", "26 00 00|12|2d 0d|13", 'F'},
       // Arming, running and stopping a Goto 0 that runs until stopped.
       {"in I; load 0 05 00 00; enter R; 13; 0f 00 08; 11; 0f 00 00; 11; 12 00 08; 14; 13",
        "28|24 00 08|25|23 00 00|23 00 00|27 00 08|00 14|26 00 00"},
       {"12 00 00; 02; 14; 13", "02 12|02 02|29 00 00|26 00 00"},
       {"07; 10; wait 1000; 1b 0b 00 01", "1a|12|0b|25|2f 0b 00 00", 'I'}});   // no 29 when deselected
}

TEST_F(SimDevice, FullMemoryUploadReadsBackTheSameAndClearMemZeroesIt) {
  Bytes image(SIM_SCRIPT_MEMORY_SIZE);
  uint32_t x = 12345;
  for (uint8_t& b : image) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  act("load 0 " + hex(image) + "; enter P");
  for (int a = 0; a < SIM_SCRIPT_MEMORY_SIZE; a += 252) {
    const std::string at = hex({static_cast<uint8_t>(a & 0xFF), static_cast<uint8_t>(a >> 8)});
    ASSERT_EQ(act("0e " + at + " fc"), "21 " + at + " " + hex(&image[a], std::min(252, SIM_SCRIPT_MEMORY_SIZE - a)));
  }
  EXPECT_EQ(act("0c"), "1e");
  EXPECT_EQ(Bytes(simScriptMemory(), simScriptMemory() + SIM_SCRIPT_MEMORY_SIZE), Bytes(SIM_SCRIPT_MEMORY_SIZE, 0));
}

TEST_F(SimDevice, ElectrodesControlLinesAndLineDamage) {
  run({{"enter D; 0b; 0a 01 02 03 04; 09 03 c8; 09 00 10; 09 05 10; 0b", "1c 7f 7f 7f 7f|00 0a|00 09|1d 00|1d 05|1c 01 02 c8 04"},
       {"03; 0b", "16|0e|0b|1c 7f 7f 7f 7f", 'I'},
       {"ctl tilt 1.5 -2; ctl quit; ctl # note", "quit"},
       {"ctl tilt 1", "error: usage: tilt X Y (degrees)"},
       {"ctl period 50", "error: usage: period P (ticks, 100 to 20000)"},
       {"ctl fault 300", "error: usage: fault CODE (0 to 255, or a fault name)"},
       {"ctl knob 5 1", "error: usage: knob E CODE (electrode 1 to 4, current code 0 to 255)"},
       {"ctl garbage 123", "error: garbage: '123' is not a run of hex byte pairs"},
       {"ctl corrupt-next length", "error: usage: corrupt-next [checksum|eot|sot]"},
       {"ctl stall-next 0", "error: usage: stall-next MS (1 to 60000)"},
       {"ctl knob 4 0x20; 17; ctl knob 2 0x10; 1b 01 00 05", "1c 7f 7f 7f 20|2b|31 02 10|2f 01 00 7f 7f 7f 20 00"},
       {"ctl too-fast", "34"},
       {"load 0 07 07 07; ctl power-cycle; wait 29", "", 'N'},
       {"wait 1; 0e 00 00 03; 1b 05 00 01", "0a|0b|21 00 00 07 07 07|2f 05 00 01", 'I'},
       // The first answer dropped, the second stalled after two bytes for 100 ms.
       {"ctl drop-next; ctl stall-next 100; 02", "bad: aa 01"},
       {"wait 99", ""},
       {"wait 1", "bad: 0c 0c 55 aa 01 0d 0d 55"}});
}

// Tilt edge times as the host reads them: x high, y high and period in ticks.
struct Edges { int xHigh, yHigh; double period; };
Edges edgesOf(const std::string& m) {
  EXPECT_EQ(m.size(), 26u) << m;
  int t[4] = {0, 1, 2, 3};
  if (m.size() != 26) return {};
  for (int i = 0; i < 4; ++i) t[i] = std::stoi(m.substr(6 + 6 * i, 2) + m.substr(3 + 6 * i, 2), nullptr, 16);
  EXPECT_TRUE(t[0] < t[1] && t[1] < t[2] && t[2] < t[3]) << m << ": edge times never wrap";
  const int a = t[1] - t[0], b = t[2] - t[0], c = t[3] - t[0];
  return {a, c - b, c - 0.5 * (c - b) - 0.5 * a};
}

TEST_F(SimDevice, TiltReadingsRoundTripOnTheTickGridAndTiltLoopsKeepTheirStep) {
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {10, -30}, {62, -62}, {125, -125}, {1, 3}, {-7, 9}, {-124, 100}}) {
    simSetTilt(std::asin(x / 125.0) * 180.0 / M_PI, std::asin(y / 125.0) * 180.0 / M_PI);
    const Edges e = edgesOf(act("1c"));
    EXPECT_EQ(std::vector<double>({e.period, e.xHigh - 444.0, e.yHigh - 444.0}), (std::vector<double>{1000.0, 1.0 * x, 1.0 * y}));
  }
  simSetPeriod(now, 20000.0);
  simSetTilt(90.0, 90.0);
  simSetNoise(5);
  for (int i = 0; i < 2000 && !HasFailure(); ++i) {
    now += 263 * MS / 10;   // walks the sensor timer through its whole range
    ASSERT_NEAR(edgesOf(act("1c")).period, 20000.0, 7.5) << i;
  }
  act("in I; ctl tilt 0 0");
  EXPECT_EQ(act("1e 03 00 02; trace 1000; 1e 00 00 01; wait 1000"),
            "32 fa 00 b6 02 e2 04 9e 06|0:32 fa 00 b6 02 e2 04 9e 06|50:32 64 19 20 1b 4c 1d 08 1f|"
            "100:32 ce 31 8a 33 b6 35 72 37|00 1e");
}

// The host's end of the line: raw 8N1 at 9600, reads that return at once; lastMs is when the
// latest bytes came, on the clock the wire log is stamped with.
double clockMs() { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
struct Port {
  int fd = -1;
  Bytes pending;
  double lastMs = 0;
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
  void write(const Bytes& bytes) const { ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // Waits up to 2 s for more bytes; false when none came.
  bool readSome() {
    uint8_t buffer[1024];
    pollfd p{fd, POLLIN, 0};
    const ssize_t n = poll(&p, 1, 2000) > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
    if (n > 0) pending.insert(pending.end(), buffer, buffer + n), lastMs = clockMs();
    return n > 0;
  }
  void readUntil(size_t bytes) {
    while (pending.size() < bytes && readSome()) continue;
  }
  // The next count frames' payloads; fewer if they do not come in time.
  std::string frames(int count) {
    std::string out;
    for (int got = 0;;) {
      const std::string more = takeFrames(pending, &got);
      out += (out.empty() || more.empty() ? "" : "|") + more;
      if (got >= count || !readSome()) return out;
    }
  }
};

// A 259-byte frame takes about 270 ms each way at 9600 baud, and the wire log holds every
// byte stamped on the host's own clock: never later than the host read it, at line pace.
TEST(SimProcess, StartsAtOnceAnswersAtLinePaceAndLogsEveryFrameInTheTranscriptAndOnTheWire) {
  harness::TempDir dir;
  const double begun = clockMs();
  harness::Simulator sim(dir, {"--baud", "9600", "--wire-log", dir.file("wire.log")});
  ASSERT_TRUE(sim.ok());
  EXPECT_LT(clockMs() - begun, 1000.0) << "the port line must come at once";
  EXPECT_EQ(sim.port().rfind("/dev/pts/", 0), 0u);
  sim.process().settle(200);
  EXPECT_EQ(harness::readFile(sim.transcriptPath()), "") << "nothing is sent before a host is there";
  Port host(sim.port());
  const double opened = clockMs();
  EXPECT_EQ(host.frames(2), "0a|0b");
  EXPECT_GE(clockMs() - opened, 40.0) << "power-on waits for the host's purge to pass";
  host.write(frameOf({0x0f, 0x05, 0x00}) + Bytes{0xAA, 0x01, 0x00, 0x01, 0x55, 0xAA, 0x01, 0x1f, 0x1f, 0x55});
  EXPECT_EQ(host.frames(3), "23 05 00|07|04 1f");

  const double sentMs = clockMs();
  host.write(frameOf({0x1b, 0, 0, 252}));   // answered with a 259-byte frame
  host.readUntil(1);
  const double firstByteMs = clockMs(), firstBytes = static_cast<double>(host.pending.size());
  host.readUntil(259);
  ASSERT_EQ(host.pending.size(), 259u);
  const double answerReadMs = host.lastMs;
  const Bytes answerRead = host.pending;
  // From the first bytes read to the last: the other bytes' times.
  EXPECT_NEAR(answerReadMs - firstByteMs + firstBytes * 1.0417, 270.0, 15.0);
  host.pending.clear();
  // The device hears the last byte of a 259-byte frame about 270 ms after the first was written.
  const double written = clockMs();
  host.write(frameOf(Bytes{0x0d} + Bytes(254, 0x11)));
  host.readUntil(1);
  EXPECT_NEAR(clockMs() - written, 271.0, 15.0);
  EXPECT_EQ(host.frames(1), "05 0d ff");
  // A bad control line is reported (the end-to-end tests drive the device through good ones).
  sim.control("bogus words");
  EXPECT_TRUE(sim.process().expect("kinestim-sim: unknown control line 'bogus' (see --help)\r\n")) << sim.process().output();
  // Read while the simulator still runs: every line is already flushed, its time "%8.1f".
  for (const std::string& line : harness::readLines(sim.transcriptPath())) EXPECT_EQ(line.find('.'), 6u) << line;
  const Lines transcript = sim.frames();
  ASSERT_GE(transcript.size(), 9u);
  EXPECT_EQ(Lines(transcript.begin(), transcript.begin() + 9),
            (Lines{"< 0a mdgExitedModeInit", "< 0b mdgEnteredModeIdle", "> 0f 05 00 cdgScrArm", "< 23 05 00 mdgScrArmed",
                   "> aa 01 00 01 55 (bad frame)", "< 07 mdgCmdRejectedChecksum", "> 1f ?", "< 04 1f mdgCmdRejectedInvalidCdg",
                   "> 1b 00 00 fc cdgDldRAM"}));
  sim.control("quit");
  ASSERT_EQ(sim.process().waitExit(3000), 0);

  const WireLog log = parseWireLog(harness::readFile(dir.file("wire.log")));
  std::string directions;
  for (const WireFrame& f : log.frames) directions += f.direction;
  EXPECT_EQ(directions + " " + std::to_string(log.badLines + log.strayBytes), "<<>>><<<><>< 0");
  const WireFrame& command = log.frames.at(8);
  const WireFrame& answer = log.frames.at(9);
  EXPECT_EQ(hex(command.bytes) + "|" + hex(log.frames.at(11).bytes), "aa 04 1b 00 00 fc 17 55|aa 03 05 0d ff 11 55");
  EXPECT_EQ(answer.bytes, answerRead);
  EXPECT_GE(log.frames[0].firstMs, begun);
  EXPECT_GE(command.firstMs, sentMs);
  EXPECT_LE(answer.lastMs, answerReadMs);
  const double byteMs = 10000.0 / 9600.0;   // 8 bytes in, 259 out, the first at once
  EXPECT_GE(answer.lastMs - command.firstMs, 266 * byteMs);
  EXPECT_LT(answer.lastMs - command.firstMs, 267 * byteMs + 200.0);
}

TEST(SimProcess, HelpDocumentsEveryOptionAndBadOptionsAreRefused) {
  harness::TempDir dir;
  harness::Simulator help(dir, {"--help"});   // the usage text has its own "port: PATH" line
  EXPECT_EQ(help.process().waitExit(3000), 0);
  for (const char* word : {"--port", "--link", "--baud", "--power-on-delay", "--transcript", "--tilt", "--period",
                           "--noise", "--drift", "--seed", "--wire-log", "tilt X Y", "period P", "fault CODE",
                           "knob E CODE", "garbage HEX", "corrupt-next", "drop-next", "stall-next MS",
                           "silent on|off", "power-cycle", "too-fast", "quit"}) {
    EXPECT_NE(help.process().output().find(word), std::string::npos) << word;
  }
  for (const auto& [option, value, status, message] : std::vector<std::tuple<const char*, const char*, int, const char*>>{
           {"--baud", "fast", 2, "kinestim-sim: --baud wants a whole number from 0 to 4000000, not 'fast'\r\n"},
           {"--period", "50", 2, "kinestim-sim: --period wants a number from 100 to 20000, not '50'\r\n"},
           {"--port", "/nonexistent/tty", 1, "kinestim-sim: cannot open /nonexistent/tty: No such file or directory\r\n"}}) {
    harness::Process refused;
    ASSERT_TRUE(refused.startOnTerminal({harness::binary("kinestim-sim"), option, value}));
    EXPECT_EQ(refused.waitExit(3000), status) << option;
    EXPECT_EQ(refused.output(), message);
  }
}

}  // namespace
