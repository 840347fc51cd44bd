// Link watch: brings the host back in step with the device after its port was re-opened.
#pragma once
#include "link/framing.h"

// Called for every valid device message after it was handled: the first one after a re-open
// restores the link, and the answer to the mode question sets the controls for that mode.
void noteLinkMessage(const Packet& packet);
// Asks the device for its mode (and then, where it has them to report, its electrodes) and
// sets the controls from the first answer; nothing it sends changes the device. Used after the
// port opens at start-up and after every re-open.
void askDeviceState();
// Start-up state (nothing pending), for start-up and test fixtures.
void resetLinkWatch();
