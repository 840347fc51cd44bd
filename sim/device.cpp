// The simulated Kinestim device: its state, the modes, the scheduling of everything due and
// the public interface. The line, commands, scripts and tilt readings have files of their own.
#include "sim/device_state.h"
#include <cmath>
#include <cstring>

namespace simdev {

SimDevice device;

namespace {

uint8_t exitedMessage(uint8_t mode) {
  switch (mode) {
    case modeInit: return mdgExitedModeInit;
    case modeIdle: return mdgExitedModeIdle;
    case modeDirect: return mdgExitedModeDirect;
    case modeProgramScript: return mdgExitedModePgmScr;
    case modeRunScr: return mdgExitedModeRunScr;
    case modeFault: return mdgExitedModeFault;
    default: return 0xFF;
  }
}

uint8_t enteredMessage(uint8_t mode) {
  switch (mode) {
    case modeIdle: return mdgEnteredModeIdle;
    case modeDirect: return mdgEnteredModeDirect;
    case modeProgramScript: return mdgEnteredModePgmScr;
    case modeRunScr: return mdgEnteredModeRunScr;
    case modeFault: return mdgEnteredModeFault;
    default: return 0xFF;
  }
}

}  // namespace

void idleElectrodes() {
  for (uint8_t& e : device.electrodes) e = IDLE_ELECTRODE_CODE;
}

void stopScript() {
  device.script.running = false;
  device.nextStepUs = SIM_NEVER;
}

// Leaves the current mode for newMode, announcing it: the optional Selected or Deselected
// message, the Exited message of the old mode, the Entered message of the new one.
void changeMode(int64_t t, uint8_t newMode, int announcement) {
  const uint8_t old = device.mode;
  if (announcement >= 0) send1(t, static_cast<uint8_t>(announcement));
  if (exitedMessage(old) != 0xFF) send1(t, exitedMessage(old));
  if (old == modeDirect || old == modeRunScr) idleElectrodes();
  if (old == modeRunScr) { stopScript(); stopTiltLoop(); }
  device.mode = newMode;
  if (newMode == modeIdle) idleElectrodes();
  if (newMode == modeRunScr) stopTiltLoop();
  send1(t, enteredMessage(newMode));
}

// Back to the start state (power-on or cdgInit); script memory is kept.
void resetVolatileState() {
  idleElectrodes();
  device.localControl = true;
  device.faultCode = -1;
  device.trace = false;
  device.armed = false;
  device.armedAddress = 0;
  stopScript();
  device.script.depth = 0;
  device.script.pc = 0;
  stopTiltLoop();
  device.powerOnDueUs = SIM_NEVER;
}

void finishInit(int64_t t) {
  device.powerOnDueUs = SIM_NEVER;
  device.mode = modeInit;
  send1(t, mdgExitedModeInit);
  device.mode = modeIdle;
  idleElectrodes();
  send1(t, mdgEnteredModeIdle);
}

void enterFault(int64_t t, uint8_t code) {
  if (device.mode == modeFault) {
    device.faultCode = code;
    send2(t, mdgFault, code);
    return;
  }
  if (exitedMessage(device.mode) != 0xFF) send1(t, exitedMessage(device.mode));
  stopScript();
  stopTiltLoop();
  idleElectrodes();
  device.powerOnDueUs = SIM_NEVER;
  device.mode = modeFault;
  device.faultCode = code;
  send2(t, mdgFault, code);
  send1(t, mdgEnteredModeFault);
}

namespace {

// Runs the earliest event due at or before nowUs; false when none is due.
bool runOneDueEvent(int64_t nowUs) {
  int64_t due = device.powerOnDueUs;
  int which = 0;
  if (device.script.running && device.nextStepUs < due) { due = device.nextStepUs; which = 1; }
  if (device.tiltLoopLeft > 0 && device.nextTiltUs < due) { due = device.nextTiltUs; which = 2; }
  if (rxTimeoutDue() < due) { due = rxTimeoutDue(); which = 3; }
  if (due == SIM_NEVER || due > nowUs) return false;
  switch (which) {
    case 0: finishInit(due); break;
    case 1: scriptStep(); break;
    case 2: tiltLoopTick(); break;
    default: rejectFrame(due, mdgRxCmdTimeout); break;
  }
  return true;
}

}  // namespace

}  // namespace simdev

using namespace simdev;


void simReset(uint32_t seed) {
  device = SimDevice();
  device.rng = seed != 0 ? seed : 1;
}

void simPowerOn(int64_t nowUs, int delayMs) {
  device.out.clear();
  device.powered = true;
  resetVolatileState();
  device.mode = modeInit;
  device.rx = RxState::WaitStart;
  device.rxCount = 0;
  device.strayRun = false;
  device.rxLastUs = nowUs;
  device.powerOnDueUs = nowUs + static_cast<int64_t>(delayMs < 0 ? 0 : delayMs) * 1000;
}

void simPowerOff() {
  device.powered = false;
  resetVolatileState();
  device.mode = modeNone;
  device.rx = RxState::WaitStart;
  device.rxCount = 0;
  device.out.clear();
}

bool simIsPowered() { return device.powered; }

void simReceive(int64_t nowUs, const uint8_t* bytes, int count) {
  if (!device.powered) return;
  simAdvance(nowUs);
  for (int i = 0; i < count; ++i) {
    receiveByte(nowUs, bytes[i]);
    simAdvance(nowUs);
  }
}

void simAdvance(int64_t nowUs) {
  if (!device.powered) return;
  while (runOneDueEvent(nowUs)) {
  }
}

