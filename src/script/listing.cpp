// Listing of one script instruction from a read-back answer (mdgScrMemDld).
#include "script/memory_view.h"
#include "script/instruction_set.h"
#include <cstdio>

// An answer carries the address (parameters 0 and 1) and then the memory bytes; only the
// bytes the packet holds are read. A missing value is listed as "?".
struct AnswerBytes {
  const Packet& packet;
  int memoryCount() const { return packet.paramCount() - 2; }
  bool has(int k) const { return k < memoryCount(); }
  int byteAt(int k) const { return packet.param(2 + k); }
};

static void formatByte(const AnswerBytes& a, int k, char* out, int size) {
  if (a.has(k)) snprintf(out, static_cast<size_t>(size), "%d", a.byteAt(k));
  else snprintf(out, static_cast<size_t>(size), "?");
}

static void formatWord(const AnswerBytes& a, int k, char* out, int size) {
  if (a.has(k + 1)) snprintf(out, static_cast<size_t>(size), "%d", a.byteAt(k) | (a.byteAt(k + 1) << 8));
  else snprintf(out, static_cast<size_t>(size), "?");
}

int formatInstructionLine(const Packet& packet, char* line) {
  const size_t size = LISTING_LINE_SIZE;
  AnswerBytes a{packet};
  if (packet.paramCount() < 2) {
    snprintf(line, size, "   ?\t?\r\n");
    return 1;
  }
  int address = packet.param(0) | (packet.param(1) << 8);
  if (!a.has(0)) {
    snprintf(line, size, "%4d\t?\r\n", address);
    return 1;
  }
  uint8_t opcode = static_cast<uint8_t>(a.byteAt(0));
  if (opcode >= OPCODE_COUNT) {
    snprintf(line, size, "%4d\tInvalid Opcode: %d\r\n", address, opcode);
    return 1;
  }
  const char* keyword = scriptOpcodes[opcode].keyword;
  char v1[8], v2[8], v3[8], v4[8];
  switch (opcode) {
    case opSetElectrode:
      formatByte(a, 1, v1, sizeof v1);
      formatByte(a, 2, v2, sizeof v2);
      snprintf(line, size, "%4d\t%s\t%s %s\r\n", address, keyword, v1, v2);
      break;
    case opSetAllElectrodes:
      formatByte(a, 1, v1, sizeof v1);
      formatByte(a, 2, v2, sizeof v2);
      formatByte(a, 3, v3, sizeof v3);
      formatByte(a, 4, v4, sizeof v4);
      snprintf(line, size, "%4d\t%s\t%s %s %s %s\r\n", address, keyword, v1, v2, v3, v4);
      break;
    case opDelay: case opGoto: case opCall:
      formatWord(a, 1, v1, sizeof v1);
      snprintf(line, size, "%4d\t%s\t\t%s\r\n", address, keyword, v1);
      break;
    case opTiltLoop:
      formatWord(a, 1, v1, sizeof v1);
      formatByte(a, 3, v2, sizeof v2);
      snprintf(line, size, "%4d\t%s\t\t%s %s\r\n", address, keyword, v1, v2);
      break;
    default:  // Stop, NOP, Return
      snprintf(line, size, "%4d\t%s\r\n", address, keyword);
      break;
  }
  return instructionLength(opcode);
}
