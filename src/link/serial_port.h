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
// The device the port was opened on, as the operator named it ("" before the first open).
const char* serialPortName();

// Reads exactly count bytes. Returns true when all arrived; false when no byte came for
// FRAME_STALL_MS (the caller drops the partial frame) or when the read failed, which loses
// the link (see reportLinkFailure) and is told apart by lastReadExactFailed().
bool readExact(uint8_t* buffer, int count);
bool lastReadExactFailed();
// One-byte read with a 10 ms time-out, looking for the start of a frame. A failing read
// loses the link; while it is lost, the port is re-opened every 500 ms from here.
FrameStartResult readFrameStart(uint8_t* byte);

// --- Link state ------------------------------------------------------------------------------
// A failed read or write: closes the port, shows the lost link and tries to open the port
// again at once. The warning is shown only when the link was up, so a device that stays
// away costs one box, not one per attempt.
void reportLinkFailure(const char* warning);
// True while the port is closed after a failure and waits to be re-opened.
bool isLinkLost();
// A whole frame arrived: the device answers, so a later failure warns again.
void noteDeviceAnswered();
// Start-up state (link up, nothing pending), for start-up and test fixtures.
void resetLinkState();
// What the program shows and does when the link is lost and when the port is open again
// (protocol/link_watch.cpp): the mode field, status bar and gated controls, and the
// questions that bring the host back in step with the device.
void showLinkLost(const char* portName);
void showLinkReopened(const char* portName);
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
// Milliseconds spent inside Warning boxes since the program started (wraps like the clock).
uint32_t warningOpenMs();
// Set to 0 by the main dialog's initialisation.
void setMessageBoxShowing(int showing);
// The status bar line: notices that ask for no answer (a tossed or stalled frame, a new
// calibration point).
void setStatusBarText(const char* text);
