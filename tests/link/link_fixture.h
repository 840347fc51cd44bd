// Link test fixture: a pseudo-terminal pair whose master plays the device while the program
// has its port open on the slave, with the recorded notices cleared.
#pragma once
#include "link/framing.h"
#include "link/serial_port.h"
#include "recording_window.h"
#include "test_bytes.h"
#include <chrono>
#include <gtest/gtest.h>

struct PtyDevice {
  int master = -1;
  int slave = -1;  // held open so the pair stays usable while the program re-opens it
  std::string path;

  bool create();  // false when no pseudo-terminal is available
  // settle: wait (up to 2 s) until the bytes are readable on the slave, for timed reads.
  void send(const Bytes& bytes, bool settle = false) const;
  Bytes drain(int quietMs = 100) const;  // all that arrives within quietMs of the last byte
  void close();
  ~PtyDevice() { close(); }
};

long elapsedMs(std::chrono::steady_clock::time_point since);
// Receive attempts until one yields a packet (its hex) or a notice (recordedNotices()); ""
// when `tries` attempts yield nothing.
std::string receiveOne(int tries = 20);

// No recorded notices, no box showing, the link in its start-up state.
inline void resetLink() {
  clearRecordings();
  setMessageBoxShowing(0);
  resetLinkState();
}

class LinkTest : public ::testing::Test {
 protected:
  PtyDevice device;
  void SetUp() override {
    resetLink();
    ASSERT_TRUE(device.create()) << "no pseudo-terminal available";
    openSerialPortPath(device.path.c_str());
    ASSERT_TRUE(isSerialPortOpen());
  }
  void TearDown() override { closeSerialPort(); }
};
