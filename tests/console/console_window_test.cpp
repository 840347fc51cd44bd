// Tests of the console window seam: which control changes print which lines, how message
// boxes and the file choosers read their answers, and the control table's read-back.
#include "platform/console/console_window.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

class ConsoleWindow : public ::testing::Test {
 protected:
  void SetUp() override { reset(""); }
  void reset(const std::string& input) {
    in.str(input);
    in.clear();
    out.str("");
    consoleWindowReset(&in, &out, false);
  }
  std::string take() {
    std::string s = out.str();
    out.str("");
    return s;
  }
  std::istringstream in;
  std::ostringstream out;
};

TEST_F(ConsoleWindow, StartsWithTheTemplateTextsAndMenuState) {
  const struct { Dialog d; int id; const char* text; } cases[] = {
      {Dialog::Main, IDC_MODE_FIELD, "Unknown"},     {Dialog::Main, IDC_MODE_LABEL, "Mode"},
      {Dialog::Main, IDC_SCRIPT_STATUS, "Stopped"},  {Dialog::Main, IDC_RUN_STOP, "&Run"},
      {Dialog::Main, IDC_STATUS_BAR, "Turn on the Kinestim now"},
      {Dialog::Main, IDC_CAPTION_1, "1 (0)"},        {Dialog::Main, IDC_CAPTION_4, "4 (0)"},
      {Dialog::Main, IDC_SENT_LABEL, "Sent:"},       {Dialog::Main, IDC_RECEIVED_LABEL, "Received:"},
      {Dialog::Main, IDC_SENT_PANE, ""},             {Dialog::Main, IDC_TILT_X, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(consoleControlText(c.d, c.id), c.text) << c.id;
  EXPECT_TRUE(dialogExists(Dialog::Main));
  EXPECT_FALSE(dialogExists(Dialog::ScriptManager));
  EXPECT_FALSE(dialogExists(Dialog::Parameters));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_DATA_LOG));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_TRAFFIC_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_DATA_LOG));
  EXPECT_TRUE(consoleExpanded());
  EXPECT_EQ(mainWindowWidth(), expandedWindowWidth());
  EXPECT_LT(collapsedWindowWidth(), expandedWindowWidth());
  EXPECT_EQ(take(), "");

  consoleOpenDialog(Dialog::ScriptManager);
  EXPECT_EQ(consoleControlText(Dialog::ScriptManager, IDC_SM_TIMESTEP), "25");
  EXPECT_EQ(consoleControlText(Dialog::ScriptManager, IDC_SM_ADDRESS), "0");
}

// One step of a scenario: an action on the seam and the exact output it must produce.
struct Step {
  const char* what;
  std::function<void()> action;
  const char* output;
};

void runSteps(ConsoleWindow* fixture, const std::vector<Step>& steps, std::ostringstream& out) {
  (void)fixture;
  for (const Step& s : steps) {
    out.str("");
    s.action();
    EXPECT_EQ(out.str(), s.output) << s.what;
  }
}

