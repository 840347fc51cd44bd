// Script instruction set: the opcodes, their keywords and lengths, the script memory size and
// the script image record, shared by the compiler, the sample generator, the listing, the
// memory transfer and view, the script engine and the preview. The table is constexpr, so the
// script engine (which the simulator links alone) needs no code from here.
#pragma once
#include <cstdint>

constexpr int SCRIPT_MEMORY_SIZE = 2048;
// The device runs a script in steps of 25 ms: one instruction, or one step of a Delay.
constexpr int SCRIPT_STEP_MS = 25;
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
  int length;         // bytes of the instruction: the opcode and its operands
};

// Row k is opcode k.
constexpr OpcodeInfo scriptOpcodes[OPCODE_COUNT] = {
    {opStop, "Stop", 0, 1},         {opNOP, "NOP", 0, 1},          {opSetElectrode, "SetElectrode", 2, 3},
    {opSetAllElectrodes, "SetAllElectrodes", 4, 5}, {opDelay, "Delay", 1, 3}, {opGoto, "Goto", 1, 3},
    {opCall, "Call", 1, 3},         {opReturn, "Return", 0, 1},    {opTiltLoop, "TiltLoop", 2, 4},
};

// Opcode 0 to 8 of the keyword of length characters at text (not NUL-terminated), compared
// whole and ignoring ASCII letter case; NO_OPCODE when none matches.
int lookupOpcodeN(const char* text, long length);
// Length in bytes of the instruction that starts with this byte; 1 for bytes above 8.
constexpr int instructionLength(uint8_t opcode) {
  return opcode < OPCODE_COUNT ? scriptOpcodes[opcode].length : 1;
}

// Bytes written into script memory in one upload, with the start address chosen for them.
// bytes is a malloc'ed block owned by whoever built the image (nullptr when length is 0 and
// nothing was reserved).
struct ScriptImage {
  uint8_t* bytes;
  int length;
  int address;
};

void releaseScriptImage(ScriptImage& image);
