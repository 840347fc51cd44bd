// Unit tests of the simulated device: modes, command answers, framing rejections, script
// memory, script execution and faults, tilt readings, line damage and control lines.
#include "sim/control.h"
#include "sim/device.h"
#include "sim/tilt_model.h"
#include "sim_test_util.h"
#include "protocol/catalogue.h"
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int64_t MS = 1000;

// Starts each test with a powered, idle device at time 0; `now` moves on by 1 ms per command.
class SimDevice : public ::testing::Test {
 protected:
  int64_t now = 0;
  void SetUp() override {
    simReset(7);
    simPowerOn(0, 0);
    answersAt(0);
    sentEvents();
    now = 1 * MS;
  }
  Lines send(const Bytes& payload) {
    now += MS;
    return command(now, payload);
  }
  void enterMode(uint8_t mode) {
    switch (mode) {
      case modeInit: simPowerOn(now, 10000); answersAt(now); break;
      case modeDirect: send({cdgSelectModeDirect}); break;
      case modeProgramScript: send({cdgSelectModePgmScr}); break;
      case modeRunScr: send({cdgSelectModeRunScr}); break;
      case modeFault: simRaiseFault(now, 8); answersAt(now); break;
      default: break;
    }
    ASSERT_EQ(simMode(), mode);
    sentEvents();
  }
  void load(int address, const Bytes& image) {
    enterMode(modeProgramScript);
    for (size_t i = 0; i < image.size(); i += 16) {
      Bytes chunk = {cdgSrcUldMem, static_cast<uint8_t>((address + i) & 0xFF), static_cast<uint8_t>((address + i) >> 8)};
      for (size_t k = i; k < image.size() && k < i + 16; ++k) chunk.push_back(image[k]);
      ASSERT_EQ(send(chunk).at(0).substr(0, 2), "1f");
    }
    send({cdgDeselectModePgmScr});
  }
};

TEST_F(SimDevice, PowerOnReportsInitThenIdleAfterTheDelayAndNotBefore) {
  simReset(1);
  const Bytes nop = frameOf({cdgNOP});
  simReceive(0, nop.data(), static_cast<int>(nop.size()));
  EXPECT_TRUE(answersAt(0).empty()) << "a device that is off answers nothing";
  simPowerOn(10 * MS, 200);
  EXPECT_EQ(simNextDueUs(), 210 * MS);
  EXPECT_TRUE(answersAt(209 * MS).empty());
  EXPECT_EQ(answersAt(210 * MS), (Lines{"0a", "0b"}));
  EXPECT_EQ(simMode(), modeIdle);
}

struct ModeCase { const char* name; uint8_t from; Bytes payload; Lines answers; uint8_t to; };

class SimModeChange : public SimDevice, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SimModeChange, AnswersAndEndsInTheRightMode) {
  const ModeCase& c = GetParam();
  enterMode(c.from);
  EXPECT_EQ(send(c.payload), c.answers);
  EXPECT_EQ(simMode(), c.to);
}

