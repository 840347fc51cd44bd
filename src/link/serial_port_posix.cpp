// Serial port backend for POSIX systems: termios on serial devices (/dev/ttyS*, /dev/ttyUSB*)
// and pseudo-terminals, with 10 ms byte reads, bounded writes and a bounded drain wait.
// Line errors (framing, parity, break, overrun) fail the read, as on Windows.
#include "link/serial_port.h"
#include "link/serial_backend.h"
#include "platform/clock.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace {

constexpr int READ_TIMEOUT_MS = 10;
constexpr int WRITE_MS_PER_BYTE = 8;
constexpr int WRITE_CONSTANT_MS = 4;
constexpr int PATH_SIZE = 256;
constexpr int INPUT_SIZE = 64;

// The driver's line error counters, where it keeps them (serial devices; not pseudo-terminals).
struct LineErrorCounts {
  bool kept = false;
  long total = 0;
};

struct SerialPortState {
  int fd = -1;
  char path[PATH_SIZE] = {};
  uint8_t input[INPUT_SIZE] = {};  // read from the device, not yet decoded
  int inputCount = 0;
  LineErrorCounts errors;
  int lastError = 0;  // errno of the last failed read or write (0: the other end closed)
  int failureErrno = 0;                 // the system's reason for the last failed open step
  const char* failureReason = nullptr;  // a reason of our own where errno says nothing useful
  std::string failure;                  // the last open failure as reported
};

SerialPortState port;

// Closes whatever a failed open left behind and passes its reason on, keeping the system's
// reason (errno, or the given text) for the report.
const char* openFailed(const char* text, const char* reason = nullptr) {
  port.failureErrno = errno;
  port.failureReason = reason;
  if (port.fd >= 0) {
    ::close(port.fd);
    port.fd = -1;
  }
  return text;
}

// The group that owns the device, for the hint to a user the device refused; "" if unknown.
std::string owningGroup(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) return "";
  const group* g = getgrgid(info.st_gid);
  return g != nullptr && g->gr_name != nullptr ? g->gr_name : "";
}

// The failure's first line, then the port's name and the system's reason, and for a refused
// permission the group the user must belong to.
const char* describeFailure(const char* text) {
  port.failure = std::string(text) + "\r\n" + (port.path[0] != '\0' ? port.path : "(no port)") + ": " +
                 (port.failureReason != nullptr ? port.failureReason : std::strerror(port.failureErrno));
  if (port.failureReason == nullptr && (port.failureErrno == EACCES || port.failureErrno == EPERM)) {
    const std::string group = owningGroup(port.path);
    const passwd* user = getpwuid(geteuid());
    if (!group.empty() && group != "root")
      port.failure += "\r\nThe port belongs to group " + group + ": join it (sudo usermod -aG " + group + " " +
                      (user != nullptr && user->pw_name != nullptr ? user->pw_name : "$USER") + ") and log in again.";
  }
  return port.failure.c_str();
}

// A failed read: the system's reason is kept for whoever reports the lost link.
LinkStatus readFailed(int error) {
  port.lastError = error;
  return LinkStatus::Failed;
}

// An overrun is not marked in the input; the driver only counts it, with the other errors.
LineErrorCounts readLineErrorCounts() {
  LineErrorCounts counts;
#ifdef TIOCGICOUNT
  serial_icounter_struct c{};
  if (ioctl(port.fd, TIOCGICOUNT, &c) == 0) {
    counts.kept = true;
    counts.total = static_cast<long>(c.frame) + c.parity + c.brk + c.overrun + c.buf_overrun;
  }
#endif
  return counts;
}

