// Port argument reader shared by both front-ends: a wrong port may have another device on it,
// so a text that is not clearly a port is refused instead of being read as port 1 or as the
// number at its start.
#include "link/port_argument.h"
#include "link/serial_port.h"
#include <cstdio>
#include <cstring>

namespace {

constexpr int PATH_LIMIT = 255;   // the longest device path the POSIX backend keeps

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The digits from begin to end as a port number 1 to MAX_PORT_NUMBER, else 0.
int portNumberOf(const char* begin, const char* end) {
  if (begin == end || end - begin > 5) return 0;
  int value = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
  }
  return value <= MAX_PORT_NUMBER ? value : 0;
}

bool isComPrefix(const char* p) {
  return (p[0] | 0x20) == 'c' && (p[1] | 0x20) == 'o' && (p[2] | 0x20) == 'm';
}

}  // namespace

bool readPortArgument(const char* text, PortNaming naming, PortArgument* port, char* refusal, int refusalSize) {
  *port = PortArgument{};
  if (refusalSize > 0) refusal[0] = '\0';
  if (text == nullptr) return true;
  const char* begin = text;
  const char* end = text + strlen(text);
  // The Windows command line arrives as one text with the blanks around it.
  if (naming == PortNaming::Windows) {
    while (begin < end && isBlank(*begin)) ++begin;
    while (end > begin && isBlank(end[-1])) --end;
  }
  if (begin == end && naming == PortNaming::Windows) return true;
  if ((port->number = portNumberOf(begin, end)) != 0) return true;
  if (naming == PortNaming::Windows && end - begin > 3 && isComPrefix(begin) &&
      (port->number = portNumberOf(begin + 3, end)) != 0)
    return true;
  if (naming == PortNaming::Posix && *begin == '/' && end - begin <= PATH_LIMIT) {
    port->path = begin;
    return true;
  }
  port->number = 0;
  const int shown = end - begin > 60 ? 60 : static_cast<int>(end - begin);
  if (naming == PortNaming::Windows)
    std::snprintf(refusal, static_cast<size_t>(refusalSize),
                  "\"%.*s\" is not a port: give a port number from 1 to %d, or COM1 to COM%d", shown, begin,
                  MAX_PORT_NUMBER, MAX_PORT_NUMBER);
  else
    std::snprintf(refusal, static_cast<size_t>(refusalSize),
                  "\"%.*s\" is not a port: give a port number from 1 to %d (1 is /dev/ttyS0), or a device "
                  "path such as /dev/ttyUSB0", shown, begin, MAX_PORT_NUMBER);
  return false;
}
