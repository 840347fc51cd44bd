// Parameter dialogs: the "%i" number reader, the OK handling that fills the parameter block,
// and the refusal of fields that their command cannot carry.
#include "host_fixture.h"
#include "platform/console/console_window.h"
#include "resource.h"
#include "ui/parameters.h"
#include <climits>
#include <vector>

namespace {

struct NumberCase { const char* text; int32_t expected; };

class ParseNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberTest, ReadsLikePercentI) {
  EXPECT_EQ(parseNumber(GetParam().text), GetParam().expected) << "text \"" << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseNumberTest,
    ::testing::Values(
        // Decimal, hexadecimal, octal; the number ends at the first character that cannot
        // continue it.
        NumberCase{"0", 0}, NumberCase{"2047", 2047}, NumberCase{"0x7ff", 2047},
        NumberCase{"0X1F", 31}, NumberCase{"017", 15}, NumberCase{"12abc", 12},
        NumberCase{"1e", 1}, NumberCase{"09", 0}, NumberCase{"0x", 0}, NumberCase{"0xg", 0},
        NumberCase{"0x1g", 1}, NumberCase{"0778", 63},
        // White space and signs.
        NumberCase{"  4", 4}, NumberCase{"\t\r\n 7", 7}, NumberCase{"+5", 5}, NumberCase{"-1", -1},
        NumberCase{"-0x10", -16}, NumberCase{" -017", -15}, NumberCase{"5 6", 5},
        // No number at all.
        NumberCase{"", -1}, NumberCase{"abc", -1}, NumberCase{"   ", -1}, NumberCase{"+", -1},
        NumberCase{"- 5", -1}, NumberCase{"x10", -1}, NumberCase{"--5", -1},
        // Beyond 32 bits: held at the limit, never wrapped back into range.
        NumberCase{"2147483647", INT32_MAX}, NumberCase{"2147483648", INT32_MAX},
        NumberCase{"4294967296", INT32_MAX}, NumberCase{"4294967297", INT32_MAX},
        NumberCase{"0x80000000", INT32_MAX}, NumberCase{"0x100000005", INT32_MAX},
        NumberCase{"99999999999999999999999", INT32_MAX}, NumberCase{"-2147483648", INT32_MIN},
        NumberCase{"-2147483649", INT32_MIN}, NumberCase{"-99999999999999999999", INT32_MIN}));

TEST(ParseNumberNull, NoTextIsMinusOne) { EXPECT_EQ(parseNumber(nullptr), -1); }

// Fills an open "Enter Parameters" dialog of the console seam as the operator would.
class ParameterDialogTest : public HostTest {
 protected:
  void open(ParameterTemplate t) {
    consoleOpenDialog(Dialog::Parameters);
    const ParameterTemplateInfo& info = parameterTemplateInfo(t);
    for (int k = 0; k < info.fieldCount; ++k) {
      consoleAddControl(Dialog::Parameters, info.fields[k].labelId, info.fields[k].label);
      consoleAddControl(Dialog::Parameters, info.fields[k].editId, info.fields[k].initialText);
    }
  }
  void type(int editId, const char* text) { setControlText(Dialog::Parameters, editId, text); }
  void TearDown() override {
    consoleCloseDialog(Dialog::Parameters);
    HostTest::TearDown();
  }
};

TEST_F(ParameterDialogTest, DefaultAddressIsStoredAndAbsentFieldsReadAsMinusOne) {
  open(ParameterTemplate::Address);
  ASSERT_TRUE(parameterDialogOk(ParameterTemplate::Address));
  const ParameterBlock& b = parameterBlock();
  EXPECT_EQ(b.address, 0);
  // The other eight edits are not in this template: -1, or 255 in the 8-bit fields.
  EXPECT_EQ(b.count, -1);
  EXPECT_EQ(b.electrode, 255);
  EXPECT_EQ(b.current, 255);
  EXPECT_EQ(b.step, 255);
  for (uint8_t c : b.currents) EXPECT_EQ(c, 255);
}

TEST_F(ParameterDialogTest, NumbersAreReadInEveryBase) {
  open(ParameterTemplate::AddressCount);
  type(IDC_ADDRESS_EDIT, "0x7ff");
  type(IDC_COUNT_EDIT, "017");
  ASSERT_TRUE(parameterDialogOk(ParameterTemplate::AddressCount));
  EXPECT_EQ(parameterBlock().address, 2047);
  EXPECT_EQ(parameterBlock().count, 15);
}

TEST_F(ParameterDialogTest, AtMost39CharactersOfAnEditAreRead) {
  open(ParameterTemplate::Address);
  // 39 spaces then a digit: the digit lies beyond what is read, so no number is found.
  type(IDC_ADDRESS_EDIT, (std::string(39, ' ') + "5").c_str());
  EXPECT_FALSE(parameterDialogOk(ParameterTemplate::Address));
  type(IDC_ADDRESS_EDIT, (std::string(38, ' ') + "5").c_str());
  EXPECT_TRUE(parameterDialogOk(ParameterTemplate::Address));
  EXPECT_EQ(parameterBlock().address, 5);
}

