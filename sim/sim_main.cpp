// kinestim-sim: serves the simulated Kinestim device on a pseudo-terminal or a serial device,
// with line-speed pacing, a control channel on standard input and an optional transcript.
#include "sim/control.h"
#include "sim/sim_options.h"
#include "sim/device.h"
#include "sim/wire.h"
#include "link/catalogue.h"
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The host purges its input when it opens the port; power-on waits this long after the
// host's open so that the first messages are not purged with it.
constexpr int64_t CONNECT_SETTLE_US = 50000;
// How often a pseudo-terminal without a host is checked for one.
constexpr int64_t HOST_CHECK_US = 20000;
constexpr int CONTROL_LINE_MAX = 1024;

struct PacedByte { double timeUs; uint8_t byte; };

struct SimHost {
  SimOptions options;
  int fd = -1;
  bool pty = false;
  char portPath[256] = {};
  bool linkMade = false;
  bool connected = false;
  bool everConnected = false;
  double byteUs = 0.0;
  std::deque<PacedByte> rx;
  double lastRxUs = 0.0;
  std::deque<PacedByte> tx;
  double lastTxUs = 0.0;
  bool txBlocked = false;
  FILE* transcript = nullptr;
  FILE* wireLog = nullptr;
  bool stdinOpen = true;
  char control[CONTROL_LINE_MAX + 2] = {};
  int controlLength = 0;
  bool controlOverflow = false;
  bool quit = false;
  int64_t reopenUs = -1;   // after a hang-up: when the port is made again
  timespec start = {};
};

SimHost host;
volatile sig_atomic_t stopSignal = 0;

void onSignal(int) { stopSignal = 1; }

int64_t nowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec - host.start.tv_sec) * 1000000 + (t.tv_nsec - host.start.tv_nsec) / 1000;
}

speed_t speedFor(long baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

void rawTermios(termios& t) {
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speedFor(host.options.baud));
  cfsetospeed(&t, speedFor(host.options.baud));
}

