// Tests of the benchmark readers: frames rebuilt from split reads and writes of the wire log,
// traffic lines, stamped output, quantiles and process figures. The simulator's own wire log
// is checked in tests/sim.
#include "bench/bench_wire.h"
#include "tests/test_bytes.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// Each frame as "<dir> <bytes> <first ms>-<last ms>|", then the stray byte and bad line counts.
std::string render(const WireLog& log) {
  std::string out;
  for (const WireFrame& f : log.frames) {
    char line[200];
    snprintf(line, sizeof line, "%c %s %g-%g|", f.direction, hex(f.bytes).c_str(), f.firstMs, f.lastMs);
    out += line;
  }
  return out + std::to_string(log.strayBytes) + " " + std::to_string(log.badLines);
}

TEST(BenchReaders, WireLogTrafficLinesStampedOutputQuantilesAndProcessFigures) {
  const std::pair<const char*, const char*> logs[] = {
      // One byte per write, as a paced line gives them.
      {"10.000 < aa\n11.042 < 01\n12.083 < 0b\n13.125 < 0b\n14.167 < 55\n", "< aa 01 0b 0b 55 10-14.167|0 0"},
      // A read that ends one frame and starts the next.
      {"5.5 > aa 01 00\n6.5 > 00 55 aa 01\n7.5 > 01 01 55\n", "> aa 01 00 00 55 5.5-6.5|> aa 01 01 01 55 6.5-7.5|0 0"},
      // The two directions are reassembled apart, and listed as their last bytes pass.
      {"1.0 > aa 01\n2.0 < aa 02 00\n3.0 > 00 00 55\n4.0 < 0d 0d 55\n",
       "> aa 01 00 00 55 1-3|< aa 02 00 0d 0d 55 2-4|0 0"},
      // Stray bytes before a start byte, a frame cut off by the end of the log, bad lines.
      {"1.0 < 13 55\nnonsense\n2.0 < aa 00 00 55\n3.0 x aa\n4.0 < zz\n5.0 < aa 05 01\n", "< aa 00 00 55 2-2|2 3"},
      {"", "0 0"}};
  for (const auto& [text, frames] : logs) EXPECT_EQ(render(parseWireLog(text)), frames) << text;
  const std::pair<const char*, const char*> traffic[] = {
      {"received: 32 mdgTilt <da> <b3> <96> <b5> <c2> <b7> <7e> <b9>", "32 da b3 96 b5 c2 b7 7e b9"},
      {"received: 00 mdgCmdAccepted <ff>", "00 ff"}, {"sent: 0f cdgScrArm 05 00", "0f 05 00"},
      {"received: ", ""}, {"tilt x: 0.0000", ""}};
  for (const auto& [line, payload] : traffic) EXPECT_EQ(hex(trafficLinePayload(line)), payload) << line;
  const char* output = "[2813315.164] local control: checked\r\nStep [1]: [2813393.207] mode: Idle\r\n"
                       "no stamp here\r\n[  12.5] received: 00 mdgCmdAccepted\r\n[bad] x\r\n";
  std::string stamped;
  for (const StampedLine& l : parseStampedOutput(output)) stamped += std::to_string(l.ms) + " " + l.text + "|";
  EXPECT_EQ(stamped, "2813315.164000 local control: checked|2813393.207000 mode: Idle|"
                     "12.500000 received: 00 mdgCmdAccepted|");
  const std::vector<double> v = {5, 1, 4, 2, 3, 10, 9, 8, 7, 6};
  EXPECT_EQ((std::vector<double>{quantile(v, 0), quantile(v, 0.5), quantile(v, 0.99), quantile(v, 1), quantile({}, 1)}),
            (std::vector<double>{1, 5, 10, 10, 0}));
  EXPECT_TRUE(processCpuTicks(getpid()) >= 0 && processRunNs(getpid()) > 0 && processStatusKb(getpid(), "VmRSS") > 0);
  EXPECT_EQ(std::pair(processStatusKb(getpid(), "VmNoSuchField"), processCpuTicks(-5)), std::pair(-1L, -1LL));
}

}  // namespace