int64_t simNextDueUs() {
  int64_t due = SIM_NEVER;
  if (!device.out.empty()) due = device.out.front().releaseUs;
  if (!device.powered) return due;
  if (device.powerOnDueUs < due) due = device.powerOnDueUs;
  if (device.script.running && device.nextStepUs < due) due = device.nextStepUs;
  if (device.tiltLoopLeft > 0 && device.nextTiltUs < due) due = device.nextTiltUs;
  if (rxTimeoutDue() < due) due = rxTimeoutDue();
  return due;
}

int simTakeOutput(int64_t nowUs, uint8_t* out, int capacity) {
  int taken = 0;
  while (!device.out.empty() && device.out.front().releaseUs <= nowUs && taken < capacity) {
    OutChunk& chunk = device.out.front();
    int n = static_cast<int>(chunk.bytes.size());
    if (n > capacity - taken) n = capacity - taken;
    std::memcpy(out + taken, chunk.bytes.data(), static_cast<size_t>(n));
    taken += n;
    chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + n);
    if (chunk.bytes.empty()) device.out.pop_front();
  }
  return taken;
}

int64_t simNextOutputUs() { return device.out.empty() ? SIM_NEVER : device.out.front().releaseUs; }

bool simTakeFrameEvent(SimFrameEvent& event) {
  if (device.events.empty()) return false;
  event = device.events.front();
  device.events.pop_front();
  return true;
}

void simSetTilt(double xDeg, double yDeg) {
  device.tiltX = xDeg;
  device.tiltY = yDeg;
}

void simSetPeriod(int64_t nowUs, double period) {
  device.period = simQuantisePeriod(period);
  device.periodSetUs = nowUs;
}

void simSetNoise(int ticks) { device.noise = ticks < 0 ? 0 : (ticks > SIM_MAX_NOISE ? SIM_MAX_NOISE : ticks); }
void simSetDrift(double ticksPerSecond) { device.drift = std::isfinite(ticksPerSecond) ? ticksPerSecond : 0.0; }

bool simRaiseFault(int64_t nowUs, uint8_t code) {
  if (!device.powered) return false;
  simAdvance(nowUs);
  enterFault(nowUs, code);
  return true;
}

bool simKnob(int64_t nowUs, int electrode, uint8_t code) {
  if (!device.powered || device.mode == modeInit || device.mode == modeFault) return false;
  if (electrode < 1 || electrode > 4) return false;
  simAdvance(nowUs);
  if (!device.localControl) {
    send3(nowUs, mdgLclCmdRejectedLclCtrlDisabled, static_cast<uint8_t>(electrode), code);
    return true;
  }
  device.electrodes[electrode - 1] = code;
  const uint8_t m[5] = {mdgAllElectrodesDld, device.electrodes[0], device.electrodes[1],
                        device.electrodes[2], device.electrodes[3]};
  send(nowUs, m, 5);
  return true;
}

void simInjectGarbage(int64_t nowUs, const uint8_t* bytes, int count) {
  if (count <= 0) return;
  if (count > SIM_MAX_GARBAGE) count = SIM_MAX_GARBAGE;
  logEvent(nowUs, '<', true, bytes, count);
  queueBytes(nowUs, bytes, count);
}

void simCorruptNext(SimCorruption kind) {
  device.corruptNext = true;
  device.corruption = kind;
}

void simDropNext() { device.dropNext = true; }
void simStallNext(int ms) { device.stallNextMs = ms < 0 ? 0 : ms; }
void simSetSilent(bool on) { device.silent = on; }

void simSendTooFast(int64_t nowUs) {
  if (!device.powered) return;
  simAdvance(nowUs);
  send1(nowUs, mdgRxRateTooFast);
}

uint8_t simMode() { return device.mode; }
uint8_t simElectrode(int electrode) {
  return electrode >= 1 && electrode <= 4 ? device.electrodes[electrode - 1] : 0;
}
bool simLocalControl() { return device.localControl; }
int simFaultCode() { return device.faultCode; }
bool simScriptRunning() { return device.script.running; }
bool simTracing() { return device.trace; }
int simArmedAddress() { return device.armed ? device.armedAddress : -1; }
const uint8_t* simScriptMemory() { return device.memory; }
double simCurrentPeriod(int64_t nowUs) { return periodAt(nowUs); }

void simRamSnapshot(int64_t nowUs, uint8_t* out) {
  std::memset(out, 0, SIM_RAM_SIZE);
  out[0] = device.mode;
  std::memcpy(out + 1, device.electrodes, 4);
  out[5] = device.localControl ? 1 : 0;
  out[6] = device.faultCode >= 0 ? static_cast<uint8_t>(device.faultCode) : 0xFF;
  out[7] = device.trace ? 1 : 0;
  out[8] = device.armed ? 1 : 0;
  out[9] = low(device.armedAddress);
  out[10] = high(device.armedAddress);
  out[11] = device.script.running ? 1 : 0;
  out[12] = low(device.script.pc);
  out[13] = high(device.script.pc);
  out[14] = static_cast<uint8_t>(device.script.depth);
  for (int i = 0; i < SIM_STACK_DEPTH; ++i) {
    out[16 + 2 * i] = low(device.script.stack[i]);
    out[17 + 2 * i] = high(device.script.stack[i]);
  }
  int stepsLeft = 0;
  if (device.script.running && device.nextStepUs > nowUs) {
    stepsLeft = static_cast<int>((device.nextStepUs - nowUs + SIM_STEP_US - 1) / SIM_STEP_US);
  }
  out[32] = low(stepsLeft);
  out[33] = high(stepsLeft);
  out[34] = low(device.tiltLoopLeft);
  out[35] = high(device.tiltLoopLeft);
  out[36] = static_cast<uint8_t>(device.tiltLoopStep);
  std::memcpy(out + 37, device.lastTilt, 8);
}
