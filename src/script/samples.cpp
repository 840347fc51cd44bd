// Sample-file script generator: sample values to current codes and the generated image.
#include "script/samples.h"
#include "link/catalogue.h"
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The current of code 0, negated: a sample v is code (v + CURRENT_OFFSET) / CURRENT_STEP.
static const double CURRENT_OFFSET = ZERO_CURRENT_CODE * CURRENT_STEP;
// How far a sample may lie from a code's current and still be read as that code.
static const double GRID_TOLERANCE = 1e-9;

static bool isDigit(char c) { return c >= '0' && c <= '9'; }

static bool isSampleSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// True when the whole field is an optional sign, digits with an optional point (at least
// one digit), and an optional exponent with at least one digit.
static bool isDecimalNumber(const char* s) {
  int p = 0;
  if (s[p] == '+' || s[p] == '-') ++p;
  int digits = 0;
  while (isDigit(s[p])) ++p, ++digits;
  if (s[p] == '.') {
    ++p;
    while (isDigit(s[p])) ++p, ++digits;
  }
  if (digits == 0) return false;
  if (s[p] == 'e' || s[p] == 'E') {
    ++p;
    if (s[p] == '+' || s[p] == '-') ++p;
    if (!isDigit(s[p])) return false;
    while (isDigit(s[p])) ++p;
  }
  return s[p] == '\0';
}

#if defined(__i386__)
// The 32-bit build computes long double on the x87 unit too; its precision control must be
// at 64 bits for the codes to come out the same on both builds, whatever the runtime set.
static unsigned short setExtendedPrecision() {
  unsigned short saved, extended;
  __asm__ __volatile__("fnstcw %0" : "=m"(saved));
  extended = static_cast<unsigned short>(saved | 0x0300);
  __asm__ __volatile__("fldcw %0" : : "m"(extended));
  return saved;
}
static void restorePrecision(unsigned short saved) {
  __asm__ __volatile__("fldcw %0" : : "m"(saved));
}
#else
static unsigned short setExtendedPrecision() { return 0; }
static void restorePrecision(unsigned short) {}
#endif

bool sampleCode(const char* field, int* code) {
  if (!isDecimalNumber(field)) return false;
  char* end = nullptr;
  double v = strtod(field, &end);
  if (end == field || *end != '\0') return false;
  unsigned short saved = setExtendedPrecision();
  long double sum = static_cast<long double>(v) + static_cast<long double>(CURRENT_OFFSET);
  long double quotient = sum / static_cast<long double>(CURRENT_STEP);
  restorePrecision(saved);
  // A value on the scale's own grid (1.00, -0.5, 2.54) means its code; the division above lands
  // a hair below some of them, which truncation would turn into the code one step lower.
  if (quotient > -1 && quotient < 256) {
    const int nearest = static_cast<int>(quotient + 0.5L);
    const double gridValue = nearest * CURRENT_STEP - CURRENT_OFFSET;
    if (v - gridValue <= GRID_TOLERANCE && gridValue - v <= GRID_TOLERANCE) {
      *code = nearest;
      return true;
    }
  }
  if (quotient >= static_cast<long double>(INT_MAX)) *code = INT_MAX;
  else if (quotient <= static_cast<long double>(INT_MIN)) *code = INT_MIN;
  else *code = static_cast<int>(quotient);  // truncation toward zero
  return true;
}

bool sampleDelayCount(int32_t timestepMs, int* delay) {
  if (timestepMs < 0 || timestepMs / SCRIPT_STEP_MS - 1 > 65535) return false;
  *delay = timestepMs / SCRIPT_STEP_MS - 1;
  return true;
}

std::string timestepNotice(int32_t timestepMs) {
  if (timestepMs > 0 && timestepMs % SCRIPT_STEP_MS == 0) return "";
  // A row is one step plus its Delay count; a timestep under two steps gets no Delay.
  const long long steps = timestepMs / SCRIPT_STEP_MS > 1 ? timestepMs / SCRIPT_STEP_MS : 1;
  char notice[96];
  snprintf(notice, sizeof notice, "Timestep %ld ms: each row lasts %lld ms (steps of %d ms)",
           static_cast<long>(timestepMs), steps * SCRIPT_STEP_MS, SCRIPT_STEP_MS);
  return notice;
}

// Finds the next white-space separated field at or after pos; false at the end of the text.
static bool nextField(const char* text, long pos, long* start, long* end) {
  long p = pos;
  while (isSampleSpace(text[p])) ++p;
  if (text[p] == '\0') return false;
  *start = p;
  while (text[p] != '\0' && !isSampleSpace(text[p])) ++p;
  *end = p;
  return true;
}

ScriptBuild generateSampleImage(const char* text, int delay) {
  ScriptBuild build;
  std::vector<uint8_t> bytes;
  long pos = 0;
  int row = 0;
  for (;;) {
    int codes[4];
    int fields = 0;
    long start, end;
    while (fields < 4 && nextField(text, pos, &start, &end)) {
      std::string field(text + start, static_cast<size_t>(end - start));
      pos = end;
      if (field.size() > SAMPLE_FIELD_MAX || !sampleCode(field.c_str(), &codes[fields])) {
        build.diagnostic = ScriptDiagnostic{"Sample file has bad format:", field, -1};
        return build;
      }
      if (codes[fields] < 0 || codes[fields] > 255) {
        build.diagnostic = ScriptDiagnostic{"Sample must be between -2.56 and 2.54:", field, -1};
        return build;
      }
      ++fields;
    }
    if (fields == 0) break;
    ++row;
    if (fields < 4) {
      char message[96];
      snprintf(message, sizeof message,
               "Sample file has an incomplete last row: %d of 4 values (row %d)", fields, row);
      build.diagnostic = ScriptDiagnostic{message, "", -1};
      return build;
    }
    bytes.push_back(opSetAllElectrodes);
    for (int code : codes) bytes.push_back(static_cast<uint8_t>(code));
    if (delay > 0) {
      bytes.push_back(opDelay);
      bytes.push_back(static_cast<uint8_t>(delay & 0xFF));
      bytes.push_back(static_cast<uint8_t>(delay >> 8));
    }
  }
  bytes.push_back(opStop);
  build.image.bytes = static_cast<uint8_t*>(malloc(bytes.size()));
  if (build.image.bytes == nullptr) {
    build.diagnostic = ScriptDiagnostic{"Out of memory", "", -1};
    return build;
  }
  memcpy(build.image.bytes, bytes.data(), bytes.size());
  build.image.length = static_cast<int>(bytes.size());
  build.built = true;
  return build;
}
