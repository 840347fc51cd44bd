// Packet framing: SOT 0xAA, length L, L payload bytes, checksum (sum mod 256), EOT 0x55.
#pragma once
#include <cstdint>

constexpr uint8_t SOT = 0xAA;
constexpr uint8_t EOT = 0x55;
constexpr int MAX_FRAME_LENGTH = 259;

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
// Frames and writes the payload (1 to 255 bytes), then waits for the transmitter to drain.
// False when it was not sent: refused with a status line while the link is lost, or after a
// failed write, which warns (failureText) once and loses the link.
bool sendPacket(const uint8_t* payload, int length, const char* failureText = "Write Failed");
void sendCode(uint8_t code);
// The status line for a command that cannot go out while the link is lost.
void refuseWhileLinkLost();
// One receive attempt; returns false when no packet was received. On true, packet.bytes is
// a heap block that the caller releases with releasePacket.
bool receivePacket(Packet& packet);
void releasePacket(Packet& packet);
