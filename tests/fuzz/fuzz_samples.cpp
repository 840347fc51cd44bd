// Fuzz target: arbitrary sample-file text (after a two-byte timestep) through the sample
// generator, without the upload. A generated image is rows of SetAllElectrodes, each with its
// Delay when the timestep asks for one, and one Stop.
#include "script/compiler.h"
#include "script/instruction_set.h"
#include "script/samples.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t timestep = static_cast<int32_t>(data[0] | (data[1] << 8));
  int delay = 0;
  resetCompilerOutput();
  check(sampleDelayCount(timestep, &delay));
  check(delay == timestep / SAMPLE_STEP_MS - 1);

  std::vector<char> text(data + 2, data + size);
  text.push_back('\0');
  ScriptImage image{};
  if (!generateSampleImage(text.data(), delay, image)) {
    check(image.bytes == nullptr && image.length == 0);
    check(lastCompilerOutput()[0] != '\0');
    return 0;
  }
  const int rowSize = delay > 0 ? 8 : 5;
  check(image.length >= 1 && (image.length - 1) % rowSize == 0);
  for (int row = 0; row + 1 < image.length; row += rowSize) {
    check(image.bytes[row] == opSetAllElectrodes);
    if (delay > 0) {
      check(image.bytes[row + 5] == opDelay);
      check((image.bytes[row + 6] | (image.bytes[row + 7] << 8)) == (delay & 0xFFFF));
    }
  }
  check(image.bytes[image.length - 1] == opStop);
  releaseScriptImage(image);
  return 0;
}
