// Script compiler: free-form keywords with "%i" numbers and ";" comments to script bytes.
#include "script/compiler.h"
#include <cstdlib>
#include <cstring>
#include <string>

// Any value beyond this magnitude is out of every operand range; reading stops growing the
// value there instead of wrapping it.
static constexpr uint64_t NUMBER_CEILING = 0xFFFFFFFFull;

static bool isTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

static bool isScanfSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static int digitValue(char c, int base) {
  int d;
  if (c >= '0' && c <= '9') d = c - '0';
  else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  else return -1;
  return d < base ? d : -1;
}

bool readScanfInteger(const char* text, long pos, int64_t* value, long* next) {
  long p = pos;
  while (isScanfSpace(text[p])) ++p;
  bool negative = false;
  if (text[p] == '+' || text[p] == '-') {
    negative = text[p] == '-';
    ++p;
  }
  int base = 10;
  if (text[p] == '0') {
    if (text[p + 1] == 'x' || text[p + 1] == 'X') {
      // A hexadecimal prefix with no digit after it is no number.
      if (digitValue(text[p + 2], 16) < 0) return false;
      base = 16;
      p += 2;
    } else {
      base = 8;
    }
  }
  if (digitValue(text[p], base) < 0) return false;
  uint64_t magnitude = 0;
  bool tooLarge = false;
  for (int d; (d = digitValue(text[p], base)) >= 0; ++p) {
    if (tooLarge) continue;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (magnitude > NUMBER_CEILING) tooLarge = true;
  }
  if (tooLarge) magnitude = NUMBER_CEILING + 1;
  *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  *next = p;
  return true;
}

bool nextKeyword(const char* text, long pos, long* start, long* end) {
  long p = pos;
  for (;;) {
    char c = text[p];
    if (c == '\0') return false;
    if (isTokenChar(c)) {
      *start = p;
      while (isTokenChar(text[p])) ++p;
      *end = p;
      return true;
    }
    if (c == ';') {
      while (text[p] != '\0' && text[p] != '\r' && text[p] != '\n') ++p;
      continue;
    }
    ++p;
  }
}

// Lowest and largest accepted value of each number of an instruction, in source order (how
// many there are is the instruction table's argument count).
struct ArgumentRule { int64_t low[4]; int64_t high[4]; };

static const ArgumentRule argumentRules[OPCODE_COUNT] = {
  {{}, {}},                                            // Stop
  {{}, {}},                                            // NOP
  {{1, 0}, {4, 254}},                                  // SetElectrode electrode, current
  {{0, 0, 0, 0}, {255, 254, 254, 254}},                // SetAllElectrodes
  {{0}, {65535}},                                      // Delay
  {{0}, {65535}},                                      // Goto
  {{0}, {65535}},                                      // Call
  {{}, {}},                                            // Return
  {{0, 0}, {65535, 254}},                              // TiltLoop count, step
};

long encodeArguments(int opcode, const char* text, long pos, uint8_t* bytes, int* length) {
  if (opcode < 0 || opcode >= OPCODE_COUNT) return -1;
  const ArgumentRule& rule = argumentRules[opcode];
  const int count = scriptOpcodes[opcode].argumentCount;
  int64_t values[4] = {};
  long p = pos;
  for (int k = 0; k < count; ++k) {
    if (!readScanfInteger(text, p, &values[k], &p)) return -1;
    if (values[k] < rule.low[k] || values[k] > rule.high[k]) return -1;
  }
  int n = *length;
  switch (opcode) {
    case opDelay: case opGoto: case opCall:
      bytes[n++] = static_cast<uint8_t>(values[0] & 0xFF);
      bytes[n++] = static_cast<uint8_t>(values[0] >> 8);
      break;
    case opTiltLoop:
      bytes[n++] = static_cast<uint8_t>(values[0] & 0xFF);
      bytes[n++] = static_cast<uint8_t>(values[0] >> 8);
      bytes[n++] = static_cast<uint8_t>(values[1]);
      break;
    default:
      for (int k = 0; k < count; ++k) bytes[n++] = static_cast<uint8_t>(values[k]);
      break;
  }
  *length = n;
  return p;
}

std::string diagnosticText(const ScriptDiagnostic& diagnostic) {
  return diagnostic.detail.empty() ? diagnostic.message : diagnostic.message + " " + diagnostic.detail;
}

ScriptBuild compileScript(const char* text) {
  ScriptBuild build;
  // Every instruction encodes into fewer bytes than its source text takes.
  size_t capacity = strlen(text) + 5;
  uint8_t* bytes = static_cast<uint8_t*>(malloc(capacity));
  if (bytes == nullptr) {
    build.diagnostic = ScriptDiagnostic{"Out of memory", "", 0};
    return build;
  }
  int length = 0;
  long pos = 0;
  long start, end;
  while (nextKeyword(text, pos, &start, &end)) {
    std::string keyword(text + start, static_cast<size_t>(end - start));
    int opcode = lookupOpcodeN(text + start, end - start);
    const char* error = nullptr;
    if (opcode == NO_OPCODE) {
      error = "Syntax Error: Invalid command";
    } else {
      bytes[length++] = static_cast<uint8_t>(opcode);
      pos = encodeArguments(opcode, text, end, bytes, &length);
      if (pos < 0) error = "Syntax Error: Invalid argument at";
    }
    if (error != nullptr) {
      build.diagnostic = ScriptDiagnostic{error, keyword, start};
      free(bytes);
      return build;
    }
  }
  build.built = true;
  build.image.bytes = bytes;
  build.image.length = length;
  return build;
}