// Opens the device and applies the line settings. Returns nullptr when the port is open and
// configured, else the reason, with the port closed.
const char* openDevice(const char* path) {
  // Non-blocking: a serial device without carrier would otherwise block the open, and every
  // read and write below is bounded by poll().
  port.fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (port.fd < 0) return openFailed("Failed to open communications port");
  port.inputCount = 0;
  // No sharing: a second program (or a second open here) is refused. The lock ends with the
  // descriptor, so a program that quits or dies never keeps the port from the next one (an
  // exclusive-mode flag on the terminal would outlive it while the device end stays open).
  if (::flock(port.fd, LOCK_EX | LOCK_NB) != 0)
    return openFailed("Failed to open communications port", "in use by another program");

  termios settings{};
  if (tcgetattr(port.fd, &settings) != 0) return openFailed("Failed to set comm state");
  cfmakeraw(&settings);                       // binary, NUL bytes passed through, no echo
  settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;   // 8N1, modem lines ignored
  settings.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | IGNBRK | BRKINT | ISTRIP);
  // Framing and parity errors and breaks are marked in the input (0xff 0x00 x; a data byte
  // 0xff arrives doubled) so that the read can fail on them instead of passing a 0x00 on.
  settings.c_iflag |= INPCK | PARMRK;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(port.fd, TCSANOW, &settings) != 0) return openFailed("Failed to set comm state");
  // tcsetattr succeeds when any part was applied, so read the essentials back.
  termios applied{};
  if (tcgetattr(port.fd, &applied) != 0 || cfgetospeed(&applied) != B9600 ||
      (applied.c_cflag & CSIZE) != CS8 || (applied.c_cflag & (PARENB | CSTOPB | CRTSCTS)) != 0 ||
      (applied.c_iflag & (INPCK | PARMRK)) != (INPCK | PARMRK))
    return openFailed("Failed to set comm state", "the port does not take 9600 baud, 8 data bits, no parity");
  // DTR and RTS dropped; a pseudo-terminal has no modem lines, so failure is ignored.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(port.fd, TIOCMBIC, &lines);

  // The time-outs are the poll() bounds below; they need a non-blocking descriptor.
  int flags = fcntl(port.fd, F_GETFL);
  if (flags < 0 || fcntl(port.fd, F_SETFL, flags | O_NONBLOCK) != 0)
    return openFailed("Failed to make the port non-blocking");

  // The transmitter-empty wait reads the output queue count; the port must support it.
  int queued = 0;
  if (ioctl(port.fd, TIOCOUTQ, &queued) != 0) return openFailed("Failed to read the output queue");

  tcflush(port.fd, TCIFLUSH);  // input purged; output already queued is kept
  ioctl(port.fd, TIOCCBRK);    // end any break state
  port.errors = readLineErrorCounts();
  return nullptr;
}

// Reads more input into the buffer, waiting at most waitMs for the first byte.
LinkStatus fillInput(int waitMs) {
  pollfd wanted{port.fd, POLLIN, 0};
  int ready = poll(&wanted, 1, waitMs);
  if (ready < 0) return errno == EINTR ? LinkStatus::Nothing : readFailed(errno);
  if (ready == 0) return LinkStatus::Nothing;
  if (wanted.revents & POLLIN) {
    ssize_t got = ::read(port.fd, port.input + port.inputCount, static_cast<size_t>(INPUT_SIZE - port.inputCount));
    if (got > 0) {
      port.inputCount += static_cast<int>(got);
      return LinkStatus::Data;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return LinkStatus::Nothing;
    // 0 means end of file: the other side of a pseudo-terminal has closed.
    return readFailed(got < 0 ? errno : 0);
  }
  // POLLERR, POLLHUP or POLLNVAL with nothing left to read: the line is gone.
  return readFailed(EIO);
}

}  // namespace

const char* openSerialPort(int portNumber) {
  closeSerialPort();
  // Numbers that do not fit the 8-character "COM%d" name are refused, as on Windows.
  if (portNumber < 1 || portNumber > MAX_PORT_NUMBER) {
    snprintf(port.path, sizeof port.path, "port %d", portNumber);
    return describeFailure(openFailed("Failed to open communications port", "no such port number"));
  }
  snprintf(port.path, sizeof port.path, "/dev/ttyS%d", portNumber - 1);
  const char* failure = openDevice(port.path);
  return failure != nullptr ? describeFailure(failure) : nullptr;
}

const char* openSerialPortPath(const char* path) {
  closeSerialPort();
  if (path == nullptr || path[0] == '\0' || strlen(path) >= sizeof port.path) {
    port.path[0] = '\0';
    return describeFailure(openFailed("Failed to open communications port", "no device path given, or a path too long"));
  }
  snprintf(port.path, sizeof port.path, "%s", path);
  const char* failure = openDevice(port.path);
  return failure != nullptr ? describeFailure(failure) : nullptr;
}

