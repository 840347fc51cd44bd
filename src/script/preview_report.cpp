// Script preview reports: the summary (duration or repeat, each electrode's range, time on
// and net charge, faults, tilt loops) and the CSV table of electrode currents.
#include "script/preview.h"
#include "script/instruction_set.h"
#include "link/catalogue.h"
#include <cstdio>

namespace {


// One printf pattern and exactly the integers it takes.
template <class... Integers> std::string printf1(const char* pattern, Integers... values) {
  char text[200];
  std::snprintf(text, sizeof text, pattern, static_cast<long long>(values)...);
  return text;
}

// ms as seconds with three decimals.
std::string seconds(int64_t ms) { return printf1("%lld.%03lld", ms / 1000, ms % 1000); }

// A charge in units of 0.0005 (one step at 0.02): three decimals, four when the last is 5.
std::string charge(int64_t halfThousandths) {
  const int64_t a = halfThousandths < 0 ? -halfThousandths : halfThousandths;
  std::string text = printf1("%lld.%03lld", a / 2000, (a % 2000) / 2);
  if (a % 2 != 0) text += "5";
  std::string sign = halfThousandths > 0 ? "+" : halfThousandths < 0 ? "-" : "";
  return sign.append(text);
}

struct ElectrodeFacts {
  uint8_t low = 255, high = 0;
  int64_t nonZeroSteps = 0;
  int64_t codeSteps = 0;   // the sum of (code - ZERO_CURRENT_CODE) over the steps, rest as 0: charge in units of 0.0005
};

// The facts over steps [from, to): the whole run, or one repetition of a loop.
ElectrodeFacts factsOf(const ScriptPreview& p, int e, int64_t from, int64_t to) {
  ElectrodeFacts f;
  for (size_t i = 0; i < p.levels.size(); ++i) {
    const int64_t begin = p.levels[i].step > from ? p.levels[i].step : from;
    const int64_t next = i + 1 < p.levels.size() ? p.levels[i + 1].step : to;
    const int64_t end = next < to ? next : to;
    if (end <= begin) continue;
    const uint8_t c = p.levels[i].codes[e];
    if (c < f.low) f.low = c;
    if (c > f.high) f.high = c;
    // Hundredths are even: half of them is the charge in units of 0.0005 a step.
    if (previewHundredths(c) != 0) f.nonZeroSteps += end - begin;
    f.codeSteps += previewHundredths(c) / 2 * (end - begin);
  }
  if (f.low > f.high) f.low = f.high = p.endCodes[e];
  return f;
}

std::string endLine(const ScriptPreview& p, int64_t maxSteps) {
  const std::string steps = printf1(" (%lld steps)", p.endStep);
  switch (p.end) {
    case PreviewEnd::Stop:
      return "duration: " + seconds(p.endStep * SCRIPT_STEP_MS) + " s" + steps +
             printf1(", ends at Stop at %lld", p.endAddress);
    case PreviewEnd::Fault:
      return "duration: " + seconds(p.endStep * SCRIPT_STEP_MS) + " s" + steps +
             printf1(", ends at a fault at %lld", p.endAddress);
    case PreviewEnd::Repeat: {
      std::string jump = scriptOpcodes[p.jumpOpcode].keyword;
      if (p.jumpOpcode != opReturn) jump += printf1(" %lld", p.jumpTarget);
      return printf1("does not stop: from step %lld it repeats the steps from %lld", p.endStep, p.repeatFrom) + " (" +
             jump + printf1(" at %lld)\n", p.jumpAddress) + "repetition: " +
             seconds((p.endStep - p.repeatFrom) * SCRIPT_STEP_MS) + " s" + printf1(" (%lld steps)", p.endStep - p.repeatFrom) +
             "; the figures below are for one repetition";
    }
    case PreviewEnd::Limit:
      break;
  }
  return printf1("does not stop: neither a Stop nor a repeat within %lld steps (", maxSteps) +
         seconds(maxSteps * SCRIPT_STEP_MS) + " s)";
}

}  // namespace

std::string previewSummary(const ScriptPreview& p, int64_t maxSteps) {
  std::string out = endLine(p, maxSteps) + "\n";
  const int64_t from = p.end == PreviewEnd::Repeat ? p.repeatFrom : 0;
  std::string warnings;
  for (int e = 0; e < 4; ++e) {
    if (!p.set[e]) {
      out += printf1("electrode %lld: not set (stays at the rest code 127)\n", e + 1);
      continue;
    }
    const ElectrodeFacts f = factsOf(p, e, from, p.endStep);
    out += printf1("electrode %lld: ", e + 1) + previewCurrentText(f.low) + " to " + previewCurrentText(f.high) +
           ", non-zero for " + seconds(f.nonZeroSteps * SCRIPT_STEP_MS) + " s, net charge " + charge(f.codeSteps) + "\n";
    if (f.codeSteps != 0) {
      warnings += printf1("Warning: electrode %lld is not charge-balanced (net ", e + 1) + charge(f.codeSteps) + ")\n";
    }
  }
  out += warnings;
  for (const std::string& finding : p.findings) out += finding + "\n";
  for (const PreviewTilt& t : p.tilts) {
    out += printf1("TiltLoop at %lld (step %lld): ", t.address, t.step) +
           printf1("count %lld, step %lld; the preview does not simulate the sensor\n", t.count, t.tiltStep);
  }
  return out;
}

std::string previewCsv(const ScriptPreview& p) {
  std::string out = "time_ms,electrode_1,electrode_2,electrode_3,electrode_4\r\n";
  auto row = [&out](int64_t step, const uint8_t* codes) {
    out += printf1("%lld", step * SCRIPT_STEP_MS);
    for (int e = 0; e < 4; ++e) out.append(",").append(previewCurrentText(codes[e]));
    out += "\r\n";
  };
  for (const PreviewLevel& level : p.levels) {
    if (level.step < p.endStep) row(level.step, level.codes);
  }
  row(p.endStep, p.endCodes);
  return out;
}
