// Wine GUI tests of kinestim-host.exe's window side: the real dialog templates, dialog
// procedures and message loop steps, driven by window messages, against kinestim-sim on COM1.
#include "gui_harness.h"
#include "link/serial_port.h"
#include "platform/win32/win32_gui.h"
#include "platform/window.h"
#include "resource.h"
#include "tilt/tilt.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <map>

namespace {

using Bytes = std::vector<uint8_t>;

// Control states read right after the main dialog was created, before any message ran.
struct InitialState {
  std::map<int, std::string> texts;
  std::map<int, bool> enabled;
  bool localControlChecked = false;
  int sliderPosition[4] = {};
  int expandedWidth = 0;
  int collapsedWidth = 0;
  int measuredCollapsedWidth = 0;
  bool menuGreyed[4] = {};
};
InitialState initial;

const int kSliders[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
const int kCaptions[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

bool menuGreyed(int id) {
  UINT state = GetMenuState(GetMenu(mainWindow()), id, MF_BYCOMMAND);
  return (state & MF_GRAYED) != 0;
}

void takeInitialSnapshot() {
  HWND main = mainWindow();
  for (int id : {IDC_MODE_LABEL, IDC_MODE_FIELD, IDC_SCRIPT_STATUS, IDC_RUN_STOP, IDC_STATUS_BAR,
                 IDC_TILT_X, IDC_TILT_Y, IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3,
                 IDC_CAPTION_4}) {
    initial.texts[id] = mainText(id);
  }
  for (int id : {IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE,
                 IDC_READ_TILT, IDC_TILT_LOOP, IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3,
                 IDC_SLIDER_4, IDC_COMMAND_BOX, IDC_SEND}) {
    initial.enabled[id] = mainEnabled(id);
  }
  initial.localControlChecked = IsDlgButtonChecked(main, IDC_LOCAL_CONTROL) == BST_CHECKED;
  for (int i = 0; i < 4; ++i) {
    initial.sliderPosition[i] =
        static_cast<int>(SendDlgItemMessageA(main, kSliders[i], TBM_GETPOS, 0, 0));
  }
  initial.expandedWidth = windowWidth(main);
  RECT window{}, sent{};
  GetWindowRect(main, &window);
  GetWindowRect(GetDlgItem(main, IDC_SENT_PANE), &sent);
  initial.measuredCollapsedWidth = sent.left - window.left - 10;
  initial.collapsedWidth = collapsedWindowWidth();
  int menuIds[4] = {ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG, ID_START_DATA_LOG, ID_STOP_DATA_LOG};
  for (int i = 0; i < 4; ++i) initial.menuGreyed[i] = menuGreyed(menuIds[i]);
}

void postToMain(int id) { PostMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// Types a number into the Command box and presses Send as a click would.
void typeCommand(const char* number) {
  SetDlgItemTextA(mainWindow(), IDC_COMMAND_BOX, number);
  SendDlgItemMessageA(mainWindow(), IDC_SEND, BM_CLICK, 0, 0);
}

bool modeIs(const char* mode) { return mainText(IDC_MODE_FIELD) == mode; }

void enterMode(int commandId, const char* mode) {
  if (modeIs(mode)) return;
  postToMain(commandId);
  ASSERT_TRUE(pumpUntil([&] { return modeIs(mode); }, 10000)) << "mode " << mainText(IDC_MODE_FIELD);
}

void backToIdle() {
  if (modeIs("Idle")) return;
  postToMain(ID_IDLE);
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000)) << mainText(IDC_MODE_FIELD);
}

class Gui : public ::testing::Test {
 protected:
  void SetUp() override {
    takeUnexpectedWarnings();
    clearDialogSteps();
  }
  void TearDown() override {
    pumpUntil(dialogStepsDone, 10000);
    EXPECT_TRUE(dialogStepsDone()) << "a dialog the test expected never appeared";
    clearDialogSteps();
    std::vector<std::string> warnings = takeUnexpectedWarnings();
    EXPECT_TRUE(warnings.empty()) << "unexpected Warning: " << (warnings.empty() ? "" : warnings[0]);
  }
};

// --- Start-up ---------------------------------------------------------------------------

TEST_F(Gui, StartsWithTheTemplateTextsAndEverythingGatedOff) {
  const std::map<int, std::string> texts = {
      {IDC_MODE_LABEL, "Mode"}, {IDC_MODE_FIELD, "Unknown"}, {IDC_SCRIPT_STATUS, "Stopped"},
      {IDC_RUN_STOP, "&Run"}, {IDC_STATUS_BAR, "Turn on the Kinestim now"}, {IDC_TILT_X, ""},
      {IDC_TILT_Y, ""}, {IDC_CAPTION_1, "1 (-0.02)"}, {IDC_CAPTION_2, "2 (-0.02)"},
      {IDC_CAPTION_3, "3 (-0.02)"}, {IDC_CAPTION_4, "4 (-0.02)"}};
  for (const auto& [id, text] : texts) EXPECT_EQ(initial.texts[id], text) << "control " << id;
  const std::map<int, bool> enabled = {
      {IDC_LOCAL_CONTROL, false}, {IDC_RUN_STOP, false}, {IDC_SCRIPT_MANAGER, false},
      {IDC_CALIBRATE, false}, {IDC_READ_TILT, false}, {IDC_TILT_LOOP, false},
      {IDC_SLIDER_1, false}, {IDC_SLIDER_2, false}, {IDC_SLIDER_3, false},
      {IDC_SLIDER_4, false}, {IDC_COMMAND_BOX, true}, {IDC_SEND, true}};
  for (const auto& [id, on] : enabled) EXPECT_EQ(initial.enabled[id], on) << "control " << id;
  EXPECT_TRUE(initial.localControlChecked);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(initial.sliderPosition[i], 127);
  // File menu: Log and Log Current and Tilt Data enabled, the two Stop entries greyed.
  EXPECT_FALSE(initial.menuGreyed[0]);
  EXPECT_TRUE(initial.menuGreyed[1]);
  EXPECT_FALSE(initial.menuGreyed[2]);
  EXPECT_TRUE(initial.menuGreyed[3]);
  char caption[64] = "";
  GetWindowTextA(mainWindow(), caption, sizeof caption);
  EXPECT_STREQ(caption, "Kinestim Host");
}

TEST_F(Gui, PortNumberComesFromTheLeadingDecimalInteger) {
  const struct { const char* text; int port; } cases[] = {
      {"", 1}, {"3", 3}, {"0", 1}, {"-2", 1}, {"abc", 1}, {"12abc", 12}, {"   4", 4},
      {"+7", 7}, {"\t5 9", 5}, {"99999999999999999999", 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(parsePortNumber(c.text), c.port) << '"' << c.text << '"';
  EXPECT_EQ(parsePortNumber(nullptr), 1);
}

TEST_F(Gui, AMissingMainTemplateIsReportedAsAFailure) {
  // A module without the program's resources: no dialog, and WinMain then ends the program
  // with a fatal error instead of running a loop with no window.
  setAppInstance(GetModuleHandleA("kernel32.dll"));
  HWND before = mainWindow();
  EXPECT_FALSE(createMainDialog());
  setAppInstance(GetModuleHandleA(nullptr));
  EXPECT_EQ(mainWindow(), before);
}

TEST_F(Gui, CollapsesOnTheFirstLoopPassAndTogglesBack) {
  EXPECT_EQ(initial.collapsedWidth, initial.measuredCollapsedWidth);
  EXPECT_EQ(expandedWindowWidth(), initial.expandedWidth);
  EXPECT_GT(initial.expandedWidth, initial.collapsedWidth + 100);
  ASSERT_TRUE(pumpUntil([] { return windowWidth(mainWindow()) == initial.collapsedWidth; }, 10000))
      << windowWidth(mainWindow());
  EXPECT_FALSE(mainVisible(IDC_SENT_LABEL));
  EXPECT_FALSE(mainVisible(IDC_RECEIVED_LABEL));
  // 70 typed into the Command box reaches command 370 even while the box is cut off.
  typeCommand("70");
  ASSERT_TRUE(pumpUntil([] { return windowWidth(mainWindow()) == initial.expandedWidth; }, 10000));
  EXPECT_TRUE(mainVisible(IDC_SENT_LABEL));
  EXPECT_TRUE(mainVisible(IDC_RECEIVED_LABEL));
  // Ctrl+A through the loop's accelerator step collapses it again, and back.
  PostMessageA(GetDlgItem(mainWindow(), IDC_COMMAND_BOX), WM_CHAR, 1, 0);
  ASSERT_TRUE(pumpUntil([] { return windowWidth(mainWindow()) == initial.collapsedWidth; }, 10000));
  EXPECT_EQ(mainText(IDC_COMMAND_BOX), "70");  // the keystroke reached no control
  postToMain(ID_TOGGLE_ADVANCED);
  ASSERT_TRUE(pumpUntil([] { return windowWidth(mainWindow()) == initial.expandedWidth; }, 10000));
}

TEST_F(Gui, DeviceEnteringIdleEnablesTheScriptAndTiltControls) {
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000)) << mainText(IDC_MODE_FIELD);
  for (int id : {IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE,
                 IDC_READ_TILT, IDC_TILT_LOOP}) {
    EXPECT_TRUE(mainEnabled(id)) << id;
  }
  for (int id : kSliders) EXPECT_FALSE(mainEnabled(id)) << id;
  EXPECT_EQ(mainText(IDC_MODE_LABEL), "Mode");
  EXPECT_EQ(mainText(IDC_SCRIPT_STATUS), "Stopped");
  EXPECT_NE(mainText(IDC_RECEIVED_PANE).find("mdgEnteredModeIdle"), std::string::npos);
}

// --- Modes and accelerators -------------------------------------------------------------

TEST_F(Gui, CtrlDAndCtrlIThroughTheLoopSwitchDirectModeOnAndOff) {
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000));
  size_t mark = transcriptSize();
  HWND box = GetDlgItem(mainWindow(), IDC_COMMAND_BOX);
  PostMessageA(box, WM_CHAR, 4, 0);  // Ctrl+D
  ASSERT_TRUE(pumpUntil([] { return modeIs("Direct"); }, 10000)) << mainText(IDC_MODE_FIELD);
  for (int id : kSliders) EXPECT_TRUE(mainEnabled(id)) << id;
  EXPECT_EQ(countSent(mark, 0x02), 1);
  PostMessageA(box, WM_CHAR, 9, 0);  // Ctrl+I
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000)) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(countSent(mark, 0x03), 1);
  for (int id : kSliders) EXPECT_FALSE(mainEnabled(id)) << id;
  // Idle from Idle sends nothing.
  size_t idleMark = transcriptSize();
  PostMessageA(box, WM_CHAR, 9, 0);
  pumpFor(300);
  EXPECT_TRUE(sentSince(idleMark).empty());
}