bool tryReopenSerialPort() {
  closeSerialPort();
  // Only a port that was open once has a name to open again.
  if (port.path[0] == '\0') return false;
  return openDevice(port.path) == nullptr;
}

void closeSerialPort() {
  if (port.fd < 0) return;
  // Flush what is queued for output within a bound, then close; results are ignored.
  waitTransmitterEmpty(1000);
  ::close(port.fd);
  port.fd = -1;
  port.inputCount = 0;
}

bool isSerialPortOpen() { return port.fd >= 0; }

const char* serialPortName() { return port.path; }

MarkedInput decodeMarkedInput(const uint8_t* bytes, int count, uint8_t* value, int* used) {
  if (count < 1) return MarkedInput::Incomplete;
  *value = bytes[0];
  *used = 1;
  if (bytes[0] != 0xFF) return MarkedInput::Byte;
  if (count < 2) return MarkedInput::Incomplete;
  if (bytes[1] == 0xFF) {
    *used = 2;
    return MarkedInput::Byte;
  }
  if (bytes[1] != 0x00) return MarkedInput::Byte;  // not a mark: the 0xff is data
  if (count < 3) return MarkedInput::Incomplete;
  *used = 3;
  return MarkedInput::LineError;
}

// Takes count bytes off the front of the decoded input.
void consumeInput(int count) {
  port.inputCount -= count;
  memmove(port.input, port.input + count, static_cast<size_t>(port.inputCount));
}

int lastLinkError() { return port.lastError; }

LinkStatus readSerialByte(uint8_t* byte) {
  if (port.fd < 0) return readFailed(EBADF);
  if (port.errors.kept) {
    LineErrorCounts now = readLineErrorCounts();
    if (now.kept && now.total != port.errors.total) {
      port.errors = now;
      return readFailed(EIO);
    }
  }
  for (;;) {
    int used = 0;
    const MarkedInput item = decodeMarkedInput(port.input, port.inputCount, byte, &used);
    if (item != MarkedInput::Incomplete) {
      consumeInput(used);
      return item == MarkedInput::LineError ? readFailed(EIO) : LinkStatus::Data;
    }
    LinkStatus more = fillInput(READ_TIMEOUT_MS);
    if (more == LinkStatus::Data) continue;
    if (more == LinkStatus::Failed || port.inputCount == 0) return more;
    // The driver stores a mark whole, so a 0xff whose mark never completed is data.
    *byte = port.input[0];
    consumeInput(1);
    return LinkStatus::Data;
  }
}

int writeSerialPort(const uint8_t* data, int count) {
  if (port.fd < 0 || data == nullptr || count <= 0) return 0;
  const uint32_t bound = static_cast<uint32_t>(WRITE_MS_PER_BYTE * count + WRITE_CONSTANT_MS);
  const uint32_t start = tickCountMs();
  int written = 0;
  while (written < count) {
    ssize_t n = ::write(port.fd, data + written, static_cast<size_t>(count - written));
    if (n > 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      port.lastError = errno;
      break;
    }
    uint32_t elapsed = tickCountMs() - start;
    if (elapsed >= bound) break;
    pollfd wanted{port.fd, POLLOUT, 0};
    int ready = poll(&wanted, 1, static_cast<int>(bound - elapsed));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (wanted.revents & (POLLERR | POLLHUP | POLLNVAL))) break;
  }
  return written;
}

bool waitTransmitterEmpty(int boundMs) {
  if (port.fd < 0) return false;
  // tcdrain() cannot be bounded, so watch the output queue until it is empty and only then
  // let tcdrain() wait for the last character to leave the shift register.
  const uint32_t start = tickCountMs();
  for (;;) {
    int queued = 0;
    if (ioctl(port.fd, TIOCOUTQ, &queued) != 0) return false;
    if (queued == 0) {
      tcdrain(port.fd);
      return true;
    }
    if (tickCountMs() - start >= static_cast<uint32_t>(boundMs)) return false;
    sleepMs(1);
  }
}

void clearSerialPortErrors() {
  // POSIX reports a line error on the call it hits and keeps no error state that would make
  // later calls fail, so there is nothing to clear.
}
