// Status display: setters on the main window's status controls and the mode read-back.
#pragma once
#include <cstdint>

// The status bar line: notices that ask for no answer (a tossed or stalled frame, the link's
// state, a new calibration point).
void setStatusBarText(const char* text);
void setModeText(const char* text);
void setFaultText(const char* text);
void setScriptStatusText(const char* text);
void setLocalControlCheck(bool on);
void enableLocalControl(bool on);
void enableScriptControls(bool on);
void enableTiltControls(bool on);
void showRunCaption();
void showStopCaption();
void setTiltXText(const char* text);
void setTiltYText(const char* text);
uint8_t currentModeFromDisplay();
// False while the mode field names no mode: "Unknown" before the device answered, "Link
// lost", or a mode number beyond the table. A fault is a known mode.
bool modeIsKnown();
