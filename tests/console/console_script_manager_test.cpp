// Tests of the console Script Manager prompt: words press its buttons and fill its fields,
// mistakes are explained, and the dialog exists only while the prompt runs.
#include "frontends/console/console_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// Each line of input and the exact output between the opening and closing lines.
TEST(ConsoleScriptManager, AnswersEachLine) {
  std::ofstream("sm-preview.ks") << "SetAllElectrodes 128 128 128 140\nDelay 1\nSetElectrode 4 116\nDelay 1\nStop\n";
  const struct { const char* input; std::string output; } cases[] = {
    {"", "script> \n"},
    {"close\nupload\n", "script> \n"},
    {"\n   \nclose\n", "script> \nscript> \nscript> \n"},
    {"address 0x10\ntimestep  50 \naddress\nclose\n",
     "script> \naddress: 0x10\nscript> \ntimestep: 50\nscript> \naddress: 0x10\nscript> \n"},
    {"uplaod\nclose\n", "script> \nUnknown Script Manager command 'uplaod' (type help).\nscript> \n"},
    {":quit\nclose\n", "script> \nThe Script Manager is open; type close to go back to the main window.\nscript> \n"},
    {"view 10\nclose\n", "script> \n'view' takes no argument; set the field with 'address' or 'timestep'.\nscript> \n"},
    {"address 2048\nupload\nclose\n",
     "script> \naddress: 2048\nscript> \ncompiler output: Invalid address, must be between 0 and 2047\nscript> \n"},
    {"upload\n\nclose\n", "script> \nOpen: \ncompiler output: Failed to read source file\nscript> \n"},
    {"address 2040\npreview\nsm-preview.ks\nclose\n",
     "script> \naddress: 2040\nscript> \nOpen: \ncompiler output: The script does not fit in script memory from this "
     "address\nscript> \n"},
    {"preview\nsm-preview.ks\nclose\n",
     "script> \nOpen: \nduration: 0.100 s (4 steps), ends at Stop at 14\n"
     "electrode 1: 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\n"
     "electrode 2: 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\n"
     "electrode 3: 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\n"
     "electrode 4: -0.24 to +0.24, non-zero for 0.100 s, net charge 0.000\nscript> \n"}};
  std::istringstream in;
  std::ostringstream out;
  for (const auto& c : cases) {
    in.clear();
    in.str(c.input);
    out.str("");
    consoleWindowReset(&in, &out, false);
    runScriptManagerDialog();
    EXPECT_EQ(out.str(), "Script Manager open (type help for its commands).\n" + c.output + "Script Manager closed.\n")
        << c.input;
    EXPECT_FALSE(dialogExists(Dialog::ScriptManager));
  }
  std::remove("sm-preview.ks");
  in.clear();
  in.str("address 7\nhelp\nclose\n");
  out.str("");
  consoleWindowReset(&in, &out, false);
  runScriptManagerDialog();
  for (const char* word :
       {"  upload ", "  samples ", "  preview ", "  view ", "  append ", "  clear-mem ", "  close ", "(now: 7)",
        "(now: 25)"}) {
    EXPECT_NE(out.str().find(word), std::string::npos) << word;
  }
}

}  // namespace
