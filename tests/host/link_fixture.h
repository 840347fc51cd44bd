// Host tests over a real pseudo-terminal: the host opens the slave as its serial port and
// the test plays the device on the master, writing frames and reading what the host sent.
#pragma once
#include "host_fixture.h"
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// SOT, length, payload, checksum, EOT.
Bytes frame(const Bytes& payload);
std::string hex(const Bytes& bytes);

class LinkTest : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The device sends one framed message (or raw bytes).
  void deviceSends(const Bytes& payload);
  void deviceSendsRaw(const Bytes& bytes);
  // Everything the host has written to the line, read until the line stays quiet.
  Bytes hostSent(int quietMs = 30);

  int master_ = -1;
  int slave_ = -1;
};
