// Tests of the console window seam: which control changes print which lines, how message
// boxes, file choosers, parameter prompts and the Script Manager prompt read their answers.
#include "frontends/console/console_window.h"
#include "resource.h"
#include "ui/parameters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

namespace {

using Action = std::function<std::string()>;   // what a step did, besides its output
const std::string KEEP = "(keep)";
std::istringstream in;
std::ostringstream out;

// A step that returns nothing of its own.
Action quiet(std::function<void()> f) {
  return [f] {
    f();
    return std::string();
  };
}
Action text(int id, const char* t, Dialog d = Dialog::Main) { return quiet([=] { setControlText(d, id, t); }); }
Action enable(int id, bool on) { return quiet([=] { enableControl(Dialog::Main, id, on); }); }
Action check(bool on) { return quiet([=] { setCheckMark(Dialog::Main, IDC_LOCAL_CONTROL, on); }); }
Action width(int w) { return quiet([=] { setMainWindowWidth(w); }); }

// A message box with the rest of the input line it leaves: "<answer> <rest>".
const std::string OK = "Warning: Write\nFailed\n(press Enter) \n= ", YN = "Warning: Write\nFailed\n[y/n] \n= ";
Action box(unsigned style, bool echo = false) {
  return [=] {
    std::string rest;
    consoleSetEchoAnswers(echo);
    const int answer = showMessageBox(Dialog::Main, "Write\r\nFailed", "Warning", style);
    consoleReadLine(rest);
    return std::to_string(answer) + " " + rest;
  };
}
// A file chooser with a buffer of the given size: the chosen path, or "none".
Action choose(bool save, size_t size = 260) {
  return [=] {
    char path[260] = "abc";
    const bool chosen = save ? chooseSaveFileName(path, size) : chooseOpenFileName(path, size);
    return chosen ? std::string(path) : std::string("none ") + path;
  };
}
// A parameter prompt from a block with address 1234: "cancelled" with the address kept, or
// the fields; those a template does not have read as empty text: -1, or 255 in 8-bit ones.
Action parameters(ParameterTemplate t) {
  return [=] {
    ParameterValues b{};
    b.address = 1234;
    std::string block = runParameterDialog(t, b) == PARAMETER_DIALOG_OK ? "" : "cancelled ";
    for (const int v : std::initializer_list<int>{b.electrode, b.current, b.currents[0], b.currents[1], b.currents[2],
                                                  b.currents[3], b.address, b.count, b.step})
      block += std::to_string(v) + " ";
    return dialogExists(Dialog::Parameters) ? "still open" : block;
  };
}
// A line source like the terminal loop's: the device talks while the operator is typing.
bool answerAfterDeviceOutput(std::string& line) {
  setControlText(Dialog::Main, IDC_STATUS_BAR, "Kinestim is Idle");
  consoleRestorePrompt();
  consoleRestorePrompt();   // once is enough
  line = "";
  return true;
}
// The Script Manager prompt; the dialog exists only while it runs.
std::string scriptManager() {
  runScriptManagerDialog();
  return dialogExists(Dialog::ScriptManager) ? "still open" : "";
}

const std::string DIR = (std::filesystem::temp_directory_path() / "console_window_test").string();
const std::string OLD = DIR + "/old.log", FRESH = DIR + "/new.log", MISSING = DIR + "/missing.txt";
const std::string PARAMETERS = "Enter Parameters (Enter keeps the value in brackets, . cancels)\n";
// What the Script Manager prompt prints for the lines between its first and last prompts.
std::string sm(const std::string& middle) {
  return "Script Manager open (type help for its commands).\nscript> \n" + middle + "script> \nScript Manager closed.\n= ";
}
const std::string ZERO = ": 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\n";

// Each step: the input it reads (KEEP: the window stays as the step before left it), what it
// does, and what it prints followed by "= " and what it returned.
using WindowStep = std::tuple<std::string, Action, std::string>;

TEST(ConsoleWindow, EveryStepPrintsExactlyItsLinesAndReadsItsAnswers) {
  const Dialog SMD = Dialog::ScriptManager;
  std::filesystem::create_directories(DIR);
  std::ofstream(OLD) << "old";
  std::ofstream(DIR + "/sm.ks") << "SetAllElectrodes 128 128 128 140\nDelay 1\nSetElectrode 4 116\nDelay 1\nStop\n";
  using T = ParameterTemplate;
  const WindowStep steps[] = {
      // Control changes print prefixed lines, only when something really changed.
      {"", text(IDC_STATUS_BAR, "Entered mode Idle"), "status: Entered mode Idle\n= "},
      {KEEP, text(IDC_STATUS_BAR, "Entered mode Idle"), "= "}, {KEEP, text(IDC_STATUS_BAR, ""), "= "},
      {KEEP, text(IDC_RUN_STOP, "St&op"), "run button: Stop\n= "},
      {KEEP, enable(IDC_RUN_STOP, false), "run button: disabled\n= "}, {KEEP, enable(IDC_RUN_STOP, false), "= "},
      {KEEP, check(true), "local control: checked\n= "}, {KEEP, check(true), "= "},
      {KEEP, check(false), "local control: cleared\n= "}, {KEEP, text(IDC_COMMAND_BOX, "9"), "= "},
      {KEEP, enable(IDC_CALIBRATE, false), "= "},
      // Traffic: the top line of a pane, and nothing while the window is collapsed.
      {KEEP, text(IDC_SENT_PANE, "02 cdgSelectModeDirect\r\n"), "sent: 02 cdgSelectModeDirect\n= "},
      {KEEP, text(IDC_RECEIVED_PANE, "20 mdgEnteredModeDirect\r\n\r\n"), "received: 20 mdgEnteredModeDirect\n= "},
      {KEEP, text(IDC_SENT_PANE, "\r\n02 cdgSelectModeDirect\r\n"), "= "}, {KEEP, width(collapsedWindowWidth()), "= "},
      {KEEP, text(IDC_SENT_PANE, "0b cdgDldAllElectrodes\r\n"), "= "},
      {KEEP, [] { return consoleControlText(Dialog::Main, IDC_SENT_PANE); }, "= 0b cdgDldAllElectrodes\r\n"},
      {KEEP, width(expandedWindowWidth()), "= "},
      {KEEP, text(IDC_RECEIVED_PANE, "1c mdgAllElectrodesDld <80> <90>\r\n"), "received: 1c mdgAllElectrodesDld <80> <90>\n= "},
      // Script memory lines, new ones only, and only while the Script Manager is open.
      {KEEP, text(IDC_SM_MEMORY, "lost\r\n", SMD), "= "}, {KEEP, quiet([] { consoleOpenDialog(SMD); }), "= "},
      {KEEP, text(IDC_SM_MEMORY, "0000 Delay 1\r\n0002 Stop\r\n", SMD), "memory: 0000 Delay 1\nmemory: 0002 Stop\n= "},
      {KEEP, text(IDC_SM_MEMORY, "0100 Stop\r\n", SMD), "memory: 0100 Stop\n= "},
      // Reads of control text are cut to the buffer and always terminated; sliders stay in range.
      {KEEP, [] {
         std::string read;
         for (const int size : {8, 5, 1}) {
           char buffer[9] = "xxxxxxxx";
           read += std::to_string(getControlText(Dialog::Main, IDC_RUN_STOP, buffer, size)) + buffer + " ";
         }
         setSliderRange(IDC_SLIDER_1, 0, 255);
         for (const int position : {300, -5}) {
           setSliderPosition(IDC_SLIDER_1, position);
           read += std::to_string(getSliderPosition(IDC_SLIDER_1)) + " ";
         }
         return read;
       }, "= 5St&op 4St&o 0 255 0 "},
      // Message boxes wait for a line: OK takes any, Yes/No only a whole y or yes.
      {"typed\nnext\n", box(MB_STYLE_OK_EXCLAMATION), OK + "1 next"}, {"", box(MB_STYLE_OK_EXCLAMATION), OK + "1 "},
      {" YES \nnext\n", box(MB_STYLE_YESNO_EXCLAMATION), YN + "6 next"}, {"", box(MB_STYLE_YESNO_EXCLAMATION), YN + "7 "},
      {"yes please\n", box(MB_STYLE_YESNO_EXCLAMATION, true), "Warning: Write\nFailed\n[y/n] yes please\n= 7 "},
      // A prompt pushed up by other output while the operator types is shown again, once.
      {"", [] {
         consoleWindowReset(&in, &out, true);
         consoleSetLineReader(answerAfterDeviceOutput);
         char path[64];
         const bool chosen = chooseSaveFileName(path, sizeof path);
         setControlText(Dialog::Main, IDC_STATUS_BAR, "Kinestim Initialized");
         consoleRestorePrompt();
         return std::to_string(chosen);
       }, "Save as: \nstatus: Kinestim is Idle\nSave as: \nstatus: Kinestim Initialized\n= 0"},
      // File choosers ask before replacing, ask again for a missing file or a folder, and
      // never create or change the file themselves.
      {"\n", choose(true), "Save as: \n= none abc"},
      {"  " + FRESH + "  \n", choose(true), "Save as: \n= " + FRESH},
      {OLD + "\nn\n", choose(true), "Save as: \nReplace " + OLD + "? [y/n] \n= none abc"},
      {DIR + "\n" + FRESH + "\n", choose(true), "Save as: \n" + DIR + " is a folder; give a file name.\nSave as: \n= " + FRESH},
      {MISSING + "\n" + OLD + "\n", choose(false), "Open: \nFile not found: " + MISSING + "\nOpen: \n= " + OLD},
      {OLD + "\n\n", choose(false, 8), "Open: \nThe path is too long (at most 7 characters).\nOpen: \n= none abc"},
      {"", [] { return std::to_string(std::filesystem::exists(FRESH)) + std::to_string(std::filesystem::file_size(OLD)); },
       "= 03"},
      // Parameter prompts: an empty answer keeps a field, "." cancels, and every
      // opening starts from the template's texts.
      {"0x7ff\n", parameters(T::Address), PARAMETERS + "Address (16-bit) [0]: \n= 255 255 255 255 255 255 2047 -1 255 "},
      {"\n\n", parameters(T::AddressCount), PARAMETERS + "Address (16-bit) [0]: \nCount [16]: \n= 255 255 255 255 255 255 0 16 255 "},
      {"\n3\n", parameters(T::CountAndStep), PARAMETERS + "Count (16-bit) [10]: \nStep [1]: \n= 255 255 255 255 255 255 -1 10 3 "},
      {"5\n.\n", parameters(T::CountAndStep), PARAMETERS + "Count (16-bit) [10]: \nStep [1]: \n= cancelled 0 0 0 0 0 0 1234 0 0 "},
      // The Script Manager prompt: words press its buttons and fill its fields, mistakes are explained.
      {"\n   \nclose\nupload\n", scriptManager, sm("script> \n")},
      {"uplaod\n", scriptManager, sm("Unknown Script Manager command 'uplaod' (type help).\n")},
      {":quit\n", scriptManager, sm("The Script Manager is open; type close to go back to the main window.\n")},
      {"view 10\n", scriptManager, sm("'view' takes no argument; set the field with 'address' or 'timestep'.\n")},
      {"address 2048\nupload\nclose\n", scriptManager,
       sm("address: 2048\nscript> \ncompiler output: Invalid address, must be between 0 and 2047\n")},
      {"upload\n\nclose\n", scriptManager, sm("Open: \ncompiler output: Failed to read source file\n")},
      {"address 2040\npreview\n" + DIR + "/sm.ks\nclose\n", scriptManager,
       sm("address: 2040\nscript> \nOpen: \ncompiler output: The script does not fit in script memory from this "
       "address\n")},
      {"preview\n" + DIR + "/sm.ks\nclose\n", scriptManager,
       sm("Open: \nduration: 0.100 s (4 steps), ends at Stop at 14\nelectrode 1" + ZERO + "electrode 2" + ZERO +
       "electrode 3" + ZERO + "electrode 4: -0.24 to +0.24, non-zero for 0.100 s, net charge 0.000\n")}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    const auto& [input, action, output] = steps[i];
    if (input != KEEP) {
      in.clear();
      in.str(input);
      consoleWindowReset(&in, &out, false);
    }
    out.str("");
    const std::string result = action();
    EXPECT_EQ(out.str() + "= " + result, output) << "step " << i << ": " << input;
  }
  std::filesystem::remove_all(DIR);
}

}  // namespace
