// Fuzz target: arbitrary source text through the script compiler. A compiled image must
// decode back into whole instructions of the instruction set.
#include "script/compiler.h"
#include "script/instruction_set.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The compiler sees the file as the Script Manager hands it over: bytes up to a NUL.
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const size_t length = strlen(text.data());

  resetCompilerOutput();
  ScriptImage image{};
  long errorOffset = -1;
  if (!compileScript(text.data(), image, &errorOffset)) {
    check(image.bytes == nullptr && image.length == 0);
    check(errorOffset >= 0 && static_cast<size_t>(errorOffset) < length);
    check(strncmp(lastCompilerOutput(), "Syntax Error: Invalid ", 22) == 0);
    return 0;
  }
  // Every instruction takes fewer bytes than its source text.
  check(image.length >= 0 && static_cast<size_t>(image.length) <= length);
  int at = 0;
  while (at < image.length) {
    check(image.bytes[at] < OPCODE_COUNT);
    at += instructionLength(image.bytes[at]);
  }
  check(at == image.length);
  releaseScriptImage(image);
  return 0;
}
