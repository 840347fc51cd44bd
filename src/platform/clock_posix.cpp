// Time seam on POSIX: CLOCK_MONOTONIC ticks and the local wall-clock time.
#include "platform/clock.h"
#include <ctime>
#include <sys/time.h>

uint32_t tickCountMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

LocalTime localTimeNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  time_t seconds = tv.tv_sec;
  tm parts{};
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(tv.tv_usec / 1000)};
}

void sleepMs(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
