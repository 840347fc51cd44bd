// Link benchmarks: kinestim-console against kinestim-sim --baud 9600, each a process of its
// own on the simulator's pseudo-terminal, timed with the simulator's wire log and the
// console's --timestamps (both absolute CLOCK_MONOTONIC) and /proc figures of the console.
#include "bench/bench.h"
#include "bench/bench_wire.h"
#include "process_harness.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

constexpr uint8_t CODE_UPLOAD_CHUNK = 0x0d;   // cdgSrcUldMem
constexpr uint8_t CODE_UPLOADED = 0x1f;       // mdgScrMemUlded
constexpr uint8_t CODE_TILT = 0x32;           // mdgTilt
constexpr int TILT_FRAME_SIZE = 13;           // AA 09 32, four 16-bit edge times, checksum, 55
constexpr int UPLOAD_CHUNKS = 128;
constexpr int UPLOAD_FRAME_BYTES = 23 + 8;    // a 16-byte chunk and its acknowledgement

// kinestim-console on a pseudo-terminal against kinestim-sim paced at 9600 baud.
struct Rig {
  TempDir dir;
  std::unique_ptr<Simulator> sim;
  Process console;
  std::string wireLogPath;

  bool start(const std::vector<std::string>& consoleOptions) {
    wireLogPath = dir.file("wire.log");
    sim = std::make_unique<Simulator>(dir, std::vector<std::string>{"--baud", "9600", "--wire-log", wireLogPath});
    if (!sim->ok()) {
      note("kinestim-sim did not report its port");
      return false;
    }
    std::vector<std::string> arguments = {sim->port()};
    arguments.insert(arguments.end(), consoleOptions.begin(), consoleOptions.end());
    if (!harness::startConsole(console, arguments) || !console.expect("mode: Idle\r\n", 10000)) {
      note("kinestim-console did not reach Idle:\n%s", console.output().c_str());
      return false;
    }
    note("kinestim-console is process %d", static_cast<int>(console.pid()));
    return true;
  }

  bool expect(const std::string& text, int timeoutMs = 5000) {
    if (console.expect(text, timeoutMs)) return true;
    note("no \"%s\" from kinestim-console; it printed after the last match:\n%s", text.c_str(),
         console.rest().c_str());
    return false;
  }

  // A Save As prompt answered with a file in the rig's folder.
  bool startLog(const char* command, const std::string& path) {
    console.sendLine(command);
    if (!expect("Save as: ")) return false;
    console.sendLine(path);
    return true;
  }

  // Ends both programs; the wire log is complete once the simulator has ended.
  WireLog finish() {
    console.sendLine(":quit");
    if (console.waitExit(10000) != 0) note("kinestim-console did not end cleanly");
    sim->control("quit");
    if (sim->process().waitExit(5000) != 0) note("kinestim-sim did not end cleanly");
    std::string text = harness::readFile(wireLogPath);
    // For a closer look at where the time went: KINESTIM_BENCH_KEEP=FOLDER keeps the wire
    // log and the console's output of each run there.
    if (const char* keep = std::getenv("KINESTIM_BENCH_KEEP")) {
      std::ofstream(std::string(keep) + "/wire.log", std::ios::binary) << text;
      std::ofstream(std::string(keep) + "/console.txt", std::ios::binary) << console.output();
    }
    return parseWireLog(text);
  }
};

std::vector<const WireFrame*> framesWithCode(const WireLog& log, char direction, uint8_t code) {
  std::vector<const WireFrame*> out;
  for (const WireFrame& f : log.frames)
    if (f.direction == direction && f.bytes.size() >= 5 && f.bytes[2] == code) out.push_back(&f);
  return out;
}

// The payload of a whole frame (code and parameters).
std::vector<uint8_t> payloadOf(const WireFrame& f) {
  return std::vector<uint8_t>(f.bytes.begin() + 2, f.bytes.end() - 2);
}

