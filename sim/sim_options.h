// Command-line options of kinestim-sim: their values and the parser (with the usage text).
#pragma once

struct SimOptions {
  const char* port = nullptr;
  const char* link = nullptr;
  long baud = 0;
  long powerOnDelayMs = 0;
  const char* transcript = nullptr;
  const char* wireLog = nullptr;
  double tiltX = 0.0, tiltY = 0.0;
  double period = 1000.0;
  long noise = 0;
  double drift = 0.0;
  long seed = 1;
};

// Parses the command line into o; --help prints the usage and ends the program with 0, a bad
// option prints why and ends it with 2.
void simParseOptions(int argc, char** argv, SimOptions& o);
