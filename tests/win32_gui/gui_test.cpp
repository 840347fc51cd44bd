// Wine GUI stories of kinestim-host.exe's window side: the real dialog templates, dialog
// procedures and message loop steps, driven by window messages, against kinestim-sim on COM1.
#include "link/serial_port.h"
#include "frontends/win32/win32_gui.h"
#include "platform/window.h"
#include "resource.h"
#include "tilt/tilt.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

using Action = std::function<void(HWND)>;
using Strings = std::vector<std::string>;
const std::initializer_list<int> kSliders = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
HACCEL gAccelerators = nullptr;

// --- Harness: pumping through the program's loop steps, control read-back, transcript ----

void pumpFor(int ms) {
  MSG message;
  for (DWORD start = GetTickCount(); static_cast<int>(GetTickCount() - start) < ms;) {
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    else if (message.message == WM_QUIT) return PostQuitMessage(static_cast<int>(message.wParam));
    else processLoopMessage(gAccelerators, &message);
  }
}
bool pumpUntil(const std::function<bool()>& condition, int ms = 10000) {
  for (DWORD start = GetTickCount(); !condition(); pumpFor(10)) {
    if (static_cast<int>(GetTickCount() - start) >= ms) return condition();
  }
  return true;
}

HWND mainWindow() { return mainWindowHandle(); }
std::string controlText(HWND dialog, int id) {
  char text[8192] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}
std::string mainText(int id) { return controlText(mainWindow(), id); }
bool mainEnabled(int id) { return IsWindowEnabled(GetDlgItem(mainWindow(), id)) != FALSE; }
bool mainVisible(int id) { return IsWindowVisible(GetDlgItem(mainWindow(), id)) != FALSE; }
bool checked(int id) { return IsDlgButtonChecked(mainWindow(), id) == BST_CHECKED; }
bool menuGreyed(int id) { return (GetMenuState(GetMenu(mainWindow()), id, MF_BYCOMMAND) & MF_GRAYED) != 0; }
int windowWidth() { RECT r{}; GetWindowRect(mainWindow(), &r); return r.right - r.left; }
// "1"/"0" for each control: whether the test holds for it.
std::string bits(std::initializer_list<int> ids, bool (*test)(int)) {
  std::string out;
  for (int id : ids) out += test(id) ? '1' : '0';
  return out;
}
int sliderPos(int id) { return static_cast<int>(SendDlgItemMessageA(mainWindow(), id, TBM_GETPOS, 0, 0)); }

std::string tempFolder() { char path[MAX_PATH] = ""; GetTempPathA(sizeof path, path); return path; }
std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Host-to-device payloads ("09 03 80") in the simulator's transcript ("time > 09 03 80 name"
// lines), from the given count of them on; mark() is where a step starts.
Strings sentSince(size_t from) {
  Strings sent;
  const char* path = std::getenv("KINESTIM_SIM_TRANSCRIPT");
  std::istringstream lines(readFile(path != nullptr ? path : ""));
  for (std::string line, time, direction, token; std::getline(lines, line);) {
    std::istringstream tokens(line);
    if (!(tokens >> time >> direction) || direction != ">") continue;
    std::string& payload = sent.emplace_back();
    while (tokens >> token && token.size() == 2 && isxdigit(token[0]) && isxdigit(token[1])) {
      payload += (payload.empty() ? "" : " ") + token;
    }
  }
  sent.erase(sent.begin(), sent.begin() + std::min(from, sent.size()));
  return sent;
}
size_t mark() { return sentSince(0).size(); }
bool waitForSent(size_t from, const std::string& payload, int ms = 10000) {
  return pumpUntil([&] { Strings s = sentSince(from); return std::find(s.begin(), s.end(), payload) != s.end(); }, ms);
}
int countSent(size_t from, const char* code) {
  Strings s = sentSince(from);
  return static_cast<int>(std::count_if(s.begin(), s.end(), [&](const std::string& p) { return p.rfind(code, 0) == 0; }));
}
std::string hexOf(const char* format, int value) { char text[32]; snprintf(text, sizeof text, format, value); return text; }
bool nothingSentAfterAWhile(size_t from) { pumpFor(250); return sentSince(from).empty(); }

