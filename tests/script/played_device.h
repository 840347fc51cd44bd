// The device's end of a pseudo-terminal pair, played by a test thread that answers uploads,
// read-back requests and Clear Mem, with switches for silence, rejections and extra messages.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct HostFrame {
  Bytes payload;
  double atMs;      // since the device started
  int answersBefore;  // upload acknowledgements sent before this frame arrived
  bool good;          // checksum and end byte right
};

class PlayedDevice {
 public:
  ~PlayedDevice() { stop(); }
  // Creates the pair and starts the device thread; false when no pseudo-terminal exists.
  bool start();
  void stop();
  const std::string& path() const { return path_; }

  // Behaviour switches (safe to change while running).
  void setSilent(bool silent) { silent_ = silent; }
  // Answer every upload chunk with this payload instead of mdgScrMemUlded.
  void setUploadAnswer(const Bytes& payload);
  void setAckDelayMs(int ms) { ackDelayMs_ = ms; }
  // Read-back answers carry at most this many memory bytes (5 normally).
  void setAnswerBytes(int count) { answerBytes_ = count; }
  void setMemory(int address, const Bytes& bytes);
  Bytes memory(int address, int count);

  // Frames the payload and writes it to the host now.
  void send(const Bytes& payload);
  std::vector<HostFrame> frames();
  // Waits until at least count frames have arrived; false when timeoutMs passed first.
  bool waitForFrames(size_t count, int timeoutMs);

 private:
  void run();
  void answer(const Bytes& payload);
  void writeFrame(const Bytes& payload);

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> silent_{false};
  std::atomic<int> ackDelayMs_{0};
  std::atomic<int> answerBytes_{5};
  std::mutex mutex_;
  Bytes uploadAnswer_;
  uint8_t memory_[2048] = {};
  std::vector<HostFrame> frames_;
  int answersSent_ = 0;
  std::chrono::steady_clock::time_point started_;
};

std::string hexBytes(const Bytes& bytes);
