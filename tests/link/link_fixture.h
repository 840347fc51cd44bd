// Link test fixture: a pseudo-terminal pair whose master plays the device while the program
// has its port open on the slave, with the recorded notices cleared.
#pragma once
#include "link/framing.h"
#include "link/serial_port.h"
#include "pty_device.h"
#include "recording_window.h"
#include <chrono>
#include <gtest/gtest.h>

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