// --- Modal dialog driver: a thread timer, so it also runs inside modal loops ---------------

// A dialog caption to wait for (and until ready holds for it), and what to do to it.
struct Step { std::string caption; Action action; std::function<bool(HWND)> ready; };
std::deque<Step> gSteps;
Strings gWarnings;  // Warnings no step expected: dismissed and recorded

struct FindRequest { const std::string* caption; HWND found; };
BOOL CALLBACK findDialogCallback(HWND window, LPARAM param) {
  auto* r = reinterpret_cast<FindRequest*>(param);
  char className[64] = "", text[128] = "";
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, text, sizeof text);
  bool match = std::string(className) == "#32770" && IsWindowVisible(window) && IsWindowEnabled(window) &&
               window != mainWindow() && *r->caption == text;
  if (match) r->found = window;
  return !match;
}
// A visible, enabled top-level dialog of this thread with this caption.
HWND findDialog(const std::string& caption) {
  FindRequest request{&caption, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), findDialogCallback, reinterpret_cast<LPARAM>(&request));
  return request.found;
}
std::string boxText(HWND box) { return controlText(box, 0xffff); }  // a message box's static text

void CALLBACK driverTick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = gSteps.empty() ? nullptr : findDialog(gSteps.front().caption);
  if (dialog != nullptr && (!gSteps.front().ready || gSteps.front().ready(dialog))) {
    Step step = gSteps.front();
    gSteps.pop_front();
    return step.action(dialog);
  }
  HWND warning = gSteps.empty() || gSteps.front().caption != "Warning" ? findDialog("Warning") : nullptr;
  if (warning != nullptr) gWarnings.push_back(boxText(warning)), PostMessageA(warning, WM_COMMAND, IDOK, 0);
}
void expectDialog(const std::string& caption, Action action, std::function<bool(HWND)> ready = nullptr) {
  gSteps.push_back(Step{caption, std::move(action), std::move(ready)});
}
bool stepsDone() { return gSteps.empty(); }

