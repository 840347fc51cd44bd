// Unit tests of the simulated device: modes, command answers, framing, script memory, script
// execution and faults, tilt readings, line damage and control lines.
#include "sim/control.h"
#include "sim_test_util.h"
#include <cmath>
#include <cstring>
#include <regex>

namespace {

constexpr int64_t MS = 1000;

// Device-side transcript events as "ms:payload|", times relative to start.
std::string sentSince(int64_t start) {
  std::string s;
  for (SimFrameEvent e; simTakeFrameEvent(e);) {
    if (e.direction == '<') {
      s += std::to_string((e.timeUs - start) / MS) + ":" + hex(Bytes(e.bytes, e.bytes + e.count)) + "|";
    }
  }
  return s;
}

// A powered, idle device at time 0; `now` moves on by 1 ms per command.
class SimDevice : public ::testing::Test {
 protected:
  int64_t now = MS;
  void SetUp() override {
    simReset(7);
    simPowerOn(0, 0);
    answersAt(0);
    sentSince(0);
    now = MS;
  }
  Lines send(const Bytes& payload) { return command(now += MS, payload); }
  Lines control(const char* line, SimControlResult want = SimControlResult::Ok) {
    char message[256];
    EXPECT_EQ(simControlLine(now, line, 30, message, sizeof message), want) << line;
    return answersAt(now);
  }
  void enterMode(uint8_t mode) {
    if (mode == modeInit) simPowerOn(now, 10000);
    if (mode == modeDirect) send({cdgSelectModeDirect});
    if (mode == modeProgramScript) send({cdgSelectModePgmScr});
    if (mode == modeRunScr) send({cdgSelectModeRunScr});
    if (mode == modeFault) simRaiseFault(now, 8);
    answersAt(now);
    ASSERT_EQ(simMode(), mode);
    sentSince(0);
  }
  void load(int address, const Bytes& image) {
    enterMode(modeProgramScript);
    for (size_t i = 0; i < image.size(); i += 16) {
      const size_t at = address + i;
      Bytes chunk = {cdgSrcUldMem, static_cast<uint8_t>(at & 0xFF), static_cast<uint8_t>(at >> 8)};
      chunk.insert(chunk.end(), image.begin() + static_cast<long>(i),
                   image.begin() + static_cast<long>(std::min(i + 16, image.size())));
      ASSERT_EQ(send(chunk).at(0).substr(0, 2), "1f");
    }
    send({cdgDeselectModePgmScr});
  }
};

TEST_F(SimDevice, PowerOnReportsInitThenIdleAfterTheDelayAndNotBefore) {
  simReset(1);
  EXPECT_TRUE(command(0, {cdgNOP}).empty()) << "a device that is off answers nothing";
  simPowerOn(10 * MS, 200);
  EXPECT_EQ(simNextDueUs(), 210 * MS);
  EXPECT_TRUE(answersAt(209 * MS).empty());
  EXPECT_EQ(answersAt(210 * MS), (Lines{"0a", "0b"}));
}

// One frame in a mode: the answers, the mode after it (through cdgDldMode, which also shows
// the next frame is read), and script memory's last byte stored only by an accepted upload.
struct Answer { const char* name; uint8_t from; Bytes frame; Lines answers; uint8_t to; };
constexpr uint8_t INIT = modeInit, IDLE = modeIdle, DIRECT = modeDirect;
constexpr uint8_t PGM = modeProgramScript, RUN = modeRunScr, FAULT = modeFault;
const Answer ANSWERS[] = {
  Answer{"IdleToRun", IDLE, frameOf({cdgSelectModeRunScr}), {"19", "0c", "11"}, RUN},
  Answer{"DirectToProgram", DIRECT, frameOf({cdgSelectModePgmScr}), {"17", "0e", "0f"}, PGM},
  Answer{"ProgramToRun", PGM, frameOf({cdgSelectModeRunScr}), {"19", "10", "11"}, RUN},
  Answer{"ProgramAgain", PGM, frameOf({cdgSelectModePgmScr}), {"00 04"}, PGM},
  Answer{"InitFromDirect", DIRECT, frameOf({cdgInit}), {"0a", "0b"}, IDLE},
  Answer{"InitWhileStarting", INIT, frameOf({cdgInit}), {"0a", "0b"}, IDLE},
  Answer{"ClearFault", FAULT, frameOf({cdgClearFaultStatus}), {"2e", "14", "0b"}, IDLE},
  Answer{"FaultStatusInFault", FAULT, frameOf({cdgDldFaultStatus}), {"2d 08"}, FAULT},
  Answer{"ModeInFault", FAULT, frameOf({cdgDldMode}), {"1b 06"}, FAULT},
  Answer{"BadEndByte", IDLE, {0xAA, 0x01, 0x00, 0x00, 0x54}, {"06"}, IDLE},
  Answer{"EndByteCheckedBeforeChecksum", IDLE, {0xAA, 0x01, 0x00, 0x01, 0x54}, {"06"}, IDLE},
  Answer{"EmptyFrame", IDLE, {0xAA, 0x00, 0x00, 0x55}, {"03"}, IDLE},
  Answer{"TooLong", IDLE, {0xAA, 0x02, 0x08, 0x00, 0x08, 0x55}, {"05 08 02"}, IDLE},
  Answer{"UploadOf17", IDLE, frameOf(Bytes(20, 0x0d)), {"05 0d 14"}, IDLE},
  Answer{"StrayBytesOnceThenFrame", IDLE, {0x13, 0x14, 0x15, 0xAA, 0x01, 0x00, 0x00, 0x55}, {"01", "00 00"}, IDLE},
  Answer{"UploadEndingAt2047", PGM, frameOf({0x0d, 0xf0, 0x07, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
         {"1f f0 07 10"}, PGM},
  Answer{"UploadPast2047", PGM, frameOf({0x0d, 0xf1, 0x07, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
         {"20 f1 07 10"}, PGM},
  Answer{"UploadOneAt2047", PGM, frameOf({0x0d, 0xff, 0x07, 9}), {"1f ff 07 01"}, PGM},
  Answer{"UploadOneAt2048", PGM, frameOf({0x0d, 0x00, 0x08, 9}), {"20 00 08 01"}, PGM},
  Answer{"UploadAtFFFF", PGM, frameOf({0x0d, 0xff, 0xff, 9}), {"20 ff ff 01"}, PGM},
  Answer{"ReadCutAtEnd", PGM, frameOf({0x0e, 0xfd, 0x07, 5}), {"21 fd 07 00 00 00"}, PGM},
  Answer{"ReadNothing", PGM, frameOf({0x0e, 0x00, 0x00, 0}), {"21 00 00"}, PGM},
  Answer{"ReadAt2048", PGM, frameOf({0x0e, 0x00, 0x08, 1}), {"22 00 08"}, PGM},
  Answer{"Read255CutToOneFrame", PGM, frameOf({0x0e, 0x00, 0x00, 255}), {"21 00 00 " + hex(Bytes(252, 0))}, PGM},
  Answer{"RamReadCutAtEnd", PGM, frameOf({cdgDldRAM, 250, 0, 10}), {"2f fa 00 " + hex(Bytes(6, 0))}, PGM},
  Answer{"RamReadPastEnd", PGM, frameOf({cdgDldRAM, 0, 1, 1}), {"30 00 01"}, PGM}};

TEST_F(SimDevice, EachFrameGetsItsAnswersAndEndsInTheRightMode) {
  for (const Answer& c : ANSWERS) {
    SetUp();
    enterMode(c.from);
    EXPECT_EQ(raw(now += MS, c.frame), c.answers) << c.name;
    EXPECT_EQ(send({cdgDldMode}), (Lines{"1b " + hex({c.to})})) << c.name;
    const bool stored = c.answers[0].substr(0, 2) == "1f";
    EXPECT_EQ(simScriptMemory()[SIM_SCRIPT_MEMORY_SIZE - 1], stored ? c.frame[c.frame.size() - 3] : 0) << c.name;
  }
}

// Modes that accept each command (N Init, I Idle, D Direct, P Program Script, R Run Scr,
// F Fault), with a payload of the right length.
struct Permission { Bytes payload; const char* modes; };
const Permission PERMISSIONS[COMMAND_COUNT] = {
  {{0x00}, "NIDPRF"}, {{0x01}, "NIDPRF"}, {{0x02}, "IDPR"},
  {{0x03}, "D"}, {{0x04}, "IDPR"}, {{0x05}, "P"},
  {{0x06}, "IDPR"}, {{0x07}, "R"}, {{0x08}, "NIDPRF"},
  {{0x09, 1, 0x80}, "D"}, {{0x0a, 1, 2, 3, 4}, "D"}, {{0x0b}, "IDPRF"},
  {{0x0c}, "P"}, {{0x0d, 0, 0, 1}, "P"}, {{0x0e, 0, 0, 5}, "IDPRF"},
  {{0x0f, 0, 0}, "IDPR"}, {{0x10}, "IDPR"}, {{0x11}, "IDPR"},
  {{0x12, 0, 0}, "R"}, {{0x13}, "R"}, {{0x14}, "R"},
  {{0x15}, "IDPR"}, {{0x16}, "IDPR"}, {{0x17}, "IDPR"},
  {{0x18}, "IDPR"}, {{0x19}, "IDPRF"}, {{0x1a}, "IDPRF"},
  {{0x1b, 0, 0, 4}, "IDPRF"}, {{0x1c}, "IDP"}, {{0x1d}, "IDP"},
  {{0x1e, 1, 0, 1}, "IDP"},
};

TEST_F(SimDevice, EachCommandIsRejectedExactlyInTheModesThatDoNotAllowIt) {
  const uint8_t modes[] = {modeInit, modeIdle, modeDirect, modeProgramScript, modeRunScr, modeFault};
  for (int code = 0; code < COMMAND_COUNT; ++code) {
    for (int m = 0; m < 6; ++m) {
      SetUp();
      enterMode(modes[m]);
      const Lines answers = send(PERMISSIONS[code].payload);
      const std::string rejection = "02 " + hex({static_cast<uint8_t>(code)});
      const bool allowed = std::strchr(PERMISSIONS[code].modes, "NIDPRF"[m]) != nullptr;
      const std::string where = std::string(commandName(static_cast<uint8_t>(code))) + " in " + modeNames[modes[m]];
      ASSERT_FALSE(answers.empty()) << where;
      EXPECT_EQ(answers[0] == rejection, !allowed) << where;
      EXPECT_TRUE(allowed || simMode() == modes[m]) << "a rejected command changes nothing";
    }
  }
}

// Half a second of quiet ends an unfinished frame, and starts a new run of stray bytes.
TEST_F(SimDevice, UnfinishedFramesAndStrayRunsEndAfterHalfASecond) {
  EXPECT_TRUE(raw(now += MS, {0xAA, 0x03, 0x0f}).empty());
  EXPECT_TRUE(answersAt(now + SIM_RX_TIMEOUT_US - 1).empty());
  EXPECT_EQ(answersAt(now += SIM_RX_TIMEOUT_US), (Lines{"08"}));
  EXPECT_EQ(send({cdgScrDldArmed}), (Lines{"25"}));
  EXPECT_EQ(raw(now += MS, {0x13}), (Lines{"01"}));
  EXPECT_TRUE(raw(now += SIM_RX_TIMEOUT_US - 1, {0x13}).empty());
  EXPECT_EQ(raw(now += SIM_RX_TIMEOUT_US, {0x13}), (Lines{"01"}));
}

// RAM mirrors the device state: at power-on, then while a script waits in a Delay inside a
// Call (0: Call 4; 3: Stop; 4: Delay 16), armed at 0x123, tracing, local control off.
TEST_F(SimDevice, RamMirrorsTheDeviceState) {
  EXPECT_EQ(send({cdgDldRAM, 0, 0, 16}), (Lines{"2f 00 00 02 7f 7f 7f 7f 01 ff 00 00 00 00 00 00 00 00 00"}));
  load(0, {0x06, 0x04, 0x00, 0x00, 0x04, 0x10, 0x00});
  enterMode(modeRunScr);
  for (const Bytes& c : {Bytes{cdgDisableLclCtrl}, {cdgScrTraceOn}, {cdgScrArm, 0x23, 0x01}, {cdgScrRun, 0, 0}}) send(c);
  answersAt(now += 30 * MS);
  // Steps left: the Delay ran 25 ms after the start, now is 31 ms: 16 steps, 394 ms, to go.
  EXPECT_EQ(send({cdgDldRAM, 0, 0, 40}), (Lines{"2f 00 00 05 7f 7f 7f 7f 00 ff 01 01 23 01 01 07 00 01 00 03 00 "
                                               + hex(Bytes(14, 0)) + " 10 00 00 00 01 00 00 00"}));
}

TEST_F(SimDevice, ElectrodesAreKeptCheckedAndResetWhenDirectEnds) {
  enterMode(modeDirect);
  const struct { Bytes payload; Lines answers; } steps[] = {
      {{cdgDldAllElectrodes}, {"1c 7f 7f 7f 7f"}},
      {{cdgSetAllElectrodes, 1, 2, 3, 4}, {"00 0a"}},
      {{cdgSetElectrode, 3, 0xc8}, {"00 09"}},
      {{cdgSetElectrode, 0, 0x10}, {"1d 00"}},
      {{cdgSetElectrode, 5, 0x10}, {"1d 05"}},
      {{cdgDldAllElectrodes}, {"1c 01 02 c8 04"}},
      {{cdgDeselectModeDirect}, {"16", "0e", "0b"}},
      {{cdgDldAllElectrodes}, {"1c 7f 7f 7f 7f"}}};
  for (const auto& s : steps) EXPECT_EQ(send(s.payload), s.answers) << hex(s.payload);
}

TEST_F(SimDevice, FullMemoryUploadReadsBackTheSameAndClearMemZeroesIt) {
  Bytes image(SIM_SCRIPT_MEMORY_SIZE);
  uint32_t x = 12345;
  for (uint8_t& b : image) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  load(0, image);
  enterMode(modeProgramScript);
  for (int a = 0; a < SIM_SCRIPT_MEMORY_SIZE; a += 16) {
    const uint8_t low = static_cast<uint8_t>(a & 0xFF), high = static_cast<uint8_t>(a >> 8);
    ASSERT_EQ(send({cdgScrDldMem, low, high, 16}),
              (Lines{hex({mdgScrMemDld, low, high}) + " " + hex(Bytes(image.begin() + a, image.begin() + a + 16))}));
  }
  EXPECT_EQ(send({cdgScrClearMem}), (Lines{"1e"}));
  EXPECT_EQ(Bytes(simScriptMemory(), simScriptMemory() + SIM_SCRIPT_MEMORY_SIZE),
            Bytes(SIM_SCRIPT_MEMORY_SIZE, 0));
}

// Runs the script at 0 in Run Scr with tracing on; the messages as "ms:payload|".
std::string runScript(int64_t& now, int64_t forUs) {
  command(now, {cdgSelectModeRunScr});
  command(now, {cdgScrTraceOn});
  sentSince(0);
  command(now, {cdgScrRun, 0, 0});
  answersAt(now + forUs);
  const int64_t start = now;
  now += forUs;
  return sentSince(start);
}

TEST_F(SimDevice, ScriptStepsEvery25MsDelaysByItsCountAndNestsCalls) {
  load(0, {0x03, 0x80, 0x80, 0x80, 0x80, 0x04, 0x28, 0x00, 0x02, 0x01, 0xc8, 0x00});
  EXPECT_EQ(runScript(now, 2000 * MS), "0:26 00 00|0:2a 00 00 03 00|25:2a 05 00 04 00|1025:2a 08 00 02 00|"
                                       "1050:2a 0b 00 00 00|1050:29 0b 00|");
  EXPECT_EQ((std::pair<int, int>(simElectrode(1), simElectrode(2))), std::pair(0xc8, 0x80));
  EXPECT_EQ(simMode(), modeRunScr) << "the host deselects Run Scr itself";
  // 0: Delay 0; 3: Call 10; 6: Stop; 10: Call 20; 13: Return; 20: NOP; 21: Return
  SetUp();
  load(0, {0x04, 0x00, 0x00, 0x06, 0x0a, 0x00, 0x00, 0, 0, 0, 0x06, 0x14, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0x01, 0x07});
  EXPECT_EQ(runScript(now, 500 * MS), "0:26 00 00|0:2a 00 00 04 00|0:2a 03 00 06 00|25:2a 0a 00 06 01|"
                                      "50:2a 14 00 01 02|75:2a 15 00 07 02|100:2a 0d 00 07 01|"
                                      "125:2a 06 00 00 00|125:29 06 00|");
}

// depth Calls, each to the next, then Stop.
Bytes nestedCalls(int depth) {
  Bytes image;
  for (int k = 1; k <= depth; ++k) image.insert(image.end(), {0x06, static_cast<uint8_t>(k * 3), 0x00});
  image.push_back(0x00);
  return image;
}

// Each faulty script raises its fault (none for -1, which ends at its Stop) and stops safely.
TEST_F(SimDevice, ScriptFaultsStopTheScriptAndIdleTheElectrodes) {
  const struct { const char* name; Bytes image; int fault; } cases[] = {
    {"InvalidOpcode", {0x01, 0x09}, 11},
    {"ElectrodeFive", {0x03, 1, 2, 3, 4, 0x02, 0x05, 0x80}, 10},
    {"ElectrodeZero", {0x02, 0x00, 0x80}, 10},
    {"GotoPastMemory", {0x05, 0x00, 0x08}, 9},
    {"RunsOffTheEnd", {0x05, 0xfe, 0x07}, 9},
    {"EightCallsDeepIsFine", nestedCalls(8), -1},
    {"NineCallsDeep", nestedCalls(9), 12},
    {"ReturnWithoutCall", {0x01, 0x07}, 13}};
  for (const auto& c : cases) {
    SetUp();
    load(0, c.image);
    if (c.name == std::string("RunsOffTheEnd")) load(2046, {0x04, 0x01});
    enterMode(modeRunScr);
    Lines answers = command(now, {cdgScrRun, 0, 0});
    for (const std::string& a : answersAt(now + 2000 * MS)) answers.push_back(a);
    const Lines end = c.fault < 0 ? Lines{"29 18 00"} : Lines{"12", "2d " + hex({static_cast<uint8_t>(c.fault)}), "13"};
    ASSERT_GE(answers.size(), end.size()) << c.name;
    EXPECT_EQ(Lines(answers.end() - static_cast<long>(end.size()), answers.end()), end) << c.name;
    EXPECT_FALSE(simScriptRunning()) << c.name;
    EXPECT_EQ(simMode(), c.fault < 0 ? modeRunScr : modeFault) << c.name;
    for (int e = 1; c.fault >= 0 && e <= 4; ++e) EXPECT_EQ(simElectrode(e), IDLE_ELECTRODE_CODE) << c.name;
  }
}

TEST_F(SimDevice, ArmingRunningAndStoppingFollowTheScriptState) {
  load(0, {0x05, 0x00, 0x00});   // Goto 0: runs until stopped
  enterMode(modeRunScr);
  const struct { Bytes payload; Lines answers; } steps[] = {
    {{cdgScrRunArmed}, {"28"}},
    {{cdgScrArm, 0x00, 0x08}, {"24 00 08"}},
    {{cdgScrDldArmed}, {"25"}},
    {{cdgScrArm, 0x00, 0x00}, {"23 00 00"}},
    {{cdgScrDldArmed}, {"23 00 00"}},
    {{cdgScrRun, 0x00, 0x08}, {"27 00 08"}},
    {{cdgScrStop}, {"00 14"}},
    {{cdgScrRunArmed}, {"26 00 00"}},
    {{cdgScrRun, 0, 0}, {"02 12"}},
    {{cdgSelectModeDirect}, {"02 02"}},
    {{cdgScrStop}, {"29 00 00"}},
    {{cdgScrRunArmed}, {"26 00 00"}},
    {{cdgDeselectModeRunScr}, {"1a", "12", "0b"}},   // no mdgScrStopped: the host would deselect again
    {{cdgScrDisarm}, {"25"}}};
  for (const auto& s : steps) EXPECT_EQ(send(s.payload), s.answers) << hex(s.payload);
  EXPECT_FALSE(simScriptRunning());
  EXPECT_TRUE(answersAt(now + 1000 * MS).empty());
}

// Tilt message edge times as the host reads them: x high, y high and period in ticks.
struct Edges { int xHigh, yHigh; double period; };
Edges edgesOf(int64_t& now, uint8_t code = cdgDldTilt) {
  const Lines m = command(now += MS, {code});
  EXPECT_EQ(m.size(), 1u);
  int t[4];
  for (int i = 0; i < 4; ++i) {
    t[i] = std::stoi(m.at(0).substr(6 + 6 * i, 2) + m[0].substr(3 + 6 * i, 2), nullptr, 16);
  }
  EXPECT_TRUE(t[0] < t[1] && t[1] < t[2] && t[2] < t[3]) << "edge times never wrap";
  const int a = t[1] - t[0], b = t[2] - t[0], c = t[3] - t[0];
  return {a, c - b, c - 0.5 * (c - b) - 0.5 * a};
}

double gridAngle(int ticks) { return std::asin(ticks / 125.0) * 180.0 / M_PI; }

TEST_F(SimDevice, TiltOnTheTickGridRoundTripsThroughTheEdgeTimes) {
  const std::pair<int, int> grid[] = {{0, 0}, {10, -30}, {62, -62}, {125, -125}, {1, 3}, {-7, 9}, {-124, 100}};
  for (const auto& p : grid) {
    simSetTilt(gridAngle(p.first), gridAngle(p.second));
    const Edges e = edgesOf(now);
    EXPECT_EQ(std::vector<double>({e.period, e.xHigh - 444.0, e.yHigh - 444.0}),
              (std::vector<double>{1000.0, 1.0 * p.first, 1.0 * p.second}));
  }
  simSetPeriod(now, 20000.0);
  simSetTilt(90.0, 90.0);
  simSetNoise(5);
  for (int i = 0; i < 2000 && !HasFailure(); ++i) {
    now += 263 * MS / 10;   // walks the sensor timer through its whole range
    ASSERT_NEAR(edgesOf(now).period, 20000.0, 7.5) << i;
  }
}

TEST_F(SimDevice, TiltLoopSendsCountReadingsStepApartAndCanBeEnded) {
  const int64_t start = now + MS;
  send({cdgTiltLoop, 3, 0, 2});
  answersAt(now = start + 1000 * MS);
  EXPECT_EQ(std::regex_replace(sentSince(start), std::regex(":32[^|]*"), ""), "0|50|100|");
  EXPECT_EQ(send({cdgTiltLoop, 0, 0, 1}), (Lines{"00 1e"}));
  EXPECT_TRUE(answersAt(now + 1000 * MS).empty());
}

TEST_F(SimDevice, DroppedAndStalledFramesHoldNothingElseBack) {
  simDropNext();
  simStallNext(100);
  simReceive(now += MS, frameOf({cdgSelectModeDirect}).data(), 5);
  EXPECT_EQ(hex(takeAll(now)), "aa 01") << "the first frame dropped, the second stalled after two bytes";
  EXPECT_EQ(simNextDueUs(), now + 100 * MS);
  EXPECT_TRUE(takeAll(now + 100 * MS - 1).empty());
  EXPECT_EQ(hex(takeAll(now + 100 * MS)), "0c 0c 55 aa 01 0d 0d 55");
}

TEST_F(SimDevice, ControlLinesParseOrExplain) {
  const struct { const char* line; SimControlResult result; const char* message; } cases[] = {
    {"tilt 1.5 -2", SimControlResult::Ok, ""},
    {"quit", SimControlResult::Quit, ""},
    {"tilt 1", SimControlResult::Error, "usage: tilt X Y (degrees)"},
    {"period 50", SimControlResult::Error, "usage: period P (ticks, 100 to 20000)"},
    {"fault 300", SimControlResult::Error, "usage: fault CODE (0 to 255, or a fault name)"},
    {"knob 5 1", SimControlResult::Error, "usage: knob E CODE (electrode 1 to 4, current code 0 to 255)"},
    {"garbage 123", SimControlResult::Error, "garbage: '123' is not a run of hex byte pairs"},
    {"corrupt-next length", SimControlResult::Error, "usage: corrupt-next [checksum|eot|sot]"},
    {"stall-next 0", SimControlResult::Error, "usage: stall-next MS (1 to 60000)"},
    {"stall-next 1", SimControlResult::Ok, ""}};
  for (const auto& c : cases) {
    char message[256];
    EXPECT_EQ(simControlLine(now, c.line, 0, message, sizeof message), c.result) << c.line;
    EXPECT_STREQ(message, c.message);
  }
}

TEST_F(SimDevice, ControlLinesChangeTheDeviceAndTheLine) {
  EXPECT_EQ(control("knob 4 0x20"), (Lines{"1c 7f 7f 7f 20"}));
  send({cdgDisableLclCtrl});
  EXPECT_EQ(control("knob 2 0x10"), (Lines{"31 02 10"}));
  EXPECT_EQ(simElectrode(2), IDLE_ELECTRODE_CODE);
  EXPECT_EQ(control("too-fast"), (Lines{"34"}));
  load(0, {7, 7, 7});
  control("power-cycle");
  EXPECT_TRUE(answersAt(now + 29 * MS).empty());
  EXPECT_EQ(answersAt(now + 30 * MS), (Lines{"0a", "0b"}));
  EXPECT_EQ(simScriptMemory()[2], 7) << "script memory survives a power cycle";
  EXPECT_TRUE(simLocalControl());
}

}  // namespace
