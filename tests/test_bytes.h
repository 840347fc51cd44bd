// Byte helpers shared by the test suites: frames built here, independently of the framing code
// under test, and byte runs rendered as lower-case hex pairs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "03 80 ff": one pair per byte, `separator` between pairs.
inline std::string hex(const uint8_t* bytes, size_t count, const char* separator = " ") {
  std::string out;
  char pair[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%.2x", bytes[i]);
    if (i > 0) out += separator;
    out += pair;
  }
  return out;
}
inline std::string hex(const Bytes& b, const char* separator = " ") { return hex(b.data(), b.size(), separator); }

// SOT, length, payload, byte sum, EOT.
inline Bytes frameOf(const Bytes& payload) {
  unsigned sum = 0;
  for (uint8_t b : payload) sum += b;
  const Bytes head = {0xAA, static_cast<uint8_t>(payload.size())};
  return head + payload + Bytes{static_cast<uint8_t>(sum % 256), 0x55};
}
