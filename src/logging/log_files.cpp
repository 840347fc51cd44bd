// Log file steps shared by the traffic log and the data log: the Save As choice, the
// "Error Opening log file" warning, close and restart, and the local-time stamp.
#include "logging/log_files.h"
#include "ui/message_boxes.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/window.h"
#include <cstdio>

namespace {

constexpr int SAVE_PATH_SIZE = 300;

}  // namespace

int formatTimeStamp(char* out) {
  LocalTime t = localTimeNow();
  return std::snprintf(out, TIME_STAMP_SIZE, "%.2d\t%.2d\t%.2d.%.3d ", t.hour, t.minute, t.second,
                       t.millisecond);
}

intptr_t chooseAndCreateLogFile() {
  char path[SAVE_PATH_SIZE] = "";
  if (!chooseSaveFileName(path, SAVE_PATH_SIZE)) return NO_FILE;
  FileHandle f = createLogFile(path);
  if (f == NO_FILE) showWarning("Error Opening log file");
  return f;
}

void closeLogFile(intptr_t& file) {
  closeFileHandle(file);
  file = NO_FILE;
}

void restartLogFile(intptr_t& file) {
  closeLogFile(file);
  file = chooseAndCreateLogFile();
}
