// The simulator's control channel: parses control lines and applies them to the device.
#include "sim/control.h"
#include "sim/device.h"
#include "sim/tilt_model.h"
#include "link/catalogue.h"
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int MAX_TOKENS = 300;
constexpr int MAX_LINE = 1024;
constexpr int MAX_STALL_MS = 60000;
constexpr int MAX_HANGUP_MS = 600000;

struct ControlState {
  SimLineRequest line;  // asked by the last control line, taken by the port's owner
};

ControlState control;

struct Tokens {
  char text[MAX_LINE + 1];
  const char* items[MAX_TOKENS];
  int count;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Splits the line at white space; false when it has too many tokens or is too long.
bool tokenize(const char* line, Tokens& tokens) {
  tokens.count = 0;
  if (std::strlen(line) > MAX_LINE) return false;
  std::strcpy(tokens.text, line);
  char* p = tokens.text;
  while (*p != '\0') {
    while (isBlank(*p)) *p++ = '\0';
    if (*p == '\0') break;
    if (tokens.count == MAX_TOKENS) return false;
    tokens.items[tokens.count++] = p;
    while (*p != '\0' && !isBlank(*p)) ++p;
  }
  return true;
}

bool parseLong(const char* text, long minimum, long maximum, long& value) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < minimum || v > maximum) return false;
  value = v;
  return true;
}

bool parseDouble(const char* text, double& value) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex bytes from tokens like "13", "aa0155" or "0x55"; false on anything else.
bool parseHexBytes(const Tokens& tokens, uint8_t* out, int capacity, int& count, char* message, int size) {
  count = 0;
  for (int i = 1; i < tokens.count; ++i) {
    const char* t = tokens.items[i];
    if (t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t += 2;
    const int length = static_cast<int>(std::strlen(t));
    if (length == 0 || length % 2 != 0) {
      std::snprintf(message, static_cast<size_t>(size), "garbage: '%s' is not a run of hex byte pairs", tokens.items[i]);
      return false;
    }
    for (int k = 0; k < length; k += 2) {
      const int hi = hexDigit(t[k]), lo = hexDigit(t[k + 1]);
      if (hi < 0 || lo < 0) {
        std::snprintf(message, static_cast<size_t>(size), "garbage: '%s' is not a run of hex byte pairs", tokens.items[i]);
        return false;
      }
      if (count == capacity) {
        std::snprintf(message, static_cast<size_t>(size), "garbage: more than %d bytes", capacity);
        return false;
      }
      out[count++] = static_cast<uint8_t>(hi * 16 + lo);
    }
  }
  if (count == 0) {
    std::snprintf(message, static_cast<size_t>(size), "garbage: needs at least one hex byte");
    return false;
  }
  return true;
}

bool faultFromText(const char* text, long& code) {
  if (parseLong(text, 0, 255, code)) return true;
  for (int i = 0; i < FAULT_COUNT; ++i) {
    if (std::strcmp(text, faultNames[i]) == 0) { code = i; return true; }
  }
  return false;
}

SimControlResult fail(char* message, int capacity, const char* format, const char* detail) {
  std::snprintf(message, static_cast<size_t>(capacity), format, detail);
  return SimControlResult::Error;
}

}  // namespace