TEST_F(Gui, TheSentPaneEchoesWhatTheCommandBoxSends) {
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000));
  size_t mark = transcriptSize();
  typeCommand("0x08");  // Dld Mode, hexadecimal
  ASSERT_TRUE(waitForSent(mark, {0x08}));
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_SENT_PANE).rfind("08 cdgDldMode\r\n", 0) == 0; },
                        2000))
      << mainText(IDC_SENT_PANE);
  EXPECT_EQ(mainText(IDC_COMMAND_BOX), "0x08");  // the box keeps its text
  size_t nothing = transcriptSize();
  for (const char* text : {"31", "5000", "-1", "", "abc"}) typeCommand(text);
  pumpFor(300);
  EXPECT_TRUE(sentSince(nothing).empty());
  // Clear empties both panes, and so does 71 (the Window menu's Clear Sent/Rec'd Windows).
  SendDlgItemMessageA(mainWindow(), IDC_CLEAR, BM_CLICK, 0, 0);
  pumpFor(50);
  EXPECT_EQ(mainText(IDC_SENT_PANE), "");
  EXPECT_EQ(mainText(IDC_RECEIVED_PANE), "");
  typeCommand("0x08");
  ASSERT_TRUE(pumpUntil([] { return !mainText(IDC_RECEIVED_PANE).empty(); }, 10000));
  typeCommand("71");
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_SENT_PANE).empty() &&
                                    mainText(IDC_RECEIVED_PANE).empty(); }, 10000));
}

