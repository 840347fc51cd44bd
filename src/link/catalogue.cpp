// The command and message catalogue tables and their lookups.
#include "link/catalogue.h"
#include <cstring>

constexpr int V = VARIABLE_LENGTH;

const CommandInfo commandCatalogue[COMMAND_COUNT] = {
  {0x00, 1, "cdgNOP"},
  {0x01, 1, "cdgInit"},
  {0x02, 1, "cdgSelectModeDirect"},
  {0x03, 1, "cdgDeselectModeDirect"},
  {0x04, 1, "cdgSelectModePgmScr"},
  {0x05, 1, "cdgDeselectModePgmScr"},
  {0x06, 1, "cdgSelectModeRunScr"},
  {0x07, 1, "cdgDeselectModeRunScr"},
  {0x08, 1, "cdgDldMode"},
  {0x09, 3, "cdgSetElectrode"},
  {0x0a, 5, "cdgSetAllElectrodes"},
  {0x0b, 1, "cdgDldAllElectrodes"},
  {0x0c, 1, "cdgScrClearMem"},
  {0x0d, V, "cdgSrcUldMem"},
  {0x0e, 4, "cdgScrDldMem"},
  {0x0f, 3, "cdgScrArm"},
  {0x10, 1, "cdgScrDisarm"},
  {0x11, 1, "cdgScrDldArmed"},
  {0x12, 3, "cdgScrRun"},
  {0x13, 1, "cdgScrRunArmed"},
  {0x14, 1, "cdgScrStop"},
  {0x15, 1, "cdgScrTraceOn"},
  {0x16, 1, "cdgScrTraceOff"},
  {0x17, 1, "cdgDisableLclCtrl"},
  {0x18, 1, "cdgEnableLclCtrl"},
  {0x19, 1, "cdgDldFaultStatus"},
  {0x1a, 1, "cdgClearFaultStatus"},
  {0x1b, 4, "cdgDldRAM"},
  {0x1c, 1, "cdgDldTilt"},
  {0x1d, 1, "cdgCalibrate"},
  {0x1e, 4, "cdgTiltLoop"},
};

const MessageInfo messageCatalogue[MESSAGE_COUNT] = {
  {0x00, V, "mdgCmdAccepted"},
  {0x01, V, "mdgExpectedSOC"},
  {0x02, V, "mdgCmdRejectedInvalidMode"},
  {0x03, V, "mdgCmdRejectedLengthBad"},
  {0x04, V, "mdgCmdRejectedInvalidCdg"},
  {0x05, V, "mdgCmdRejectedLengthToCdgBad"},
  {0x06, V, "mdgCmdRejectedEOCNotPresent"},
  {0x07, V, "mdgCmdRejectedChecksum"},
  {0x08, 1, "mdgRxCmdTimeout"},
  {0x09, 1, "mdgResync"},
  {0x0a, 1, "mdgExitedModeInit"},
  {0x0b, 1, "mdgEnteredModeIdle"},
  {0x0c, 1, "mdgExitedModeIdle"},
  {0x0d, 1, "mdgEnteredModeDirect"},
  {0x0e, 1, "mdgExitedModeDirect"},
  {0x0f, 1, "mdgEnteredModePgmScr"},
  {0x10, 1, "mdgExitedModePgmScr"},
  {0x11, 1, "mdgEnteredModeRunScr"},
  {0x12, 1, "mdgExitedModeRunScr"},
  {0x13, 1, "mdgEnteredModeFault"},
  {0x14, 1, "mdgExitedModeFault"},
  {0x15, 1, "mdgModeDirectSelected"},
  {0x16, 1, "mdgModeDirectDeselected"},
  {0x17, 1, "mdgModePgmScrSelected"},
  {0x18, 1, "mdgModePgmScrDeselected"},
  {0x19, 1, "mdgModeRunScrSelected"},
  {0x1a, 1, "mdgModeRunScrDeselected"},
  {0x1b, 2, "mdgMode"},
  {0x1c, 5, "mdgAllElectrodesDld"},
  {0x1d, V, "mdgCmdRejectedElectrodeRange"},
  {0x1e, 1, "mdgScrMemCleared"},
  {0x1f, 4, "mdgScrMemUlded"},
  {0x20, V, "mdgCmdRejectedUldMemAddrRange"},
  {0x21, V, "mdgScrMemDld"},
  {0x22, V, "mdgCmdRejectedDldMemAddrRange"},
  {0x23, 3, "mdgScrArmed"},
  {0x24, V, "mdgCmdRejectedScrArmAddr"},
  {0x25, 1, "mdgScrDisarmed"},
  {0x26, 3, "mdgScrStarted"},
  {0x27, V, "mdgCmdRejectedScrRunAddr"},
  {0x28, V, "mdgCmdRejectedScrRunNotArmed"},
  {0x29, 3, "mdgScrStopped"},
  {0x2a, 5, "mdgScrTrace"},
  {0x2b, 1, "mdgLclCtrlDisabled"},
  {0x2c, 1, "mdgLclCtrlEnabled"},
  {0x2d, 2, "mdgFault"},
  {0x2e, 1, "mdgFaultStatusCleared"},
  {0x2f, V, "mdgRAMDld"},
  {0x30, V, "mdgCmdRejectedDldRAMAddrRange"},
  {0x31, V, "mdgLclCmdRejectedLclCtrlDisabled"},
  {0x32, 9, "mdgTilt"},
  {0x33, 9, "mdgCalibrate"},
  {0x34, 1, "mdgRxRateTooFast"},
};

