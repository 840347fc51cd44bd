// The port named on the command line, read before anything is opened: a port number, on
// Windows also "COMn" in any case, on POSIX also an absolute device path. Anything else is
// refused with a text that names what was given and what is accepted.
#pragma once

enum class PortNaming { Posix, Windows };

struct PortArgument {
  int number = 1;              // used when path is empty
  const char* path = nullptr;  // the device path as given (POSIX), else nullptr
};

// Reads text (nullptr or white space only: port 1). False when it names no port; refusal
// then holds the reason (at most refusalSize bytes, terminated).
bool readPortArgument(const char* text, PortNaming naming, PortArgument* port, char* refusal, int refusalSize);
