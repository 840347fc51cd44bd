// The start-up reset list.
#include "app/host_state.h"
#include "app/link_watch.h"
#include "script/compiler_output.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/message_boxes.h"

void resetHostState() {
  resetCalibrationStore();
  resetCalibrationRun();
  clearElectrodeCodes();
  resetMemoryView();
  resetCompilerOutput();
  setMessageBoxShowing(0);
  resetLinkWatch();
}
