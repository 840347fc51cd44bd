// Entry point of kinestim-host.exe: opens the serial port named on the command line, creates
// the main dialog, runs the message loop and closes the port when the loop ends.
#include "link/serial_port.h"
#include "frontends/win32/win32_gui.h"
#include "app/host_state.h"
#include "ui/message_boxes.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  setAppInstance(instance);
  HACCEL accelerators = loadMainAccelerators();
  // The port is opened before any window exists; a failure there ends the program.
  openCommandLinePort(commandLine);
  resetHostState();
  if (!createMainDialog()) {
    showFatalError("Failed to create the main window");
  }
  int exitCode = runMessageLoop(accelerators);
  closeSerialPort();
  return exitCode;
}
