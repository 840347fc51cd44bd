// Tests of the console's parameter prompts: answers fill the template's fields, an empty
// answer keeps a field, "." or the end of input cancels, and a refused OK asks again.
#include "platform/console/console_window.h"
#include "resources/resource.h"
#include "ui/parameters.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

const char* const HEADING = "Enter Parameters (Enter keeps the value in brackets, . cancels)\n";

struct ParameterCase {
  const char* name;
  ParameterTemplate t;
  const char* input;
  int result;
  std::string output;   // after the heading
  ParameterBlock block; // compared when the result is OK
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ParameterCase& c, std::ostream* os) { *os << c.name; }

class ConsoleParameters : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(ConsoleParameters, PromptsFieldByField) {
  const ParameterCase& c = GetParam();
  std::istringstream in(c.input);
  std::ostringstream out;
  consoleWindowReset(&in, &out, false);
  resetParameterBlock();
  parameterBlock().address = 1234;   // a cancelled dialog must leave this alone
  EXPECT_EQ(runParameterDialog(c.t), c.result);
  EXPECT_EQ(out.str(), HEADING + c.output);
  EXPECT_FALSE(dialogExists(Dialog::Parameters));
  const ParameterBlock& b = parameterBlock();
  if (c.result == PARAMETER_DIALOG_OK) {
    EXPECT_EQ(b.electrode, c.block.electrode);
    EXPECT_EQ(b.current, c.block.current);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(b.currents[k], c.block.currents[k]) << k;
    EXPECT_EQ(b.address, c.block.address);
    EXPECT_EQ(b.count, c.block.count);
    EXPECT_EQ(b.step, c.block.step);
  } else {
    EXPECT_EQ(b.address, 1234);
  }
}

// Fields a template does not have read as empty text: -1, or 255 in the 8-bit fields.
constexpr ParameterBlock block(uint8_t electrode, uint8_t current, uint8_t c1, uint8_t c2, uint8_t c3,
                               uint8_t c4, int32_t address, int32_t count, uint8_t step) {
  return ParameterBlock{electrode, current, {c1, c2, c3, c4}, address, count, step};
}

INSTANTIATE_TEST_SUITE_P(
    Templates, ConsoleParameters,
    ::testing::Values(
        ParameterCase{"AddressTyped", ParameterTemplate::Address, "0x7ff\n", PARAMETER_DIALOG_OK,
                      "Address (16-bit) [0]: \n", block(255, 255, 255, 255, 255, 255, 2047, -1, 255)},
        ParameterCase{"AddressKept", ParameterTemplate::Address, "\n", PARAMETER_DIALOG_OK,
                      "Address (16-bit) [0]: \n", block(255, 255, 255, 255, 255, 255, 0, -1, 255)},
        ParameterCase{"AddressCancelled", ParameterTemplate::Address, ".\n", PARAMETER_DIALOG_CANCEL,
                      "Address (16-bit) [0]: \n", {}},
        ParameterCase{"EndOfInputCancels", ParameterTemplate::Address, "", PARAMETER_DIALOG_CANCEL,
                      "Address (16-bit) [0]: \n", {}},
        ParameterCase{"RefusedThenCorrected", ParameterTemplate::Address, "abc\n\n017\n", PARAMETER_DIALOG_OK,
                      "Address (16-bit) [0]: \nWarning: Address must be a number from 0 to 65535\n"
                      "(press Enter) \nAddress (16-bit) [abc]: \n",
                      block(255, 255, 255, 255, 255, 255, 15, -1, 255)},
        ParameterCase{"RefusedThenCancelled", ParameterTemplate::Address, "-1\n\n.\n", PARAMETER_DIALOG_CANCEL,
                      "Address (16-bit) [0]: \nWarning: Address must be a number from 0 to 65535\n"
                      "(press Enter) \nAddress (16-bit) [-1]: \n", {}},
        ParameterCase{"AddressCount", ParameterTemplate::AddressCount, "16\n\n", PARAMETER_DIALOG_OK,
                      "Address (16-bit) [0]: \nCount [16]: \n", block(255, 255, 255, 255, 255, 255, 16, 16, 255)},
        ParameterCase{"CountAndStep", ParameterTemplate::CountAndStep, "\n3\n", PARAMETER_DIALOG_OK,
                      "Count (16-bit) [10]: \nStep [1]: \n", block(255, 255, 255, 255, 255, 255, -1, 10, 3)},
        ParameterCase{"CancelOnSecondField", ParameterTemplate::CountAndStep, "5\n.\n", PARAMETER_DIALOG_CANCEL,
                      "Count (16-bit) [10]: \nStep [1]: \n", {}},
        ParameterCase{"Current", ParameterTemplate::Current, "2\n200\n", PARAMETER_DIALOG_OK,
                      "Electrode []: \nCurrent []: \n", block(2, 200, 255, 255, 255, 255, -1, -1, 255)},
        ParameterCase{"Currents", ParameterTemplate::Currents, "128\n0x90\n160\n176\n", PARAMETER_DIALOG_OK,
                      "Current 1 []: \nCurrent 2 []: \nCurrent 3 []: \nCurrent 4 []: \n",
                      block(255, 255, 128, 144, 160, 176, -1, -1, 255)}),
    [](const ::testing::TestParamInfo<ParameterCase>& info) { return std::string(info.param.name); });

TEST(ConsoleParameterDialog, EveryOpeningStartsFromTheTemplateTexts) {
  std::istringstream in("5\n7\n\n\n");
  std::ostringstream out;
  consoleWindowReset(&in, &out, false);
  ASSERT_EQ(runParameterDialog(ParameterTemplate::AddressCount), PARAMETER_DIALOG_OK);
  ASSERT_EQ(runParameterDialog(ParameterTemplate::AddressCount), PARAMETER_DIALOG_OK);
  EXPECT_EQ(out.str(), std::string(HEADING) + "Address (16-bit) [0]: \nCount [16]: \n" + HEADING +
                           "Address (16-bit) [0]: \nCount [16]: \n");
  EXPECT_EQ(parameterBlock().address, 0);
  EXPECT_EQ(parameterBlock().count, 16);
}

}  // namespace