// A source that compiles to exactly 2048 bytes: 255 pairs of SetAllElectrodes and Delay
// (8 bytes each), then SetElectrode, Delay, NOP and Stop (3 + 3 + 1 + 1).
std::string fullMemorySource() {
  std::string text;
  char line[96];
  for (int i = 0; i < 255; ++i) {
    std::snprintf(line, sizeof line, "SetAllElectrodes %d %d %d %d\r\nDelay %d ; row %d\r\n", i, (i * 3) % 255,
                  (i * 7) % 255, 254 - i % 255, i + 1, i);
    text += line;
  }
  text += "SetElectrode 1 200\r\nDelay 3\r\nNOP\r\nStop\r\n";
  return text;
}

double cpuPercent(long long ticks, double wallMs) {
  static const long perSecond = sysconf(_SC_CLK_TCK);
  if (ticks < 0 || wallMs <= 0.0 || perSecond <= 0) return -1.0;
  return 100.0 * (static_cast<double>(ticks) / static_cast<double>(perSecond)) / (wallMs / 1000.0);
}

// The share of one core from two /proc/PID/schedstat readings.
double runPercent(long long startNs, long long endNs, double wallMs) {
  if (startNs < 0 || endNs < 0 || wallMs <= 0.0) return -1.0;
  return 100.0 * static_cast<double>(endNs - startNs) / 1e6 / wallMs;
}

}  // namespace

bool benchUpload() {
  Rig rig;
  if (!rig.start({"--timestamps"})) return false;
  std::string source = rig.dir.file("full-memory.txt");
  {
    std::ofstream f(source, std::ios::binary);
    f << fullMemorySource();
  }
  rig.console.sendLine(":script-manager");
  if (!rig.expect("script> ") || !rig.expect("mode: Program Script\r\n")) return false;
  rig.console.sendLine("address 0");
  if (!rig.expect("address: 0\r\n")) return false;
  rig.console.sendLine("upload");
  if (!rig.expect("Open: ")) return false;
  const double enterMs = monotonicNowMs();
  rig.console.sendLine(source);
  const bool uploaded = rig.expect("compiler output: Upload Successful", 60000);
  rig.console.sendLine("close");
  rig.expect("Script Manager closed.");
  const std::string output = rig.console.output();
  WireLog wire = rig.finish();
  if (!uploaded) return false;

  double successMs = -1.0;
  for (const StampedLine& line : parseStampedOutput(output))
    if (line.text == "compiler output: Upload Successful") successMs = line.ms;
  std::vector<const WireFrame*> chunks = framesWithCode(wire, '>', CODE_UPLOAD_CHUNK);
  std::vector<const WireFrame*> acks = framesWithCode(wire, '<', CODE_UPLOADED);
  long imageBytes = 0;
  for (const WireFrame* f : chunks) imageBytes += static_cast<long>(f->bytes.size()) - 7;
  if (successMs < 0 || chunks.empty() || acks.empty()) {
    note("upload: no success line or no chunks on the wire");
    return false;
  }
  const double limitMs = UPLOAD_CHUNKS * UPLOAD_FRAME_BYTES * BYTE_MS;
  const double totalMs = successMs - enterMs;
  const double wireMs = acks.back()->lastMs - chunks.front()->firstMs;
  result("upload_image_bytes", "%ld", imageBytes);
  result("upload_chunks", "%zu", chunks.size());
  result("upload_acks", "%zu", acks.size());
  result("upload_ms", "%.1f", totalMs);
  result("upload_wire_ms", "%.1f", wireMs);
  result("upload_limit_ms", "%.1f", limitMs);
  result("upload_ratio", "%.3f", totalMs / limitMs);
  // Where the time beyond the line goes. The host's share: from the last byte of an
  // acknowledgement to the next chunk on the line. The simulator's share: a chunk's cycle
  // (its first byte read to its acknowledgement's last byte written) beyond 31 byte times.
  std::vector<double> turnaround;
  double hostMs = 0.0, simulatorMs = 0.0;
  for (size_t i = 0; i < chunks.size() && i < acks.size(); ++i) {
    simulatorMs += acks[i]->lastMs - chunks[i]->firstMs - UPLOAD_FRAME_BYTES * BYTE_MS;
    if (i + 1 < chunks.size()) {
      turnaround.push_back(chunks[i + 1]->firstMs - acks[i]->lastMs);
      hostMs += turnaround.back();
    }
  }
  result("upload_host_ms", "%.1f", hostMs);
  result("upload_simulator_ms", "%.1f", simulatorMs);
  result("upload_host_turnaround_p50_ms", "%.2f", quantile(turnaround, 0.5));
  result("upload_host_turnaround_max_ms", "%.2f", quantile(turnaround, 1.0));
  return imageBytes == 2048 && chunks.size() == UPLOAD_CHUNKS;
}

