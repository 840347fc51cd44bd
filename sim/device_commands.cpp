// The simulated device's commands: which mode allows which, and what each one does.
#include "sim/device_state.h"
#include <cstring>

namespace simdev {

namespace {

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
  if (device.script.running && (selects || code == cdgScrRun || code == cdgScrRunArmed)) return false;
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

}  // namespace

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
      if (!device.script.running) { send2(t, mdgCmdAccepted, code); break; }
      stopScript();
      sendAddress(t, mdgScrStopped, device.script.pc);
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

}  // namespace simdev