TEST_F(Gui, LocalControlClickTogglesTheMarkAtOnceAndSends) {
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000));
  HWND box = GetDlgItem(mainWindow(), IDC_LOCAL_CONTROL);
  ASSERT_TRUE(IsWindowEnabled(box));
  ASSERT_EQ(IsDlgButtonChecked(mainWindow(), IDC_LOCAL_CONTROL), BST_CHECKED);
  size_t mark = transcriptSize();
  SendMessageA(box, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(mainWindow(), IDC_LOCAL_CONTROL), BST_UNCHECKED);
  ASSERT_TRUE(waitForSent(mark, {0x17}));
  pumpFor(200);
  EXPECT_EQ(IsDlgButtonChecked(mainWindow(), IDC_LOCAL_CONTROL), BST_UNCHECKED);
  SendMessageA(box, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(mainWindow(), IDC_LOCAL_CONTROL), BST_CHECKED);
  ASSERT_TRUE(waitForSent(mark, {0x18}));
  pumpFor(200);
  EXPECT_EQ(IsDlgButtonChecked(mainWindow(), IDC_LOCAL_CONTROL), BST_CHECKED);
  // A notification other than a click does nothing.
  size_t quiet = transcriptSize();
  SendMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(IDC_LOCAL_CONTROL, BN_SETFOCUS),
               reinterpret_cast<LPARAM>(box));
  pumpFor(200);
  EXPECT_TRUE(sentSince(quiet).empty());
  EXPECT_EQ(IsDlgButtonChecked(mainWindow(), IDC_LOCAL_CONTROL), BST_CHECKED);
}

