// The console front-end's terminal loop (POSIX): one poll over the terminal input and the
// 25 ms receive timer, with the operator's ":" commands and typed command codes.
#pragma once
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
