// Tests of the console's parameter prompts: answers fill the template's fields, an empty
// answer keeps a field, "." or the end of input cancels, and a refused OK asks again.
#include "frontends/console/console_window.h"
#include "resources/resource.h"
#include "ui/parameters.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::string HEADING = "Enter Parameters (Enter keeps the value in brackets, . cancels)\n";
const std::string REFUSED = "Warning: Address must be a number from 0 to 65535, not \"abc\"\n(press Enter) \n";

// A cancelled dialog leaves the block as it was (address 1234); fields a template does not
// have read as empty text: -1, or 255 in the 8-bit fields.
struct ParameterCase {
  const char* name;
  ParameterTemplate t;
  const char* input;
  std::string output;
  const char* block;
};
void PrintTo(const ParameterCase& c, std::ostream* os) { *os << c.name; }
class ConsoleParameters : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(ConsoleParameters, PromptsFieldByField) {
  const ParameterCase& c = GetParam();
  std::istringstream in(c.input);
  std::ostringstream out;
  consoleWindowReset(&in, &out, false);
  resetParameterBlock();
  parameterBlock().address = 1234;
  const bool ok = std::string(c.block) != "cancelled";
  EXPECT_EQ(runParameterDialog(c.t), ok ? PARAMETER_DIALOG_OK : PARAMETER_DIALOG_CANCEL);
  EXPECT_EQ(out.str(), HEADING + c.output);
  EXPECT_FALSE(dialogExists(Dialog::Parameters));
  const ParameterBlock& b = parameterBlock();
  char block[64];
  std::snprintf(block, sizeof block, "%d %d %d %d %d %d %d %d %d", b.electrode, b.current, b.currents[0], b.currents[1],
                b.currents[2], b.currents[3], b.address, b.count, b.step);
  EXPECT_EQ(ok ? std::string(block) : std::to_string(b.address), ok ? c.block : "1234");
}

using T = ParameterTemplate;

INSTANTIATE_TEST_SUITE_P(
    Templates, ConsoleParameters,
    ::testing::Values(
        ParameterCase{"AddressTyped", T::Address, "0x7ff\n", "Address (16-bit) [0]: \n",
                      "255 255 255 255 255 255 2047 -1 255"},
        ParameterCase{"EndOfInputCancels", T::Address, "", "Address (16-bit) [0]: \n", "cancelled"},
        ParameterCase{"RefusedThenCorrected", T::Address, "abc\n\n017\n",
                      "Address (16-bit) [0]: \n" + REFUSED + "Address (16-bit) [abc]: \n",
                      "255 255 255 255 255 255 15 -1 255"},
        ParameterCase{"AddressCount", T::AddressCount, "16\n\n", "Address (16-bit) [0]: \nCount [16]: \n",
                      "255 255 255 255 255 255 16 16 255"},
        ParameterCase{"CountAndStep", T::CountAndStep, "\n3\n", "Count (16-bit) [10]: \nStep [1]: \n",
                      "255 255 255 255 255 255 -1 10 3"},
        ParameterCase{"CancelOnSecondField", T::CountAndStep, "5\n.\n", "Count (16-bit) [10]: \nStep [1]: \n",
                      "cancelled"},
        ParameterCase{"Current", T::Current, "2\n200\n", "Electrode []: \nCurrent []: \n",
                      "2 200 255 255 255 255 -1 -1 255"},
        ParameterCase{"Currents", T::Currents, "128\n0x90\n160\n176\n",
                      "Current 1 []: \nCurrent 2 []: \nCurrent 3 []: \nCurrent 4 []: \n",
                      "255 255 128 144 160 176 -1 -1 255"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleParameterDialog, EveryOpeningStartsFromTheTemplateTexts) {
  std::istringstream in("5\n7\n\n\n");
  std::ostringstream out;
  consoleWindowReset(&in, &out, false);
  ASSERT_EQ(runParameterDialog(ParameterTemplate::AddressCount), PARAMETER_DIALOG_OK);
  ASSERT_EQ(runParameterDialog(ParameterTemplate::AddressCount), PARAMETER_DIALOG_OK);
  const std::string prompts = "Address (16-bit) [0]: \nCount [16]: \n";
  EXPECT_EQ(out.str(), HEADING + prompts + HEADING + prompts);
  EXPECT_EQ(parameterBlock().address, 0);
}

}  // namespace
