// Readers for what the benchmarks measure: the simulator's wire log turned back into frames
// with their times, time-stamped console output, and per-process CPU and memory figures.
#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// One frame that crossed the line, as the simulator's wire log saw it. Times are absolute
// CLOCK_MONOTONIC milliseconds: firstMs of the read or write that held the start byte,
// lastMs of the one that held the end byte.
struct WireFrame {
  char direction = '<';   // '<' device to host, '>' host to device
  double firstMs = 0.0;
  double lastMs = 0.0;
  std::vector<uint8_t> bytes;   // the whole frame, start and end bytes included
};

struct WireLog {
  std::vector<WireFrame> frames;   // in the order their last bytes crossed
  long strayBytes = 0;             // bytes outside any frame (either direction)
  long badLines = 0;               // lines that are not "%f %c hex..."
};

// Splits each direction's byte stream into frames (start byte, length, payload, checksum,
// end byte). A frame cut off by the end of the log is left out; bytes where a start byte
// should be are counted as stray.
WireLog parseWireLog(const std::string& text);

// One output line of kinestim-console --timestamps: "[%10.3f] text".
struct StampedLine {
  double ms = 0.0;
  std::string text;   // without the stamp and without the line end
};
std::vector<StampedLine> parseStampedOutput(const std::string& output);

// The payload bytes shown by a "received: " or "sent: " traffic line ("32 mdgTilt <da> <b3>"
// gives 32 da b3); empty when the line is not one.
std::vector<uint8_t> trafficLinePayload(const std::string& text);

// utime + stime of a process in clock ticks, -1 when it cannot be read.
long long processCpuTicks(pid_t pid);
// Time the process has run on a CPU in nanoseconds (/proc/PID/schedstat), -1 when unknown.
// Exact, where utime and stime are sampled at the clock tick.
long long processRunNs(pid_t pid);
// A "Vm..." field of /proc/PID/status in kB (VmRSS, VmHWM), -1 when absent.
long processStatusKb(pid_t pid, const char* field);

// The q-quantile (0 to 1) of the values by nearest rank; 0 for none.
double quantile(std::vector<double> values, double q);
