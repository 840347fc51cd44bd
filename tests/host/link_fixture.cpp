// Pseudo-terminal pair for host tests: the host's serial port is the slave, the test is the
// device on the master.
#include "link_fixture.h"
#include "link/serial_port.h"
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

void LinkTest::SetUp() {
  char name[256] = {};
  ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  openSerialPortPath(name);
  HostTest::SetUp();
}

void LinkTest::TearDown() {
  HostTest::TearDown();
  closeSerialPort();
  close(slave_);
  close(master_);
}

void LinkTest::deviceSendsRaw(const Bytes& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
  usleep(2000);  // let the bytes cross the line discipline before the host looks for them
}

std::string LinkTest::hostSent(int quietMs) {
  Bytes got;
  uint8_t buffer[512];
  for (pollfd wanted{master_, POLLIN, 0}; poll(&wanted, 1, quietMs) > 0 && (wanted.revents & POLLIN);) {
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return hex(got);
}
