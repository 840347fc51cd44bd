// Start-up steps and the message loop of kinestim-host.exe: the port number from the
// command line, creation of the main dialog with its two widths, and the one loop.
#include "frontends/win32/win32_gui.h"
#include "app/link_watch.h"
#include <commctrl.h>
#include <climits>

void recordWindowWidths();

int parsePortNumber(const char* commandLine) {
  if (commandLine == nullptr || *commandLine == '\0') return 1;
  const char* p = commandLine;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    // Saturates: a number too large for a port is refused by the port itself.
    if (value < INT_MAX) value = value * 10 + (*p - '0');
  }
  if (value > INT_MAX) value = INT_MAX;
  int n = negative ? -static_cast<int>(value) : static_cast<int>(value);
  return n < 1 ? 1 : n;
}

bool createMainDialog() {
  INITCOMMONCONTROLSEX classes;
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_BAR_CLASSES;  // trackbar and status bar
  InitCommonControlsEx(&classes);
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
