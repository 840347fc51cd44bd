// Tests of the benchmark readers: frames rebuilt from split reads and writes of the wire log,
// traffic lines, stamped output, quantiles and process figures. The simulator's own wire log
// is checked in tests/sim.
#include "bench/bench_wire.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Each frame as "<dir> <bytes> <first ms>-<last ms>|", then the stray byte and bad line counts.
std::string render(const WireLog& log) {
  std::string out;
  char line[200];
  for (const WireFrame& f : log.frames) {
    std::string bytes;
    for (uint8_t b : f.bytes) snprintf(line, sizeof line, " %.2x", b), bytes += line;
    snprintf(line, sizeof line, "%c%s %g-%g|", f.direction, bytes.c_str(), f.firstMs, f.lastMs);
    out += line;
  }
  return out + std::to_string(log.strayBytes) + " " + std::to_string(log.badLines);
}

TEST(WireLog, RebuildsFramesWithTheTimesOfTheirFirstAndLastBytes) {
  const struct { const char* log; const char* frames; } cases[] = {
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
  for (const auto& c : cases) EXPECT_EQ(render(parseWireLog(c.log)), c.frames) << c.log;
}

TEST(TrafficLine, PayloadOfReceivedAndSentLinesAndNothingForOthers) {
  const struct { const char* text; Bytes payload; } cases[] = {
      {"received: 32 mdgTilt <da> <b3> <96> <b5> <c2> <b7> <7e> <b9>",
       {0x32, 0xda, 0xb3, 0x96, 0xb5, 0xc2, 0xb7, 0x7e, 0xb9}},
      {"received: 00 mdgCmdAccepted", {0x00}},
      {"received: 00 mdgCmdAccepted <ff>", {0x00, 0xff}},
      {"sent: 0f cdgScrArm 05 00", {0x0f, 0x05, 0x00}},
      {"sent: 1c cdgDldTilt", {0x1c}},
      {"status: New period detected - recalibrate", {}},
      {"received: ", {}},
      {"tilt x: 0.0000", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(trafficLinePayload(c.text), c.payload) << c.text;
}

TEST(StampedOutput, TakesTheStampAfterAPromptAndDropsLineEnds) {
  std::vector<StampedLine> lines = parseStampedOutput(
      "[2813315.164] local control: checked\r\n"
      "Step [1]: [2813393.207] mode: Idle\r\n"
      "no stamp here\r\n"
      "[  12.5] received: 00 mdgCmdAccepted\r\n"
      "[bad] x\r\n");
  std::string all;
  for (const StampedLine& l : lines) all += std::to_string(l.ms) + " " + l.text + "|";
  EXPECT_EQ(all, "2813315.164000 local control: checked|2813393.207000 mode: Idle|12.500000 received: 00 mdgCmdAccepted|");
}

TEST(Figures, QuantileByNearestRankAndOwnProcessFigures) {
  const std::vector<double> v = {5, 1, 4, 2, 3, 10, 9, 8, 7, 6};
  EXPECT_EQ((std::vector<double>{quantile(v, 0), quantile(v, 0.5), quantile(v, 0.99), quantile(v, 1), quantile({}, 0.5)}),
            (std::vector<double>{1, 5, 10, 10, 0}));
  EXPECT_GE(processCpuTicks(getpid()), 0);
  EXPECT_GT(processRunNs(getpid()), 0);
  EXPECT_GT(processStatusKb(getpid(), "VmRSS"), 0);
  EXPECT_EQ((std::vector<long long>{processStatusKb(getpid(), "VmNoSuchField"), processCpuTicks(-5)}),
            (std::vector<long long>{-1, -1}));
}

}  // namespace
