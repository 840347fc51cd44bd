// Compiler tests: "%i" number reading, keyword and comment scanning, operand ranges, and the
// exact error texts with the offending token's position.
#include "script/compiler.h"
#include "script/instruction_set.h"
#include "test_bytes.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct CompileCase { const char* name; std::string source; const char* bytes; };

class CompilesTo : public ::testing::TestWithParam<CompileCase> {};

TEST_P(CompilesTo, Bytes) {
  const CompileCase& c = GetParam();
  resetCompilerOutput();
  ScriptImage image;
  ASSERT_TRUE(compileScript(c.source.c_str(), image)) << lastCompilerOutput();
  EXPECT_EQ(hex(image.bytes, image.length), c.bytes);
  EXPECT_STREQ(lastCompilerOutput(), "");
  releaseScriptImage(image);
}

INSTANTIATE_TEST_SUITE_P(Compiler, CompilesTo, ::testing::Values(
  CompileCase{"Empty", "", ""},
  CompileCase{"OnlyCommentsAndSpace", " \t\r\n; just a note\r\n\r\n;another", ""},
  CompileCase{"CommentOnLastLineWithoutLineEnd", "Stop ; the end", "00"},
  CompileCase{"CommaSeparates", "Stop,NOP", "00 01"},
  CompileCase{"HighBytesSeparate", "Stop\xa0NOP\xff" "Return", "00 01 07"},
  CompileCase{"HexNumber", "Delay 0x028", "04 28 00"},
  CompileCase{"CommentRightAfterKeyword", "Stop;comment\r\nNOP", "00 01"},
  CompileCase{"CommentRightAfterNumber", "Delay 40;comment", "04 28 00"},
  CompileCase{"KeywordRightAfterNumber", "Delay 40NOP", "04 28 00 01"},
  CompileCase{"DelayLittleEndian", "Delay 300", "04 2c 01"},
  CompileCase{"DelayMaximum", "Delay 65535", "04 ff ff"},
  CompileCase{"GotoTopOfMemory", "Goto 2047", "05 ff 07"},
  CompileCase{"CallAnyAddress", "Call 0x1234", "06 34 12"},
  CompileCase{"TiltLoopLimits", "tiltloop 65535 254", "08 ff ff fe"},
  CompileCase{"FirstCurrentMay255", "SetAllElectrodes 255 0 0 0", "03 ff 00 00 00"},
  CompileCase{"OtherCurrentsUpTo254", "SetAllElectrodes 0 254 254 254", "03 00 fe fe fe"},
  CompileCase{"SetElectrodeLimits", "SETELECTRODE 4 254 setelectrode 1 0", "02 04 fe 02 01 00"},
  CompileCase{"AnyCase", "sToP nop RETURN", "00 01 07"},
  CompileCase{"NumbersAcrossLinesAndTabs", "SetAllElectrodes\t1\r\n2\n\n3 4", "03 01 02 03 04"}
), [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase { const char* name; std::string source; const char* pane; long offset; };

class FailsWith : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(FailsWith, PaneTextAndOffset) {
  const ErrorCase& c = GetParam();
  showCompilerOutput("earlier text of the same operation");
  ScriptImage image{nullptr, 99, 0};
  long offset = -1;
  EXPECT_FALSE(compileScript(c.source.c_str(), image, &offset));
  EXPECT_STREQ(lastCompilerOutput(), c.pane);
  EXPECT_EQ(offset, c.offset);
  EXPECT_TRUE(image.bytes == nullptr && image.length == 0) << image.length;
}

#define BAD_COMMAND "Syntax Error: Invalid command "
#define BAD_ARGUMENT "Syntax Error: Invalid argument at "

INSTANTIATE_TEST_SUITE_P(Compiler, FailsWith, ::testing::Values(
  ErrorCase{"UnknownKeyword", "Wait 5", BAD_COMMAND "Wait", 0},
  ErrorCase{"PrefixOfKeyword", "NOP Set", BAD_COMMAND "Set", 4},
  ErrorCase{"KeywordPlusLetter", "SetElectrodes 1 1", BAD_COMMAND "SetElectrodes", 0},
  ErrorCase{"TwoKeywordsRunTogether", "StopNOP", BAD_COMMAND "StopNOP", 0},
  ErrorCase{"KeywordRunIntoNumber", "Delay40", BAD_COMMAND "Delay40", 0},
  ErrorCase{"CommentBetweenKeywordAndNumber", "Delay ; wait\r\n40", BAD_ARGUMENT "Delay", 0},
  ErrorCase{"ElectrodeZero", "SetElectrode 0 10", BAD_ARGUMENT "SetElectrode", 0},
  ErrorCase{"Current255OnSetElectrode", "SetElectrode 1 255", BAD_ARGUMENT "SetElectrode", 0},
  ErrorCase{"Current255NotFirst", "SetAllElectrodes 0 255 0 0", BAD_ARGUMENT "SetAllElectrodes", 0},
  ErrorCase{"FirstCurrent256", "SetAllElectrodes 256 0 0 0", BAD_ARGUMENT "SetAllElectrodes", 0},
  ErrorCase{"NegativeCurrent", "SetAllElectrodes -1 0 0 0", BAD_ARGUMENT "SetAllElectrodes", 0},
  ErrorCase{"TooFewCurrents", "SetAllElectrodes 1 2 3", BAD_ARGUMENT "SetAllElectrodes", 0},
  ErrorCase{"DelayTooLarge", "Delay 65536", BAD_ARGUMENT "Delay", 0},
  ErrorCase{"NoNumberAtEnd", "NOP Delay", BAD_ARGUMENT "Delay", 4},
  ErrorCase{"NoNumberBeforeKeyword", "Goto Stop", BAD_ARGUMENT "Goto", 0},
  // Values beyond 32 bits would wrap into range (to 40) if read modulo 2^32.
  ErrorCase{"DecimalWrappingTo40", "Delay 4294967336", BAD_ARGUMENT "Delay", 0},
  ErrorCase{"HexWrappingTo40", "Goto 0x100000028", BAD_ARGUMENT "Goto", 0},
  ErrorCase{"NegativeWrappingTo40", "Call -4294967256", BAD_ARGUMENT "Call", 0},
  ErrorCase{"SurplusNumberSoughtAsKeyword", "SetElectrode 1 100 200", BAD_COMMAND "200", 19},
  ErrorCase{"CommaStopsNumber", "SetElectrode 1,200", BAD_ARGUMENT "SetElectrode", 0},
  ErrorCase{"DecimalPointStopsNumber", "Goto 1.5", BAD_COMMAND "5", 7},
  ErrorCase{"EightIsNoOctalDigit", "Delay 08", BAD_COMMAND "8", 7},
  ErrorCase{"HexPrefixWithoutDigits", "Delay 0x", BAD_ARGUMENT "Delay", 0},
  ErrorCase{"StepTooLarge", "TiltLoop 1 255", BAD_ARGUMENT "TiltLoop", 0},
  ErrorCase{"CountTooLarge", "TiltLoop 65536 1", BAD_ARGUMENT "TiltLoop", 0},
  ErrorCase{"KeywordAsWritten", "NOP\r\n  dElAy x", BAD_ARGUMENT "dElAy", 7},
  ErrorCase{"FirstErrorWins", "Stop Wait Delay -1", BAD_COMMAND "Wait", 5},
  ErrorCase{"AfterComment", "; Delay -1\r\nHalt", BAD_COMMAND "Halt", 12}
), [](const auto& info) { return std::string(info.param.name); });

struct NumberCase { const char* text; bool ok; int64_t value; long next; };

class ReadsNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadsNumber, AsScanfI) {
  const NumberCase& c = GetParam();
  int64_t value = -777;
  long next = -1;
  ASSERT_EQ(readScanfInteger(c.text, 0, &value, &next), c.ok) << c.text;
  if (c.ok) { EXPECT_EQ(std::pair(value, next), std::pair(c.value, c.next)) << c.text; }
}

INSTANTIATE_TEST_SUITE_P(Compiler, ReadsNumber, ::testing::Values(
  NumberCase{"12", true, 12, 2}, NumberCase{" \t\r\n\v\f12z", true, 12, 8}, NumberCase{"-12", true, -12, 3},
  NumberCase{"+0x1F;", true, 31, 5}, NumberCase{"017", true, 15, 3}, NumberCase{"09", true, 0, 1},
  NumberCase{"0x1g", true, 1, 3},
  NumberCase{"2147483648", true, 2147483648LL, 10},
  NumberCase{"4294967296", true, 4294967296LL, 10},
  NumberCase{"99999999999999999999", true, 4294967296LL, 20},
  NumberCase{"-99999999999999999999", true, -4294967296LL, 21},
  NumberCase{"", false, 0, 0}, NumberCase{"x1", false, 0, 0}, NumberCase{"- 1", false, 0, 0},
  NumberCase{"0x", false, 0, 0}, NumberCase{"\xa0" "1", false, 0, 0}
));

// A long token is quoted whole in the message; the densest source (one-letter separators
// between the shortest keywords) fits the image buffer.
TEST(Compiler, LongInputsAreHandledWhole) {
  std::string token(5000, 'Q'), source;
  ScriptImage image;
  EXPECT_FALSE(compileScript(("Stop " + token + " Stop").c_str(), image));
  EXPECT_EQ(std::string(lastCompilerOutput()), "Syntax Error: Invalid command " + token);
  for (int i = 0; i < 3000; ++i) source += "NOP Delay 0 SetAllElectrodes 1 2 3 4 ";
  ASSERT_TRUE(compileScript(source.c_str(), image));
  EXPECT_EQ(image.length, 3000 * 9);
  EXPECT_EQ(hex(image.bytes, 9), "01 04 00 00 03 01 02 03 04");
  releaseScriptImage(image);
}

}  // namespace
