// Helpers shared by the script toolchain tests: hex renderings of byte runs.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// "03 80 ff" for the bytes, lower case, one space between pairs.
inline std::string hexOf(const uint8_t* bytes, int length) {
  std::string out;
  char pair[4];
  for (int i = 0; i < length; ++i) {
    snprintf(pair, sizeof pair, i == 0 ? "%.2x" : " %.2x", bytes[i]);
    out += pair;
  }
  return out;
}

inline std::string hexOf(const std::vector<uint8_t>& bytes) {
  return hexOf(bytes.data(), static_cast<int>(bytes.size()));
}
