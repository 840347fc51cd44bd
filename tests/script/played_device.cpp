// The device's end of a pseudo-terminal pair, played by a test thread.
#include "played_device.h"
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

std::string hexBytes(const Bytes& bytes) {
  std::string out;
  char pair[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    snprintf(pair, sizeof pair, i == 0 ? "%.2x" : " %.2x", bytes[i]);
    out += pair;
  }
  return out;
}

bool PlayedDevice::start() {
  char name[128];
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return false;
  termios raw{};
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);
  path_ = name;
  started_ = std::chrono::steady_clock::now();
  running_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void PlayedDevice::stop() {
  if (running_.exchange(false)) thread_.join();
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  master_ = slave_ = -1;
}

void PlayedDevice::setUploadAnswer(const Bytes& payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  uploadAnswer_ = payload;
}

void PlayedDevice::setMemory(int address, const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < bytes.size() && address + i < sizeof memory_; ++i) memory_[address + i] = bytes[i];
}

Bytes PlayedDevice::memory(int address, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Bytes(memory_ + address, memory_ + address + count);
}

void PlayedDevice::writeFrame(const Bytes& payload) {
  Bytes frame = {0xAA, static_cast<uint8_t>(payload.size())};
  uint8_t sum = 0;
  for (uint8_t b : payload) {
    frame.push_back(b);
    sum = static_cast<uint8_t>(sum + b);
  }
  frame.push_back(sum);
  frame.push_back(0x55);
  size_t done = 0;
  while (done < frame.size()) {
    ssize_t n = write(master_, frame.data() + done, frame.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void PlayedDevice::send(const Bytes& payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeFrame(payload);
}

std::vector<HostFrame> PlayedDevice::frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

bool PlayedDevice::waitForFrames(size_t count, int timeoutMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    if (frames().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return frames().size() >= count;
}

// Answers one complete frame from the host, as the device in Program Script mode would.
void PlayedDevice::answer(const Bytes& payload) {
  if (silent_ || payload.empty()) return;
  if (ackDelayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ackDelayMs_.load()));
  std::lock_guard<std::mutex> lock(mutex_);
  uint8_t code = payload[0];
  if (code == 0x0d && payload.size() >= 3) {
    if (!uploadAnswer_.empty()) {
      writeFrame(uploadAnswer_);
      return;
    }
    int address = payload[1] | (payload[2] << 8);
    for (size_t i = 3; i < payload.size() && address + i - 3 < sizeof memory_; ++i)
      memory_[address + i - 3] = payload[i];
    writeFrame({0x1f, payload[1], payload[2], static_cast<uint8_t>(payload.size() - 3)});
    ++answersSent_;
  } else if (code == 0x0e && payload.size() == 4) {
    int address = payload[1] | (payload[2] << 8);
    if (address >= static_cast<int>(sizeof memory_)) {
      writeFrame({0x22, 0x0e, payload[1], payload[2]});
      return;
    }
    Bytes reply = {0x21, payload[1], payload[2]};
    for (int i = 0; i < payload[3] && i < answerBytes_ && address + i < static_cast<int>(sizeof memory_); ++i)
      reply.push_back(memory_[address + i]);
    writeFrame(reply);
  } else if (code == 0x0c) {
    for (uint8_t& b : memory_) b = 0;
    writeFrame({0x1e});
  }
}

void PlayedDevice::run() {
  Bytes pending;
  while (running_) {
    pollfd wanted{master_, POLLIN, 0};
    if (poll(&wanted, 1, 10) <= 0) continue;
    uint8_t buffer[256];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    pending.insert(pending.end(), buffer, buffer + n);
    // Take every whole frame: AA, L, L payload bytes, checksum, 55.
    for (;;) {
      while (!pending.empty() && pending[0] != 0xAA) pending.erase(pending.begin());
      if (pending.size() < 2 || pending.size() < static_cast<size_t>(pending[1]) + 4) break;
      size_t length = pending[1];
      Bytes payload(pending.begin() + 2, pending.begin() + 2 + static_cast<long>(length));
      uint8_t sum = 0;
      for (uint8_t b : payload) sum = static_cast<uint8_t>(sum + b);
      bool good = pending[2 + length] == sum && pending[3 + length] == 0x55;
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(length) + 4);
      double atMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back({payload, atMs, answersSent_, good});
      }
      if (good) answer(payload);
    }
  }
}
