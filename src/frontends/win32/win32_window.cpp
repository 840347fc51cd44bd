// The window seam on real Win32 controls: texts, enable and check states, trackbars, the
// menu, message boxes, the Open and Save As dialogs, modal dialogs, the timer and commands.
#include "platform/window.h"
#include "frontends/win32/win32_gui.h"
#include "app/dispatcher.h"
#include "logging/traffic.h"
#include "resource.h"
#include <commctrl.h>
#include <commdlg.h>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

// Both common file dialogs use a 300-character name buffer.
constexpr int FILE_NAME_CHARS = 300;

#ifndef _WIN64
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the short (76-byte) form of the file dialog settings");
#endif

struct Win32WindowState {
  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;
  HWND scriptManagerWindow = nullptr;
  HWND parameterWindow = nullptr;
  int expandedWidth = 0;
  int collapsedWidth = 0;
  // The Sent and Received panes' texts, kept here and drawn at most once a timer tick:
  // setting a 4 KB edit text costs far more than a line arrives in, under load.
  std::string paneText[2];
  bool paneChanged[2] = {false, false};
};

Win32WindowState win;

HWND handleOf(Dialog d) {
  switch (d) {
    case Dialog::Main: return win.mainWindow;
    case Dialog::ScriptManager: return win.scriptManagerWindow;
    case Dialog::Parameters: return win.parameterWindow;
  }
  return nullptr;
}

HWND controlOf(Dialog d, int id) {
  HWND dialog = handleOf(d);
  return dialog != nullptr ? GetDlgItem(dialog, id) : nullptr;
}

LRESULT sendToSlider(int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND slider = controlOf(Dialog::Main, id);
  return slider != nullptr ? SendMessageA(slider, message, wParam, lParam) : 0;
}

const char* templateName(ParameterTemplate t) {
  switch (t) {
    case ParameterTemplate::Address: return "DIALOG_PARAMSADDRESS";
    case ParameterTemplate::AddressCount: return "DIALOG_PARAMSADDRESSCOUNT";
    case ParameterTemplate::CountAndStep: return "DIALOG_PARAMSCOUNTANDSTEP";
    case ParameterTemplate::Current: return "DIALOG_PARAMSCURRENT";
    case ParameterTemplate::Currents: return "DIALOG_PARAMSCURRENTS";
  }
  return "DIALOG_PARAMSADDRESS";
}

// Copies a chosen file name to the caller; a name that does not fit is refused rather than
// cut, so that no other file is ever opened or created.
bool copyChosenName(const char* chosen, char* path, int size) {
  size_t length = std::strlen(chosen);
  if (path == nullptr || size <= 0 || length >= static_cast<size_t>(size)) return false;
  std::memcpy(path, chosen, length + 1);
  return true;
}

int paneIndex(int id) { return id == IDC_SENT_PANE ? 0 : id == IDC_RECEIVED_PANE ? 1 : -1; }

// Draws the panes whose text changed since they were last drawn.
void drawChangedPanes() {
  for (int i = 0; i < 2; ++i) {
    if (!win.paneChanged[i]) continue;
    win.paneChanged[i] = false;
    if (win.mainWindow != nullptr)
      SetDlgItemTextA(win.mainWindow, i == 0 ? IDC_SENT_PANE : IDC_RECEIVED_PANE, win.paneText[i].c_str());
  }
}

void CALLBACK receiveTimerCallback(HWND, UINT, UINT_PTR, DWORD) {
  ReceiveTimerProc();
  drawChangedPanes();
}

}  // namespace

// --- Front-end internals ----------------------------------------------------------------
void setAppInstance(HINSTANCE instance) { win.instance = instance; }

HINSTANCE appInstance() {
  return win.instance != nullptr ? win.instance : GetModuleHandleA(nullptr);
}

HWND mainWindowHandle() { return win.mainWindow; }
HWND scriptManagerWindowHandle() { return win.scriptManagerWindow; }
HWND parameterWindowHandle() { return win.parameterWindow; }

void resetWin32Window() {
  HINSTANCE instance = win.instance;
  win = Win32WindowState{};
  win.instance = instance;
}

// Called by the dialog procedures as their dialogs initialise and end.
void setMainWindowHandle(HWND window) { win.mainWindow = window; }
void setScriptManagerWindowHandle(HWND window) { win.scriptManagerWindow = window; }
void setParameterWindowHandle(HWND window) { win.parameterWindow = window; }

