// The simulated device driven with frames, time and control lines: answers, modes, framing,
// script memory, script runs and faults, electrodes, control lines and line damage; kinestim-sim
// as a process: silent until a host is there, its transcript matching its wire log.
#include "bench/bench_wire.h"
#include "link/catalogue.h"
#include "script/instruction_set.h"
#include "process_harness.h"
#include "sim/control.h"
#include "sim/device.h"
#include "test_bytes.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <sstream>
#include <cstring>

namespace {

constexpr int64_t MS = 1000;

// Payloads of the whole, valid frames at the start of bytes as "hex|hex", taken out of bytes.
// Each message must have its catalogue length, or the host would refuse it.
std::string takeFrames(Bytes& bytes) {
  std::string frames;
  size_t i = 0;
  for (size_t n = 0; i + 4 <= bytes.size() && i + (n = bytes[i + 1]) + 4 <= bytes.size(); i += n + 4) {
    const bool whole = bytes[i] == SIM_SOT && bytes[i + n + 3] == SIM_EOT;
    if (!whole || simChecksum(&bytes[i + 2], static_cast<int>(n)) != bytes[i + n + 2]) break;
    const int length = bytes[i + 2] < MESSAGE_COUNT ? messageLength(bytes[i + 2]) : 0;
    EXPECT_TRUE(length == VARIABLE_LENGTH || length == static_cast<int>(n)) << hex(bytes);
    frames += (frames.empty() ? "" : "|") + hex(&bytes[i + 2], n);
  }
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(i));
  return frames;
}

// "0a 1f" as bytes.
Bytes bytesOf(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  for (unsigned b; in >> std::hex >> b;) bytes.push_back(static_cast<uint8_t>(b));
  return bytes;
}

// The device's clock, 0 when it was switched on: each frame arrives 1 ms after the last action.
int64_t now = 0;

// What the device sent by now, taken a few bytes at a time so that frames are cut between
// takes; a run that is no valid frame shows as "bad: ...".
std::string answers(int64_t at) {
  simAdvance(at);
  Bytes out;
  uint8_t buffer[7];
  for (int n; (n = simTakeOutput(at, buffer, sizeof buffer)) > 0;) out.insert(out.end(), buffer, buffer + n);
  const std::string frames = takeFrames(out);
  return out.empty() ? frames : frames + (frames.empty() ? "" : "|") + "bad: " + hex(out);
}

std::string act(const std::string& actions);

// One scenario action, the payloads it brought:
//   HEX          a framed payload, 1 ms after the last action   raw HEX    raw bytes, likewise
//   wait MS      time passes                                     ctl LINE   a control line
//   in X [HEX]   a fresh device, the script bytes HEX stored at 0, quietly brought to mode X
//                (N Init, I Idle, D Direct, P Program Script, R Run Scr, F Fault)
std::string one(const std::string& verb, const std::string& arg) {
  if (verb == "wait") return answers(now += std::stoi(arg) * MS);
  if (verb == "ctl") {
    char message[256];
    const SimControlResult result = simControlLine(now, arg.c_str(), 30, message, sizeof message);
    if (result == SimControlResult::Error) return "error: " + std::string(message);
    return result == SimControlResult::Quit ? "quit" : answers(now);
  }
  if (verb == "in") {
    simReset(7);
    simPowerOn(0, 0);
    answers(now = 0);
    const Bytes image = bytesOf(arg.substr(1));
    act(image.empty() ? "" : "04");
    for (size_t i = 0; i < image.size(); i += 16) {
      const Bytes head = {0x0d, static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8)};
      const Bytes chunk(image.begin() + i, image.begin() + std::min(i + 16, image.size()));
      EXPECT_EQ(act(hex(head + chunk)).substr(0, 2), "1f");
    }
    const char* select[] = {"ctl power-cycle", "", "02", "04", "06", "ctl fault 8"};
    act(std::string(image.empty() ? "" : "05; ") + select[std::string("NIDPRF").find(arg[0])]);
    EXPECT_EQ(" NIDPRF"[simMode()], arg[0]);
    return "";
  }
  Bytes bytes = bytesOf(verb == "raw" ? arg : verb + " " + arg);
  if (verb != "raw") bytes = frameOf(bytes);
  simReceive(now += MS, bytes.data(), static_cast<int>(bytes.size()));
  return answers(now);
}

