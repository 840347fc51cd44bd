// Packet framing: builds and writes frames (SOT, length, payload, checksum, EOT) and reads
// and checks received ones. Every outcome is reported to the caller; nothing is shown here.
#include "link/framing.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A frame allows the byte time at 9600 baud twice over, plus a second, to leave the
// transmitter before the write is reported as failed.
int drainBoundMs(int frameSize) { return frameSize * 2 + 1000; }

ReceiveReport report(LinkStatus status, FrameProblem problem, const char* text) {
  ReceiveReport r{status, problem, 0, {}};
  std::snprintf(r.text, sizeof r.text, "%s", text);
  return r;
}

ReceiveReport readFailed(int count) {
  ReceiveReport r = report(LinkStatus::Failed, FrameProblem::ReadFailed, "");
  if (count == 0) std::snprintf(r.text, sizeof r.text, "Failed to Read Comm port while checking for SOT");
  else std::snprintf(r.text, sizeof r.text, "Reading %d bytes from com port failed", count);
  r.systemError = lastLinkError();
  return r;
}

// Reads count bytes of a frame; Data, a stall or a failed read as the report says.
bool readFramePart(uint8_t* buffer, int count, ReceiveReport& r) {
  switch (readExact(buffer, count)) {
    case LinkStatus::Data:
      return true;
    case LinkStatus::Nothing:
      r = report(LinkStatus::Nothing, FrameProblem::Stalled, "Packet dropped: no byte for 1000 ms inside a frame");
      return false;
    case LinkStatus::Failed:
      r = readFailed(count);
      return false;
  }
  return false;
}

}  // namespace

uint8_t computeChecksum(const uint8_t* bytes, int count) {
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

LinkStatus sendPacket(const uint8_t* payload, int length) {
  // The length byte holds 1 to 255; anything else would put a corrupt frame on the line.
  if (payload == nullptr || length < 1 || length > MAX_PAYLOAD_LENGTH) return LinkStatus::Nothing;
  uint8_t frame[MAX_FRAME_LENGTH];
  const int size = length + 4;
  frame[0] = SOT;
  frame[1] = static_cast<uint8_t>(length);
  memcpy(frame + 2, payload, static_cast<size_t>(length));
  frame[length + 2] = computeChecksum(payload, length);
  frame[length + 3] = EOT;
  if (writeSerialPort(frame, size) != size || !waitTransmitterEmpty(drainBoundMs(size))) {
    clearSerialPortErrors();
    return LinkStatus::Failed;
  }
  return LinkStatus::Data;
}

ReceiveReport receivePacket(Packet& packet) {
  packet.bytes = nullptr;
  uint8_t byte = 0;
  switch (readSerialByte(&byte)) {
    case LinkStatus::Nothing:
      return report(LinkStatus::Nothing, FrameProblem::None, "");
    case LinkStatus::Failed:
      return readFailed(0);
    case LinkStatus::Data:
      break;
  }
  if (byte != SOT) {
    ReceiveReport r = report(LinkStatus::Nothing, FrameProblem::StrayByte, "");
    std::snprintf(r.text, sizeof r.text, "Packet tossed for invalid SOT character: 0x%.2x", byte);
    return r;
  }

  uint8_t frame[MAX_FRAME_LENGTH];
  frame[0] = SOT;
  ReceiveReport r = report(LinkStatus::Nothing, FrameProblem::None, "");
  if (!readFramePart(frame + 1, 1, r)) return r;
  const int length = frame[1];
  if (!readFramePart(frame + 2, length + 2, r)) return r;
  if (frame[length + 3] != EOT)
    return report(LinkStatus::Nothing, FrameProblem::BadEot, "Packet tossed for invalid EOT character");
  if (computeChecksum(frame + 2, length) != frame[length + 2])
    return report(LinkStatus::Nothing, FrameProblem::BadChecksum, "Packet tossed for invalid checksum");
  const size_t size = static_cast<size_t>(length) + 4;
  packet.bytes = static_cast<uint8_t*>(malloc(size));
  if (packet.bytes == nullptr)
    return report(LinkStatus::Nothing, FrameProblem::OutOfMemory, "Packet dropped: out of memory");
  memcpy(packet.bytes, frame, size);
  return report(LinkStatus::Data, FrameProblem::None, "");
}

void releasePacket(Packet& packet) {
  free(packet.bytes);
  packet.bytes = nullptr;
}