void recordWindowWidths() {
  RECT window{};
  RECT sent{};
  GetWindowRect(win.mainWindow, &window);
  GetWindowRect(GetDlgItem(win.mainWindow, IDC_SENT_PANE), &sent);
  win.expandedWidth = window.right - window.left;
  // Measured from the window's own left edge, so it holds wherever the window was placed.
  win.collapsedWidth = sent.left - window.left - 10;
}

// --- Controls ---------------------------------------------------------------------------
bool dialogExists(Dialog d) {
  HWND dialog = handleOf(d);
  return dialog != nullptr && IsWindow(dialog);
}

void setControlText(Dialog d, int id, const char* text) {
  HWND dialog = handleOf(d);
  if (d == Dialog::Main && paneIndex(id) >= 0) {
    win.paneText[paneIndex(id)] = text != nullptr ? text : "";
    win.paneChanged[paneIndex(id)] = false;
  }
  if (dialog != nullptr) SetDlgItemTextA(dialog, id, text != nullptr ? text : "");
}

void putPaneLine(int paneId, const char* line) {
  const int own = paneIndex(paneId);
  if (own < 0) return;
  putLineOnTop(win.paneText[own], line);
  putLineOnTop(win.paneText[1 - own], "");
  win.paneChanged[0] = win.paneChanged[1] = true;
}

int getControlText(Dialog d, int id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  if (d == Dialog::Main && paneIndex(id) >= 0) drawChangedPanes();
  buffer[0] = '\0';
  if (controlOf(d, id) == nullptr) return 0;
  UINT copied = GetDlgItemTextA(handleOf(d), id, buffer, size);
  if (copied >= static_cast<UINT>(size)) copied = static_cast<UINT>(size - 1);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}

