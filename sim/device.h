// The simulated Kinestim device: a state machine fed with received bytes and the passing of
// time, producing the bytes the device sends. It does no I/O; kinestim-sim drives it.
//
// Device model
// - Power: the device starts off and ignores the line. simPowerOn puts it in Init; when the
//   power-on delay has passed it sends mdgExitedModeInit, mdgEnteredModeIdle and is Idle.
//   cdgInit resets it the same way at once. Script memory survives resets and power cycles;
//   everything else returns to its start state: electrodes 127, local control enabled, no
//   fault, trace off, nothing armed, no script or tilt loop running.
// - Framing: a frame is AA, L, L payload bytes, checksum (payload sum mod 256), 55. A byte
//   other than AA where a frame must start answers mdgExpectedSOC once per run of such bytes.
//   A whole frame is checked for its end byte (mdgCmdRejectedEOCNotPresent), then its checksum
//   (mdgCmdRejectedChecksum), then L > 0 (mdgCmdRejectedLengthBad). A frame left unfinished for
//   500 ms is dropped with mdgRxCmdTimeout. A code above 0x1e answers mdgCmdRejectedInvalidCdg
//   <code>; a length other than the command's (cdgSrcUldMem: 4 to 19) answers
//   mdgCmdRejectedLengthToCdgBad <code> <L>.
// - Modes: Init, Idle, Direct, Program Script, Run Scr, Fault. A command not allowed in the
//   current mode answers mdgCmdRejectedInvalidMode <code>. Allowed modes:
//     cdgNOP, cdgInit, cdgDldMode                       every mode
//     cdgDldAllElectrodes, cdgScrDldMem, cdgDldRAM,
//     cdgDldFaultStatus, cdgClearFaultStatus            every mode but Init
//     cdgScrArm, cdgScrDisarm, cdgScrDldArmed, trace on/off,
//     cdgDisableLclCtrl, cdgEnableLclCtrl               every mode but Init and Fault
//     select Direct / Program Script / Run Script       Idle, Direct, Program Script, and
//                                                       Run Scr while no script runs
//     deselect a mode                                   that mode
//     cdgSetElectrode, cdgSetAllElectrodes              Direct
//     cdgScrClearMem, cdgSrcUldMem                      Program Script
//     cdgScrRun, cdgScrRunArmed, cdgScrStop             Run Scr (run: while no script runs)
//     cdgDldTilt, cdgCalibrate, cdgTiltLoop             Idle, Direct, Program Script
// - Mode changes: selecting answers the Selected message, the Exited message of the old mode
//   and the Entered message of the new one; deselecting answers the Deselected message,
//   Exited and mdgEnteredModeIdle. Selecting the current mode again answers only
//   mdgCmdAccepted <code>. Deselecting Run Scr while a script runs stops it without
//   mdgScrStopped. Leaving Direct or Run Scr and entering Idle set the electrodes to 127.
// - Answers: mdgCmdAccepted <code> for cdgNOP, the electrode setters, trace on/off, a Stop
//   with no script running and a tilt loop of count 0 (which ends a running loop).
//   cdgDldFaultStatus answers mdgFault <code> while a fault stands, else mdgFaultStatusCleared.
//   cdgClearFaultStatus answers mdgFaultStatusCleared, and in Fault mode then
//   mdgExitedModeFault, mdgEnteredModeIdle. cdgScrDldArmed answers mdgScrArmed or
//   mdgScrDisarmed. Downloads (script memory, RAM) carry at most 252 bytes so that the answer
//   fits one frame, and stop at the end of the memory.
// - Scripts: one instruction per 25 ms step, the first at once after mdgScrStarted. Delay n
//   occupies n steps (Delay 0 none: the next instruction runs in the same step). Call nests 8
//   deep. TiltLoop starts a tilt loop beside the script. Stop ends the script with
//   mdgScrStopped <address of the Stop>. While tracing, each instruction is reported before it
//   runs with mdgScrTrace <address low> <address high> <opcode> <stack depth>.
// - Faults (script faults, or raised from outside): mdgExited<old mode>, mdgFault <code>,
//   mdgEnteredModeFault; the script and any tilt loop stop and the electrodes go to 127.
// - Tilt: readings are four 16-bit edge times built by simTiltOffsets from the world's tilt
//   and period, plus optional noise and period drift. A tilt loop sends its first reading at
//   once and the others every step x 25 ms (step 0 counts as 1); it ends after count readings,
//   on a fault or reset, and when Run Scr is entered or left.
// - Local control: a knob change sets one electrode and reports mdgAllElectrodesDld, or is
//   rejected with mdgLclCmdRejectedLclCtrlDisabled <electrode> <code>.
// - RAM (256 bytes, read with cdgDldRAM) mirrors the device state: 0 mode, 1-4 electrodes,
//   5 local control, 6 fault code (ff none), 7 trace, 8 armed, 9-10 armed address, 11 running,
//   12-13 script address, 14 stack depth, 16-31 return stack, 32-33 steps to the next
//   instruction,
//   34-35 tilt readings left, 36 tilt step, 37-44 the last tilt edge times; the rest is 00.
#pragma once
#include <cstdint>
#include "sim/wire.h"
#include "script/instruction_set.h"
#include "script/script_engine.h"

