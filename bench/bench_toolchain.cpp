// Offline toolchain benchmark: compile, sample generation and listing timed in-process with
// the program's own script code, and the same work timed through the kinestim-script
// executable (wall clock, including start-up and file I/O).
#include "bench/bench.h"
#include "link/framing.h"
#include "frontends/console/console_window.h"
#include "link/catalogue.h"
#include "script/compiler.h"
#include "script/instruction_set.h"
#include "script/memory_view.h"
#include "script/preview.h"
#include "script/samples.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef KINESTIM_BIN_DIR
#error "KINESTIM_BIN_DIR must name the folder of kinestim-script"
#endif

namespace {

constexpr double MB = 1000000.0;
constexpr int REPEATS = 7;

// A script source of about size bytes: a realistic mix of every instruction, comments and
// CR LF line ends, repeated.
std::string scriptSource(size_t size) {
  static const char* const LINES[] = {
      "SetElectrode 1 200\r\n",       "Delay 5 ; settle\r\n",  "SetAllElectrodes 128 144 160 176\r\n",
      "  setelectrode 4 0x7f\r\n",    "Delay 0x28\r\n",        "Call 300 ; ramp\r\n",
      "TiltLoop 1000 5\r\n",          "NOP\r\n",               "Goto 16\r\n",
      "; a line of comment only\r\n", "Return\r\n",            "Stop\r\n",
  };
  std::string text;
  text.reserve(size + 64);
  for (size_t i = 0; text.size() < size; ++i) text += LINES[i % (sizeof LINES / sizeof LINES[0])];
  return text;
}

// rows lines of four current samples each, "%.2f" values spread over -2.56 to 2.54.
std::string sampleText(long rows) {
  std::string text;
  text.reserve(static_cast<size_t>(rows) * 24);
  uint32_t state = 12345;
  char line[96];
  for (long r = 0; r < rows; ++r) {
    double v[4];
    for (double& x : v) {
      state = state * 1664525u + 1013904223u;
      x = -2.56 + static_cast<double>(state >> 8) / static_cast<double>(1u << 24) * 5.10;
    }
    std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f\r\n", v[0], v[1], v[2], v[3]);
    text += line;
  }
  return text;
}

// Every run starts with cold caches, so that a small input that fits in the cache and a
// large one that does not are compared alike: both are read from memory.
void evictCaches() {
  static std::vector<uint8_t> sweep(64u << 20);
  static uint8_t round = 0;
  ++round;
  for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] = round;
}

