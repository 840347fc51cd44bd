// Reads shared by both serial backends: the frame-start byte and exact-count reads with the
// stall bound, built on the backend's one-byte read, and the link state that a failed read
// or write moves: lost, re-opened every 500 ms, and up again once the device answers.
#include "link/serial_port.h"
#include "link/framing.h"
#include "link/serial_backend.h"
#include "platform/clock.h"
#include <cstdio>

namespace {

// How often a port lost after a failure is tried again.
constexpr uint32_t REOPEN_RETRY_MS = 500;

enum class LinkPhase { Up, Lost, Reopened };

struct SerialReadState {
  LinkPhase phase = LinkPhase::Up;  // Lost: closed, waiting to re-open; Reopened: no answer yet
  uint32_t lastReopenMs = 0;        // when re-opening it was last tried
  bool exactReadFailed = false;     // the last readExact ended on a failed read
};

SerialReadState reads;

void tryReopen() {
  reads.lastReopenMs = tickCountMs();
  if (!tryReopenSerialPort()) return;
  reads.phase = LinkPhase::Reopened;
  showLinkReopened(serialPortName());
}

}  // namespace

void reportLinkFailure(const char* warning) {
  const bool wasUp = reads.phase == LinkPhase::Up;
  closeSerialPort();
  reads.phase = LinkPhase::Lost;
  reads.lastReopenMs = tickCountMs();
  showLinkLost(serialPortName());
  // A line error leaves the port usable once it is opened again with all settings, so that
  // is tried at once; a device that has gone away (an unplugged adapter, a simulator that
  // ended) is tried again every 500 ms by the receive pump. Only a link that was up tries at
  // once: a port that opens but fails again before the device answered would otherwise loop.
  if (wasUp) tryReopen();
  if (wasUp && warning != nullptr) showWarning(warning);
}

bool isLinkLost() { return reads.phase == LinkPhase::Lost; }

void noteDeviceAnswered() { reads.phase = LinkPhase::Up; }

void resetLinkState() { reads = SerialReadState{}; }

bool lastReadExactFailed() { return reads.exactReadFailed; }

bool readExact(uint8_t* buffer, int count) {
  reads.exactReadFailed = false;
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
        // The frame is lost with the line; the session is not.
        char text[64];
        snprintf(text, sizeof text, "Reading %d bytes from com port failed", count);
        reads.exactReadFailed = true;
        reportLinkFailure(text);
        return false;
      }
    }
  }
  return true;
}

FrameStartResult readFrameStart(uint8_t* byte) {
  if (!isSerialPortOpen()) {
    // Nothing can arrive on a port that is not open (before start-up or after shutdown).
    // A lost port is opened again as soon as its device is back.
    if (reads.phase == LinkPhase::Lost && tickCountMs() - reads.lastReopenMs >= REOPEN_RETRY_MS) tryReopen();
    return NoByte;
  }
  uint8_t value = 0;
  switch (readSerialByte(&value)) {
    case ByteRead::Failed:
      reportLinkFailure("Failed to Read Comm port while checking for SOT");
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
