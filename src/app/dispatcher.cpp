// Receive pump and message dispatcher: drains the port on each timer tick and turns every
// device message into its trace line, its checks and its changes to the window.
#include "app/dispatcher.h"
#include "app/link_watch.h"
#include "app/mode_controls.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "link/catalogue.h"
#include "platform/clock.h"
#include "protocol/senders.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/message_boxes.h"
#include "ui/status_display.h"
#include <cstdio>
#include <cstring>

namespace {

// Room for the longest trace line: code, longest name, 255 parameter bytes of " <xx>".
constexpr int TRACE_LINE_SIZE = 3 + 32 + 255 * 5 + 1;
constexpr int NOTICE_SIZE = 80;
constexpr int NAME_SIZE = 40;
// Shown in the name's place for a code the catalogue does not have.
const char* const UNKNOWN_MESSAGE_NAME = "(unknown)";

const char* const REJECTED_TEXT = "Command Rejected - Not allowed in this mode";
const char* const FAULT_WARNING_TEXT =
    "A Fault has occurred.  If possible send 'Clear Fault Status' and continue.\r\n"
    "Otherwise restart the Kinestim";
const char* const OVERRUN_TEXT =
    "Overrun Error - You are transmitting to quickly\r\nClear Fault Status and retry";

int scriptAddress(const Packet& packet) { return packet.param(0) + 256 * packet.param(1); }

bool isValidMessage(const Packet& packet) {
  uint8_t c = packet.code();
  if (c >= MESSAGE_COUNT) return false;
  int expected = messageLength(c);
  return expected == VARIABLE_LENGTH || expected == packet.length();
}

// A mode or fault code beyond its name table is shown by number.
void modeName(uint8_t code, char* name) {
  if (code < MODE_COUNT) std::snprintf(name, NAME_SIZE, "%s", modeNames[code]);
  else std::snprintf(name, NAME_SIZE, "Unknown mode %d", code);
}

void faultName(uint8_t code, char* name) {
  if (code < FAULT_COUNT) std::snprintf(name, NAME_SIZE, "%s", faultNames[code]);
  else std::snprintf(name, NAME_SIZE, "Unknown fault %d", code);
}

void showScriptAddressText(const char* format, const Packet& packet) {
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, format, scriptAddress(packet));
  setScriptStatusText(text);
  setStatusBarText(text);
}

void handleTilt(const Packet& packet) {
  double x = 0.0, y = 0.0;
  if (!computeTilt(packet, &x, &y)) setStatusBarText("New period detected - recalibrate");
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, "%.4f", x);
  setTiltXText(text);
  std::snprintf(text, sizeof text, "%.4f", y);
  setTiltYText(text);
  writeDataLogLine(x, y);
}

// A fault, or a rejection of the run's request, means the run's next reply will not come. The
// rejections that name the refused command end it only for a refused Calibrate; a frame
// refused before it was read (length, end, checksum) may have been the request.
bool endsCalibrationRun(const Packet& packet) {
  const uint8_t code = packet.code();
  if (code == mdgCmdRejectedInvalidMode || code == mdgCmdRejectedInvalidCdg || code == mdgCmdRejectedLengthToCdgBad)
    return packet.paramCount() < 1 || packet.param(0) == cdgCalibrate;
  return code == mdgFault || (code >= mdgCmdRejectedInvalidMode && code <= mdgCmdRejectedChecksum);
}

// The samples already taken stay in the store; Calibrate starts a fresh run at once.
void endUnfinishedCalibration() {
  int taken = abandonCalibrationRun();
  if (taken < 0) return;
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, "Calibration did not finish: %d of %d replies taken into the store",
                taken, CALIBRATION_RUN_LENGTH);
  setStatusBarText(text);
}

void act(const Packet& packet) {
  char name[NAME_SIZE];
  char text[NOTICE_SIZE];
  switch (packet.code()) {
    case mdgCmdRejectedInvalidMode:
      showWarning(REJECTED_TEXT);
      break;
    case mdgExitedModeInit:
      setStatusBarText("Kinestim Initialized");
      setLocalControlCheck(true);
      break;
    case mdgEnteredModeIdle: {
      setModeText("Idle");
      setStatusBarText("Kinestim is Idle");
      setScriptStatusText("Stopped");
      setLocalControlCheck(true);
      applyModeControls(modeIdle);
      break;
    }
    case mdgExitedModeIdle:
      enableLocalControl(false);
      break;
    case mdgEnteredModeDirect:
      enableElectrodeControls(true);
      sendSimpleCommand(cdgDldAllElectrodes);
      setModeText("Direct");
      break;
    case mdgExitedModeDirect:
      enableElectrodeControls(false);
      storeRestElectrodeCodes();
      break;
    case mdgEnteredModePgmScr:
      setModeText("Program Script");
      break;
    case mdgEnteredModeRunScr:
      setModeText("Run Scr");
      enableLocalControl(true);
      enableTiltControls(false);
      break;
    case mdgExitedModeRunScr:
      enableLocalControl(false);
      enableTiltControls(true);
      storeRestElectrodeCodes();
      showElectrodesNotKnown();
      break;
    case mdgExitedModeFault:
      enableTiltControls(true);
      break;
    case mdgMode:
      modeName(packet.param(0), name);
      setModeText(name);
      std::snprintf(text, sizeof text, "Mode: %s", name);
      setStatusBarText(text);
      break;
    case mdgAllElectrodesDld: {
      const uint8_t codes[4] = {packet.param(0), packet.param(1), packet.param(2), packet.param(3)};
      showAllElectrodeCodes(codes);
      break;
    }
    case mdgScrMemDld:
      onScriptMemoryRead(packet);
      break;
    case mdgScrArmed:
      showScriptAddressText("Armed at 0x%.3x", packet);
      break;
    case mdgScrStarted:
      showStopCaption();
      showElectrodesScripted();
      showScriptAddressText("Running at 0x%.3x", packet);
      break;
    case mdgScrStopped:
      sendSimpleCommand(cdgDeselectModeRunScr);
      showRunCaption();
      setScriptStatusText("Stopped");
      setStatusBarText("Script terminated");
      storeRestElectrodeCodes();
      showElectrodesNotKnown();
      break;
    case mdgLclCtrlDisabled:
      setLocalControlCheck(false);
      setStatusBarText("Local Control Disabled");
      break;
    case mdgLclCtrlEnabled:
      setLocalControlCheck(true);
      setStatusBarText("Local Control Enabled");
      break;
    case mdgFault:
      // The device may have rested its electrodes: nothing is shown until it says so, and its
      // answer waits in the port while the Warning is open.
      showElectrodesNotKnown();
      sendSimpleCommand(cdgDldAllElectrodes);
      showWarning(FAULT_WARNING_TEXT);
      faultName(packet.param(0), name);
      setFaultText(name);
      std::snprintf(text, sizeof text, "*** Fault: %s ***", name);
      setStatusBarText(text);
      enableTiltControls(false);
      enableLocalControl(false);
      enableElectrodeControls(false);
      break;
    case mdgTilt:
      handleTilt(packet);
      break;
    case mdgCalibrate:
      if (handleCalibrateReply(packet) == 0) setStatusBarText("Entered new calibration point ");
      else setStatusBarText("Averaged in calibration data");
      break;
    case mdgRxRateTooFast:
      showWarning(OVERRUN_TEXT);
      break;
    default:
      break;   // traced and validated only
  }
}