void openPort() {
  if (host.options.port != nullptr) {
    host.fd = open(host.options.port, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (host.fd < 0) {
      std::fprintf(stderr, "kinestim-sim: cannot open %s: %s\n", host.options.port, std::strerror(errno));
      std::exit(1);
    }
    termios t{};
    if (tcgetattr(host.fd, &t) == 0) {
      rawTermios(t);
      tcsetattr(host.fd, TCSANOW, &t);
    }
    std::snprintf(host.portPath, sizeof host.portPath, "%s", host.options.port);
    host.pty = false;
    return;
  }
  int master = -1, slave = -1;
  termios t{};
  rawTermios(t);
  if (openpty(&master, &slave, host.portPath, &t, nullptr) != 0) {
    std::fprintf(stderr, "kinestim-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
    std::exit(1);
  }
  // Our own slave descriptor stays closed, so the master reports a hang-up until the host
  // opens the slave: that is how the host's arrival is seen.
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  host.fd = master;
  host.pty = true;
}

void makeLink() {
  if (host.options.link == nullptr) return;
  struct stat st;
  if (lstat(host.options.link, &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "kinestim-sim: %s exists and is not a symbolic link; not replacing it\n", host.options.link);
      std::exit(1);
    }
    unlink(host.options.link);
  }
  if (symlink(host.portPath, host.options.link) != 0) {
    std::fprintf(stderr, "kinestim-sim: cannot link %s: %s\n", host.options.link, std::strerror(errno));
    std::exit(1);
  }
  host.linkMade = true;
}

void removeLink() {
  if (!host.linkMade) return;
  char target[sizeof host.portPath];
  const ssize_t n = readlink(host.options.link, target, sizeof target - 1);
  if (n >= 0) {
    target[n] = '\0';
    if (std::strcmp(target, host.portPath) == 0) unlink(host.options.link);
  }
  host.linkMade = false;
}

// Absolute CLOCK_MONOTONIC time in milliseconds, the clock other programs stamp with.
double monotonicMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One wire-log line: "%.3f %c" with the time in absolute CLOCK_MONOTONIC milliseconds and
// '<' (written to the host) or '>' (read from the host), then the bytes as hex pairs.
// Writes are stamped just before the write call, reads just after the read returned, so the
// host can never appear to have seen a byte before it was on the line.
void logWire(char direction, const uint8_t* bytes, ssize_t count, double timeMs) {
  if (host.wireLog == nullptr || count <= 0) return;
  std::fprintf(host.wireLog, "%.3f %c", timeMs, direction);
  for (ssize_t i = 0; i < count; ++i) std::fprintf(host.wireLog, " %.2x", bytes[i]);
  std::fputc('\n', host.wireLog);
}

void writeTranscript() {
  SimFrameEvent event;
  while (simTakeFrameEvent(event)) {
    if (host.transcript == nullptr) continue;
    char line[SIM_TRANSCRIPT_LINE_SIZE];
    const char* name = event.bad ? SIM_BAD_FRAME_NAME : simFrameName(event.direction, event.bytes[0]);
    simFormatTranscriptLine(line, sizeof line, static_cast<double>(event.timeUs) / 1000.0, event.direction,
                            event.bytes, event.count, name);
    std::fputs(line, host.transcript);
    std::fflush(host.transcript);
  }
}

// A hang-up as a pulled cable or a vanished adapter looks to the host: the port is closed
// now and made again (a new pseudo-terminal behind the same --link path) ms later. The
// device keeps its state; what it sends meanwhile is lost.
void hangUp(int64_t now, int ms) {
  // The link goes first, as an unplugged adapter's device node does: the number of a closed
  // pseudo-terminal is soon given to another one, which the host must not open instead.
  removeLink();
  close(host.fd);
  host.fd = -1;
  host.connected = false;
  host.rx.clear();
  host.tx.clear();
  host.txBlocked = false;
  host.reopenUs = now + static_cast<int64_t>(ms) * 1000;
}

void remakePort() {
  host.reopenUs = -1;
  openPort();
  makeLink();
  if (!host.pty) host.connected = true;
  std::printf("port: %s\n", host.portPath);
  std::fflush(stdout);
}

// A break, or a byte the host receives with a framing error: 0x55 at half the line speed
// ends with a low bit where the host expects the stop bit.
void sendLineError(SimLineAction action) {
  const char* name = action == SimLineAction::Break ? "break" : "framing-error";
  termios saved{};
  if (host.pty || host.fd < 0 || tcgetattr(host.fd, &saved) != 0) {
    std::fprintf(stderr, "kinestim-sim: %s: only a serial device (--port) can carry line errors\n", name);
    std::fflush(stderr);
    return;
  }
  if (action == SimLineAction::Break) {
    tcsendbreak(host.fd, 0);
    return;
  }
  termios slow = saved;
  cfsetospeed(&slow, host.options.baud >= 2400 ? speedFor(host.options.baud / 2) : B4800);
  const uint8_t byte = 0x55;
  if (tcsetattr(host.fd, TCSADRAIN, &slow) == 0 && write(host.fd, &byte, 1) == 1) tcdrain(host.fd);
  tcsetattr(host.fd, TCSADRAIN, &saved);
}

void applyLineRequest(int64_t now, const SimLineRequest& request) {
  if (request.action == SimLineAction::Hangup) hangUp(now, request.ms);
  else if (request.action != SimLineAction::None) sendLineError(request.action);
}

bool hostPresent() {
  pollfd p{host.fd, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return host.connected;
  return (p.revents & POLLHUP) == 0;
}

void updateConnection(int64_t now) {
  if (!host.pty || host.fd < 0) return;
  const bool present = hostPresent();
  if (present && !host.connected) {
    host.connected = true;
    if (!host.everConnected) {
      host.everConnected = true;
      simPowerOn(now, static_cast<int>((CONNECT_SETTLE_US / 1000) + host.options.powerOnDelayMs));
    }
  } else if (!present && host.connected) {
    host.connected = false;
    // A host that goes away before power-on has finished would miss its messages: the
    // device goes off again and powers on when a host is back.
    if (simMode() == modeInit) {
      simPowerOff();
      host.everConnected = false;
    }
    host.tx.clear();
    host.txBlocked = false;
  }
}

void readPort(int64_t now) {
  uint8_t buffer[512];
  for (;;) {
    const ssize_t n = read(host.fd, buffer, sizeof buffer);
    if (n <= 0) return;
    logWire('>', buffer, n, monotonicMs());
    for (ssize_t i = 0; i < n; ++i) {
      // A byte is complete at the receiver one byte time after it started; back-to-back
      // bytes follow each other at that pace.
      double t = static_cast<double>(now);
      if (t < host.lastRxUs) t = host.lastRxUs;
      t += host.byteUs;
      host.lastRxUs = t;
      host.rx.push_back({t, buffer[i]});
    }
  }
}

void deliverReceived(int64_t now) {
  while (!host.rx.empty() && host.rx.front().timeUs <= static_cast<double>(now)) {
    const int64_t t = static_cast<int64_t>(host.rx.front().timeUs);
    const uint8_t b = host.rx.front().byte;
    host.rx.pop_front();
    simReceive(t, &b, 1);
  }
}

void pullOutput(int64_t now) {
  uint8_t buffer[512];
  for (;;) {
    // Paced from the moment the device had the bytes ready rather than from when this loop
    // woke up to take them, so that the usual wake-up delay does not make the line slower
    // than its baud rate. A wake-up later than one byte time is not caught up: the bytes
    // then start at once, and the line never runs faster than its baud rate either.
    const int64_t ready = simNextOutputUs();
    if (ready > now) return;
    const int n = simTakeOutput(ready, buffer, sizeof buffer);
    if (n <= 0) return;
    if (!host.connected) continue;   // nobody on the line: the bytes are lost
    const double start = std::max(static_cast<double>(ready), static_cast<double>(now) - host.byteUs);
    for (int i = 0; i < n; ++i) {
      double t = start;
      if (t < host.lastTxUs) t = host.lastTxUs;
      t += host.byteUs;
      host.lastTxUs = t;
      host.tx.push_back({t, buffer[i]});
    }
  }
}

void writeDue(int64_t now) {
  uint8_t buffer[1024];
  int n = 0;
  for (const PacedByte& b : host.tx) {
    if (b.timeUs > static_cast<double>(now) || n == static_cast<int>(sizeof buffer)) break;
    buffer[n++] = b.byte;
  }
  host.txBlocked = false;
  if (n == 0) return;
  const double writeMs = host.wireLog != nullptr ? monotonicMs() : 0.0;
  const ssize_t written = write(host.fd, buffer, static_cast<size_t>(n));
  if (written < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) host.txBlocked = true;
    else host.tx.clear();   // the line is gone (host closed): drop what was due
    return;
  }
  logWire('<', buffer, written, writeMs);
  host.tx.erase(host.tx.begin(), host.tx.begin() + written);
  if (written < n) host.txBlocked = true;
}

void runControlLine(const char* line) {
  char message[256];
  const SimControlResult result = simControlLine(nowUs(), line, static_cast<int>(host.options.powerOnDelayMs),
                                                 message, sizeof message);
  if (result == SimControlResult::Quit) host.quit = true;
  applyLineRequest(nowUs(), simTakeLineRequest());
  if (result == SimControlResult::Error) {
    std::fprintf(stderr, "kinestim-sim: %s\n", message);
    std::fflush(stderr);
  }
}

void readControl() {
  char buffer[512];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) {
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) host.stdinOpen = false;
    if (!host.stdinOpen && host.controlLength > 0 && !host.controlOverflow) {
      host.control[host.controlLength] = '\0';
      runControlLine(host.control);
    }
    return;
  }
  for (ssize_t i = 0; i < n && !host.quit; ++i) {
    const char c = buffer[i];
    if (c == '\n') {
      if (host.controlOverflow) {
        std::fprintf(stderr, "kinestim-sim: control line longer than %d characters ignored\n", CONTROL_LINE_MAX);
      } else {
        host.control[host.controlLength] = '\0';
        runControlLine(host.control);
      }
      host.controlLength = 0;
      host.controlOverflow = false;
    } else if (host.controlLength < CONTROL_LINE_MAX) {
      host.control[host.controlLength++] = c == '\0' ? ' ' : c;
    } else {
      host.controlOverflow = true;
    }
  }
}