// CPU time of this thread in milliseconds: on a shared machine a run that is preempted
// does not count the time others had the core.
double threadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The best (shortest) of REPEATS runs in CPU milliseconds: the run least disturbed by the
// rest of the machine.
double bestMs(const std::function<bool()>& work, bool* ok) {
  double best = -1.0;
  *ok = true;
  for (int i = 0; i < REPEATS; ++i) {
    evictCaches();
    const double start = threadCpuMs();
    if (!work()) *ok = false;
    const double ms = threadCpuMs() - start;
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

// Lists an image as kinestim-script list does: one mdgScrMemDld per instruction with the
// (up to five) bytes from its address. Returns the number of image bytes listed.
long listImage(const uint8_t* image, int length, std::string& out) {
  uint8_t frame[3 + 2 + MAX_INSTRUCTION_LENGTH + 2];
  char line[LISTING_LINE_SIZE];
  long p = 0;
  while (p < length) {
    int n = length - p < MAX_INSTRUCTION_LENGTH ? static_cast<int>(length - p) : MAX_INSTRUCTION_LENGTH;
    frame[0] = SOT;
    frame[1] = static_cast<uint8_t>(3 + n);
    frame[2] = mdgScrMemDld;
    frame[3] = static_cast<uint8_t>(p & 0xFF);
    frame[4] = static_cast<uint8_t>(p >> 8);
    std::memcpy(frame + 5, image + p, static_cast<size_t>(n));
    frame[5 + n] = computeChecksum(frame + 2, 3 + n);
    frame[6 + n] = EOT;
    Packet packet{frame};
    p += formatInstructionLine(packet, line);
    out += line;
  }
  // The last instruction may reach past the end of the image.
  return p < length ? p : length;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
  std::ofstream f(path, std::ios::binary);
  f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(f);
}

// Wall time of kinestim-script with the arguments (output to /dev/null), best of REPEATS;
// negative when it does not exit with status 0.
double scriptToolMs(const std::vector<std::string>& arguments) {
  const std::string program = std::string(KINESTIM_BIN_DIR) + "/kinestim-script";
  double best = -1.0;
  for (int i = 0; i < REPEATS; ++i) {
    const double start = monotonicNowMs();
    pid_t pid = fork();
    if (pid < 0) return -1.0;
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> argv = {const_cast<char*>(program.c_str())};
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = monotonicNowMs() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1.0;
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

}  // namespace

bool benchToolchain(const std::string& workDir) {
  // The script code reports into the Script Manager's panes; no dialog is open here.
  std::istringstream noInput;
  std::ostream noOutput(nullptr);
  consoleWindowReset(&noInput, &noOutput, false);
  bool allOk = true;

  // Compile: 1 MB and 10 MB of source.
  double compileMs[2] = {0, 0};
  size_t sourceSize[2] = {0, 0};
  const size_t sizes[2] = {static_cast<size_t>(1 * MB), static_cast<size_t>(10 * MB)};
  for (int k = 0; k < 2; ++k) {
    std::string source = scriptSource(sizes[k]);
    sourceSize[k] = source.size();
    bool ok = false;
    std::string said;
    compileMs[k] = bestMs(
        [&source, &said]() {
          ScriptBuild build = compileScript(source.c_str());
          said = diagnosticText(build.diagnostic);
          releaseScriptImage(build.image);
          return build.built;
        },
        &ok);
    if (!ok) {
      note("toolchain: the %zu-byte source did not compile: %s", source.size(), said.c_str());
      allOk = false;
    }
    const std::string path = workDir + (k == 0 ? "/source-1mb.txt" : "/source-10mb.txt");
    writeFile(path, source.data(), source.size());
    const double toolMs = scriptToolMs({"compile", path, "-o", workDir + "/image.bin"});
    const char* tag = k == 0 ? "1mb" : "10mb";
    char key[64];
    std::snprintf(key, sizeof key, "compile_%s_bytes", tag);
    result(key, "%zu", source.size());
    std::snprintf(key, sizeof key, "compile_%s_ms", tag);
    result(key, "%.2f", compileMs[k]);
    std::snprintf(key, sizeof key, "compile_%s_mb_per_s", tag);
    result(key, "%.1f", static_cast<double>(source.size()) / MB / (compileMs[k] / 1000.0));
    std::snprintf(key, sizeof key, "compile_%s_tool_ms", tag);
    result(key, "%.1f", toolMs);
    if (toolMs < 0) allOk = false;
  }
  // Linear when ten times the text takes ten times as long; the sizes differ slightly.
  const double perByteRatio = (compileMs[1] / static_cast<double>(sourceSize[1])) /
                              (compileMs[0] / static_cast<double>(sourceSize[0]));
  result("compile_10mb_to_1mb_ratio", "%.2f", compileMs[1] / compileMs[0]);
  result("compile_per_byte_ratio", "%.2f", perByteRatio);

  // Sample generation: 1,000,000 rows at a 100 ms timestep (SetAllElectrodes and Delay 3).
  {
    const long rows = 1000000;
    std::string samples = sampleText(rows);
    bool ok = false;
    int delay = 0;
    sampleDelayCount(100, &delay);
    std::string said;
    const double ms = bestMs(
        [&samples, &said, delay]() {
          ScriptBuild build = generateSampleImage(samples.c_str(), delay);
          said = diagnosticText(build.diagnostic);
          const bool right = build.built && build.image.length == rows * 8 + 1;
          releaseScriptImage(build.image);
          return right;
        },
        &ok);
    if (!ok) {
      note("toolchain: sample generation failed: %s", said.c_str());
      allOk = false;
    }
    const std::string path = workDir + "/samples-1m.txt";
    writeFile(path, samples.data(), samples.size());
    const double toolMs = scriptToolMs({"samples", path, "--timestep", "100", "-o", workDir + "/samples.bin"});
    if (toolMs < 0) allOk = false;
    result("samples_rows", "%ld", rows);
    result("samples_bytes", "%zu", samples.size());
    result("samples_ms", "%.2f", ms);
    result("samples_mb_per_s", "%.1f", static_cast<double>(samples.size()) / MB / (ms / 1000.0));
    result("samples_tool_ms", "%.1f", toolMs);
  }

  // Listing a full 2048-byte image, the first 2048 bytes of the compiled 1 MB source.
  {
    std::string source = scriptSource(sizes[0]);
    ScriptBuild build = compileScript(source.c_str());
    ScriptImage& image = build.image;
    if (!build.built || image.length < SCRIPT_MEMORY_SIZE) {
      releaseScriptImage(image);
      note("toolchain: no 2048-byte image to list");
      return false;
    }
    std::vector<uint8_t> full(image.bytes, image.bytes + SCRIPT_MEMORY_SIZE);
    releaseScriptImage(image);
    const int passes = 1000;
    std::string listing;
    bool ok = false;
    const double ms = bestMs(
        [&full, &listing, passes]() {
          long listed = 0;
          for (int i = 0; i < passes; ++i) {
            listing.clear();
            listed += listImage(full.data(), SCRIPT_MEMORY_SIZE, listing);
          }
          return listed == static_cast<long>(passes) * SCRIPT_MEMORY_SIZE;
        },
        &ok);
    if (!ok) allOk = false;
    const std::string path = workDir + "/image-2048.bin";
    writeFile(path, full.data(), full.size());
    const double toolMs = scriptToolMs({"list", path});
    if (toolMs < 0) allOk = false;
    result("list_bytes", "%d", SCRIPT_MEMORY_SIZE);
    result("list_lines", "%ld", static_cast<long>(std::count(listing.begin(), listing.end(), '\n')));
    result("list_ms", "%.4f", ms / passes);
    result("list_mb_per_s", "%.1f", SCRIPT_MEMORY_SIZE * static_cast<double>(passes) / MB / (ms / 1000.0));
    result("list_tool_ms", "%.1f", toolMs);
  }

  // Preview of a full 2048-byte image that loops: 681 SetElectrode, each changing a current,
  // two NOP and Goto 0. The search for repeats is off so that all 1,000,000 steps run (with it
  // on, the preview ends after the second pass); the summary is built from the result.
  {
    std::vector<uint8_t> image;
    for (int i = 0; i < 681; ++i) {
      image.insert(image.end(), {2, static_cast<uint8_t>(1 + i % 4), static_cast<uint8_t>(i * 37 % 251)});
    }
    image.insert(image.end(), {1, 1, 5, 0, 0});
    const int64_t steps = 1000000;
    const double limitMs = 200.0;
    bool ok = false;
    const double ms = bestMs(
        [&image, steps]() {
          const ScriptPreview p = previewScript(image.data(), static_cast<int>(image.size()), 0, steps, false);
          return p.end == PreviewEnd::Limit && !previewSummary(p, steps).empty();
        },
        &ok);
    if (!ok || image.size() != SCRIPT_MEMORY_SIZE) allOk = false;
    result("preview_steps", "%lld", static_cast<long long>(steps));
    result("preview_ms", "%.1f", ms);
    result("preview_steps_per_s", "%.0f", static_cast<double>(steps) / (ms / 1000.0));
    result("preview_limit_ms", "%.0f", limitMs);
    result("preview_ratio", "%.3f", ms / limitMs);
  }
  return allOk;
}
