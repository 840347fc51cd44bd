// Packet framing: builds and writes frames (SOT, length, payload, checksum, EOT) and reads
// and checks received ones.
#include "link/framing.h"
#include "link/serial_port.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A frame allows the byte time at 9600 baud twice over, plus a second, to leave the
// transmitter before the write is reported as failed.
int drainBoundMs(int frameSize) { return frameSize * 2 + 1000; }

void dropStalledFrame() {
  // A failed read has already been reported as a lost link.
  if (lastReadExactFailed()) return;
  setStatusBarText("Packet dropped: no byte for 1000 ms inside a frame");
}

}  // namespace

uint8_t computeChecksum(const uint8_t* bytes, int count) {
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

bool sendPacket(const uint8_t* payload, int length, const char* failureText) {
  // The length byte holds 1 to 255; anything else would put a corrupt frame on the line.
  if (payload == nullptr || length < 1 || length > 255) {
    char text[80];
    snprintf(text, sizeof text, "Packet not sent: payload of %d bytes is outside 1 to 255", length);
    showWarning(text);
    return false;
  }
  uint8_t frame[MAX_FRAME_LENGTH];
  const int size = length + 4;
  frame[0] = SOT;
  frame[1] = static_cast<uint8_t>(length);
  memcpy(frame + 2, payload, static_cast<size_t>(length));
  frame[length + 2] = computeChecksum(payload, length);
  frame[length + 3] = EOT;

  // While the port is lost nothing can go out: one status line instead of a box per command.
  if (isLinkLost()) {
    refuseWhileLinkLost();
    return false;
  }
  if (writeSerialPort(frame, size) != size || !waitTransmitterEmpty(drainBoundMs(size))) {
    clearSerialPortErrors();
    reportLinkFailure(failureText);
    return false;
  }
  return true;
}

void sendCode(uint8_t code) { sendPacket(&code, 1); }

void refuseWhileLinkLost() {
  char text[96];
  snprintf(text, sizeof text, "Not sent: the link to %s is lost - re-opening it", serialPortName());
  setStatusBarText(text);
}

bool receivePacket(Packet& packet) {
  packet.bytes = nullptr;
  uint8_t byte = 0;
  switch (readFrameStart(&byte)) {
    case NoByte:
      return false;
    case OtherByte: {
      char text[64];
      snprintf(text, sizeof text, "Packet tossed for invalid SOT character: 0x%.2x", byte);
      setStatusBarText(text);
      return false;
    }
    case StartOfFrame:
      break;
  }

  uint8_t frame[MAX_FRAME_LENGTH];
  frame[0] = SOT;
  if (!readExact(frame + 1, 1)) {
    dropStalledFrame();
    return false;
  }
  const int length = frame[1];
  if (!readExact(frame + 2, length + 2)) {
    dropStalledFrame();
    return false;
  }
  if (frame[length + 3] != EOT) {
    showWarning("Packet tossed for invalid EOT character");
    return false;
  }
  if (computeChecksum(frame + 2, length) != frame[length + 2]) {
    showWarning("Packet tossed for invalid checksum");
    return false;
  }
  const size_t size = static_cast<size_t>(length) + 4;
  packet.bytes = static_cast<uint8_t*>(malloc(size));
  if (packet.bytes == nullptr) {
    showWarning("Packet dropped: out of memory");
    return false;
  }
  memcpy(packet.bytes, frame, size);
  noteDeviceAnswered();
  return true;
}

void releasePacket(Packet& packet) {
  free(packet.bytes);
  packet.bytes = nullptr;
}
