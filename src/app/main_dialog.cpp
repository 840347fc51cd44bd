// Main dialog behaviour: start-up state, routing of every command identifier, electrode
// slider notifications, the log menu entries, the advanced-windows toggle and shutdown.
#include "app/main_dialog.h"
#include "app/closing.h"
#include "ui/message_boxes.h"
#include "logging/data_log.h"
#include "logging/log_files.h"
#include "logging/traffic.h"
#include "platform/window.h"
#include "link/catalogue.h"
#include "protocol/senders.h"
#include "resource.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/parameters.h"
#include "ui/status_display.h"
#include <cstdio>
#include <cstring>

const char* const ABOUT_CAPTION = "Kinestim Host v2.6";
const char* const ABOUT_TEXT =
    "Kinestim Host v2.6\r\nOperator program for the Kinestim stimulator.\r\n2024-2026";

namespace {

constexpr int32_t COMMAND_BOX_HIGH = 9999;
constexpr int RUN_CAPTION_CHARS = 9;

// Opens a parameter dialog; true, with its fields in values, when it was accepted.
bool askParameters(ParameterTemplate t, ParameterValues& values) {
  values = ParameterValues{};
  return runParameterDialog(t, values) == PARAMETER_DIALOG_OK;
}

// The device commands whose identifier first opens a dialog: a parameter dialog, or the
// Script Manager for the upload. routeCommand gives each its own case.
constexpr uint8_t DIALOG_FIRST_COMMANDS[] = {
    cdgSetElectrode, cdgSetAllElectrodes, cdgSrcUldMem, cdgScrDldMem,
    cdgScrArm,       cdgScrRun,           cdgDldRAM,    cdgTiltLoop,
};

bool isDeviceCommand(int id) {
  return id >= ID_DEVICE_COMMAND_BASE && id <= ID_DEVICE_COMMAND_LAST;
}

bool opensDialogFirst(int id) {
  for (uint8_t code : DIALOG_FIRST_COMMANDS) {
    if (id == ID_DEVICE_COMMAND_BASE + code) return true;
  }
  return false;
}

// A plain device command goes out at once as its bare code.
bool isPlainDeviceCommand(int id) { return isDeviceCommand(id) && !opensDialogFirst(id); }

void clearPanes() {
  setControlText(Dialog::Main, IDC_RECEIVED_PANE, "");
  setControlText(Dialog::Main, IDC_SENT_PANE, "");
}

// The numbers the Command box knows: the device's command codes and the window commands
// (70 to 76, 90, 91) that follow them as 300 + number.
bool isCommandNumber(int32_t value) {
  const int id = ID_DEVICE_COMMAND_BASE + value;
  return isDeviceCommand(id) || (id >= ID_TOGGLE_ADVANCED && id <= ID_IDLE) || id == ID_EXIT || id == ID_ABOUT;
}

// The Command box posts 300 + the number typed; text that is not one number from 0 to 9999
// is refused with a Warning and posts nothing, and a number that is no command says so on
// the status bar instead of doing nothing.
void sendTypedCommand() {
  int32_t value = 0;
  if (!readNumberField(Dialog::Main, IDC_COMMAND_BOX, "Command", 0, COMMAND_BOX_HIGH, &value)) return;
  if (isCommandNumber(value)) {
    postCommand(ID_DEVICE_COMMAND_BASE + value);
    return;
  }
  char notice[32];
  std::snprintf(notice, sizeof notice, "No command %d", static_cast<int>(value));
  setStatusBarText(notice);
}

void clickLocalControl() {
  if (hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL)) {
    postCommand(ID_DEVICE_COMMAND_BASE + cdgDisableLclCtrl);
    setLocalControlCheck(false);
  } else {
    postCommand(ID_DEVICE_COMMAND_BASE + cdgEnableLclCtrl);
    setLocalControlCheck(true);
  }
}

}  // namespace

void initMainDialog() {
  setMessageBoxShowing(0);
  setLogClosedHandler(updateLogMenu);
  updateLogMenu();
  setLocalControlCheck(true);
  initElectrodeControls();
  enableScriptControls(false);
  enableTiltControls(false);
  enableLocalControl(false);
  focusControl(Dialog::Main, IDC_COMMAND_BOX);
  startReceiveTimer();
  postCommand(ID_TOGGLE_ADVANCED);
}

