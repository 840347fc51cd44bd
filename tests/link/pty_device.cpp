// Pseudo-terminal pair used as the device's side of the serial line in link tests.
#include "pty_device.h"
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool PtyDevice::create() {
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
  path = name;
  // Until the program applies its own settings the line must not echo or translate.
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  return true;
}

void PtyDevice::send(const Bytes& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void PtyDevice::sendAndSettle(const Bytes& bytes) const {
  int before = 0;
  ioctl(slave, FIONREAD, &before);
  send(bytes);
  for (int i = 0; i < 200; ++i) {
    int queued = 0;
    if (ioctl(slave, FIONREAD, &queued) != 0 || queued >= before + static_cast<int>(bytes.size())) return;
    usleep(10 * 1000);
  }
}

Bytes PtyDevice::receive(size_t count, int timeoutMs) const {
  Bytes got;
  while (got.size() < count) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    uint8_t buffer[512];
    ssize_t n = read(master, buffer, count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

Bytes PtyDevice::drain(int quietMs) const { return receive(100000, quietMs); }

void PtyDevice::closeMaster() {
  if (master >= 0) close(master);
  master = -1;
}

void PtyDevice::closeAll() {
  closeMaster();
  if (slave >= 0) close(slave);
  slave = -1;
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char cell[8];
  for (uint8_t b : bytes) {
    snprintf(cell, sizeof cell, text.empty() ? "%.2X" : " %.2X", b);
    text += cell;
  }
  return text;
}
