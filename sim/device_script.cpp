// The simulated device's script execution: the shared script engine driven at one step per
// 25 ms, with trace reports, Stop and faults turned into messages.
#include "sim/device_state.h"

namespace simdev {

void startScript(int64_t t, int address) {
  scriptEngineStart(device.script, address);
  device.nextStepUs = t;
  sendAddress(t, mdgScrStarted, address);
}

// Runs the instructions of one step: normally one, more when Delay 0 hands the step on.
void scriptStep() {
  const int64_t t = device.nextStepUs;
  while (device.script.running) {
    const int pc = device.script.pc;
    if (device.trace && pc >= 0 && pc < SIM_SCRIPT_MEMORY_SIZE) {
      const uint8_t m[5] = {mdgScrTrace, low(pc), high(pc), device.memory[pc],
                            static_cast<uint8_t>(device.script.depth)};
      send(t, m, 5);
    }
    const ScriptResult r = scriptEngineExecute(device.script, device.memory, device.electrodes);
    switch (r.event) {
      case ScriptEvent::Stopped:
        stopScript();
        sendAddress(t, mdgScrStopped, r.address);
        return;
      case ScriptEvent::Fault:
        enterFault(t, r.fault);
        return;
      case ScriptEvent::TiltLoop:
        startTiltLoop(t, r.tiltCount, r.tiltStep);
        break;
      case ScriptEvent::Next:
        break;
    }
    if (r.steps > 0) {
      device.nextStepUs = t + r.steps * SIM_STEP_US;
      return;
    }
    // Delay 0 takes no time: the next instruction runs in this same step.
  }
}

}  // namespace simdev
