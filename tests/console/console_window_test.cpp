// Tests of the console window seam: which control changes print which lines, how message
// boxes, file choosers, parameter prompts and the Script Manager prompt read their answers.
#include "frontends/console/console_window.h"
#include "resources/resource.h"
#include "ui/parameters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

namespace {

class ConsoleWindow : public ::testing::Test {
 protected:
  void SetUp() override { reset(""); }
  void reset(const std::string& input, bool interactive = false) {
    in.str(input);
    in.clear();
    out.str("");
    consoleWindowReset(&in, &out, interactive);
  }
  std::string take() {
    const std::string s = out.str();
    out.str("");
    return s;
  }
  std::istringstream in;
  std::ostringstream out;
};

std::function<void()> text(int id, const char* t, Dialog d = Dialog::Main) {
  return [=] { setControlText(d, id, t); };
}
std::function<void()> enable(int id, bool on) { return [=] { enableControl(Dialog::Main, id, on); }; }
std::function<void()> check(bool on) { return [=] { setCheckMark(Dialog::Main, IDC_LOCAL_CONTROL, on); }; }

TEST_F(ConsoleWindow, PrintsOnlyRealChangesAsPrefixedLines) {
  const Dialog SM = Dialog::ScriptManager;
  const struct { const char* what; std::function<void()> action; const char* output; } steps[] = {
      {"status set", text(IDC_STATUS_BAR, "Entered mode Idle"), "status: Entered mode Idle\n"},
      {"status same", text(IDC_STATUS_BAR, "Entered mode Idle"), ""},
      {"status cleared", text(IDC_STATUS_BAR, ""), ""},
      {"status set after clear", text(IDC_STATUS_BAR, "Entered mode Idle"), "status: Entered mode Idle\n"},
      {"mode label", text(IDC_MODE_LABEL, "Mode"), ""},
      {"mode", text(IDC_MODE_FIELD, "Idle"), "mode: Idle\n"},
      {"same mode", text(IDC_MODE_FIELD, "Idle"), ""},
      {"run caption", text(IDC_RUN_STOP, "St&op"), "run button: Stop\n"},
      {"run disabled", enable(IDC_RUN_STOP, false), "run button: disabled\n"},
      {"run disabled again", enable(IDC_RUN_STOP, false), ""},
      {"local mark", check(true), "local control: checked\n"},
      {"local mark again", check(true), ""},
      {"local cleared", check(false), "local control: cleared\n"},
      {"slider disabled", enable(IDC_SLIDER_2, false), "electrode 2: disabled\n"},
      {"slider enabled", enable(IDC_SLIDER_2, true), "electrode 2: enabled\n"},
      {"command box is quiet", text(IDC_COMMAND_BOX, "9"), ""},
      {"tilt buttons are quiet", enable(IDC_CALIBRATE, false), ""},
      {"sent line on top", text(IDC_SENT_PANE, "02 cdgSelectModeDirect\r\n"), "sent: 02 cdgSelectModeDirect\n"},
      {"received line on top", text(IDC_RECEIVED_PANE, "20 mdgEnteredModeDirect\r\n\r\n"),
       "received: 20 mdgEnteredModeDirect\n"},
      {"empty line on top", text(IDC_SENT_PANE, "\r\n02 cdgSelectModeDirect\r\n"), ""},
      {"collapse", [] { setMainWindowWidth(collapsedWindowWidth()); }, ""},
      {"no traffic while collapsed", text(IDC_SENT_PANE, "0b cdgDldAllElectrodes\r\n"), ""},
      {"expand", [] { setMainWindowWidth(expandedWindowWidth()); }, ""},
      {"traffic again", text(IDC_RECEIVED_PANE, "1c mdgAllElectrodesDld <80> <90>\r\n"),
       "received: 1c mdgAllElectrodesDld <80> <90>\n"},
      {"closed dialog ignores writes", text(IDC_SM_MEMORY, "lost\r\n", SM), ""},
      {"open", [] { consoleOpenDialog(Dialog::ScriptManager); }, ""},
      {"memory lines", text(IDC_SM_MEMORY, "0000 Delay 1\r\n0002 Stop\r\n", SM),
       "memory: 0000 Delay 1\nmemory: 0002 Stop\n"},
      {"memory appended", text(IDC_SM_MEMORY, "0000 Delay 1\r\n0002 Stop\r\n0003 Stop\r\n", SM), "memory: 0003 Stop\n"},
      {"memory replaced", text(IDC_SM_MEMORY, "0100 Stop\r\n", SM), "memory: 0100 Stop\n"},
      {"address field is quiet", text(IDC_SM_ADDRESS, "0x10", SM), ""}};
  for (const auto& s : steps) {
    s.action();
    EXPECT_EQ(take(), s.output) << s.what;
  }
  EXPECT_EQ(consoleControlText(Dialog::Main, IDC_SENT_PANE), "0b cdgDldAllElectrodes\r\n");
  // Reads of control text are cut to the buffer and always terminated.
  const struct { Dialog d; int id; int size; int copied; const char* text; } reads[] = {
      {Dialog::Main, IDC_COMMAND_BOX, 8, 1, "9"}, {Dialog::Main, IDC_STATUS_BAR, 5, 4, "Ente"},
      {Dialog::Main, IDC_COMMAND_BOX, 1, 0, ""}, {Dialog::Parameters, IDC_ADDRESS_EDIT, 8, 0, ""},
      {Dialog::Main, 9999, 8, 0, ""}};
  for (const auto& r : reads) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getControlText(r.d, r.id, buffer, r.size), r.copied);
    EXPECT_STREQ(buffer, r.text);
  }
  setSliderRange(IDC_SLIDER_1, 0, 255);
  for (const auto& c : {std::pair{127, 127}, {300, 255}, {-5, 0}, {255, 255}, {0, 0}}) {
    setSliderPosition(IDC_SLIDER_1, c.first);
    EXPECT_EQ(getSliderPosition(IDC_SLIDER_1), c.second) << c.first;
  }
}

