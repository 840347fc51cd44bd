// Script preview run: the script engine stepped over an image in an otherwise empty memory,
// collecting the electrode levels, the faults the device would raise and the first repeat.
#include "script/preview.h"
#include "script/instruction_set.h"
#include "link/catalogue.h"
#include "script/script_engine.h"
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace {

// Everything that decides what a script does next: where it is, its call stack and its
// electrodes. Two equal states at the start of a step are followed by the same steps.
struct RunState {
  uint8_t bytes[4 + 3 + 2 * SCRIPT_ENGINE_STACK_DEPTH] = {};
  bool operator==(const RunState& o) const { return std::memcmp(bytes, o.bytes, sizeof bytes) == 0; }
};

struct RunStateHash {
  size_t operator()(const RunState& s) const {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : s.bytes) h = (h ^ b) * 1099511628211ull;
    return static_cast<size_t>(h);
  }
};

RunState stateOf(const ScriptEngine& engine, const uint8_t* electrodes) {
  RunState s;
  std::memcpy(s.bytes, electrodes, 4);
  s.bytes[4] = static_cast<uint8_t>(engine.pc & 0xFF);
  s.bytes[5] = static_cast<uint8_t>(engine.pc >> 8);
  s.bytes[6] = static_cast<uint8_t>(engine.depth);
  for (int i = 0; i < engine.depth; ++i) {
    s.bytes[7 + 2 * i] = static_cast<uint8_t>(engine.stack[i] & 0xFF);
    s.bytes[8 + 2 * i] = static_cast<uint8_t>(engine.stack[i] >> 8);
  }
  return s;
}

const char STOPS[] = ": the device stops the script and enters Fault";

// One printf pattern and exactly the integers it takes.
template <class... Integers> std::string format(const char* pattern, Integers... values) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, static_cast<int>(values)...);
  return text;
}

struct Jump {
  bool valid = false;
  int address = 0;
  uint8_t opcode = 0;
};

// The fault line: what the instruction at the fault did wrong, and that the device stops.
std::string faultText(const ScriptResult& r, const uint8_t* memory, const Jump& jump) {
  switch (r.fault) {
    case scriptFaultInvalidOp:
      return format("fault at %d: byte %d is no instruction (opcode above 8)", r.address, r.opcode) + STOPS;
    case scriptFaultElectrodeRange:
      return format("fault at %d: SetElectrode %d names no electrode 1 to 4", r.address, memory[r.address + 1]) + STOPS;
    case scriptFaultStackOverflow:
      return format("fault at %d: a ninth nested Call", r.address) + STOPS;
    case scriptFaultStackUnderflow:
      return format("fault at %d: Return with nothing to return to", r.address) + STOPS;
    default:
      break;
  }
  if (r.address >= SCRIPT_MEMORY_SIZE && jump.valid) {
    std::string text = format("fault at %d: ", r.address);
    text.append(scriptOpcodes[jump.opcode].keyword);
    if (jump.opcode != opReturn) text.append(format(" %d", r.address));
    return text.append(format(" at %d leads outside memory (0 to 2047)", jump.address)).append(STOPS);
  }
  if (r.address >= SCRIPT_MEMORY_SIZE)
    return format("fault at %d: runs past the end of memory (2047)", r.address) + STOPS;
  return format("fault at %d: the instruction runs past the end of memory (2047)", r.address) + STOPS;
}

class Runner {
 public:
  Runner(const uint8_t* image, int length, int address, int64_t maxSteps, bool findRepeats, bool keepTrace)
      : maxSteps_(maxSteps), findRepeats_(findRepeats), keepTrace_(keepTrace) {
    if (length > 0) {
      std::memcpy(memory_ + address, image, static_cast<size_t>(length));
      std::memset(written_ + address, 1, static_cast<size_t>(length));
    }
    imageEnd_ = address + length;
    std::memset(electrodes_, IDLE_ELECTRODE_CODE, sizeof electrodes_);
    scriptEngineStart(engine_, address);
  }

  ScriptPreview run() {
    while (!finished_) {
      if (step_ > maxSteps_) {
        finish(PreviewEnd::Limit, maxSteps_, 0);
        break;
      }
      runStep();
    }
    return std::move(preview_);
  }

 private:
  void finish(PreviewEnd end, int64_t step, int address) {
    finished_ = true;
    preview_.end = end;
    preview_.endStep = step;
    preview_.endAddress = address;
    std::memcpy(preview_.endCodes, electrodes_, sizeof electrodes_);
  }

