// ":wait" and ":sleep" for scripts that drive the console, and the start-up wait of batch
// mode for the device's first answer. While they wait the receive timer and the posted
// commands keep running; input is read into the loop's buffer but no line is taken.
#include "frontends/console/console_loop.h"
#include "frontends/console/console_output.h"
#include "frontends/console/console_window.h"
#include "link/catalogue.h"
#include "resources/resource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

namespace {

constexpr int DEFAULT_WAIT_SECONDS = 5;
constexpr double MAX_WAIT_SECONDS = 1e6;   // keeps the deadline inside the clock's range
constexpr long MAX_SLEEP_MS = 1000000000L;

struct WaitState {
  bool timedOut = false;
};

WaitState waits;

// What one ":wait" looks for, and how far through the printed lines it has looked.
struct Awaited {
  bool mode = false;
  std::string name;      // the mode field text (mode waits)
  std::regex pattern;    // pattern waits
  uint64_t nextLine = 0;
};

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// A time-out in seconds: digits with an optional fraction.
bool readSeconds(const std::string& text, double& seconds) {
  size_t digits = text.find_first_not_of("0123456789.");
  if (text.empty() || digits != std::string::npos || text.find('.') != text.rfind('.') || text == ".") return false;
  seconds = std::strtod(text.c_str(), nullptr);
  if (seconds > MAX_WAIT_SECONDS) seconds = MAX_WAIT_SECONDS;
  return true;
}

// Splits "TEXT [SECONDS]": a last word that is a number is the time-out when words come before it.
void splitTimeout(const std::string& arguments, std::string& text, double& seconds) {
  text = trimmed(arguments);
  seconds = DEFAULT_WAIT_SECONDS;
  size_t space = text.find_last_of(" \t");
  if (space == std::string::npos) return;
  double given = 0;
  if (!readSeconds(text.substr(space + 1), given)) return;
  seconds = given;
  text = trimmed(text.substr(0, space));
}

bool lineMatches(const std::regex& pattern, const std::string& line) {
  // A pattern that is too costly for the matcher is taken as not matching that line.
  try {
    return std::regex_search(line, pattern);
  } catch (const std::regex_error&) {
    return false;
  }
}

// True once the awaited mode or line has been printed since the line before ":wait" was
// read, or (for a mode) the field shows it now.
bool arrived(void* context) {
  Awaited& a = *static_cast<Awaited*>(context);
  std::string line;
  for (; a.nextLine < consoleLinesPrinted(); ++a.nextLine) {
    if (!consolePrintedLine(a.nextLine, line)) continue;
    if (a.mode ? line == "mode: " + a.name || line == "fault: " + a.name : lineMatches(a.pattern, line)) return true;
  }
  return a.mode && consoleControlText(Dialog::Main, IDC_MODE_FIELD) == a.name;
}

std::string lastLineSeen() {
  std::string line;
  uint64_t printed = consoleLinesPrinted();
  if (printed == 0 || !consolePrintedLine(printed - 1, line)) return "nothing";
  return "\"" + line + "\"";
}

void timedOut(const std::string& awaited, const std::string& seen, double seconds) {
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%g", seconds);
  std::string text = "Timed out after " + std::string(secondsText) + " s waiting for " + awaited + "; " + seen;
  consoleDescribeNextLine("wait-timeout", jsonMember("awaited", jsonString(awaited)) + jsonMember("seen", jsonString(seen)) +
                                              jsonMember("seconds", jsonNumberOrString(secondsText)));
  consoleOutput() << text << '\n';
  consoleOutput().flush();
  waits.timedOut = true;
  consoleLoopStopReading();
}

bool sleepOver(void*) { return false; }

bool deviceAnswered(void*) {
  std::string field = consoleControlText(Dialog::Main, IDC_MODE_FIELD);
  if (consoleControlText(Dialog::Main, IDC_MODE_LABEL) == "Fault") return true;
  return field == modeNames[0] || modeCodeFromName(field.c_str()) > 1;   // None, or Idle and later
}

}  // namespace

void consoleWaitCommand(const std::string& arguments, bool sleep) {
  if (sleep) {
    char* end = nullptr;
    std::string text = trimmed(arguments);
    long ms = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || ms < 0 || ms > MAX_SLEEP_MS || text[0] == '-' || text[0] == '+') {
      consoleRefuse("Usage: :sleep MS");
      return;
    }
    consoleLoopPumpUntil(sleepOver, nullptr, consoleMonotonicMs() + ms);
    return;
  }
  Awaited a;
  std::string text;
  double seconds = DEFAULT_WAIT_SECONDS;
  splitTimeout(arguments, text, seconds);
  a.mode = text.compare(0, 5, "mode ") == 0 || text.compare(0, 5, "mode\t") == 0;
  if (a.mode) a.name = trimmed(text.substr(5));
  if (text.empty() || (a.mode && a.name.empty())) {
    consoleRefuse("Usage: :wait mode NAME [SECONDS] or :wait PATTERN [SECONDS]");
    return;
  }
  if (!a.mode) {
    // std::regex reports a pattern it cannot read only by throwing.
    try {
      a.pattern = std::regex(text, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
      consoleRefuse("Not a regular expression: " + text + " (" + e.what() + ")");
      return;
    }
  }
  a.nextLine = consoleLoopLinesBeforeLastRead();
  if (consoleLoopPumpUntil(arrived, &a, consoleMonotonicMs() + static_cast<int64_t>(seconds * 1000))) return;
  if (consoleQuitRequested()) return;
  if (a.mode)
    timedOut("mode " + a.name, "the mode field shows " + consoleControlText(Dialog::Main, IDC_MODE_FIELD), seconds);
  else
    timedOut("a line matching " + text, "the last line was " + lastLineSeen(), seconds);
}

bool consoleWaitTimedOut() { return waits.timedOut; }

bool consoleWaitForDevice(int timeoutMs) {
  return consoleLoopPumpUntil(deviceAnswered, nullptr, consoleMonotonicMs() + timeoutMs);
}