TEST_F(ConsoleWindow, MessageBoxesWaitForALineAndReadTheirAnswers) {
  const struct { unsigned style; const char* input; int answer; const char* left; } cases[] = {
      {MB_STYLE_OK_EXCLAMATION, "\nnext\n", MB_ANSWER_OK, "next"},
      {MB_STYLE_OK_EXCLAMATION, "typed\nnext\n", MB_ANSWER_OK, "next"},
      {MB_STYLE_OK_EXCLAMATION, "", MB_ANSWER_OK, ""},
      {MB_STYLE_YESNO_EXCLAMATION, "y\nnext\n", MB_ANSWER_YES, "next"},
      {MB_STYLE_YESNO_EXCLAMATION, " YES \n", MB_ANSWER_YES, ""},
      {MB_STYLE_YESNO_EXCLAMATION, "n\n", MB_ANSWER_NO, ""},
      {MB_STYLE_YESNO_EXCLAMATION, "yes please\n", MB_ANSWER_NO, ""},
      {MB_STYLE_YESNO_EXCLAMATION, "", MB_ANSWER_NO, ""}};
  for (const auto& c : cases) {
    reset(c.input);
    EXPECT_EQ(showMessageBox(Dialog::Main, "Write\r\nFailed", "Warning", c.style), c.answer) << c.input;
    const char* shown = c.style == MB_STYLE_OK_EXCLAMATION ? "Warning: Write\nFailed\n(press Enter) \n"
                                                           : "Warning: Write\nFailed\n[y/n] \n";
    EXPECT_EQ(take(), shown) << c.input;
    std::string rest;
    consoleReadLine(rest);
    EXPECT_EQ(rest, c.left) << c.input;
  }
  reset("y\n");
  consoleSetEchoAnswers(true);
  showMessageBox(Dialog::ScriptManager, "Really?", "Are you sure?", MB_STYLE_YESNO_EXCLAMATION);
  EXPECT_EQ(take(), "Are you sure?: Really?\n[y/n] y\n");
}

// A line source like the terminal loop's: the device talks while the operator is typing.
bool answerAfterDeviceOutput(std::string& line) {
  setControlText(Dialog::Main, IDC_STATUS_BAR, "Kinestim is Idle");
  consoleRestorePrompt();
  consoleRestorePrompt();   // once is enough
  line = "";
  return true;
}

TEST_F(ConsoleWindow, APromptPushedUpByOtherOutputIsShownAgainOnce) {
  reset("", true);
  consoleSetLineReader(answerAfterDeviceOutput);
  char path[64];
  EXPECT_FALSE(chooseSaveFileName(path, sizeof path));
  EXPECT_EQ(take(), "Save as: \nstatus: Kinestim is Idle\nSave as: \n");
  setControlText(Dialog::Main, IDC_STATUS_BAR, "Kinestim Initialized");
  consoleRestorePrompt();
  EXPECT_EQ(take(), "status: Kinestim Initialized\n");
}

TEST_F(ConsoleWindow, SaveAsAsksBeforeReplacingAndOpenAsksAgainForAMissingFile) {
  const std::string dir = (std::filesystem::temp_directory_path() / ("console_files_" + std::to_string(getpid())));
  const std::string existing = dir + "/old.log", fresh = dir + "/new.log", missing = dir + "/missing.txt";
  std::filesystem::create_directories(dir);
  std::ofstream(existing) << "old";
  const struct { bool save; std::string input; std::string path; std::string output; } cases[] = {
      {true, "\n", "", "Save as: \n"},
      {true, "", "", "Save as: \n"},
      {true, "  " + fresh + "  \n", fresh, "Save as: \n"},
      {true, existing + "\ny\n", existing, "Save as: \nReplace " + existing + "? [y/n] \n"},
      {true, existing + "\nn\n", "", "Save as: \nReplace " + existing + "? [y/n] \n"},
      {true, existing + "\n", "", "Save as: \nReplace " + existing + "? [y/n] \n"},
      {true, dir + "\n" + fresh + "\n", fresh, "Save as: \n" + dir + " is a folder; give a file name.\nSave as: \n"},
      {false, "\n", "", "Open: \n"},
      {false, existing + "\n", existing, "Open: \n"},
      {false, missing + "\n" + existing + "\n", existing, "Open: \nFile not found: " + missing + "\nOpen: \n"},
      {false, missing + "\n\n", "", "Open: \nFile not found: " + missing + "\nOpen: \n"}};
  for (const auto& c : cases) {
    reset(c.input);
    char path[260] = "unchanged";
    const bool chosen = c.save ? chooseSaveFileName(path, sizeof path) : chooseOpenFileName(path, sizeof path);
    EXPECT_EQ(chosen, !c.path.empty()) << c.input;
    EXPECT_EQ(std::string(path), c.path.empty() ? "unchanged" : c.path) << c.input;
    EXPECT_EQ(take(), c.output) << c.input;
  }
  // The chooser never creates or changes the file itself.
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(std::filesystem::file_size(existing), 3u);
  // A buffer too small for the path: a message, the question again, and the buffer intact.
  reset(existing + "\n\n");
  char small[8] = "abc";
  EXPECT_FALSE(chooseOpenFileName(small, sizeof small));
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(take(), "Open: \nThe path is too long (at most 7 characters).\nOpen: \n");
  std::filesystem::remove_all(dir);
}