INSTANTIATE_TEST_SUITE_P(Modes, SimModeChange, ::testing::Values(
  ModeCase{"IdleToDirect", modeIdle, {cdgSelectModeDirect}, {"15", "0c", "0d"}, modeDirect},
  ModeCase{"IdleToProgram", modeIdle, {cdgSelectModePgmScr}, {"17", "0c", "0f"}, modeProgramScript},
  ModeCase{"IdleToRun", modeIdle, {cdgSelectModeRunScr}, {"19", "0c", "11"}, modeRunScr},
  ModeCase{"DirectToIdle", modeDirect, {cdgDeselectModeDirect}, {"16", "0e", "0b"}, modeIdle},
  ModeCase{"ProgramToIdle", modeProgramScript, {cdgDeselectModePgmScr}, {"18", "10", "0b"}, modeIdle},
  ModeCase{"RunToIdle", modeRunScr, {cdgDeselectModeRunScr}, {"1a", "12", "0b"}, modeIdle},
  ModeCase{"DirectToProgram", modeDirect, {cdgSelectModePgmScr}, {"17", "0e", "0f"}, modeProgramScript},
  ModeCase{"ProgramToRun", modeProgramScript, {cdgSelectModeRunScr}, {"19", "10", "11"}, modeRunScr},
  ModeCase{"ProgramAgain", modeProgramScript, {cdgSelectModePgmScr}, {"00 04"}, modeProgramScript},
  ModeCase{"DeselectDirectFromIdle", modeIdle, {cdgDeselectModeDirect}, {"02 03"}, modeIdle},
  ModeCase{"DeselectWrongMode", modeDirect, {cdgDeselectModePgmScr}, {"02 05"}, modeDirect},
  ModeCase{"SelectInFault", modeFault, {cdgSelectModeDirect}, {"02 02"}, modeFault},
  ModeCase{"SelectWhileStarting", modeInit, {cdgSelectModeDirect}, {"02 02"}, modeInit},
  ModeCase{"InitFromDirect", modeDirect, {cdgInit}, {"0a", "0b"}, modeIdle},
  ModeCase{"InitWhileStarting", modeInit, {cdgInit}, {"0a", "0b"}, modeIdle},
  ModeCase{"ClearFault", modeFault, {cdgClearFaultStatus}, {"2e", "14", "0b"}, modeIdle},
  ModeCase{"ClearWithoutFault", modeIdle, {cdgClearFaultStatus}, {"2e"}, modeIdle},
  ModeCase{"FaultStatusInFault", modeFault, {cdgDldFaultStatus}, {"2d 08"}, modeFault},
  ModeCase{"FaultStatusWithoutFault", modeDirect, {cdgDldFaultStatus}, {"2e"}, modeDirect},
  ModeCase{"ModeWhileStarting", modeInit, {cdgDldMode}, {"1b 01"}, modeInit},
  ModeCase{"ModeInRun", modeRunScr, {cdgDldMode}, {"1b 05"}, modeRunScr},
  ModeCase{"ModeInFault", modeFault, {cdgDldMode}, {"1b 06"}, modeFault}),
  [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

// Which modes accept each command (N Init, I Idle, D Direct, P Program Script, R Run Scr,
// F Fault), with a payload of the right length for each.
struct Permission { Bytes payload; const char* modes; };
const Permission PERMISSIONS[COMMAND_COUNT] = {
  {{0x00}, "NIDPRF"}, {{0x01}, "NIDPRF"}, {{0x02}, "IDPR"}, {{0x03}, "D"}, {{0x04}, "IDPR"},
  {{0x05}, "P"}, {{0x06}, "IDPR"}, {{0x07}, "R"}, {{0x08}, "NIDPRF"}, {{0x09, 1, 0x80}, "D"},
  {{0x0a, 1, 2, 3, 4}, "D"}, {{0x0b}, "IDPRF"}, {{0x0c}, "P"}, {{0x0d, 0, 0, 1}, "P"},
  {{0x0e, 0, 0, 5}, "IDPRF"}, {{0x0f, 0, 0}, "IDPR"}, {{0x10}, "IDPR"}, {{0x11}, "IDPR"},
  {{0x12, 0, 0}, "R"}, {{0x13}, "R"}, {{0x14}, "R"}, {{0x15}, "IDPR"}, {{0x16}, "IDPR"},
  {{0x17}, "IDPR"}, {{0x18}, "IDPR"}, {{0x19}, "IDPRF"}, {{0x1a}, "IDPRF"},
  {{0x1b, 0, 0, 4}, "IDPRF"}, {{0x1c}, "IDP"}, {{0x1d}, "IDP"}, {{0x1e, 1, 0, 1}, "IDP"},
};

TEST_F(SimDevice, EachCommandIsRejectedExactlyInTheModesThatDoNotAllowIt) {
  const uint8_t modes[] = {modeInit, modeIdle, modeDirect, modeProgramScript, modeRunScr, modeFault};
  const char letters[] = "NIDPRF";
  for (int code = 0; code < COMMAND_COUNT; ++code) {
    for (int m = 0; m < 6; ++m) {
      SetUp();
      enterMode(modes[m]);
      const Lines answers = send(PERMISSIONS[code].payload);
      const bool allowed = std::strchr(PERMISSIONS[code].modes, letters[m]) != nullptr;
      char rejection[8];
      std::snprintf(rejection, sizeof rejection, "02 %.2x", code);
      ASSERT_FALSE(answers.empty()) << commandName(static_cast<uint8_t>(code)) << " in " << modeNames[modes[m]];
      EXPECT_EQ(answers[0] == rejection, !allowed) << commandName(static_cast<uint8_t>(code)) << " in " << modeNames[modes[m]];
      if (!allowed) { EXPECT_EQ(simMode(), modes[m]) << "a rejected command changes nothing"; }
    }
  }
}

struct FramingCase { const char* name; Bytes input; Lines answers; };

class SimFraming : public SimDevice, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(SimFraming, RejectsWithTheMatchingMessage) {
  now += MS;
  EXPECT_EQ(raw(now, GetParam().input), GetParam().answers);
  // Whatever came before, the next good frame is understood.
  EXPECT_EQ(send({cdgDldMode}), (Lines{"1b 02"}));
}

Bytes uploadOf(int dataBytes) {
  Bytes p = {cdgSrcUldMem, 0, 0};
  for (int i = 0; i < dataBytes; ++i) p.push_back(static_cast<uint8_t>(i));
  return frameOf(p);
}

INSTANTIATE_TEST_SUITE_P(Frames, SimFraming, ::testing::Values(
  FramingCase{"BadEndByte", {0xAA, 0x01, 0x00, 0x00, 0x54}, {"06"}},
  FramingCase{"BadChecksum", {0xAA, 0x01, 0x00, 0x01, 0x55}, {"07"}},
  FramingCase{"EndByteCheckedFirst", {0xAA, 0x01, 0x00, 0x01, 0x54}, {"06"}},
  FramingCase{"EmptyFrame", {0xAA, 0x00, 0x00, 0x55}, {"03"}},
  FramingCase{"UnknownCode", {0xAA, 0x01, 0x1f, 0x1f, 0x55}, {"04 1f"}},
  FramingCase{"CodeFF", {0xAA, 0x02, 0xff, 0x00, 0xff, 0x55}, {"04 ff"}},
  FramingCase{"TooLong", {0xAA, 0x02, 0x08, 0x00, 0x08, 0x55}, {"05 08 02"}},
  FramingCase{"TooShort", {0xAA, 0x01, 0x09, 0x09, 0x55}, {"05 09 01"}},
  FramingCase{"UploadWithoutData", uploadOf(0), {"05 0d 03"}},
  FramingCase{"UploadOf17", uploadOf(17), {"05 0d 14"}},
  FramingCase{"StrayBytesOnceThenFrame", {0x13, 0x14, 0x15, 0xAA, 0x01, 0x00, 0x00, 0x55}, {"01", "00 00"}}),
  [](const ::testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST_F(SimDevice, UnfinishedFrameTimesOutAfterHalfASecond) {
  now += MS;
  EXPECT_TRUE(raw(now, {0xAA, 0x03, 0x0f}).empty());
  EXPECT_EQ(simNextDueUs(), now + SIM_RX_TIMEOUT_US);
  EXPECT_TRUE(answersAt(now + SIM_RX_TIMEOUT_US - 1).empty());
  EXPECT_EQ(answersAt(now + SIM_RX_TIMEOUT_US), (Lines{"08"}));
  now += SIM_RX_TIMEOUT_US;
  EXPECT_EQ(send({cdgScrDldArmed}), (Lines{"25"}));
}

TEST_F(SimDevice, ElectrodesAreKeptCheckedAndResetWhenDirectEnds) {
  enterMode(modeDirect);
  EXPECT_EQ(send({cdgDldAllElectrodes}), (Lines{"1c 7f 7f 7f 7f"}));
  EXPECT_EQ(send({cdgSetAllElectrodes, 1, 2, 3, 4}), (Lines{"00 0a"}));
  EXPECT_EQ(send({cdgSetElectrode, 3, 0xc8}), (Lines{"00 09"}));
  EXPECT_EQ(send({cdgSetElectrode, 0, 0x10}), (Lines{"1d 00"}));
  EXPECT_EQ(send({cdgSetElectrode, 5, 0x10}), (Lines{"1d 05"}));
  EXPECT_EQ(send({cdgDldAllElectrodes}), (Lines{"1c 01 02 c8 04"}));
  send({cdgDeselectModeDirect});
  EXPECT_EQ(send({cdgDldAllElectrodes}), (Lines{"1c 7f 7f 7f 7f"}));
}

TEST_F(SimDevice, FullMemoryUploadIn128ChunksReadsBackTheSame) {
  Bytes image(SIM_SCRIPT_MEMORY_SIZE);
  uint32_t x = 12345;
  for (uint8_t& b : image) { x = x * 1103515245u + 12345u; b = static_cast<uint8_t>(x >> 16); }
  enterMode(modeProgramScript);
  for (int chunk = 0; chunk < 128; ++chunk) {
    const int address = chunk * 16;
    Bytes p = {cdgSrcUldMem, static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8)};
    p.insert(p.end(), image.begin() + address, image.begin() + address + 16);
    char expected[16];
    std::snprintf(expected, sizeof expected, "1f %.2x %.2x 10", address & 0xFF, address >> 8);
    ASSERT_EQ(send(p), (Lines{expected}));
  }
  Bytes readBack;
  for (int address = 0; address < SIM_SCRIPT_MEMORY_SIZE;) {
    now += MS;
    const Bytes frame = frameOf({cdgScrDldMem, static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8), 200});
    simReceive(now, frame.data(), static_cast<int>(frame.size()));
    const std::vector<Bytes> answers = splitFrames(takeAll(now));
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0][0], mdgScrMemDld);
    ASSERT_EQ(answers[0][1] | (answers[0][2] << 8), address);
    readBack.insert(readBack.end(), answers[0].begin() + 3, answers[0].end());
    address += static_cast<int>(answers[0].size()) - 3;
  }
  EXPECT_EQ(readBack, image);
}

