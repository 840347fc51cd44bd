// Serial port and clock stand-ins for the fuzz targets: the port serves the fuzz input one
// byte per read and swallows writes, and the clock moves only when a read finds nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iosfwd>

// Serves these bytes to the program's reads, then nothing (each empty read is 10 ms).
void fakeLinkServe(const uint8_t* data, size_t size);
bool fakeLinkDrained();
// Bytes the program wrote since the last fakeLinkServe.
size_t fakeLinkWritten();
// Opens the fake port (closed after start-up would make every read report no byte).
void fakeLinkOpen();

// A stream that discards everything, for the console window's output.
std::ostream& discardStream();

// Console window on the discard stream with the given operator input, every subsystem in
// its start-up state and the main dialog initialised, as the program is after start-up.
void startHost(std::istream* input);
