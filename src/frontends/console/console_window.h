// Console implementation of the window seam: a table of controls per dialog that prints each
// visible change as one line and reads the operator's answers line by line. Tests drive it
// with string streams and read the table back.
#pragma once
#include "platform/window.h"
#include <iosfwd>
#include <string>

// Resets every dialog's control table to its template state and binds the streams. With
// interactive = false, answers are read straight from `in` (tests); with true, line reads
// wait on the terminal while the 25 ms receive timer keeps running (console_loop_posix.cpp).
void consoleWindowReset(std::istream* in, std::ostream* out, bool interactive = false);

// Reads one line of operator input for a prompt; false at end of input.
bool consoleReadLine(std::string& line);

// Runs the commands queued by postCommand, in order, until none is left; returns how many ran.
int consoleRunPostedCommands();
bool consoleTimerRunning();
bool consoleQuitRequested();
int consoleExitCode();
bool consoleExpanded();

// Batch mode: input is a script, not a person (--batch, or standard input is not a
// terminal). A message box with only OK prints as a line and reads no answer.
void consoleSetBatchMode(bool on);
bool consoleBatchMode();
// True once a Warning or a refused line was shown in batch mode.
bool consoleWarningShown();
// Prints a refused line: a console command that cannot be used, with its one-line reason.
void consoleRefuse(const std::string& reason);

// Read-back of the control table, for tests and ":show".
std::string consoleControlText(Dialog d, int id);
bool consoleControlEnabled(Dialog d, int id);
bool consoleControlShown(Dialog d, int id);
bool consoleMenuItemEnabled(int id);
// A main-window slider's range and page size as the program set them: what ":slider" accepts
// and how far ":slider-key" moves it, as a trackbar does. All 0 for an id that is no slider.
struct ConsoleSlider {
  int low, high, page;
};
ConsoleSlider consoleSlider(int id);
// Prints every displayed field of the main window.
void consoleShowAll();

// --- Additions used by the terminal loop and by tests --------------------------------------
// Line source for interactive reads: the terminal loop installs one that waits on the
// terminal while running timer ticks. Without one, interactive reads use the bound stream.
using ConsoleLineReader = bool (*)(std::string& line);
void consoleSetLineReader(ConsoleLineReader reader);
// When on, an answer read after a prompt is written back to the output (for input that the
// terminal does not echo, such as a pipe), so the transcript keeps one answer per prompt.
void consoleSetEchoAnswers(bool on);
// When on (input from a terminal that echoes), nothing is written after an answer.
void consoleSetTerminalEchoes(bool on);
// Creates or removes a dialog's control table. Main and ScriptManager get their template
// controls; Parameters gets only OK and Cancel (runParameterDialog adds the template's
// fields with consoleAddControl). The main dialog exists from consoleWindowReset on.
void consoleOpenDialog(Dialog d);
void consoleCloseDialog(Dialog d);
void consoleAddControl(Dialog d, int id, const char* text);
// The stream bound by consoleWindowReset (for the terminal loop's own messages).
std::ostream& consoleOutput();
// Takes the oldest command queued by postCommand; false when none is queued.
bool consoleTakePostedCommand(int& id);
// Prints the pending prompt again when other output has pushed it up (the terminal loop
// calls this while it waits for an answer).
void consoleRestorePrompt();
// Prints a prompt (no line end) and reads the answer; false at end of input.
bool consolePromptLine(const std::string& promptText, std::string& answer);
// --leave-running: closing in batch mode, which otherwise returns the device to Idle without
// asking, leaves it as it is. consoleWindowReset turns it off.
void consoleSetLeaveRunning(bool on);
