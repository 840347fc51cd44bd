// Host tests over a real pseudo-terminal: the host opens the slave as its serial port and
// the test plays the device on the master, writing frames and reading what the host sent.
#pragma once
#include "../link/pty_device.h"
#include "host_fixture.h"
#include "link/serial_port.h"

class LinkTest : public HostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.create()) << "no pseudo-terminal available";
    ASSERT_EQ(openSerialPortPath(device_.path.c_str()), nullptr);
    HostTest::SetUp();
  }
  void TearDown() override {
    HostTest::TearDown();
    closeSerialPort();
  }
  void deviceSends(const Bytes& payload) { deviceSendsRaw(frameOf(payload)); }
  // Waits until the bytes have crossed the line, so the host finds them all at its next look.
  void deviceSendsRaw(const Bytes& bytes) { device_.send(bytes, true); }
  // Everything the host has written to the line, as hex, read until the line stays quiet.
  std::string hostSent(int quietMs = 30) { return hex(device_.drain(quietMs)); }
  PtyDevice device_;
};
