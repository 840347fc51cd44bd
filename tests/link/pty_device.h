// A pseudo-terminal pair for tests: the test plays the device on the master while the
// program opens the slave's path as its serial port.
#pragma once
#include "test_bytes.h"
#include <string>

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
