// Start-up steps and the message loop of kinestim-host.exe: the port from the command line,
// creation of the main dialog with its two widths, and the one loop.
#include "frontends/win32/win32_gui.h"
#include "app/link_watch.h"
#include "link/port_argument.h"
#include "link/serial_port.h"
#include "resource.h"
#include "ui/electrodes.h"
#include "ui/message_boxes.h"
#include <commctrl.h>

void recordWindowWidths();

namespace {

bool isElectrodeSlider(HWND control) {
  return GetParent(control) == mainWindowHandle() && sliderIndexOf(GetDlgCtrlID(control)) >= 0;
}

// Key rules of the program's own dialogs (the main window, the Script Manager, the parameter
// dialogs and every dialog over the main window, the closing question among them), applied
// before the dialog's keyboard handling. The
// filter hook sees every message that a dialog's keyboard handling sees: the main loop's and
// those of the modal dialogs' own loops. True when the message has been dealt with here.
// - Enter in the main window and the Script Manager presses the focused button only (the
//   Command box keeps Enter for Send); in a pane, on a slider or in a field it does nothing,
//   so a number left in the Command box is never sent from elsewhere.
// - A character is text for the focused control, never a button's underlined letter: a
//   control that takes no text ignores it. Alt with the letter still presses the button.
// - Home and End do nothing on an electrode slider: one key moves it at most a page.
bool handleDialogKey(MSG* m) {
  const HWND root = GetAncestor(m->hwnd, GA_ROOT);
  const bool main = root != nullptr && root == mainWindowHandle();
  const bool scriptManager = root != nullptr && root == scriptManagerWindowHandle();
  if (root == nullptr || (!main && !scriptManager && root != parameterWindowHandle() &&
                          GetWindow(root, GW_OWNER) != mainWindowHandle()))
    return false;
  if (m->message == WM_CHAR) {
    if (m->wParam < 0x20) return false;  // Tab, Enter, Escape, Backspace keep their meaning
    DispatchMessageA(m);
    return true;
  }
  if (m->message != WM_KEYDOWN) return false;
  if ((m->wParam == VK_HOME || m->wParam == VK_END) && isElectrodeSlider(m->hwnd)) return true;
  if (m->wParam != VK_RETURN || !(main || scriptManager)) return false;
  if (main && GetParent(m->hwnd) == root && GetDlgCtrlID(m->hwnd) == IDC_COMMAND_BOX) return false;
  const LRESULT code = SendMessageA(m->hwnd, WM_GETDLGCODE, 0, 0);
  if ((code & (DLGC_BUTTON | DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0 && IsWindowEnabled(m->hwnd))
    SendMessageA(m->hwnd, BM_CLICK, 0, 0);
  return true;
}

LRESULT CALLBACK dialogKeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX && handleDialogKey(reinterpret_cast<MSG*>(lParam))) return TRUE;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void openCommandLinePort(const char* commandLine) {
  PortArgument port;
  char refusal[200];
  if (!readPortArgument(commandLine, PortNaming::Windows, &port, refusal, sizeof refusal)) showFatalError(refusal);
  if (const char* failure = openSerialPort(port.number)) showFatalError(failure);
}

bool createMainDialog() {
  INITCOMMONCONTROLSEX classes;
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_BAR_CLASSES;  // trackbar and status bar
  InitCommonControlsEx(&classes);
  // Dialog keyboard handling (IsDialogMessage) calls the filter for every message it sees.
  static HHOOK keyFilter = SetWindowsHookExA(WH_MSGFILTER, dialogKeyFilter, nullptr, GetCurrentThreadId());
  (void)keyFilter;
  HWND window = CreateDialogParamA(appInstance(), "DIALOG_2", nullptr, MainDialogProc, 0);
  if (window == nullptr || mainWindowHandle() == nullptr) return false;
  // Taken before the loop runs the collapse that the dialog's initialisation posted.
  recordWindowWidths();
  // The device may have been left running by an earlier session: ask what it carries.
  askDeviceState();
  return true;
}

HACCEL loadMainAccelerators() { return LoadAcceleratorsA(appInstance(), "ACCELERATOR_1"); }

void processLoopMessage(HACCEL accelerators, MSG* message) {
  HWND main = mainWindowHandle();
  if (main != nullptr && accelerators != nullptr &&
      TranslateAcceleratorA(main, accelerators, message)) {
    return;
  }
  if (main != nullptr && IsDialogMessageA(main, message)) return;
  TranslateMessage(message);
  DispatchMessageA(message);
}

int runMessageLoop(HACCEL accelerators) {
  MSG message;
  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    processLoopMessage(accelerators, &message);
  }
}
