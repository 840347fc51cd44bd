// The exact-count read shared by both serial backends, built on the backend's one-byte read
// with the stall bound.
#include "link/serial_port.h"
#include "platform/clock.h"

LinkStatus readExact(uint8_t* buffer, int count) {
  int position = 0;
  uint32_t lastByteAt = tickCountMs();
  while (position < count) {
    switch (readSerialByte(buffer + position)) {
      case LinkStatus::Data:
        ++position;
        lastByteAt = tickCountMs();
        break;
      case LinkStatus::Nothing:
        // A device that stops inside a frame must not hold the program forever. The tick
        // count is in whole milliseconds, so "more than" guarantees the full wait.
        if (tickCountMs() - lastByteAt > static_cast<uint32_t>(FRAME_STALL_MS)) return LinkStatus::Nothing;
        break;
      case LinkStatus::Failed:
        return LinkStatus::Failed;
    }
  }
  return LinkStatus::Data;
}
