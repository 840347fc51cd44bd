// Fuzz target: parseNumber and readWholeNumber against the C library's base-0 conversion,
// which follows the same "%i" rules; parseNumber saturates at the 32-bit limits and gives -1
// when no number starts, and "0x" with no hexadecimal digit after it starts none.
#include "fake_link.h"
#include "ui/parameters.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  char* end = nullptr;
  const long long reference = strtoll(text.c_str(), &end, 0);
  const char* p = text.c_str() + strspn(text.c_str(), " \t\n\v\f\r");
  p += *p == '+' || *p == '-';
  const bool bareHexPrefix = p[0] == '0' && (p[1] | 0x20) == 'x' && !isxdigit(static_cast<unsigned char>(p[2]));
  const bool none = end == text.c_str() || bareHexPrefix;
  const long long saturated = reference > INT32_MAX ? INT32_MAX : reference < INT32_MIN ? INT32_MIN : reference;
  const int32_t expected = none ? -1 : static_cast<int32_t>(saturated);
  check(parseNumber(text.c_str()) == expected);
  while (isspace(static_cast<unsigned char>(*end))) ++end;
  int32_t whole = 0;
  const bool isWhole = readWholeNumber(text.c_str(), &whole);
  check(isWhole == (!none && *end == '\0') && (!isWhole || whole == expected));
  return 0;
}