struct TransferCase { const char* name; Bytes payload; Lines answers; };

class SimTransfer : public SimDevice, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(SimTransfer, StaysInsideScriptMemory) {
  enterMode(modeProgramScript);
  const Bytes before(simScriptMemory(), simScriptMemory() + SIM_SCRIPT_MEMORY_SIZE);
  const Lines answers = send(GetParam().payload);
  ASSERT_FALSE(answers.empty());
  // Long read-backs are checked by length and start, the others whole.
  if (GetParam().answers.size() == 1 && GetParam().answers[0].size() < answers[0].size() &&
      GetParam().answers[0].back() == '*') {
    const std::string& prefix = GetParam().answers[0];
    EXPECT_EQ(answers[0].substr(0, prefix.size() - 1), prefix.substr(0, prefix.size() - 1));
    EXPECT_EQ(answers[0].size(), 255u * 3 - 1) << "a read-back answer is cut to fit one frame";
  } else {
    EXPECT_EQ(answers, GetParam().answers);
  }
  if (answers[0].substr(0, 2) != "1f") {
    EXPECT_EQ(Bytes(simScriptMemory(), simScriptMemory() + SIM_SCRIPT_MEMORY_SIZE), before) << "a rejected upload stores nothing";
  }
}

INSTANTIATE_TEST_SUITE_P(Bounds, SimTransfer, ::testing::Values(
  TransferCase{"UploadEndingAt2047", {0x0d, 0xf0, 0x07, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, {"1f f0 07 10"}},
  TransferCase{"UploadPast2047", {0x0d, 0xf1, 0x07, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, {"20 f1 07 10"}},
  TransferCase{"UploadOneAt2047", {0x0d, 0xff, 0x07, 9}, {"1f ff 07 01"}},
  TransferCase{"UploadOneAt2048", {0x0d, 0x00, 0x08, 9}, {"20 00 08 01"}},
  TransferCase{"UploadAtFFFF", {0x0d, 0xff, 0xff, 9}, {"20 ff ff 01"}},
  TransferCase{"ReadCutAtEnd", {0x0e, 0xfd, 0x07, 5}, {"21 fd 07 00 00 00"}},
  TransferCase{"ReadNothing", {0x0e, 0x00, 0x00, 0}, {"21 00 00"}},
  TransferCase{"ReadAt2048", {0x0e, 0x00, 0x08, 1}, {"22 00 08"}},
  TransferCase{"Read255Bytes", {0x0e, 0x00, 0x00, 255}, {"21 00 00*"}}),
  [](const ::testing::TestParamInfo<TransferCase>& info) { return std::string(info.param.name); });

TEST_F(SimDevice, ClearMemoryFillsWithZeros) {
  load(100, {1, 2, 3});
  enterMode(modeProgramScript);
  EXPECT_EQ(send({cdgScrClearMem}), (Lines{"1e"}));
  for (int i = 0; i < SIM_SCRIPT_MEMORY_SIZE; ++i) ASSERT_EQ(simScriptMemory()[i], 0) << i;
}

TEST_F(SimDevice, RamReadsAreCutAndCheckedAndCarryTheState) {
  enterMode(modeDirect);
  send({cdgSetAllElectrodes, 0x11, 0x22, 0x33, 0x44});
  const Lines whole = send({cdgDldRAM, 0, 0, 255});
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].size(), 255u * 3 - 1) << "at most 252 data bytes fit one frame";
  EXPECT_EQ(whole[0].substr(0, 27), "2f 00 00 03 11 22 33 44 01 ");
  EXPECT_EQ(send({cdgDldRAM, 250, 0, 10}), (Lines{"2f fa 00 00 00 00 00 00 00"}));
  EXPECT_EQ(send({cdgDldRAM, 0, 1, 1}), (Lines{"30 00 01"}));
}