// --- Electrode sliders ------------------------------------------------------------------

TEST_F(Gui, DraggingASliderMovesOnlyItsCaptionUntilTheRelease) {
  ASSERT_NO_FATAL_FAILURE(enterMode(302, "Direct"));
  HWND slider = GetDlgItem(mainWindow(), IDC_SLIDER_3);
  ASSERT_TRUE(IsWindowEnabled(slider));
  pumpFor(300);  // the answer to cdgDldAllElectrodes has settled the sliders
  size_t mark = transcriptSize();
  // A real mouse drag on the thumb: the trackbar reports thumb tracking, then the release.
  RECT thumb{};
  SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  int x = (thumb.left + thumb.right) / 2;
  int y = (thumb.top + thumb.bottom) / 2;
  SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  std::vector<std::string> captions;
  for (int step = 1; step <= 4; ++step) {
    SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y + step * 5));
    pumpFor(30);
    captions.push_back(mainText(IDC_CAPTION_3));
  }
  pumpFor(200);
  EXPECT_EQ(countSent(mark, 0x09), 0) << "nothing is sent while the thumb is dragged";
  int dragged = static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
  EXPECT_GT(dragged, 127);
  char expected[32];
  snprintf(expected, sizeof expected, "3 (%+5.2f)", static_cast<float>(dragged * 0.02 - 2.56));
  EXPECT_EQ(captions.back(), expected);
  EXPECT_NE(captions.front(), captions.back()) << "the caption follows the thumb";
  SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, y + 20));
  ASSERT_TRUE(waitForSent(mark, {0x09, 0x03, static_cast<uint8_t>(dragged)}));
  pumpFor(300);
  EXPECT_EQ(countSent(mark, 0x09), 1) << "exactly one cdgSetElectrode per release";
}

