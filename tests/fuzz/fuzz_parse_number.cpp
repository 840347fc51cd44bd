// Fuzz target: parseNumber against the C library's base-0 conversion, which follows the same
// "%i" rules; parseNumber saturates at the 32-bit limits and gives -1 when no number starts.
#include "ui/parameters.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const int32_t got = parseNumber(text.data());

  char* end = nullptr;
  errno = 0;
  long long reference = strtoll(text.data(), &end, 0);
  int32_t expected;
  if (end == text.data()) expected = -1;
  else if (reference > INT32_MAX) expected = INT32_MAX;
  else if (reference < INT32_MIN) expected = INT32_MIN;
  else expected = static_cast<int32_t>(reference);
  if (got != expected) abort();
  return 0;
}