Action press(int button, std::vector<std::pair<int, std::string>> texts = {}) {
  return [texts, button](HWND dialog) {
    for (const auto& [id, text] : texts) SetDlgItemTextA(dialog, id, text.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
  };
}
// A real key press as the dialog's own loop sees it: WM_KEYDOWN on the focused edit.
Action pressEscape(int focusId) {
  return [focusId](HWND dialog) {
    PostMessageA(GetDlgItem(dialog, focusId), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(GetDlgItem(dialog, focusId), WM_KEYUP, VK_ESCAPE, 0xC0010001);
  };
}
// Types a path into a file dialog (Explorer style: combo 0x47c, older: edit 0x480) and confirms.
Action chooseFile(const std::string& path) {
  return [path](HWND dialog) {
    HWND name = GetDlgItem(dialog, 0x47c);
    SetWindowTextA(name != nullptr ? name : GetDlgItem(dialog, 0x480), path.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
}

// --- Main window helpers -----------------------------------------------------------------

void postToMain(int id) { PostMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
void click(int id) { SendDlgItemMessageA(mainWindow(), id, BM_CLICK, 0, 0); }
bool postAndDrive(int id) { postToMain(id); return pumpUntil(stepsDone); }
// Types a number into the Command box and presses Send as a click would.
void typeCommand(const char* number) { SetDlgItemTextA(mainWindow(), IDC_COMMAND_BOX, number); click(IDC_SEND); }
// A key as the program's loop sees it, with Ctrl or Shift held or not, through the
// accelerator and dialog steps.
void pressKey(UINT key, bool ctrl = false, bool shift = false) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = keys[VK_LCONTROL] = ctrl ? 0x80 : 0;
  keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  HWND focus = GetFocus() != nullptr ? GetFocus() : mainWindow();
  PostMessageA(focus, WM_KEYDOWN, key, 0x00000001);
  PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
  pumpFor(20);
  keys[VK_CONTROL] = keys[VK_LCONTROL] = keys[VK_SHIFT] = keys[VK_LSHIFT] = 0;
  SetKeyboardState(keys);
}
bool modeIs(const char* mode) { return mainText(IDC_MODE_FIELD) == mode; }
void enterMode(int commandId, const char* mode) {
  if (!modeIs(mode)) postToMain(commandId);
  ASSERT_TRUE(pumpUntil([&] { return modeIs(mode); })) << "mode " << mainText(IDC_MODE_FIELD);
}
bool widthBecomes(int width) { return pumpUntil([=] { return windowWidth() == width; }); }
std::string sliderCaption(int n, int position) {
  char text[32];
  snprintf(text, sizeof text, "%d (%+5.2f)", n, static_cast<float>(position * 0.02 - 2.56));
  return text;
}

// Control states read right after the main dialog was created, before any message ran.
struct { std::string texts, flags; int expanded = 0, collapsed = 0, measuredCollapsed = 0; } initial;

void takeInitialSnapshot() {
  char caption[64] = "";
  GetWindowTextA(mainWindow(), caption, sizeof caption);
  initial.texts = caption;
  for (int id : {IDC_MODE_LABEL, IDC_MODE_FIELD, IDC_SCRIPT_STATUS, IDC_RUN_STOP, IDC_STATUS_BAR, IDC_TILT_X,
                 IDC_TILT_Y, IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4}) {
    initial.texts.append("|").append(mainText(id));
  }
  initial.flags = bits({IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE, IDC_READ_TILT,
                        IDC_TILT_LOOP, IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4, IDC_COMMAND_BOX,
                        IDC_SEND}, mainEnabled) + " checked " + bits({IDC_LOCAL_CONTROL}, checked) + " greyed " +
                  bits({ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG, ID_START_DATA_LOG, ID_STOP_DATA_LOG}, menuGreyed);
  for (int id : kSliders) initial.flags.append(" ").append(std::to_string(sliderPos(id)));
  initial.expanded = windowWidth();
  RECT window{}, sent{};
  GetWindowRect(mainWindow(), &window);
  GetWindowRect(GetDlgItem(mainWindow(), IDC_SENT_PANE), &sent);
  initial.measuredCollapsed = sent.left - window.left - 10;
  initial.collapsed = collapsedWindowWidth();
}

// Tab, then Shift+Tab, around every control, collapsed and expanded: each lands on a visible
// control and none sends a frame (Tab is the character of Ctrl+I).
void tabAroundAtBothWidths() {
  size_t from = mark();
  for (int width = 0; width < 2; ++width, postToMain(ID_TOGGLE_ADVANCED), pumpFor(150)) {
    for (int i = 0; i < 32; ++i) {
      pressKey(VK_TAB, false, i >= 16);
      EXPECT_TRUE(GetFocus() == nullptr || IsWindowVisible(GetFocus())) << GetDlgCtrlID(GetFocus());
    }
  }
  EXPECT_TRUE(nothingSentAfterAWhile(from));
}

class Gui : public ::testing::Test {
 protected:
  void SetUp() override { gWarnings.clear(), gSteps.clear(); }
  void TearDown() override {
    EXPECT_TRUE(pumpUntil(stepsDone)) << "a dialog the story expected never appeared: " << gSteps.front().caption;
    gSteps.clear();
    EXPECT_EQ(gWarnings, Strings{}) << "unexpected Warning boxes";
  }
};

// --- Stories, in order: each starts where the one before left the program -----------------

TEST_F(Gui, StartsGatedCollapsesTogglesAndSwitchesModesByKey) {
  EXPECT_EQ(initial.texts, "Kinestim Host|Mode|Unknown|Stopped|&Run|Turn on the Kinestim now|||1 (-0.02)|2 (-0.02)|"
                           "3 (-0.02)|4 (-0.02)");
  // Only the Command box and Send enabled; the Stop Log entries greyed.
  EXPECT_EQ(initial.flags, "000000000011 checked 1 greyed 0101 127 127 127 127");
  const struct { const char* text; int port; } ports[] = {
      {"", 1}, {"3", 3}, {"0", 1}, {"-2", 1}, {"abc", 1}, {"12abc", 12}, {"   4", 4},
      {"+7", 7}, {"\t5 9", 5}, {"99999999999999999999", 2147483647}};
  for (const auto& c : ports) EXPECT_EQ(parsePortNumber(c.text), c.port) << '"' << c.text << '"';
  EXPECT_EQ(parsePortNumber(nullptr), 1);
  // A module without the program's resources: no dialog, so WinMain ends with a fatal error.
  HWND before = mainWindow();
  setAppInstance(GetModuleHandleA("kernel32.dll"));
  EXPECT_FALSE(createMainDialog());
  setAppInstance(GetModuleHandleA(nullptr));
  EXPECT_EQ(mainWindow(), before);

  // Collapsed on the first loop pass: what lies outside is hidden, so Tab cannot reach it, and
  // Send is greyed, so Enter cannot send what the hidden Command box holds.
  EXPECT_EQ(initial.collapsed, initial.measuredCollapsed);
  EXPECT_EQ(expandedWindowWidth(), initial.expanded);
  EXPECT_GT(initial.expanded, initial.collapsed + 100);
  const std::initializer_list<int> advanced = {IDC_SENT_LABEL, IDC_RECEIVED_LABEL, IDC_SENT_PANE, IDC_RECEIVED_PANE,
                                               IDC_COMMAND_BOX, IDC_SEND, IDC_CLEAR};
  ASSERT_TRUE(widthBecomes(initial.collapsed)) << windowWidth();
  EXPECT_EQ(bits(advanced, mainVisible) + bits({IDC_SEND}, mainEnabled), "00000000");
  postToMain(ID_TOGGLE_ADVANCED);
  ASSERT_TRUE(widthBecomes(initial.expanded));
  EXPECT_EQ(bits(advanced, mainVisible) + bits({IDC_SEND}, mainEnabled), "11111111");
  // Ctrl+A through the loop's accelerator step collapses it again; the keystroke reaches no control.
  SetDlgItemTextA(mainWindow(), IDC_COMMAND_BOX, "70");
  SetFocus(GetDlgItem(mainWindow(), IDC_COMMAND_BOX));
  pressKey('A', true);
  ASSERT_TRUE(widthBecomes(initial.collapsed));
  EXPECT_EQ(mainText(IDC_COMMAND_BOX), "70");
  postToMain(ID_TOGGLE_ADVANCED);
  ASSERT_TRUE(widthBecomes(initial.expanded));

  // Idle enables the controls but the sliders; Ctrl+D and Ctrl+I switch Direct mode once each.
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); })) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(bits({IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE, IDC_READ_TILT, IDC_TILT_LOOP,
                  IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4}, mainEnabled), "1111110000");
  EXPECT_NE(mainText(IDC_RECEIVED_PANE).find("mdgEnteredModeIdle"), std::string::npos);
  size_t from = mark();
  SetFocus(GetDlgItem(mainWindow(), IDC_COMMAND_BOX));
  pressKey('D', true);
  ASSERT_TRUE(pumpUntil([] { return modeIs("Direct"); })) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(bits(kSliders, mainEnabled), "1111");
  pressKey('I', true);
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); })) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(countSent(from, "02") * 10 + countSent(from, "03"), 11);
  EXPECT_EQ(bits(kSliders, mainEnabled), "0000");
  from = mark();  // Idle from Idle sends nothing
  pressKey('I', true);
  EXPECT_TRUE(nothingSentAfterAWhile(from));

  // Local Control: the mark changes at once with the click and stays; another notification
  // than a click does nothing.
  for (std::string code : {"17", "18"}) {  // unchecked: Disable Local Control; checked again: Enable
    click(IDC_LOCAL_CONTROL);
    EXPECT_EQ(checked(IDC_LOCAL_CONTROL), code == "18");
    ASSERT_TRUE(waitForSent(from, code));
    pumpFor(150);
    EXPECT_EQ(checked(IDC_LOCAL_CONTROL), code == "18");
  }
  from = mark();
  SendMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(IDC_LOCAL_CONTROL, BN_SETFOCUS),
               reinterpret_cast<LPARAM>(GetDlgItem(mainWindow(), IDC_LOCAL_CONTROL)));
  EXPECT_TRUE(nothingSentAfterAWhile(from) && checked(IDC_LOCAL_CONTROL));
}

