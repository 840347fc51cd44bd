// Script Manager end to end: kinestim-console uploads, lists back, erases and runs the script
// memory of kinestim-sim, each running as its own process; the README's example among them.
#include "e2e_fixture.h"

namespace {

// 43 bytes, 28 instructions: 0 SetAllElectrodes, 5 Delay, 8 SetElectrode, 11 TiltLoop,
// 15 Call, 18 Goto, 21 to 40 NOP, 41 Return, 42 Stop.
std::string rampSource() {
  std::string s = "; ramp\r\nSetAllElectrodes 128 128 128 128\r\nDelay 40 ; one second\r\nSetElectrode 1 200\r\n"
                  "TiltLoop 1000 5\r\nCall 0x29\r\nGoto 0\r\n";
  for (int i = 0; i < 20; ++i) s += "NOP\r\n";
  return s + "Return\r\nStop\r\n";
}

// The listing: the given lines, then filler lines from fillFrom up to count lines.
std::string listing(std::vector<std::pair<int, const char*>> lines, int fillFrom, int count, const char* filler) {
  std::string out;
  char line[80];
  for (int k = 0; k < count; ++k) {
    const bool given = static_cast<size_t>(k) < lines.size();
    std::snprintf(line, sizeof line, "%4d\t%s\r\n", given ? lines[static_cast<size_t>(k)].first : fillFrom++, given ? lines[static_cast<size_t>(k)].second : filler);
    out += line;
  }
  return out;
}

class ScriptEndToEnd : public EndToEnd {
 protected:
  // Opens the Script Manager with its main-window button, which selects Program Script.
  void openScriptManager() {
    console.sendLine(":script-manager");
    ASSERT_TRUE(console.expect("script> ")) << console.output();
    ASSERT_TRUE(console.expect("mode: Program Script\r\n")) << console.rest();
    managerOpen = true;
  }
  void closeScriptManager() {
    console.sendLine("close");
    managerOpen = false;
  }
  void upload(const char* button, const std::string& path, const char* built) {
    console.sendLine(button);
    ASSERT_TRUE(console.expect("Open: "));
    console.sendLine(path);
    ASSERT_TRUE(console.expect(std::string("compiler output: ") + built + "\r\ncompiler output: \r\ncompiler output: Upload Successful\r\n")) << console.rest();
  }
  // The next count "memory: " lines, without the prefix.
  std::string memory(int count) {
    std::string lines;
    for (int k = 0; k < count && console.expect("memory: ") && console.expect("\r\n"); ++k) {
      const std::string& out = console.output();
      const size_t end = out.size() - console.rest().size(), start = out.rfind("memory: ", end - 2) + 8;
      lines += out.substr(start, end - start);
    }
    return lines;
  }
  void TearDown() override {
    if (managerOpen) closeScriptManager();
    EndToEnd::TearDown();
  }
  bool managerOpen = false;
};

TEST_F(ScriptEndToEnd, UploadViewAppendAndClear) {
  openScriptManager();
  upload("upload", writeFile("ramp.ks", rampSource()), "Build Successful");
  const std::vector<std::string> chunks = sent("0d ");
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0], "0d 00 00 03 80 80 80 80 04 28 00 02 01 c8 08 e8 03 05 06 cdgSrcUldMem");
  EXPECT_EQ(chunks[2], "0d 20 00 01 01 01 01 01 01 01 01 01 07 00 cdgSrcUldMem");
  EXPECT_EQ(sim.count("< 1f 00 00 10 mdgScrMemUlded"), 1);
  console.sendLine("view");
  EXPECT_EQ(memory(20), listing({{0, "SetAllElectrodes\t128 128 128 128"}, {5, "Delay\t\t40"}, {8, "SetElectrode\t1 200"},
                                 {11, "TiltLoop\t\t1000 5"}, {15, "Call\t\t41"}, {18, "Goto\t\t0"}}, 21, 20, "NOP"));
  console.sendLine("address");
  ASSERT_TRUE(console.expect("address: 35\r\n")) << console.rest();
  EXPECT_EQ(sim.count("> 0e 00 00 05 cdgScrDldMem"), 1);
  console.sendLine("append");   // goes on where View stopped
  EXPECT_EQ(memory(20), listing({{35, "NOP"}, {36, "NOP"}, {37, "NOP"}, {38, "NOP"}, {39, "NOP"}, {40, "NOP"}, {41, "Return"}}, 42, 20, "Stop"));
  console.sendLine("address");
  ASSERT_TRUE(console.expect("address: 55\r\n")) << console.rest();
  // Clear Mem asks first; No sends nothing.
  console.sendLine("clear-mem");
  ASSERT_TRUE(console.expect("Are you sure?: Really erase all script memory on the Kinestim?\r\n[y/n] "));
  console.sendLine("n");
  console.settle(300);
  EXPECT_TRUE(sent("0c ").empty());
  console.sendLine("clear-mem");
  ASSERT_TRUE(console.expect("[y/n] "));
  console.sendLine("y");
  ASSERT_TRUE(sim.waitForFrame("< 1e mdgScrMemCleared"));
  console.sendLine("address 0");
  console.sendLine("view");
  EXPECT_EQ(memory(20), listing({}, 0, 20, "Stop"));
}

