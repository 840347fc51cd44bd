// Traffic display (Sent and Received panes) and the traffic log file.
#pragma once
#include <cstdint>

constexpr int PANE_TEXT_LIMIT = 4095;

void showSentCommand(const uint8_t* payload, int length);
void showSentText(const char* text);
void showReceivedText(const char* text);
// "%.2d\t%.2d\t%.2d.%.3d " of the local time; returns 13. out holds at least 32 chars.
int formatTimeStamp(char* out);
// Save As, then create the file; NO_FILE (-1) when cancelled or not created.
intptr_t chooseAndCreateLogFile();
// Closes `file` if open and leaves it NO_FILE.
void closeLogFile(intptr_t& file);
// Closes `file`, then chooses and creates a new one in its place (NO_FILE when cancelled).
void restartLogFile(intptr_t& file);
void startTrafficLog();
void stopTrafficLog();
bool isTrafficLogOpen();
void writeTrafficLog(const char* bytes, int length);
