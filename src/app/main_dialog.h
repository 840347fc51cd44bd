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
// WM_CLOSE: stops both logs and the timer, ends the dialog, posts quit with 0.
void closeMainDialog();
void updateLogMenu();
bool isRunCaptionShown();
void toggleAdvancedWindows();
// The About box's text and caption.
extern const char* const ABOUT_CAPTION;
extern const char* const ABOUT_TEXT;
