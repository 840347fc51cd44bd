// The device's command and message codes with their payload lengths and names, and the
// mode and fault name tables.
#pragma once
#include <cstdint>

constexpr int VARIABLE_LENGTH = -1;
constexpr int COMMAND_COUNT = 31;
constexpr int MESSAGE_COUNT = 53;
constexpr int MODE_COUNT = 7;
constexpr int FAULT_COUNT = 14;
constexpr int MODE_NAME_SIZE = 20;
constexpr int FAULT_NAME_SIZE = 35;
constexpr uint8_t IDLE_ELECTRODE_CODE = 127;
// The current scale: code c drives (c - ZERO_CURRENT_CODE) steps of 0.02, from -2.56 (code 0)
// to +2.54 (code 255).
constexpr uint8_t ZERO_CURRENT_CODE = 128;
constexpr int CURRENT_STEP_HUNDREDTHS = 2;
constexpr double CURRENT_STEP = CURRENT_STEP_HUNDREDTHS / 100.0;
// No current flows at 0.00 nor at the rest code the device puts its electrodes to (127, which
// the scale would read as -0.02).
constexpr bool isNoCurrentCode(uint8_t code) { return code == IDLE_ELECTRODE_CODE || code == ZERO_CURRENT_CODE; }

struct CommandInfo { int32_t code; int32_t length; const char* name; };
struct MessageInfo { int32_t code; int32_t length; const char* name; };

extern const CommandInfo commandCatalogue[COMMAND_COUNT];
extern const MessageInfo messageCatalogue[MESSAGE_COUNT];
extern const char modeNames[MODE_COUNT][MODE_NAME_SIZE];
extern const char faultNames[FAULT_COUNT][FAULT_NAME_SIZE];
extern const uint8_t modeDeselectCommand[MODE_COUNT];
// Texts of the "&Command" menu entries, by command code.
extern const char* const commandMenuTexts[COMMAND_COUNT];

// Name of a command code, or nullptr for 31 and above.
const char* commandName(uint8_t code);
// Name of a message code, or nullptr for 53 and above.
const char* messageName(uint8_t code);
// Catalogue length of a message code below 53 (VARIABLE_LENGTH when not fixed).
int messageLength(uint8_t code);
// Catalogue length of a command code below 31.
int commandLength(uint8_t code);
// Index of the mode name that equals text exactly (case-sensitive), 0 when none does.
uint8_t modeCodeFromName(const char* text);

// Command codes.
enum CommandCode : uint8_t {
  cdgNOP = 0x00, cdgInit, cdgSelectModeDirect, cdgDeselectModeDirect, cdgSelectModePgmScr,
  cdgDeselectModePgmScr, cdgSelectModeRunScr, cdgDeselectModeRunScr, cdgDldMode,
  cdgSetElectrode, cdgSetAllElectrodes, cdgDldAllElectrodes, cdgScrClearMem, cdgSrcUldMem,
  cdgScrDldMem, cdgScrArm, cdgScrDisarm, cdgScrDldArmed, cdgScrRun, cdgScrRunArmed,
  cdgScrStop, cdgScrTraceOn, cdgScrTraceOff, cdgDisableLclCtrl, cdgEnableLclCtrl,
  cdgDldFaultStatus, cdgClearFaultStatus, cdgDldRAM, cdgDldTilt, cdgCalibrate, cdgTiltLoop
};

// Message codes.
enum MessageCode : uint8_t {
  mdgCmdAccepted = 0x00, mdgExpectedSOC, mdgCmdRejectedInvalidMode, mdgCmdRejectedLengthBad,
  mdgCmdRejectedInvalidCdg, mdgCmdRejectedLengthToCdgBad, mdgCmdRejectedEOCNotPresent,
  mdgCmdRejectedChecksum, mdgRxCmdTimeout, mdgResync, mdgExitedModeInit, mdgEnteredModeIdle,
  mdgExitedModeIdle, mdgEnteredModeDirect, mdgExitedModeDirect, mdgEnteredModePgmScr,
  mdgExitedModePgmScr, mdgEnteredModeRunScr, mdgExitedModeRunScr, mdgEnteredModeFault,
  mdgExitedModeFault, mdgModeDirectSelected, mdgModeDirectDeselected, mdgModePgmScrSelected,
  mdgModePgmScrDeselected, mdgModeRunScrSelected, mdgModeRunScrDeselected, mdgMode,
  mdgAllElectrodesDld, mdgCmdRejectedElectrodeRange, mdgScrMemCleared, mdgScrMemUlded,
  mdgCmdRejectedUldMemAddrRange, mdgScrMemDld, mdgCmdRejectedDldMemAddrRange, mdgScrArmed,
  mdgCmdRejectedScrArmAddr, mdgScrDisarmed, mdgScrStarted, mdgCmdRejectedScrRunAddr,
  mdgCmdRejectedScrRunNotArmed, mdgScrStopped, mdgScrTrace, mdgLclCtrlDisabled,
  mdgLclCtrlEnabled, mdgFault, mdgFaultStatusCleared, mdgRAMDld, mdgCmdRejectedDldRAMAddrRange,
  mdgLclCmdRejectedLclCtrlDisabled, mdgTilt, mdgCalibrate, mdgRxRateTooFast
};

// Mode codes (index into modeNames).
enum ModeCode : uint8_t { modeNone = 0, modeInit, modeIdle, modeDirect, modeProgramScript, modeRunScr, modeFault };