TEST_F(Gui, TheCommandBoxSendsEchoesRefusesAndClears) {
  size_t from = mark();
  typeCommand("0x08");  // Dld Mode, hexadecimal
  ASSERT_TRUE(waitForSent(from, "08"));
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_SENT_PANE).rfind("08 cdgDldMode\r\n", 0) == 0; }, 2000))
      << mainText(IDC_SENT_PANE);
  EXPECT_EQ(mainText(IDC_COMMAND_BOX), "0x08");  // the box keeps its text
  from = mark();
  for (const char* text : {"31", "5000", "-1", "", "abc", "2 3"}) typeCommand(text);
  EXPECT_TRUE(nothingSentAfterAWhile(from));
  const std::string refused = "Command must be a number from 0 to 9999, not ";
  EXPECT_EQ(std::exchange(gWarnings, {}),
            (Strings{refused + "\"-1\"", refused + "\"\"", refused + "\"abc\"", refused + "\"2 3\""}));
  // Clear empties both panes, and so does 71 (Clear Sent/Rec'd Windows).
  auto answered = [] { return mainText(IDC_RECEIVED_PANE).find("1b mdgMode") != std::string::npos; };
  ASSERT_TRUE(pumpUntil(answered));
  click(IDC_CLEAR);
  pumpFor(50);
  EXPECT_EQ(mainText(IDC_SENT_PANE) + mainText(IDC_RECEIVED_PANE), "");
  typeCommand("0x08");
  ASSERT_TRUE(pumpUntil(answered));
  typeCommand("71");
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_SENT_PANE).empty() && mainText(IDC_RECEIVED_PANE).empty(); }));
}