const char modeNames[MODE_COUNT][MODE_NAME_SIZE] = {
  "None", "Init", "Idle", "Direct", "Program Script", "Run Scr", "Fault",
};

const char faultNames[FAULT_COUNT][FAULT_NAME_SIZE] = {
  "BugMsgBufEmpty", "BugCmdExCdgRange", "BugUnexpectedInt", "UnknownFault", "CmdBufFull",
  "MsgBufFull", "TooManyRxErrors", "TooManyTxErrors", "WatchdogTimer", "ScrAddrRange",
  "ScrIElectrodeRange", "ScrInvalidOp", "ScrStackOverflow", "ScrStackUnderflow",
};

// Only Direct, Program Script and Run Scr have a command that leaves them; 0 for the others.
const uint8_t modeDeselectCommand[MODE_COUNT] = {
    0, 0, 0, cdgDeselectModeDirect, cdgDeselectModePgmScr, cdgDeselectModeRunScr, 0,
};

const char* const commandMenuTexts[COMMAND_COUNT] = {
  "00  NOP", "01  Init", "02  Select Mode Direct", "03  Deselect Mode Direct",
  "04  Select Mode Program Script", "05  Deselect Mode Program Script",
  "06  Select Mode Run Script", "07  Deselect Mode Run Script", "08  Dld Mode",
  "09  Set Electrode ...", "0a  Set All Electrodes ...", "0b  Dld All Electrodes",
  "0c  Clear Script Mem", "0d  Uld Script Mem ...", "0e  Dld Script Mem ...", "0f  Arm ...",
  "10  Disarm", "11  Dld Armed", "12  Run ...", "13  Run Armed", "14  Stop", "15  Trace On",
  "16  Trace Off", "17  Disable Local Ctrl", "18  Enable Local Ctrl", "19  Dld Fault Status",
  "1a  Clear Fault Status", "1b  Dld RAM ...", "1c  Dld Tilt", "1d  Calibrate",
  "1e  Tilt Loop ...",
};

const char* commandName(uint8_t code) {
  return code < COMMAND_COUNT ? commandCatalogue[code].name : nullptr;
}

const char* messageName(uint8_t code) {
  return code < MESSAGE_COUNT ? messageCatalogue[code].name : nullptr;
}

int messageLength(uint8_t code) {
  return code < MESSAGE_COUNT ? messageCatalogue[code].length : VARIABLE_LENGTH;
}

int commandLength(uint8_t code) {
  return code < COMMAND_COUNT ? commandCatalogue[code].length : VARIABLE_LENGTH;
}

uint8_t modeCodeFromName(const char* text) {
  if (text == nullptr) return 0;
  for (int i = 0; i < MODE_COUNT; ++i) {
    if (std::strcmp(text, modeNames[i]) == 0) return static_cast<uint8_t>(i);
  }
  return 0;
}
