// Time seam on Windows: GetTickCount and GetLocalTime.
#include "platform/clock.h"
#include <windows.h>

uint32_t tickCountMs() { return GetTickCount(); }

LocalTime localTimeNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

void sleepMs(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}
