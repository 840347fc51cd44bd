// Soak run (scripts/soak.sh): kinestim-console against kinestim-sim at 9600 baud for ten
// minutes, with a tilt loop of 20,000 readings, both logs open, a mix of operator commands
// and injected line faults. Checks that no message was lost (the simulator's transcript
// against the traffic log), that resident memory stays put and that the only warnings are
// the injected ones; prints the figures.
//   soak [SECONDS] [READINGS]     defaults 600 and 20000
#include "bench/bench_wire.h"
#include "process_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

// The Received or Sent pane line the host makes of a transcript frame "<hex bytes> <name>".
std::string traceLineOf(const std::string& frame, char direction) {
  std::vector<std::string> words;
  std::istringstream in(frame);
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 2) return frame;
  std::string line = words[0] + " " + words.back();
  for (size_t i = 1; i + 1 < words.size(); ++i)
    line += direction == '<' ? " <" + words[i] + ">" : " " + words[i];
  return line;
}

// Resident set of a process in kB, -1 when it cannot be read.
long residentKb(pid_t pid) { return processStatusKb(pid, "VmRSS"); }

int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

struct Soak {
  TempDir dir;
  std::unique_ptr<Simulator> sim;
  Process console;
  int failures = 0;
  int injectedWarnings = 0;
  int injectedStrayBytes = 0;
  std::map<std::string, int> actions;

