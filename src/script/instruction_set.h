// Script instruction set: the opcode table, instruction lengths and the script image record
// shared by the compiler, the sample generator, the memory transfer and the memory view.
#pragma once
#include <cstdint>

constexpr int SCRIPT_MEMORY_SIZE = 2048;
constexpr int OPCODE_COUNT = 9;
// Lookup answer when no keyword matches (one past the last opcode).
constexpr int NO_OPCODE = 9;
// The longest instruction (SetAllElectrodes).
constexpr int MAX_INSTRUCTION_LENGTH = 5;

enum ScriptOpcode : uint8_t {
  opStop = 0, opNOP, opSetElectrode, opSetAllElectrodes, opDelay, opGoto, opCall, opReturn,
  opTiltLoop
};

struct OpcodeInfo {
  int opcode;
  const char* keyword;
  int argumentCount;  // numbers that follow the keyword in source
};

// Row k is opcode k.
extern const OpcodeInfo scriptOpcodes[OPCODE_COUNT];

// Opcode 0 to 8 of a keyword, compared whole and ignoring ASCII letter case; NO_OPCODE when
// none matches.
int lookupOpcode(const char* text);
// The same for a keyword that is not NUL-terminated.
int lookupOpcodeN(const char* text, long length);
// Length in bytes of the instruction that starts with this byte; 1 for bytes above 8.
int instructionLength(uint8_t opcode);

// Bytes written into script memory in one upload, with the start address chosen for them.
// bytes is a malloc'ed block owned by whoever built the image (nullptr when length is 0 and
// nothing was reserved).
struct ScriptImage {
  uint8_t* bytes;
  int length;
  int address;
};

void releaseScriptImage(ScriptImage& image);
