// Reads shared by both serial backends: the frame-start byte and exact-count reads with the
// stall bound, built on the backend's one-byte read.
#include "link/serial_port.h"
#include "link/framing.h"
#include "link/serial_backend.h"
#include "platform/clock.h"
#include <cstdio>

bool readExact(uint8_t* buffer, int count) {
  int position = 0;
  uint32_t lastByteAt = tickCountMs();
  while (position < count) {
    switch (readSerialByte(buffer + position)) {
      case ByteRead::Got:
        ++position;
        lastByteAt = tickCountMs();
        break;
      case ByteRead::Nothing:
        // A device that stops inside a frame must not hold the program forever. The tick
        // count is in whole milliseconds, so "more than" guarantees the full wait.
        if (tickCountMs() - lastByteAt > static_cast<uint32_t>(FRAME_STALL_MS)) return false;
        break;
      case ByteRead::Failed: {
        char text[64];
        snprintf(text, sizeof text, "Reading %d bytes from com port failed", count);
        closeSerialPort();
        showFatalError(text);
      }
    }
  }
  return true;
}

FrameStartResult readFrameStart(uint8_t* byte) {
  // Nothing can arrive on a port that is not open (before start-up or after shutdown).
  if (!isSerialPortOpen()) return NoByte;
  uint8_t value = 0;
  switch (readSerialByte(&value)) {
    case ByteRead::Failed:
      // A line error leaves the port unusable until it is opened again with all settings.
      closeSerialPort();
      reopenSerialPort();
      showWarning("Failed to Read Comm port while checking for SOT");
      return NoByte;
    case ByteRead::Nothing:
      return NoByte;
    case ByteRead::Got:
      break;
  }
  if (value == SOT) return StartOfFrame;
  *byte = value;
  return OtherByte;
}
