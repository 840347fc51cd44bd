// The script engine: decodes and runs one instruction of script memory, with the call stack
// and the faults of the device.
#include "script/script_engine.h"

namespace {

constexpr int OPCODE_LENGTHS[9] = {1, 1, 3, 5, 3, 3, 3, 1, 4};

int word(const uint8_t* p) { return p[0] | (p[1] << 8); }

ScriptResult fault(ScriptEngine& engine, ScriptResult result, uint8_t code) {
  engine.running = false;
  result.event = ScriptEvent::Fault;
  result.fault = code;
  result.steps = 0;
  return result;
}

}  // namespace

void scriptEngineStart(ScriptEngine& engine, int address) {
  engine.running = true;
  engine.pc = address;
  engine.depth = 0;
}

ScriptResult scriptEngineExecute(ScriptEngine& engine, const uint8_t* memory, uint8_t* electrodes) {
  ScriptResult result;
  const int pc = engine.pc;
  result.address = pc;
  if (pc < 0 || pc >= SCRIPT_ENGINE_MEMORY_SIZE) return fault(engine, result, scriptFaultAddrRange);
  const uint8_t op = memory[pc];
  result.opcode = op;
  if (op > scriptTiltLoop) return fault(engine, result, scriptFaultInvalidOp);
  if (pc + OPCODE_LENGTHS[op] > SCRIPT_ENGINE_MEMORY_SIZE) return fault(engine, result, scriptFaultAddrRange);
  const uint8_t* operand = memory + pc + 1;
  int next = pc + OPCODE_LENGTHS[op];
  switch (op) {
    case scriptStop:
      engine.running = false;
      result.event = ScriptEvent::Stopped;
      result.steps = 0;
      return result;
    case scriptSetElectrode:
      if (operand[0] < 1 || operand[0] > 4) return fault(engine, result, scriptFaultElectrodeRange);
      electrodes[operand[0] - 1] = operand[1];
      break;
    case scriptSetAllElectrodes:
      for (int i = 0; i < 4; ++i) electrodes[i] = operand[i];
      break;
    case scriptDelay:
      result.steps = word(operand);
      break;
    case scriptGoto:
      next = word(operand);
      break;
    case scriptCall:
      if (engine.depth >= SCRIPT_ENGINE_STACK_DEPTH) return fault(engine, result, scriptFaultStackOverflow);
      engine.stack[engine.depth++] = static_cast<uint16_t>(next);
      next = word(operand);
      break;
    case scriptReturn:
      if (engine.depth == 0) return fault(engine, result, scriptFaultStackUnderflow);
      next = engine.stack[--engine.depth];
      break;
    case scriptTiltLoop:
      result.event = ScriptEvent::TiltLoop;
      result.tiltCount = word(operand);
      result.tiltStep = operand[2];
      break;
    default:
      break;
  }
  engine.pc = next;
  return result;
}
