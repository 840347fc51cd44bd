// Instruction set tests: keyword lookup and instruction lengths that the compiler and the
// memory view share.
#include "script/instruction_set.h"
#include <gtest/gtest.h>

namespace {

struct LookupCase { const char* text; int opcode; };

class LooksUp : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LooksUp, Opcode) { EXPECT_EQ(lookupOpcode(GetParam().text), GetParam().opcode) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(InstructionSet, LooksUp, ::testing::Values(
  LookupCase{"Stop", 0}, LookupCase{"nop", 1}, LookupCase{"setelectrode", 2},
  LookupCase{"SETELECTRODE", 2}, LookupCase{"SetElectrode", 2}, LookupCase{"SetAllElectrodes", 3},
  LookupCase{"DELAY", 4}, LookupCase{"goto", 5}, LookupCase{"Call", 6}, LookupCase{"return", 7},
  LookupCase{"TiltLoop", 8}, LookupCase{"Set", NO_OPCODE}, LookupCase{"SetElectrodes", NO_OPCODE},
  LookupCase{"", NO_OPCODE}, LookupCase{"Stop ", NO_OPCODE}, LookupCase{"St0p", NO_OPCODE}));

TEST(InstructionSet, LengthsAndArgumentCountsByOpcode) {
  const int lengths[] = {1, 1, 3, 5, 3, 3, 3, 1, 4};
  const int counts[] = {0, 0, 2, 4, 1, 1, 1, 0, 2};
  for (int op = 0; op < OPCODE_COUNT; ++op) {
    EXPECT_EQ(scriptOpcodes[op].opcode, op);
    EXPECT_EQ(instructionLength(static_cast<uint8_t>(op)), lengths[op]) << op;
    EXPECT_EQ(scriptOpcodes[op].argumentCount, counts[op]) << op;
  }
  for (int b = 9; b <= 255; ++b) EXPECT_EQ(instructionLength(static_cast<uint8_t>(b)), 1) << b;
}

TEST(InstructionSet, LookupIgnoresTextAfterGivenLength) {
  EXPECT_EQ(lookupOpcodeN("GotoX", 4), opGoto);
  EXPECT_EQ(lookupOpcodeN("Go", 2), NO_OPCODE);
}

}  // namespace
