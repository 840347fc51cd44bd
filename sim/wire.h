// Device-side frame helpers of the simulator: checksum, frame building, and the transcript
// line format that the simulator writes and end-to-end tests read back.
#pragma once
#include <cstdint>

constexpr uint8_t SIM_SOT = 0xAA;
constexpr uint8_t SIM_EOT = 0x55;
constexpr int SIM_MAX_PAYLOAD = 255;
constexpr int SIM_MAX_FRAME = SIM_MAX_PAYLOAD + 4;
// Longest transcript line: time, direction, 300 hex pairs, the longest name, line end.
constexpr int SIM_TRANSCRIPT_LINE_SIZE = 1024;
constexpr const char* SIM_BAD_FRAME_NAME = "(bad frame)";

uint8_t simChecksum(const uint8_t* bytes, int count);

// Frames a payload of 1 to 255 bytes into out (room for length + 4 bytes); returns the
// frame size, or 0 when the length is out of range.
int simBuildFrame(const uint8_t* payload, int length, uint8_t* out);

// One transcript line, "%8.1f %c %s %s\n": time in ms, '>' (host to device) or '<',
// the bytes as lower-case hex pairs separated by single spaces, and the name. Bytes that do
// not fit are left out rather than overrunning out. Returns the line length.
int simFormatTranscriptLine(char* out, int capacity, double timeMs, char direction,
                            const uint8_t* bytes, int count, const char* name);

// Name for a transcript line of a well-formed frame: the command name for '>', the message
// name for '<', "?" for a code the catalogue does not know.
const char* simFrameName(char direction, uint8_t code);