TEST_F(ConsoleWindow, PrintsOnlyRealChangesOfTheStatusControls) {
  auto text = [](int id, const char* t) { return [id, t] { setControlText(Dialog::Main, id, t); }; };
  std::vector<Step> steps = {
      {"status set", text(IDC_STATUS_BAR, "Entered mode Idle"), "status: Entered mode Idle\n"},
      {"status same", text(IDC_STATUS_BAR, "Entered mode Idle"), ""},
      {"status cleared", text(IDC_STATUS_BAR, ""), ""},
      {"status set again after clear", text(IDC_STATUS_BAR, "Entered mode Idle"), "status: Entered mode Idle\n"},
      {"mode", [] { setControlText(Dialog::Main, IDC_MODE_LABEL, "Mode");
                    setControlText(Dialog::Main, IDC_MODE_FIELD, "Idle"); }, "mode: Idle\n"},
      {"same mode", text(IDC_MODE_FIELD, "Idle"), ""},
      {"fault", [] { setControlText(Dialog::Main, IDC_MODE_LABEL, "Fault");
                     setControlText(Dialog::Main, IDC_MODE_FIELD, "ScrInvalidOp"); }, "fault: ScrInvalidOp\n"},
      {"script status", text(IDC_SCRIPT_STATUS, "Armed at 0x005"), "script: Armed at 0x005\n"},
      {"run caption", text(IDC_RUN_STOP, "St&op"), "run button: Stop\n"},
      {"run disabled", [] { enableControl(Dialog::Main, IDC_RUN_STOP, false); }, "run button: disabled\n"},
      {"run disabled again", [] { enableControl(Dialog::Main, IDC_RUN_STOP, false); }, ""},
      {"local mark", [] { setCheckMark(Dialog::Main, IDC_LOCAL_CONTROL, true); }, "local control: checked\n"},
      {"local mark again", [] { setCheckMark(Dialog::Main, IDC_LOCAL_CONTROL, true); }, ""},
      {"local cleared", [] { setCheckMark(Dialog::Main, IDC_LOCAL_CONTROL, false); }, "local control: cleared\n"},
      {"local disabled", [] { enableControl(Dialog::Main, IDC_LOCAL_CONTROL, false); }, "local control: disabled\n"},
      {"caption", text(IDC_CAPTION_3, "3 (+1.44)"), "electrode 3: 3 (+1.44)\n"},
      {"slider disabled", [] { enableControl(Dialog::Main, IDC_SLIDER_2, false); }, "electrode 2: disabled\n"},
      {"slider enabled", [] { enableControl(Dialog::Main, IDC_SLIDER_2, true); }, "electrode 2: enabled\n"},
      {"tilt x", text(IDC_TILT_X, "1.5000"), "tilt x: 1.5000\n"},
      {"tilt y", text(IDC_TILT_Y, "-2.2500"), "tilt y: -2.2500\n"},
      {"command box is quiet", text(IDC_COMMAND_BOX, "9"), ""},
      {"tilt buttons are quiet", [] { enableControl(Dialog::Main, IDC_CALIBRATE, false); }, ""},
  };
  runSteps(this, steps, out);
  EXPECT_FALSE(consoleControlEnabled(Dialog::Main, IDC_CALIBRATE));
  EXPECT_FALSE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
}

TEST_F(ConsoleWindow, TrafficPaneLinesShowOnlyWhileExpanded) {
  auto pane = [](int id, const char* t) { return [id, t] { setControlText(Dialog::Main, id, t); }; };
  std::vector<Step> steps = {
      {"sent line on top", pane(IDC_SENT_PANE, "02 cdgSelectModeDirect\r\n"), "sent: 02 cdgSelectModeDirect\n"},
      {"received line on top", pane(IDC_RECEIVED_PANE, "20 mdgEnteredModeDirect\r\n\r\n"),
       "received: 20 mdgEnteredModeDirect\n"},
      {"empty line on top of the other pane", pane(IDC_SENT_PANE, "\r\n02 cdgSelectModeDirect\r\n"), ""},
      {"collapse", [] { setMainWindowWidth(collapsedWindowWidth()); }, ""},
      {"no traffic while collapsed", pane(IDC_SENT_PANE, "0b cdgDldAllElectrodes\r\n"), ""},
      {"expand", [] { setMainWindowWidth(expandedWindowWidth()); }, ""},
      {"traffic again", pane(IDC_RECEIVED_PANE, "1c mdgAllElectrodesDld <80> <90> <a0> <b0>\r\n"),
       "received: 1c mdgAllElectrodesDld <80> <90> <a0> <b0>\n"},
      {"cleared pane", pane(IDC_RECEIVED_PANE, ""), ""},
  };
  runSteps(this, steps, out);
  EXPECT_EQ(consoleControlText(Dialog::Main, IDC_SENT_PANE), "0b cdgDldAllElectrodes\r\n");
}