int64_t nextWakeUs(int64_t now) {
  int64_t wake = simNextDueUs();
  if (!host.rx.empty()) {
    const int64_t t = static_cast<int64_t>(std::ceil(host.rx.front().timeUs));
    if (t < wake) wake = t;
  }
  if (!host.tx.empty() && !host.txBlocked) {
    const int64_t t = static_cast<int64_t>(std::ceil(host.tx.front().timeUs));
    if (t < wake) wake = t;
  }
  if (host.pty && !host.connected && now + HOST_CHECK_US < wake) wake = now + HOST_CHECK_US;
  if (host.reopenUs >= 0 && host.reopenUs < wake) wake = host.reopenUs;
  return wake;
}

void serve() {
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGHUP);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);

  while (!host.quit && stopSignal == 0) {
    int64_t now = nowUs();
    if (host.reopenUs >= 0 && now >= host.reopenUs) remakePort();
    updateConnection(now);
    deliverReceived(now);
    simAdvance(now);
    pullOutput(now);
    if (host.connected) writeDue(now);
    writeTranscript();

    pollfd fds[2];
    int count = 0, portIndex = -1, stdinIndex = -1;
    if (host.stdinOpen) { stdinIndex = count; fds[count++] = {STDIN_FILENO, POLLIN, 0}; }
    if (host.connected) {
      portIndex = count;
      fds[count++] = {host.fd, static_cast<short>(POLLIN | (host.txBlocked ? POLLOUT : 0)), 0};
    }
    const int64_t wake = nextWakeUs(now);
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wake != SIM_NEVER) {
      const int64_t wait = wake > now ? wake - now : 0;
      timeout.tv_sec = static_cast<time_t>(wait / 1000000);
      timeout.tv_nsec = static_cast<long>((wait % 1000000) * 1000);
      timeoutPointer = &timeout;
    }
    const int ready = ppoll(fds, static_cast<nfds_t>(count), timeoutPointer, &waitMask);
    if (ready <= 0) continue;
    now = nowUs();
    if (portIndex >= 0 && (fds[portIndex].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      readPort(now);
      if ((fds[portIndex].revents & (POLLHUP | POLLERR)) != 0 && !host.pty) {
        std::fprintf(stderr, "kinestim-sim: %s hung up\n", host.portPath);
        host.quit = true;
      }
    }
    if (stdinIndex >= 0 && (fds[stdinIndex].revents & (POLLIN | POLLHUP | POLLERR)) != 0) readControl();
  }
}

}  // namespace