// Executes a script from address 0 in Run Scr with tracing on; returns the messages with times
// relative to the start.
std::vector<Timed> runScript(int64_t& now, int64_t untilUs, bool trace = true) {
  command(now, {cdgSelectModeRunScr});
  if (trace) command(now, {cdgScrTraceOn});
  sentEvents();
  const int64_t start = now;
  command(now, {cdgScrRun, 0, 0});
  answersAt(start + untilUs);
  std::vector<Timed> events = sentEvents();
  for (Timed& e : events) e.timeUs -= start;
  now = start + untilUs;
  return events;
}

std::string timeline(const std::vector<Timed>& events) {
  std::string s;
  for (const Timed& e : events) s += std::to_string(e.timeUs / 1000) + ":" + e.payload + "|";
  return s;
}

TEST_F(SimDevice, ScriptRunsOneInstructionPerStepAndDelaysByItsCount) {
  const Bytes image = {0x03, 0x80, 0x80, 0x80, 0x80, 0x04, 0x28, 0x00, 0x02, 0x01, 0xc8, 0x00};
  load(0, image);
  EXPECT_EQ(timeline(runScript(now, 2000 * MS)),
            "0:26 00 00|0:2a 00 00 03 00|25:2a 05 00 04 00|1025:2a 08 00 02 00|"
            "1050:2a 0b 00 00 00|1050:29 0b 00|");
  EXPECT_EQ(simElectrode(1), 0xc8);
  EXPECT_EQ(simElectrode(2), 0x80);
  EXPECT_FALSE(simScriptRunning());
  EXPECT_EQ(simMode(), modeRunScr) << "the host deselects Run Scr itself";
}

