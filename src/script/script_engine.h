// The script engine: runs the instructions of a script memory one at a time by the device's
// rules. Portable and free of I/O; the simulator and the offline preview both drive it.
#pragma once
#include "script/instruction_set.h"
#include <cstdint>

constexpr int SCRIPT_ENGINE_STACK_DEPTH = 8;

// The device's fault codes for script faults.
enum ScriptFault : uint8_t {
  scriptFaultAddrRange = 9, scriptFaultElectrodeRange = 10, scriptFaultInvalidOp = 11,
  scriptFaultStackOverflow = 12, scriptFaultStackUnderflow = 13
};

enum class ScriptEvent : uint8_t { Next, Stopped, Fault, TiltLoop };

struct ScriptEngine {
  bool running = false;
  int pc = 0;
  int depth = 0;
  uint16_t stack[SCRIPT_ENGINE_STACK_DEPTH] = {};
};

// What one instruction did. steps is the number of 25 ms steps it occupies before the next
// instruction runs: 1, n for Delay n, 0 when the next one runs in the same step.
struct ScriptResult {
  ScriptEvent event = ScriptEvent::Next;
  int address = 0;
  uint8_t opcode = 0;
  int steps = 1;
  uint8_t fault = 0;     // with ScriptEvent::Fault
  int tiltCount = 0;     // with ScriptEvent::TiltLoop
  int tiltStep = 0;
};

void scriptEngineStart(ScriptEngine& engine, int address);
// Runs the instruction at engine.pc of memory (SCRIPT_MEMORY_SIZE bytes), changing
// electrodes (four codes) as it says. A Stop or a fault ends the run (running turns false).
ScriptResult scriptEngineExecute(ScriptEngine& engine, const uint8_t* memory, uint8_t* electrodes);