namespace {

// Latencies from the last byte of each device frame with the code to the console's line
// showing it in the Received pane. The i-th line shown belongs to the i-th frame sent; a
// frame lost on the way shows as a content mismatch, so the frame is sought further on.
std::vector<double> receiveLatencies(const std::string& output, const WireLog& wire, uint8_t code,
                                     long* unmatched) {
  std::vector<const WireFrame*> sent = framesWithCode(wire, '<', code);
  std::vector<double> latencies;
  size_t next = 0;
  for (const StampedLine& line : parseStampedOutput(output)) {
    if (line.text.rfind("received: ", 0) != 0) continue;
    std::vector<uint8_t> shown = trafficLinePayload(line.text);
    if (shown.empty() || shown[0] != code) continue;
    size_t k = next;
    while (k < sent.size() && payloadOf(*sent[k]) != shown) ++k;
    if (k == sent.size()) {
      ++*unmatched;
      continue;
    }
    latencies.push_back(line.ms - sent[k]->lastMs);
    next = k + 1;
  }
  return latencies;
}

void reportLatencies(const char* prefix, const std::vector<double>& latencies, long sent, long unmatched) {
  char key[64];
  auto put = [&](const char* name, const char* format, double value) {
    std::snprintf(key, sizeof key, "%s_%s", prefix, name);
    result(key, format, value);
  };
  put("frames_sent", "%.0f", static_cast<double>(sent));
  put("frames_shown", "%.0f", static_cast<double>(latencies.size()));
  put("unmatched_lines", "%.0f", static_cast<double>(unmatched));
  put("min_ms", "%.2f", quantile(latencies, 0.0));
  put("p50_ms", "%.2f", quantile(latencies, 0.5));
  put("p99_ms", "%.2f", quantile(latencies, 0.99));
  put("max_ms", "%.2f", quantile(latencies, 1.0));
}

// Waits until the console has shown count more lines holding text, up to deadline.
int waitForShown(Rig& rig, const std::string& text, int count, long long deadline) {
  int seen = 0;
  while (seen < count) {
    long long left = deadline - harness::nowMs();
    if (left <= 0 || !rig.console.expect(text, static_cast<int>(left))) break;
    ++seen;
  }
  return seen;
}

}  // namespace

