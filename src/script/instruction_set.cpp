// The script opcode table, keyword lookup and instruction lengths.
#include "script/instruction_set.h"
#include <cstdlib>

const OpcodeInfo scriptOpcodes[OPCODE_COUNT] = {
  {opStop, "Stop", 0},
  {opNOP, "NOP", 0},
  {opSetElectrode, "SetElectrode", 2},
  {opSetAllElectrodes, "SetAllElectrodes", 4},
  {opDelay, "Delay", 1},
  {opGoto, "Goto", 1},
  {opCall, "Call", 1},
  {opReturn, "Return", 0},
  {opTiltLoop, "TiltLoop", 2},
};

static const int instructionLengths[OPCODE_COUNT] = {1, 1, 3, 5, 3, 3, 3, 1, 4};

static char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int lookupOpcodeN(const char* text, long length) {
  for (int row = 0; row < OPCODE_COUNT; ++row) {
    const char* keyword = scriptOpcodes[row].keyword;
    long i = 0;
    while (i < length && keyword[i] != '\0' && asciiLower(text[i]) == asciiLower(keyword[i])) ++i;
    if (i == length && keyword[i] == '\0') return row;
  }
  return NO_OPCODE;
}

int lookupOpcode(const char* text) {
  long length = 0;
  while (text[length] != '\0') ++length;
  return lookupOpcodeN(text, length);
}

int instructionLength(uint8_t opcode) {
  return opcode < OPCODE_COUNT ? instructionLengths[opcode] : 1;
}

void releaseScriptImage(ScriptImage& image) {
  free(image.bytes);
  image.bytes = nullptr;
  image.length = 0;
}