TEST_F(ParameterDialogTest, EveryFieldOfEveryTemplateAcceptsItsWholeRange) {
  open(ParameterTemplate::CountAndStep);
  type(IDC_COUNT_EDIT, "65535");
  type(IDC_STEP_EDIT, "255");
  ASSERT_TRUE(parameterDialogOk(ParameterTemplate::CountAndStep));
  EXPECT_EQ(parameterBlock().count, 65535);
  EXPECT_EQ(parameterBlock().step, 255);

  consoleCloseDialog(Dialog::Parameters);
  open(ParameterTemplate::Currents);
  type(IDC_CURRENT1_EDIT, "0");
  type(IDC_CURRENT2_EDIT, "128");
  type(IDC_CURRENT3_EDIT, "0xff");
  type(IDC_CURRENT4_EDIT, "1");
  ASSERT_TRUE(parameterDialogOk(ParameterTemplate::Currents));
  EXPECT_EQ(parameterBlock().currents[0], 0);
  EXPECT_EQ(parameterBlock().currents[1], 128);
  EXPECT_EQ(parameterBlock().currents[2], 255);
  EXPECT_EQ(parameterBlock().currents[3], 1);

  consoleCloseDialog(Dialog::Parameters);
  open(ParameterTemplate::Current);
  type(IDC_ELECTRODE_EDIT, "9");   // no such electrode, but the command can carry it
  type(IDC_CURRENT_EDIT, "200");
  ASSERT_TRUE(parameterDialogOk(ParameterTemplate::Current));
  EXPECT_EQ(parameterBlock().electrode, 9);
  EXPECT_EQ(parameterBlock().current, 200);
}

// A field its command cannot carry is refused by name and range; nothing is stored.
struct RefusalCase {
  ParameterTemplate t;
  std::vector<std::pair<int, const char*>> entries;
  const char* warning;
};

class ParameterRefusalTest : public ParameterDialogTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ParameterRefusalTest, RefusesWithAWarningAndKeepsTheBlock) {
  const RefusalCase& c = GetParam();
  parameterBlock().address = 1234;
  parameterBlock().count = 77;
  parameterBlock().electrode = 3;
  parameterBlock().current = 99;
  parameterBlock().step = 5;
  open(c.t);
  for (const auto& e : c.entries) type(e.first, e.second);
  EXPECT_FALSE(parameterDialogOk(c.t));
  EXPECT_NE(printed().find("Warning"), std::string::npos);
  EXPECT_NE(printed().find(c.warning), std::string::npos) << printed();
  EXPECT_EQ(parameterBlock().address, 1234);
  EXPECT_EQ(parameterBlock().count, 77);
  EXPECT_EQ(parameterBlock().electrode, 3);
  EXPECT_EQ(parameterBlock().current, 99);
  EXPECT_EQ(parameterBlock().step, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ParameterRefusalTest,
    ::testing::Values(
        RefusalCase{ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, ""}}, "Address must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, "abc"}}, "Address must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, "-1"}}, "Address must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, "65536"}}, "Address must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::Address, {{IDC_ADDRESS_EDIT, "4294967296"}}, "Address must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::AddressCount, {{IDC_ADDRESS_EDIT, "16"}, {IDC_COUNT_EDIT, "300"}}, "Count must be a number from 0 to 255"},
        RefusalCase{ParameterTemplate::AddressCount, {{IDC_ADDRESS_EDIT, "0x10000"}, {IDC_COUNT_EDIT, "16"}}, "Address must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::CountAndStep, {{IDC_COUNT_EDIT, "70000"}}, "Count must be a number from 0 to 65535"},
        RefusalCase{ParameterTemplate::CountAndStep, {{IDC_STEP_EDIT, "256"}}, "Step must be a number from 0 to 255"},
        RefusalCase{ParameterTemplate::Current, {{IDC_ELECTRODE_EDIT, "2"}}, "Current must be a number from 0 to 255"},
        RefusalCase{ParameterTemplate::Current, {{IDC_ELECTRODE_EDIT, "2"}, {IDC_CURRENT_EDIT, "300"}}, "Current must be a number from 0 to 255"},
        RefusalCase{ParameterTemplate::Current, {{IDC_ELECTRODE_EDIT, "256"}, {IDC_CURRENT_EDIT, "1"}}, "Electrode must be a number from 0 to 255"},
        RefusalCase{ParameterTemplate::Currents, {{IDC_CURRENT1_EDIT, "1"}, {IDC_CURRENT2_EDIT, "2"}, {IDC_CURRENT3_EDIT, "x"}, {IDC_CURRENT4_EDIT, "4"}},
                    "Current 3 must be a number from 0 to 255"},
        RefusalCase{ParameterTemplate::Currents, {{IDC_CURRENT1_EDIT, "1"}, {IDC_CURRENT2_EDIT, "2"}, {IDC_CURRENT3_EDIT, "3"}},
                    "Current 4 must be a number from 0 to 255"}));

}  // namespace
