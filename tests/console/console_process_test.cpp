// Process tests of kinestim-console: the program on a pseudo-terminal, talking to
// kinestim-sim over the simulator's pseudo-terminal, checked by its output and the
// simulator's transcript.
#include "process_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

class ConsoleProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(dir);
    ASSERT_TRUE(sim->ok()) << "kinestim-sim did not report its port";
  }
  void startConsole(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {sim->port()};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(harness::startConsole(console, args));
  }
  TempDir dir;
  std::unique_ptr<Simulator> sim;
  Process console;
};

TEST(ConsoleStartUp, AnUnopenablePortIsFatalWithStatusOne) {
  TempDir dir;
  Process console;
  ASSERT_TRUE(harness::startConsole(console, {dir.file("no-such-port")}));
  EXPECT_TRUE(console.expect("Fatal Error!: Failed to open communications port\r\n"));
  console.sendLine("");
  EXPECT_EQ(console.waitExit(), 1);
  // Nothing of the main window was set up.
  EXPECT_EQ(console.output().find("local control:"), std::string::npos) << console.output();
}

TEST(ConsoleStartUp, BadCommandLinesAreRefusedWithUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"}, {"/dev/null", "/dev/zero"}, {"--simulate", "/dev/null"}};
  for (const auto& args : cases) {
    Process console;
    ASSERT_TRUE(harness::startConsole(console, args));
    EXPECT_TRUE(console.expect("Usage: kinestim-console")) << args[0];
    EXPECT_EQ(console.waitExit(), 2) << args[0];
  }
}

TEST_F(ConsoleProcess, PowerOnDirectModeAndASliderRelease) {
  startConsole();
  ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  EXPECT_TRUE(console.expect("run button: enabled\r\n"));
  console.sendLine("2");
  ASSERT_TRUE(console.expect("mode: Direct\r\n")) << console.output();
  ASSERT_TRUE(sim->waitForFrame("> 02 cdgSelectModeDirect"));
  EXPECT_NE(console.output().find("electrode 1: enabled\r\n"), std::string::npos) << console.output();

  console.sendLine(":slider 1 200");
  ASSERT_TRUE(console.expect("electrode 1: 1 (+1.44)\r\n")) << console.output();
  ASSERT_TRUE(sim->waitForFrame("> 09 01 c8 cdgSetElectrode")) << harness::readFile(sim->transcriptPath());
  EXPECT_EQ(sim->count("> 09 01 c8 cdgSetElectrode"), 1);
  // Collapsed at start: the traffic is not printed.
  EXPECT_EQ(console.output().find("sent: "), std::string::npos);

  console.sendLine(":quit");
  EXPECT_EQ(console.waitExit(), 0);
}

TEST_F(ConsoleProcess, DisabledControlsAndUnknownCommandsOnlyExplain) {
  startConsole();
  ASSERT_TRUE(console.expect("mode: Idle\r\n"));
  const struct { const char* line; const char* answer; } cases[] = {
      {":slider 1 100", "Electrode 1 slider is disabled\r\n"},
      {":slider-key 2 down", "Electrode 2 slider is disabled\r\n"},
      {":slider 5 100", "There is no electrode 5 (electrodes are 1 to 4)\r\n"},
      {":slider 1", "Usage: :slider N POS\r\n"},
      {":frobnicate", "Unknown command :frobnicate (type :help)\r\n"},
      {":stop-log", "Stop Log is greyed in the menu\r\n"},
      {":run now", ":run takes no argument (type :help)\r\n"},
  };
  for (const auto& c : cases) {
    console.sendLine(c.line);
    EXPECT_TRUE(console.expect(c.answer)) << c.line << "\n" << console.rest();
  }
  console.sendLine(":quit");
  EXPECT_EQ(console.waitExit(), 0);
  for (const std::string& f : sim->frames('>')) EXPECT_EQ(f.rfind("09 ", 0), std::string::npos) << f;
}

TEST_F(ConsoleProcess, AWarningWaitsForALineWhileTheDeviceKeepsTalking) {
  startConsole();
  ASSERT_TRUE(console.expect("mode: Idle\r\n"));
  console.sendLine(":run");
  ASSERT_TRUE(console.expect("Address (16-bit) [0]: ")) << console.output();
  ASSERT_TRUE(sim->waitForFrame("> 06 cdgSelectModeRunScr"));
  console.sendLine("abc");
  ASSERT_TRUE(console.expect("Warning: Address must be a number from 0 to 65535\r\n(press Enter) "));
  console.settle(300);
  EXPECT_EQ(console.rest().find("Address (16-bit)"), std::string::npos) << console.rest();
  console.sendLine("");
  ASSERT_TRUE(console.expect("Address (16-bit) [abc]: "));
  console.sendLine(".");
  console.settle(200);
  // Cancelled: the run request never went out.
  for (const std::string& f : sim->frames('>')) EXPECT_EQ(f.rfind("12 ", 0), std::string::npos) << f;
  console.sendEndOfInput();
  EXPECT_EQ(console.waitExit(), 0);
}

TEST_F(ConsoleProcess, EndOfInputClosesTheWindowWithStatusZero) {
  startConsole({"--expanded"});
  ASSERT_TRUE(console.expect("received: 0b mdgEnteredModeIdle\r\n")) << console.output();
  console.sendEndOfInput();
  EXPECT_EQ(console.waitExit(), 0);
}

TEST_F(ConsoleProcess, TimestampsPrefixEveryLine) {
  startConsole({"--timestamps"});
  ASSERT_TRUE(console.expect("mode: Idle\r\n"));
  console.sendLine(":quit");
  EXPECT_EQ(console.waitExit(), 0);
  std::istringstream lines(console.output());
  std::string line;
  static const std::regex stamped(R"(^\[ *[0-9]+\.[0-9]{3}\] .*\r$)");
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    ++count;
  }
  EXPECT_GT(count, 5);
}

// Children of a process, from /proc.
std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t child;
  while (in >> child) children.push_back(child);
  return children;
}

TEST(ConsoleSimulate, StartsTheSimulatorAndStopsItAtExit) {
  for (const char* ending : {":quit", "end of input"}) {
    Process console;
    ASSERT_TRUE(harness::startConsole(console, {"--simulate"}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
    std::vector<pid_t> children = childrenOf(console.pid());
    ASSERT_EQ(children.size(), 1u);
    if (std::string(ending) == ":quit")
      console.sendLine(":quit");
    else
      console.sendEndOfInput();
    EXPECT_EQ(console.waitExit(), 0) << ending;
    EXPECT_NE(kill(children[0], 0), 0) << "the simulator outlived the console (" << ending << ")";
  }
}

}  // namespace
