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

namespace {

struct TrafficLogState {
  LogFile log;
};
TrafficLogState trafficLogState;

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

void putLineOnTop(std::string& pane, const char* text) {
  std::string line = text != nullptr ? text : "";
  line += "\r\n";
  if (line.size() > static_cast<size_t>(PANE_TEXT_LIMIT)) line.resize(PANE_TEXT_LIMIT);
  line += pane;
  pane.swap(line);
  if (pane.size() > static_cast<size_t>(PANE_TEXT_LIMIT)) pane.resize(PANE_TEXT_LIMIT);
}

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
  putPaneLine(IDC_SENT_PANE, text);
  logTrafficLine("\t", text);
}

void showReceivedText(const char* text) {
  putPaneLine(IDC_RECEIVED_PANE, text);
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
