// Packet framing: SOT 0xAA, length L, L payload bytes, checksum (sum mod 256), EOT 0x55.
#pragma once
#include "link/serial_port.h"
#include <cstdint>

constexpr uint8_t SOT = 0xAA;
constexpr uint8_t EOT = 0x55;
constexpr int MAX_FRAME_LENGTH = 259;
constexpr int MAX_PAYLOAD_LENGTH = 255;

// A received frame exactly as it came off the wire, SOT and EOT included: byte 1 is L,
// byte 2 the code, byte 3 the first parameter. Owned by whoever received it.
struct Packet {
  uint8_t* bytes;
  int size() const { return bytes[1] + 4; }
  uint8_t length() const { return bytes[1]; }
  uint8_t code() const { return bytes[2]; }
  uint8_t param(int k) const { return bytes[3 + k]; }
  int paramCount() const { return bytes[1] > 0 ? bytes[1] - 1 : 0; }
};

uint8_t computeChecksum(const uint8_t* bytes, int count);
// Frames and writes the payload (1 to MAX_PAYLOAD_LENGTH bytes), then waits for the
// transmitter to drain. Data: the frame went out. Nothing: a length outside 1 to 255, nothing
// written. Failed: the write failed or did not drain in time; the port's error state is
// cleared and the system's error kept (lastLinkError).
LinkStatus sendPacket(const uint8_t* payload, int length);

// Why a receive attempt yielded no packet. Stray bytes and stalled frames are passing
// notices; a damaged frame asks the operator; a failed read loses the link.
enum class FrameProblem { None, StrayByte, Stalled, BadEot, BadChecksum, OutOfMemory, ReadFailed };
constexpr int RECEIVE_TEXT_SIZE = 64;

struct ReceiveReport {
  LinkStatus status;             // Data: a packet; Nothing: none (problem says why); Failed
  FrameProblem problem;
  int systemError;               // ReadFailed: lastLinkError() at the failure
  char text[RECEIVE_TEXT_SIZE];  // the problem in words, "" for None
};

// One receive attempt. On Data, packet.bytes is a heap block that the caller releases with
// releasePacket; otherwise it is nullptr.
ReceiveReport receivePacket(Packet& packet);
void releasePacket(Packet& packet);