TEST_F(Gui, EachScrollCodeSendsAtMostOneCommand) {
  ASSERT_NO_FATAL_FAILURE(enterMode(302, "Direct"));
  HWND main = mainWindow();
  HWND slider = GetDlgItem(main, IDC_SLIDER_2);
  // Scroll code, whether it sends, and the handler's answer.
  const struct { int code; bool sends; BOOL handled; } cases[] = {
      {TB_LINEUP, true, TRUE}, {TB_LINEDOWN, true, TRUE}, {TB_PAGEUP, true, TRUE},
      {TB_PAGEDOWN, true, TRUE}, {TB_THUMBPOSITION, true, TRUE}, {TB_THUMBTRACK, false, TRUE},
      {TB_TOP, true, TRUE}, {TB_BOTTOM, true, TRUE}, {TB_ENDTRACK, false, FALSE}};
  int position = 60;
  for (const auto& c : cases) {
    ++position;
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    size_t mark = transcriptSize();
    // Called as the dialog manager calls it, to see the procedure's own answer.
    INT_PTR handled = MainDialogProc(main, WM_VSCROLL, MAKEWPARAM(c.code, 0),
                                     reinterpret_cast<LPARAM>(slider));
    pumpFor(150);
    EXPECT_EQ(handled != 0, c.handled != 0) << "code " << c.code;
    if (c.sends) {
      EXPECT_TRUE(waitForSent(mark, {0x09, 0x02, static_cast<uint8_t>(position)})) << c.code;
      EXPECT_EQ(countSent(mark, 0x09), 1) << "code " << c.code;
    } else {
      EXPECT_EQ(countSent(mark, 0x09), 0) << "code " << c.code;
    }
    char caption[32];
    snprintf(caption, sizeof caption, "2 (%+5.2f)", static_cast<float>(position * 0.02 - 2.56));
    if (c.code != TB_ENDTRACK) {
      EXPECT_EQ(mainText(IDC_CAPTION_2), caption) << c.code;
    }
  }
  // Keys on the real trackbar: Page Down from 100 moves to 120 and sends it; End sends 255.
  SendMessageA(slider, TBM_SETPOS, TRUE, 100);
  size_t mark = transcriptSize();
  SetFocus(slider);
  SendMessageA(slider, WM_KEYDOWN, VK_NEXT, 0);
  SendMessageA(slider, WM_KEYUP, VK_NEXT, 0);
  ASSERT_TRUE(waitForSent(mark, {0x09, 0x02, 120}));
  SendMessageA(slider, WM_KEYDOWN, VK_END, 0);
  SendMessageA(slider, WM_KEYUP, VK_END, 0);
  ASSERT_TRUE(waitForSent(mark, {0x09, 0x02, 255}));
  pumpFor(200);
  EXPECT_EQ(countSent(mark, 0x09), 2);
  EXPECT_EQ(mainText(IDC_CAPTION_2), "2 (+2.54)");
  // A scroll message from a window that is not a slider does nothing.
  size_t other = transcriptSize();
  SendMessageA(main, WM_VSCROLL, MAKEWPARAM(TB_LINEDOWN, 0),
               reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_SENT_PANE)));
  pumpFor(150);
  EXPECT_EQ(countSent(other, 0x09), 0);
  SetFocus(GetDlgItem(main, IDC_COMMAND_BOX));
}

// --- Parameter dialogs ------------------------------------------------------------------

TEST_F(Gui, SetElectrodeDialogOkSendsAndMovesTheSlider) {
  ASSERT_NO_FATAL_FAILURE(enterMode(302, "Direct"));
  size_t mark = transcriptSize();
  expectDialog("Enter Parameters",
               setTextThenPress({{IDC_ELECTRODE_EDIT, "4"}, {IDC_CURRENT_EDIT, "0xc8"}},
                                IDC_PARAM_OK));
  typeCommand("9");
  ASSERT_TRUE(waitForSent(mark, {0x09, 0x04, 0xc8}));
  EXPECT_EQ(SendDlgItemMessageA(mainWindow(), IDC_SLIDER_4, TBM_GETPOS, 0, 0), 200);
  EXPECT_EQ(mainText(IDC_CAPTION_4), "4 (+1.44)");
  // Set All Electrodes: Enter (IDOK) in the dialog is OK.
  expectDialog("Enter Parameters",
               setTextThenPress({{IDC_CURRENT1_EDIT, "128"}, {IDC_CURRENT2_EDIT, "144"},
                                 {IDC_CURRENT3_EDIT, "160"}, {IDC_CURRENT4_EDIT, "176"}},
                                IDOK));
  postToMain(310);
  ASSERT_TRUE(waitForSent(mark, {0x0a, 0x80, 0x90, 0xa0, 0xb0}));
  pumpFor(200);
  const char* captions[4] = {"1 (+0.00)", "2 (+0.32)", "3 (+0.64)", "4 (+0.96)"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(mainText(kCaptions[i]), captions[i]);
}

TEST_F(Gui, CancelEscapeAndTheCloseBoxSendNothing) {
  ASSERT_NO_FATAL_FAILURE(backToIdle());
  struct Case { int command; DialogAction action; };
  const Case cases[] = {
      {315, pressButton(IDC_PARAM_CANCEL)},          // Arm ..., Cancel
      {314, pressEscape(IDC_ADDRESS_EDIT)},          // Dld Script Mem ..., Escape
      {330, closeBox()},                             // Tilt Loop ..., close box
      {327, pressButton(IDCANCEL)},                  // Dld RAM ..., IDCANCEL
  };
  for (const Case& c : cases) {
    size_t mark = transcriptSize();
    expectDialog("Enter Parameters", c.action);
    postToMain(c.command);
    ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000)) << c.command;
    pumpFor(300);
    EXPECT_EQ(parameterWindowHandle(), nullptr) << c.command;
    EXPECT_TRUE(sentSince(mark).empty()) << c.command;
  }
}