// Runs ';'-separated actions; the payloads they brought, '|' between.
std::string act(const std::string& actions) {
  std::string out, action;
  for (std::istringstream list(actions); std::getline(list >> std::ws, action, ';');) {
    const size_t space = std::min(action.find(' '), action.size());
    const std::string verb = action.substr(0, space), arg = action.substr(std::min(space + 1, action.size()));
    const std::string got = one(verb, arg);
    out += (out.empty() || got.empty() ? "" : "|") + got;
  }
  return out;
}

// Scenario steps: actions and the payloads they bring (08 asks for the mode: 1b 01 Init,
// 02 Idle, 03 Direct, 04 Program Script, 05 Run Scr, 06 Fault).
void run(const std::vector<std::pair<std::string, std::string>>& steps) {
  for (const auto& [actions, want] : steps) EXPECT_EQ(act(actions), want) << actions;
}

TEST(SimDevice, ModesFramingAndMemoryBoundsGetTheirAnswers) {
  const std::string data = " 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10";
  run({{"in N; wait 28; 08; wait 1; 08", "1b 01|0a|0b|1b 02"},
       // Selected, Exited, Entered; selecting the mode again only accepts; a rejected command
       // changes nothing.
       {"in I; 06; 04; 04; 06; 07", "19|0c|11|17|12|0f|00 04|19|10|11|1a|12|0b"},
       // The end byte is checked before the checksum, then the length; stray bytes are
       // answered once per run.
       {"raw aa 01 00 00 54; raw aa 01 00 01 54; raw aa 00 00 55; raw aa 02 08 00 08 55; " + hex(Bytes(20, 0x0d)),
        "06|06|03|05 08 02|05 0d 14"},
       {"raw 13 14 15 aa 01 00 00 55", "01|00 00"},
       // Half a second of quiet ends an unfinished frame, and starts a new run of stray bytes.
       {"raw aa 03 0f; wait 499", ""}, {"wait 1; 11; raw 13; wait 498; raw 13", "08|25|01"},
       {"wait 499; raw 13", "01"},
       // Uploads and reads stop at the end of script memory; a read is cut to one frame.
       {"in P; 0d f0 07" + data + "; 0d f1 07" + data + "; 0d ff 07 09; 0d 00 08 09; 0d ff ff 09",
        "1f f0 07 10|20 f1 07 10|1f ff 07 01|20 00 08 01|20 ff ff 01"},
       {"0e fd 07 05; 0e 00 00 00; 0e 00 08 01", "21 fd 07 0e 0f 09|21 00 00|22 00 08"},
       {"0e 00 00 ff; 0c; 0e fd 07 03", "21 00 00 " + hex(Bytes(252, 0)) + "|1e|21 fd 07 00 00 00"},
       {"1b fa 00 0a; 1b 00 01 01", "2f fa 00 00 00 00 00 00 00|30 00 01"}});
}

// The modes that accept each command (letters as for "in"), with a payload of the right length.
TEST(SimDevice, EachCommandIsRejectedExactlyInTheModesThatDoNotAllowIt) {
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
      const bool rejected = got.rfind("02 " + std::string(payload, 2), 0) == 0;
      EXPECT_EQ(rejected, std::strchr(modes, mode) == nullptr) << payload << " in " << mode << ": " << got;
      EXPECT_TRUE(!rejected || " NIDPRF"[simMode()] == mode) << "a rejected command changes nothing";
    }
  }
}

