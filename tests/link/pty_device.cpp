// Pseudo-terminal pair used as the device's side of the serial line in link and host tests.
#include "pty_device.h"
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

void PtyDevice::send(const Bytes& bytes, bool settle) const {
  int before = 0;
  ioctl(slave, FIONREAD, &before);
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
  for (int i = 0, queued = 0; settle && i < 2000; ++i, usleep(1000))
    if (ioctl(slave, FIONREAD, &queued) != 0 || queued >= before + static_cast<int>(bytes.size())) return;
}

Bytes PtyDevice::drain(int quietMs) const {
  Bytes got;
  uint8_t buffer[512];
  for (pollfd p{master, POLLIN, 0}; poll(&p, 1, quietMs) > 0;) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void PtyDevice::close() {
  for (int* fd : {&master, &slave}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}
