// Fuzz target: arbitrary bytes from the device through the receive pump, the framing checks
// and the dispatcher into the console window, with the logs, a read-back batch and a
// calibration run optionally in progress.
#include "fake_link.h"

#include "logging/data_log.h"
#include "logging/traffic.h"
#include "link/serial_port.h"
#include "platform/console/console_window.h"
#include "protocol/dispatcher.h"
#include "resource.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"

#include <cstdlib>
#include <sstream>

namespace {

// Input byte 0 chooses what is running when the bytes arrive.
constexpr uint8_t WITH_SCRIPT_MANAGER = 0x01;
constexpr uint8_t WITH_LOGS = 0x02;
constexpr uint8_t WITH_CALIBRATION = 0x04;

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  // The Save As prompts of the two logs read their answers here; afterwards every Warning
  // box is dismissed by the end of input.
  std::istringstream input((flags & WITH_LOGS) ? "/dev/null\n/dev/null\n" : "");
  startHost(&input);
  if (flags & WITH_LOGS) {
    startTrafficLog();
    setDataLogTimeStamps(true);
    startDataLog();
  }
  if (flags & WITH_SCRIPT_MANAGER) {
    consoleOpenDialog(Dialog::ScriptManager);
    beginReadBack(static_cast<int>((flags >> 3) * 64));
  }
  if (flags & WITH_CALIBRATION) beginCalibrationRun();

  fakeLinkServe(data + 1, size - 1);
  // Every tick consumes at least one byte until the line is drained; one more tick finds
  // nothing and must end at once.
  while (!fakeLinkDrained()) ReceiveTimerProc();
  ReceiveTimerProc();

  check(isMessageBoxShowing() == 0);
  check(consoleControlText(Dialog::Main, IDC_RECEIVED_PANE).size() <= static_cast<size_t>(PANE_TEXT_LIMIT));
  check(consoleControlText(Dialog::Main, IDC_SENT_PANE).size() <= static_cast<size_t>(PANE_TEXT_LIMIT));

  if (flags & WITH_SCRIPT_MANAGER) consoleCloseDialog(Dialog::ScriptManager);
  stopDataLog();
  stopTrafficLog();
  return 0;
}
