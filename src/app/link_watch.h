// Link watch: owns the link's state (up, lost, re-opened), the half-second re-open timer and
// what the operator sees while the port is lost, and brings the host back in step with the
// device once the port is open again.
#pragma once
#include "link/framing.h"

// A failed read or write: closes the port, shows the lost link and tries to open the port
// again at once. The warning is shown only when the link was up, so a device that stays
// away costs one box, not one per attempt.
void reportLinkFailure(const char* warning);
// True while the port is closed after a failure and waits to be re-opened.
bool isLinkLost();
// How many times the link was lost since start-up: a wait that began before and sees it
// changed knows that its answer went with the link.
unsigned linkLossCount();
// Tries a lost port again once 500 ms have passed since the last try. The receive pump calls
// it on every tick, also while a message box is open: the answers then wait in the port.
void pollLinkReopen();
// Asks the device for its state: the mode request, whose answer sets the controls for that
// mode and, in Direct, asks for the electrodes as well.
void askDeviceState();
// Called for every whole frame: the device answers, so a later failure warns again.
void noteDeviceAnswered();
// Called for every valid device message after it was handled: the first one after a re-open
// restores the link, and the answer to the mode question sets the controls for that mode.
void noteLinkMessage(const Packet& packet);
// Start-up state (link up, nothing pending); registers the watch as the send path's link owner.
void resetLinkWatch();
