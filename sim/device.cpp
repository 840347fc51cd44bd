// The simulated Kinestim device: framing, modes, commands, script execution, tilt readings.
#include "sim/device.h"
#include "sim/tilt_model.h"
#include "link/catalogue.h"
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

namespace {

enum class RxState { WaitStart, WaitLength, Body };

enum ScriptOpcode : uint8_t {
  opStop = 0, opNop, opSetElectrode, opSetAllElectrodes, opDelay, opGoto, opCall, opReturn, opTiltLoop
};
constexpr int OPCODE_LENGTHS[9] = {1, 1, 3, 5, 3, 3, 3, 1, 4};

enum FaultCode : uint8_t {
  faultScrAddrRange = 9, faultScrIElectrodeRange = 10, faultScrInvalidOp = 11,
  faultScrStackOverflow = 12, faultScrStackUnderflow = 13
};

struct OutChunk { int64_t releaseUs; std::vector<uint8_t> bytes; };

struct SimDevice {
  bool powered = false;
  int64_t powerOnDueUs = SIM_NEVER;
  uint8_t mode = modeNone;
  uint8_t electrodes[4] = {IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE, IDLE_ELECTRODE_CODE};
  bool localControl = true;
  int faultCode = -1;
  bool trace = false;
  bool armed = false;
  uint16_t armedAddress = 0;

  bool running = false;
  int pc = 0;
  int64_t nextStepUs = SIM_NEVER;
  uint16_t stack[SIM_STACK_DEPTH] = {};
  int stackDepth = 0;

  int tiltLoopLeft = 0;
  int tiltLoopStep = 1;
  int64_t nextTiltUs = SIM_NEVER;
  uint8_t lastTilt[8] = {};

  uint8_t memory[SIM_SCRIPT_MEMORY_SIZE] = {};

  double tiltX = 0.0, tiltY = 0.0;
  double period = SIM_NOMINAL_PERIOD;
  int64_t periodSetUs = 0;
  int noise = 0;
  double drift = 0.0;
  uint32_t rng = 1;

  bool corruptNext = false;
  SimCorruption corruption = SimCorruption::Checksum;
  bool dropNext = false;
  int stallNextMs = 0;
  bool silent = false;

  RxState rx = RxState::WaitStart;
  uint8_t rxBuffer[SIM_MAX_FRAME] = {};
  int rxCount = 0;
  int rxNeed = 0;
  int64_t rxLastUs = 0;
  bool strayRun = false;

