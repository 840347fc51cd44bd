// Keyword lookup over the opcode table, and the script image record.
#include "script/instruction_set.h"
#include <cstdlib>

static char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int lookupOpcodeN(const char* text, long length) {
  for (int row = 0; row < OPCODE_COUNT; ++row) {
    const char* keyword = scriptOpcodes[row].keyword;
    long i = 0;
    while (i < length && keyword[i] != '\0' && asciiLower(text[i]) == asciiLower(keyword[i])) ++i;
    if (i == length && keyword[i] == '\0') return row;
  }
  return NO_OPCODE;
}

void releaseScriptImage(ScriptImage& image) {
  free(image.bytes);
  image.bytes = nullptr;
  image.length = 0;
}
