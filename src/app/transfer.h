// Script memory upload: stop-and-wait transfer of an image, chunk by acknowledged chunk.
#pragma once
#include <cstdint>

constexpr int UPLOAD_CHUNK_SIZE = 16;
constexpr uint32_t UPLOAD_ACK_TIMEOUT_MS = 4000;

// Writes length bytes into script memory from address (already checked to be 0 to 2047),
// 16 bytes per chunk, each acknowledged by mdgScrMemUlded before the next is sent. True when
// every chunk was acknowledged (length 0 sends nothing and succeeds). A rejection
// (mdgCmdRejectedInvalidMode, mdgCmdRejectedUldMemAddrRange) ends it at once; 4000 ms
// without an answer to a chunk shows the upload warning; a chunk that cannot be written ends
// it at once with the link's Warning alone.
bool uploadScriptImage(int address, const uint8_t* bytes, int length);