TEST_F(SimDevice, DelayZeroTakesNoTimeAndCallsNestAndReturn) {
  // 0: Delay 0; 3: Call 10; 6: Stop; 10: Call 20; 13: Return; 20: NOP; 21: Return
  const Bytes image = {0x04, 0x00, 0x00, 0x06, 0x0a, 0x00, 0x00, 0, 0, 0, 0x06, 0x14, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0x01, 0x07};
  load(0, image);
  EXPECT_EQ(timeline(runScript(now, 500 * MS)),
            "0:26 00 00|0:2a 00 00 04 00|0:2a 03 00 06 00|25:2a 0a 00 06 01|50:2a 14 00 01 02|"
            "75:2a 15 00 07 02|100:2a 0d 00 07 01|125:2a 06 00 00 00|125:29 06 00|");
}

struct ScriptFaultCase { const char* name; Bytes image; uint8_t fault; };

class SimScriptFault : public SimDevice, public ::testing::WithParamInterface<ScriptFaultCase> {};

TEST_P(SimScriptFault, RaisesTheFaultAndStopsSafely) {
  load(0, GetParam().image);
  if (GetParam().name == std::string("RunsOffTheEnd")) load(2046, {0x04, 0x01});
  enterMode(modeRunScr);
  Lines answers = command(now, {cdgScrRun, 0, 0});
  const Lines later = answersAt(now + 2000 * MS);
  answers.insert(answers.end(), later.begin(), later.end());
  ASSERT_GE(answers.size(), 3u);
  char fault[8];
  std::snprintf(fault, sizeof fault, "2d %.2x", GetParam().fault);
  EXPECT_EQ(Lines(answers.end() - 3, answers.end()), (Lines{"12", fault, "13"}));
  EXPECT_EQ(simMode(), modeFault);
  EXPECT_FALSE(simScriptRunning());
  for (int e = 1; e <= 4; ++e) EXPECT_EQ(simElectrode(e), IDLE_ELECTRODE_CODE);
}

Bytes nestedCalls(int depth) {
  // Call k*3+3 for k = 0..depth-1, each call jumping to the next call.
  Bytes image;
  for (int k = 0; k < depth; ++k) {
    const int target = (k + 1) * 3;
    image.insert(image.end(), {0x06, static_cast<uint8_t>(target), 0x00});
  }
  image.push_back(0x00);
  return image;
}

INSTANTIATE_TEST_SUITE_P(Faults, SimScriptFault, ::testing::Values(
  ScriptFaultCase{"InvalidOpcode", {0x01, 0x09}, 11},
  ScriptFaultCase{"ElectrodeFive", {0x03, 1, 2, 3, 4, 0x02, 0x05, 0x80}, 10},
  ScriptFaultCase{"ElectrodeZero", {0x02, 0x00, 0x80}, 10},
  ScriptFaultCase{"GotoPastMemory", {0x05, 0x00, 0x08}, 9},
  ScriptFaultCase{"RunsOffTheEnd", {0x05, 0xfe, 0x07}, 9},
  ScriptFaultCase{"NineCallsDeep", nestedCalls(9), 12},
  ScriptFaultCase{"ReturnWithoutCall", {0x01, 0x07}, 13}),
  [](const ::testing::TestParamInfo<ScriptFaultCase>& info) { return std::string(info.param.name); });

TEST_F(SimDevice, EightCallsDeepIsFine) {
  load(0, nestedCalls(8));
  enterMode(modeRunScr);
  command(now, {cdgScrRun, 0, 0});
  EXPECT_EQ(answersAt(now + 1000 * MS).back(), "29 18 00");
}

TEST_F(SimDevice, ArmingRunningAndStoppingFollowTheScriptState) {
  load(0, {0x05, 0x00, 0x00});   // Goto 0: runs until stopped
  enterMode(modeRunScr);
  EXPECT_EQ(send({cdgScrRunArmed}), (Lines{"28"}));
  EXPECT_EQ(send({cdgScrArm, 0x00, 0x08}), (Lines{"24 00 08"}));
  EXPECT_EQ(send({cdgScrDldArmed}), (Lines{"25"}));
  EXPECT_EQ(send({cdgScrArm, 0x00, 0x00}), (Lines{"23 00 00"}));
  EXPECT_EQ(send({cdgScrDldArmed}), (Lines{"23 00 00"}));
  EXPECT_EQ(send({cdgScrRun, 0x00, 0x08}), (Lines{"27 00 08"}));
  EXPECT_EQ(send({cdgScrStop}), (Lines{"00 14"}));
  EXPECT_EQ(send({cdgScrRunArmed}), (Lines{"26 00 00"}));
  EXPECT_EQ(send({cdgScrRun, 0, 0}), (Lines{"02 12"}));
  EXPECT_EQ(send({cdgSelectModeDirect}), (Lines{"02 02"}));
  EXPECT_EQ(send({cdgScrStop}), (Lines{"29 00 00"}));
  EXPECT_FALSE(simScriptRunning());
  EXPECT_EQ(send({cdgScrRunArmed}), (Lines{"26 00 00"}));
  EXPECT_EQ(send({cdgDeselectModeRunScr}), (Lines{"1a", "12", "0b"})) << "no mdgScrStopped: the host would deselect again";
  EXPECT_FALSE(simScriptRunning());
  EXPECT_TRUE(answersAt(now + 1000 * MS).empty());
  EXPECT_EQ(send({cdgScrDisarm}), (Lines{"25"}));
}

