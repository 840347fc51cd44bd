// Script memory transfer: stop-and-wait upload of an image and read-back requests.
#pragma once
#include <cstdint>

constexpr int UPLOAD_CHUNK_SIZE = 16;
constexpr uint32_t UPLOAD_ACK_TIMEOUT_MS = 4000;
constexpr int READ_BACK_COUNT = 5;

// Writes length bytes into script memory from address (already checked to be 0 to 2047),
// 16 bytes per chunk, each acknowledged by mdgScrMemUlded before the next is sent. True when
// every chunk was acknowledged (length 0 sends nothing and succeeds). A rejection
// (mdgCmdRejectedInvalidMode, mdgCmdRejectedUldMemAddrRange) ends it at once; 4000 ms
// without an answer to a chunk shows the upload warning.
bool uploadScriptImage(int address, const uint8_t* bytes, int length);

// Asks for READ_BACK_COUNT bytes of script memory at address; an address outside 0 to 2047
// shows the warning "Invalid address, must be between 0 and 2047" and sends nothing.
void requestScriptMemory(int address);
