// The device's end of a pseudo-terminal pair for link tests: the test writes and reads
// bytes on the master while the program under test opens the slave path.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct PtyDevice {
  int master = -1;
  int slave = -1;  // held open so the pair stays usable while the program re-opens it
  std::string path;

  // Creates the pair; false (with errno) when no pseudo-terminal is available.
  bool create();
  void send(const Bytes& bytes) const;
  // Sends and waits (up to 2 s) until the bytes are readable on the slave side, for tests
  // that time the program's reads.
  void sendAndSettle(const Bytes& bytes) const;
  // Reads until count bytes have come or timeoutMs has passed; returns what came.
  Bytes receive(size_t count, int timeoutMs = 2000) const;
  // Everything that arrives within quietMs of the previous byte.
  Bytes drain(int quietMs = 100) const;
  void closeMaster();
  void closeAll();
  ~PtyDevice() { closeAll(); }
};

std::string hex(const Bytes& bytes);
