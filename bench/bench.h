// Shared pieces of kinestim-bench: result lines for scripts/bench.sh and the clock.
#pragma once
#include <string>

// Prints one result line "key=value" on standard output (read by scripts/bench.sh).
void result(const char* key, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Progress and problems, on standard error.
void note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Absolute CLOCK_MONOTONIC milliseconds: the clock of kinestim-console --timestamps and of
// the simulator's wire log.
double monotonicNowMs();

// One byte on a 9600 baud 8N1 line: 10 bits.
constexpr double BYTE_MS = 10.0 * 1000.0 / 9600.0;

// Each returns true when it produced its figures.
bool benchUpload();
bool benchLatency(int frames);
bool benchStream(int seconds);
bool benchIdle(int seconds);
bool benchToolchain(const std::string& workDir);