TEST_F(Gui, TemplateDefaultsAreSentByOk) {
  ASSERT_NO_FATAL_FAILURE(backToIdle());
  size_t mark = transcriptSize();
  std::string address, count;
  expectDialog("Enter Parameters", [&](HWND dialog) {
    address = controlText(dialog, IDC_ADDRESS_EDIT);
    count = controlText(dialog, IDC_COUNT_EDIT);
    pressButton(IDC_PARAM_OK)(dialog);
  });
  postToMain(327);  // Dld RAM ...: address 0, count 16
  ASSERT_TRUE(waitForSent(mark, {0x1b, 0x00, 0x00, 0x10}));
  EXPECT_EQ(address, "0");
  EXPECT_EQ(count, "16");
}

TEST_F(Gui, AnUnsafeEntryIsRefusedAndTheDialogStaysOpen) {
  ASSERT_NO_FATAL_FAILURE(enterMode(302, "Direct"));
  size_t mark = transcriptSize();
  std::string warning;
  bool stillOpen = false;
  // Electrode 2 with an empty Current: refused with a Warning, then cancelled.
  expectDialog("Enter Parameters",
               setTextThenPress({{IDC_ELECTRODE_EDIT, "2"}, {IDC_CURRENT_EDIT, ""}}, IDC_PARAM_OK));
  expectDialog("Warning", readAndPress(&warning, IDOK));
  expectDialog("Enter Parameters", [&](HWND dialog) {
    stillOpen = true;
    pressButton(IDC_PARAM_CANCEL)(dialog);
  });
  postToMain(309);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  pumpFor(300);
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(warning.empty());
  EXPECT_EQ(countSent(mark, 0x09), 0);
}

// --- Script Manager, Run/Stop -----------------------------------------------------------

TEST_F(Gui, ScriptManagerUploadsASourceAndViewListsIt) {
  ASSERT_NO_FATAL_FAILURE(backToIdle());
  std::string source = tempFolder() + "gui-test-script.txt";
  writeFile(source, "; zero current, then a long wait\r\n"
                    "SetAllElectrodes 128 128 128 128\r\nDelay 2000\r\nStop\r\n");
  size_t mark = transcriptSize();
  std::string output, listing, nextAddress;
  // The dialog is modal: everything inside it happens in these steps.
  expectDialog("Script Manager", pressButton(IDC_SM_UPLOAD));
  expectDialog("Open", chooseFile(source));
  expectDialog("Script Manager", [&](HWND dialog) {
    output = controlText(dialog, IDC_SM_COMPILER_OUTPUT);
    pressButton(IDC_SM_VIEW)(dialog);
  }, [](HWND dialog) { return !controlText(dialog, IDC_SM_COMPILER_OUTPUT).empty(); });
  expectDialog("Script Manager", [&](HWND dialog) {
    listing = controlText(dialog, IDC_SM_MEMORY);
    nextAddress = controlText(dialog, IDC_SM_ADDRESS);
    pressEscape(IDC_SM_ADDRESS)(dialog);
  }, [](HWND dialog) { return controlText(dialog, IDC_SM_ADDRESS) != "0"; });
  SendDlgItemMessageA(mainWindow(), IDC_SCRIPT_MANAGER, BM_CLICK, 0, 0);
  ASSERT_TRUE(pumpUntil([] { return dialogStepsDone() && scriptManagerWindowHandle() == nullptr; },
                        30000));
  EXPECT_EQ(output, "Build Successful\r\n\r\nUpload Successful");
  EXPECT_EQ(listing.rfind("   0\tSetAllElectrodes\t128 128 128 128\r\n   5\tDelay\t\t2000\r\n"
                          "   8\tStop\r\n", 0), 0u) << listing;
  EXPECT_EQ(nextAddress, "26");  // 20 instructions: three, then 17 one-byte Stops
  // The button sent cdgSelectModePgmScr before the dialog opened.
  std::vector<std::vector<uint8_t>> sent = sentSince(mark);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], Bytes{0x04});
  EXPECT_TRUE(waitForSent(mark, {0x0d, 0x00, 0x00, 0x03, 0x80, 0x80, 0x80, 0x80, 0x04, 0xd0, 0x07,
                                 0x00}));
}

