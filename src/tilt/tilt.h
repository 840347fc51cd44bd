// Tilt decoding, the calibration store and calibration runs.
#pragma once
#include "link/framing.h"
#include <cstdint>

constexpr int CALIBRATION_SLOTS = 10;
constexpr int AVERAGE_ENTRY = 10;
constexpr double EMPTY_PERIOD = -1.0;
constexpr int CALIBRATION_RUN_LENGTH = 12;
// A run gives up when a request has had no reply for this long.
constexpr uint32_t CALIBRATION_REPLY_TIMEOUT_MS = 2000;

struct TiltSample { int xHigh; int yHigh; double period; };

void resetCalibrationStore();
TiltSample decodeTiltSample(const uint8_t* params);
int findPeriodSlot(double period);
// Fills the angles (always); true when the period has a calibration slot.
bool computeTilt(const Packet& packet, double* xDegrees, double* yDegrees);
// One step of a calibration run (or a lone sample); returns calibrationOk.
int handleCalibrateReply(const Packet& packet);
// Starts a run of CALIBRATION_RUN_LENGTH requests and sends the first; a press during a run
// does nothing.
void startCalibration();
// Calibration run state.
bool calibrationRunInProgress();
void beginCalibrationRun();   // remaining = 12, ok = 1
int calibrationRemaining();
int calibrationOk();
void resetCalibrationRun();
// Ends a run that cannot finish (its request rejected, a fault, no reply in time). Returns how
// many of its replies were folded into the store, or -1 when no run was in progress. A reply
// that comes later is handled as a lone sample.
int abandonCalibrationRun();
// True while a run has waited longer than CALIBRATION_REPLY_TIMEOUT_MS for its next reply.
bool calibrationReplyOverdue();
// Read access to the store for tests and diagnostics.
struct CalibrationEntry { double period; double xReference; double yReference; int weight; };
CalibrationEntry calibrationEntry(int index);
int calibrationNextSlot();
