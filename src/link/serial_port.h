// The one seam to the operating system's serial port. Backends: serial_port_win32.cpp
// ("COM%d", DCB line settings, COMMTIMEOUTS bounds, ClearCommError for line errors) and
// serial_port_posix.cpp (termios on /dev/ttyS*, /dev/ttyUSB*, pseudo-terminals). Nothing here
// shows anything or keeps the link's state: every call reports what happened, and the receive
// pump above (app/link_watch.cpp) decides what the operator sees and when to open the port again.
#pragma once
#include <cstdint>

// What one read or write on the link did. After Failed, lastLinkError() holds the system's
// error code (errno, or GetLastError() on Windows; 0 when the other end simply closed).
enum class LinkStatus { Data, Nothing, Failed };

// Largest port number that fits the device name; larger numbers are refused.
constexpr int MAX_PORT_NUMBER = 9999;
// A frame that stalls this long inside readExact is dropped.
constexpr int FRAME_STALL_MS = 1000;

// Opens and configures port N ("COM%d" on Windows, /dev/ttyS(N-1) on POSIX). nullptr when the
// port is ready, else the reason ("Failed to open communications port"...), port closed.
const char* openSerialPort(int portNumber);
// Opens a port by its device path (POSIX; on Windows a device name such as "COM3").
const char* openSerialPortPath(const char* path);
// Opens again the device the last open named; false, with the port left closed, when it
// cannot be opened now (for instance an adapter that was unplugged and is not back yet).
bool tryReopenSerialPort();
void closeSerialPort();
bool isSerialPortOpen();
// The device the port was opened on, as the operator named it ("" before the first open).
const char* serialPortName();
// The system's error code of the last failed read or write.
int lastLinkError();

// One read of at most one byte that waits no longer than the 10 ms read time-out.
LinkStatus readSerialByte(uint8_t* byte);
// Reads exactly count bytes: Data when all arrived, Nothing when no byte came for
// FRAME_STALL_MS (the caller drops the partial frame), Failed when a read failed.
LinkStatus readExact(uint8_t* buffer, int count);
// Writes the whole block within 8 * n + 4 ms; returns the count written (0 on failure).
int writeSerialPort(const uint8_t* data, int count);
// Waits until the transmitter has drained, at most boundMs; false when the bound passed.
bool waitTransmitterEmpty(int boundMs);
// Clears the port's error state after a failed write.
void clearSerialPortErrors();
