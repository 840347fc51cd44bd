// Compiler tests: "%i" number reading, keyword and comment scanning, operand ranges, and the
// exact error texts with the offending token's position.
#include "script/compiler.h"
#include "script/instruction_set.h"
#include "test_bytes.h"
#include <gtest/gtest.h>
#include <string>

namespace {

// A source and its bytes, or (bytes nullptr) the diagnostic's text and the offending token's
// offset.
struct CompileCase { const char* name; std::string source; const char* bytes; std::string pane; long offset; };
void PrintTo(const CompileCase& c, std::ostream* os) { *os << c.name; }

class Compiles : public ::testing::TestWithParam<CompileCase> {};

TEST_P(Compiles, Source) {
  const CompileCase& c = GetParam();
  ScriptBuild build = compileScript(c.source.c_str());
  ScriptImage& image = build.image;
  const std::string said = diagnosticText(build.diagnostic);
  ASSERT_EQ(build.built, c.bytes != nullptr) << said;
  EXPECT_EQ(c.bytes ? hex(image.bytes, image.length) : std::to_string(image.length), c.bytes ? c.bytes : "0");
  EXPECT_EQ(said + " @" + std::to_string(build.diagnostic.offset), c.pane + " @" + std::to_string(c.offset));
  if (c.bytes) releaseScriptImage(image);
  EXPECT_TRUE(c.bytes || image.bytes == nullptr);
}

#define BAD_COMMAND "Syntax Error: Invalid command "
#define BAD_ARGUMENT "Syntax Error: Invalid argument at "
#define NO_DIAGNOSTIC "", -1

const std::string LONG_TOKEN(5000, 'Q');   // quoted whole in the message

INSTANTIATE_TEST_SUITE_P(Compiler, Compiles, ::testing::Values(
  CompileCase{"OnlyCommentsAndSpace", " \t\r\n; just a note\r\n\r\n;another", "", NO_DIAGNOSTIC},
  // Commas and bytes above 0x7f separate; a comment may end the source without a line end.
  CompileCase{"Separators", "Stop,NOP\xa0Stop\xffReturn ; the end", "00 01 00 07", NO_DIAGNOSTIC},
  // A number ends at a comment or a keyword; 16-bit operands go low byte first.
  CompileCase{"NumberEnds", "Delay 0x028;comment\r\nDelay 40NOP Delay 300", "04 28 00 04 28 00 01 04 2c 01", NO_DIAGNOSTIC},
  // Keywords in any case; only the first current of SetAllElectrodes may be 255.
  CompileCase{"OperandLimits", "tiltloop 65535 254 SETELECTRODE 4 254 setelectrode 1 0 SetAllElectrodes 255 0 0 0 "
              "SetAllElectrodes 0 254 254 254", "08 ff ff fe 02 04 fe 02 01 00 03 ff 00 00 00 03 00 fe fe fe", NO_DIAGNOSTIC},
  CompileCase{"NumbersAcrossLinesAndTabs", "SetAllElectrodes\t1\r\n2\n\n3 4", "03 01 02 03 04", NO_DIAGNOSTIC},
  CompileCase{"UnknownKeyword", "Wait 5", nullptr, BAD_COMMAND "Wait", 0},
  CompileCase{"PrefixOfKeyword", "NOP Set", nullptr, BAD_COMMAND "Set", 4},
  CompileCase{"KeywordRunIntoNumber", "Delay40", nullptr, BAD_COMMAND "Delay40", 0},
  CompileCase{"CommentBetweenKeywordAndNumber", "Delay ; wait\r\n40", nullptr, BAD_ARGUMENT "Delay", 0},
  CompileCase{"ElectrodeZero", "SetElectrode 0 10", nullptr, BAD_ARGUMENT "SetElectrode", 0},
  CompileCase{"ElectrodeFive", "SetElectrode 4 10 SetElectrode 5 10", nullptr, BAD_ARGUMENT "SetElectrode", 18},
  CompileCase{"Current255OnSetElectrode", "SetElectrode 1 255", nullptr, BAD_ARGUMENT "SetElectrode", 0},
  CompileCase{"FirstCurrent256", "SetAllElectrodes 256 0 0 0", nullptr, BAD_ARGUMENT "SetAllElectrodes", 0},
  CompileCase{"TooFewCurrents", "SetAllElectrodes 1 2 3", nullptr, BAD_ARGUMENT "SetAllElectrodes", 0},
  CompileCase{"DelayTooLarge", "Delay 65536", nullptr, BAD_ARGUMENT "Delay", 0},
  CompileCase{"GotoTooLarge", "Goto 65535 Goto 65536", nullptr, BAD_ARGUMENT "Goto", 11},
  CompileCase{"CallTooLarge", "Call 0xffff Call 0x10000", nullptr, BAD_ARGUMENT "Call", 12},
  CompileCase{"NoNumberAtEnd", "NOP Delay", nullptr, BAD_ARGUMENT "Delay", 4},
  // Values beyond 32 bits would wrap into range (to 40) if read modulo 2^32.
  CompileCase{"DecimalWrappingTo40", "Delay 4294967336", nullptr, BAD_ARGUMENT "Delay", 0},
  CompileCase{"HexWrappingTo40", "Goto 0x100000028", nullptr, BAD_ARGUMENT "Goto", 0},
  CompileCase{"SurplusNumberSoughtAsKeyword", "SetElectrode 1 100 200", nullptr, BAD_COMMAND "200", 19},
  CompileCase{"DecimalPointStopsNumber", "Goto 1.5", nullptr, BAD_COMMAND "5", 7},
  CompileCase{"EightIsNoOctalDigit", "Delay 08", nullptr, BAD_COMMAND "8", 7},
  CompileCase{"StepTooLarge", "TiltLoop 1 255", nullptr, BAD_ARGUMENT "TiltLoop", 0},
  CompileCase{"KeywordAsWritten", "NOP\r\n  dElAy x", nullptr, BAD_ARGUMENT "dElAy", 7},
  CompileCase{"FirstErrorWins", "Stop Wait Delay -1", nullptr, BAD_COMMAND "Wait", 5},
  CompileCase{"AfterComment", "; Delay -1\r\nHalt", nullptr, BAD_COMMAND "Halt", 12},
  CompileCase{"LongToken", "Stop " + LONG_TOKEN + " Stop", nullptr, BAD_COMMAND + LONG_TOKEN, 5}
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
  NumberCase{"0x1g", true, 1, 3}, NumberCase{"2147483648", true, 2147483648LL, 10},
  NumberCase{"4294967296", true, 4294967296LL, 10}, NumberCase{"99999999999999999999", true, 4294967296LL, 20},
  NumberCase{"-99999999999999999999", true, -4294967296LL, 21},
  NumberCase{"", false, 0, 0}, NumberCase{"x1", false, 0, 0}, NumberCase{"- 1", false, 0, 0},
  NumberCase{"0x", false, 0, 0}, NumberCase{"\xa0" "1", false, 0, 0}
));

// The densest source (one-letter separators between the shortest keywords) fits the image buffer.
TEST(Compiler, LongInputsAreHandledWhole) {
  std::string source;
  for (int i = 0; i < 3000; ++i) source += "NOP Delay 0 SetAllElectrodes 1 2 3 4 ";
  ScriptBuild build = compileScript(source.c_str());
  ScriptImage& image = build.image;
  ASSERT_TRUE(build.built);
  EXPECT_EQ(image.length, 3000 * 9);
  EXPECT_EQ(hex(image.bytes, 9), "01 04 00 00 03 01 02 03 04");
  releaseScriptImage(image);
}

}  // namespace