// The host's own sizes; the simulator's tests hold them as literals, so a change shows there.
constexpr int SIM_SCRIPT_MEMORY_SIZE = SCRIPT_MEMORY_SIZE;
constexpr int SIM_RAM_SIZE = 256;
constexpr int SIM_STACK_DEPTH = SCRIPT_ENGINE_STACK_DEPTH;
constexpr int SIM_MAX_DOWNLOAD = SIM_MAX_PAYLOAD - 3;
constexpr int64_t SIM_STEP_US = 25000;
constexpr int64_t SIM_RX_TIMEOUT_US = 500000;
constexpr int64_t SIM_NEVER = INT64_MAX;
constexpr int SIM_MAX_GARBAGE = 256;
constexpr int SIM_MAX_NOISE = 1000;

// One frame (or run of raw bytes) that crossed the line, for the transcript. bytes holds the
// payload of a good frame, or the raw bytes when bad is set.
struct SimFrameEvent {
  int64_t timeUs;
  char direction;   // '>' host to device, '<' device to host
  bool bad;
  int count;
  uint8_t bytes[SIM_MAX_FRAME + SIM_MAX_GARBAGE];
};

// How corrupt-next damages the next frame the device sends.
enum class SimCorruption { Checksum, EndByte, StartByte };

// Back to the state of a device that was never switched on: off, script memory 00, the world
// level at the nominal period, no line faults, empty queues. seed drives the noise.
void simReset(uint32_t seed = 1);

void simPowerOn(int64_t nowUs, int delayMs);
void simPowerOff();
bool simIsPowered();

// Bytes that arrived from the host at nowUs. Time must not go backwards between calls.
void simReceive(int64_t nowUs, const uint8_t* bytes, int count);
// Runs everything due up to nowUs: power-on completion, script steps, tilt readings, time-outs.
void simAdvance(int64_t nowUs);
// Earliest time at which the device has something to do or to release, SIM_NEVER if none.
int64_t simNextDueUs();
// Takes up to capacity bytes that are ready to go on the line at nowUs.
int simTakeOutput(int64_t nowUs, uint8_t* out, int capacity);
// When the oldest output not yet taken was ready to go on the line, SIM_NEVER when none is
// waiting: the moment a real device would have started sending it.
int64_t simNextOutputUs();
// Takes the oldest transcript event; false when there is none.
bool simTakeFrameEvent(SimFrameEvent& event);

// The world and the line, changed from the control channel.
void simSetTilt(double xDeg, double yDeg);
void simSetPeriod(int64_t nowUs, double period);
void simSetNoise(int ticks);           // 0 to SIM_MAX_NOISE ticks of jitter on each edge
void simSetDrift(double ticksPerSecond);
// False when the device is off or cannot take a fault now (Init with no host yet).
bool simRaiseFault(int64_t nowUs, uint8_t code);
// Local-control knob for electrode 1 to 4; false when the device is off, in Init or in Fault.
bool simKnob(int64_t nowUs, int electrode, uint8_t code);
void simInjectGarbage(int64_t nowUs, const uint8_t* bytes, int count);
void simCorruptNext(SimCorruption kind);
void simDropNext();
void simStallNext(int ms);
void simSetSilent(bool on);
void simSendTooFast(int64_t nowUs);

// Read-only views for tests and the control channel.
uint8_t simMode();
uint8_t simElectrode(int electrode);   // 1 to 4
bool simLocalControl();
int simFaultCode();                    // -1 when none
bool simScriptRunning();
bool simTracing();
int simArmedAddress();                 // -1 when not armed
const uint8_t* simScriptMemory();
double simCurrentPeriod(int64_t nowUs);
void simRamSnapshot(int64_t nowUs, uint8_t* out);   // SIM_RAM_SIZE bytes
