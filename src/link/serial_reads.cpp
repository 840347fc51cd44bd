// Reads shared by both serial backends: the frame-start byte and exact-count reads with the
// stall bound, built on the backend's one-byte read.
#include "link/serial_port.h"
#include "link/framing.h"
#include "link/serial_backend.h"
#include "platform/clock.h"
#include <cstdio>

namespace {

// How often a port lost after a read failure is tried again.
constexpr uint32_t REOPEN_RETRY_MS = 500;

struct SerialReadState {
  bool portLost = false;       // a read failure closed the port and it could not be re-opened
  uint32_t lastReopenMs = 0;   // when re-opening it was last tried
};

SerialReadState reads;

}  // namespace

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
  if (!isSerialPortOpen()) {
    // Nothing can arrive on a port that is not open (before start-up or after shutdown).
    // A port lost to a read failure is opened again as soon as its device is back.
    if (reads.portLost && tickCountMs() - reads.lastReopenMs >= REOPEN_RETRY_MS) {
      reads.lastReopenMs = tickCountMs();
      if (tryReopenSerialPort()) reads.portLost = false;
    }
    return NoByte;
  }
  reads.portLost = false;
  uint8_t value = 0;
  switch (readSerialByte(&value)) {
    case ByteRead::Failed:
      // A line error leaves the port unusable until it is opened again with all settings.
      // A device that has gone away (an unplugged adapter, a simulator that ended) cannot be
      // opened at once; ending the program then would lose the session and its calibration,
      // so the port stays closed and later receive attempts open it when the device is back.
      closeSerialPort();
      if (!tryReopenSerialPort()) {
        reads.portLost = true;
        reads.lastReopenMs = tickCountMs();
      }
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
