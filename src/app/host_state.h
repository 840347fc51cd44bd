// The host's start-up state in one place: both programs call it before the main window
// opens, and every test fixture calls it before each test.
#pragma once

// Calibration store and run, stored electrode codes, memory read-back,
// Compiler Output, message-box flag and link watch (which registers itself as the send
// path's link owner) back to their start-up state.
void resetHostState();
