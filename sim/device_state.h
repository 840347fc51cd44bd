// The simulated device's state and the helpers its parts share: the line (framing), the
// modes and commands, script execution and the tilt readings each live in a file of their own.
#pragma once
#include "sim/device.h"
#include "script/script_engine.h"
#include "sim/tilt_model.h"
#include "link/catalogue.h"
#include <deque>
#include <vector>

namespace simdev {

enum class RxState { WaitStart, WaitLength, Body };

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

  ScriptEngine script;            // pc, call stack, running
  int64_t nextStepUs = SIM_NEVER;

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

extern SimDevice device;

inline uint8_t low(int v) { return static_cast<uint8_t>(v & 0xFF); }
inline uint8_t high(int v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }
inline int word(const uint8_t* p) { return p[0] | (p[1] << 8); }

// The line (device_line.cpp): the transcript, sending with the line faults applied, receiving.
void logEvent(int64_t timeUs, char direction, bool bad, const uint8_t* bytes, int count);
void queueBytes(int64_t timeUs, const uint8_t* bytes, int count);
void send(int64_t timeUs, const uint8_t* payload, int length);
void send1(int64_t t, uint8_t code);
void send2(int64_t t, uint8_t code, uint8_t p0);
void send3(int64_t t, uint8_t code, uint8_t p0, uint8_t p1);
void sendAddress(int64_t t, uint8_t code, int address);
void rejectFrame(int64_t t, uint8_t message);
void receiveByte(int64_t t, uint8_t b);
int64_t rxTimeoutDue();

// Modes (device.cpp).
void idleElectrodes();
void stopScript();
void changeMode(int64_t t, uint8_t newMode, int announcement);
void resetVolatileState();
void finishInit(int64_t t);
void enterFault(int64_t t, uint8_t code);

// Commands (device_commands.cpp).
void handleCommand(int64_t t, const uint8_t* p, int length);

// Scripts (device_script.cpp).
void startScript(int64_t t, int address);
void scriptStep();

// Tilt (device_tilt.cpp).
double periodAt(int64_t t);
void sendTiltReading(int64_t t, uint8_t code);
void startTiltLoop(int64_t t, int count, int step);
void stopTiltLoop();
void tiltLoopTick();

}  // namespace simdev
