// Traffic display and packet log: the Sent and Received panes as two aligned columns, newest
// line on top, and the optional time-stamped traffic log file.
#include "logging/traffic.h"
#include "logging/data_log.h"
#include "logging/log_files.h"
#include "platform/window.h"
#include "link/catalogue.h"
#include "resource.h"
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct TrafficLogState {
  LogFile log;
};
TrafficLogState trafficLogState;

// Reads a pane's text, at most PANE_TEXT_LIMIT characters.
std::string paneText(int paneId) {
  char buffer[PANE_TEXT_LIMIT + 1];
  int n = getControlText(Dialog::Main, paneId, buffer, sizeof buffer);
  if (n < 0) n = 0;
  return std::string(buffer, static_cast<size_t>(n));
}

// Puts text and CR LF on top of its pane, keeping the newest PANE_TEXT_LIMIT characters,
// and an empty line on top of the other pane so that the two columns stay aligned.
void addTrafficRow(int ownPane, int otherPane, const char* text) {
  std::string own = text;
  own += "\r\n";
  if (own.size() > static_cast<size_t>(PANE_TEXT_LIMIT)) own.resize(PANE_TEXT_LIMIT);
  own += paneText(ownPane).substr(0, PANE_TEXT_LIMIT - own.size());
  setControlText(Dialog::Main, ownPane, own.c_str());

  std::string other = "\r\n";
  other += paneText(otherPane).substr(0, PANE_TEXT_LIMIT - 2);
  setControlText(Dialog::Main, otherPane, other.c_str());
}

void logTrafficLine(const char* tabs, const char* text) {
  if (!isTrafficLogOpen()) return;
  char stamp[TIME_STAMP_SIZE];
  formatTimeStamp(stamp);
  std::string line = stamp;
  line += tabs;
  line += text;
  line += "\r\n";
  writeTrafficLog(line.data(), static_cast<int>(line.size()));
}

}  // namespace

void showSentCommand(const uint8_t* payload, int length) {
  if (payload == nullptr || length < 1) return;
  const char* name = commandName(payload[0]);
  char item[8];
  std::snprintf(item, sizeof item, "%.2x ", payload[0]);
  std::string line = item;
  line += name != nullptr ? name : "(unknown)";
  for (int i = 1; i < length; ++i) {
    std::snprintf(item, sizeof item, " %.2x", payload[i]);
    line += item;
  }
  showSentText(line.c_str());
}

void showSentText(const char* text) {
  addTrafficRow(IDC_SENT_PANE, IDC_RECEIVED_PANE, text);
  logTrafficLine("\t", text);
}

void showReceivedText(const char* text) {
  addTrafficRow(IDC_RECEIVED_PANE, IDC_SENT_PANE, text);
  logTrafficLine("\t\t\t", text);
}

// A start while the log is open (typing 73) closes the earlier file before the new choice,
// so no file is left open and unwritten; a cancelled choice leaves the log closed.
void startTrafficLog() { restartLogFile(trafficLogState.log); }

void stopTrafficLog() {
  closeLogFile(trafficLogState.log);
  setDataLogTimeStamps(false);
}

bool isTrafficLogOpen() { return trafficLogState.log.handle != NO_FILE; }

void writeTrafficLog(const char* bytes, int length) { writeLogLine(trafficLogState.log, bytes, length); }
