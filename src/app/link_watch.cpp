// Link watch: what the operator sees while the port is lost (mode field, status bar, gated
// controls), and the questions that re-read the device's mode and electrodes once the port
// is open again, since the device may have been reset or changed mode meanwhile.
#include "app/link_watch.h"
#include "link/serial_port.h"
#include "link/catalogue.h"
#include "protocol/senders.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/status_display.h"
#include <cstdio>

namespace {

constexpr int NOTICE_SIZE = 300;

struct LinkWatchState {
  bool awaitingAnswer = false;  // re-opened; the first message restores the link
  bool modePending = false;     // the answer to the mode question has not come yet
  bool askedAgain = false;      // the question went out again after the device's power-on
};

LinkWatchState watch;

void enableAllGatedControls(bool on) {
  enableElectrodeControls(on);
  enableScriptControls(on);
  enableLocalControl(on);
  enableTiltControls(on);
}

// The controls each mode allows, as the messages entering that mode set them.
void applyMode(uint8_t mode) {
  if (mode == modeNone || mode == modeInit || mode >= MODE_COUNT) return;  // Idle follows
  enableScriptControls(true);
  enableLocalControl(mode == modeIdle || mode == modeRunScr);
  enableTiltControls(mode != modeRunScr && mode != modeFault);
  enableElectrodeControls(mode == modeDirect);
  if (mode == modeRunScr) showStopCaption();
  else showRunCaption();
  if (mode == modeIdle) {
    const uint8_t idle[4] = {IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE,
                             IDLE_ELECTRODE_CODE};
    showAllElectrodeCodes(idle);
    resetElectrodeCodes();
  }
  // The sliders and captions must show what the device really has. In Run Scr a script may
  // be changing them, so its captions stay "?".
  if (mode == modeDirect || mode == modeProgramScript || mode == modeFault)
    sendSimpleCommand(cdgDldAllElectrodes);
}

}  // namespace

void showLinkLost(const char* portName) {
  watch = LinkWatchState{};
  setModeText("Link lost");
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, "Link lost on %s - re-opening the port", portName);
  setStatusBarText(text);
  enableAllGatedControls(false);
  showElectrodesNotKnown();
  // The replies a calibration run waits for went with the link; a run left open would make
  // every later Calibrate press do nothing.
  resetCalibrationRun();
}

void showLinkReopened(const char* portName) {
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, "%s re-opened - waiting for the device to answer", portName);
  setStatusBarText(text);
  askDeviceState();
  watch.awaitingAnswer = true;
}

void askDeviceState() {
  watch = LinkWatchState{false, true, false};
  sendSimpleCommand(cdgDldMode);
}

void noteLinkMessage(const Packet& packet) {
  if (!watch.awaitingAnswer && !watch.modePending) return;
  if (watch.modePending) {
    if (packet.code() == mdgMode) {
      watch.modePending = false;
      applyMode(packet.param(0));
    } else if (packet.code() == mdgExitedModeInit && !watch.askedAgain) {
      // A device that has just powered on could not hear the question asked at the re-open.
      watch.askedAgain = true;
      sendSimpleCommand(cdgDldMode);
    }
  }
  if (watch.awaitingAnswer) {
    watch.awaitingAnswer = false;
    setStatusBarText("Link restored");
  }
}

void resetLinkWatch() { watch = LinkWatchState{}; }