TEST_F(Gui, DirectModeTabsDragsScrollsAndTakesParameters) {
  ASSERT_NO_FATAL_FAILURE(enterMode(302, "Direct"));
  pumpFor(250);  // the answer to cdgDldAllElectrodes has settled the sliders
  tabAroundAtBothWidths();
  // A real mouse drag on the thumb: the caption follows it, nothing is sent until the release,
  // then exactly one cdgSetElectrode.
  HWND main = mainWindow(), slider = GetDlgItem(main, IDC_SLIDER_3);
  size_t from = mark();
  RECT thumb{};
  SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  int x = (thumb.left + thumb.right) / 2, y = (thumb.top + thumb.bottom) / 2;
  SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  Strings captions;
  for (int step = 1; step <= 4; ++step) {
    SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y + step * 5));
    pumpFor(30);
    captions.push_back(mainText(IDC_CAPTION_3));
  }
  int dragged = sliderPos(IDC_SLIDER_3);
  EXPECT_TRUE(nothingSentAfterAWhile(from));
  EXPECT_GT(dragged, 127);
  EXPECT_NE(captions.front(), captions.back()) << "the caption follows the thumb";
  EXPECT_EQ(captions.back(), sliderCaption(3, dragged));
  SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, y + 20));
  ASSERT_TRUE(waitForSent(from, hexOf("09 03 %02x", dragged)));
  pumpFor(250);
  EXPECT_EQ(countSent(from, "09"), 1);

  // Each scroll code sends at most one command; the procedure's own answer, called as the
  // dialog manager calls it.
  slider = GetDlgItem(main, IDC_SLIDER_2);
  const struct { int code; bool sends, handled; } codes[] = {
      {TB_LINEUP, true, true}, {TB_LINEDOWN, true, true}, {TB_PAGEUP, true, true}, {TB_PAGEDOWN, true, true},
      {TB_THUMBPOSITION, true, true}, {TB_THUMBTRACK, false, true}, {TB_TOP, true, true}, {TB_BOTTOM, true, true},
      {TB_ENDTRACK, false, false}};
  int position = 60;
  for (const auto& c : codes) {
    SendMessageA(slider, TBM_SETPOS, TRUE, ++position);
    from = mark();
    INT_PTR handled = MainDialogProc(main, WM_VSCROLL, MAKEWPARAM(c.code, 0), reinterpret_cast<LPARAM>(slider));
    EXPECT_TRUE(!c.sends || waitForSent(from, hexOf("09 02 %02x", position))) << c.code;
    pumpFor(c.sends ? 100 : 200);
    EXPECT_EQ((handled != 0) * 10 + countSent(from, "09"), c.handled * 10 + c.sends) << "code " << c.code;
    EXPECT_TRUE(c.code == TB_ENDTRACK || mainText(IDC_CAPTION_2) == sliderCaption(2, position)) << c.code;
  }
  // Keys on the real trackbar: Page Down from 100 moves to 120 and sends it; End sends 255.
  SendMessageA(slider, TBM_SETPOS, TRUE, 100);
  from = mark();
  SetFocus(slider);
  for (auto [key, to] : {std::pair{VK_NEXT, 120}, std::pair{VK_END, 255}}) {
    SendMessageA(slider, WM_KEYDOWN, key, 0), SendMessageA(slider, WM_KEYUP, key, 0);
    ASSERT_TRUE(waitForSent(from, hexOf("09 02 %02x", to)));
  }
  // A scroll message from a window that is not a slider does nothing.
  SendMessageA(main, WM_VSCROLL, MAKEWPARAM(TB_LINEDOWN, 0), reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_SENT_PANE)));
  pumpFor(200);
  EXPECT_EQ(countSent(from, "09"), 2);
  EXPECT_EQ(mainText(IDC_CAPTION_2), "2 (+2.54)");
  SetFocus(GetDlgItem(main, IDC_COMMAND_BOX));

  // A decimal Current is refused by a Warning that belongs to the dialog: the main window
  // stays disabled once it is dismissed, and nothing goes out.
  from = mark();
  HWND owner = nullptr, dialog = nullptr;
  std::string warning, mainWasEnabled = "?";
  expectDialog("Enter Parameters", [&](HWND d) {
    dialog = d, press(IDC_PARAM_OK, {{IDC_ELECTRODE_EDIT, "2"}, {IDC_CURRENT_EDIT, "1.44"}})(d);
  });
  expectDialog("Warning", [&](HWND box) { owner = GetWindow(box, GW_OWNER), warning = boxText(box), press(IDOK)(box); });
  expectDialog("Enter Parameters", [&](HWND d) {
    mainWasEnabled = IsWindowEnabled(main) ? "enabled" : "disabled", press(IDC_PARAM_CANCEL)(d);
  });
  ASSERT_TRUE(postAndDrive(309));
  EXPECT_EQ(owner, dialog);
  EXPECT_EQ(warning + " / main " + mainWasEnabled, "Current must be a number from 0 to 255, not \"1.44\" / main disabled");
  EXPECT_TRUE(nothingSentAfterAWhile(from) && IsWindowEnabled(main));

  // Typed into the Command box, what the dialog gets, and the frame it sends (none when cancelled).
  const Action ok = press(IDC_PARAM_OK);
  const struct { const char* typed; Action action; std::string sent; } dialogs[] = {
      {"10", press(IDOK, {{IDC_CURRENT1_EDIT, "128"}, {IDC_CURRENT2_EDIT, "144"}, {IDC_CURRENT3_EDIT, "160"},
                          {IDC_CURRENT4_EDIT, "176"}}),  // Enter is OK
       "0a 80 90 a0 b0"},
      {"9", press(IDC_PARAM_OK, {{IDC_ELECTRODE_EDIT, "4"}, {IDC_CURRENT_EDIT, "0xc8"}}), "09 04 c8"},
      {"15", press(IDC_PARAM_CANCEL), {}},
      {"14", pressEscape(IDC_ADDRESS_EDIT), {}},
      {"30", [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, {}},
      {"27", press(IDCANCEL), {}},
      // The templates' defaults, typed in decimal, hexadecimal and with a leading zero.
      {"27", ok, "1b 00 00 10"}, {"0x0f", ok, "0f 00 00"}, {"14", ok, "0e 00 00 10"},
      {"036", ok, "1e 0a 00 01"}};
  for (const auto& c : dialogs) {
    from = mark();
    expectDialog("Enter Parameters", c.action);
    typeCommand(c.typed);
    ASSERT_TRUE(pumpUntil(stepsDone)) << c.typed;
    EXPECT_TRUE(c.sent.empty() ? nothingSentAfterAWhile(from) : waitForSent(from, c.sent)) << c.typed;
    EXPECT_TRUE(pumpUntil([] { return parameterWindowHandle() == nullptr; }, 1000)) << c.typed;
  }
  pumpFor(1000);  // the tilt loop's readings, which must not warn either
  EXPECT_EQ(sliderPos(IDC_SLIDER_4), 200);
  EXPECT_EQ(mainText(IDC_CAPTION_1) + mainText(IDC_CAPTION_2) + mainText(IDC_CAPTION_3) + mainText(IDC_CAPTION_4),
            "1 (+0.00)2 (+0.32)3 (+0.64)4 (+1.44)");
  // Commands this mode does not allow are refused by the device in a Warning; nothing else may warn.
  for (const std::string& w : std::exchange(gWarnings, {})) EXPECT_EQ(w.substr(0, 16), "Command Rejected");
}