TEST_F(Gui, ScriptManagerRefusesABadAddressWithoutTheOpenDialog) {
  std::string output;
  expectDialog("Script Manager", setTextThenPress({{IDC_SM_ADDRESS, "2048"}}, IDC_SM_UPLOAD));
  expectDialog("Script Manager", [&](HWND dialog) {
    output = controlText(dialog, IDC_SM_COMPILER_OUTPUT);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
  });
  postToMain(313);
  ASSERT_TRUE(pumpUntil([] { return dialogStepsDone() && scriptManagerWindowHandle() == nullptr; },
                        8000));
  EXPECT_EQ(output, "Invalid address, must be between 0 and 2047");
}

TEST_F(Gui, RunAndStopRoundTripTheButtonCaption) {
  ASSERT_NO_FATAL_FAILURE(backToIdle());
  size_t mark = transcriptSize();
  expectDialog("Enter Parameters", setTextThenPress({{IDC_ADDRESS_EDIT, "0"}}, IDC_PARAM_OK));
  SendDlgItemMessageA(mainWindow(), IDC_RUN_STOP, BM_CLICK, 0, 0);
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_RUN_STOP) == "St&op"; }, 10000))
      << mainText(IDC_RUN_STOP) << " / " << mainText(IDC_STATUS_BAR);
  std::vector<std::vector<uint8_t>> sent = sentSince(mark);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], Bytes{0x06});                      // Select Mode Run Script first
  EXPECT_EQ(sent[1], (Bytes{0x12, 0x00, 0x00}));        // then Run at the entered address
  EXPECT_EQ(mainText(IDC_SCRIPT_STATUS), "Running at 0x000");
  size_t stopMark = transcriptSize();
  SendDlgItemMessageA(mainWindow(), IDC_RUN_STOP, BM_CLICK, 0, 0);
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_RUN_STOP) == "&Run"; }, 10000));
  EXPECT_EQ(sentSince(stopMark).at(0), Bytes{0x14});     // only cdgScrStop from the button
  EXPECT_TRUE(pumpUntil([] { return mainText(IDC_SCRIPT_STATUS) == "Stopped"; }, 10000));
  ASSERT_NO_FATAL_FAILURE(backToIdle());
}

// --- Every device command ---------------------------------------------------------------

TEST_F(Gui, EveryPlainCommandGoesOutFromTheMenu) {
  ASSERT_NO_FATAL_FAILURE(backToIdle());
  // Identifiers whose command needs no parameters, sent as the menu sends them.
  const int plain[] = {300, 308, 311, 316, 317, 319, 320, 321, 322, 323, 324, 325, 326, 328,
                       302, 303, 304, 305, 306, 307, 312, 329, 301};
  for (int id : plain) {
    size_t mark = transcriptSize();
    SendMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
    EXPECT_TRUE(waitForSent(mark, {static_cast<uint8_t>(id - 300)})) << "command " << id;
    pumpFor(100);
  }
  // cdgInit made the device start over; it reports Idle again.
  EXPECT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 10000)) << mainText(IDC_MODE_FIELD);
  // The parameter commands through the Command box, with the dialogs' defaults.
  const struct { const char* typed; Bytes payload; } withDialogs[] = {
      {"0x0f", {0x0f, 0x00, 0x00}}, {"14", {0x0e, 0x00, 0x00, 0x10}},
      {"036", {0x1e, 0x0a, 0x00, 0x01}}};
  for (const auto& c : withDialogs) {
    size_t mark = transcriptSize();
    expectDialog("Enter Parameters", pressButton(IDC_PARAM_OK));
    typeCommand(c.typed);
    EXPECT_TRUE(waitForSent(mark, c.payload)) << c.typed;
  }
  pumpFor(1000);  // the tilt loop's readings
  // Commands sent in a mode that does not allow them are refused by the device, which the
  // program reports in a Warning; nothing else may have warned.
  for (const std::string& warning : takeUnexpectedWarnings()) {
    EXPECT_EQ(warning.rfind("Command Rejected", 0), 0u) << warning;
  }
}

TEST_F(Gui, AboutShowsTheBoxAndChangesNothing) {
  std::string text;
  std::string before = mainText(IDC_STATUS_BAR);
  size_t mark = transcriptSize();
  expectDialog("Kinestim Host v2.6", readAndPress(&text, IDOK));
  postToMain(ID_ABOUT);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  EXPECT_FALSE(text.empty());
  EXPECT_TRUE(sentSince(mark).empty());
}