// The host's conversion of a tilt message, written out independently of the device code.
struct HostReading { double period; double xDegrees; double yDegrees; int xHigh; int yHigh; };

double hostAngle(double high, double reference, double period) {
  double v = (high - reference) / period / 0.125;
  if (v > 1.0) v -= 2.0;
  else if (v < -1.0) v += 2.0;
  if (!(v >= -1.0 && v <= 1.0)) return 0.0;
  return std::asin(v) * 180.0 / 3.14159;
}

HostReading hostRead(const Bytes& message, double xReference = 444.0, double yReference = 444.0) {
  int t[4];
  for (int i = 0; i < 4; ++i) t[i] = message[1 + 2 * i] | (message[2 + 2 * i] << 8);
  const int a = std::abs(t[1] - t[0]) % 65536, b = std::abs(t[2] - t[0]) % 65536, c = std::abs(t[3] - t[0]) % 65536;
  HostReading r;
  r.xHigh = a;
  r.yHigh = c - b;
  r.period = c - 0.5 * (c - b) - 0.5 * a;
  r.xDegrees = hostAngle(a, xReference, r.period);
  r.yDegrees = hostAngle(r.yHigh, yReference, r.period);
  return r;
}

Bytes readTilt(int64_t& now, uint8_t code = cdgDldTilt) {
  now += MS;
  const Bytes frame = frameOf({code});
  simReceive(now, frame.data(), static_cast<int>(frame.size()));
  const std::vector<Bytes> answers = splitFrames(takeAll(now));
  return answers.size() == 1 ? answers[0] : Bytes{};
}

constexpr double PI = 3.14159265358979323846;

double gridAngle(int ticks) { return std::asin(ticks / 125.0) * 180.0 / PI; }

TEST_F(SimDevice, TiltOnTheTickGridRoundTripsToTheHostsAnglesWithinAHundredthDegree) {
  const int pairs[][2] = {{0, 0}, {10, -30}, {62, -62}, {125, -125}, {1, 3}, {-7, 9}, {-124, 100}};
  for (const auto& p : pairs) {
    simSetTilt(gridAngle(p[0]), gridAngle(p[1]));
    const Bytes m = readTilt(now);
    ASSERT_EQ(m.size(), 9u);
    const HostReading r = hostRead(m);
    EXPECT_EQ(r.period, 1000.0);
    EXPECT_NEAR(r.xDegrees, gridAngle(p[0]), 0.01) << p[0];
    EXPECT_NEAR(r.yDegrees, gridAngle(p[1]), 0.01) << p[1];
  }
}

TEST_F(SimDevice, AnyTiltComesBackWithinOneTickAgainstACalibrationAtLevel) {
  const double periods[] = {1000.0, 1010.0, 987.5, 2500.0};
  const double angles[][2] = {{12.3, -45.6}, {0.2, 0.3}, {-80.0, 33.3}, {5.0, 5.0}};
  for (double period : periods) {
    simSetPeriod(now, period);
    simSetTilt(0.0, 0.0);
    const HostReading level = hostRead(readTilt(now, cdgCalibrate));
    EXPECT_EQ(level.period, period);
    for (const auto& a : angles) {
      simSetTilt(a[0], a[1]);
      const HostReading r = hostRead(readTilt(now), level.xHigh, level.yHigh);
      EXPECT_EQ(r.period, period);
      // The reading and the level reference are each at most one tick from the exact value.
      const double tick = 1.0 / (0.125 * period);
      EXPECT_NEAR(std::sin(r.xDegrees * 3.14159 / 180.0), std::sin(a[0] * PI / 180.0), 2.0 * tick) << period;
      EXPECT_NEAR(std::sin(r.yDegrees * 3.14159 / 180.0), std::sin(a[1] * PI / 180.0), 2.0 * tick) << period;
    }
  }
}

TEST_F(SimDevice, EdgeTimesNeverWrapAndNoiseStaysWithinItsBound) {
  simSetPeriod(now, 20000.0);
  simSetTilt(90.0, 90.0);
  simSetNoise(5);
  for (int i = 0; i < 2000; ++i) {
    now += 263 * MS / 10;   // walks the sensor timer through its whole range
    const Bytes m = readTilt(now);
    ASSERT_EQ(m.size(), 9u);
    int t[4];
    for (int k = 0; k < 4; ++k) t[k] = m[1 + 2 * k] | (m[2 + 2 * k] << 8);
    ASSERT_TRUE(t[0] < t[1] && t[1] < t[2] && t[2] < t[3]) << i;
    const HostReading r = hostRead(m);
    ASSERT_NEAR(r.period, 20000.0, 7.5) << i;
  }
}

