// Parameter dialogs: the "%i" number reader, the OK handling that fills the parameter block,
// and the refusal of fields that their command cannot carry.
#include "host_fixture.h"
#include "ui/parameters.h"
#include <climits>
#include <vector>

namespace {

TEST(ParseNumber, ReadsLikePercentI) {
  const struct { const char* text; int32_t value; } cases[] = {
      // Decimal, hexadecimal, octal; the number ends at the first character that cannot continue it.
      {"0", 0}, {"2047", 2047}, {"0x7ff", 2047}, {"0X1F", 31}, {"017", 15}, {"12abc", 12}, {"1e", 1},
      {"09", 0}, {"0x", 0}, {"0xg", 0}, {"0x1g", 1}, {"0778", 63},
      // White space and signs.
      {"\t\r\n 7", 7}, {"+5", 5}, {"-1", -1}, {"-0x10", -16}, {" -017", -15}, {"5 6", 5},
      // No number at all.
      {nullptr, -1}, {"", -1}, {"abc", -1}, {"   ", -1}, {"+", -1}, {"- 5", -1}, {"x10", -1}, {"--5", -1},
      // Beyond 32 bits: held at the limit, never wrapped back into range.
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"4294967297", INT32_MAX}, {"0x80000000", INT32_MAX},
      {"0x100000005", INT32_MAX}, {"99999999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN}, {"-99999999999999999999", INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(parseNumber(c.text), c.value) << (c.text ? c.text : "(null)");
}

// Fills an open "Enter Parameters" dialog of the console seam as the operator would; true
// when OK was accepted.
class ParameterDialogTest : public HostTest {
 protected:
  bool enter(ParameterTemplate t, const std::vector<std::pair<int, std::string>>& typed) {
    consoleCloseDialog(Dialog::Parameters);
    consoleOpenDialog(Dialog::Parameters);
    const ParameterTemplateInfo& info = parameterTemplateInfo(t);
    for (int k = 0; k < info.fieldCount; ++k) {
      consoleAddControl(Dialog::Parameters, info.fields[k].labelId, info.fields[k].label);
      consoleAddControl(Dialog::Parameters, info.fields[k].editId, info.fields[k].initialText);
    }
    for (const auto& [id, value] : typed) setControlText(Dialog::Parameters, id, value.c_str());
    return parameterDialogOk(t);
  }
  void TearDown() override {
    consoleCloseDialog(Dialog::Parameters);
    HostTest::TearDown();
  }
};

TEST_F(ParameterDialogTest, AcceptsEachFieldsWholeRangeAndStoresAbsentFieldsAsMinusOne) {
  ASSERT_TRUE(enter(ParameterTemplate::Address, {}));  // the default "0"
  const ParameterBlock& b = parameterBlock();
  EXPECT_EQ(b.address, 0);
  // The other eight edits are not in this template: -1, or 255 in the 8-bit fields.
  EXPECT_EQ(b.count, -1);
  EXPECT_EQ(b.electrode + b.current + b.step + b.currents[0] + b.currents[1] + b.currents[2] + b.currents[3], 7 * 255);
  ASSERT_TRUE(enter(ParameterTemplate::AddressCount, {{IDC_ADDRESS_EDIT, "65535"}, {IDC_COUNT_EDIT, "255"}}));
  EXPECT_EQ(b.address, 65535);
  EXPECT_EQ(b.count, 255);
  ASSERT_TRUE(enter(ParameterTemplate::CountAndStep, {{IDC_COUNT_EDIT, "65535"}, {IDC_STEP_EDIT, "255"}}));
  EXPECT_EQ(b.count, 65535);
  EXPECT_EQ(b.step, 255);
  ASSERT_TRUE(enter(ParameterTemplate::Currents, {{IDC_CURRENT1_EDIT, "0"}, {IDC_CURRENT2_EDIT, "128"},
                                                  {IDC_CURRENT3_EDIT, "0xff"}, {IDC_CURRENT4_EDIT, "1"}}));
  EXPECT_EQ(std::vector<int>(b.currents, b.currents + 4), (std::vector<int>{0, 128, 255, 1}));
  // No such electrode, but the command can carry it.
  ASSERT_TRUE(enter(ParameterTemplate::Current, {{IDC_ELECTRODE_EDIT, "9"}, {IDC_CURRENT_EDIT, "200"}}));
  EXPECT_EQ(b.electrode, 9);
  EXPECT_EQ(b.current, 200);
  // At most 39 characters of an edit are read: a digit in the 40th is not seen.
  EXPECT_FALSE(enter(ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, std::string(39, ' ') + "5"}}));
  ASSERT_TRUE(enter(ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, std::string(38, ' ') + "5"}}));
  EXPECT_EQ(b.address, 5);
}

