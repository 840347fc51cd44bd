// Link watch: the link's state and re-open timer, what the operator sees while the port is
// lost (mode field, status bar, gated controls), and the questions that re-read the device's
// mode and electrodes once the port is open again, since the device may have been reset or
// changed mode meanwhile.
#include "app/link_watch.h"
#include "app/mode_controls.h"
#include "link/catalogue.h"
#include "platform/clock.h"
#include "protocol/send_path.h"
#include "protocol/senders.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/message_boxes.h"
#include "ui/status_display.h"
#include <cstdio>

namespace {

constexpr int NOTICE_SIZE = 300;
// How often a port lost after a failure is tried again.
constexpr uint32_t REOPEN_RETRY_MS = 500;

enum class LinkPhase { Up, Lost, Reopened };

struct LinkWatchState {
  LinkPhase phase = LinkPhase::Up;  // Lost: closed, waiting to re-open; Reopened: no answer yet
  uint32_t lastReopenMs = 0;        // when re-opening it was last tried
  bool awaitingAnswer = false;      // re-opened; the first message restores the link
  bool modePending = false;         // the answer to the mode question has not come yet
  bool askedAgain = false;          // the question went out again after the device's power-on
};

LinkWatchState watch;
unsigned losses = 0;

void showLinkLost() {
  setModeText("Link lost");
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, "Link lost on %s - re-opening the port", serialPortName());
  setStatusBarText(text);
  enableAllGatedControls(false);
  showElectrodesNotKnown();
  // The replies a calibration run waits for went with the link; a run left open would make
  // every later Calibrate press do nothing.
  resetCalibrationRun();
}

void tryReopen() {
  watch.lastReopenMs = tickCountMs();
  if (!tryReopenSerialPort()) return;
  watch.phase = LinkPhase::Reopened;
  char text[NOTICE_SIZE];
  std::snprintf(text, sizeof text, "%s re-opened - waiting for the device to answer", serialPortName());
  setStatusBarText(text);
  watch.awaitingAnswer = true;
  askDeviceState();
}

}  // namespace

void reportLinkFailure(const char* warning) {
  const bool wasUp = watch.phase == LinkPhase::Up;
  ++losses;
  closeSerialPort();
  watch = LinkWatchState{};
  watch.phase = LinkPhase::Lost;
  watch.lastReopenMs = tickCountMs();
  showLinkLost();
  // A line error leaves the port usable once it is opened again with all settings, so that
  // is tried at once; a device that has gone away (an unplugged adapter, a simulator that
  // ended) is tried again every 500 ms by the receive pump. Only a link that was up tries at
  // once: a port that opens but fails again before the device answered would otherwise loop.
  if (wasUp) tryReopen();
  if (wasUp && warning != nullptr) showWarning(warning);
}

bool isLinkLost() { return watch.phase == LinkPhase::Lost; }

unsigned linkLossCount() { return losses; }

void pollLinkReopen() {
  if (watch.phase == LinkPhase::Lost && tickCountMs() - watch.lastReopenMs >= REOPEN_RETRY_MS) tryReopen();
}

void askDeviceState() {
  watch.modePending = true;
  watch.askedAgain = false;
  sendSimpleCommand(cdgDldMode);
}

void noteDeviceAnswered() {
  if (watch.phase == LinkPhase::Reopened) watch.phase = LinkPhase::Up;
}

void noteLinkMessage(const Packet& packet) {
  if (watch.modePending) {
    if (packet.code() == mdgMode) {
      watch.modePending = false;
      applyModeControls(packet.param(0));
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

void resetLinkWatch() {
  watch = LinkWatchState{};
  registerLinkOwner(LinkOwner{isLinkLost, reportLinkFailure});
}
