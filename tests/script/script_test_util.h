// Helpers shared by the script toolchain tests: hex renderings of byte runs.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// "03 80 ff" for the bytes, lower case, the separator between pairs.
inline std::string hexOf(const uint8_t* bytes, int length, const char* separator = " ") {
  std::string out;
  char pair[4];
  for (int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%.2x", bytes[i]);
    if (i > 0) out += separator;
    out += pair;
  }
  return out;
}

inline std::string hexOf(const std::vector<uint8_t>& bytes, const char* separator = " ") {
  return hexOf(bytes.data(), static_cast<int>(bytes.size()), separator);
}
