// Wine GUI stories of kinestim-host.exe's window side: the real dialog templates, dialog procedures,
// message loop steps, the Windows serial backend on a faulty line and the C runtime's log formats,
// driven by window messages against kinestim-sim on COM1.
#include "app/dispatcher.h"
#include "app/host_state.h"
#include "link/catalogue.h"
#include "link/serial_port.h"
#include "logging/data_log.h"
#include "frontends/win32/win32_gui.h"
#include "platform/window.h"
#include "resource.h"
#include "script/samples.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "../test_bytes.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <regex>

namespace {

using Action = std::function<void(HWND)>;
using Strings = std::vector<std::string>;
HACCEL gAccelerators = nullptr;

// --- Harness: pumping through the program's loop steps, control read-back, transcript ----

void pumpFor(int ms) {
  MSG message;
  for (DWORD start = GetTickCount(); static_cast<int>(GetTickCount() - start) < ms;) {
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    else processLoopMessage(gAccelerators, &message);
  }
}
bool pumpUntil(const std::function<bool()>& condition, int ms = 10000) {
  for (DWORD start = GetTickCount(); !condition(); pumpFor(10)) {
    if (static_cast<int>(GetTickCount() - start) >= ms) return condition();
  }
  return true;
}

std::string controlText(HWND dialog, int id) {
  std::string text(8192, '\0');
  return text.substr(0, GetDlgItemTextA(dialog, id, text.data(), static_cast<int>(text.size())));
}
std::string mainText(int id) { return controlText(mainWindowHandle(), id); }
bool mainEnabled(int id) { return IsWindowEnabled(GetDlgItem(mainWindowHandle(), id)) != FALSE; }
bool mainVisible(int id) { return IsWindowVisible(GetDlgItem(mainWindowHandle(), id)) != FALSE; }
bool menuGreyed(int id) { return (GetMenuState(GetMenu(mainWindowHandle()), id, MF_BYCOMMAND) & MF_GRAYED) != 0; }
bool checked(int id) { return IsDlgButtonChecked(mainWindowHandle(), id) == BST_CHECKED; }
std::string slider(int id, UINT m) { return " " + std::to_string(SendDlgItemMessageA(mainWindowHandle(), id, m, 0, 0)); }
int windowWidth() { RECT r{}; GetWindowRect(mainWindowHandle(), &r); return r.right - r.left; }
// "1"/"0" for each control: whether the test holds for it.
std::string bits(std::initializer_list<int> ids, bool (*test)(int)) {
  std::string out;
  for (int id : ids) out += test(id) ? '1' : '0';
  return out;
}
std::string tempFolder() { char path[MAX_PATH] = ""; GetTempPathA(sizeof path, path); return path; }
std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The simulator's transcript from a mark() on: host-to-device frames are "time > 09 03 80 name" lines.
std::string transcript() { return readFile(std::getenv("KINESTIM_SIM_TRANSCRIPT")); }
size_t mark() { return transcript().size(); }
int countSent(size_t from, const std::string& payload) {  // payload: hexadecimal pairs, or a pattern of them
  const std::string text = transcript().substr(from);
  const std::regex frame("> " + payload + " ");
  return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), frame), std::sregex_iterator()));
}
bool waitForSent(size_t from, const std::string& f) { return pumpUntil([&] { return countSent(from, f) > 0; }); }
bool nothingSentAfterAWhile(size_t from) { pumpFor(250); return countSent(from, "[0-9a-f]{2}") == 0; }

// --- Modal dialog driver: a thread timer, so it also runs inside modal loops ---------------

// A dialog caption to wait for (and until ready holds for it), and what to do to it.
struct Step { std::string caption; Action action; std::function<bool(HWND)> ready; };
std::deque<Step> gSteps;
Strings gWarnings;  // Warnings no step expected: dismissed and recorded

HWND findDialog(const std::string& caption) {
  HWND dialog = FindWindowA("#32770", caption.c_str());
  return dialog != nullptr && IsWindowVisible(dialog) && IsWindowEnabled(dialog) ? dialog : nullptr;
}

