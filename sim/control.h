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