TEST_F(SimDevice, TiltLoopSendsCountReadingsStepApartAndCanBeEnded) {
  const int64_t start = now + MS;
  send({cdgTiltLoop, 3, 0, 2});
  answersAt(start + 1000 * MS);
  std::string times;
  for (const Timed& e : sentEvents()) times += std::to_string((e.timeUs - start) / 1000) + ":" + e.payload.substr(0, 2) + " ";
  EXPECT_EQ(times, "0:32 50:32 100:32 ");
  now = start + 1000 * MS;
  send({cdgTiltLoop, 0xe8, 0x03, 0});
  EXPECT_EQ(answersAt(now + 25 * MS).size(), 1u) << "step 0 counts as one step";
  now += 25 * MS;
  EXPECT_EQ(send({cdgTiltLoop, 0, 0, 1}), (Lines{"00 1e"}));
  EXPECT_TRUE(answersAt(now + 1000 * MS).empty());
}

TEST_F(SimDevice, LineDamageAppliesToTheNextFrameOnly) {
  simCorruptNext(SimCorruption::Checksum);
  EXPECT_EQ(send({cdgDldMode}), (Lines{"bad: aa 02 1b 02 e2 55"}));
  simCorruptNext(SimCorruption::EndByte);
  EXPECT_EQ(send({cdgDldMode}), (Lines{"bad: aa 02 1b 02 1d 54"}));
  simDropNext();
  EXPECT_EQ(send({cdgSelectModeDirect}), (Lines{"0c", "0d"}));
  simSetSilent(true);
  EXPECT_TRUE(send({cdgDeselectModeDirect}).empty());
  EXPECT_EQ(simMode(), modeIdle) << "a silent device still obeys";
  simSetSilent(false);
  EXPECT_EQ(send({cdgDldMode}), (Lines{"1b 02"}));
  simStallNext(100);
  now += MS;
  const Bytes frame = frameOf({cdgDldMode});
  simReceive(now, frame.data(), static_cast<int>(frame.size()));
  EXPECT_EQ(hex(takeAll(now)), "aa 02 1b");
  EXPECT_EQ(simNextDueUs(), now + 100 * MS);
  EXPECT_TRUE(takeAll(now + 100 * MS - 1).empty());
  EXPECT_EQ(hex(takeAll(now + 100 * MS)), "02 1d 55");
  simInjectGarbage(now + 100 * MS, Bytes{0x13, 0xaa}.data(), 2);
  EXPECT_EQ(hex(takeAll(now + 100 * MS)), "13 aa");
}

TEST_F(SimDevice, StalledFrameHoldsBackTheFramesAfterIt) {
  simStallNext(50);
  now += MS;
  const Bytes two = frameOf({cdgSelectModeDirect});
  simReceive(now, two.data(), static_cast<int>(two.size()));
  EXPECT_EQ(hex(takeAll(now)), "aa 01");
  EXPECT_EQ(hex(takeAll(now + 50 * MS)), "15 15 55 aa 01 0c 0c 55 aa 01 0d 0d 55");
}

struct ControlCase { const char* line; SimControlResult result; const char* message; };

