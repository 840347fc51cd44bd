// The one seam between the portable program and a window system. Controls are addressed by
// the numeric identifiers of resources/resource.h inside one of the program's dialogs.
// Exactly one implementation is linked: frontends/win32 (real controls) or frontends/console.
#pragma once
#include <cstdint>

struct Picture;

// The dialogs whose controls the portable code reaches.
enum class Dialog { Main, ScriptManager, Parameters };

// The five "Enter Parameters" templates.
enum class ParameterTemplate { Address, AddressCount, CountAndStep, Current, Currents };

// The numbers an accepted parameter dialog returns; the fields its template lacks read as
// empty text: -1, or 255 in the 8-bit ones.
struct ParameterValues {
  uint8_t electrode;
  uint8_t current;
  uint8_t currents[4];
  int32_t address;
  int32_t count;
  uint8_t step;
};

// Message box styles and answers (the Win32 values).
constexpr unsigned MB_STYLE_OK_EXCLAMATION = 0x0030;          // MB_OK | MB_ICONEXCLAMATION
constexpr unsigned MB_STYLE_FATAL = 0x1030;                   // ... | MB_SYSTEMMODAL
constexpr unsigned MB_STYLE_YESNO_EXCLAMATION = 0x0034;       // MB_YESNO | MB_ICONEXCLAMATION
constexpr unsigned MB_STYLE_OK = 0x0000;
// The bits of a style that choose its buttons, and their value for Yes and No.
constexpr unsigned MB_STYLE_BUTTONS_MASK = 0x000F;
constexpr unsigned MB_STYLE_BUTTONS_YESNO = 0x0004;
constexpr int MB_ANSWER_OK = 1;
constexpr int MB_ANSWER_YES = 6;
constexpr int MB_ANSWER_NO = 7;

// Dialog results of the parameter dialogs.
constexpr int PARAMETER_DIALOG_OK = 1;
constexpr int PARAMETER_DIALOG_CANCEL = 190;

// --- Controls ---------------------------------------------------------------------------
// True while that dialog exists (the main window once initialised; the Script Manager and a
// parameter dialog while open).
bool dialogExists(Dialog d);
void setControlText(Dialog d, int id, const char* text);
// Copies at most size - 1 characters of the control's text, always terminated; returns the
// number copied. A control that does not exist reads as empty text.
int getControlText(Dialog d, int id, char* buffer, int size);
void enableControl(Dialog d, int id, bool enabled);
void showControl(Dialog d, int id, bool shown);
void setCheckMark(Dialog d, int id, bool checked);
bool hasCheckMark(Dialog d, int id);
void focusControl(Dialog d, int id);
// Puts one line on top of a traffic pane of the main window (IDC_SENT_PANE or
// IDC_RECEIVED_PANE) and an empty line on top of the other, so the two columns stay aligned.
// Each pane keeps its newest PANE_TEXT_LIMIT characters. The front-end decides when the
// panes are drawn; the text is always up to date before a message box or dialog opens.
void putPaneLine(int paneId, const char* line);
// Scroll a multi-line edit by a number of lines (EM_LINESCROLL), now or after pending updates.
void scrollEditLines(Dialog d, int id, int lines);
void postScrollEditLines(Dialog d, int id, int lines);

// --- Electrode sliders (main dialog trackbars) -------------------------------------------
// Scroll codes of a slider notification (the Win32 trackbar values): a key, a click in the
// channel, the thumb dropped or dragged.
enum SliderScroll : int {
  SCROLL_LINE_UP = 0, SCROLL_LINE_DOWN = 1, SCROLL_PAGE_UP = 2, SCROLL_PAGE_DOWN = 3,
  SCROLL_THUMB_POSITION = 4, SCROLL_THUMB_TRACK = 5, SCROLL_TOP = 6, SCROLL_BOTTOM = 7
};
void setSliderRange(int id, int low, int high);
void setSliderPosition(int id, int position);
int getSliderPosition(int id);
void addSliderTick(int id, int position);
void setSliderPageSize(int id, int page);

// --- Main window ---------------------------------------------------------------------------
void enableMenuItem(int id, bool enabled);
// Outer width of the main window, and a move to the same left/top with a new width.
int mainWindowWidth();
void setMainWindowWidth(int width);
// The two widths recorded at start-up.
int expandedWindowWidth();
int collapsedWindowWidth();

// --- Modal interaction --------------------------------------------------------------------
// A modal message box owned by the given dialog (or by no window when it does not exist).
// The receive timer keeps running while it is open. Returns MB_ANSWER_*.
int showMessageBox(Dialog owner, const char* text, const char* caption, unsigned style);
// Save As with the overwrite prompt; false when cancelled. path gets the chosen name.
bool chooseSaveFileName(char* path, int size);
// Open (path and file must exist), owned by the Script Manager; false when cancelled.
bool chooseOpenFileName(char* path, int size);
// Runs a parameter dialog modally; returns PARAMETER_DIALOG_OK, with its fields in values, or
// PARAMETER_DIALOG_CANCEL, values untouched. Its OK is handled by parameterDialogOk
// (ui/parameters.h), which may keep it open.
int runParameterDialog(ParameterTemplate t, ParameterValues& values);
// Runs the Script Manager modally until it is closed.
void runScriptManagerDialog();
// Shows the picture in a window of its own with the caption, beside the Script Manager; a
// front-end without windows shows nothing.
void showPictureWindow(const char* caption, const Picture& picture);

// The closing question, asked while current may flow on the device: return it to Idle and
// close, close and leave it as it is, or do not close (the default answer where there is one).
enum class CloseChoice { ReturnToIdle, LeaveAsItIs, DoNotClose };
CloseChoice askHowToClose(const char* text);
// When the device does not confirm Idle: true to end the program all the same (status 1),
// false to keep the window open with a Warning.
bool closesWithoutIdleConfirmation();

// --- Timer and commands ---------------------------------------------------------------------
void startReceiveTimer();
void stopReceiveTimer();
// Queue a command identifier for the main window, handled after the current handler returns.
void postCommand(int id);
// Deliver a command identifier to the main window now; it is handled completely first.
void sendCommand(int id);
// End the main dialog and post the quit message with the exit code.
void endMainDialog();
void postQuit(int exitCode);