// Two runs on one connection. Tilt: the device's own tilt loop, one 13-byte mdgTilt every
// 25 ms. Short: 6-byte mdgCmdAccepted frames put on the line at irregular moments (26 to
// 60 ms apart), so that their arrival falls on every phase of the host's 25 ms tick.
bool benchLatency(int frames) {
  Rig rig;
  if (!rig.start({"--timestamps", "--expanded"})) return false;
  rig.console.sendLine(":tilt-loop");
  if (!rig.expect("Count (16-bit) [10]: ")) return false;
  rig.console.sendLine(std::to_string(frames));
  if (!rig.expect("Step [1]: ")) return false;
  rig.console.sendLine("1");
  const int tiltShown =
      waitForShown(rig, "received: 32 mdgTilt", frames, harness::nowMs() + frames * 50LL + 10000);
  rig.console.settle(200);

  uint32_t random = 2024;
  for (int i = 0; i < frames; ++i) {
    random = random * 1664525u + 1013904223u;
    rig.console.settle(26 + static_cast<int>((random >> 16) % 35));
    char line[64];
    std::snprintf(line, sizeof line, "garbage aa 02 00 %.2x %.2x 55", i & 0xFF, i & 0xFF);
    rig.sim->control(line);
  }
  const int shortShown = waitForShown(rig, "received: 00 mdgCmdAccepted", frames, harness::nowMs() + 10000);
  rig.console.settle(200);
  const std::string output = rig.console.output();
  WireLog wire = rig.finish();

  long unmatched = 0;
  std::vector<double> tilt = receiveLatencies(output, wire, CODE_TILT, &unmatched);
  reportLatencies("latency", tilt, static_cast<long>(framesWithCode(wire, '<', CODE_TILT).size()), unmatched);
  unmatched = 0;
  std::vector<double> shortFrames = receiveLatencies(output, wire, 0x00, &unmatched);
  reportLatencies("latency_short", shortFrames, static_cast<long>(framesWithCode(wire, '<', 0x00).size()),
                  unmatched);
  return tiltShown == frames && shortShown == frames && !tilt.empty() && !shortFrames.empty();
}