TEST_F(ConsoleWindow, ScriptManagerPanesPrintTheirLines) {
  auto sm = [](int id, const char* t) { return [id, t] { setControlText(Dialog::ScriptManager, id, t); }; };
  std::vector<Step> steps = {
      {"closed dialog ignores writes", sm(IDC_SM_COMPILER_OUTPUT, "lost"), ""},
      {"open", [] { consoleOpenDialog(Dialog::ScriptManager); }, ""},
      {"compiler output, every line", sm(IDC_SM_COMPILER_OUTPUT, "Build Successful\r\n\r\nUpload Successful"),
       "compiler output: Build Successful\ncompiler output: \ncompiler output: Upload Successful\n"},
      {"cleared output", sm(IDC_SM_COMPILER_OUTPUT, ""), ""},
      {"memory lines", sm(IDC_SM_MEMORY, "0000 Delay 1\r\n0002 Stop\r\n"), "memory: 0000 Delay 1\nmemory: 0002 Stop\n"},
      {"memory appended", sm(IDC_SM_MEMORY, "0000 Delay 1\r\n0002 Stop\r\n0003 Stop\r\n"), "memory: 0003 Stop\n"},
      {"memory emptied", sm(IDC_SM_MEMORY, ""), ""},
      {"memory replaced", sm(IDC_SM_MEMORY, "0100 Stop\r\n"), "memory: 0100 Stop\n"},
      {"address field is quiet", sm(IDC_SM_ADDRESS, "0x10"), ""},
  };
  runSteps(this, steps, out);
  EXPECT_EQ(consoleControlText(Dialog::ScriptManager, IDC_SM_ADDRESS), "0x10");
  consoleCloseDialog(Dialog::ScriptManager);
  EXPECT_FALSE(dialogExists(Dialog::ScriptManager));
  EXPECT_EQ(consoleControlText(Dialog::ScriptManager, IDC_SM_ADDRESS), "");
}

TEST_F(ConsoleWindow, GetControlTextCutsAndTerminates) {
  setControlText(Dialog::Main, IDC_COMMAND_BOX, "12345");
  char buffer[8];
  const struct { int size; int copied; const char* text; } cases[] = {
      {8, 5, "12345"}, {5, 4, "1234"}, {1, 0, ""},
  };
  for (const auto& c : cases) {
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getControlText(Dialog::Main, IDC_COMMAND_BOX, buffer, c.size), c.copied);
    EXPECT_STREQ(buffer, c.text);
  }
  // A control the dialog does not have, or a dialog that is not open, reads as empty text.
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(getControlText(Dialog::Parameters, IDC_ADDRESS_EDIT, buffer, 8), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(getControlText(Dialog::Main, 9999, buffer, 8), 0);
  EXPECT_STREQ(buffer, "");
}

TEST_F(ConsoleWindow, ParameterDialogHoldsOnlyItsOwnControls) {
  consoleOpenDialog(Dialog::Parameters);
  consoleAddControl(Dialog::Parameters, IDC_ADDRESS_EDIT, "0");
  setControlText(Dialog::Parameters, IDC_ADDRESS_EDIT, "0x7ff");
  setControlText(Dialog::Parameters, IDC_COUNT_EDIT, "16");   // not in this template
  EXPECT_EQ(consoleControlText(Dialog::Parameters, IDC_ADDRESS_EDIT), "0x7ff");
  EXPECT_EQ(consoleControlText(Dialog::Parameters, IDC_COUNT_EDIT), "");
  consoleCloseDialog(Dialog::Parameters);
  consoleOpenDialog(Dialog::Parameters);
  EXPECT_EQ(consoleControlText(Dialog::Parameters, IDC_ADDRESS_EDIT), "");
  EXPECT_EQ(take(), "");
}