  std::deque<OutChunk> out;
  int64_t lastReleaseUs = 0;
  std::deque<SimFrameEvent> events;
};

SimDevice device;

uint8_t low(int v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t high(int v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }
int word(const uint8_t* p) { return p[0] | (p[1] << 8); }

uint32_t nextRandom() {
  uint32_t x = device.rng;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  device.rng = x;
  return x;
}

// Uniform in [-range, range].
int randomJitter(int range) {
  if (range <= 0) return 0;
  return static_cast<int>(nextRandom() % static_cast<uint32_t>(2 * range + 1)) - range;
}

void logEvent(int64_t timeUs, char direction, bool bad, const uint8_t* bytes, int count) {
  SimFrameEvent event;
  event.timeUs = timeUs;
  event.direction = direction;
  event.bad = bad;
  if (count > static_cast<int>(sizeof event.bytes)) count = static_cast<int>(sizeof event.bytes);
  event.count = count;
  std::memcpy(event.bytes, bytes, static_cast<size_t>(count));
  device.events.push_back(event);
}

void queueBytes(int64_t timeUs, const uint8_t* bytes, int count) {
  int64_t release = timeUs > device.lastReleaseUs ? timeUs : device.lastReleaseUs;
  if (device.stallNextMs > 0 && count > 1) {
    const int first = count / 2;
    device.out.push_back({release, std::vector<uint8_t>(bytes, bytes + first)});
    release += static_cast<int64_t>(device.stallNextMs) * 1000;
    device.out.push_back({release, std::vector<uint8_t>(bytes + first, bytes + count)});
    device.stallNextMs = 0;
  } else {
    device.out.push_back({release, std::vector<uint8_t>(bytes, bytes + count)});
  }
  device.lastReleaseUs = release;
}

// Sends one message, applying the line faults that the control channel has set up.
void send(int64_t timeUs, const uint8_t* payload, int length) {
  if (device.silent) return;
  if (device.dropNext) { device.dropNext = false; return; }
  uint8_t frame[SIM_MAX_FRAME];
  const int size = simBuildFrame(payload, length, frame);
  if (size == 0) return;
  if (device.corruptNext) {
    device.corruptNext = false;
    switch (device.corruption) {
      case SimCorruption::Checksum: frame[size - 2] ^= 0xFF; break;
      case SimCorruption::EndByte: frame[size - 1] = 0x54; break;
      case SimCorruption::StartByte: frame[0] = 0xAB; break;
    }
    logEvent(timeUs, '<', true, frame, size);
  } else {
    logEvent(timeUs, '<', false, payload, length);
  }
  queueBytes(timeUs, frame, size);
}

void send1(int64_t t, uint8_t code) { send(t, &code, 1); }
void send2(int64_t t, uint8_t code, uint8_t p0) { const uint8_t m[2] = {code, p0}; send(t, m, 2); }
void send3(int64_t t, uint8_t code, uint8_t p0, uint8_t p1) { const uint8_t m[3] = {code, p0, p1}; send(t, m, 3); }
void sendAddress(int64_t t, uint8_t code, int address) { send3(t, code, low(address), high(address)); }

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

void idleElectrodes() {
  for (uint8_t& e : device.electrodes) e = IDLE_ELECTRODE_CODE;
}

void stopScript() {
  device.running = false;
  device.nextStepUs = SIM_NEVER;
}

void stopTiltLoop() {
  device.tiltLoopLeft = 0;
  device.nextTiltUs = SIM_NEVER;
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
  device.stackDepth = 0;
  device.pc = 0;
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

// ---- tilt ----

double periodAt(int64_t t) {
  const double seconds = static_cast<double>(t - device.periodSetUs) / 1e6;
  return simQuantisePeriod(device.period + device.drift * (seconds > 0.0 ? seconds : 0.0));
}

void sendTiltReading(int64_t t, uint8_t code) {
  const SimTiltOffsets offsets = simTiltOffsets(device.tiltX, device.tiltY, periodAt(t));
  int t1 = offsets.t1 + randomJitter(device.noise);
  int t2 = offsets.t2 + randomJitter(device.noise);
  int t3 = offsets.t3 + randomJitter(device.noise);
  if (t1 < 0) t1 = 0;
  if (t2 < 0) t2 = 0;
  if (t3 < 0) t3 = 0;
  int span = t1 > t2 ? t1 : t2;
  if (t3 > span) span = t3;
  // The sensor timer runs at one tick per 8 us; the reading starts where the timer stands,
  // placed so that no edge passes 65535 (the host does not unwrap edge times).
  const int64_t ticks = t / 8;
  const int t0 = static_cast<int>(ticks % (65536 - span));
  const int edges[4] = {t0, t0 + t1, t0 + t2, t0 + t3};
  uint8_t message[9];
  message[0] = code;
  for (int i = 0; i < 4; ++i) {
    message[1 + 2 * i] = low(edges[i]);
    message[2 + 2 * i] = high(edges[i]);
  }
  std::memcpy(device.lastTilt, message + 1, 8);
  send(t, message, 9);
}

void startTiltLoop(int64_t t, int count, int step) {
  stopTiltLoop();
  if (count <= 0) return;
  device.tiltLoopStep = step < 1 ? 1 : step;
  sendTiltReading(t, mdgTilt);
  device.tiltLoopLeft = count - 1;
  if (device.tiltLoopLeft > 0) device.nextTiltUs = t + device.tiltLoopStep * SIM_STEP_US;
}

void tiltLoopTick() {
  const int64_t t = device.nextTiltUs;
  sendTiltReading(t, mdgTilt);
  if (--device.tiltLoopLeft > 0) device.nextTiltUs = t + device.tiltLoopStep * SIM_STEP_US;
  else stopTiltLoop();
}

// ---- scripts ----

void startScript(int64_t t, int address) {
  device.running = true;
  device.pc = address;
  device.stackDepth = 0;
  device.nextStepUs = t;
  sendAddress(t, mdgScrStarted, address);
}

void scriptFault(int64_t t, uint8_t code) { enterFault(t, code); }

// Runs the instructions of one step: normally one, more when Delay 0 hands the step on.
void scriptStep() {
  const int64_t t = device.nextStepUs;
  for (;;) {
    if (!device.running) return;
    const int pc = device.pc;
    if (pc < 0 || pc >= SIM_SCRIPT_MEMORY_SIZE) { scriptFault(t, faultScrAddrRange); return; }
    const uint8_t op = device.memory[pc];
    if (device.trace) {
      const uint8_t m[5] = {mdgScrTrace, low(pc), high(pc), op, static_cast<uint8_t>(device.stackDepth)};
      send(t, m, 5);
    }
    if (op > opTiltLoop) { scriptFault(t, faultScrInvalidOp); return; }
    if (pc + OPCODE_LENGTHS[op] > SIM_SCRIPT_MEMORY_SIZE) { scriptFault(t, faultScrAddrRange); return; }
    const uint8_t* operand = device.memory + pc + 1;
    int next = pc + OPCODE_LENGTHS[op];
    int steps = 1;
    switch (op) {
      case opStop:
        stopScript();
        sendAddress(t, mdgScrStopped, pc);
        return;
      case opNop:
        break;
      case opSetElectrode:
        if (operand[0] < 1 || operand[0] > 4) { scriptFault(t, faultScrIElectrodeRange); return; }
        device.electrodes[operand[0] - 1] = operand[1];
        break;
      case opSetAllElectrodes:
        std::memcpy(device.electrodes, operand, 4);
        break;
      case opDelay:
        steps = word(operand);
        break;
      case opGoto:
        next = word(operand);
        break;
      case opCall:
        if (device.stackDepth >= SIM_STACK_DEPTH) { scriptFault(t, faultScrStackOverflow); return; }
        device.stack[device.stackDepth++] = static_cast<uint16_t>(next);
        next = word(operand);
        break;
      case opReturn:
        if (device.stackDepth == 0) { scriptFault(t, faultScrStackUnderflow); return; }
        next = device.stack[--device.stackDepth];
        break;
      case opTiltLoop:
        startTiltLoop(t, word(operand), operand[2]);
        break;
      default:
        break;
    }
    device.pc = next;
    if (steps > 0) {
      device.nextStepUs = t + steps * SIM_STEP_US;
      return;
    }
    // Delay 0 takes no time: the next instruction runs in this same step.
  }
}

// ---- commands ----

constexpr unsigned bit(uint8_t mode) { return 1u << mode; }
constexpr unsigned ALL_MODES = bit(modeInit) | bit(modeIdle) | bit(modeDirect) | bit(modeProgramScript) |
                               bit(modeRunScr) | bit(modeFault);
constexpr unsigned NOT_INIT = ALL_MODES & ~bit(modeInit);
constexpr unsigned WORKING = NOT_INIT & ~bit(modeFault);
constexpr unsigned SELECTABLE = bit(modeIdle) | bit(modeDirect) | bit(modeProgramScript) | bit(modeRunScr);
constexpr unsigned TILT_MODES = bit(modeIdle) | bit(modeDirect) | bit(modeProgramScript);

constexpr unsigned ALLOWED_MODES[COMMAND_COUNT] = {
  ALL_MODES,                 // cdgNOP
  ALL_MODES,                 // cdgInit
  SELECTABLE,                // cdgSelectModeDirect
  bit(modeDirect),           // cdgDeselectModeDirect
  SELECTABLE,                // cdgSelectModePgmScr
  bit(modeProgramScript),    // cdgDeselectModePgmScr
  SELECTABLE,                // cdgSelectModeRunScr
  bit(modeRunScr),           // cdgDeselectModeRunScr
  ALL_MODES,                 // cdgDldMode
  bit(modeDirect),           // cdgSetElectrode
  bit(modeDirect),           // cdgSetAllElectrodes
  NOT_INIT,                  // cdgDldAllElectrodes
  bit(modeProgramScript),    // cdgScrClearMem
  bit(modeProgramScript),    // cdgSrcUldMem
  NOT_INIT,                  // cdgScrDldMem
  WORKING,                   // cdgScrArm
  WORKING,                   // cdgScrDisarm
  WORKING,                   // cdgScrDldArmed
  bit(modeRunScr),           // cdgScrRun
  bit(modeRunScr),           // cdgScrRunArmed
  bit(modeRunScr),           // cdgScrStop
  WORKING,                   // cdgScrTraceOn
  WORKING,                   // cdgScrTraceOff
  WORKING,                   // cdgDisableLclCtrl
  WORKING,                   // cdgEnableLclCtrl
  NOT_INIT,                  // cdgDldFaultStatus
  NOT_INIT,                  // cdgClearFaultStatus
  NOT_INIT,                  // cdgDldRAM
  TILT_MODES,                // cdgDldTilt
  TILT_MODES,                // cdgCalibrate
  TILT_MODES,                // cdgTiltLoop
};

bool allowedNow(uint8_t code) {
  if ((ALLOWED_MODES[code] & bit(device.mode)) == 0) return false;
  // A running script keeps the device in Run Scr until it stops or Run Scr is deselected.
  const bool selects = code == cdgSelectModeDirect || code == cdgSelectModePgmScr || code == cdgSelectModeRunScr;
  if (device.running && (selects || code == cdgScrRun || code == cdgScrRunArmed)) return false;
  return true;
}

void selectMode(int64_t t, uint8_t code, uint8_t target, uint8_t selected) {
  if (device.mode == target) { send2(t, mdgCmdAccepted, code); return; }
  changeMode(t, target, selected);
}

void sendDownload(int64_t t, uint8_t code, int address, const uint8_t* source, int available, int count) {
  if (count > available) count = available;
  if (count > SIM_MAX_DOWNLOAD) count = SIM_MAX_DOWNLOAD;
  uint8_t message[SIM_MAX_PAYLOAD];
  message[0] = code;
  message[1] = low(address);
  message[2] = high(address);
  std::memcpy(message + 3, source, static_cast<size_t>(count));
  send(t, message, count + 3);
}

void handleCommand(int64_t t, const uint8_t* p, int length) {
  const uint8_t code = p[0];
  if (code >= COMMAND_COUNT) { send2(t, mdgCmdRejectedInvalidCdg, code); return; }
  const bool lengthOk = code == cdgSrcUldMem ? (length >= 4 && length <= 19) : length == commandLength(code);
  if (!lengthOk) { send3(t, mdgCmdRejectedLengthToCdgBad, code, static_cast<uint8_t>(length)); return; }
  if (!allowedNow(code)) { send2(t, mdgCmdRejectedInvalidMode, code); return; }

  switch (code) {
    case cdgNOP:
      send2(t, mdgCmdAccepted, code);
      break;
    case cdgInit:
      resetVolatileState();
      finishInit(t);
      break;
    case cdgSelectModeDirect: selectMode(t, code, modeDirect, mdgModeDirectSelected); break;
    case cdgSelectModePgmScr: selectMode(t, code, modeProgramScript, mdgModePgmScrSelected); break;
    case cdgSelectModeRunScr: selectMode(t, code, modeRunScr, mdgModeRunScrSelected); break;
    case cdgDeselectModeDirect: changeMode(t, modeIdle, mdgModeDirectDeselected); break;
    case cdgDeselectModePgmScr: changeMode(t, modeIdle, mdgModePgmScrDeselected); break;
    case cdgDeselectModeRunScr: changeMode(t, modeIdle, mdgModeRunScrDeselected); break;
    case cdgDldMode:
      send2(t, mdgMode, device.mode);
      break;
    case cdgSetElectrode:
      if (p[1] < 1 || p[1] > 4) { send2(t, mdgCmdRejectedElectrodeRange, p[1]); break; }
      device.electrodes[p[1] - 1] = p[2];
      send2(t, mdgCmdAccepted, code);
      break;
    case cdgSetAllElectrodes:
      std::memcpy(device.electrodes, p + 1, 4);
      send2(t, mdgCmdAccepted, code);
      break;
    case cdgDldAllElectrodes: {
      const uint8_t m[5] = {mdgAllElectrodesDld, device.electrodes[0], device.electrodes[1],
                            device.electrodes[2], device.electrodes[3]};
      send(t, m, 5);
      break;
    }
    case cdgScrClearMem:
      std::memset(device.memory, 0, sizeof device.memory);
      send1(t, mdgScrMemCleared);
      break;
    case cdgSrcUldMem: {
      const int address = word(p + 1);
      const int count = length - 3;
      if (address + count > SIM_SCRIPT_MEMORY_SIZE) {
        const uint8_t m[4] = {mdgCmdRejectedUldMemAddrRange, p[1], p[2], static_cast<uint8_t>(count)};
        send(t, m, 4);
        break;
      }
      std::memcpy(device.memory + address, p + 3, static_cast<size_t>(count));
      const uint8_t m[4] = {mdgScrMemUlded, p[1], p[2], static_cast<uint8_t>(count)};
      send(t, m, 4);
      break;
    }
    case cdgScrDldMem: {
      const int address = word(p + 1);
      if (address >= SIM_SCRIPT_MEMORY_SIZE) { send3(t, mdgCmdRejectedDldMemAddrRange, p[1], p[2]); break; }
      sendDownload(t, mdgScrMemDld, address, device.memory + address, SIM_SCRIPT_MEMORY_SIZE - address, p[3]);
      break;
    }
    case cdgScrArm: {
      const int address = word(p + 1);
      if (address >= SIM_SCRIPT_MEMORY_SIZE) { send3(t, mdgCmdRejectedScrArmAddr, p[1], p[2]); break; }
      device.armed = true;
      device.armedAddress = static_cast<uint16_t>(address);
      sendAddress(t, mdgScrArmed, address);
      break;
    }
    case cdgScrDisarm:
      device.armed = false;
      send1(t, mdgScrDisarmed);
      break;
    case cdgScrDldArmed:
      if (device.armed) sendAddress(t, mdgScrArmed, device.armedAddress);
      else send1(t, mdgScrDisarmed);
      break;
    case cdgScrRun: {
      const int address = word(p + 1);
      if (address >= SIM_SCRIPT_MEMORY_SIZE) { send3(t, mdgCmdRejectedScrRunAddr, p[1], p[2]); break; }
      startScript(t, address);
      break;
    }
    case cdgScrRunArmed:
      if (!device.armed) { send1(t, mdgCmdRejectedScrRunNotArmed); break; }
      startScript(t, device.armedAddress);
      break;
    case cdgScrStop:
      if (!device.running) { send2(t, mdgCmdAccepted, code); break; }
      stopScript();
      sendAddress(t, mdgScrStopped, device.pc);
      break;
    case cdgScrTraceOn:
    case cdgScrTraceOff:
      device.trace = code == cdgScrTraceOn;
      send2(t, mdgCmdAccepted, code);
      break;
    case cdgDisableLclCtrl:
      device.localControl = false;
      send1(t, mdgLclCtrlDisabled);
      break;
    case cdgEnableLclCtrl:
      device.localControl = true;
      send1(t, mdgLclCtrlEnabled);
      break;
    case cdgDldFaultStatus:
      if (device.faultCode >= 0) send2(t, mdgFault, static_cast<uint8_t>(device.faultCode));
      else send1(t, mdgFaultStatusCleared);
      break;
    case cdgClearFaultStatus:
      send1(t, mdgFaultStatusCleared);
      device.faultCode = -1;
      if (device.mode == modeFault) changeMode(t, modeIdle, -1);
      break;
    case cdgDldRAM: {
      const int address = word(p + 1);
      if (address >= SIM_RAM_SIZE) { send3(t, mdgCmdRejectedDldRAMAddrRange, p[1], p[2]); break; }
      uint8_t ram[SIM_RAM_SIZE];
      simRamSnapshot(t, ram);
      sendDownload(t, mdgRAMDld, address, ram + address, SIM_RAM_SIZE - address, p[3]);
      break;
    }
    case cdgDldTilt:
      sendTiltReading(t, mdgTilt);
      break;
    case cdgCalibrate:
      sendTiltReading(t, mdgCalibrate);
      break;
    case cdgTiltLoop: {
      const int count = word(p + 1);
      if (count == 0) { stopTiltLoop(); send2(t, mdgCmdAccepted, code); break; }
      startTiltLoop(t, count, p[3]);
      break;
    }
    default:
      break;
  }
}

// ---- receiving ----

void rejectFrame(int64_t t, uint8_t message) {
  logEvent(t, '>', true, device.rxBuffer, device.rxCount);
  device.rx = RxState::WaitStart;
  device.rxCount = 0;
  send1(t, message);
}

void frameComplete(int64_t t) {
  const int length = device.rxBuffer[1];
  if (device.rxBuffer[length + 3] != SIM_EOT) { rejectFrame(t, mdgCmdRejectedEOCNotPresent); return; }
  if (simChecksum(device.rxBuffer + 2, length) != device.rxBuffer[length + 2]) { rejectFrame(t, mdgCmdRejectedChecksum); return; }
  if (length == 0) { rejectFrame(t, mdgCmdRejectedLengthBad); return; }
  uint8_t payload[SIM_MAX_PAYLOAD];
  std::memcpy(payload, device.rxBuffer + 2, static_cast<size_t>(length));
  device.rx = RxState::WaitStart;
  device.rxCount = 0;
  logEvent(t, '>', false, payload, length);
  handleCommand(t, payload, length);
}

void receiveByte(int64_t t, uint8_t b) {
  const bool quietGap = t - device.rxLastUs >= SIM_RX_TIMEOUT_US;
  device.rxLastUs = t;
  switch (device.rx) {
    case RxState::WaitStart:
      if (b == SIM_SOT) {
        device.strayRun = false;
        device.rxBuffer[0] = b;
        device.rxCount = 1;
        device.rx = RxState::WaitLength;
        return;
      }
      logEvent(t, '>', true, &b, 1);
      if (!device.strayRun || quietGap) send1(t, mdgExpectedSOC);
      device.strayRun = true;
      return;
    case RxState::WaitLength:
      device.rxBuffer[1] = b;
      device.rxCount = 2;
      device.rxNeed = b + 4;
      device.rx = RxState::Body;
      return;
    case RxState::Body:
      device.rxBuffer[device.rxCount++] = b;
      if (device.rxCount == device.rxNeed) frameComplete(t);
      return;
  }
}

int64_t rxTimeoutDue() {
  return device.rx == RxState::WaitStart ? SIM_NEVER : device.rxLastUs + SIM_RX_TIMEOUT_US;
}

// Runs the earliest event due at or before nowUs; false when none is due.
bool runOneDueEvent(int64_t nowUs) {
  int64_t due = device.powerOnDueUs;
  int which = 0;
  if (device.running && device.nextStepUs < due) { due = device.nextStepUs; which = 1; }
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
  if (device.running && device.nextStepUs < due) due = device.nextStepUs;
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
bool simScriptRunning() { return device.running; }
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
  out[11] = device.running ? 1 : 0;
  out[12] = low(device.pc);
  out[13] = high(device.pc);
  out[14] = static_cast<uint8_t>(device.stackDepth);
  for (int i = 0; i < SIM_STACK_DEPTH; ++i) {
    out[16 + 2 * i] = low(device.stack[i]);
    out[17 + 2 * i] = high(device.stack[i]);
  }
  int stepsLeft = 0;
  if (device.running && device.nextStepUs > nowUs) {
    stepsLeft = static_cast<int>((device.nextStepUs - nowUs + SIM_STEP_US - 1) / SIM_STEP_US);
  }
  out[32] = low(stepsLeft);
  out[33] = high(stepsLeft);
  out[34] = low(device.tiltLoopLeft);
  out[35] = high(device.tiltLoopLeft);
  out[36] = static_cast<uint8_t>(device.tiltLoopStep);
  std::memcpy(out + 37, device.lastTilt, 8);
}
