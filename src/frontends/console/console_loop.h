// The console front-end's terminal loop (POSIX): one poll over the terminal input and the
// 25 ms receive timer, with the operator's ":" commands and typed command codes.
#pragma once
#include <cstdint>
#include <string>

// Installs the interactive line reader for prompts (modal dialogs, message boxes, choosers).
void consoleLoopInstall();
// Another descriptor whose input the loop reads and throws away (the simulator's output),
// so that its writer never blocks; -1 for none.
void consoleLoopDrainDescriptor(int fd);
// Where ":sim TEXT" lines go (the simulator's control input); -1 when there is none.
void consoleLoopSimulatorControl(int fd);
// Handles one line of operator input at the top level (a ":" command or a command code).
void consoleHandleInputLine(const std::string& raw);
// Runs until the main window is closed (":quit", Exit, or end of input) or a quit is posted.
void consoleRunLoop();

// Monotonic milliseconds, the loop's clock.
int64_t consoleMonotonicMs();
// Keeps the receive timer and the posted commands running, and reads input into the buffer
// without taking a line, until done(context) is true (returns true) or deadlineMs passes or a
// quit is posted (returns false).
bool consoleLoopPumpUntil(bool (*done)(void*), void* context, int64_t deadlineMs);
// No more input lines are taken: a prompt ends as at the end of input, and the loop closes
// the main window as its close box does.
void consoleLoopStopReading();
// With on, the first Warning or refused line shown in batch mode stops the input.
void consoleLoopStopOnWarning(bool on);
// The number of lines printed when the input line before the current one was taken.
uint64_t consoleLoopLinesBeforeLastRead();

// ":wait" and ":sleep" (console_wait_posix.cpp): arguments are the text after the name.
void consoleWaitCommand(const std::string& arguments, bool sleep);
// True once a ":wait" has timed out.
bool consoleWaitTimedOut();
// Waits up to timeoutMs for the device to report a mode other than Init; false when it did not.
bool consoleWaitForDevice(int timeoutMs);
