// The script engine: decodes and runs one instruction of script memory, with the call stack
// and the faults of the device.
#include "script/script_engine.h"

namespace {

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
  if (pc < 0 || pc >= SCRIPT_MEMORY_SIZE) return fault(engine, result, scriptFaultAddrRange);
  const uint8_t op = memory[pc];
  result.opcode = op;
  if (op > opTiltLoop) return fault(engine, result, scriptFaultInvalidOp);
  if (pc + instructionLength(op) > SCRIPT_MEMORY_SIZE) return fault(engine, result, scriptFaultAddrRange);
  const uint8_t* operand = memory + pc + 1;
  int next = pc + instructionLength(op);
  switch (op) {
    case opStop:
      engine.running = false;
      result.event = ScriptEvent::Stopped;
      result.steps = 0;
      return result;
    case opSetElectrode:
      if (operand[0] < 1 || operand[0] > 4) return fault(engine, result, scriptFaultElectrodeRange);
      electrodes[operand[0] - 1] = operand[1];
      break;
    case opSetAllElectrodes:
      for (int i = 0; i < 4; ++i) electrodes[i] = operand[i];
      break;
    case opDelay:
      result.steps = word(operand);
      break;
    case opGoto:
      next = word(operand);
      break;
    case opCall:
      if (engine.depth >= SCRIPT_ENGINE_STACK_DEPTH) return fault(engine, result, scriptFaultStackOverflow);
      engine.stack[engine.depth++] = static_cast<uint16_t>(next);
      next = word(operand);
      break;
    case opReturn:
      if (engine.depth == 0) return fault(engine, result, scriptFaultStackUnderflow);
      next = engine.stack[--engine.depth];
      break;
    case opTiltLoop:
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
