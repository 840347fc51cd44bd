// Process tests of kinestim-console: the program on a pseudo-terminal, talking to
// kinestim-sim over the simulator's pseudo-terminal, checked by its output and the
// simulator's transcript.
#include "process_harness.h"

#include <gtest/gtest.h>

namespace {

using harness::Process;

TEST(ConsoleStartUp, AnUnopenablePortIsFatalWithStatusOneAndBadCommandLinesShowUsage) {
  harness::TempDir dir;
  const std::vector<std::vector<std::string>> lines = {
      {dir.file("no-such-port")}, {"--bogus"}, {"/dev/null", "/dev/zero"}, {"--simulate", "/dev/null"}};
  for (const auto& args : lines) {
    Process console;
    ASSERT_TRUE(harness::startConsole(console, args));
    const bool fatal = &args == &lines[0];
    EXPECT_TRUE(console.expect(fatal ? "Fatal Error!: Failed to open communications port\r\n" : "Usage: kinestim-console"));
    console.sendLine("");
    EXPECT_EQ(console.waitExit(), fatal ? 1 : 2) << args[0];
    EXPECT_EQ(console.output().find("local control:"), std::string::npos) << "no main window was set up";
  }
}

// Disabled controls and unknown commands only explain; a Warning waits for a line while the
// device keeps talking; a cancelled dialog sends nothing; the end of input exits with 0.
TEST(ConsoleProcess, MistakesOnlyExplainAndAWarningWaitsForALineWhileTheDeviceKeepsTalking) {
  harness::TempDir dir;
  harness::Simulator sim{dir};
  Process console;
  ASSERT_TRUE(sim.ok() && harness::startConsole(console, {sim.port()}));
  EXPECT_EQ(harness::play(console, &sim, {
      {'<', "mode: Idle\r\n"},
      {'>', ":slider 1 100"}, {'<', "Electrode 1 slider is disabled\r\n"},
      {'>', ":slider-key 2 down"}, {'<', "Electrode 2 slider is disabled\r\n"},
      {'>', ":slider 5 100"}, {'<', "There is no electrode 5 (electrodes are 1 to 4)\r\n"},
      {'>', ":slider 1"}, {'<', "Usage: :slider N POS\r\n"},
      {'>', ":frobnicate"}, {'<', "Unknown command :frobnicate (type :help)\r\n"},
      {'>', ":stop-log"}, {'<', "Stop Log is greyed in the menu\r\n"},
      {'>', ":run now"}, {'<', ":run takes no argument (type :help)\r\n"},
      {'>', ":run"}, {'<', "Address (16-bit) [0]: "}, {'=', "> 06 cdgSelectModeRunScr"},
      {'>', "abc"}, {'<', "Warning: Address must be a number from 0 to 65535, not \"abc\"\r\n(press Enter) "},
      {'-', "Address (16-bit)"},
      {'>', ""}, {'<', "Address (16-bit) [abc]: "},
      {'>', "."}, {'-', "sent: "}, {'#', "0 > 09 "}, {'#', "0 > 12 "}, {'%', "0 sent: "}}), "");
  console.send("\x04");   // Ctrl+D
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
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(^\[ *[0-9]+\.[0-9]{3}\] .*\r$)"))) << line;
  }
  EXPECT_GT(count, 5);
}

}  // namespace