void enableControl(Dialog d, int id, bool enabled) {
  HWND control = controlOf(d, id);
  if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

// A control that is hidden while it has the focus hands it to the next tab stop, so that keys
// never go to a control the operator cannot see.
void showControl(Dialog d, int id, bool shown) {
  HWND control = controlOf(d, id);
  if (control == nullptr) return;
  bool focused = GetFocus() == control;
  ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
  if (!shown && focused) SendMessageA(handleOf(d), WM_NEXTDLGCTL, 0, FALSE);
}

void setCheckMark(Dialog d, int id, bool checked) {
  HWND dialog = handleOf(d);
  if (dialog != nullptr) CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool hasCheckMark(Dialog d, int id) {
  HWND dialog = handleOf(d);
  return dialog != nullptr && IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void focusControl(Dialog d, int id) {
  HWND control = controlOf(d, id);
  if (control != nullptr) SetFocus(control);
}

void scrollEditLines(Dialog d, int id, int lines) {
  HWND control = controlOf(d, id);
  if (control != nullptr) SendMessageA(control, EM_LINESCROLL, 0, lines);
}

void postScrollEditLines(Dialog d, int id, int lines) {
  HWND control = controlOf(d, id);
  if (control != nullptr) PostMessageA(control, EM_LINESCROLL, 0, lines);
}

// --- Electrode sliders ------------------------------------------------------------------
void setSliderRange(int id, int low, int high) {
  sendToSlider(id, TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
}

void setSliderPosition(int id, int position) { sendToSlider(id, TBM_SETPOS, TRUE, position); }

int getSliderPosition(int id) { return static_cast<int>(sendToSlider(id, TBM_GETPOS, 0, 0)); }

void addSliderTick(int id, int position) { sendToSlider(id, TBM_SETTIC, 0, position); }

void setSliderPageSize(int id, int page) { sendToSlider(id, TBM_SETPAGESIZE, 0, page); }

// --- Main window ------------------------------------------------------------------------
void enableMenuItem(int id, bool enabled) {
  if (win.mainWindow == nullptr) return;
  HMENU menu = GetMenu(win.mainWindow);
  if (menu != nullptr) {
    EnableMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
}

int mainWindowWidth() {
  RECT r{};
  if (win.mainWindow == nullptr || !GetWindowRect(win.mainWindow, &r)) return 0;
  return r.right - r.left;
}

void setMainWindowWidth(int width) {
  RECT r{};
  if (win.mainWindow == nullptr || !GetWindowRect(win.mainWindow, &r)) return;
  MoveWindow(win.mainWindow, r.left, r.top, width, r.bottom - r.top, TRUE);
}

int expandedWindowWidth() { return win.expandedWidth; }
int collapsedWindowWidth() { return win.collapsedWidth; }

// --- Modal interaction ------------------------------------------------------------------
// The box belongs to the modal dialog the operator is in (an open parameter dialog or Script
// Manager) whoever asked for it: a box owned by the main window would re-enable the main
// window when it closes, under a modal dialog that is still open.
int showMessageBox(Dialog owner, const char* text, const char* caption, unsigned style) {
  if (dialogExists(Dialog::Parameters)) owner = Dialog::Parameters;
  else if (dialogExists(Dialog::ScriptManager)) owner = Dialog::ScriptManager;
  HWND ownerWindow = dialogExists(owner) ? handleOf(owner) : nullptr;
  // The line that led to the box is shown behind it.
  drawChangedPanes();
  return MessageBoxA(ownerWindow, text != nullptr ? text : "", caption != nullptr ? caption : "",
                     style);
}

namespace {

// Runs the Save As or Open dialog over `owner` and copies the chosen name into path.
bool chooseFileName(HWND owner, bool save, char* path, int size) {
  drawChangedPanes();
  char chosen[FILE_NAME_CHARS] = "";
  OPENFILENAMEA settings;
  std::memset(&settings, 0, sizeof settings);
  // The short (Windows NT 4) form of the settings: 76 bytes in the 32-bit program.
  settings.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  settings.hwndOwner = owner;
  settings.lpstrFile = chosen;
  settings.nMaxFile = FILE_NAME_CHARS;
  settings.Flags = save ? OFN_OVERWRITEPROMPT : OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!(save ? GetSaveFileNameA(&settings) : GetOpenFileNameA(&settings))) return false;
  return copyChosenName(chosen, path, size);
}

}  // namespace

bool chooseSaveFileName(char* path, int size) { return chooseFileName(win.mainWindow, true, path, size); }

bool chooseOpenFileName(char* path, int size) {
  return chooseFileName(win.scriptManagerWindow, false, path, size);
}

int runParameterDialog(ParameterTemplate t, ParameterValues& values) {
  ParameterDialogCall call{t, &values};
  drawChangedPanes();
  INT_PTR result = DialogBoxParamA(appInstance(), templateName(t), win.mainWindow,
                                   ParameterDialogProc, reinterpret_cast<LPARAM>(&call));
  win.parameterWindow = nullptr;
  // A dialog that could not be shown at all (-1) sends nothing, like a cancelled one.
  if (result == PARAMETER_DIALOG_CANCEL || result <= 0) return PARAMETER_DIALOG_CANCEL;
  return PARAMETER_DIALOG_OK;
}

void runScriptManagerDialog() {
  drawChangedPanes();
  DialogBoxParamA(appInstance(), "DIALOG_SCRIPT", win.mainWindow, ScriptManagerDialogProc, 0);
  win.scriptManagerWindow = nullptr;
}

CloseChoice askHowToClose(const char* text) {
  drawChangedPanes();
  const INT_PTR answer = DialogBoxParamA(appInstance(), "DIALOG_CLOSE", win.mainWindow,
                                         CloseQuestionDialogProc, reinterpret_cast<LPARAM>(text));
  if (answer == IDC_CLOSE_IDLE) return CloseChoice::ReturnToIdle;
  if (answer == IDC_CLOSE_LEAVE) return CloseChoice::LeaveAsItIs;
  // Also a question that could not be shown: the program stays open.
  return CloseChoice::DoNotClose;
}

// The window stays open with the Warning: the operator can still act on the device.
bool closesWithoutIdleConfirmation() { return false; }

// --- Timer and commands -----------------------------------------------------------------
void startReceiveTimer() {
  if (win.mainWindow != nullptr) {
    SetTimer(win.mainWindow, RECEIVE_TIMER_ID, RECEIVE_TIMER_MS, receiveTimerCallback);
  }
}

void stopReceiveTimer() {
  if (win.mainWindow != nullptr) KillTimer(win.mainWindow, RECEIVE_TIMER_ID);
}

void postCommand(int id) {
  if (win.mainWindow != nullptr) PostMessageA(win.mainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void sendCommand(int id) {
  if (win.mainWindow != nullptr) SendMessageA(win.mainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void endMainDialog() {
  // A modeless dialog ends by being destroyed; its handle is gone from here on.
  HWND window = win.mainWindow;
  win.mainWindow = nullptr;
  if (window != nullptr) DestroyWindow(window);
}

void postQuit(int exitCode) { PostQuitMessage(exitCode); }