// --- Logs and shutdown ------------------------------------------------------------------

TEST_F(Gui, LogMenuEntriesFollowTheLogs) {
  std::string trafficLog = tempFolder() + "gui-traffic.log";
  DeleteFileA(trafficLog.c_str());
  // A cancelled Save As leaves the log off.
  expectDialog("Save As", pressButton(IDCANCEL));
  postToMain(ID_START_TRAFFIC_LOG);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  pumpFor(100);
  EXPECT_FALSE(menuGreyed(ID_START_TRAFFIC_LOG));
  EXPECT_TRUE(menuGreyed(ID_STOP_TRAFFIC_LOG));
  // Chosen: Log greyed, Stop Log enabled; a command goes into the file.
  expectDialog("Save As", chooseFile(trafficLog));
  postToMain(ID_START_TRAFFIC_LOG);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  pumpFor(100);
  EXPECT_TRUE(menuGreyed(ID_START_TRAFFIC_LOG));
  EXPECT_FALSE(menuGreyed(ID_STOP_TRAFFIC_LOG));
  size_t mark = transcriptSize();
  postToMain(308);
  ASSERT_TRUE(waitForSent(mark, {0x08}));
  pumpFor(200);
  postToMain(ID_STOP_TRAFFIC_LOG);
  pumpFor(100);
  EXPECT_FALSE(menuGreyed(ID_START_TRAFFIC_LOG));
  EXPECT_TRUE(menuGreyed(ID_STOP_TRAFFIC_LOG));
  std::string logged = readFile(trafficLog);
  EXPECT_NE(logged.find("\t08 cdgDldMode\r\n"), std::string::npos) << logged;
  // The data log's pair of entries.
  std::string dataLog = tempFolder() + "gui-data.log";
  DeleteFileA(dataLog.c_str());
  expectDialog("Save As", chooseFile(dataLog));
  postToMain(ID_START_DATA_LOG);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  pumpFor(100);
  EXPECT_TRUE(menuGreyed(ID_START_DATA_LOG));
  EXPECT_FALSE(menuGreyed(ID_STOP_DATA_LOG));
  postToMain(ID_STOP_DATA_LOG);
  pumpFor(100);
  EXPECT_FALSE(menuGreyed(ID_START_DATA_LOG));
  EXPECT_TRUE(menuGreyed(ID_STOP_DATA_LOG));
}

// Last: Exit with both logs open ends the real loop with 0 and closes both files.
TEST_F(Gui, ExitClosesBothLogsAndEndsTheLoopWithZero) {
  std::string trafficLog = tempFolder() + "gui-exit-traffic.log";
  std::string dataLog = tempFolder() + "gui-exit-data.log";
  DeleteFileA(trafficLog.c_str());
  DeleteFileA(dataLog.c_str());
  expectDialog("Save As", chooseFile(trafficLog));
  postToMain(ID_START_TRAFFIC_LOG);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  expectDialog("Save As", chooseFile(dataLog));
  postToMain(ID_START_DATA_LOG);
  ASSERT_TRUE(pumpUntil(dialogStepsDone, 10000));
  size_t mark = transcriptSize();
  postToMain(328);  // Dld Tilt: a tilt reading goes into the data log
  ASSERT_TRUE(waitForSent(mark, {0x1c}));
  pumpFor(500);
  postToMain(ID_EXIT);
  int exitCode = runMessageLoop(accelerators());
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(mainWindow(), nullptr);
  // Closed files can be opened without sharing.
  for (const std::string& path : {trafficLog, dataLog}) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  EXPECT_NE(readFile(trafficLog).find("\t1c cdgDldTilt\r\n"), std::string::npos);
  EXPECT_FALSE(readFile(dataLog).empty());
  closeSerialPort();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setAppInstance(GetModuleHandleA(nullptr));
  setAccelerators(loadMainAccelerators());
  openSerialPort(1);
  resetCalibrationStore();
  if (!createMainDialog()) {
    std::fprintf(stderr, "the main dialog could not be created\n");
    return 1;
  }
  takeInitialSnapshot();
  startDialogDriver();
  return RUN_ALL_TESTS();
}
