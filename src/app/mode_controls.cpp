// The table of what each device mode allows on the main window.
#include "app/mode_controls.h"
#include "link/catalogue.h"
#include "protocol/senders.h"
#include "ui/electrodes.h"
#include "ui/status_display.h"

namespace {

struct ModeControls {
  uint8_t mode;
  bool localControl, tilt, electrodes;
  bool stopCaption;     // Run/Stop reads Stop
  bool electrodesRest;  // the electrodes show and store the rest code
  bool askElectrodes;   // the sliders and captions must show what the device really has
};

// The script buttons are on in every mode listed here.
constexpr ModeControls MODE_CONTROLS[] = {
    {modeIdle, true, true, false, false, true, false},
    {modeDirect, false, true, true, false, false, true},
    {modeProgramScript, false, true, false, false, false, true},
    // A script may be changing the electrodes: their captions stay "?".
    {modeRunScr, true, false, false, true, false, false},
    {modeFault, false, false, false, false, false, true},
};

}  // namespace

void enableAllGatedControls(bool on) {
  enableElectrodeControls(on);
  enableScriptControls(on);
  enableLocalControl(on);
  enableTiltControls(on);
}

void applyModeControls(uint8_t mode) {
  for (const ModeControls& row : MODE_CONTROLS) {
    if (row.mode != mode) continue;
    enableScriptControls(true);
    enableLocalControl(row.localControl);
    enableTiltControls(row.tilt);
    enableElectrodeControls(row.electrodes);
    if (row.stopCaption) showStopCaption();
    else showRunCaption();
    if (row.electrodesRest) {
      noteScriptEnded();
      const uint8_t rest[4] = {IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE,
                               IDLE_ELECTRODE_CODE};
      showAllElectrodeCodes(rest);  // stores them too
    }
    if (row.askElectrodes) sendSimpleCommand(cdgDldAllElectrodes);
    return;
  }
}
