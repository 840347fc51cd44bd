// End-to-end fixture: kinestim-sim and kinestim-console as their own processes, meeting on
// the simulator's pseudo-terminal with the console at Idle; both end cleanly after the test.
#pragma once
#include "process_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.ok()) << "kinestim-sim did not report its port";
    ASSERT_TRUE(harness::startConsole(console, {sim.port()}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  }
  void TearDown() override {
    console.sendLine(":quit");
    EXPECT_EQ(console.waitExit(), 0) << console.output();
    sim.control("quit");
  }
  // Host frames that start with the given bytes.
  std::vector<std::string> sent(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& f : sim.frames('>'))
      if (f.rfind(prefix, 0) == 0) out.push_back(f);
    return out;
  }
  std::string writeFile(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name);
  }
  harness::TempDir dir;
  harness::Simulator sim{dir};
  harness::Process console;
};