  void fail(const std::string& what) {
    ++failures;
    std::fprintf(stderr, "soak: %s\n", what.c_str());
    std::string out = console.output();
    std::fprintf(stderr, "--- last console output ---\n%s\n---\n",
                 out.substr(out.size() > 1500 ? out.size() - 1500 : 0).c_str());
  }
  bool expect(const std::string& text, int ms = 5000) {
    if (console.expect(text, ms)) return true;
    fail("did not see: " + text);
    return false;
  }
  // Answers a Warning box that an injected fault opens.
  bool dismissWarning(const std::string& text) {
    if (!expect("Warning: " + text, 5000) || !expect("(press Enter) ")) return false;
    console.sendLine("");
    ++injectedWarnings;
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
  const int readings = argc > 2 ? std::atoi(argv[2]) : 20000;
  if (seconds < 10 || readings < 1 || readings > 65535) {
    std::fprintf(stderr, "usage: soak [SECONDS >= 10] [READINGS 1 to 65535]\n");
    return 2;
  }
  Soak s;
  s.sim = std::make_unique<Simulator>(s.dir, std::vector<std::string>{"--baud", "9600", "--noise", "3", "--seed", "7"});
  if (!s.sim->ok() || !harness::startConsole(s.console, {s.sim->port()})) {
    std::fprintf(stderr, "soak: cannot start kinestim-sim and kinestim-console\n");
    return 1;
  }
  if (!s.expect("mode: Idle\r\n")) return 1;
  const long long start = harness::nowMs();
  const std::string traffic = s.dir.file("traffic.log"), data = s.dir.file("data.log");

  // Both logs first, so that every later frame must appear in the traffic log.
  s.console.sendLine(":log");
  if (!s.expect("Save as: ")) return 1;
  s.console.sendLine(traffic);
  s.console.sendLine(":data-log");
  if (!s.expect("Save as: ")) return 1;
  s.console.sendLine(data);
  s.console.sendLine(":calibrate");
  if (!s.sim->waitForCount("> 1d cdgCalibrate", 12, 10000)) {
    s.fail("the calibration run did not send its 12 requests");
    return 1;
  }
  s.console.settle(1000);
  s.console.sendLine(":tilt-loop");
  if (!s.expect("Count (16-bit) [10]: ")) return 1;
  s.console.sendLine(std::to_string(readings));
  if (!s.expect("Step [1]: ")) return 1;
  s.console.sendLine("1");
  s.console.settle(30000);
  const long baselineKb = residentKb(s.console.pid());
  long peakKb = baselineKb;

  // The mix: one action every 400 ms until the time is up.
  int step = 0;
  bool direct = false;
  while (harness::nowMs() - start < static_cast<long long>(seconds) * 1000 && s.failures == 0) {
    switch (step++ % 16) {
      case 0: s.console.sendLine("8"); s.actions["Dld Mode"]++; break;
      case 1: s.console.sendLine("11"); s.actions["Dld All Electrodes"]++; break;
      case 2: s.console.sendLine("28"); s.actions["Dld Tilt"]++; break;
      case 3: {
        char line[32];
        std::snprintf(line, sizeof line, "tilt %d %d", (step * 7) % 41 - 20, (step * 11) % 31 - 15);
        s.sim->control(line);
        s.actions["tilt moved"]++;
        break;
      }
      case 4: s.console.sendLine(direct ? "3" : "2"); direct = !direct; s.actions["Direct mode in/out"]++; break;
      case 5:
        if (direct) {
          s.console.sendLine(":slider " + std::to_string(1 + step % 4) + " " + std::to_string((step * 37) % 256));
          s.actions["slider"]++;
        }
        break;
      case 6: s.console.sendLine(":local"); s.actions["Local Control box"]++; break;
      case 7: s.sim->control("knob " + std::to_string(1 + step % 4) + " " + std::to_string((step * 13) % 256)); s.actions["knob"]++; break;
      case 8: s.console.sendLine("25"); s.actions["Dld Fault Status"]++; break;
      case 9:
        s.sim->control("garbage 13 27");
        s.injectedStrayBytes += 2;
        s.actions["stray bytes injected"]++;
        break;
      case 10:
        s.console.sendLine("27");   // Dld RAM: address and count
        if (!s.expect("Address (16-bit) [0]: ")) break;
        s.console.sendLine("0");
        if (!s.expect("Count [16]: ")) break;
        s.console.sendLine("16");
        s.actions["Dld RAM"]++;
        break;
      case 11: s.console.sendLine("17"); s.actions["Dld Armed"]++; break;
      case 12: s.sim->control("stall-next 300"); s.actions["short stall injected"]++; break;
      case 13:
        if (step % 64 == 14) {
          // A damaged frame: its Warning is the one expected box. Something must come to
          // carry the damage, so ask for the mode as well.
          s.sim->control("corrupt-next");
          s.console.sendLine("8");
          s.dismissWarning("Packet tossed for invalid checksum");
          s.actions["damaged frame injected"]++;
        }
        break;
      default: break;
    }
    s.console.settle(400);
    long kb = residentKb(s.console.pid());
    if (kb > peakKb) peakKb = kb;
  }
  if (direct) s.console.sendLine("3");

  // Wait for the loop's last reading, then close the logs and both programs.
  long long deadline = harness::nowMs() + 600000;
  int tilts = -1;
  for (;;) {
    s.console.settle(2000);
    int now = 0;
    for (const std::string& f : s.sim->frames('<'))
      if (f.rfind("32 ", 0) == 0) ++now;
    if (now == tilts || harness::nowMs() > deadline) break;
    tilts = now;
  }
  const long endKb = residentKb(s.console.pid());
  s.console.sendLine(":stop-data-log");
  s.console.sendLine(":stop-log");
  s.console.settle(500);
  s.console.sendLine(":quit");
  const int exitStatus = s.console.waitExit(10000);
  s.sim->control("quit");
  s.sim->process().waitExit(5000);
  const double minutes = static_cast<double>(harness::nowMs() - start) / 60000.0;

  // Every good frame in each direction, in order, against the traffic log. The log started
  // after power-on, so the transcript may hold a few frames before it.
  std::vector<std::string> transcript[2], logged[2];
  for (const std::string& f : s.sim->frames()) {
    if (f.find("(bad frame)") != std::string::npos) continue;
    const int k = f[0] == '<' ? 0 : 1;
    transcript[k].push_back(traceLineOf(f.substr(2), f[0]));
  }
  const std::regex form(R"(^[0-9]{2}\t[0-9]{2}\t[0-9]{2}\.[0-9]{3} (\t\t\t|\t)(.*)\r$)");
  int malformed = 0;
  for (const std::string& line : harness::readLines(traffic)) {
    std::smatch m;
    if (!std::regex_match(line, m, form)) { ++malformed; continue; }
    logged[m[1].length() == 3 ? 0 : 1].push_back(m[2].str());
  }
  int lost[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const size_t before = transcript[k].size() >= logged[k].size() ? transcript[k].size() - logged[k].size() : 0;
    const bool suffix = transcript[k].size() >= logged[k].size() &&
                        std::equal(logged[k].begin(), logged[k].end(), transcript[k].begin() + static_cast<long>(before));
    // Frames before the log started: the power-on pair (received) and nothing sent.
    lost[k] = suffix ? static_cast<int>(before) - (k == 0 ? 2 : 0) : -1;
  }
  const std::vector<std::string> dataLines = harness::readLines(data);
  const std::string& out = s.console.output();
  const int warnings = occurrences(out, "Warning: ");
  const int strayReports = occurrences(out, "Packet tossed for invalid SOT character");
  // Readings lost to an injected damage still count as sent by the loop.
  int damagedTilts = 0;
  for (const std::string& f : s.sim->frames('<'))
    if (f.rfind("aa 09 32 ", 0) == 0) ++damagedTilts;
  const int dldTilts = s.actions["Dld Tilt"];
  const int loopTilts = tilts + damagedTilts - dldTilts;

  std::printf("soak: %.1f minutes, tilt loop of %d readings, %d actions\n", minutes, readings, step);
  for (const auto& [name, count] : s.actions) std::printf("  %-24s %6d\n", name.c_str(), count);
  std::printf("messages received %zu, commands sent %zu (traffic log %zu and %zu lines, %d malformed)\n",
              transcript[0].size(), transcript[1].size(), logged[0].size(), logged[1].size(), malformed);
  std::printf("lost: received %d, sent %d\n", lost[0], lost[1]);
  std::printf("tilt readings %d (loop %d, asked %d), data log lines %zu\n", tilts, loopTilts, dldTilts, dataLines.size());
  std::printf("resident memory: %ld kB after warm-up, peak %ld kB, end %ld kB, growth %ld kB\n", baselineKb,
              peakKb, endKb, peakKb - baselineKb);
  std::printf("warnings %d (injected %d), stray-byte notices %d (injected %d), exit status %d\n", warnings,
              s.injectedWarnings, strayReports, s.injectedStrayBytes, exitStatus);

  bool ok = s.failures == 0;
  auto check = [&ok](bool condition, const char* what) {
    if (!condition) {
      std::printf("FAILED: %s\n", what);
      ok = false;
    }
  };
  check(lost[0] == 0 && lost[1] == 0, "every frame in both directions is in the traffic log");
  check(malformed == 0, "every traffic log line is whole");
  check(loopTilts == readings, "the tilt loop delivered all its readings");
  check(static_cast<int>(dataLines.size()) == tilts, "one data log line per tilt reading");
  check(peakKb - baselineKb < 1024, "resident memory grows by less than 1 MB");
  check(warnings == s.injectedWarnings, "no warnings but the injected ones");
  check(strayReports == s.injectedStrayBytes, "one notice per injected stray byte");
  check(out.find("Fatal Error!") == std::string::npos && exitStatus == 0, "the host ends normally");
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}
