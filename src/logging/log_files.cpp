// Log file steps shared by the traffic log and the data log: the Save As choice, the
// "Error Opening log file" warning, writes that stop the log on a failure, close and restart,
// and the local-time stamp.
#include "logging/log_files.h"
#include "ui/message_boxes.h"
#include "platform/clock.h"
#include "platform/window.h"
#include <cstdio>

namespace {

constexpr int SAVE_PATH_SIZE = 300;
constexpr int REASON_SIZE = 200;
constexpr int WARNING_SIZE = SAVE_PATH_SIZE + REASON_SIZE + 80;

struct LogFilesState {
  LogClosedHandler onClosed = nullptr;
};
LogFilesState logFiles;

// The log is off before the Warning opens, so nothing written while it is showing tries the
// failed file again.
void stopOnFailure(LogFile& log, const char* reason) {
  std::string path = log.path;
  log.handle = NO_FILE;
  log.path.clear();
  if (logFiles.onClosed != nullptr) logFiles.onClosed();
  char text[WARNING_SIZE];
  std::snprintf(text, sizeof text, "Error writing log file %s: %s\r\nThe log is stopped", path.c_str(), reason);
  showWarning(text);
}

}  // namespace

int formatTimeStamp(char* out) {
  LocalTime t = localTimeNow();
  return std::snprintf(out, TIME_STAMP_SIZE, "%.2d\t%.2d\t%.2d.%.3d ", t.hour, t.minute, t.second,
                       t.millisecond);
}

void chooseAndCreateLogFile(LogFile& log) {
  char path[SAVE_PATH_SIZE] = "";
  if (!chooseSaveFileName(path, SAVE_PATH_SIZE)) return;
  log.handle = createLogFile(path);
  if (log.handle == NO_FILE) showWarning("Error Opening log file");
  else log.path = path;
}

// A file system that reports a failure only when the file is closed (a network share, a
// removed stick) gets the same Warning as a failed write.
void closeLogFile(LogFile& log) {
  if (log.handle == NO_FILE) return;
  if (!closeFileHandle(log.handle)) {
    char reason[REASON_SIZE];
    lastFileErrorText(reason, sizeof reason);
    stopOnFailure(log, reason);
    return;
  }
  log.handle = NO_FILE;
  log.path.clear();
}

void restartLogFile(LogFile& log) {
  closeLogFile(log);
  chooseAndCreateLogFile(log);
}

void writeLogLine(LogFile& log, const char* bytes, int length) {
  if (log.handle == NO_FILE || bytes == nullptr || length <= 0) return;
  if (writeFileBytes(log.handle, bytes, length) == length) return;
  char reason[REASON_SIZE];
  lastFileErrorText(reason, sizeof reason);
  closeFileHandle(log.handle);   // the write's reason is the one shown, not the close's
  stopOnFailure(log, reason);
}

void setLogClosedHandler(LogClosedHandler handler) { logFiles.onClosed = handler; }