bool benchStream(int seconds) {
  Rig rig;
  if (!rig.start({"--timestamps", "--expanded"})) return false;
  // Calibrated first, as an operator would, so readings are converted against calibration.
  rig.console.sendLine(":calibrate");
  if (!rig.sim->waitForCount("> 1d cdgCalibrate", 12, 10000)) {
    note("stream: the calibration run did not finish");
    return false;
  }
  rig.console.settle(300);
  rig.console.sendLine(":read-tilt");
  if (!rig.expect("received: 32 mdgTilt") || !rig.expect("\r\n")) return false;
  std::vector<uint8_t> reading;
  for (const StampedLine& line : parseStampedOutput(rig.console.output())) {
    std::vector<uint8_t> p = trafficLinePayload(line.text);
    if (p.size() == 9 && p[0] == CODE_TILT) reading = p;
  }
  if (reading.size() != 9) {
    note("stream: no tilt reading to model the stream on");
    return false;
  }
  // The edge offsets of the real reading, replayed from moving start times so that each
  // streamed frame differs from its neighbours while the angles stay the same.
  int offsets[4];
  for (int k = 0; k < 4; ++k)
    offsets[k] = (reading[1 + 2 * k] | (reading[2 + 2 * k] << 8)) - (reading[1] | (reading[2] << 8));
  int span = std::max({offsets[1], offsets[2], offsets[3]});

  const std::string dataLog = rig.dir.file("data.log");
  const std::string trafficLog = rig.dir.file("traffic.log");
  if (!rig.startLog(":data-log", dataLog) || !rig.startLog(":log", trafficLog)) return false;
  rig.console.settle(300);

  const double frameMs = TILT_FRAME_SIZE * BYTE_MS;
  const int total = static_cast<int>(seconds * 1000.0 / frameMs);
  const int framesPerLine = 19;   // 247 bytes: one control line carries at most 256
  const int backlog = 40;         // frames kept queued ahead of the line (about 0.5 s)
  const pid_t pid = rig.console.pid();
  const long long cpuStart = processCpuTicks(pid);
  const long long runStart = processRunNs(pid);
  const double startMs = monotonicNowMs();
  int queued = 0;
  int shown = 0;
  while (shown < total) {
    const double now = monotonicNowMs();
    if (now - startMs > seconds * 1000.0 + 15000.0) break;
    int target = std::min(total, static_cast<int>((now - startMs) / frameMs) + backlog);
    while (queued < target) {
      std::string line = "garbage";
      for (int n = 0; n < framesPerLine && queued < total; ++n, ++queued) {
        const int base = (queued * 37) % (65535 - span);
        uint8_t frame[TILT_FRAME_SIZE] = {0xAA, 9, CODE_TILT};
        for (int k = 0; k < 4; ++k) {
          const int edge = base + offsets[k];
          frame[3 + 2 * k] = static_cast<uint8_t>(edge & 0xFF);
          frame[4 + 2 * k] = static_cast<uint8_t>(edge >> 8);
        }
        unsigned sum = 0;
        for (int i = 2; i < 11; ++i) sum += frame[i];
        frame[11] = static_cast<uint8_t>(sum & 0xFF);
        frame[12] = 0x55;
        char hex[4];
        for (uint8_t b : frame) {
          std::snprintf(hex, sizeof hex, " %.2x", b);
          line += hex;
        }
      }
      rig.sim->control(line);
    }
    if (rig.console.expect("received: 32 mdgTilt", 20)) ++shown;
  }
  const double endMs = monotonicNowMs();
  const long long cpuEnd = processCpuTicks(pid);
  const long long runEnd = processRunNs(pid);
  const long rssKb = processStatusKb(pid, "VmRSS");
  const long peakKb = processStatusKb(pid, "VmHWM");
  rig.console.sendLine(":stop-data-log");
  rig.console.sendLine(":stop-log");
  rig.console.settle(500);
  WireLog wire = rig.finish();

  long sent = 0;
  for (const WireFrame* f : framesWithCode(wire, '<', CODE_TILT))
    if (f->firstMs >= startMs) ++sent;
  long handled = static_cast<long>(harness::readLines(dataLog).size());
  long logged = 0;
  for (const std::string& line : harness::readLines(trafficLog))
    if (line.find("\t\t\t32 mdgTilt") != std::string::npos) ++logged;
  const double wallMs = endMs - startMs;
  result("stream_seconds", "%.1f", wallMs / 1000.0);
  result("stream_frames_injected", "%d", queued);
  result("stream_frames_sent", "%ld", sent);
  result("stream_frames_handled", "%ld", handled);
  result("stream_frames_traffic_logged", "%ld", logged);
  result("stream_frames_per_second", "%.1f", sent / (wallMs / 1000.0));
  result("stream_handled_ratio", "%.3f", sent > 0 ? static_cast<double>(handled) / static_cast<double>(sent) : 0.0);
  result("stream_cpu_percent", "%.2f", cpuPercent(cpuEnd - cpuStart, wallMs));
  result("stream_cpu_exact_percent", "%.2f", runPercent(runStart, runEnd, wallMs));
  result("stream_rss_kb", "%ld", rssKb);
  result("stream_peak_rss_kb", "%ld", peakKb);
  return sent > 0;
}

bool benchIdle(int seconds) {
  Rig rig;
  if (!rig.start({"--timestamps"})) return false;
  rig.console.settle(2000);
  const pid_t pid = rig.console.pid();
  const long long cpuStart = processCpuTicks(pid);
  const long long runStart = processRunNs(pid);
  const double startMs = monotonicNowMs();
  rig.console.settle(seconds * 1000);
  const double wallMs = monotonicNowMs() - startMs;
  const long long cpuEnd = processCpuTicks(pid);
  const long long runEnd = processRunNs(pid);
  const long rssKb = processStatusKb(pid, "VmRSS");
  WireLog wire = rig.finish();
  result("idle_seconds", "%.1f", wallMs / 1000.0);
  result("idle_cpu_ticks", "%lld", cpuEnd - cpuStart);
  result("idle_cpu_percent", "%.3f", cpuPercent(cpuEnd - cpuStart, wallMs));
  result("idle_cpu_exact_percent", "%.3f", runPercent(runStart, runEnd, wallMs));
  result("idle_rss_kb", "%ld", rssKb);
  return cpuStart >= 0 && cpuEnd >= 0;
}
