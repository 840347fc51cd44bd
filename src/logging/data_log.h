// Current-and-tilt data log: one line per tilt reading.
#pragma once

void setDataLogTimeStamps(bool on);
bool dataLogTimeStamps();
void startDataLog();
void stopDataLog();
bool isDataLogOpen();
void writeDataLogLine(double xDegrees, double yDegrees);
// Formats the line writeDataLogLine writes (time stamp as the flag says); returns length.
int formatDataLogLine(char* out, int capacity, double xDegrees, double yDegrees);