// Answers fill the template's fields, an empty answer keeps a field, "." or the end of input
// cancels (the block keeps address 1234), and a refused OK asks again. Fields a template does
// not have read as empty text: -1, or 255 in the 8-bit fields.
TEST_F(ConsoleWindow, ParameterPromptsGoFieldByFieldAndEveryOpeningStartsFromTheTemplate) {
  using T = ParameterTemplate;
  const std::string refused = "Warning: Address must be a number from 0 to 65535, not \"abc\"\n(press Enter) \n";
  const struct { T t; const char* input; std::string output; const char* block; } cases[] = {
      {T::Address, "0x7ff\n", "Address (16-bit) [0]: \n", "255 255 255 255 255 255 2047 -1 255"},
      {T::Address, "", "Address (16-bit) [0]: \n", "cancelled"},
      {T::Address, "abc\n\n017\n", "Address (16-bit) [0]: \n" + refused + "Address (16-bit) [abc]: \n",
       "255 255 255 255 255 255 15 -1 255"},
      {T::AddressCount, "16\n\n", "Address (16-bit) [0]: \nCount [16]: \n", "255 255 255 255 255 255 16 16 255"},
      // A second opening shows the template's texts again, not the last answers.
      {T::AddressCount, "\n\n", "Address (16-bit) [0]: \nCount [16]: \n", "255 255 255 255 255 255 0 16 255"},
      {T::CountAndStep, "\n3\n", "Count (16-bit) [10]: \nStep [1]: \n", "255 255 255 255 255 255 -1 10 3"},
      {T::CountAndStep, "5\n.\n", "Count (16-bit) [10]: \nStep [1]: \n", "cancelled"},
      {T::Current, "2\n200\n", "Electrode []: \nCurrent []: \n", "2 200 255 255 255 255 -1 -1 255"},
      {T::Currents, "128\n0x90\n160\n176\n", "Current 1 []: \nCurrent 2 []: \nCurrent 3 []: \nCurrent 4 []: \n",
       "255 255 128 144 160 176 -1 -1 255"}};
  for (const auto& c : cases) {
    reset(c.input);
    resetParameterBlock();
    parameterBlock().address = 1234;
    const bool ok = std::string(c.block) != "cancelled";
    EXPECT_EQ(runParameterDialog(c.t), ok ? PARAMETER_DIALOG_OK : PARAMETER_DIALOG_CANCEL) << c.input;
    EXPECT_EQ(take(), "Enter Parameters (Enter keeps the value in brackets, . cancels)\n" + c.output) << c.input;
    EXPECT_FALSE(dialogExists(Dialog::Parameters));
    const ParameterBlock& b = parameterBlock();
    char block[64];
    std::snprintf(block, sizeof block, "%d %d %d %d %d %d %d %d %d", b.electrode, b.current, b.currents[0],
                  b.currents[1], b.currents[2], b.currents[3], b.address, b.count, b.step);
    EXPECT_EQ(ok ? std::string(block) : std::to_string(b.address), ok ? c.block : "1234") << c.input;
  }
}

// Words press the Script Manager's buttons and fill its fields, mistakes are explained, and
// the dialog exists only while the prompt runs.
TEST_F(ConsoleWindow, ScriptManagerPromptAnswersEachLine) {
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
  for (const auto& c : cases) {
    reset(c.input);
    runScriptManagerDialog();
    EXPECT_EQ(take(), "Script Manager open (type help for its commands).\n" + c.output + "Script Manager closed.\n")
        << c.input;
    EXPECT_FALSE(dialogExists(Dialog::ScriptManager));
  }
  std::remove("sm-preview.ks");
  reset("address 7\nhelp\nclose\n");
  runScriptManagerDialog();
  for (const char* word :
       {"  upload ", "  samples ", "  preview ", "  view ", "  append ", "  clear-mem ", "  close ", "(now: 7)",
        "(now: 25)"}) {
    EXPECT_NE(out.str().find(word), std::string::npos) << word;
  }
}

}  // namespace
