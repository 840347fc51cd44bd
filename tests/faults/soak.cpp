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

namespace {

using harness::Step;

const std::string DAMAGED = "Warning: Packet tossed for invalid checksum\r\n(press Enter) ";

// The mix, one entry every 400 ms in turn; a damaged frame (its Warning is the one expected
// box) needs a frame to carry the damage, so it asks for the mode as well.
const std::vector<std::vector<Step>> MIX = {
    {{'>', "8"}}, {{'>', "11"}}, {{'>', "28"}}, {{'!', "tilt 7 -4"}}, {{'>', "2"}}, {{'>', ":slider 2 140"}},
    {{'!', "knob 3 90"}}, {{'>', ":slider 4 17"}}, {{'>', "3"}}, {{'>', ":local"}}, {{'!', "knob 1 200"}},
    {{'>', "25"}}, {{'!', "garbage 13 27"}}, {{'!', "tilt -12 9"}}, {{'>', "17"}}, {{'!', "stall-next 300"}},
    {{'>', "27"}, {'<', "Address (16-bit) [0]: "}, {'>', "0"}, {'<', "Count [16]: "}, {'>', "16"}},
    {{'!', "corrupt-next"}, {'>', "8"}, {'<', DAMAGED}, {'>', ""}}};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 600, readings = argc > 2 ? std::atoi(argv[2]) : 20000;
  if (seconds < 10 || readings < 1 || readings > 65535) {
    std::fprintf(stderr, "usage: soak [SECONDS >= 10] [READINGS 1 to 65535]\n");
    return 2;
  }
  harness::TempDir dir;
  harness::Simulator sim(dir, {"--baud", "9600", "--noise", "3", "--seed", "7"});
  harness::Process console;
  const std::string traffic = dir.file("traffic.log"), data = dir.file("data.log");
  const long long start = harness::nowMs();
  // Both logs first, so that every later frame must appear in the traffic log.
  std::string failure = !sim.ok() || !harness::startConsole(console, {sim.port()}) ? "cannot start both programs"
      : harness::play(console, &sim, {{'<', "mode: Idle\r\n"}, {'>', ":log"}, {'<', "Save as: "}, {'>', traffic},
                                      {'>', ":data-log"}, {'<', "Save as: "}, {'>', data}, {'>', ":calibrate"}});
  if (!sim.waitForCount("> 1d cdgCalibrate", 12, 10000)) failure += "the calibration run did not send its 12 requests";
  console.settle(1000);
  failure += harness::play(console, &sim, {{'>', ":tilt-loop"}, {'<', "Count (16-bit) [10]: "},
                                           {'>', std::to_string(readings)}, {'<', "Step [1]: "}, {'>', "1"}});
  console.settle(30000);
  const long baselineKb = processStatusKb(console.pid(), "VmRSS");
  long peakKb = baselineKb;
  std::map<std::string, int> actions;
  size_t step = 0;
  for (; failure.empty() && harness::nowMs() - start < seconds * 1000LL; ++step) {
    const std::vector<Step>& steps = MIX[step % MIX.size()];
    actions[steps.front().text]++;
    failure = harness::play(console, &sim, steps);
    console.settle(400);
    peakKb = std::max(peakKb, processStatusKb(console.pid(), "VmRSS"));
  }
  // Wait for the loop's last reading, then close the logs and both programs.
  int tilts = -1;
  for (int now = 0; harness::nowMs() - start < (seconds + 600) * 1000LL; tilts = now) {
    console.settle(2000);
    now = 0;
    for (const std::string& f : sim.frames('<')) now += f.rfind("32 ", 0) == 0;
    if (now == tilts) break;
  }
  const long endKb = processStatusKb(console.pid(), "VmRSS");
  failure += harness::play(console, &sim, {{'>', ":stop-data-log"}, {'>', ":stop-log"}, {'-', "Warning"}, {'>', ":quit"}});
  const int exitStatus = console.waitExit(10000);
  sim.control("quit");
  sim.process().waitExit(5000);

  // Every good frame in each direction, in order, against the traffic log; the log started
  // after the power-on pair of received frames.
  std::vector<std::string> transcript[2], logged[2];
  int malformed = 0, damagedTilts = 0;
  for (const std::string& f : sim.frames()) {
    damagedTilts += f.rfind("< aa 09 32 ", 0) == 0;
    if (f.find("(bad frame)") == std::string::npos) transcript[f[0] == '>'].push_back(harness::traceLineOf(f.substr(2), f[0]));
  }
  transcript[0].erase(transcript[0].begin(), transcript[0].begin() + std::min<long>(2, transcript[0].size()));
  const std::regex form(R"(^[0-9]{2}\t[0-9]{2}\t[0-9]{2}\.[0-9]{3} (\t\t\t|\t)(.*)\r$)");
  std::smatch m;
  for (const std::string& line : harness::readLines(traffic)) {
    if (std::regex_match(line, m, form)) logged[m[1].length() == 1].push_back(m[2].str());
    else ++malformed;
  }
  const size_t dataLines = harness::readLines(data).size();
  const std::string& out = console.output();
  const int warnings = harness::occurrences(out, "Warning: "), strays = harness::occurrences(out, "Packet tossed for invalid SOT");
  // Readings lost to an injected damage still count as sent by the loop.
  const int loopTilts = tilts + damagedTilts - actions["28"];
  std::printf("soak: %.1f minutes, tilt loop of %d readings, %zu actions\n", (harness::nowMs() - start) / 60000.0, readings, step);
  for (const auto& [name, count] : actions) std::printf("  %-24s %6d\n", name.c_str(), count);
  std::printf("messages received %zu, commands sent %zu (traffic log %zu and %zu lines, %d malformed)\n",
              transcript[0].size(), transcript[1].size(), logged[0].size(), logged[1].size(), malformed);
  std::printf("tilt readings %d (loop %d, asked %d), data log lines %zu\n", tilts, loopTilts, actions["28"], dataLines);
  std::printf("resident memory: %ld kB after warm-up, peak %ld kB, end %ld kB\n", baselineKb, peakKb, endKb);
  std::printf("warnings %d, stray-byte notices %d, exit status %d\n", warnings, strays, exitStatus);
  bool ok = true;
  for (const auto& [held, what] : std::vector<std::pair<bool, std::string>>{
           {failure.empty(), "the mix ran as expected " + failure},
           {transcript[0] == logged[0] && transcript[1] == logged[1], "every frame in both directions is in the traffic log"},
           {malformed == 0, "every traffic log line is whole"},
           {loopTilts == readings, "the tilt loop delivered all its readings"},
           {dataLines == static_cast<size_t>(tilts), "one data log line per tilt reading"},
           {peakKb - baselineKb < 1024, "resident memory grows by less than 1 MB"},
           {warnings == actions["corrupt-next"], "no warnings but the injected ones"},
           {strays == 2 * actions["garbage 13 27"], "one notice per injected stray byte"},
           {out.find("Fatal Error!") == std::string::npos && exitStatus == 0, "the host ends normally"}}) {
    if (!held) std::printf("FAILED: %s\n", what.c_str());
    ok = ok && held;
  }
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}
