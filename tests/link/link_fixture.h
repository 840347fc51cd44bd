// Shared fixture for link tests: a pseudo-terminal device with the program's port opened
// on its slave, and the recordings of message boxes and status texts cleared.
#pragma once
#include "link/serial_port.h"
#include "pty_device.h"
#include "recording_window.h"
#include <chrono>
#include <gtest/gtest.h>

class LinkTest : public ::testing::Test {
 protected:
  PtyDevice device;

  void SetUp() override {
    clearRecordings();
    setMessageBoxShowing(0);
    ASSERT_TRUE(device.create()) << "no pseudo-terminal available";
    openSerialPortPath(device.path.c_str());
    ASSERT_TRUE(isSerialPortOpen());
  }
  void TearDown() override { closeSerialPort(); }
};

inline long elapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - since)
                               .count());
}
