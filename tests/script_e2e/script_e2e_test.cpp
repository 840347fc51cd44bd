// Script Manager end to end: kinestim-console uploads, lists back and erases the script
// memory of kinestim-sim, each running as its own process.
#include "process_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using harness::Process;
using harness::Simulator;
using harness::TempDir;

// 43 bytes, 28 instructions: 0 SetAllElectrodes, 5 Delay, 8 SetElectrode, 11 TiltLoop,
// 15 Call, 18 Goto, 21 to 40 NOP, 41 Return, 42 Stop.
std::string rampSource() {
  std::string s =
      "; ramp\r\n"
      "SetAllElectrodes 128 128 128 128\r\n"
      "Delay 40 ; one second\r\n"
      "SetElectrode 1 200\r\n"
      "TiltLoop 1000 5\r\n"
      "Call 0x29\r\n"
      "Goto 0\r\n";
  for (int i = 0; i < 20; ++i) s += "NOP\r\n";
  return s + "Return\r\nStop\r\n";
}

std::string lineAt(int address, const char* text) {
  char line[64];
  std::snprintf(line, sizeof line, "%4d\t%s", address, text);
  return line;
}

class ScriptEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<Simulator>(dir);
    ASSERT_TRUE(sim->ok()) << "kinestim-sim did not report its port";
    ASSERT_TRUE(harness::startConsole(console, {sim->port()}));
    ASSERT_TRUE(console.expect("mode: Idle\r\n")) << console.output();
  }
  void TearDown() override {
    console.sendLine("close");
    console.sendLine(":quit");
    EXPECT_EQ(console.waitExit(), 0) << console.output();
    sim->control("quit");
  }

  std::string writeFile(const std::string& name, const std::string& text) {
    std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Opens the Script Manager with its main-window button, which selects Program Script.
  void openScriptManager() {
    console.sendLine(":script-manager");
    ASSERT_TRUE(console.expect("script> ")) << console.output();
    ASSERT_TRUE(console.expect("mode: Program Script\r\n")) << console.rest();
  }

  // The "memory: " lines printed since the last match, once count of them are there.
  std::vector<std::string> memoryLines(size_t count) {
    std::vector<std::string> lines;
    for (size_t k = 0; k < count; ++k) {
      if (!console.expect("memory: ") || !console.expect("\r\n")) break;
      const std::string& out = console.output();
      size_t end = out.size() - console.rest().size() - 2;
      size_t start = out.rfind("memory: ", end) + 8;
      lines.push_back(out.substr(start, end - start));
    }
    return lines;
  }

  std::vector<std::string> uploadChunks() {
    std::vector<std::string> chunks;
    for (const std::string& f : sim->frames('>'))
      if (f.rfind("0d ", 0) == 0) chunks.push_back(f);
    return chunks;
  }

  TempDir dir;
  std::unique_ptr<Simulator> sim;
  Process console;
};