// A field its command cannot carry is refused by name and range; nothing is stored.
TEST_F(ParameterDialogTest, RefusesWhatTheCommandCannotCarryAndKeepsTheBlock) {
  using T = ParameterTemplate;
  const struct { T t; std::vector<std::pair<int, std::string>> typed; const char* warning; } cases[] = {
      {T::Address, {{IDC_ADDRESS_EDIT, ""}}, "Address must be a number from 0 to 65535"},
      {T::Address, {{IDC_ADDRESS_EDIT, "abc"}}, "Address must be a number from 0 to 65535"},
      {T::Address, {{IDC_ADDRESS_EDIT, "-1"}}, "Address must be a number from 0 to 65535"},
      {T::Address, {{IDC_ADDRESS_EDIT, "65536"}}, "Address must be a number from 0 to 65535"},
      {T::Address, {{IDC_ADDRESS_EDIT, "4294967296"}}, "Address must be a number from 0 to 65535"},
      {T::AddressCount, {{IDC_COUNT_EDIT, "256"}}, "Count must be a number from 0 to 255"},
      {T::AddressCount, {{IDC_ADDRESS_EDIT, "0x10000"}}, "Address must be a number from 0 to 65535"},
      {T::CountAndStep, {{IDC_COUNT_EDIT, "65536"}}, "Count must be a number from 0 to 65535"},
      {T::CountAndStep, {{IDC_STEP_EDIT, "256"}}, "Step must be a number from 0 to 255"},
      {T::Current, {{IDC_ELECTRODE_EDIT, "2"}}, "Current must be a number from 0 to 255"},
      {T::Current, {{IDC_ELECTRODE_EDIT, "2"}, {IDC_CURRENT_EDIT, "256"}}, "Current must be a number from 0 to 255"},
      {T::Current, {{IDC_ELECTRODE_EDIT, "256"}, {IDC_CURRENT_EDIT, "1"}}, "Electrode must be a number from 0 to 255"},
      {T::Currents, {{IDC_CURRENT1_EDIT, "1"}, {IDC_CURRENT2_EDIT, "2"}, {IDC_CURRENT3_EDIT, "x"}, {IDC_CURRENT4_EDIT, "4"}},
       "Current 3 must be a number from 0 to 255"},
      {T::Currents, {{IDC_CURRENT1_EDIT, "1"}, {IDC_CURRENT2_EDIT, "2"}, {IDC_CURRENT3_EDIT, "3"}},
       "Current 4 must be a number from 0 to 255"}};
  parameterBlock() = ParameterBlock{3, 99, {1, 2, 3, 4}, 1234, 77, 5};
  for (const auto& c : cases) {
    output_.str("");
    EXPECT_FALSE(enter(c.t, c.typed));
    EXPECT_NE(printed().find(std::string("Warning: ") + c.warning), std::string::npos) << printed();
    const ParameterBlock& b = parameterBlock();
    EXPECT_EQ(std::vector<int>({b.electrode, b.current, b.currents[2], b.address, b.count, b.step}),
              (std::vector<int>{3, 99, 3, 1234, 77, 5}));
  }
}

}  // namespace
