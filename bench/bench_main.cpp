// kinestim-bench: runs one benchmark and prints its figures as "key=value" lines.
#include "bench/bench.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

void result(const char* key, const char* format, ...) {
  std::printf("%s=", key);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

void note(const char* format, ...) {
  std::fprintf(stderr, "kinestim-bench: ");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr, "\n");
}

double monotonicNowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

namespace {

const char USAGE[] =
    "usage: kinestim-bench upload\n"
    "       kinestim-bench latency [FRAMES]     (default 1000)\n"
    "       kinestim-bench stream [SECONDS]     (default 60)\n"
    "       kinestim-bench idle [SECONDS]       (default 60)\n"
    "       kinestim-bench toolchain WORKDIR\n"
    "Runs kinestim-console against kinestim-sim --baud 9600 (or times the offline script\n"
    "toolchain) and prints the figures as key=value lines. Timings are reported, never judged.\n"
    "KINESTIM_BENCH_KEEP=FOLDER keeps the wire log and console output of a link run there.\n";

// A whole positive number argument, or the default when absent.
bool countArgument(int argc, char** argv, int index, int fallback, int* value) {
  if (argc <= index) {
    *value = fallback;
    return true;
  }
  char* end = nullptr;
  long v = std::strtol(argv[index], &end, 10);
  if (end == argv[index] || *end != '\0' || v < 1 || v > 100000) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(USAGE, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  std::string command = argv[1];
  int count = 0;
  bool ok = false;
  if (command == "upload" && argc == 2) {
    ok = benchUpload();
  } else if (command == "latency" && argc <= 3 && countArgument(argc, argv, 2, 1000, &count)) {
    ok = benchLatency(count);
  } else if (command == "stream" && argc <= 3 && countArgument(argc, argv, 2, 60, &count)) {
    ok = benchStream(count);
  } else if (command == "idle" && argc <= 3 && countArgument(argc, argv, 2, 60, &count)) {
    ok = benchIdle(count);
  } else if (command == "toolchain" && argc == 3) {
    ok = benchToolchain(argv[2]);
  } else {
    std::fputs(USAGE, stderr);
    return 2;
  }
  return ok ? 0 : 1;
}
