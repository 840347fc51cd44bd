// Helpers for the simulator's unit tests: drive the device state machine with command frames
// and collect the messages it sends, split back into payloads.
#pragma once
#include "sim/device.h"
#include "sim/wire.h"
#include "protocol/catalogue.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes frameOf(const Bytes& payload) {
  uint8_t frame[SIM_MAX_FRAME];
  const int n = simBuildFrame(payload.data(), static_cast<int>(payload.size()), frame);
  return Bytes(frame, frame + n);
}

// Payloads of the whole frames in bytes; a byte run that is not a valid frame ends the scan
// and is returned as one entry prefixed with "bad:" by hex() below, so tests see it.
inline std::vector<Bytes> splitFrames(const Bytes& bytes, Bytes* rest = nullptr) {
  std::vector<Bytes> frames;
  size_t i = 0;
  while (i + 4 <= bytes.size() && bytes[i] == SIM_SOT) {
    const size_t length = bytes[i + 1];
    if (i + length + 4 > bytes.size()) break;
    Bytes payload(bytes.begin() + static_cast<long>(i + 2), bytes.begin() + static_cast<long>(i + 2 + length));
    if (bytes[i + length + 3] != SIM_EOT || simChecksum(payload.data(), static_cast<int>(length)) != bytes[i + length + 2]) break;
    frames.push_back(payload);
    i += length + 4;
  }
  if (rest != nullptr) rest->assign(bytes.begin() + static_cast<long>(i), bytes.end());
  return frames;
}

inline std::string hex(const Bytes& bytes) {
  std::string s;
  char pair[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%.2x" : " %.2x", bytes[i]);
    s += pair;
  }
  return s;
}

// All output ready at nowUs.
inline Bytes takeAll(int64_t nowUs) {
  Bytes out;
  uint8_t buffer[600];
  for (;;) {
    const int n = simTakeOutput(nowUs, buffer, sizeof buffer);
    if (n <= 0) return out;
    out.insert(out.end(), buffer, buffer + n);
  }
}

// Payloads sent up to nowUs, each as a hex string, in order. Every message must have the
// length its code has in the catalogue, or the host would refuse it.
inline std::vector<std::string> answersAt(int64_t nowUs) {
  simAdvance(nowUs);
  Bytes rest;
  std::vector<std::string> lines;
  for (const Bytes& f : splitFrames(takeAll(nowUs), &rest)) {
    EXPECT_LT(f[0], MESSAGE_COUNT) << hex(f);
    const int length = messageLength(f[0]);
    if (length != VARIABLE_LENGTH) { EXPECT_EQ(static_cast<int>(f.size()), length) << hex(f); }
    lines.push_back(hex(f));
  }
  if (!rest.empty()) lines.push_back("bad: " + hex(rest));
  return lines;
}

// Sends one command frame at nowUs and returns what the device answered at that moment.
inline std::vector<std::string> command(int64_t nowUs, const Bytes& payload) {
  const Bytes frame = frameOf(payload);
  simReceive(nowUs, frame.data(), static_cast<int>(frame.size()));
  return answersAt(nowUs);
}

inline std::vector<std::string> raw(int64_t nowUs, const Bytes& bytes) {
  simReceive(nowUs, bytes.data(), static_cast<int>(bytes.size()));
  return answersAt(nowUs);
}

// Payloads with their send times, from the transcript events (device side only).
struct Timed { int64_t timeUs; std::string payload; };
inline std::vector<Timed> sentEvents() {
  std::vector<Timed> out;
  SimFrameEvent e;
  while (simTakeFrameEvent(e)) {
    if (e.direction == '<') out.push_back({e.timeUs, hex(Bytes(e.bytes, e.bytes + e.count))});
  }
  return out;
}

using Lines = std::vector<std::string>;