bool routeCommand(int id, int notification) {
  ParameterValues v{};
  if (isPlainDeviceCommand(id)) {
    sendSimpleCommand(static_cast<uint8_t>(id - ID_DEVICE_COMMAND_BASE));
    return true;
  }
  switch (id) {
    case IDC_RUN_STOP:
      if (isRunCaptionShown()) {
        sendCommand(ID_DEVICE_COMMAND_BASE + cdgSelectModeRunScr);
        postCommand(ID_DEVICE_COMMAND_BASE + cdgScrRun);
      } else {
        postCommand(ID_DEVICE_COMMAND_BASE + cdgScrStop);
      }
      return true;
    case IDC_LOCAL_CONTROL:
      if (notification != 0) return false;
      clickLocalControl();
      return true;
    case IDC_CALIBRATE:
      startCalibration();
      return true;
    case IDC_READ_TILT:
      postCommand(ID_DEVICE_COMMAND_BASE + cdgDldTilt);
      return true;
    case IDC_TILT_LOOP:
      postCommand(ID_DEVICE_COMMAND_BASE + cdgTiltLoop);
      return true;
    case IDC_SCRIPT_MANAGER:
      sendCommand(ID_DEVICE_COMMAND_BASE + cdgSelectModePgmScr);
      postCommand(ID_DEVICE_COMMAND_BASE + cdgSrcUldMem);
      return true;
    case IDC_SEND:
      sendTypedCommand();
      return true;
    case IDC_CLEAR:
    case ID_CLEAR_PANES:
      clearPanes();
      return true;
    case ID_DEVICE_COMMAND_BASE + cdgSetElectrode:
      if (askParameters(ParameterTemplate::Current, v)) sendElectrodeCommand(v.electrode, v.current);
      return true;
    case ID_DEVICE_COMMAND_BASE + cdgSetAllElectrodes:
      if (askParameters(ParameterTemplate::Currents, v)) sendAllElectrodes(cdgSetAllElectrodes, v.currents);
      return true;
    case ID_DEVICE_COMMAND_BASE + cdgSrcUldMem:
      runScriptManagerDialog();
      return true;
    case ID_DEVICE_COMMAND_BASE + cdgScrDldMem:
    case ID_DEVICE_COMMAND_BASE + cdgDldRAM:
      if (askParameters(ParameterTemplate::AddressCount, v))
        sendAddressCountCommand(static_cast<uint8_t>(id - ID_DEVICE_COMMAND_BASE), v.address, v.count);
      return true;
    case ID_DEVICE_COMMAND_BASE + cdgScrArm:
    case ID_DEVICE_COMMAND_BASE + cdgScrRun:
      if (askParameters(ParameterTemplate::Address, v))
        sendAddressCommand(static_cast<uint8_t>(id - ID_DEVICE_COMMAND_BASE), v.address);
      return true;
    case ID_DEVICE_COMMAND_BASE + cdgTiltLoop:
      if (askParameters(ParameterTemplate::CountAndStep, v)) sendCountStepCommand(cdgTiltLoop, v.count, v.step);
      return true;
    case ID_TOGGLE_ADVANCED:
      toggleAdvancedWindows();
      return true;
    case ID_START_DATA_LOG:
      setDataLogTimeStamps(true);
      startDataLog();
      updateLogMenu();
      return true;
    case ID_START_TRAFFIC_LOG:
      startTrafficLog();
      updateLogMenu();
      return true;
    case ID_STOP_TRAFFIC_LOG:
      stopTrafficLog();
      updateLogMenu();
      return true;
    case ID_STOP_DATA_LOG:
      stopDataLog();
      updateLogMenu();
      return true;
    case ID_IDLE:
      sendIdleForMode(currentModeFromDisplay());
      return true;
    case ID_EXIT:
      // The close request is the last thing this handler does, so closing here is the same
      // as closing from the queue.
      closeMainDialog();
      return true;
    case ID_ABOUT:
      showMessageBox(Dialog::Main, ABOUT_TEXT, ABOUT_CAPTION, MB_STYLE_OK);
      return true;
    default:
      return false;
  }
}

// Keyboard, paging, end and release send the slider's code; a drag only moves the caption.
// A code that could not be written puts the slider back where the device still is.
bool handleSliderScroll(int sliderId, int scrollCode) {
  int index = sliderIndexOf(sliderId);
  if (index < 0 || scrollCode < 0 || scrollCode > SCROLL_BOTTOM) return false;
  if (scrollCode != SCROLL_THUMB_TRACK && !sendSetElectrode(index + 1, sliderPosition(index)))
    showElectrodeCode(index, getElectrodeCode(index + 1));
  refreshElectrodeCaptions();
  return true;
}

void closeMainDialog() {
  readLastAnswers();
  int exitCode = 0;
  if (!readyToClose(!isRunCaptionShown(), &exitCode)) return;
  stopDataLog();
  stopTrafficLog();
  stopReceiveTimer();
  endMainDialog();
  postQuit(exitCode);
}

void updateLogMenu() {
  bool traffic = isTrafficLogOpen();
  bool data = isDataLogOpen();
  enableMenuItem(ID_START_TRAFFIC_LOG, !traffic);
  enableMenuItem(ID_STOP_TRAFFIC_LOG, traffic);
  enableMenuItem(ID_START_DATA_LOG, !data);
  enableMenuItem(ID_STOP_DATA_LOG, data);
}

bool isRunCaptionShown() {
  char caption[RUN_CAPTION_CHARS + 1];
  getControlText(Dialog::Main, IDC_RUN_STOP, caption, sizeof caption);
  return std::strcmp(caption, "&Run") == 0;
}

// Collapsing hides the controls that lie outside the narrow window, so that Tab never lands
// on one the operator cannot see, and greys Send, so that Enter cannot send text left in the
// hidden Command box. Expanding shows them again and puts the focus in the Command box.
void toggleAdvancedWindows() {
  static const int ADVANCED_IDS[] = {IDC_SENT_LABEL,  IDC_RECEIVED_LABEL, IDC_SENT_PANE,
                                     IDC_RECEIVED_PANE, IDC_COMMAND_GROUP, IDC_COMMAND_LABEL,
                                     IDC_COMMAND_BOX, IDC_SEND,           IDC_CLEAR};
  bool collapse = mainWindowWidth() == expandedWindowWidth();
  for (int id : ADVANCED_IDS) showControl(Dialog::Main, id, !collapse);
  enableControl(Dialog::Main, IDC_SEND, !collapse);
  setMainWindowWidth(collapse ? collapsedWindowWidth() : expandedWindowWidth());
  // Showing the Command box is asking to type into it.
  if (!collapse) focusControl(Dialog::Main, IDC_COMMAND_BOX);
}