TEST(SimDevice, ScriptsStepEvery25MsAndFaultsStopThemAndIdleTheElectrodes) {
  // Nine Calls, each to the next.
  const std::string calls = " 06 03 00 06 06 00 06 09 00 06 0c 00 06 0f 00 06 12 00 06 15 00 06 18 00 06 1b 00";
  run({// RAM mirrors a script waiting in a Delay inside a Call (0: Call 4; 3: Stop; 4: Delay 16),
       // armed at 0x123, tracing, local control off: 16 steps, 394 ms, to go.
       {"in R 06 04 00 00 04 10 00; 17; 15; 0f 23 01; 12 00 00; wait 30",
        "2b|00 15|23 23 01|26 00 00|2a 00 00 06 00|2a 04 00 04 01"},
       {"1b 00 00 28", "2f 00 00 05 7f 7f 7f 7f 00 ff 01 01 23 01 01 07 00 01 00 03 00 " + hex(Bytes(14, 0))
                           + " 10 00 00 00 01 00 00 00"},
       // 0: Delay 0; 3: Call 10; 6: Stop; 10: Call 20; 13: Return; 20: NOP; 21: Return
       {"in R 04 00 00 06 0a 00 00 00 00 00 06 14 00 07 00 00 00 00 00 00 01 07; 12 00 00; wait 124", "26 00 00"},
       {"wait 1", "29 06 00"},
       {"in R" + calls.substr(0, 72) + " 00; 12 00 00; wait 500; 08", "26 00 00|29 18 00|1b 05"},
       {"in R" + calls + " 00; 12 00 00; wait 500; 1b 00 00 0c",
        "26 00 00|12|2d 0c|13|2f 00 00 06 7f 7f 7f 7f 01 0c 00 00 00 00 00"},
       {"in R 03 01 02 03 04 02 05 80; 12 00 00; wait 100; 1b 01 00 04", "26 00 00|12|2d 0a|13|2f 01 00 7f 7f 7f 7f"},
       {"in R 01 09; 12 00 00; wait 100", "26 00 00|12|2d 0b|13"},
       {"in R 02 00 80; 12 00 00; wait 100", "26 00 00|12|2d 0a|13"},
       {"in R 05 00 08; 12 00 00; wait 100", "26 00 00|12|2d 09|13"},
       // 0: Goto 2046; 2046: a Delay cut off by the end of memory
       {"in R 05 fe 07 " + hex(Bytes(2043, 0)) + " 04 01; 12 00 00; wait 100", "26 00 00|12|2d 09|13"},
       {"in R 01 07; 12 00 00; wait 100", "26 00 00|12|2d 0d|13"},
       // Arming, running and stopping a Goto 0 that runs until stopped.
       {"in R 05 00 00; 13; 0f 00 08; 11; 0f 00 00; 11; 12 00 08; 14; 13",
        "28|24 00 08|25|23 00 00|23 00 00|27 00 08|00 14|26 00 00"},
       {"12 00 00; 02; 14; 13", "02 12|02 02|29 00 00|26 00 00"},
       {"07; 10; wait 1000; 1b 0b 00 01", "1a|12|0b|25|2f 0b 00 00"}});   // no 29 when deselected
}

TEST(SimDevice, ElectrodesControlLinesAndLineDamage) {
  run({{"in D; 0b; 0a 01 02 03 04; 09 03 c8; 09 00 10; 09 05 10; 0b; 03; 0b",
        "1c 7f 7f 7f 7f|00 0a|00 09|1d 00|1d 05|1c 01 02 c8 04|16|0e|0b|1c 7f 7f 7f 7f"},
       {"ctl tilt 1.5 -2; ctl quit; ctl # note", "quit"},
       {"ctl fault 300; ctl knob 5 1", "error: usage: fault CODE (0 to 255, or a fault name)|"
                                       "error: usage: knob E CODE (electrode 1 to 4, current code 0 to 255)"},
       {"ctl knob 4 0x20; 17; ctl knob 2 0x10; 1b 01 00 05", "1c 7f 7f 7f 20|2b|31 02 10|2f 01 00 7f 7f 7f 20 00"},
       {"ctl garbage 123; ctl too-fast", "error: garbage: '123' is not a run of hex byte pairs|34"},
       // The first answer dropped, the second stalled after two bytes for 100 ms.
       {"ctl drop-next; ctl stall-next 100; 02; wait 99", "bad: aa 01"}, {"wait 1", "bad: 0c 0c 55 aa 01 0d 0d 55"}});
}

