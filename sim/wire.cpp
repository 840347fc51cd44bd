// Device-side frame helpers of the simulator: checksum, frame building, transcript lines.
#include "sim/wire.h"
#include "link/catalogue.h"
#include <cstdio>
#include <cstring>

uint8_t simChecksum(const uint8_t* bytes, int count) {
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

int simBuildFrame(const uint8_t* payload, int length, uint8_t* out) {
  if (length < 1 || length > SIM_MAX_PAYLOAD) return 0;
  out[0] = SIM_SOT;
  out[1] = static_cast<uint8_t>(length);
  std::memcpy(out + 2, payload, static_cast<size_t>(length));
  out[length + 2] = simChecksum(payload, length);
  out[length + 3] = SIM_EOT;
  return length + 4;
}

int simFormatTranscriptLine(char* out, int capacity, double timeMs, char direction,
                            const uint8_t* bytes, int count, const char* name) {
  if (capacity <= 0) return 0;
  int used = std::snprintf(out, static_cast<size_t>(capacity), "%8.1f %c ", timeMs, direction);
  if (used < 0 || used >= capacity) { out[capacity - 1] = '\0'; return capacity - 1; }
  const int nameLength = static_cast<int>(std::strlen(name));
  for (int i = 0; i < count; ++i) {
    // Keep room for this pair, the separator, the name and the line end.
    if (used + 3 + 1 + nameLength + 2 > capacity) break;
    used += std::snprintf(out + used, static_cast<size_t>(capacity - used), i == 0 ? "%.2x" : " %.2x", bytes[i]);
  }
  int tail = std::snprintf(out + used, static_cast<size_t>(capacity - used), " %s\n", name);
  if (tail < 0 || used + tail >= capacity) { out[capacity - 1] = '\0'; return capacity - 1; }
  return used + tail;
}

const char* simFrameName(char direction, uint8_t code) {
  const char* name = direction == '>' ? commandName(code) : messageName(code);
  return name != nullptr ? name : "?";
}
