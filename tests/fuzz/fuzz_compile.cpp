// Fuzz target: arbitrary source text through the script compiler. A compiled image must
// decode back into whole instructions of the instruction set.
#include "fake_link.h"
#include "script/compiler.h"
#include "script/instruction_set.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The compiler sees the file as the Script Manager hands it over: bytes up to a NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t length = strlen(text.c_str());
  ScriptBuild build = compileScript(text.c_str());
  ScriptImage& image = build.image;
  const long errorOffset = build.diagnostic.offset;
  if (!build.built) {
    check(image.bytes == nullptr && image.length == 0);
    check(errorOffset >= 0 && static_cast<size_t>(errorOffset) < length);
    check(build.diagnostic.message.rfind("Syntax Error: Invalid ", 0) == 0);
    return 0;
  }
  // Every instruction takes fewer bytes than its source text.
  check(image.length >= 0 && static_cast<size_t>(image.length) <= length);
  int at = 0;
  for (; at < image.length; at += instructionLength(image.bytes[at])) check(image.bytes[at] < OPCODE_COUNT);
  check(at == image.length);
  releaseScriptImage(image);
  return 0;
}
