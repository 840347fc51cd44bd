// The README's example script: it is the one the README shows, it compiles and lists back,
// and run with tracing on the device reports each instruction on its 25 ms step.
#include "process_harness.h"

#include <gtest/gtest.h>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

const std::string EXAMPLE = std::string(KINESTIM_SOURCE_DIR) + "/docs/examples/pulses.ks";

// Address, opcode and the step (25 ms each from the first) of each executed instruction.
struct Traced { int address; int opcode; int step; };
const Traced RUN[] = {{0, 3, 0},  {5, 2, 1},  {8, 4, 2},  {11, 2, 5}, {14, 4, 6},
                      {17, 2, 7}, {20, 4, 8}, {23, 3, 11}, {28, 0, 12}};

TEST(ReadmeExample, TheReadmeShowsTheExampleFile) {
  std::string readme = harness::readFile(std::string(KINESTIM_SOURCE_DIR) + "/README.md");
  std::string example = harness::readFile(EXAMPLE);
  ASSERT_FALSE(example.empty());
  EXPECT_NE(readme.find(example), std::string::npos) << "README.md must quote docs/examples/pulses.ks";
}

TEST(ReadmeExample, CompilesAndListsBackAsItsInstructions) {
  TempDir dir;
  std::string tool = harness::binary("kinestim-script");
  std::string compile = tool + " compile '" + EXAMPLE + "' -o " + dir.file("image") + " 2>/dev/null";
  ASSERT_EQ(std::system(compile.c_str()), 0);
  std::string list = tool + " list " + dir.file("image") + " >" + dir.file("listing") + " 2>/dev/null";
  ASSERT_EQ(std::system(list.c_str()), 0);
  EXPECT_EQ(harness::readFile(dir.file("listing")),
            "   0\tSetAllElectrodes\t128 128 128 128\r\n"
            "   5\tSetElectrode\t1 178\r\n"
            "   8\tDelay\t\t3\r\n"
            "  11\tSetElectrode\t1 128\r\n"
            "  14\tDelay\t\t1\r\n"
            "  17\tSetElectrode\t1 178\r\n"
            "  20\tDelay\t\t3\r\n"
            "  23\tSetAllElectrodes\t128 128 128 128\r\n"
            "  28\tStop\r\n");
}

TEST(ReadmeExample, UploadsAndRunsWithOneTracePerInstructionOnItsStep) {
  TempDir dir;
  Simulator sim(dir);
  ASSERT_TRUE(sim.ok());
  Process console;
  ASSERT_TRUE(harness::startConsole(console, {sim.port()}));
  ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();

  console.sendLine(":script-manager");
  ASSERT_TRUE(console.expect("script> ")) << console.output();
  console.sendLine("upload");
  ASSERT_TRUE(console.expect("Open: ")) << console.rest();
  console.sendLine(EXAMPLE);
  ASSERT_TRUE(console.expect("compiler output: Upload Successful\r\n", 10000)) << console.rest();
  console.sendLine("close");

  console.sendLine("21");  // 15  Trace On
  ASSERT_TRUE(sim.waitForFrame("< 00 15 mdgCmdAccepted")) << console.rest();
  console.sendLine(":run");
  ASSERT_TRUE(console.expect("Address (16-bit) [0]: ")) << console.rest();
  console.sendLine("");
  ASSERT_TRUE(console.expect("script: Running at 0x000\r\n")) << console.rest();
  ASSERT_TRUE(console.expect("status: Script terminated\r\n", 5000)) << console.rest();
  ASSERT_TRUE(sim.waitForFrame("> 07 cdgDeselectModeRunScr"));
  console.sendLine(":quit");
  EXPECT_EQ(console.waitExit(), 0);

  // The run as the device reported it, with the device's own time stamps.
  std::vector<std::pair<double, std::string>> traces;
  bool stopped = false;
  for (const std::string& line : harness::readLines(sim.transcriptPath())) {
    double ms = 0;
    char direction = 0;
    char rest[200] = {0};
    if (std::sscanf(line.c_str(), "%lf %c %199[^\n]", &ms, &direction, rest) != 3 || direction != '<') continue;
    std::string frame = rest;
    if (frame.find("mdgScrTrace") != std::string::npos) {
      EXPECT_FALSE(stopped) << "trace after the stop: " << frame;
      traces.emplace_back(ms, frame);
    }
    if (frame.find("mdgScrStopped") != std::string::npos) stopped = true;
  }
  EXPECT_TRUE(stopped);
  ASSERT_EQ(traces.size(), std::size(RUN));
  for (size_t i = 0; i < traces.size(); ++i) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "2a %.2x %.2x %.2x 00 mdgScrTrace", RUN[i].address & 0xff,
                  RUN[i].address >> 8, RUN[i].opcode);
    EXPECT_EQ(traces[i].second, expected) << "instruction " << i;
    // Never early: each instruction waits for its own 25 ms step.
    EXPECT_GE(traces[i].first - traces[0].first, RUN[i].step * 25.0 - 2.0) << "instruction " << i;
  }
}

}  // namespace