TEST_F(Gui, ScriptManagerUploadsAndViewsThenRunAndStopRoundTrip) {
  ASSERT_NO_FATAL_FAILURE(enterMode(ID_IDLE, "Idle"));
  std::string source = tempFolder() + "gui-test-script.txt";
  std::ofstream(source, std::ios::binary)
      << "; zero current, then a long wait\r\nSetAllElectrodes 128 128 128 128\r\nDelay 5000\r\nStop\r\n";
  size_t from = mark();
  std::string output, listing, nextAddress;
  // The dialog is modal: everything inside it happens in these steps.
  expectDialog("Script Manager", press(IDC_SM_UPLOAD));
  expectDialog("Open", chooseFile(source));
  expectDialog("Script Manager", [&](HWND d) { output = controlText(d, IDC_SM_COMPILER_OUTPUT), press(IDC_SM_VIEW)(d); },
               [](HWND d) { return !controlText(d, IDC_SM_COMPILER_OUTPUT).empty(); });
  expectDialog("Script Manager", [&](HWND d) {
    listing = controlText(d, IDC_SM_MEMORY), nextAddress = controlText(d, IDC_SM_ADDRESS);
    pressEscape(IDC_SM_ADDRESS)(d);
  }, [](HWND d) { return controlText(d, IDC_SM_ADDRESS) != "0"; });
  click(IDC_SCRIPT_MANAGER);
  ASSERT_TRUE(pumpUntil([] { return stepsDone() && scriptManagerWindowHandle() == nullptr; }, 30000));
  EXPECT_EQ(output, "Build Successful\r\n\r\nUpload Successful");
  EXPECT_EQ(listing.rfind("   0\tSetAllElectrodes\t128 128 128 128\r\n   5\tDelay\t\t5000\r\n   8\tStop\r\n", 0), 0u)
      << listing;
  EXPECT_EQ(nextAddress, "26");  // 20 instructions: three, then 17 one-byte Stops
  EXPECT_EQ(sentSince(from).at(0), "04");  // cdgSelectModePgmScr before the dialog opened
  EXPECT_TRUE(waitForSent(from, "0d 00 00 03 80 80 80 80 04 88 13 00"));

  ASSERT_NO_FATAL_FAILURE(enterMode(ID_IDLE, "Idle"));
  from = mark();
  expectDialog("Enter Parameters", press(IDC_PARAM_OK, {{IDC_ADDRESS_EDIT, "0"}}));
  click(IDC_RUN_STOP);
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_RUN_STOP) == "St&op"; })) << mainText(IDC_STATUS_BAR);
  Strings sent = sentSince(from);
  sent.resize(2);  // Select Mode Run Script, then Run at the entered address
  EXPECT_EQ(sent, (Strings{"06", "12 00 00"}));
  EXPECT_EQ(mainText(IDC_SCRIPT_STATUS), "Running at 0x000");
  tabAroundAtBothWidths();
  from = mark();
  click(IDC_RUN_STOP);
  ASSERT_TRUE(pumpUntil([] { return mainText(IDC_RUN_STOP) == "&Run"; }));
  EXPECT_EQ(sentSince(from).at(0), "14");  // only cdgScrStop from the button
  EXPECT_TRUE(pumpUntil([] { return mainText(IDC_SCRIPT_STATUS) == "Stopped"; }));
  ASSERT_NO_FATAL_FAILURE(enterMode(ID_IDLE, "Idle"));
}

