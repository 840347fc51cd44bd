// Receive pump and message dispatcher: every device message reaches the program here.
#pragma once
#include "link/framing.h"
#include <cstdint>

// Timer callback body (the Win32 and console timers call it every 25 ms): pumps until -1.
void ReceiveTimerProc();
// Receives and dispatches one message; its code, or -1 when a message box is open or no
// packet was received.
int pumpOneMessage();
void handleDeviceMessage(const Packet& packet);
// Appends " <%.2x>" per parameter byte to a trace line of the given capacity; never
// overflows (the line is cut short with "..." when the capacity would be passed).
void appendParamBytes(char* line, int capacity, const Packet& packet);
// Formats the whole Received trace line of a packet; returns its length.
int formatReceivedLine(char* line, int capacity, const Packet& packet);
