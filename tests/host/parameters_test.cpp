// Parameter dialogs: the "%i" number reader, the OK handling that fills the parameter block,
// and the refusal of fields that their command cannot carry.
#include "host_fixture.h"
#include "ui/parameters.h"
#include <cstdio>
#include <vector>

namespace {

TEST(ParseNumber, ReadsLikePercentI) {
  const struct { const char* text; int32_t value; } cases[] = {
      // The forms the checked-in fuzz seeds leave out (they check the plainer ones against the C library).
      {"0x7ff", 2047}, {"0XAF", 175}, {"0x1g", 1}, {"0778", 63}, {"0x", -1}, {"-0x10", -16}, {" -017", -15},
      {nullptr, -1}, {"   ", -1}, {"- 5", -1}, {"--5", -1},  // no number at all
      // Beyond 32 bits: held at the limit, never wrapped back into range.
      {"4294967297", INT32_MAX}, {"0x80000000", INT32_MAX}, {"0x100000005", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(parseNumber(c.text), c.value) << (c.text ? c.text : "(null)");
}

// Fills a fresh "Enter Parameters" dialog of the console seam as the operator would; true when
// OK was accepted.
bool enter(ParameterTemplate t, const std::vector<std::pair<int, std::string>>& typed, ParameterValues& values) {
  consoleCloseDialog(Dialog::Parameters);
  consoleOpenDialog(Dialog::Parameters);
  const ParameterTemplateInfo& info = parameterTemplateInfo(t);
  for (int k = 0; k < info.fieldCount; ++k) {
    consoleAddControl(Dialog::Parameters, info.fields[k].labelId, info.fields[k].label);
    consoleAddControl(Dialog::Parameters, info.fields[k].editId, info.fields[k].initialText);
  }
  for (const auto& [id, value] : typed) setControlText(Dialog::Parameters, id, value.c_str());
  return parameterDialogOk(t, values);
}

using ParameterDialogTest = HostTest;

// Each field's whole range is returned; fields absent from the template read -1, or 255 in the
// 8-bit fields. A field its command cannot carry is refused by name and range; nothing is returned.
TEST_F(ParameterDialogTest, StoresWhatTheCommandCanCarryAndRefusesTheRest) {
  using T = ParameterTemplate;
  const std::string spaces(38, ' ');
  const char* const ADDRESS = "Address must be a number from 0 to 65535";
  const struct { T t; std::vector<std::pair<int, std::string>> typed; const char* warning; std::string block = ""; }
      cases[] = {
      {T::AddressCount, {{IDC_ADDRESS_EDIT, "65535"}, {IDC_COUNT_EDIT, "255"}}, nullptr,
       "255 255 255 255 255 255 65535 255 255"},
      {T::CountAndStep, {{IDC_COUNT_EDIT, "65535"}, {IDC_STEP_EDIT, "255"}}, nullptr,
       "255 255 255 255 255 255 -1 65535 255"},
      {T::Currents,
       {{IDC_CURRENT1_EDIT, "0"}, {IDC_CURRENT2_EDIT, "128"}, {IDC_CURRENT3_EDIT, "0xff"}, {IDC_CURRENT4_EDIT, "1"}},
       nullptr, "255 255 0 128 255 1 -1 -1 255"},
      {T::Current, {{IDC_ELECTRODE_EDIT, "4"}, {IDC_CURRENT_EDIT, "200"}}, nullptr,
       "4 200 255 255 255 255 -1 -1 255"},
      {T::Address, {{IDC_ADDRESS_EDIT, spaces + "5"}}, nullptr,
       "255 255 255 255 255 255 5 -1 255"},  // 39 characters are read
      {T::Address, {{IDC_ADDRESS_EDIT, spaces + " 5"}}, ADDRESS},  // the 40th is not
      {T::Address, {{IDC_ADDRESS_EDIT, "-1"}}, ADDRESS}, {T::Address, {{IDC_ADDRESS_EDIT, "65536"}}, ADDRESS},
      {T::AddressCount, {{IDC_ADDRESS_EDIT, "0x10000"}}, ADDRESS},
      {T::AddressCount, {{IDC_COUNT_EDIT, "256"}}, "Count must be a number from 0 to 255"},
      {T::CountAndStep, {{IDC_COUNT_EDIT, "65536"}}, "Count must be a number from 0 to 65535"},
      {T::CountAndStep, {{IDC_STEP_EDIT, "256"}}, "Step must be a number from 0 to 255"},
      {T::Current, {{IDC_ELECTRODE_EDIT, "2"}, {IDC_CURRENT_EDIT, "256"}}, "Current must be a number from 0 to 255"},
      {T::Current, {{IDC_ELECTRODE_EDIT, "0"}, {IDC_CURRENT_EDIT, "1"}}, "Electrode must be a number from 1 to 4"},
      {T::Address, {{IDC_ADDRESS_EDIT, " -010"}}, "Address must be written in decimal or with 0x, not \" -010\""},
      {T::Currents,
       {{IDC_CURRENT1_EDIT, "1"}, {IDC_CURRENT2_EDIT, "2"}, {IDC_CURRENT3_EDIT, "x"}, {IDC_CURRENT4_EDIT, "4"}},
       "Current 3 must be a number from 0 to 255"}};
  for (const auto& c : cases) {
    ParameterValues b{3, 99, {1, 2, 3, 4}, 1234, 77, 5};
    output_.str("");
    EXPECT_EQ(enter(c.t, c.typed, b), c.warning == nullptr) << c.block;
    char block[64];
    std::snprintf(block, sizeof block, "%d %d %d %d %d %d %d %d %d", b.electrode, b.current, b.currents[0], b.currents[1],
                  b.currents[2], b.currents[3], b.address, b.count, b.step);
    EXPECT_EQ(block, c.warning ? "3 99 1 2 3 4 1234 77 5" : c.block) << (c.warning ? c.warning : "");
    if (c.warning) { EXPECT_NE(printed().find(std::string("Warning: ") + c.warning), std::string::npos) << printed(); }
  }
}

}  // namespace
