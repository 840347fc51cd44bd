// Readers for benchmark measurements: wire-log frames, stamped console lines, /proc figures.
#include "bench/bench_wire.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr uint8_t START_BYTE = 0xAA;

// Reassembles one direction's frames from the bytes in the order they crossed.
struct Assembler {
  enum class State { Start, Length, Body } state = State::Start;
  WireFrame frame;
  int need = 0;

  void add(uint8_t byte, double ms, char direction, WireLog& log) {
    switch (state) {
      case State::Start:
        if (byte != START_BYTE) {
          ++log.strayBytes;
          return;
        }
        frame = WireFrame();
        frame.direction = direction;
        frame.firstMs = ms;
        frame.bytes.push_back(byte);
        state = State::Length;
        return;
      case State::Length:
        frame.bytes.push_back(byte);
        need = byte + 2;   // payload, checksum, end byte
        state = State::Body;
        return;
      case State::Body:
        frame.bytes.push_back(byte);
        if (--need == 0) {
          frame.lastMs = ms;
          log.frames.push_back(frame);
          state = State::Start;
        }
        return;
    }
  }
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

WireLog parseWireLog(const std::string& text) {
  WireLog log;
  Assembler fromDevice, fromHost;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    char* end = nullptr;
    double ms = std::strtod(line.c_str(), &end);
    size_t at = static_cast<size_t>(end - line.c_str());
    if (end == line.c_str() || at + 2 > line.size() || line[at] != ' ' ||
        (line[at + 1] != '<' && line[at + 1] != '>')) {
      ++log.badLines;
      continue;
    }
    char direction = line[at + 1];
    Assembler& assembler = direction == '<' ? fromDevice : fromHost;
    std::vector<uint8_t> bytes;
    bool good = true;
    for (size_t i = at + 2; i < line.size();) {
      if (line[i] != ' ' || i + 3 > line.size()) { good = false; break; }
      int hi = hexDigit(line[i + 1]), lo = hexDigit(line[i + 2]);
      if (hi < 0 || lo < 0) { good = false; break; }
      bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
      i += 3;
    }
    if (!good || bytes.empty()) {
      ++log.badLines;
      continue;
    }
    for (uint8_t b : bytes) assembler.add(b, ms, direction, log);
  }
  return log;
}

std::vector<StampedLine> parseStampedOutput(const std::string& output) {
  std::vector<StampedLine> lines;
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    std::string line = output.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? output.size() : end + 1;
    while (!line.empty() && line.back() == '\r') line.pop_back();
    // A prompt without a line end ("Step [1]: ") may stand before the stamp of the next
    // line: the stamp is the first "[" with spaces, digits and a point up to "] ".
    size_t open = 0, close = std::string::npos;
    double ms = 0.0;
    for (open = line.find('['); open != std::string::npos; open = line.find('[', open + 1)) {
      close = line.find("] ", open);
      if (close == std::string::npos) break;
      std::string number = line.substr(open + 1, close - open - 1);
      if (number.find('.') == std::string::npos ||
          number.find_first_not_of(" 0123456789.") != std::string::npos)
        continue;
      char* stop = nullptr;
      ms = std::strtod(number.c_str(), &stop);
      if (stop != number.c_str() && *stop == '\0') break;
    }
    if (open == std::string::npos || close == std::string::npos) continue;
    lines.push_back({ms, line.substr(close + 2)});
  }
  return lines;
}

std::vector<uint8_t> trafficLinePayload(const std::string& text) {
  std::vector<uint8_t> payload;
  size_t at;
  if (text.rfind("received: ", 0) == 0) at = 10;
  else if (text.rfind("sent: ", 0) == 0) at = 6;
  else return payload;
  if (at + 2 > text.size()) return payload;
  int hi = hexDigit(text[at]), lo = hexDigit(text[at + 1]);
  if (hi < 0 || lo < 0) return payload;
  payload.push_back(static_cast<uint8_t>(hi * 16 + lo));
  // Parameters: " <%.2x>" on received lines, " %.2x" after the name on sent lines.
  size_t nameEnd = text.find(' ', at + 3);
  for (size_t i = nameEnd; i != std::string::npos && i < text.size();) {
    size_t start = i + 1;
    if (start < text.size() && text[start] == '<') ++start;
    if (start + 2 > text.size()) break;
    hi = hexDigit(text[start]);
    lo = hexDigit(text[start + 1]);
    if (hi < 0 || lo < 0) break;
    payload.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i = text.find(' ', start);
  }
  return payload;
}

long long processCpuTicks(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  std::ifstream in(path);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name in parentheses may hold spaces; the fields count from after it.
  size_t close = all.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(all.substr(close + 2));
  std::string field;
  long long utime = -1, stime = -1;
  // Field 3 (state) is the first after the name; utime and stime are fields 14 and 15.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::atoll(field.c_str());
    if (n == 15) stime = std::atoll(field.c_str());
  }
  return utime < 0 || stime < 0 ? -1 : utime + stime;
}

long long processRunNs(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
  std::ifstream in(path);
  long long ns = -1;
  if (!(in >> ns)) return -1;
  return ns;
}

long processStatusKb(pid_t pid, const char* field) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  std::ifstream in(path);
  std::string line;
  std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}

double quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
  if (rank < 1) rank = 1;
  if (rank > values.size()) rank = values.size();
  return values[rank - 1];
}