TEST_F(Gui, ACablePulledShowsLinkLostAndComesBackByItself) {
  const char* control = std::getenv("KINESTIM_SIM_CONTROL");
  ASSERT_NE(control, nullptr);
  std::ofstream(control) << "hangup 1500\n";
  ASSERT_TRUE(pumpUntil([] { return modeIs("Link lost"); })) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(mainText(IDC_STATUS_BAR), "Link lost on COM1 - re-opening the port");
  EXPECT_EQ(bits({IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_READ_TILT}, mainEnabled), "0000");
  ASSERT_TRUE(pumpUntil([] { return modeIs("Idle"); }, 20000)) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(bits({IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_READ_TILT}, mainEnabled), "1111");
  EXPECT_EQ(std::exchange(gWarnings, {}), Strings{"Failed to Read Comm port while checking for SOT"});
}

// Last: each log on, off and on again; Exit then closes both files and ends the real loop with 0.
TEST_F(Gui, LogMenusFollowTheLogsAndExitClosesBothAndEndsTheLoopWithZero) {
  expectDialog("Save As", press(IDCANCEL));  // a cancelled Save As leaves the log off
  ASSERT_TRUE(postAndDrive(ID_START_TRAFFIC_LOG));
  pumpFor(100);
  EXPECT_EQ(bits({ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG}, menuGreyed), "01");
  const struct { int start, stop; std::string name; } logs[] = {
      {ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG, "gui-traffic"}, {ID_START_DATA_LOG, ID_STOP_DATA_LOG, "gui-data"}};
  for (const auto& log : logs) {
    for (const char* round : {"-1.log", "-2.log"}) {
      DeleteFileA((tempFolder() + log.name + round).c_str());
      expectDialog("Save As", chooseFile(tempFolder() + log.name + round));
      ASSERT_TRUE(postAndDrive(log.start));
      pumpFor(100);
      EXPECT_EQ(bits({log.start, log.stop}, menuGreyed), "10") << log.name;
      if (round[1] == '2') break;  // left on for Exit
      postToMain(log.stop);
      pumpFor(100);
      EXPECT_EQ(bits({log.start, log.stop}, menuGreyed), "01") << log.name;
    }
  }
  size_t from = mark();
  postToMain(328);  // Dld Tilt: a tilt reading goes into the data log
  ASSERT_TRUE(waitForSent(from, "1c"));
  pumpFor(400);
  postToMain(ID_EXIT);
  EXPECT_EQ(runMessageLoop(gAccelerators), 0);
  EXPECT_EQ(mainWindow(), nullptr);
  std::string trafficLog = tempFolder() + "gui-traffic-2.log", dataLog = tempFolder() + "gui-data-2.log";
  for (const std::string& path : {trafficLog, dataLog}) {  // closed files open without sharing
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  EXPECT_NE(readFile(trafficLog).find("\t1c cdgDldTilt\r\n"), std::string::npos) << readFile(trafficLog);
  EXPECT_FALSE(readFile(dataLog).empty());
  closeSerialPort();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setAppInstance(GetModuleHandleA(nullptr));
  gAccelerators = loadMainAccelerators();
  openSerialPort(1);
  resetCalibrationStore();
  if (!createMainDialog()) return std::fprintf(stderr, "the main dialog could not be created\n"), 1;
  takeInitialSnapshot();
  SetTimer(nullptr, 0, 40, driverTick);
  return RUN_ALL_TESTS();
}
