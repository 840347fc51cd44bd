// Traffic display (Sent and Received panes) and the traffic log file.
#pragma once
#include <cstdint>

constexpr int PANE_TEXT_LIMIT = 4095;

void showSentCommand(const uint8_t* payload, int length);
void showSentText(const char* text);
void showReceivedText(const char* text);
void startTrafficLog();
void stopTrafficLog();
bool isTrafficLogOpen();
void writeTrafficLog(const char* bytes, int length);
