// The program's two message boxes, "Warning" and "Fatal Error!", and the flag that keeps the
// receive pump out while one of them is open (so no box ever opens on top of another).
#pragma once
#include <cstdint>

// Shows the fatal box and ends the program with exit status 1; it does not return.
[[noreturn]] void showFatalError(const char* text);
void showWarning(const char* text);
int isMessageBoxShowing();
// Milliseconds spent inside Warning boxes since the program started (wraps like the clock).
uint32_t warningOpenMs();
// Set to 0 by the main dialog's initialisation.
void setMessageBoxShowing(int showing);
