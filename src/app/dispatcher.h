// Receive pump and message dispatcher: every device message reaches the program here.
#pragma once
#include "link/framing.h"
#include <cstdint>

// One timer tick handles messages for at most this long (time inside a Warning not counted)
// and then returns, so that the window's own messages are handled between ticks even when
// the line brings messages faster than the program can show them.
constexpr uint32_t RECEIVE_TICK_BUDGET_MS = 15;

// Timer callback body (the Win32 and console timers call it every 25 ms):
// pumpMessagesFor(RECEIVE_TICK_BUDGET_MS).
void ReceiveTimerProc();
// Dispatches messages in arrival order until none is waiting or budgetMs have been spent
// outside Warning boxes (at least one message when one is waiting). Returns how many, as a
// negative number when the time ran out (more may be waiting).
int pumpMessagesFor(uint32_t budgetMs);
// Receives and dispatches one message; its code, or -1 when a message box is open or no
// packet was received.
int pumpOneMessage();
void handleDeviceMessage(const Packet& packet);
// Appends " <%.2x>" per parameter byte to a trace line of the given capacity; never
// overflows (the line is cut short with "..." when the capacity would be passed).
void appendParamBytes(char* line, int capacity, const Packet& packet);
// Formats the whole Received trace line of a packet; returns its length.
int formatReceivedLine(char* line, int capacity, const Packet& packet);