// A receive attempt that yielded no packet: stray bytes and stalled frames are passing
// notices, a damaged frame asks the operator, a failed read loses the link.
void showReceiveProblem(const ReceiveReport& report) {
  switch (report.problem) {
    case FrameProblem::None:
      break;
    case FrameProblem::StrayByte:
    case FrameProblem::Stalled:
      setStatusBarText(report.text);
      break;
    case FrameProblem::BadEot:
    case FrameProblem::BadChecksum:
    case FrameProblem::OutOfMemory:
      showWarning(report.text);
      break;
    case FrameProblem::ReadFailed:
      reportLinkFailure(report.text);
      break;
  }
}

}  // namespace

// The reply time-out is looked at after the pump, so a reply already on the line counts first,
// and not while a message box holds the pump nor when the tick's time ran out before the
// line was read to its end.
void ReceiveTimerProc() {
  if (pumpMessagesFor(RECEIVE_TICK_BUDGET_MS) >= 0 && isMessageBoxShowing() == 0 && calibrationReplyOverdue())
    endUnfinishedCalibration();
}

int pumpMessagesFor(uint32_t budgetMs) {
  const uint32_t started = tickCountMs();
  const uint32_t warningsBefore = warningOpenMs();
  int handled = 0;
  while (pumpOneMessage() != -1) {
    ++handled;
    const uint32_t spent = (tickCountMs() - started) - (warningOpenMs() - warningsBefore);
    if (spent >= budgetMs) return -handled;
  }
  return handled;
}

int pumpOneMessage() {
  // A lost port is tried again on time even while a box is open; its answers wait in the port.
  pollLinkReopen();
  if (isMessageBoxShowing() == 1) return -1;
  // Nothing can arrive on a port that is not open (before start-up or while it is lost).
  if (!isSerialPortOpen()) return -1;
  Packet packet{};
  const ReceiveReport report = receivePacket(packet);
  if (report.status != LinkStatus::Data) {
    showReceiveProblem(report);
    return -1;
  }
  noteDeviceAnswered();
  int code = packet.code();
  handleDeviceMessage(packet);
  releasePacket(packet);
  return code;
}

void appendParamBytes(char* line, int capacity, const Packet& packet) {
  if (line == nullptr || capacity <= 0) return;
  int len = static_cast<int>(strnlen(line, static_cast<size_t>(capacity)));
  if (len >= capacity) {
    line[capacity - 1] = '\0';
    return;
  }
  const int count = packet.paramCount();
  const bool fitsWhole = len + 5 * count + 1 <= capacity;
  for (int k = 0; k < count; ++k) {
    if (!fitsWhole && len + 5 + 3 + 1 > capacity) {
      if (len + 3 + 1 <= capacity) {
        std::memcpy(line + len, "...", 4);
      }
      return;
    }
    std::snprintf(line + len, static_cast<size_t>(capacity - len), " <%.2x>", packet.param(k));
    len += 5;
  }
}

int formatReceivedLine(char* line, int capacity, const Packet& packet) {
  if (line == nullptr || capacity <= 0) return 0;
  const char* name = messageName(packet.code());
  std::snprintf(line, static_cast<size_t>(capacity), "%.2x %s", packet.code(),
                name != nullptr ? name : UNKNOWN_MESSAGE_NAME);
  appendParamBytes(line, capacity, packet);
  return static_cast<int>(std::strlen(line));
}

void handleDeviceMessage(const Packet& packet) {
  char line[TRACE_LINE_SIZE];
  formatReceivedLine(line, sizeof line, packet);
  showReceivedText(line);
  if (!isValidMessage(packet)) {
    setStatusBarText("Error: invalid mdg message");
    return;
  }
  if (packet.code() != mdgCmdAccepted) setStatusBarText("");
  act(packet);
  if (endsCalibrationRun(packet)) endUnfinishedCalibration();
  noteLinkMessage(packet);
}
