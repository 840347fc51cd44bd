// The one seam to the operating system's serial port, with the program's two message boxes.
// Backends: serial_port_win32.cpp ("COM%d", DCB, COMMTIMEOUTS, WaitCommEvent) and
// serial_port_posix.cpp (termios on /dev/ttyS*, /dev/ttyUSB*, pseudo-terminals).
#pragma once
#include <cstdint>

enum FrameStartResult { NoByte = 0, StartOfFrame = 1, OtherByte = 2 };

// Largest port number that fits the device name; larger numbers are refused.
constexpr int MAX_PORT_NUMBER = 9999;
// A frame that stalls this long inside readExact is dropped.
constexpr int FRAME_STALL_MS = 1000;

// Opens and configures port N ("COM%d" on Windows, /dev/ttyS(N-1) on POSIX). Returns only on
// success; every failure is fatal.
void openSerialPort(int portNumber);
// Opens a port by its device path (POSIX; on Windows a device name such as "COM3").
void openSerialPortPath(const char* path);
void closeSerialPort();
bool isSerialPortOpen();

// Reads exactly count bytes. Returns true when all arrived; false when no byte came for
// FRAME_STALL_MS (the caller drops the partial frame). A failing read is fatal.
bool readExact(uint8_t* buffer, int count);
// One-byte read with a 10 ms time-out, looking for the start of a frame. A failing read
// re-opens the port and warns.
FrameStartResult readFrameStart(uint8_t* byte);
// Writes the whole block within 8 * n + 4 ms; returns the count written (0 on failure).
int writeSerialPort(const uint8_t* data, int count);
// Waits until the transmitter has drained, at most boundMs; false when the bound passed.
bool waitTransmitterEmpty(int boundMs);
// Clears the port's error state after a failed write.
void clearSerialPortErrors();

// The program's message boxes. showFatalError does not return: exit status 1.
[[noreturn]] void showFatalError(const char* text);
void showWarning(const char* text);
int isMessageBoxShowing();
// Set to 0 by the main dialog's initialisation.
void setMessageBoxShowing(int showing);
// The status bar line: notices that ask for no answer (a tossed or stalled frame, a new
// calibration point).
void setStatusBarText(const char* text);
