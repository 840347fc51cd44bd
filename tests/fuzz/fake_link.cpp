// Serial port and clock stand-ins for the fuzz targets, with the host start-up they share.
// They replace the POSIX backend below the serial seam, so everything above it is real.
#include "fake_link.h"

#include "app/host_state.h"
#include "app/main_dialog.h"
#include "frontends/console/console_window.h"
#include "link/serial_port.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "platform/clock.h"

#include <ostream>

namespace {

struct FakeLink {
  const uint8_t* data = nullptr;
  size_t size = 0, position = 0;
  bool open = false;
  uint32_t clockMs = 0;
} link;

}  // namespace

void fakeLinkServe(const uint8_t* data, size_t size) { link = FakeLink{data, size, 0, link.open, link.clockMs}; }
bool fakeLinkDrained() { return link.position >= link.size; }

void startHost(std::istream* input) {
  static std::ostream discard(nullptr);   // a stream without a buffer drops what it is given
  consoleWindowReset(input, &discard);
  stopDataLog();
  stopTrafficLog();
  setDataLogTimeStamps(false);
  resetHostState();
  link.open = true;
  initMainDialog();
  consoleRunPostedCommands();
}

// --- Serial port seam ------------------------------------------------------------------
const char* openSerialPort(int) { return link.open = true, nullptr; }
const char* openSerialPortPath(const char*) { return link.open = true, nullptr; }
int lastLinkError() { return 0; }
bool tryReopenSerialPort() { return link.open = true; }
void closeSerialPort() { link.open = false; }
bool isSerialPortOpen() { return link.open; }
const char* serialPortName() { return "fuzz"; }
bool waitTransmitterEmpty(int) { return link.open; }
void clearSerialPortErrors() {}
int writeSerialPort(const uint8_t* data, int count) { return link.open && data && count > 0 ? count : 0; }

LinkStatus readSerialByte(uint8_t* byte) {
  if (link.position < link.size) {
    *byte = link.data[link.position++];
    return LinkStatus::Data;
  }
  link.clockMs += 10;   // the 10 ms read time-out passes with nothing on the line
  return LinkStatus::Nothing;
}

// --- Clock seam --------------------------------------------------------------------------
uint32_t tickCountMs() { return link.clockMs; }
LocalTime localTimeNow() { return LocalTime{12, 34, 56, 789}; }
void sleepMs(int ms) { link.clockMs += static_cast<uint32_t>(ms > 0 ? ms : 0); }
