// Fuzz target: arbitrary bytes from the device through the receive pump, the framing checks
// and the dispatcher into the console window, with the logs, a read-back batch, a calibration
// run or a script upload (whose wait loop pumps the messages itself) optionally in progress.
#include "fake_link.h"

#include "logging/data_log.h"
#include "logging/traffic.h"
#include "link/serial_port.h"
#include "frontends/console/console_window.h"
#include "app/dispatcher.h"
#include "resource.h"
#include "script/memory_view.h"
#include "app/transfer.h"
#include "tilt/tilt.h"

#include <cstdlib>
#include <sstream>

namespace {

// Input byte 0 chooses what is running when the bytes arrive.
constexpr uint8_t WITH_SCRIPT_MANAGER = 0x01;
constexpr uint8_t WITH_LOGS = 0x02;
constexpr uint8_t WITH_CALIBRATION = 0x04;
constexpr uint8_t WITH_UPLOAD = 0x08;

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  // The Save As prompts of the two logs (with their replace question) read their answers
  // here; afterwards every Warning box is dismissed by the end of input.
  std::istringstream input((flags & WITH_LOGS) ? "/dev/null\ny\n/dev/null\ny\n" : "");
  startHost(&input);
  if (flags & WITH_LOGS) {
    startTrafficLog();
    setDataLogTimeStamps(true);
    startDataLog();
    check(isTrafficLogOpen() && isDataLogOpen());
  }
  if (flags & WITH_SCRIPT_MANAGER) {
    consoleOpenDialog(Dialog::ScriptManager);
    beginReadBack(static_cast<int>((flags >> 4) * 128));
  }
  if (flags & WITH_CALIBRATION) beginCalibrationRun();

  fakeLinkServe(data + 1, size - 1);
  if (flags & WITH_UPLOAD) {
    // Three chunks; the answers (or the silence that times the upload out) come from the
    // input, and every other message is dispatched by the upload's own wait.
    uint8_t image[40];
    for (int i = 0; i < 40; ++i) image[i] = static_cast<uint8_t>(i % 9);
    uploadScriptImage((flags >> 4) * 128, image, sizeof image);
    check(isMessageBoxShowing() == 0);
  }
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
