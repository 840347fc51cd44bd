// Tests of the console Script Manager prompt: words press its buttons and fill its fields,
// mistakes are explained, and the dialog exists only while the prompt runs.
#include "platform/console/console_window.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct ScriptManagerCase {
  const char* name;
  std::string input;
  std::string output;   // between the opening and closing lines
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ScriptManagerCase& c, std::ostream* os) { *os << c.name; }

class ConsoleScriptManager : public ::testing::TestWithParam<ScriptManagerCase> {};

TEST_P(ConsoleScriptManager, AnswersEachLine) {
  const ScriptManagerCase& c = GetParam();
  std::istringstream in(c.input);
  std::ostringstream out;
  consoleWindowReset(&in, &out, false);
  runScriptManagerDialog();
  EXPECT_EQ(out.str(), "Script Manager open (type help for its commands).\n" + c.output +
                           "Script Manager closed.\n");
  EXPECT_FALSE(dialogExists(Dialog::ScriptManager));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConsoleScriptManager,
    ::testing::Values(
        ScriptManagerCase{"EndOfInputCloses", "", "script> \n"},
        ScriptManagerCase{"CloseWord", "close\nupload\n", "script> \n"},
        ScriptManagerCase{"BlankLinesAreIgnored", "\n   \nclose\n", "script> \nscript> \nscript> \n"},
        ScriptManagerCase{"Fields", "address 0x10\ntimestep  50 \naddress\nclose\n",
                          "script> \naddress: 0x10\nscript> \ntimestep: 50\nscript> \naddress: 0x10\nscript> \n"},
        ScriptManagerCase{"UnknownWord", "uplaod\nclose\n",
                          "script> \nUnknown Script Manager command 'uplaod' (type help).\nscript> \n"},
        ScriptManagerCase{"MainWindowCommand", ":quit\nclose\n",
                          "script> \nThe Script Manager is open; type close to go back to the main "
                          "window.\nscript> \n"},
        ScriptManagerCase{"ButtonWithArgument", "view 10\nclose\n",
                          "script> \n'view' takes no argument; set the field with 'address' or "
                          "'timestep'.\nscript> \n"},
        ScriptManagerCase{"InvalidAddressNeedsNoFile", "address 2048\nupload\nclose\n",
                          "script> \naddress: 2048\nscript> \n"
                          "compiler output: Invalid address, must be between 0 and 2047\nscript> \n"},
        ScriptManagerCase{"CancelledOpen", "upload\n\nclose\n",
                          "script> \nOpen: \ncompiler output: Failed to read source file\nscript> \n"},
        ScriptManagerCase{"ClearMemAnsweredNo", "clear-mem\nn\nclose\n",
                          "script> \nAre you sure?: Really erase all script memory on the Kinestim?\n"
                          "[y/n] \nscript> \n"}),
    [](const ::testing::TestParamInfo<ScriptManagerCase>& info) { return std::string(info.param.name); });

TEST(ConsoleScriptManagerHelp, ListsTheWordsWithTheFieldValues) {
  std::istringstream in("address 7\nhelp\nclose\n");
  std::ostringstream out;
  consoleWindowReset(&in, &out, false);
  runScriptManagerDialog();
  for (const char* word : {"  upload ", "  samples ", "  view ", "  append ", "  clear-mem ", "  close ",
                           "(now: 7)", "(now: 25)"})
    EXPECT_NE(out.str().find(word), std::string::npos) << word;
}

}  // namespace
