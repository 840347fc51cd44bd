// The simulator's control channel: text lines that change the simulated world and line at
// run time (tilt, faults, knobs, line damage, power).
#pragma once
#include <cstdint>

enum class SimControlResult { Ok, Error, Quit };

// Applies one control line at nowUs. On Error, message holds a one-line description without a
// line end. powerOnDelayMs is the delay used by power-cycle. Blank lines and lines starting
// with '#' are accepted and do nothing.
SimControlResult simControlLine(int64_t nowUs, const char* line, int powerOnDelayMs,
                                char* message, int capacity);

// The help text for the control lines, one line per control line.
const char* simControlHelp();

// What a control line asks of the line itself rather than of the device: a hang-up (the port
// is closed and made again after ms), a break, or a byte with a framing error.
enum class SimLineAction { None, Hangup, Break, FramingError };
struct SimLineRequest {
  SimLineAction action = SimLineAction::None;
  int ms = 0;
};
// The line request of the last control line, once; None when it had none.
SimLineRequest simTakeLineRequest();
