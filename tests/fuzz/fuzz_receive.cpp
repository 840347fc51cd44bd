// Fuzz target: arbitrary bytes from the device through the receive pump, the framing checks
// and the dispatcher into the console window, with the logs, a read-back batch, a calibration
// run or a script upload (whose wait loop pumps the messages itself) optionally in progress.
#include "fake_link.h"

#include "app/dispatcher.h"
#include "app/transfer.h"
#include "frontends/console/console_window.h"
#include "ui/message_boxes.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "resource.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Input byte 0 chooses what runs when the bytes arrive: bit 0 the Script Manager with a
  // read-back batch, 1 the logs, 2 a calibration run, 3 an upload; bits 4-7 the address/128.
  const uint8_t flags = data[0];
  const int address = (flags >> 4) * 128;
  // The Save As prompts of the two logs (with their replace question) read their answers
  // here; afterwards every Warning box is dismissed by the end of input.
  std::istringstream input((flags & 2) ? "/dev/null\ny\n/dev/null\ny\n" : "");
  startHost(&input);
  if (flags & 2) {
    startTrafficLog();
    setDataLogTimeStamps(true);
    startDataLog();
    check(isTrafficLogOpen() && isDataLogOpen());
  }
  if (flags & 1) consoleOpenDialog(Dialog::ScriptManager);
  if (flags & 1) beginReadBack(address);
  if (flags & 4) beginCalibrationRun();
  fakeLinkServe(data + 1, size - 1);
  // Three chunks; the answers (or the silence that times the upload out) come from the
  // input, and every other message is dispatched by the upload's own wait.
  uint8_t image[40];
  for (int i = 0; i < 40; ++i) image[i] = static_cast<uint8_t>(i % 9);
  if (flags & 8) uploadScriptImage(address, image, sizeof image);
  check(isMessageBoxShowing() == 0);
  // Every tick consumes at least one byte until the line is drained; one more tick finds
  // nothing and must end at once.
  while (!fakeLinkDrained()) ReceiveTimerProc();
  ReceiveTimerProc();
  check(isMessageBoxShowing() == 0);
  check(consoleControlText(Dialog::Main, IDC_RECEIVED_PANE).size() <= static_cast<size_t>(PANE_TEXT_LIMIT));
  check(consoleControlText(Dialog::Main, IDC_SENT_PANE).size() <= static_cast<size_t>(PANE_TEXT_LIMIT));
  if (flags & 1) consoleCloseDialog(Dialog::ScriptManager);
  stopDataLog();
  stopTrafficLog();
  return 0;
}
