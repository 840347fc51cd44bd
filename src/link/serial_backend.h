// Operations every serial backend provides below the seam, used by the portable read logic
// (serial_reads.cpp) so both backends share one readExact and readFrameStart.
#pragma once
#include <cstdint>

enum class ByteRead { Failed, Nothing, Got };

// One read of at most one byte that waits no longer than the 10 ms read time-out.
ByteRead readSerialByte(uint8_t* byte);
// Opens again the device the last open named; false, with the port left closed, when it
// cannot be opened now (for instance an adapter that was unplugged and is not back yet).
bool tryReopenSerialPort();