  void noteLevel(int64_t step) {
    auto& levels = preview_.levels;
    if (!levels.empty() && std::memcmp(levels.back().codes, electrodes_, sizeof electrodes_) == 0) return;
    if (!levels.empty() && levels.back().step == step) levels.pop_back();
    PreviewLevel level{step, {}};
    std::memcpy(level.codes, electrodes_, sizeof electrodes_);
    levels.push_back(level);
  }

  void noteEmptyMemory(int pc) {
    if (pc < 0 || pc >= SCRIPT_MEMORY_SIZE || written_[pc]) return;
    const char* how = pc == imageEnd_ ? "runs past the image at %d" : "reaches %d, outside the image,";
    preview_.findings.push_back(format(how, pc) +
                                " into empty memory (Stop): no fault, the device carries on and stops there");
  }

  // Remembers the state at the start of each step; a state met before means the run repeats
  // from there, the loop closed by the last backward jump.
  bool repeats() {
    if (!findRepeats_) return false;
    auto [at, inserted] = seen_.emplace(stateOf(engine_, electrodes_), step_);
    if (inserted) return false;
    preview_.repeatFrom = at->second;
    preview_.jumpAddress = backJump_.address;
    preview_.jumpOpcode = static_cast<uint8_t>(backJump_.opcode);
    preview_.jumpTarget = backJump_.target;
    finish(PreviewEnd::Repeat, step_, engine_.pc);
    return true;
  }

  // Runs the instructions of one step: one, or more while Delay 0 hands the step on.
  void runStep() {
    if (repeats()) return;
    for (;;) {
      const int pc = engine_.pc;
      noteEmptyMemory(pc);
      if (keepTrace_) preview_.trace.emplace_back(pc, step_);
      const ScriptResult r = scriptEngineExecute(engine_, memory_, electrodes_);
      if (r.event == ScriptEvent::Fault) {
        preview_.findings.push_back(faultText(r, memory_, jump_));
        noteLevel(step_);
        std::memset(electrodes_, IDLE_ELECTRODE_CODE, sizeof electrodes_);   // the device rests them in Fault
        finish(PreviewEnd::Fault, step_, r.address);
        return;
      }
      if (r.event == ScriptEvent::Stopped) {
        noteLevel(step_);
        finish(PreviewEnd::Stop, step_, r.address);
        return;
      }
      if (r.opcode == opSetElectrode) preview_.set[memory_[pc + 1] - 1] = true;
      if (r.opcode == opSetAllElectrodes) std::memset(preview_.set, 1, sizeof preview_.set);
      if (r.event == ScriptEvent::TiltLoop) noteTilt(r);
      const bool jumps = r.opcode == opGoto || r.opcode == opCall || r.opcode == opReturn;
      jump_ = Jump{jumps, pc, r.opcode};
      if (jumps && engine_.pc <= pc) backJump_ = {pc, r.opcode, engine_.pc};
      if (r.steps == 0) continue;
      noteLevel(step_);
      step_ += r.steps;
      return;
    }
  }

  void noteTilt(const ScriptResult& r) {
    for (const PreviewTilt& t : preview_.tilts) {
      if (t.address == r.address) return;
    }
    preview_.tilts.push_back({r.address, step_, r.tiltCount, r.tiltStep});
  }

  uint8_t memory_[SCRIPT_MEMORY_SIZE] = {};
  uint8_t written_[SCRIPT_MEMORY_SIZE] = {};
  int imageEnd_ = 0;
  uint8_t electrodes_[4];
  ScriptEngine engine_;
  int64_t step_ = 0;
  int64_t maxSteps_;
  bool findRepeats_;
  bool keepTrace_;
  bool finished_ = false;
  Jump jump_;
  struct { int address, opcode, target; } backJump_ = {0, 0, 0};
  std::unordered_map<RunState, int64_t, RunStateHash> seen_;
  ScriptPreview preview_;
};

}  // namespace

ScriptPreview previewScript(const uint8_t* image, int length, int address, int64_t maxSteps, bool findRepeats,
                            bool keepTrace) {
  // The runner holds two memories: on the heap, not the stack.
  auto runner = std::make_unique<Runner>(image, length, address, maxSteps, findRepeats, keepTrace);
  return runner->run();
}

int previewHundredths(uint8_t code) {
  return isNoCurrentCode(code) ? 0 : (code - ZERO_CURRENT_CODE) * CURRENT_STEP_HUNDREDTHS;
}

std::string previewCurrentText(uint8_t code) {
  const int h = previewHundredths(code);
  const int a = h < 0 ? -h : h;
  std::string sign = h > 0 ? "+" : h < 0 ? "-" : "";
  return sign.append(format("%d.%02d", a / 100, a % 100));
}