class SimControl : public SimDevice, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(SimControl, ParsesOrExplains) {
  char message[256];
  EXPECT_EQ(simControlLine(now, GetParam().line, 0, message, sizeof message), GetParam().result);
  EXPECT_EQ(std::string(message), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Lines, SimControl, ::testing::Values(
  ControlCase{"tilt 1.5 -2", SimControlResult::Ok, ""},
  ControlCase{"tilt 1", SimControlResult::Error, "usage: tilt X Y (degrees)"},
  ControlCase{"tilt x y", SimControlResult::Error, "usage: tilt X Y (degrees)"},
  ControlCase{"tilt nan 0", SimControlResult::Error, "usage: tilt X Y (degrees)"},
  ControlCase{"period 50", SimControlResult::Error, "usage: period P (ticks, 100 to 20000)"},
  ControlCase{"period 1000.5\r", SimControlResult::Ok, ""},
  ControlCase{"fault 300", SimControlResult::Error, "usage: fault CODE (0 to 255, or a fault name)"},
  ControlCase{"fault Nonsense", SimControlResult::Error, "usage: fault CODE (0 to 255, or a fault name)"},
  ControlCase{"knob 5 1", SimControlResult::Error, "usage: knob E CODE (electrode 1 to 4, current code 0 to 255)"},
  ControlCase{"knob 1 256", SimControlResult::Error, "usage: knob E CODE (electrode 1 to 4, current code 0 to 255)"},
  ControlCase{"garbage", SimControlResult::Error, "garbage: needs at least one hex byte"},
  ControlCase{"garbage 1g", SimControlResult::Error, "garbage: '1g' is not a run of hex byte pairs"},
  ControlCase{"garbage 123", SimControlResult::Error, "garbage: '123' is not a run of hex byte pairs"},
  ControlCase{"corrupt-next length", SimControlResult::Error, "usage: corrupt-next [checksum|eot|sot]"},
  ControlCase{"stall-next 0", SimControlResult::Error, "usage: stall-next MS (1 to 60000)"},
  ControlCase{"silent maybe", SimControlResult::Error, "usage: silent on|off"},
  ControlCase{"quit now", SimControlResult::Error, "usage: quit"},
  ControlCase{"quit", SimControlResult::Quit, ""},
  ControlCase{"   ", SimControlResult::Ok, ""},
  ControlCase{"# tilt 1 2", SimControlResult::Ok, ""},
  ControlCase{"frobnicate 1", SimControlResult::Error, "unknown control line 'frobnicate' (see --help)"}));

TEST_F(SimDevice, ControlLinesChangeTheDeviceAndTheLine) {
  char message[256];
  EXPECT_EQ(simControlLine(now, "knob 1 200", 0, message, sizeof message), SimControlResult::Ok);
  EXPECT_EQ(answersAt(now), (Lines{"1c c8 7f 7f 7f"}));
  send({cdgDisableLclCtrl});
  EXPECT_EQ(simControlLine(now, "knob 2 0x10", 0, message, sizeof message), SimControlResult::Ok);
  EXPECT_EQ(answersAt(now), (Lines{"31 02 10"}));
  EXPECT_EQ(simElectrode(2), IDLE_ELECTRODE_CODE);
  EXPECT_EQ(simControlLine(now, "garbage 13aa 0x01", 0, message, sizeof message), SimControlResult::Ok);
  EXPECT_EQ(hex(takeAll(now)), "13 aa 01");
  EXPECT_EQ(simControlLine(now, "too-fast", 0, message, sizeof message), SimControlResult::Ok);
  EXPECT_EQ(answersAt(now), (Lines{"34"}));
  EXPECT_EQ(simControlLine(now, "fault WatchdogTimer", 0, message, sizeof message), SimControlResult::Ok);
  EXPECT_EQ(answersAt(now), (Lines{"0c", "2d 08", "13"}));
  EXPECT_EQ(simControlLine(now, "knob 1 1", 0, message, sizeof message), SimControlResult::Error);
  EXPECT_EQ(simControlLine(now, "corrupt-next sot", 0, message, sizeof message), SimControlResult::Ok);
  EXPECT_EQ(send({cdgDldMode}), (Lines{"bad: ab 02 1b 06 21 55"}));
  send({cdgClearFaultStatus});
  load(0, {7, 7, 7});
  EXPECT_EQ(simControlLine(now, "power-cycle", 30, message, sizeof message), SimControlResult::Ok);
  EXPECT_TRUE(answersAt(now + 29 * MS).empty());
  EXPECT_EQ(answersAt(now + 30 * MS), (Lines{"0a", "0b"}));
  EXPECT_EQ(simScriptMemory()[2], 7) << "script memory survives a power cycle";
  EXPECT_TRUE(simLocalControl());
}

TEST(SimTranscript, LinesHaveTheFixedLayout) {
  char line[SIM_TRANSCRIPT_LINE_SIZE];
  const uint8_t arm[] = {0x0f, 0x05, 0x00};
  simFormatTranscriptLine(line, sizeof line, 12.5, '>', arm, 3, simFrameName('>', 0x0f));
  EXPECT_STREQ(line, "    12.5 > 0f 05 00 cdgScrArm\n");
  const uint8_t unknown[] = {0x35};
  simFormatTranscriptLine(line, sizeof line, 123456.75, '<', unknown, 1, simFrameName('<', 0x35));
  EXPECT_STREQ(line, "123456.8 < 35 ?\n");
  const uint8_t bad[] = {0xaa, 0x01, 0x00, 0x01, 0x55};
  simFormatTranscriptLine(line, sizeof line, 0.0, '>', bad, 5, SIM_BAD_FRAME_NAME);
  EXPECT_STREQ(line, "     0.0 > aa 01 00 01 55 (bad frame)\n");
  uint8_t many[600];
  std::memset(many, 0xab, sizeof many);
  char small[64];
  const int n = simFormatTranscriptLine(small, sizeof small, 1.0, '<', many, 600, "mdgRAMDld");
  EXPECT_EQ(n, static_cast<int>(std::strlen(small)));
  EXPECT_EQ(std::string(small).substr(std::strlen(small) - 11), " mdgRAMDld\n") << "a long line is cut, not overrun";
}

TEST_F(SimDevice, TranscriptEventsRecordBothDirectionsAndBadFrames) {
  sentEvents();
  now += MS;
  raw(now, {0xAA, 0x01, 0x00, 0x01, 0x55});
  SimFrameEvent e;
  ASSERT_TRUE(simTakeFrameEvent(e));
  EXPECT_EQ(e.direction, '>');
  EXPECT_TRUE(e.bad);
  EXPECT_EQ(hex(Bytes(e.bytes, e.bytes + e.count)), "aa 01 00 01 55");
  ASSERT_TRUE(simTakeFrameEvent(e));
  EXPECT_EQ(e.direction, '<');
  EXPECT_FALSE(e.bad);
  EXPECT_EQ(hex(Bytes(e.bytes, e.bytes + e.count)), "07");
  EXPECT_FALSE(simTakeFrameEvent(e));
}

}  // namespace
