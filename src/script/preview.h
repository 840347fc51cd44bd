// Script preview: runs a script image offline through the device's script engine and
// describes what the four electrodes would carry, as a summary, a CSV table and an SVG plot.
#pragma once
#include "platform/picture.h"
#include <cstdint>
#include <string>
#include <vector>

constexpr int64_t PREVIEW_DEFAULT_MAX_STEPS = 1000000;

// The electrode codes from step `step` on, until the next level.
struct PreviewLevel {
  int64_t step;
  uint8_t codes[4];
};

enum class PreviewEnd { Stop, Fault, Repeat, Limit };

struct PreviewTilt {
  int address;
  int64_t step;
  int count;
  int tiltStep;
};

struct ScriptPreview {
  std::vector<PreviewLevel> levels;   // the first at step 0
  PreviewEnd end = PreviewEnd::Stop;
  int64_t endStep = 0;      // the step of the Stop or fault, where the repeat begins, or the limit
  int endAddress = 0;       // the Stop's or faulting instruction's address
  uint8_t endCodes[4] = {}; // the electrodes at the end (a fault rests them)
  int64_t repeatFrom = 0;   // with Repeat: endStep onwards repeats the steps from here
  int jumpAddress = 0;      // with Repeat: the backward jump that closed the loop
  uint8_t jumpOpcode = 0;
  int jumpTarget = 0;
  bool set[4] = {};         // electrodes some instruction wrote
  std::vector<std::string> findings;   // faults and notes, in the order met
  std::vector<PreviewTilt> tilts;
  // The step at which each instruction ran, in order (kept only when asked for).
  std::vector<std::pair<int, int64_t>> trace;
};

// Places length bytes at address in an empty 2048-byte memory (the image must fit) and runs it
// from there with every electrode at the rest code, up to maxSteps steps. findRepeats off runs
// on through loops (for timing the engine); keepTrace fills trace.
ScriptPreview previewScript(const uint8_t* image, int length, int address, int64_t maxSteps,
                            bool findRepeats = true, bool keepTrace = false);

// One fact a line, "\n" line ends.
std::string previewSummary(const ScriptPreview& preview, int64_t maxSteps);
// time_ms and the four currents, a row at step 0, at each change and at the end; CR LF.
std::string previewCsv(const ScriptPreview& preview);
// The plot: one lane per electrode with its step line (tagged with the electrode number),
// the time axis and the end marked; previewSvg writes the same items as SVG.
Picture previewPicture(const ScriptPreview& preview);
std::string previewSvg(const ScriptPreview& preview);

// The current of a code in hundredths (code c is c x 0.02 - 2.56), and as "+1.00", "0.00",
// "-0.04". The rest code 127 is the device at rest: no current, 0.00.
int previewHundredths(uint8_t code);
std::string previewCurrentText(uint8_t code);
