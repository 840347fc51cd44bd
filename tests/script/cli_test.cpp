// kinestim-script tests through the executable: exact standard output and error streams,
// exit statuses, and compile/list round trips.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string readAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class ScriptTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/kinestim-script-cli-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  std::string file(const std::string& name, const std::string& content) {
    std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Runs kinestim-script with the arguments in the test folder; killed after 10 s.
  ToolRun run(const std::vector<std::string>& args) {
    ToolRun r;
    std::string outPath = folder_ + "/stdout", errPath = folder_ + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv = {const_cast<char*>(KINESTIM_SCRIPT_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawn(&pid, KINESTIM_SCRIPT_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << KINESTIM_SCRIPT_PATH;
      return r;
    }
    int status = 0;
    for (int waited = 0;; waited += 10) {
      pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) break;
      if (waited >= 10000) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "kinestim-script did not finish";
        break;
      }
      usleep(10000);
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readAll(outPath);
    r.err = readAll(errPath);
    return r;
  }

  std::string folder_;
};

const char FOUR_INSTRUCTIONS[] =
    "; test script\r\nSetAllElectrodes 128 128 128 128\r\nDelay 40\r\nSetElectrode 1 200\r\nGoto 0\r\n";

TEST_F(ScriptTool, CompileToStandardOutput) {
  ToolRun r = run({"compile", file("a.ks", FOUR_INSTRUCTIONS)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "03 80 80 80 80 04 28 00 02 01 c8 05 00 00\n");
  EXPECT_EQ(r.err, "image: 14 bytes, fits in script memory at 0 (ends at 13)\n");
}

TEST_F(ScriptTool, CompileToImageFile) {
  std::string image = folder_ + "/a.img";
  ToolRun r = run({"compile", file("a.ks", FOUR_INSTRUCTIONS), "-o", image, "--at", "2034"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "image: 14 bytes, fits in script memory at 2034 (ends at 2047)\n");
  EXPECT_EQ(readAll(image), std::string("\x03\x80\x80\x80\x80\x04\x28\x00\x02\x01\xc8\x05\x00\x00", 14));
}

TEST_F(ScriptTool, ReportsImageThatDoesNotFit) {
  ToolRun r = run({"compile", file("a.ks", FOUR_INSTRUCTIONS), "--at", "2035"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "image: 14 bytes, does not fit in script memory at 2035: ends at 2048, memory ends at 2047\n");
}

TEST_F(ScriptTool, EmptySourceAndTextEndingAtNul) {
  ToolRun empty = run({"compile", file("e.ks", "; nothing\r\n")});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "image: 0 bytes, fits in script memory at 0 (nothing to write)\n");
  ToolRun nul = run({"compile", file("n.ks", std::string("Stop\0Wait", 9))});
  EXPECT_EQ(nul.status, 0);
  EXPECT_EQ(nul.out, "00\n");
}

TEST_F(ScriptTool, CompileAndListReproduceTheSource) {
  std::string image = folder_ + "/all.img";
  ToolRun c = run({"compile", file("all.ks",
                               "SetAllElectrodes 255 0 1 254\nDelay 0x2c01\nSetElectrode 4 0\n"
                               "TiltLoop 1000 5\nGoto 117\nCall 2047\nNOP\nReturn\nStop\n"),
               "-o", image});
  ASSERT_EQ(c.status, 0) << c.err;
  ToolRun l = run({"list", image, "--at", "100"});
  EXPECT_EQ(l.status, 0);
  EXPECT_EQ(l.out,
            " 100\tSetAllElectrodes\t255 0 1 254\r\n"
            " 105\tDelay\t\t11265\r\n"
            " 108\tSetElectrode\t4 0\r\n"
            " 111\tTiltLoop\t\t1000 5\r\n"
            " 115\tGoto\t\t117\r\n"
            " 118\tCall\t\t2047\r\n"
            " 121\tNOP\r\n"
            " 122\tReturn\r\n"
            " 123\tStop\r\n");
  EXPECT_EQ(l.err, "image: 24 bytes, fits in script memory at 100 (ends at 123)\n");
}

struct ListCase { const char* name; std::string image; const char* listing; };

class ScriptToolList : public ScriptTool, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ScriptToolList, Lines) {
  ToolRun r = run({"list", file("i.img", GetParam().image)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, GetParam().listing);
}

INSTANTIATE_TEST_SUITE_P(ScriptTool, ScriptToolList, ::testing::Values(
  ListCase{"InvalidOpcodes", std::string("\xff\x01\x09", 3), "   0\tInvalid Opcode: 255\r\n   1\tNOP\r\n   2\tInvalid Opcode: 9\r\n"},
  // The image ends inside an instruction: bytes past it are not read.
  ListCase{"CutInstruction", std::string("\x01\x03\x80\x80", 4), "   0\tNOP\r\n   1\tSetAllElectrodes\t128 128 ? ?\r\n"},
  ListCase{"CutWord", std::string("\x05\x07", 2), "   0\tGoto\t\t?\r\n"},
  ListCase{"Empty", "", ""}
), [](const auto& info) { return std::string(info.param.name); });

struct CompileErrorCase { const char* name; std::string source; const char* message; const char* where; };

class ScriptToolCompileError : public ScriptTool, public ::testing::WithParamInterface<CompileErrorCase> {};

TEST_P(ScriptToolCompileError, PaneTextThenPosition) {
  std::string source = file("bad.ks", GetParam().source);
  ToolRun r = run({"compile", source});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(GetParam().message) + "\n" + source + ":" + GetParam().where + "\n");
}

INSTANTIATE_TEST_SUITE_P(ScriptTool, ScriptToolCompileError, ::testing::Values(
  CompileErrorCase{"CrLfLines", "NOP\r\n\r\n  Wait 5", "Syntax Error: Invalid command Wait", "3:3"},
  CompileErrorCase{"LfLines", "NOP\n\tsetelectrode 9 1\n", "Syntax Error: Invalid argument at setelectrode", "2:2"},
  CompileErrorCase{"CrLines", "NOP\rNOP\rDelay x", "Syntax Error: Invalid argument at Delay", "3:1"},
  CompileErrorCase{"SurplusNumber", "SetElectrode 1 100 200", "Syntax Error: Invalid command 200", "1:20"},
  CompileErrorCase{"AfterComment", "; Wait\r\nStop ; Wait\r\nDelay 99999999999", "Syntax Error: Invalid argument at Delay", "3:1"}
), [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptToolCompileError, MissingSource) {
  ToolRun r = run({"compile", folder_ + "/none.ks"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Failed to read source file\n");
}

struct SamplesCase { const char* name; std::string text; std::vector<std::string> options; int status; const char* out; const char* err; };

class ScriptToolSamples : public ScriptTool, public ::testing::WithParamInterface<SamplesCase> {};

TEST_P(ScriptToolSamples, Output) {
  const SamplesCase& c = GetParam();
  std::vector<std::string> args = {"samples", file("s.txt", c.text)};
  args.insert(args.end(), c.options.begin(), c.options.end());
  ToolRun r = run(args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(ScriptTool, ScriptToolSamples, ::testing::Values(
  SamplesCase{"Timestep100", "0 0 0 0\r\n1 -1 0.5 2.54\r\n", {"--timestep", "100"}, 0,
              "03 80 80 80 80 04 03 00 03 b1 4e 98 fe 04 03 00 00\n",
              "image: 17 bytes, fits in script memory at 0 (ends at 16)\n"},
  SamplesCase{"DefaultTimestep", "0 0 0 0", {"--at", "0x10"}, 0, "03 80 80 80 80 00\n",
              "image: 6 bytes, fits in script memory at 16 (ends at 21)\n"},
  SamplesCase{"BadField", "0 0 abc 0", {}, 1, "", "Sample file has bad format: abc\n"},
  SamplesCase{"OutOfRange", "0 0 0 -2.58", {}, 1, "", "Sample must be between -2.56 and 2.54: -2.58\n"},
  SamplesCase{"IncompleteRow", "0 0 0 0\n0", {}, 1, "",
              "Sample file has an incomplete last row: 1 of 4 values (row 2)\n"},
  SamplesCase{"NegativeTimestep", "0 0 0 0", {"--timestep", "-5"}, 1, "", "Invalid timestep\n"},
  SamplesCase{"TimestepTooLong", "0 0 0 0", {"--timestep", "1638425"}, 1, "", "Invalid timestep\n"}
), [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptTool, MissingSampleFile) {
  ToolRun r = run({"samples", folder_ + "/none.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Failed to read sample file\n");
}

class ScriptToolUsage : public ScriptTool, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(ScriptToolUsage, ExitTwo) {
  file("a.ks", "Stop");
  std::vector<std::string> args = GetParam();
  for (std::string& a : args)
    if (a == "FILE") a = folder_ + "/a.ks";
  ToolRun r = run(args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("kinestim-script: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("usage: kinestim-script compile SOURCE"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(ScriptTool, ScriptToolUsage, ::testing::Values(
  std::vector<std::string>{}, std::vector<std::string>{"build", "FILE"},
  std::vector<std::string>{"compile"}, std::vector<std::string>{"compile", "FILE", "FILE"},
  std::vector<std::string>{"compile", "FILE", "-o"}, std::vector<std::string>{"compile", "FILE", "-x"},
  std::vector<std::string>{"compile", "FILE", "--at", "abc"},
  std::vector<std::string>{"compile", "FILE", "--at", "2048"},
  std::vector<std::string>{"compile", "FILE", "--at", "-1"},
  std::vector<std::string>{"compile", "FILE", "--timestep", "25"},
  std::vector<std::string>{"samples", "FILE", "--timestep", "1.5"},
  std::vector<std::string>{"list", "FILE", "-o", "x"}));

TEST_F(ScriptTool, Help) {
  ToolRun r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: kinestim-script compile SOURCE", 0), 0u);
  EXPECT_EQ(r.err, "");
}

}  // namespace