TEST_F(ConsoleWindow, MessageBoxesReadTheirAnswers) {
  const struct { unsigned style; const char* input; int answer; const char* output; const char* left; } cases[] = {
      {MB_STYLE_OK_EXCLAMATION, "\nnext\n", MB_ANSWER_OK, "Warning: Write Failed\n(press Enter) \n", "next"},
      {MB_STYLE_OK_EXCLAMATION, "typed\nnext\n", MB_ANSWER_OK, "Warning: Write Failed\n(press Enter) \n", "next"},
      {MB_STYLE_OK_EXCLAMATION, "", MB_ANSWER_OK, "Warning: Write Failed\n(press Enter) \n", ""},
      {MB_STYLE_YESNO_EXCLAMATION, "y\nnext\n", MB_ANSWER_YES, "Warning: Write Failed\n[y/n] \n", "next"},
      {MB_STYLE_YESNO_EXCLAMATION, " YES \n", MB_ANSWER_YES, "Warning: Write Failed\n[y/n] \n", ""},
      {MB_STYLE_YESNO_EXCLAMATION, "n\n", MB_ANSWER_NO, "Warning: Write Failed\n[y/n] \n", ""},
      {MB_STYLE_YESNO_EXCLAMATION, "yes please\n", MB_ANSWER_NO, "Warning: Write Failed\n[y/n] \n", ""},
      {MB_STYLE_YESNO_EXCLAMATION, "", MB_ANSWER_NO, "Warning: Write Failed\n[y/n] \n", ""},
  };
  for (const auto& c : cases) {
    reset(c.input);
    EXPECT_EQ(showMessageBox(Dialog::Main, "Write Failed", "Warning", c.style), c.answer) << c.input;
    EXPECT_EQ(take(), c.output) << c.input;
    std::string rest;
    consoleReadLine(rest);
    EXPECT_EQ(rest, c.left) << c.input;
  }
}

TEST_F(ConsoleWindow, MessageBoxTextLineBreaksAndEchoedAnswers) {
  reset("y\n");
  consoleSetEchoAnswers(true);
  EXPECT_EQ(showMessageBox(Dialog::ScriptManager, "Really erase\r\nall of it?", "Are you sure?",
                           MB_STYLE_YESNO_EXCLAMATION), MB_ANSWER_YES);
  EXPECT_EQ(take(), "Are you sure?: Really erase\nall of it?\n[y/n] y\n");
}

// A line source like the terminal loop's: the device talks while the operator is typing.
bool answerAfterDeviceOutput(std::string& line) {
  setControlText(Dialog::Main, IDC_STATUS_BAR, "Kinestim is Idle");
  consoleRestorePrompt();
  consoleRestorePrompt();   // once is enough
  line = "";
  return true;
}

TEST_F(ConsoleWindow, APromptPushedUpByOtherOutputIsShownAgain) {
  in.str("");
  out.str("");
  consoleWindowReset(&in, &out, true);
  consoleSetLineReader(answerAfterDeviceOutput);
  char path[64];
  EXPECT_FALSE(chooseSaveFileName(path, sizeof path));
  EXPECT_EQ(take(), "Save as: \nstatus: Kinestim is Idle\nSave as: \n");
  // Nothing is pending any more: later output does not bring the prompt back.
  setControlText(Dialog::Main, IDC_STATUS_BAR, "Kinestim Initialized");
  consoleRestorePrompt();
  EXPECT_EQ(take(), "status: Kinestim Initialized\n");
}

