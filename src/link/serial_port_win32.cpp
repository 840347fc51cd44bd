// Serial port backend for Windows: CreateFileA on the COM device, DCB line settings,
// COMMTIMEOUTS read and write bounds, and a bounded wait for the transmitter to drain. Line
// errors and a port that has gone away (ClearCommError fails) fail the read.
#include "link/serial_port.h"
#include <cstdio>
#include <cstring>
#include <windows.h>

namespace {

constexpr int DEVICE_NAME_SIZE = 8;  // "COM9999" and its terminator
constexpr int PATH_SIZE = 260;

static_assert(sizeof(DCB) == 28, "DCBlength must be 28");

// The error bits that make a read fail: framing, parity, break, overruns.
constexpr DWORD LINE_ERRORS = CE_FRAME | CE_RXPARITY | CE_BREAK | CE_OVERRUN | CE_RXOVER;

struct SerialPortState {
  HANDLE handle = INVALID_HANDLE_VALUE;
  char path[PATH_SIZE] = {};  // the name handed to CreateFileA
  DWORD pendingErrors = 0;    // line errors cleared by the drain wait, not yet reported
  DWORD failureError = 0;     // GetLastError() of the last failed open step
  char failure[400] = {};     // the last open failure as reported
  int lastError = 0;          // GetLastError() of the last failed read or write
  // Bytes already read from the driver and not yet handed out: what is waiting is read in one
  // call, since a call per byte costs more than a byte takes on the line under Wine.
  uint8_t received[256] = {};
  DWORD receivedCount = 0;
  DWORD receivedNext = 0;
};

SerialPortState port;

// Closes whatever a failed open left behind and passes its reason on.
const char* openFailed(const char* text) {
  port.failureError = GetLastError();
  if (port.handle != INVALID_HANDLE_VALUE) {
    CloseHandle(port.handle);
    port.handle = INVALID_HANDLE_VALUE;
  }
  return text;
}

// A failed read: the system's reason is kept for whoever reports the lost link.
LinkStatus readFailed(DWORD error) {
  port.lastError = static_cast<int>(error);
  return LinkStatus::Failed;
}

// Opens and configures the port; nullptr when it is ready, else the reason, with the port
// closed.
const char* openDevice(const char* deviceName) {
  port.handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port.handle == INVALID_HANDLE_VALUE) return openFailed("Failed to open communications port");

  // Every field not set here keeps the value the driver reports.
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(port.handle, &dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fNull = 0;
  dcb.fAbortOnError = 1;
  dcb.EvtChar = 0x55;
  if (!SetCommState(port.handle, &dcb)) return openFailed("Failed to set comm state");

  // A one-byte read returns after at most 10 ms; a write of n bytes after 8 * n + 4 ms.
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 50;
  timeouts.ReadTotalTimeoutMultiplier = 10;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 8;
  timeouts.WriteTotalTimeoutConstant = 4;
  if (!SetCommTimeouts(port.handle, &timeouts)) return openFailed("Failed to set Timeouts");

  if (!SetCommMask(port.handle, EV_RXFLAG | EV_TXEMPTY)) return openFailed("SetCommMask failed");
  SetupComm(port.handle, 128, 75);
  PurgeComm(port.handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_RXCLEAR);
  ClearCommBreak(port.handle);
  port.pendingErrors = 0;
  port.receivedCount = port.receivedNext = 0;
  return nullptr;
}

// The failure's first line, then the port's name and the system's own words for the reason.
const char* describeFailure(const char* text, const char* portName) {
  char reason[200] = "";
  if (port.failureError != 0)
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, port.failureError, 0, reason,
                   sizeof reason, nullptr);
  size_t length = strlen(reason);
  while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' || reason[length - 1] == ' '))
    reason[--length] = '\0';
  if (length == 0) snprintf(reason, sizeof reason, "system error %lu", static_cast<unsigned long>(port.failureError));
  snprintf(port.failure, sizeof port.failure, "%s\r\n%s: %s", text, portName, reason);
  return port.failure;
}

}  // namespace

const char* openSerialPort(int portNumber) {
  closeSerialPort();
  // The device name must fit its 8-character buffer: numbers above 9999 are refused rather
  // than cut short into another port's name.
  char name[DEVICE_NAME_SIZE + 16];
  int length = snprintf(name, sizeof name, "COM%d", portNumber);
  if (portNumber < 1 || length < 0 || length >= DEVICE_NAME_SIZE) {
    SetLastError(ERROR_INVALID_NAME);
    return describeFailure(openFailed("Failed to open communications port"), name);
  }
  // The "\\.\" form is the only one CreateFileA accepts for COM10 and above; it works for
  // COM1 to COM9 as well.
  snprintf(port.path, sizeof port.path, "\\\\.\\%s", name);
  const char* failure = openDevice(port.path);
  return failure != nullptr ? describeFailure(failure, serialPortName()) : nullptr;
}

