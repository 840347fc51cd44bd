// Serial port and clock stand-ins for the fuzz targets: the port serves the fuzz input one
// byte per read and swallows writes, and the clock moves only when a read finds nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iosfwd>

// Serves these bytes to the program's reads, then nothing (each empty read is 10 ms).
void fakeLinkServe(const uint8_t* data, size_t size);
bool fakeLinkDrained();

// Console window with the given operator input and its output discarded, every subsystem in
// its start-up state and the main dialog initialised, as the program is after start-up.
void startHost(std::istream* input);

// A property every input must keep; a broken one stops the run so the input is kept.
inline void check(bool condition) {
  if (!condition) abort();
}