SimControlResult simControlLine(int64_t nowUs, const char* line, int powerOnDelayMs,
                                char* message, int capacity) {
  if (capacity > 0) message[0] = '\0';
  Tokens tokens;
  if (!tokenize(line, tokens)) return fail(message, capacity, "control line too long%s", "");
  if (tokens.count == 0 || tokens.items[0][0] == '#') return SimControlResult::Ok;
  const char* word = tokens.items[0];
  const int args = tokens.count - 1;
  auto usage = [&](const char* form) { return fail(message, capacity, "usage: %s", form); };

  if (std::strcmp(word, "tilt") == 0) {
    double x = 0.0, y = 0.0;
    if (args != 2 || !parseDouble(tokens.items[1], x) || !parseDouble(tokens.items[2], y)) return usage("tilt X Y (degrees)");
    simSetTilt(x, y);
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "period") == 0) {
    double p = 0.0;
    if (args != 1 || !parseDouble(tokens.items[1], p) || p < SIM_MIN_PERIOD || p > SIM_MAX_PERIOD) {
      return usage("period P (ticks, 100 to 20000)");
    }
    simSetPeriod(nowUs, p);
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "noise") == 0) {
    long n = 0;
    if (args != 1 || !parseLong(tokens.items[1], 0, SIM_MAX_NOISE, n)) return usage("noise TICKS (0 to 1000)");
    simSetNoise(static_cast<int>(n));
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "drift") == 0) {
    double d = 0.0;
    if (args != 1 || !parseDouble(tokens.items[1], d)) return usage("drift TICKS_PER_SECOND");
    simSetPeriod(nowUs, simCurrentPeriod(nowUs));
    simSetDrift(d);
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "fault") == 0) {
    long code = 0;
    if (args != 1 || !faultFromText(tokens.items[1], code)) return usage("fault CODE (0 to 255, or a fault name)");
    if (!simRaiseFault(nowUs, static_cast<uint8_t>(code))) return fail(message, capacity, "fault ignored: the device is off%s", "");
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "knob") == 0) {
    long e = 0, code = 0;
    if (args != 2 || !parseLong(tokens.items[1], 1, 4, e) || !parseLong(tokens.items[2], 0, 255, code)) {
      return usage("knob E CODE (electrode 1 to 4, current code 0 to 255)");
    }
    if (!simKnob(nowUs, static_cast<int>(e), static_cast<uint8_t>(code))) {
      return fail(message, capacity, "knob ignored: the device is off, starting up or in Fault mode%s", "");
    }
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "garbage") == 0) {
    uint8_t bytes[SIM_MAX_GARBAGE];
    int count = 0;
    if (!parseHexBytes(tokens, bytes, SIM_MAX_GARBAGE, count, message, capacity)) return SimControlResult::Error;
    simInjectGarbage(nowUs, bytes, count);
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "corrupt-next") == 0) {
    const char* kind = args >= 1 ? tokens.items[1] : "checksum";
    if (args > 1) return usage("corrupt-next [checksum|eot|sot]");
    if (std::strcmp(kind, "checksum") == 0) simCorruptNext(SimCorruption::Checksum);
    else if (std::strcmp(kind, "eot") == 0) simCorruptNext(SimCorruption::EndByte);
    else if (std::strcmp(kind, "sot") == 0) simCorruptNext(SimCorruption::StartByte);
    else return usage("corrupt-next [checksum|eot|sot]");
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "drop-next") == 0) {
    if (args != 0) return usage("drop-next");
    simDropNext();
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "stall-next") == 0) {
    long ms = 0;
    if (args != 1 || !parseLong(tokens.items[1], 1, MAX_STALL_MS, ms)) return usage("stall-next MS (1 to 60000)");
    simStallNext(static_cast<int>(ms));
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "silent") == 0) {
    if (args == 1 && std::strcmp(tokens.items[1], "on") == 0) { simSetSilent(true); return SimControlResult::Ok; }
    if (args == 1 && std::strcmp(tokens.items[1], "off") == 0) { simSetSilent(false); return SimControlResult::Ok; }
    return usage("silent on|off");
  }
  if (std::strcmp(word, "power-cycle") == 0) {
    if (args != 0) return usage("power-cycle");
    simPowerOff();
    simPowerOn(nowUs, powerOnDelayMs);
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "too-fast") == 0) {
    if (args != 0) return usage("too-fast");
    if (!simIsPowered()) return fail(message, capacity, "too-fast ignored: the device is off%s", "");
    simSendTooFast(nowUs);
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "hangup") == 0) {
    long ms = 0;
    if (args != 1 || !parseLong(tokens.items[1], 0, MAX_HANGUP_MS, ms)) return usage("hangup MS (0 to 600000)");
    control.line = SimLineRequest{SimLineAction::Hangup, static_cast<int>(ms)};
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "break") == 0 || std::strcmp(word, "framing-error") == 0) {
    if (args != 0) return usage(word);
    const bool isBreak = word[0] == 'b';
    control.line = SimLineRequest{isBreak ? SimLineAction::Break : SimLineAction::FramingError, 0};
    return SimControlResult::Ok;
  }
  if (std::strcmp(word, "quit") == 0) {
    if (args != 0) return usage("quit");
    return SimControlResult::Quit;
  }
  char shown[64];
  std::snprintf(shown, sizeof shown, "%s", word);
  return fail(message, capacity, "unknown control line '%s' (see --help)", shown);
}

const char* simControlHelp() {
  return "Control lines (on standard input, one per line):\n"
         "  tilt X Y            set the tilt to X and Y degrees\n"
         "  period P            set the sensor pulse period to P ticks (100 to 20000, default 1000)\n"
         "  noise N             jitter every reported edge by up to N ticks (0 to 1000)\n"
         "  drift D             let the period drift by D ticks per second from now on\n"
         "  fault CODE          raise fault CODE (0 to 255, or a name such as WatchdogTimer)\n"
         "  knob E CODE         turn the local knob of electrode E (1-4) to current code CODE;\n"
         "                      rejected with mdgLclCmdRejectedLclCtrlDisabled while local\n"
         "                      control is disabled\n"
         "  garbage HEX...      put raw bytes on the line, e.g. garbage 13 aa 01\n"
         "  corrupt-next [checksum|eot|sot]\n"
         "                      damage the next frame the device sends (default: checksum)\n"
         "  drop-next           do not send the next frame the device produces\n"
         "  stall-next MS       send half of the next frame, the rest MS ms later\n"
         "  silent on|off       keep working but send nothing / send again\n"
         "  power-cycle         switch off and on again (script memory is kept)\n"
         "  too-fast            send mdgRxRateTooFast\n"
         "  hangup MS           close the port (the host sees a hang-up) and make it again\n"
         "                      MS ms later, behind the same --link path; its new path is\n"
         "                      printed as another \"port: PATH\" line; the device keeps its state\n"
         "  break               send a break (a serial device only; a pseudo-terminal\n"
         "                      cannot carry one)\n"
         "  framing-error       send a byte at half the line speed, which the host receives\n"
         "                      with a framing error (a serial device only)\n"
         "  quit                end the simulator\n"
         "  # text              a comment; blank lines are ignored too\n";
}

SimLineRequest simTakeLineRequest() {
  SimLineRequest taken = control.line;
  control.line = SimLineRequest{};
  return taken;
}