void CALLBACK driverTick(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = gSteps.empty() ? nullptr : findDialog(gSteps.front().caption);
  if (dialog != nullptr && (!gSteps.front().ready || gSteps.front().ready(dialog))) {
    Step step = gSteps.front();
    gSteps.pop_front();
    return step.action(dialog);
  }
  HWND warning = findDialog("Warning");
  if (warning == nullptr) return;
  // A message box's text (its static control), and whether it belongs to a dialog over the main window.
  const bool overDialog = GetWindow(warning, GW_OWNER) != mainWindowHandle();
  gWarnings.push_back(controlText(warning, 0xffff) + (overDialog ? " (over a dialog)" : ""));
  PostMessageA(warning, WM_COMMAND, IDOK, 0);
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
// Types a path into a file dialog (Explorer style: combo 0x47c, older: edit 0x480) and confirms.
Action chooseFile(const std::string& path) {
  return [path](HWND dialog) {
    HWND name = GetDlgItem(dialog, 0x47c);
    SetWindowTextA(name != nullptr ? name : GetDlgItem(dialog, 0x480), path.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
}

// --- Main window helpers -----------------------------------------------------------------

void postToMain(int id) { PostMessageA(mainWindowHandle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
void click(int id) { SendDlgItemMessageA(mainWindowHandle(), id, BM_CLICK, 0, 0); }
bool postAndDrive(int id) { postToMain(id); return pumpUntil(stepsDone); }
// Types a number into the Command box and presses Send as a click would.
void typeCommand(const char* number) { SetDlgItemTextA(mainWindowHandle(), IDC_COMMAND_BOX, number); click(IDC_SEND); }
bool modeBecomes(const char* m, int ms = 10000) { return pumpUntil([&] { return mainText(IDC_MODE_FIELD) == m; }, ms); }

class Gui : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(pumpUntil(stepsDone)) << "a dialog the story expected never appeared: " << gSteps.front().caption;
    gSteps.clear();
    EXPECT_EQ(std::exchange(gWarnings, {}), Strings{}) << "unexpected Warning boxes";
  }
};

// --- Stories, in order: each starts where the one before left the program -----------------

TEST_F(Gui, StartsGatedThenScrollsAndTakesParameters) {
  // The template as created, read before any message ran: only the Command box and Send
  // enabled, Local Control checked, the Stop Log entries greyed, the sliders at 127 with the
  // range and page their keys follow.
  std::string state;
  for (int id : {IDC_MODE_LABEL, IDC_MODE_FIELD, IDC_SCRIPT_STATUS, IDC_RUN_STOP, IDC_STATUS_BAR, IDC_TILT_X,
                 IDC_TILT_Y, IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4})
    state.append("|").append(mainText(id));
  state += bits({IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE, IDC_READ_TILT, IDC_TILT_LOOP,
                 IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4, IDC_COMMAND_BOX, IDC_SEND}, mainEnabled) +
           " checked " + bits({IDC_LOCAL_CONTROL}, checked) + " greyed " +
           bits({ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG, ID_START_DATA_LOG, ID_STOP_DATA_LOG}, menuGreyed);
  for (int id : {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4}) state += slider(id, TBM_GETPOS);
  for (UINT m : {TBM_GETRANGEMIN, TBM_GETRANGEMAX, TBM_GETPAGESIZE}) state += slider(IDC_SLIDER_2, m);
  EXPECT_EQ(state, "|Mode|Unknown|Stopped|&Run|Turn on the Kinestim now|||1 (?)|2 (?)|"
                   "3 (?)|4 (?)000000000011 checked 1 greyed 0101 127 127 127 127 0 255 20");
  // The collapsed width ends just left of the Sent pane.
  RECT window{}, sent{};
  GetWindowRect(mainWindowHandle(), &window), GetWindowRect(GetDlgItem(mainWindowHandle(), IDC_SENT_PANE), &sent);
  EXPECT_EQ(collapsedWindowWidth(), sent.left - window.left - 10);
  EXPECT_EQ(expandedWindowWidth(), windowWidth());

  // Collapsed on the first loop pass: what lies outside is hidden, so Tab cannot reach it, and
  // Send is greyed, so Enter cannot send what the hidden Command box holds.
  const std::initializer_list<int> advanced = {IDC_SENT_LABEL, IDC_RECEIVED_LABEL, IDC_SENT_PANE, IDC_RECEIVED_PANE,
                                               IDC_COMMAND_BOX, IDC_SEND, IDC_CLEAR};
  ASSERT_TRUE(pumpUntil([] { return windowWidth() == collapsedWindowWidth(); })) << windowWidth();
  EXPECT_EQ(bits(advanced, mainVisible) + bits({IDC_SEND}, mainEnabled), "00000000");
  postToMain(ID_TOGGLE_ADVANCED);
  ASSERT_TRUE(pumpUntil([] { return windowWidth() == expandedWindowWidth(); }));
  EXPECT_EQ(bits(advanced, mainVisible) + bits({IDC_SEND}, mainEnabled), "11111111");

  // In Idle, Local Control's mark goes at once with a click (Disable Local Control), which the
  // button does not toggle by itself; another notification than a click does nothing.
  ASSERT_TRUE(modeBecomes("Idle")) << mainText(IDC_MODE_FIELD);
  size_t from = mark();
  SendMessageA(mainWindowHandle(), WM_COMMAND, MAKEWPARAM(IDC_LOCAL_CONTROL, BN_SETFOCUS), 0);
  click(IDC_LOCAL_CONTROL);
  ASSERT_TRUE(!checked(IDC_LOCAL_CONTROL) && waitForSent(from, "17"));

  // Direct mode: the sliders' scroll messages, then the parameter dialogs.
  postToMain(302);
  ASSERT_TRUE(modeBecomes("Direct"));
  pumpFor(250);  // the answer to cdgDldAllElectrodes has settled the sliders
  HWND main = mainWindowHandle(), slider = GetDlgItem(main, IDC_SLIDER_2);
  // Each scroll code sends at most one command; the procedure's own answer, called as the
  // dialog manager calls it; the caption follows the position.
  const struct { int code; const char* sent; bool handled; const char* caption; } codes[] = {
      {TB_LINEUP, "09 02 3d", 1, "2 (-1.34)"}, {TB_THUMBTRACK, nullptr, 1, "2 (-1.32)"},
      {TB_BOTTOM, "09 02 3f", 1, "2 (-1.30)"}, {TB_ENDTRACK, nullptr, 0, "2 (-1.30)"}};
  for (int position = 61; const auto& c : codes) {
    SendMessageA(slider, TBM_SETPOS, TRUE, position++);
    from = mark();
    INT_PTR handled = MainDialogProc(main, WM_VSCROLL, MAKEWPARAM(c.code, 0), reinterpret_cast<LPARAM>(slider));
    EXPECT_TRUE(c.sent == nullptr || waitForSent(from, c.sent)) << c.code;
    pumpFor(c.sent ? 100 : 200);
    EXPECT_EQ((handled != 0) * 10 + countSent(from, "09"), c.handled * 10 + (c.sent != nullptr)) << "code " << c.code;
    EXPECT_EQ(mainText(IDC_CAPTION_2), c.caption) << c.code;
  }
  // A scroll message from a window that is not a slider is not handled.
  EXPECT_FALSE(MainDialogProc(main, WM_VSCROLL, TB_LINEDOWN, reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_SENT_PANE))));

  // Typed into the Command box, what the dialog gets, and the frame it sends (none when
  // cancelled). A refused value gives a Warning that belongs to the dialog, which then stays
  // open over a disabled main window for a correction.
  const Action ok = press(IDC_PARAM_OK);
  bool mainOff = false;
  const struct { const char* typed; Action action; const char* sent; } dialogs[] = {
      {"9", [&](HWND d) {  // refused, then corrected in the same dialog
         expectDialog("Enter Parameters", [&](HWND again) {
           mainOff = !IsWindowEnabled(main);
           press(IDC_PARAM_OK, {{IDC_ELECTRODE_EDIT, "4"}, {IDC_CURRENT_EDIT, "200"}})(again);
         });
         press(IDC_PARAM_OK, {{IDC_ELECTRODE_EDIT, "2"}, {IDC_CURRENT_EDIT, "1.44"}})(d);
       }, "09 04 c8"},
      {"10", press(IDOK, {{IDC_CURRENT1_EDIT, "128"}, {IDC_CURRENT2_EDIT, "144"}, {IDC_CURRENT3_EDIT, "160"},
                          {IDC_CURRENT4_EDIT, "176"}}), "0a 80 90 a0 b0"},  // Enter is OK
      {"15", press(IDC_PARAM_CANCEL), nullptr}, {"27", press(IDCANCEL), nullptr},
      {"30", [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, nullptr},
      // The templates' defaults.
      {"27", ok, "1b 00 00 10"}, {"15", ok, "0f 00 00"}, {"30", ok, "1e 0a 00 01"}};
  for (const auto& c : dialogs) {
    from = mark();
    expectDialog("Enter Parameters", c.action);
    typeCommand(c.typed);
    ASSERT_TRUE(pumpUntil(stepsDone)) << c.typed;
    EXPECT_TRUE(c.sent == nullptr ? nothingSentAfterAWhile(from) : waitForSent(from, c.sent)) << c.typed;
    EXPECT_TRUE(pumpUntil([] { return parameterWindowHandle() == nullptr; }, 1000)) << c.typed;
  }
  pumpFor(1000);  // the tilt loop's readings, which must not warn either
  EXPECT_EQ(std::exchange(gWarnings, {}), Strings{"Current must be a number from 0 to 255, not \"1.44\" (over a dialog)"});
  EXPECT_TRUE(mainOff);
}

TEST_F(Gui, UploadsSurvivesTheLineThenLogsAndExits) {
  postToMain(ID_IDLE);
  ASSERT_TRUE(modeBecomes("Idle"));
  const std::string source = tempFolder() + "script.txt";  // zero current, then a long wait
  std::ofstream(source, std::ios::binary) << "SetAllElectrodes 128 128 128 128\r\nDelay 5000\r\nStop\r\n";
  size_t from = mark();
  // The dialog is modal: everything inside it happens in these steps, the last once the upload is
  // over. Preview puts the README example's summary in the pane and opens its plot; Upload shows
  // the summary of what it sends above its success.
  std::string example = "Z:" KINESTIM_EXAMPLES "/biphasic-loop.ks";
  std::replace(example.begin(), example.end(), '/', '\\');
  expectDialog("Script Manager", press(IDC_SM_PREVIEW));
  expectDialog("Open", chooseFile(example));
  expectDialog("Script Manager", press(IDC_SM_UPLOAD), [](HWND d) {
    return controlText(d, IDC_SM_COMPILER_OUTPUT) ==
               "does not stop: from step 26 it repeats the steps from 1 (Goto 5 at 49)\r\n"
               "repetition: 0.625 s (25 steps); the figures below are for one repetition\r\n"
               "electrode 1: -1.00 to +1.00, non-zero for 0.200 s, net charge 0.000\r\n"
               "electrode 2: -1.50 to +1.50, non-zero for 0.100 s, net charge 0.000\r\n"
               "electrode 3: -0.50 to +0.50, non-zero for 0.175 s, net charge -0.0125\r\n"
               "electrode 4: 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\r\n"
               "Warning: electrode 3 is not charge-balanced (net -0.0125)\r\n" &&
           IsWindowVisible(FindWindowA("KinestimPicture", "Preview"));
  });
  expectDialog("Open", chooseFile(source));
  std::string zero;
  for (char e : {'1', '2', '3', '4'})
    zero += std::string("electrode ") + e + ": 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\r\n";
  expectDialog("Script Manager", press(IDCANCEL), [zero](HWND d) {
    return controlText(d, IDC_SM_COMPILER_OUTPUT) == "duration: 125.025 s (5001 steps), ends at Stop at 8\r\n" + zero +
                                                         "Build Successful\r\n\r\nUpload Successful";
  });
  click(IDC_SCRIPT_MANAGER);
  ASSERT_TRUE(pumpUntil([] { return stepsDone() && scriptManagerWindowHandle() == nullptr; }, 30000))
      << controlText(scriptManagerWindowHandle(), IDC_SM_COMPILER_OUTPUT);
  EXPECT_EQ(countSent(from, "0d 00 00 03 80 80 80 80 04 88 13 00"), 1);

  // The serial backend on the line's faults: a receive attempt on a quiet line comes back at
  // once; a stray byte, then a frame stalled for longer than the host waits, show in the status
  // bar; a pulled cable shows Link lost, and the link comes back by itself.
  DWORD start = GetTickCount();
  pumpFor(300);
  EXPECT_LT(GetTickCount() - start, 800u);
  const struct { const char* fault; const char* status; } faults[] = {
      {"garbage 13", "Packet tossed for invalid SOT character: 0x13"},
      {"stall-next 1500", "Packet dropped: no byte for 1000 ms inside a frame"}};
  for (const auto& c : faults) {
    std::ofstream(std::getenv("KINESTIM_SIM_CONTROL")) << c.fault << "\n";
    pumpFor(200);
    start = GetTickCount();
    postToMain(308);  // Dld Mode, which the device answers
    EXPECT_TRUE(pumpUntil([&] { return mainText(IDC_STATUS_BAR) == c.status; })) << mainText(IDC_STATUS_BAR);
    EXPECT_GE(GetTickCount() - start, c.fault[0] == 's' ? 900u : 0u);
    pumpFor(1500);  // the stalled frame's late rest, tossed
  }
  std::ofstream(std::getenv("KINESTIM_SIM_CONTROL")) << "hangup 1500\n";
  ASSERT_TRUE(modeBecomes("Link lost")) << mainText(IDC_MODE_FIELD);
  EXPECT_EQ(mainText(IDC_STATUS_BAR), "Link lost on COM1 - re-opening the port");
  ASSERT_TRUE(modeBecomes("Program Script", 20000)) << mainText(IDC_MODE_FIELD);  // the device kept its mode
  EXPECT_EQ(std::exchange(gWarnings, {}), Strings{"Failed to Read Comm port while checking for SOT"});

  // The logs on, the menus following; tilt readings go into the data log as the fields show
  // them (the C runtime's formats); Exit then closes both files and ends the loop with 0.
  const auto menus = {ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG, ID_START_DATA_LOG, ID_STOP_DATA_LOG};
  expectDialog("Save As", press(IDCANCEL));  // a cancelled Save As leaves the log off
  ASSERT_TRUE(postAndDrive(ID_START_TRAFFIC_LOG));
  std::string greyed = bits(menus, menuGreyed);
  for (auto [id, name] : {std::pair{ID_START_TRAFFIC_LOG, "traffic.log"}, std::pair{ID_START_DATA_LOG, "data.log"}}) {
    expectDialog("Save As", chooseFile(tempFolder() + name));
    ASSERT_TRUE(postAndDrive(id));
    pumpFor(100);
    greyed += " " + bits(menus, menuGreyed);
  }
  EXPECT_EQ(greyed, "0101 1001 1010");
  from = mark();
  postToMain(328);  // Dld Tilt
  ASSERT_TRUE(waitForSent(from, "1c"));
  pumpFor(400);
  setDataLogTimeStamps(false);
  const struct { uint8_t codes[4]; Bytes payload; } readings[] = {
      {{127, 127, 127, 200}, {mdgTilt, 100, 0, 88, 2, 76, 4, 220, 5}},
      {{128, 255, 1, 100}, {mdgTilt, 0, 0, 57, 2, 38, 4, 227, 5}}};
  std::string fields;
  for (const auto& c : readings) {
    for (int e = 1; e <= 4; ++e) setElectrodeCode(e, c.codes[e - 1]);
    Bytes frame = frameOf(c.payload);
    handleDeviceMessage(Packet{frame.data()});
    fields += mainText(IDC_TILT_X) + " " + mainText(IDC_TILT_Y) + "|";
  }
  EXPECT_EQ(fields, "28.1369 -21.7481|90.0001 0.4584|");
  postToMain(ID_EXIT);
  EXPECT_EQ(runMessageLoop(gAccelerators), 0);
  EXPECT_EQ(mainWindowHandle(), nullptr);
  // The program opens its logs without sharing: only closed files can be read here.
  EXPECT_NE(readFile(tempFolder() + "traffic.log").find("\t1c cdgDldTilt\r\n"), std::string::npos);
  EXPECT_NE(readFile(tempFolder() + "data.log").find(
      "\t\t  -0.02\t  -0.02\t  -0.02\t  +1.44\t\t     28.1\t    -21.7\r\n"
      "\t\t  +0.00\t  +2.54\t  -2.54\t  -0.56\t\t     90.0\t      0.5\r\n"), std::string::npos)
      << readFile(tempFolder() + "data.log");
  // Script sample fields: on the current grid their own code, off it truncated in extended precision.
  const struct { const char* field; int code; } samples[] = {
      {"1", 178}, {"2.54", 255}, {"-2.56", 0}, {"2.56", 256}, {"0.999999998", 177}};
  for (const auto& c : samples) {
    int code = -12345;
    EXPECT_TRUE(sampleCode(c.field, &code) && code == c.code) << c.field << " gave " << code;
  }
}

// The main window made again, as at a restart, against the device left in Program Script:
// "Unknown" and "?" until the device answers, then what it reports. In Direct with a current,
// Exit asks with "Do not close" the default (the real program's restart, in wine-gui.sh,
// goes on to "Idle and close").
TEST_F(Gui, RestartShowsTheDeviceAndExitInDirectAsks) {
  ASSERT_TRUE(createMainDialog());
  EXPECT_EQ(mainText(IDC_MODE_FIELD) + "|" + mainText(IDC_CAPTION_1), "Unknown|1 (?)");
  ASSERT_TRUE(modeBecomes("Program Script")) << mainText(IDC_MODE_FIELD);
  EXPECT_TRUE(pumpUntil([] { return mainText(IDC_CAPTION_1) == "1 (-0.02)"; })) << mainText(IDC_CAPTION_1);
  postToMain(302);
  ASSERT_TRUE(modeBecomes("Direct"));
  pumpFor(250);
  HWND slider = GetDlgItem(mainWindowHandle(), IDC_SLIDER_1);
  size_t from = mark();
  SendMessageA(slider, TBM_SETPOS, TRUE, 167);
  MainDialogProc(mainWindowHandle(), WM_VSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 0), reinterpret_cast<LPARAM>(slider));
  ASSERT_TRUE(waitForSent(from, "09 01 a7"));
  int defaultButton = 0;
  expectDialog("Close Kinestim Host", [&](HWND d) {
    defaultButton = LOWORD(SendMessageA(d, DM_GETDEFID, 0, 0));
    press(IDC_CLOSE_STAY)(d);
  });
  from = mark();
  ASSERT_TRUE(postAndDrive(ID_EXIT));
  EXPECT_EQ(defaultButton, IDC_CLOSE_STAY);
  EXPECT_TRUE(nothingSentAfterAWhile(from) && mainWindowHandle() != nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setAppInstance(GetModuleHandleA(nullptr));
  gAccelerators = loadMainAccelerators();
  // the real program opens it by number
  if (const char* failure = openSerialPortPath("COM1")) return std::fprintf(stderr, "%s\n", failure), 1;
  resetHostState();
  if (!createMainDialog()) return std::fprintf(stderr, "the main dialog could not be created\n"), 1;
  SetTimer(nullptr, 0, 40, driverTick);
  return RUN_ALL_TESTS();
}
