// Traffic display (Sent and Received panes) and the traffic log file.
#pragma once
#include <cstdint>

#include <string>

constexpr int PANE_TEXT_LIMIT = 4095;

// Puts text and CR LF on top of a pane's text, keeping the newest PANE_TEXT_LIMIT characters.
// The window front-ends keep their panes with it.
void putLineOnTop(std::string& pane, const char* text);

void showSentCommand(const uint8_t* payload, int length);
void showSentText(const char* text);
void showReceivedText(const char* text);
void startTrafficLog();
void stopTrafficLog();
bool isTrafficLogOpen();
void writeTrafficLog(const char* bytes, int length);