TEST_F(ScriptEndToEnd, UploadViewAppendAndClear) {
  openScriptManager();
  console.sendLine("upload");
  ASSERT_TRUE(console.expect("Open: "));
  console.sendLine(writeFile("ramp.ks", rampSource()));
  ASSERT_TRUE(console.expect("compiler output: Build Successful\r\ncompiler output: \r\n"
                             "compiler output: Upload Successful\r\n"))
      << console.rest();
  std::vector<std::string> chunks = uploadChunks();
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0], "0d 00 00 03 80 80 80 80 04 28 00 02 01 c8 08 e8 03 05 06 cdgSrcUldMem");
  EXPECT_EQ(chunks[1].substr(0, 9), "0d 10 00 ");
  EXPECT_EQ(chunks[2], "0d 20 00 01 01 01 01 01 01 01 01 01 07 00 cdgSrcUldMem");
  EXPECT_EQ(sim->count("< 1f 00 00 10 mdgScrMemUlded"), 1);

  console.sendLine("view");
  std::vector<std::string> first = memoryLines(20);
  ASSERT_EQ(first.size(), 20u) << console.output();
  EXPECT_EQ(first[0], lineAt(0, "SetAllElectrodes\t128 128 128 128"));
  EXPECT_EQ(first[1], lineAt(5, "Delay\t\t40"));
  EXPECT_EQ(first[2], lineAt(8, "SetElectrode\t1 200"));
  EXPECT_EQ(first[3], lineAt(11, "TiltLoop\t\t1000 5"));
  EXPECT_EQ(first[4], lineAt(15, "Call\t\t41"));
  EXPECT_EQ(first[5], lineAt(18, "Goto\t\t0"));
  for (int k = 6; k < 20; ++k) EXPECT_EQ(first[static_cast<size_t>(k)], lineAt(21 + k - 6, "NOP")) << k;
  console.sendLine("address");
  ASSERT_TRUE(console.expect("address: 35\r\n")) << console.rest();
  EXPECT_EQ(sim->count("> 0e 00 00 05 cdgScrDldMem"), 1);

  // Append goes on where View stopped.
  console.sendLine("append");
  std::vector<std::string> second = memoryLines(20);
  ASSERT_EQ(second.size(), 20u) << console.output();
  for (int k = 0; k < 6; ++k) EXPECT_EQ(second[static_cast<size_t>(k)], lineAt(35 + k, "NOP")) << k;
  EXPECT_EQ(second[6], lineAt(41, "Return"));
  for (int k = 7; k < 20; ++k) EXPECT_EQ(second[static_cast<size_t>(k)], lineAt(42 + k - 7, "Stop")) << k;
  console.sendLine("address");
  ASSERT_TRUE(console.expect("address: 55\r\n")) << console.rest();

  // Clear Mem asks first; No sends nothing.
  console.sendLine("clear-mem");
  ASSERT_TRUE(console.expect("Are you sure?: Really erase all script memory on the Kinestim?\r\n[y/n] "));
  console.sendLine("n");
  console.settle(300);
  EXPECT_EQ(sim->count("> 0c cdgScrClearMem"), 0);
  console.sendLine("clear-mem");
  ASSERT_TRUE(console.expect("[y/n] "));
  console.sendLine("y");
  ASSERT_TRUE(sim->waitForFrame("< 1e mdgScrMemCleared"));

  console.sendLine("address 0");
  console.sendLine("view");
  std::vector<std::string> cleared = memoryLines(20);
  ASSERT_EQ(cleared.size(), 20u);
  EXPECT_EQ(cleared[0], lineAt(0, "Stop"));
  EXPECT_EQ(cleared[19], lineAt(19, "Stop"));
}

TEST_F(ScriptEndToEnd, SamplesUploadAndListBack) {
  openScriptManager();
  console.sendLine("timestep 100");
  console.sendLine("address 0x100");
  console.sendLine("samples");
  ASSERT_TRUE(console.expect("Open: "));
  console.sendLine(writeFile("samples.txt", "0 0 0 0\r\n1 -1 0.5 2.54\r\n"));
  ASSERT_TRUE(console.expect("compiler output: Script Generation Successful\r\ncompiler output: \r\n"
                             "compiler output: Upload Successful\r\n"))
      << console.rest();
  EXPECT_EQ(uploadChunks(), (std::vector<std::string>{
                                "0d 00 01 03 80 80 80 80 04 03 00 03 b1 4e 98 fe 04 03 00 cdgSrcUldMem",
                                "0d 10 01 00 cdgSrcUldMem"}));
  console.sendLine("view");
  std::vector<std::string> lines = memoryLines(5);
  ASSERT_EQ(lines.size(), 5u) << console.output();
  EXPECT_EQ(lines[0], lineAt(256, "SetAllElectrodes\t128 128 128 128"));
  EXPECT_EQ(lines[1], lineAt(261, "Delay\t\t3"));
  EXPECT_EQ(lines[2], lineAt(264, "SetAllElectrodes\t177 78 152 254"));
  EXPECT_EQ(lines[3], lineAt(269, "Delay\t\t3"));
  EXPECT_EQ(lines[4], lineAt(272, "Stop"));
}

TEST_F(ScriptEndToEnd, ChunkPastTheEndOfMemoryEndsTheUpload) {
  openScriptManager();
  console.sendLine("address 2040");
  console.sendLine("upload");
  ASSERT_TRUE(console.expect("Open: "));
  console.sendLine(writeFile("ramp.ks", rampSource()));
  ASSERT_TRUE(sim->waitForFrame("< 20 f8 07 10 mdgCmdRejectedUldMemAddrRange"));
  ASSERT_TRUE(console.expect("script> ")) << console.rest();
  console.settle(300);
  EXPECT_EQ(uploadChunks().size(), 1u);
  EXPECT_EQ(console.output().find("Upload Successful"), std::string::npos);
  EXPECT_EQ(console.output().find("Warning:"), std::string::npos);
}

}  // namespace
