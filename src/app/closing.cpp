// Closing while current may flow: the question, and the return to Idle that waits for the
// device to confirm it, since nobody can change the current from the host once it is gone.
#include "app/closing.h"
#include "app/dispatcher.h"
#include "link/catalogue.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "protocol/senders.h"
#include "ui/electrodes.h"
#include "ui/message_boxes.h"
#include "ui/status_display.h"

namespace {

constexpr uint32_t IDLE_CONFIRMATION_MS = 2000;
constexpr uint32_t QUIET_LINE_MS = 100;
constexpr uint32_t LAST_ANSWERS_MS = 500;
const char* const CLOSE_QUESTION =
    "Current may flow on the Kinestim. Return it to Idle before closing?";
const char* const NO_CONFIRMATION = "No confirmation from the device: current may still flow";

// What the return to Idle waits for next.
enum class Awaiting { StopAnswer, ModeAnswer, Idle };

// A running script is stopped first; its mdgScrStopped makes the dispatcher deselect Run Scr,
// and a plain acceptance (no script ran after all) leaves the deselect to this loop. A mode
// the host does not know is asked first, so that the right mode is left.
bool returnToIdle(bool scriptMayRun) {
  uint8_t mode = currentModeFromDisplay();
  Awaiting awaiting = Awaiting::Idle;
  if (scriptMayRun) {
    sendSimpleCommand(cdgScrStop);
    awaiting = Awaiting::StopAnswer;
  } else if (!sendIdleForMode(mode)) {
    sendSimpleCommand(cdgDldMode);
    awaiting = Awaiting::ModeAnswer;
  }
  for (const uint32_t start = tickCountMs(); tickCountMs() - start < IDLE_CONFIRMATION_MS;) {
    const int code = pumpOneMessage();
    if (code == mdgEnteredModeIdle) return true;
    if (awaiting == Awaiting::StopAnswer && (code == mdgScrStopped || code == mdgCmdAccepted)) {
      if (code == mdgCmdAccepted) sendSimpleCommand(cdgDeselectModeRunScr);
      awaiting = Awaiting::Idle;
    } else if (awaiting == Awaiting::ModeAnswer && code == mdgMode) {
      mode = currentModeFromDisplay();
      if (mode == modeIdle) return true;
      if (!sendIdleForMode(mode)) return false;  // Init or Fault: no command leaves it
      awaiting = Awaiting::Idle;
    }
    if (code < 0) sleepMs(5);
  }
  return false;
}

}  // namespace

void readLastAnswers() {
  const uint32_t start = tickCountMs();
  for (uint32_t heard = start; tickCountMs() - heard < QUIET_LINE_MS && tickCountMs() - start < LAST_ANSWERS_MS;) {
    if (pumpOneMessage() >= 0) heard = tickCountMs();
    else sleepMs(5);
  }
}

bool currentMayFlow(bool scriptMayRun) {
  if (scriptMayRun || !modeIsKnown() || !electrodeCaptionsShowCodes()) return true;
  if (currentModeFromDisplay() != modeDirect) return false;
  for (int electrode = 1; electrode <= 4; ++electrode) {
    if (!isNoCurrentCode(getElectrodeCode(electrode))) return true;
  }
  return false;
}

bool readyToClose(bool scriptMayRun, int* exitCode) {
  *exitCode = 0;
  if (!currentMayFlow(scriptMayRun)) return true;
  // The pump stays out while the question is open, so that no Warning opens over it.
  const int boxBefore = isMessageBoxShowing();
  setMessageBoxShowing(1);
  const CloseChoice choice = askHowToClose(CLOSE_QUESTION);
  setMessageBoxShowing(boxBefore);
  if (choice != CloseChoice::ReturnToIdle) return choice == CloseChoice::LeaveAsItIs;
  if (returnToIdle(scriptMayRun)) {
    setStatusBarText("Device returned to Idle");
    return true;
  }
  setStatusBarText(NO_CONFIRMATION);
  if (!closesWithoutIdleConfirmation()) {
    showWarning(NO_CONFIRMATION);
    return false;
  }
  *exitCode = 1;
  return true;
}