TEST_F(ScriptEndToEnd, SamplesUploadAndListBack) {
  openScriptManager();
  console.sendLine("timestep 100");
  console.sendLine("address 0x100");
  upload("samples", writeFile("samples.txt", "0 0 0 0\r\n1 -1 0.5 2.54\r\n"), "Script Generation Successful");
  EXPECT_EQ(sent("0d "), (std::vector<std::string>{"0d 00 01 03 80 80 80 80 04 03 00 03 b1 4e 98 fe 04 03 00 cdgSrcUldMem", "0d 10 01 00 cdgSrcUldMem"}));
  console.sendLine("view");
  EXPECT_EQ(memory(5), listing({{256, "SetAllElectrodes\t128 128 128 128"}, {261, "Delay\t\t3"}, {264, "SetAllElectrodes\t177 78 152 254"},
                                {269, "Delay\t\t3"}, {272, "Stop"}}, 0, 5, ""));
}

// The README quotes the example file; kinestim-script compiles and lists it back, and run with
// tracing on, the device reports each instruction once, in order, then stops.
TEST_F(ScriptEndToEnd, TheReadmeExampleIsQuotedCompilesListsBackAndRunsTraced) {
  const std::string example = std::string(KINESTIM_SOURCE_DIR) + "/docs/examples/pulses.ks";
  const std::string text = harness::readFile(example), tool = harness::binary("kinestim-script");
  ASSERT_FALSE(text.empty());
  EXPECT_NE(harness::readFile(std::string(KINESTIM_SOURCE_DIR) + "/README.md").find(text), std::string::npos);
  ASSERT_EQ(std::system((tool + " compile '" + example + "' -o " + dir.file("image") + " 2>/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((tool + " list " + dir.file("image") + " >" + dir.file("listing") + " 2>/dev/null").c_str()), 0);
  EXPECT_EQ(harness::readFile(dir.file("listing")),
            "   0\tSetAllElectrodes\t128 128 128 128\r\n   5\tSetElectrode\t1 178\r\n   8\tDelay\t\t3\r\n"
            "  11\tSetElectrode\t1 128\r\n  14\tDelay\t\t1\r\n  17\tSetElectrode\t1 178\r\n  20\tDelay\t\t3\r\n"
            "  23\tSetAllElectrodes\t128 128 128 128\r\n  28\tStop\r\n");
  openScriptManager();
  upload("upload", example, "Build Successful");
  closeScriptManager();
  console.sendLine("21");  // 15  Trace On
  ASSERT_TRUE(sim.waitForFrame("< 00 15 mdgCmdAccepted")) << console.rest();
  console.sendLine(":run");
  ASSERT_TRUE(console.expect("Address (16-bit) [0]: ")) << console.rest();
  console.sendLine("");
  ASSERT_TRUE(console.expect("script: Running at 0x000\r\n")) << console.rest();
  ASSERT_TRUE(console.expect("status: Script terminated\r\n")) << console.rest();
  ASSERT_TRUE(sim.waitForFrame("> 07 cdgDeselectModeRunScr"));
  std::string run;
  for (const std::string& f : sim.frames('<')) run += f.rfind("2a ", 0) == 0 || f.rfind("29 ", 0) == 0 ? f.substr(0, 12) + "|" : "";
  EXPECT_EQ(run, "2a 00 00 03 |2a 05 00 02 |2a 08 00 04 |2a 0b 00 02 |2a 0e 00 04 |2a 11 00 02 |2a 14 00 04 |"
                 "2a 17 00 03 |2a 1c 00 00 |29 1c 00 mdg|");
}

}  // namespace
