// Serial port and clock stand-ins for the fuzz targets, with the host start-up they share.
// They replace the POSIX backend below the serial seam, so everything above it is real.
#include "fake_link.h"

#include "link/serial_backend.h"
#include "link/serial_port.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "platform/clock.h"
#include "frontends/console/console_window.h"
#include "script/compiler.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include "ui/parameters.h"

#include <ostream>
#include <streambuf>

namespace {

struct FakeLink {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
  size_t written = 0;
  bool open = false;
  uint32_t clockMs = 0;
};

FakeLink link;

class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

void fakeLinkServe(const uint8_t* data, size_t size) {
  link.data = data;
  link.size = size;
  link.position = 0;
  link.written = 0;
}

bool fakeLinkDrained() { return link.position >= link.size; }
size_t fakeLinkWritten() { return link.written; }
void fakeLinkOpen() { link.open = true; }

std::ostream& discardStream() {
  static DiscardBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

void startHost(std::istream* input) {
  consoleWindowReset(input, &discardStream());
  stopDataLog();
  stopTrafficLog();
  setDataLogTimeStamps(false);
  resetCalibrationStore();
  resetCalibrationRun();
  clearElectrodeCodes();
  resetParameterBlock();
  resetMemoryView();
  resetCompilerOutput();
  setMessageBoxShowing(0);
  fakeLinkOpen();
  initMainDialog();
  consoleRunPostedCommands();
}

// --- Serial port seam ------------------------------------------------------------------
void openSerialPort(int) { link.open = true; }
void openSerialPortPath(const char*) { link.open = true; }
bool tryReopenSerialPort() {
  link.open = true;
  return true;
}
void closeSerialPort() { link.open = false; }
bool isSerialPortOpen() { return link.open; }
const char* serialPortName() { return "fuzz"; }

ByteRead readSerialByte(uint8_t* byte) {
  if (link.position < link.size) {
    *byte = link.data[link.position++];
    return ByteRead::Got;
  }
  // The 10 ms read time-out passes with nothing on the line.
  link.clockMs += 10;
  return ByteRead::Nothing;
}

int writeSerialPort(const uint8_t* data, int count) {
  if (!link.open || data == nullptr || count <= 0) return 0;
  link.written += static_cast<size_t>(count);
  return count;
}

bool waitTransmitterEmpty(int) { return link.open; }
void clearSerialPortErrors() {}

// --- Clock seam --------------------------------------------------------------------------
uint32_t tickCountMs() { return link.clockMs; }
LocalTime localTimeNow() { return LocalTime{12, 34, 56, 789}; }
void sleepMs(int ms) { link.clockMs += static_cast<uint32_t>(ms > 0 ? ms : 0); }