int main(int argc, char** argv) {
  clock_gettime(CLOCK_MONOTONIC, &host.start);
  simParseOptions(argc, argv, host.options);
  const SimOptions& o = host.options;
  host.byteUs = o.baud > 0 ? 10.0e6 / static_cast<double>(o.baud) : 0.0;

  struct sigaction action{};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Started in the background of a shell, reading the terminal fails instead of stopping us.
  signal(SIGTTIN, SIG_IGN);

  if (o.transcript != nullptr) {
    host.transcript = std::fopen(o.transcript, "w");
    if (host.transcript == nullptr) {
      std::fprintf(stderr, "kinestim-sim: cannot write transcript %s: %s\n", o.transcript, std::strerror(errno));
      return 1;
    }
  }
  if (o.wireLog != nullptr) {
    host.wireLog = std::fopen(o.wireLog, "w");
    if (host.wireLog == nullptr) {
      std::fprintf(stderr, "kinestim-sim: cannot write wire log %s: %s\n", o.wireLog, std::strerror(errno));
      return 1;
    }
  }

  simReset(static_cast<uint32_t>(o.seed));
  simSetTilt(o.tiltX, o.tiltY);
  simSetPeriod(0, o.period);
  simSetNoise(static_cast<int>(o.noise));
  simSetDrift(o.drift);

  openPort();
  makeLink();
  std::printf("port: %s\n", host.portPath);
  std::fflush(stdout);

  if (!host.pty) {
    host.connected = true;
    host.everConnected = true;
    simPowerOn(nowUs(), static_cast<int>(o.powerOnDelayMs));
  }
  serve();

  writeTranscript();
  removeLink();
  if (host.transcript != nullptr) std::fclose(host.transcript);
  if (host.wireLog != nullptr) std::fclose(host.wireLog);
  close(host.fd);
  return 0;
}
