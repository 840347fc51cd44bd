// Link watch: brings the host back in step with the device after its port was re-opened.
#pragma once
#include "link/framing.h"

// Called for every valid device message after it was handled: the first one after a re-open
// restores the link, and the answer to the mode question sets the controls for that mode.
void noteLinkMessage(const Packet& packet);
// Start-up state (nothing pending), for start-up and test fixtures.
void resetLinkWatch();
