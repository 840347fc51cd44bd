// Script memory view: read-back batches of 20 instructions listed in the memory pane.
#pragma once
#include "link/framing.h"

constexpr const char* INVALID_ADDRESS_TEXT = "Invalid address, must be between 0 and 2047";

constexpr int READ_BACK_BATCH = 20;
constexpr int LISTING_LINE_SIZE = 60;
constexpr int READ_BACK_COUNT = 5;

// Asks for READ_BACK_COUNT bytes of script memory at address; an address outside 0 to 2047
// shows the warning "Invalid address, must be between 0 and 2047" and sends nothing. True
// when the request went out.
bool requestScriptMemory(int address);

void beginReadBack(int address);
void onScriptMemoryRead(const Packet& packet);
// Formats one listing line from an mdgScrMemDld packet; returns the instruction's length.
int formatInstructionLine(const Packet& packet, char* line);
// Start-up state (no batch), for start-up and test fixtures.
void resetMemoryView();
