// Log file steps shared by the traffic log and the data log: choosing, creating, closing and
// restarting a log file, and the time stamp both put at the start of a line.
#pragma once
#include <cstdint>

// Room formatTimeStamp needs, terminating zero included.
constexpr int TIME_STAMP_SIZE = 32;

// "%.2d\t%.2d\t%.2d.%.3d " of the local time; returns 13. out holds TIME_STAMP_SIZE chars.
int formatTimeStamp(char* out);
// Save As, then create the file; NO_FILE (-1) when cancelled or not created.
intptr_t chooseAndCreateLogFile();
// Closes `file` if open and leaves it NO_FILE.
void closeLogFile(intptr_t& file);
// Closes `file`, then chooses and creates a new one in its place (NO_FILE when cancelled).
void restartLogFile(intptr_t& file);
