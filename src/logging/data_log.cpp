// Current-and-tilt data log: for each tilt reading one line of the four stored electrode
// currents and the two angles, time-stamped while the stamp flag is on.
#include "logging/data_log.h"
#include "logging/log_files.h"
#include "ui/electrodes.h"
#include <cstdio>

namespace {

constexpr int DATA_LINE_SIZE = 192;

struct DataLogState {
  LogFile log;
  bool timeStamps = false;
};
DataLogState dataLogState;

double current(int electrode) { return static_cast<double>(codeToCurrent(getElectrodeCode(electrode))); }

}  // namespace

void setDataLogTimeStamps(bool on) { dataLogState.timeStamps = on; }

bool dataLogTimeStamps() { return dataLogState.timeStamps; }

// A start while the log is open (typing 72) closes the earlier file before the new choice.
void startDataLog() { restartLogFile(dataLogState.log); }

void stopDataLog() { closeLogFile(dataLogState.log); }

bool isDataLogOpen() { return dataLogState.log.handle != NO_FILE; }

int formatDataLogLine(char* out, int capacity, double xDegrees, double yDegrees) {
  if (out == nullptr || capacity <= 0) return 0;
  int len = 0;
  if (dataLogState.timeStamps && capacity >= TIME_STAMP_SIZE) len = formatTimeStamp(out);
  else out[0] = '\0';
  int n = std::snprintf(out + len, static_cast<size_t>(capacity - len),
                        "\t\t%+7.2f\t%+7.2f\t%+7.2f\t%+7.2f\t\t%9.1f\t%9.1f\r\n", current(1),
                        current(2), current(3), current(4), xDegrees, yDegrees);
  if (n < 0) return len;
  len += n;
  return len < capacity ? len : capacity - 1;
}

void writeDataLogLine(double xDegrees, double yDegrees) {
  if (!isDataLogOpen()) return;  // every tilt reading calls this: no clock read or formatting for nothing
  char line[DATA_LINE_SIZE];
  int len = formatDataLogLine(line, sizeof line, xDegrees, yDegrees);
  writeLogLine(dataLogState.log, line, len);
}
