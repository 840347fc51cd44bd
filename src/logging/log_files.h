// Log file steps shared by the traffic log and the data log: choosing, creating, writing,
// closing and restarting a log file, and the time stamp both put at the start of a line.
#pragma once
#include "platform/files.h"
#include <string>

// Room formatTimeStamp needs, terminating zero included.
constexpr int TIME_STAMP_SIZE = 32;

// An open log file (NO_FILE while the log is off) and the name it was created under, which
// the Warning about a failed write names.
struct LogFile {
  FileHandle handle = NO_FILE;
  std::string path;
};

// "%.2d\t%.2d\t%.2d.%.3d " of the local time; returns 13. out holds TIME_STAMP_SIZE chars.
int formatTimeStamp(char* out);
// Save As, then create the file; the log stays off when cancelled or not created.
void chooseAndCreateLogFile(LogFile& log);
// Closes the log if open and leaves it off.
void closeLogFile(LogFile& log);
// Closes the log, then chooses and creates a new one in its place (off when cancelled).
void restartLogFile(LogFile& log);
// Writes one whole line to an open log. The first failure closes the log and shows one
// Warning with the file's name and the system's reason; the program goes on without it.
void writeLogLine(LogFile& log, const char* bytes, int length);
// Called after a log has closed itself on a failure, so the File menu can show it stopped.
using LogClosedHandler = void (*)();
void setLogClosedHandler(LogClosedHandler handler);
