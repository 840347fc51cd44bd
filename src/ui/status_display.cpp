// Status display: the main window's mode/fault field, script status, Run/Stop caption,
// Local Control box, gated button groups, tilt values and the status bar line.
#include "ui/status_display.h"
#include "platform/window.h"
#include "link/catalogue.h"
#include "resource.h"
#include <cstring>

void setStatusBarText(const char* text) { setControlText(Dialog::Main, IDC_STATUS_BAR, text); }

void setModeText(const char* text) {
  setControlText(Dialog::Main, IDC_MODE_LABEL, "Mode");
  setControlText(Dialog::Main, IDC_MODE_FIELD, text);
}

void setFaultText(const char* text) {
  setControlText(Dialog::Main, IDC_MODE_LABEL, "Fault");
  setControlText(Dialog::Main, IDC_MODE_FIELD, text);
}

void setScriptStatusText(const char* text) { setControlText(Dialog::Main, IDC_SCRIPT_STATUS, text); }

void setLocalControlCheck(bool on) { setCheckMark(Dialog::Main, IDC_LOCAL_CONTROL, on); }

void enableLocalControl(bool on) { enableControl(Dialog::Main, IDC_LOCAL_CONTROL, on); }

void enableScriptControls(bool on) {
  enableControl(Dialog::Main, IDC_RUN_STOP, on);
  enableControl(Dialog::Main, IDC_SCRIPT_MANAGER, on);
}

void enableTiltControls(bool on) {
  enableControl(Dialog::Main, IDC_CALIBRATE, on);
  enableControl(Dialog::Main, IDC_READ_TILT, on);
  enableControl(Dialog::Main, IDC_TILT_LOOP, on);
}

void showRunCaption() { setControlText(Dialog::Main, IDC_RUN_STOP, "&Run"); }

void showStopCaption() { setControlText(Dialog::Main, IDC_RUN_STOP, "St&op"); }

void setTiltXText(const char* text) { setControlText(Dialog::Main, IDC_TILT_X, text); }

void setTiltYText(const char* text) { setControlText(Dialog::Main, IDC_TILT_Y, text); }

// The field is the only store of the mode: a fault name or "Unknown" reads back as 0.
uint8_t currentModeFromDisplay() {
  char text[MODE_NAME_SIZE];
  getControlText(Dialog::Main, IDC_MODE_FIELD, text, MODE_NAME_SIZE);
  return modeCodeFromName(text);
}

bool modeIsKnown() {
  char label[8];
  getControlText(Dialog::Main, IDC_MODE_LABEL, label, sizeof label);
  return std::strcmp(label, "Fault") == 0 || currentModeFromDisplay() != modeNone;
}
