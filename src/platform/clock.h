// Time seam: a millisecond tick counter for time-outs and the local wall-clock time.
#pragma once
#include <cstdint>

struct LocalTime { int hour, minute, second, millisecond; };

// Milliseconds from an arbitrary start, monotonic (GetTickCount on Windows).
uint32_t tickCountMs();
LocalTime localTimeNow();
void sleepMs(int ms);
