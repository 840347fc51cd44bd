// Main dialog behaviour: initialisation, command routing, slider notifications, shutdown.
// The front-ends translate window messages into these calls.
#pragma once

// WM_INITDIALOG, after the front-end has made the dialog's controls reachable.
void initMainDialog();
// WM_COMMAND: routes a command identifier; false for an identifier outside the table (or a
// Local Control notification other than a click).
bool routeCommand(int id, int notification);
// WM_VSCROLL from a slider control (its identifier, or -1 for another window).
bool handleSliderScroll(int sliderId, int scrollCode);
// WM_CLOSE: while current may flow, first asks how to close (and may stay open); then stops
// both logs and the timer, ends the dialog and posts quit with 0 (1 when the device did not
// confirm the Idle it was asked for).
void closeMainDialog();
void updateLogMenu();
bool isRunCaptionShown();
void toggleAdvancedWindows();
// The About box's text and caption.
extern const char* const ABOUT_CAPTION;
extern const char* const ABOUT_TEXT;