const char* openSerialPortPath(const char* path) {
  closeSerialPort();
  const char* prefix = "\\\\.\\";
  SetLastError(ERROR_INVALID_NAME);
  if (path == nullptr || path[0] == '\0')
    return describeFailure(openFailed("Failed to open communications port"), "(no port)");
  if (strncmp(path, "\\\\", 2) == 0) prefix = "";
  int length = snprintf(port.path, sizeof port.path, "%s%s", prefix, path);
  if (length < 0 || length >= PATH_SIZE)
    return describeFailure(openFailed("Failed to open communications port"), "(name too long)");
  const char* failure = openDevice(port.path);
  return failure != nullptr ? describeFailure(failure, serialPortName()) : nullptr;
}

bool tryReopenSerialPort() {
  closeSerialPort();
  // Only a port that was open once has a name to open again.
  if (port.path[0] == '\0') return false;
  return openDevice(port.path) == nullptr;
}

void closeSerialPort() {
  if (port.handle == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(port.handle);
  CloseHandle(port.handle);
  port.handle = INVALID_HANDLE_VALUE;
}

bool isSerialPortOpen() { return port.handle != INVALID_HANDLE_VALUE; }

// The name without the "\\.\" device prefix, as the operator knows it ("COM3").
const char* serialPortName() {
  return strncmp(port.path, "\\\\.\\", 4) == 0 ? port.path + 4 : port.path;
}

int lastLinkError() { return port.lastError; }

LinkStatus readSerialByte(uint8_t* byte) {
  if (port.handle == INVALID_HANDLE_VALUE) return readFailed(ERROR_INVALID_HANDLE);
  // A line error that the drain wait cleared during a send is reported now.
  if (port.pendingErrors != 0) {
    port.pendingErrors = 0;
    return readFailed(ERROR_IO_DEVICE);
  }
  if (port.receivedNext < port.receivedCount) {
    *byte = port.received[port.receivedNext++];
    return LinkStatus::Data;
  }
  DWORD errors = 0;
  COMSTAT status;
  memset(&status, 0, sizeof status);
  if (!ClearCommError(port.handle, &errors, &status)) return readFailed(GetLastError());
  if ((errors & LINE_ERRORS) != 0) return readFailed(ERROR_IO_DEVICE);
  DWORD wanted = status.cbInQue > sizeof port.received ? sizeof port.received : status.cbInQue;
  if (wanted == 0) wanted = 1;  // nothing waiting: one byte, within the read time-out
  DWORD got = 0;
  port.receivedCount = port.receivedNext = 0;
  if (!ReadFile(port.handle, port.received, wanted, &got, nullptr)) return readFailed(GetLastError());
  if (got > 0) {
    port.receivedCount = got;
    *byte = port.received[port.receivedNext++];
    return LinkStatus::Data;
  }
  // A port whose device has gone away (a hung-up line, an unplugged adapter) may still
  // return empty reads; its status can no longer be read, which tells it apart.
  if (!ClearCommError(port.handle, &errors, &status)) return readFailed(GetLastError());
  if ((errors & LINE_ERRORS) != 0) return readFailed(ERROR_IO_DEVICE);
  return LinkStatus::Nothing;
}

int writeSerialPort(const uint8_t* data, int count) {
  if (port.handle == INVALID_HANDLE_VALUE || data == nullptr || count <= 0) return 0;
  DWORD written = 0;
  if (!WriteFile(port.handle, data, static_cast<DWORD>(count), &written, nullptr)) {
    port.lastError = static_cast<int>(GetLastError());
    return 0;
  }
  return static_cast<int>(written);
}

bool waitTransmitterEmpty(int boundMs) {
  if (port.handle == INVALID_HANDLE_VALUE) return false;
  // The port is not overlapped, so WaitCommEvent for EV_TXEMPTY would block without a
  // bound. Instead the driver's output queue count is polled until it is empty, which is the
  // condition EV_TXEMPTY reports; this works alike on Windows and under Wine.
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD errors = 0;
    COMSTAT status;
    memset(&status, 0, sizeof status);
    if (!ClearCommError(port.handle, &errors, &status)) return false;
    // Clearing is the only way to read the queue, so keep the errors for the next read.
    port.pendingErrors |= errors & LINE_ERRORS;
    if (status.cbOutQue == 0) return true;
    if (GetTickCount() - start >= static_cast<DWORD>(boundMs)) return false;
    Sleep(1);
  }
}

void clearSerialPortErrors() {
  // With fAbortOnError set every call fails after a line error until the error is cleared.
  if (port.handle == INVALID_HANDLE_VALUE) return;
  DWORD errors = 0;
  COMSTAT status;
  ClearCommError(port.handle, &errors, &status);
}
