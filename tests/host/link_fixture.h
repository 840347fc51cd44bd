// Host tests over a real pseudo-terminal: the host opens the slave as its serial port and
// the test plays the device on the master, writing frames and reading what the host sent.
#pragma once
#include "host_fixture.h"

class LinkTest : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  void deviceSends(const Bytes& payload) { deviceSendsRaw(frameOf(payload)); }
  void deviceSendsRaw(const Bytes& bytes);
  // Everything the host has written to the line, as hex, read until the line stays quiet.
  std::string hostSent(int quietMs = 30);
  int master_ = -1, slave_ = -1;
};
