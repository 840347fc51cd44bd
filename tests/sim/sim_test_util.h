// Helpers for the simulator tests: frames built and split back into payloads, hex renderings,
// and the device state machine driven with frames.
#pragma once
#include "sim/device.h"
#include "sim/wire.h"
#include "link/catalogue.h"
#include "test_bytes.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// Hex payloads of the whole, valid frames at the start of bytes; what follows goes to rest.
inline Lines splitFrames(const Bytes& bytes, Bytes* rest) {
  Lines frames;
  size_t i = 0;
  for (size_t n; i + 4 <= bytes.size() && bytes[i] == SIM_SOT && i + (n = bytes[i + 1]) + 4 <= bytes.size(); i += n + 4) {
    if (bytes[i + n + 3] != SIM_EOT || simChecksum(&bytes[i + 2], static_cast<int>(n)) != bytes[i + n + 2]) break;
    frames.push_back(hex(Bytes(bytes.begin() + static_cast<long>(i + 2), bytes.begin() + static_cast<long>(i + 2 + n))));
  }
  rest->assign(bytes.begin() + static_cast<long>(i), bytes.end());
  return frames;
}

// Everything due by nowUs, taken a few bytes at a time so that frames are cut between takes.
inline Bytes takeAll(int64_t nowUs) {
  Bytes out;
  uint8_t buffer[7];
  for (int n; (n = simTakeOutput(nowUs, buffer, sizeof buffer)) > 0;) out.insert(out.end(), buffer, buffer + n);
  return out;
}

// Payloads sent up to nowUs, then a run that is no valid frame as "bad: ...". Each message
// must have its catalogue length, or the host would refuse it.
inline Lines answersAt(int64_t nowUs) {
  simAdvance(nowUs);
  Bytes rest;
  Lines lines = splitFrames(takeAll(nowUs), &rest);
  for (const std::string& f : lines) {
    const int code = std::stoi(f.substr(0, 2), nullptr, 16);
    const int length = code < MESSAGE_COUNT ? messageLength(static_cast<uint8_t>(code)) : 0;
    EXPECT_TRUE(length == VARIABLE_LENGTH || static_cast<int>(f.size() + 1) == 3 * length) << f;
  }
  if (!rest.empty()) lines.push_back("bad: " + hex(rest));
  return lines;
}

inline Lines raw(int64_t nowUs, const Bytes& bytes) {
  simReceive(nowUs, bytes.data(), static_cast<int>(bytes.size()));
  return answersAt(nowUs);
}
inline Lines command(int64_t nowUs, const Bytes& payload) { return raw(nowUs, frameOf(payload)); }
