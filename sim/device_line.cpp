// The simulated device's line: the transcript, frames sent with the line faults that the
// control channel set up, and received bytes assembled into frames and checked.
#include "sim/device_state.h"
#include <cstring>

namespace simdev {

void logEvent(int64_t timeUs, char direction, bool bad, const uint8_t* bytes, int count) {
  SimFrameEvent event;
  event.timeUs = timeUs;
  event.direction = direction;
  event.bad = bad;
  if (count > static_cast<int>(sizeof event.bytes)) count = static_cast<int>(sizeof event.bytes);
  event.count = count;
  std::memcpy(event.bytes, bytes, static_cast<size_t>(count));
  device.events.push_back(event);
}

void queueBytes(int64_t timeUs, const uint8_t* bytes, int count) {
  int64_t release = timeUs > device.lastReleaseUs ? timeUs : device.lastReleaseUs;
  if (device.stallNextMs > 0 && count > 1) {
    const int first = count / 2;
    device.out.push_back({release, std::vector<uint8_t>(bytes, bytes + first)});
    release += static_cast<int64_t>(device.stallNextMs) * 1000;
    device.out.push_back({release, std::vector<uint8_t>(bytes + first, bytes + count)});
    device.stallNextMs = 0;
  } else {
    device.out.push_back({release, std::vector<uint8_t>(bytes, bytes + count)});
  }
  device.lastReleaseUs = release;
}

// Sends one message, applying the line faults that the control channel has set up.
void send(int64_t timeUs, const uint8_t* payload, int length) {
  if (device.silent) return;
  if (device.dropNext) { device.dropNext = false; return; }
  uint8_t frame[SIM_MAX_FRAME];
  const int size = simBuildFrame(payload, length, frame);
  if (size == 0) return;
  if (device.corruptNext) {
    device.corruptNext = false;
    switch (device.corruption) {
      case SimCorruption::Checksum: frame[size - 2] ^= 0xFF; break;
      case SimCorruption::EndByte: frame[size - 1] = 0x54; break;
      case SimCorruption::StartByte: frame[0] = 0xAB; break;
    }
    logEvent(timeUs, '<', true, frame, size);
  } else {
    logEvent(timeUs, '<', false, payload, length);
  }
  queueBytes(timeUs, frame, size);
}

void send1(int64_t t, uint8_t code) { send(t, &code, 1); }
void send2(int64_t t, uint8_t code, uint8_t p0) { const uint8_t m[2] = {code, p0}; send(t, m, 2); }
void send3(int64_t t, uint8_t code, uint8_t p0, uint8_t p1) { const uint8_t m[3] = {code, p0, p1}; send(t, m, 3); }
void sendAddress(int64_t t, uint8_t code, int address) { send3(t, code, low(address), high(address)); }

void rejectFrame(int64_t t, uint8_t message) {
  logEvent(t, '>', true, device.rxBuffer, device.rxCount);
  device.rx = RxState::WaitStart;
  device.rxCount = 0;
  send1(t, message);
}

void frameComplete(int64_t t) {
  const int length = device.rxBuffer[1];
  if (device.rxBuffer[length + 3] != SIM_EOT) { rejectFrame(t, mdgCmdRejectedEOCNotPresent); return; }
  if (simChecksum(device.rxBuffer + 2, length) != device.rxBuffer[length + 2]) { rejectFrame(t, mdgCmdRejectedChecksum); return; }
  if (length == 0) { rejectFrame(t, mdgCmdRejectedLengthBad); return; }
  uint8_t payload[SIM_MAX_PAYLOAD];
  std::memcpy(payload, device.rxBuffer + 2, static_cast<size_t>(length));
  device.rx = RxState::WaitStart;
  device.rxCount = 0;
  logEvent(t, '>', false, payload, length);
  handleCommand(t, payload, length);
}

void receiveByte(int64_t t, uint8_t b) {
  const bool quietGap = t - device.rxLastUs >= SIM_RX_TIMEOUT_US;
  device.rxLastUs = t;
  switch (device.rx) {
    case RxState::WaitStart:
      if (b == SIM_SOT) {
        device.strayRun = false;
        device.rxBuffer[0] = b;
        device.rxCount = 1;
        device.rx = RxState::WaitLength;
        return;
      }
      logEvent(t, '>', true, &b, 1);
      if (!device.strayRun || quietGap) send1(t, mdgExpectedSOC);
      device.strayRun = true;
      return;
    case RxState::WaitLength:
      device.rxBuffer[1] = b;
      device.rxCount = 2;
      device.rxNeed = b + 4;
      device.rx = RxState::Body;
      return;
    case RxState::Body:
      device.rxBuffer[device.rxCount++] = b;
      if (device.rxCount == device.rxNeed) frameComplete(t);
      return;
  }
}

int64_t rxTimeoutDue() {
  return device.rx == RxState::WaitStart ? SIM_NEVER : device.rxLastUs + SIM_RX_TIMEOUT_US;
}


}  // namespace simdev
