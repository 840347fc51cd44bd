// Fuzz target: arbitrary sample-file text (after a two-byte timestep) through the sample
// generator, without the upload. A generated image is rows of SetAllElectrodes, each with its
// Delay when the timestep asks for one, and one Stop; every field of an accepted file is a
// current on the scale, four to a row.
#include "fake_link.h"
#include "script/compiler.h"
#include "script/instruction_set.h"
#include "script/samples.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t timestep = static_cast<int32_t>(data[0] | (data[1] << 8));
  int delay = 0;
  check(sampleDelayCount(timestep, &delay) && delay == timestep / SCRIPT_STEP_MS - 1);
  std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  ScriptBuild build = generateSampleImage(text.c_str(), delay);
  ScriptImage& image = build.image;
  if (!build.built) {
    check(image.bytes == nullptr && image.length == 0 && !build.diagnostic.message.empty());
    return 0;
  }
  const int rowSize = delay > 0 ? 8 : 5;
  check(image.length >= 1 && (image.length - 1) % rowSize == 0 && image.bytes[image.length - 1] == opStop);
  for (int row = 0; row + 1 < image.length; row += rowSize) {
    check(image.bytes[row] == opSetAllElectrodes);
    const int delayCount = delay > 0 ? image.bytes[row + 6] | (image.bytes[row + 7] << 8) : 0;
    check(delay <= 0 || (image.bytes[row + 5] == opDelay && delayCount == (delay & 0xFFFF)));
  }
  int fields = 0;
  for (char *p = text.data(), *end = nullptr;; p = end, ++fields) {
    const double current = strtod(p, &end);
    if (end == p) break;
    check(current > -2.58 && current < 2.56);
  }
  check(fields == 4 * ((image.length - 1) / rowSize));
  releaseScriptImage(image);
  return 0;
}
