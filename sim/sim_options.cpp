// Command-line options of kinestim-sim: the usage text and the parser with its range checks.
#include "sim/sim_options.h"
#include "sim/control.h"
#include "sim/device.h"
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const USAGE =
  "Usage: kinestim-sim [options]\n"
  "Simulates a Kinestim device at the far end of a serial line.\n"
  "\n"
  "Options:\n"
  "  --port PATH           serve the serial device PATH instead of a new pseudo-terminal\n"
  "  --link PATH           also make PATH a symbolic link to the port (an existing link\n"
  "                        there is replaced; it is removed again at exit)\n"
  "  --baud N              pace bytes in both directions as an N baud 8N1 line would\n"
  "                        (10 bits a byte: 1.0417 ms at 9600); 0, the default, sends at once\n"
  "  --power-on-delay MS   report power-on MS ms later (default 0)\n"
  "  --transcript FILE     write one line per frame in each direction to FILE\n"
  "  --wire-log FILE       write one line per read from and write to the line to FILE,\n"
  "                        stamped with the absolute CLOCK_MONOTONIC time (for timing\n"
  "                        measurements; complete once the simulator has ended)\n"
  "  --tilt X,Y            start with a tilt of X and Y degrees (default 0,0)\n"
  "  --period P            sensor pulse period in ticks, 100 to 20000 (default 1000)\n"
  "  --noise N             jitter each reported edge by up to N ticks, 0 to 1000 (default 0)\n"
  "  --drift D             let the period drift by D ticks per second (default 0)\n"
  "  --seed N              seed for the noise (default 1)\n"
  "  --help                show this text\n"
  "\n"
  "The first line on standard output is \"port: PATH\", the port for the host to open.\n"
  "On a pseudo-terminal the device powers on when the host first opens it (50 ms later,\n"
  "plus the power-on delay) and sends mdgExitedModeInit and mdgEnteredModeIdle; a host\n"
  "that closes and opens again finds the device as it left it. With --port the device\n"
  "powers on at start.\n"
  "It runs until the control line quit, SIGINT or SIGTERM; the end of standard input\n"
  "only ends the control channel.\n"
  "\n"
  "Transcript lines: \"%8.1f %c %s %s\": the time in ms since start, '>' (host to device)\n"
  "or '<' (device to host), the payload as lower-case hex pairs, and the code's name\n"
  "(\"?\" for an unknown code). Bytes that failed the framing checks (stray bytes, bad end\n"
  "byte or checksum, empty or unfinished frames, damaged or injected bytes) are written\n"
  "as the raw bytes, with the name \"(bad frame)\"; each stray byte has a line of its own.\n"
  "\n";

bool optionValue(int argc, char** argv, int& i, const char* name, const char*& value) {
  const size_t n = std::strlen(name);
  if (std::strncmp(argv[i], name, n) != 0) return false;
  if (argv[i][n] == '=') { value = argv[i] + n + 1; return true; }
  if (argv[i][n] != '\0') return false;
  if (i + 1 >= argc) {
    std::fprintf(stderr, "kinestim-sim: %s needs a value\n", name);
    std::exit(2);
  }
  value = argv[++i];
  return true;
}

long numberOption(const char* name, const char* text, long minimum, long maximum) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < minimum || v > maximum) {
    std::fprintf(stderr, "kinestim-sim: %s wants a whole number from %ld to %ld, not '%s'\n", name, minimum, maximum, text);
    std::exit(2);
  }
  return v;
}

double realOption(const char* name, const char* text, double minimum, double maximum) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v < minimum || v > maximum) {
    std::fprintf(stderr, "kinestim-sim: %s wants a number from %g to %g, not '%s'\n", name, minimum, maximum, text);
    std::exit(2);
  }
  return v;
}

}  // namespace

void simParseOptions(int argc, char** argv, SimOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const char* v = nullptr;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(USAGE, stdout);
      std::fputs(simControlHelp(), stdout);
      std::exit(0);
    } else if (optionValue(argc, argv, i, "--port", v)) {
      o.port = v;
    } else if (optionValue(argc, argv, i, "--link", v)) {
      o.link = v;
    } else if (optionValue(argc, argv, i, "--baud", v)) {
      o.baud = numberOption("--baud", v, 0, 4000000);
    } else if (optionValue(argc, argv, i, "--power-on-delay", v)) {
      o.powerOnDelayMs = numberOption("--power-on-delay", v, 0, 600000);
    } else if (optionValue(argc, argv, i, "--transcript", v)) {
      o.transcript = v;
    } else if (optionValue(argc, argv, i, "--wire-log", v)) {
      o.wireLog = v;
    } else if (optionValue(argc, argv, i, "--tilt", v)) {
      const char* comma = std::strchr(v, ',');
      if (comma == nullptr) {
        std::fprintf(stderr, "kinestim-sim: --tilt wants X,Y in degrees, not '%s'\n", v);
        std::exit(2);
      }
      char x[64];
      std::snprintf(x, sizeof x, "%.*s", static_cast<int>(comma - v), v);
      o.tiltX = realOption("--tilt", x, -360.0, 360.0);
      o.tiltY = realOption("--tilt", comma + 1, -360.0, 360.0);
    } else if (optionValue(argc, argv, i, "--period", v)) {
      o.period = realOption("--period", v, 100.0, 20000.0);
    } else if (optionValue(argc, argv, i, "--noise", v)) {
      o.noise = numberOption("--noise", v, 0, SIM_MAX_NOISE);
    } else if (optionValue(argc, argv, i, "--drift", v)) {
      o.drift = realOption("--drift", v, -1000.0, 1000.0);
    } else if (optionValue(argc, argv, i, "--seed", v)) {
      o.seed = numberOption("--seed", v, 0, 2147483647);
    } else {
      std::fprintf(stderr, "kinestim-sim: unknown option '%s' (see --help)\n", argv[i]);
      std::exit(2);
    }
  }
}