// The console program is the host, calibrating. The wire log holds every frame of the
// transcript whole; how fast the bytes go is measured by the benchmarks (make bench).
TEST(SimProcess, TalksOnlyToAHostAndLogsEveryFrameInTheTranscriptAndOnTheWire) {
  harness::TempDir dir;
  harness::Simulator sim(dir, {"--baud", "9600", "--wire-log", dir.file("wire.log")});
  ASSERT_TRUE(sim.ok());
  sim.process().settle(200);
  EXPECT_EQ(harness::readFile(sim.transcriptPath()), "") << "nothing is sent before a host is there";
  harness::Process console;
  ASSERT_TRUE(harness::startConsole(console, {sim.port()}));
  std::vector<harness::Step> steps = {{'<', "mode: Idle\r\n"}, {'>', ":calibrate"}};   // twelve tilt readings,
  steps.insert(steps.end(), 12, {'<', "status: Entered new calibration point"});   // each handled by the host
  ASSERT_EQ(harness::play(console, &sim, steps), "");
  sim.control("bogus words");   // the end-to-end tests drive the device through good ones
  EXPECT_TRUE(sim.process().expect("kinestim-sim: unknown control line 'bogus' (see --help)\r\n"));
  sim.control("quit");
  ASSERT_EQ(sim.process().waitExit(3000), 0);
  std::map<char, std::string> wire, transcript;
  for (const WireFrame& f : parseWireLog(harness::readFile(dir.file("wire.log"))).frames)
    wire[f.direction] += hex(Bytes(f.bytes.begin() + 2, f.bytes.end() - 2)) + "|";
  for (const char direction : {'<', '>'}) {
    for (const std::string& line : sim.frames(direction)) transcript[direction] += line.substr(0, line.rfind(' ')) + "|";
  }
  EXPECT_EQ(wire, transcript);
  EXPECT_EQ(std::count(transcript['<'].begin(), transcript['<'].end(), '|'), 15) << transcript['<'];
}

// The device's side written out as numbers. Host and simulator share the catalogue and the
// instruction set, so a wrong shared table would pass on both sides; these literals would not.
TEST(DeviceTables, CommandLengthsOpcodesAndInstructionLengthsAreTheDevicesOwn) {
  const int commandLengths[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 5, 1, 1, -1, 4, 3,   // 0x00 to 0x0f
                                1, 1, 3, 1, 1, 1, 1, 1, 1, 1, 1, 4, 1, 1, 4};      // 0x10 to 0x1e
  ASSERT_EQ(COMMAND_COUNT, 31);
  for (int code = 0; code < 31; ++code) EXPECT_EQ(commandLength(static_cast<uint8_t>(code)), commandLengths[code]) << "command " << code;
  // Opcode byte, keyword, instruction length; a byte past the table is one byte long.
  const struct { int byte; const char* keyword; int length; } opcodes[] = {
      {0, "Stop", 1}, {1, "NOP", 1}, {2, "SetElectrode", 3}, {3, "SetAllElectrodes", 5}, {4, "Delay", 3},
      {5, "Goto", 3}, {6, "Call", 3}, {7, "Return", 1}, {8, "TiltLoop", 4}, {9, "(none)", 1}, {255, "(none)", 1}};
  for (const auto& op : opcodes) {
    EXPECT_EQ(instructionLength(static_cast<uint8_t>(op.byte)), op.length) << op.keyword;
    if (op.byte < OPCODE_COUNT) { EXPECT_STREQ(scriptOpcodes[op.byte].keyword, op.keyword) << op.byte; }
  }
  EXPECT_EQ(SCRIPT_MEMORY_SIZE, 2048);
}

}  // namespace
