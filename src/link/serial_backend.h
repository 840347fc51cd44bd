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

// Input marking (POSIX): what the bytes at the start of the input hold. A data byte 0xff
// arrives doubled and a framing or parity error or a break as 0xff 0x00 x. value and used
// get the byte and how many input bytes it took; Incomplete when more input is needed.
enum class MarkedInput { Byte, LineError, Incomplete };
MarkedInput decodeMarkedInput(const uint8_t* bytes, int count, uint8_t* value, int* used);
