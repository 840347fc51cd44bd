// Fuzz target: parseNumber and readWholeNumber against the C library's base-0 conversion,
// which follows the same "%i" rules; parseNumber saturates at the 32-bit limits and gives -1
// when no number starts, and "0x" with no hexadecimal digit after it starts none.
#include "ui/parameters.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

static bool bareHexPrefix(const char* p) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+' || *p == '-') ++p;
  return p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && !std::isxdigit(static_cast<unsigned char>(p[2]));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const int32_t got = parseNumber(text.data());

  char* end = nullptr;
  errno = 0;
  long long reference = strtoll(text.data(), &end, 0);
  int32_t expected;
  const bool none = end == text.data() || bareHexPrefix(text.data());
  if (none) expected = -1;
  else if (reference > INT32_MAX) expected = INT32_MAX;
  else if (reference < INT32_MIN) expected = INT32_MIN;
  else expected = static_cast<int32_t>(reference);
  if (got != expected) abort();
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  int32_t whole = 0;
  const bool isWhole = readWholeNumber(text.data(), &whole);
  if (isWhole != (!none && *end == '\0') || (isWhole && whole != expected)) abort();
  return 0;
}
