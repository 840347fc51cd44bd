// What the POSIX backend decodes below the seam, kept apart so that its tests can reach it.
#pragma once
#include <cstdint>

// Input marking (POSIX): what the bytes at the start of the input hold. A data byte 0xff
// arrives doubled and a framing or parity error or a break as 0xff 0x00 x. value and used
// get the byte and how many input bytes it took; Incomplete when more input is needed.
enum class MarkedInput { Byte, LineError, Incomplete };
MarkedInput decodeMarkedInput(const uint8_t* bytes, int count, uint8_t* value, int* used);
