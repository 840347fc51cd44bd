// Start-up steps and the message loop of kinestim-host.exe: the port from the command line,
// creation of the main dialog with its two widths, and the one loop.
#include "frontends/win32/win32_gui.h"
#include "link/port_argument.h"
#include "link/serial_port.h"
#include "ui/message_boxes.h"
#include <commctrl.h>

void recordWindowWidths();

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
  HWND window = CreateDialogParamA(appInstance(), "DIALOG_2", nullptr, MainDialogProc, 0);
  if (window == nullptr || mainWindowHandle() == nullptr) return false;
  // Taken before the loop runs the collapse that the dialog's initialisation posted.
  recordWindowWidths();
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
