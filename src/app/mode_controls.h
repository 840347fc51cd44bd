// What each device mode does to the main window's controls: one table, used when the device
// enters Idle and when a re-opened link learns the device's mode.
#pragma once
#include <cstdint>

// Sets the gated controls, the Run/Stop caption and, in Idle, the electrodes at rest, as the
// mode allows them; in Direct, Program Script and Fault it also asks the device for its
// electrodes. Init, None and codes beyond the mode table change nothing (Idle follows Init).
void applyModeControls(uint8_t mode);
// Every gated control (electrodes, script, Local Control, tilt) on or off at once.
void enableAllGatedControls(bool on);
