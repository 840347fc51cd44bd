// Process tests of kinestim-console: the program on a pseudo-terminal, talking to
// kinestim-sim over the simulator's pseudo-terminal, checked by its output and the
// simulator's transcript.
#include "process_harness.h"

#include <gtest/gtest.h>

namespace {

using harness::Process;

class ConsoleProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.ok()) << "kinestim-sim did not report its port";
    ASSERT_TRUE(harness::startConsole(console, {sim.port()}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  }
  harness::TempDir dir;
  harness::Simulator sim{dir};
  Process console;
};

TEST(ConsoleStartUp, AnUnopenablePortIsFatalWithStatusOneAndBadCommandLinesShowUsage) {
  harness::TempDir dir;
  Process fatal;
  ASSERT_TRUE(harness::startConsole(fatal, {dir.file("no-such-port")}));
  EXPECT_TRUE(fatal.expect("Fatal Error!: Failed to open communications port\r\n"));
  fatal.sendLine("");
  EXPECT_EQ(fatal.waitExit(), 1);
  EXPECT_EQ(fatal.output().find("local control:"), std::string::npos) << "nothing of the main window was set up";
  const std::vector<std::vector<std::string>> badLines = {
      {"--bogus"}, {"/dev/null", "/dev/zero"}, {"--simulate", "/dev/null"}};
  for (const auto& args : badLines) {
    Process console;
    ASSERT_TRUE(harness::startConsole(console, args));
    EXPECT_TRUE(console.expect("Usage: kinestim-console")) << args[0];
    EXPECT_EQ(console.waitExit(), 2) << args[0];
  }
}

// Disabled controls and unknown commands only explain; a Warning waits for a line while the
// device keeps talking; a cancelled dialog sends nothing; the end of input exits with 0.
TEST_F(ConsoleProcess, MistakesOnlyExplainAndAWarningWaitsForALineWhileTheDeviceKeepsTalking) {
  const struct { const char* line; const char* answer; } cases[] = {
      {":slider 1 100", "Electrode 1 slider is disabled\r\n"},
      {":slider-key 2 down", "Electrode 2 slider is disabled\r\n"},
      {":slider 5 100", "There is no electrode 5 (electrodes are 1 to 4)\r\n"},
      {":slider 1", "Usage: :slider N POS\r\n"},
      {":frobnicate", "Unknown command :frobnicate (type :help)\r\n"},
      {":stop-log", "Stop Log is greyed in the menu\r\n"},
      {":run now", ":run takes no argument (type :help)\r\n"}};
  for (const auto& c : cases) {
    console.sendLine(c.line);
    EXPECT_TRUE(console.expect(c.answer)) << c.line << "\n" << console.rest();
  }
  console.sendLine(":run");
  ASSERT_TRUE(console.expect("Address (16-bit) [0]: ")) << console.output();
  ASSERT_TRUE(sim.waitForFrame("> 06 cdgSelectModeRunScr"));
  console.sendLine("abc");
  ASSERT_TRUE(console.expect("Warning: Address must be a number from 0 to 65535, not \"abc\"\r\n(press Enter) "));
  console.settle(300);
  EXPECT_EQ(console.rest().find("Address (16-bit)"), std::string::npos) << console.rest();
  console.sendLine("");
  ASSERT_TRUE(console.expect("Address (16-bit) [abc]: "));
  console.sendLine(".");
  console.settle(200);
  for (const std::string& f : sim.frames('>')) {
    EXPECT_TRUE(f.rfind("09 ", 0) != 0 && f.rfind("12 ", 0) != 0) << f << " went out";
  }
  EXPECT_EQ(console.output().find("sent: "), std::string::npos) << "collapsed at start: no traffic printed";
  console.sendEndOfInput();
  EXPECT_EQ(console.waitExit(), 0);
}

// --simulate runs its own simulator and stops it at exit; --timestamps stamps every line.
TEST(ConsoleSimulate, StartsTheSimulatorStampsEveryLineAndStopsTheSimulatorAtExit) {
  Process console;
  ASSERT_TRUE(harness::startConsole(console, {"--simulate", "--timestamps"}));
  ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  const std::string pid = std::to_string(console.pid());
  std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
  pid_t child = 0;
  ASSERT_TRUE(children >> child);
  console.sendLine(":quit");
  EXPECT_EQ(console.waitExit(), 0);
  EXPECT_NE(kill(child, 0), 0) << "the simulator outlived the console";
  std::istringstream lines(console.output());
  static const std::regex stamped(R"(^\[ *[0-9]+\.[0-9]{3}\] .*\r$)");
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  }
  EXPECT_GT(count, 5);
}

}  // namespace