class ConsoleFiles : public ConsoleWindow {
 protected:
  void SetUp() override {
    ConsoleWindow::SetUp();
    dir = std::filesystem::temp_directory_path() / ("console_files_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    existing = (dir / "old.log").string();
    std::ofstream(existing) << "old";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string existing;
};

TEST_F(ConsoleFiles, SaveAsAsksBeforeReplacing) {
  std::string fresh = (dir / "new.log").string();
  std::string folder = dir.string();
  const struct { std::string input; bool chosen; std::string path; std::string output; } cases[] = {
      {"\n", false, "", "Save as: \n"},
      {"", false, "", "Save as: \n"},
      {fresh + "\n", true, fresh, "Save as: \n"},
      {"  " + fresh + "  \n", true, fresh, "Save as: \n"},
      {existing + "\ny\n", true, existing, "Save as: \nReplace " + existing + "? [y/n] \n"},
      {existing + "\nn\n", false, "", "Save as: \nReplace " + existing + "? [y/n] \n"},
      {existing + "\n", false, "", "Save as: \nReplace " + existing + "? [y/n] \n"},
      {folder + "\n" + fresh + "\n", true, fresh,
       "Save as: \n" + folder + " is a folder; give a file name.\nSave as: \n"},
  };
  for (const auto& c : cases) {
    reset(c.input);
    char path[260] = "unchanged";
    EXPECT_EQ(chooseSaveFileName(path, sizeof path), c.chosen) << c.input;
    if (c.chosen) {
      EXPECT_EQ(std::string(path), c.path);
    }
    EXPECT_EQ(take(), c.output) << c.input;
  }
  // The chooser never creates or changes the file itself.
  EXPECT_FALSE(std::filesystem::exists(fresh));
  std::ifstream f(existing);
  std::string content;
  f >> content;
  EXPECT_EQ(content, "old");
}

TEST_F(ConsoleFiles, OpenAsksAgainForAMissingFileAndRefusesTooLongPaths) {
  std::string missing = (dir / "missing.txt").string();
  const struct { std::string input; bool chosen; std::string output; } cases[] = {
      {"\n", false, "Open: \n"},
      {existing + "\n", true, "Open: \n"},
      {missing + "\n" + existing + "\n", true, "Open: \nFile not found: " + missing + "\nOpen: \n"},
      {missing + "\n\n", false, "Open: \nFile not found: " + missing + "\nOpen: \n"},
  };
  for (const auto& c : cases) {
    reset(c.input);
    char path[260] = "";
    EXPECT_EQ(chooseOpenFileName(path, sizeof path), c.chosen) << c.input;
    if (c.chosen) {
      EXPECT_EQ(std::string(path), existing);
    }
    EXPECT_EQ(take(), c.output) << c.input;
  }
  // A buffer too small for the path: a message, the question again, and the buffer intact.
  reset(existing + "\n\n");
  char small[8] = "abc";
  EXPECT_FALSE(chooseOpenFileName(small, sizeof small));
  EXPECT_STREQ(small, "abc");
  EXPECT_NE(take().find("too long"), std::string::npos);
}

TEST_F(ConsoleWindow, SlidersKeepTheirPositionInsideTheRange) {
  setSliderRange(IDC_SLIDER_1, 0, 255);
  const struct { int set; int read; } cases[] = {{127, 127}, {300, 255}, {-5, 0}, {255, 255}, {0, 0}};
  for (const auto& c : cases) {
    setSliderPosition(IDC_SLIDER_1, c.set);
    EXPECT_EQ(getSliderPosition(IDC_SLIDER_1), c.read) << c.set;
  }
  // Only the four electrode sliders exist.
  setSliderPosition(IDC_CAPTION_1, 50);
  EXPECT_EQ(getSliderPosition(IDC_CAPTION_1), 0);
}

TEST_F(ConsoleWindow, PostedCommandsRunInOrderAndTheEndIsFinal) {
  postCommand(370);
  postCommand(302);
  int id = 0;
  ASSERT_TRUE(consoleTakePostedCommand(id));
  EXPECT_EQ(id, 370);
  ASSERT_TRUE(consoleTakePostedCommand(id));
  EXPECT_EQ(id, 302);
  EXPECT_FALSE(consoleTakePostedCommand(id));

  EXPECT_FALSE(consoleQuitRequested());
  endMainDialog();
  EXPECT_FALSE(dialogExists(Dialog::Main));
  setControlText(Dialog::Main, IDC_STATUS_BAR, "after the end");
  EXPECT_EQ(take(), "");
  postQuit(0);
  EXPECT_TRUE(consoleQuitRequested());
  EXPECT_EQ(consoleExitCode(), 0);

  // A reset brings everything back to the start-up state.
  postCommand(376);
  reset("");
  EXPECT_FALSE(consoleTakePostedCommand(id));
  EXPECT_FALSE(consoleQuitRequested());
  EXPECT_TRUE(dialogExists(Dialog::Main));
}

}  // namespace
