// kinestim-script tests through the executable: exact standard output and error streams,
// exit statuses, and compile/list round trips.
#include "process_harness.h"

#include <gtest/gtest.h>

namespace {

// One run in a fresh folder, the current one for the run; its files come first.
struct ToolRun { const char* name; std::vector<std::pair<std::string, std::string>> files;
                 std::vector<std::string> args; int status; std::string out, err; };
void PrintTo(const ToolRun& r, std::ostream* os) { *os << r.name; }

// The summary line of an image that fits: its length, first and last address.
std::string fits(int bytes, int at, int end) {
  return "image: " + std::to_string(bytes) + " bytes, fits in script memory at " + std::to_string(at) + " (ends at " +
         std::to_string(end) + ")\n";
}

class ScriptTool : public ::testing::Test {
 protected:
  // Runs kinestim-script in the folder; its status (-1 when killed after 10 s or by a signal), out and err.
  int run(const std::vector<std::string>& args, std::string& out, std::string& err) {
    std::string command = "cd '" + folder_ + "' && timeout -s KILL 10 '" + harness::binary("kinestim-script") + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    const int status = std::system((command + " >'" + folder_ + "/stdout' 2>'" + folder_ + "/stderr'").c_str());
    out = harness::readFile(folder_ + "/stdout");
    err = harness::readFile(folder_ + "/stderr");
    return WIFEXITED(status) && WEXITSTATUS(status) < 124 ? WEXITSTATUS(status) : -1;
  }
  harness::TempDir dir;
  const std::string folder_ = dir.path();
};

class ScriptToolRuns : public ScriptTool, public ::testing::WithParamInterface<ToolRun> {};

// The usage text is checked by its first line: what stands before it, then "usage".
std::string usageCut(const std::string& text) {
  const size_t at = text.find("usage: kinestim-script compile SOURCE [-o IMAGE] [--at ADDRESS]\n");
  return at == std::string::npos ? text : text.substr(0, at) + "usage";
}

TEST_P(ScriptToolRuns, Run) {
  const ToolRun& r = GetParam();
  for (const auto& f : r.files) std::ofstream(folder_ + "/" + f.first, std::ios::binary) << f.second;
  std::string out, err;
  EXPECT_EQ(run(r.args, out, err), r.status);
  EXPECT_EQ(usageCut(out), r.out);
  EXPECT_EQ(usageCut(err), r.err);
}

// A loop found, the table as CSV, and in the SVG (read back as XML by python3) one step line
// per electrode, all lanes on one current scale.
TEST_F(ScriptTool, PreviewWritesTheTableAndTheStepLines) {
  std::ofstream(folder_ + "/p.ks") << "SetElectrode 1 178\nSetElectrode 3 103\nDelay 2\nSetElectrode 1 78\n"
                                      "SetAllElectrodes 128 200 153 128\nDelay 3\nSetElectrode 2 9\nGoto 3\n";
  std::string out, err;
  ASSERT_EQ(run({"preview", "p.ks", "--svg", "p.svg", "--csv", "p.csv"}, out, err), 0) << err;
  EXPECT_EQ(out.substr(0, out.find("electrode 2")),
            "does not stop: from step 16 it repeats the steps from 6 (Goto 3 at 23)\n"
            "repetition: 0.250 s (10 steps); the figures below are for one repetition\n"
            "electrode 1: -1.00 to 0.00, non-zero for 0.025 s, net charge -0.025\n");
  // The rest code 127 of the electrodes no instruction has set yet is no current, as in the summary.
  EXPECT_EQ(harness::readFile(folder_ + "/p.csv"),
            "time_ms,electrode_1,electrode_2,electrode_3,electrode_4\r\n0,+1.00,0.00,0.00,0.00\r\n"
            "25,+1.00,0.00,-0.50,0.00\r\n100,-1.00,0.00,-0.50,0.00\r\n125,0.00,+1.44,+0.50,0.00\r\n"
            "225,0.00,-2.38,+0.50,0.00\r\n275,0.00,-2.38,-0.50,0.00\r\n350,-1.00,-2.38,-0.50,0.00\r\n"
            "375,0.00,+1.44,+0.50,0.00\r\n400,0.00,+1.44,+0.50,0.00\r\n");
  // Plain user coordinates: the size, each lane's zero line and step line in pixels (the
  // current scale 2.50 puts 1.00 18 pixels from zero; 0.400 s is 800), nothing scaled or
  // transformed; then the time and current labels and the loop marks where they stand.
  const std::string dump = "python3 -c 'import sys, xml.etree.ElementTree as E\n"
                           "s = E.parse(sys.argv[1]).getroot(); print(s.get(\"width\"), s.get(\"height\"))\n"
                           "for p in s.iter():\n"
                           "  if p.get(\"transform\") or p.get(\"vector-effect\"): print(\"scaled\", p.tag)\n"
                           "  if p.get(\"stroke\") == \"#999999\": print(p.get(\"x1\"), p.get(\"y1\"), p.get(\"x2\"))\n"
                           "  if p.get(\"data-electrode\"): print(p.get(\"data-electrode\"), p.get(\"d\"))\n"
                           "print(*(t.get(\"x\") + \",\" + t.get(\"y\") + \",\" + t.text for t in s.iter() if t.tag.endswith(\"text\") "
                           "and t.text[0] in \"0+-lr\"))' " +
                           folder_ + "/p.svg > " + folder_ + "/paths";
  ASSERT_EQ(std::system(dump.c_str()), 0);
  EXPECT_EQ(harness::readFile(folder_ + "/paths"),
            "960 618\n120.0 111.0 920.0\n1 M 120.0 93.0 H 320.0 V 129.0 H 370.0 V 111.0 H 820.0 V 129.0 H 870.0 V 111.0 "
            "H 920.0\n120.0 245.0 920.0\n2 M 120.0 245.0 H 370.0 V 219.1 H 570.0 V 287.8 H 870.0 V 219.1 H 920.0\n"
            "120.0 379.0 920.0\n3 M 120.0 379.0 H 170.0 V 388.0 H 370.0 V 370.0 H 670.0 V 388.0 H 870.0 V 370.0 H 920.0\n"
            "120.0 513.0 920.0\n4 M 120.0 513.0 H 920.0\n"
            "120.0,586.0,0 220.0,586.0,0.05 320.0,586.0,0.1 420.0,586.0,0.15 520.0,586.0,0.2 620.0,586.0,0.25 720.0,586.0,0.3 "
            "820.0,586.0,0.35 920.0,586.0,0.4 114.0,70.0,+2.50 114.0,115.0,0.00 114.0,160.0,-2.50 114.0,204.0,+2.50 "
            "114.0,249.0,0.00 114.0,294.0,-2.50 114.0,338.0,+2.50 114.0,383.0,0.00 114.0,428.0,-2.50 114.0,472.0,+2.50 "
            "114.0,517.0,0.00 114.0,562.0,-2.50 424.0,34.0,loop from here 916.0,34.0,repeats from the loop mark\n");
}

// The README's picture: the example's plot as rsvg-convert (behind most viewers) paints it: the
// step line a thin line, the space it encloses white. KINESTIM_UPDATE_SCREENSHOTS=1 copies it to docs/.
TEST_F(ScriptTool, PreviewPlotRendersAsLinesWithRsvgConvert) {
  if (std::system("command -v rsvg-convert >/dev/null && command -v convert >/dev/null") != 0)
    GTEST_SKIP() << "rsvg-convert or convert missing (scripts/setup-debian.sh installs them)";
  std::string out, err;
  ASSERT_EQ(run({"preview", KINESTIM_EXAMPLES "/biphasic-loop.ks", "--svg", "loop.svg"}, out, err), 0) << err;
  ASSERT_EQ(std::system(("cd '" + folder_ + "' && rsvg-convert loop.svg -o loop.png").c_str()), 0);
  std::string pixels;
  // Electrode 1 at +1.00 (y 81 from x 151 to 274), inside its pulse, its zero line, left of the plot.
  for (const char* at : {"180,81", "180,95", "180,111", "100,111", "300,141", "300,125"}) {
    const std::string probe = "cd '" + folder_ + "' && convert loop.png -format '%[pixel:p{" + at + "}] ' info: >> px";
    ASSERT_EQ(std::system(probe.c_str()), 0);
  }
  const std::string line = "srgb(31,95,191) ", white = "srgb(255,255,255) ";
  EXPECT_EQ(harness::readFile(folder_ + "/px"), line + white + "srgb(204,204,204) " + white + line + white);
  const char* update = std::getenv("KINESTIM_UPDATE_SCREENSHOTS");
  if (update != nullptr && std::string(update) == "1")
    std::filesystem::copy_file(folder_ + "/loop.png", KINESTIM_SOURCE_DIR "/docs/preview-biphasic-loop.png",
                               std::filesystem::copy_options::overwrite_existing);
}

const std::pair<std::string, std::string> FOUR = {
    "a.ks", "; test script\r\nSetAllElectrodes 128 128 128 128\r\nDelay 40\r\nSetElectrode 1 200\r\nGoto 0\r\n"};
const std::pair<std::string, std::string> SAMPLES = {"s.txt", "0 0 0 0\r\n1 -1 0.5 2.54\r\n"};
const char* const FOUR_BYTES = "03 80 80 80 80 04 28 00 02 01 c8 05 00 00\n";

// Preview summaries: the lines of the four electrodes when none is set, and when all are 0.00.
std::string unset(int e) { return "electrode " + std::to_string(e) + ": not set (stays at the rest code 127)\n"; }
const std::string UNSET = unset(1) + unset(2) + unset(3) + unset(4);
std::string zero(int e) { return "electrode " + std::to_string(e) + ": 0.00 to 0.00, non-zero for 0.000 s, net charge 0.000\n"; }
const std::string ZERO = zero(1) + zero(2) + zero(3) + zero(4);
std::string calls(int depth) {   // Call 4, Stop, then subroutines that call on until depth, each 4 bytes
  std::string text = "Call 4\nStop\n";
  for (int i = 1; i < depth; ++i) text += "Call " + std::to_string(4 + 4 * i) + "\nReturn\n";
  return text + "Return\n";
}
std::string nops(int n) { return n > 0 ? "NOP\n" + nops(n - 1) : ""; }
std::string usage(const std::string& message) { return "kinestim-script: " + message + "\nusage"; }
const std::string FAULT = ": the device stops the script and enters Fault\n";

INSTANTIATE_TEST_SUITE_P(Tool, ScriptToolRuns,
    ::testing::Values(ToolRun{"CompileToStandardOutput", {FOUR}, {"compile", "a.ks"}, 0, FOUR_BYTES, fits(14, 0, 13)},
        ToolRun{"CompileToImageFile", {FOUR}, {"compile", "a.ks", "-o", "a.img", "--at", "2034"}, 0, "",
                fits(14, 2034, 2047)},
        ToolRun{"ImageThatDoesNotFit", {FOUR}, {"compile", "a.ks", "--at", "2035"}, 0, FOUR_BYTES,
                "image: 14 bytes, does not fit in script memory at 2035: ends at 2048, memory ends at 2047\n"},
        ToolRun{"EveryInstruction", {{"all.ks", "SetAllElectrodes 255 0 1 254\nDelay 0x2c01\nSetElectrode 4 0\n"
                                                 "TiltLoop 1000 5\nGoto 0165\nCall 2047\nNOP\nReturn\nStop\n"}},  // 0165 octal: 117
                {"compile", "all.ks"}, 0, "03 ff 00 01 fe 04 01 2c 02 04 00 08 e8 03 05 05 75 00 06 ff 07 01 07 00\n",
                fits(24, 0, 23)},
        ToolRun{"ListEveryInstruction",
                {{"all.img", std::string("\x03\xff\0\x01\xfe\x04\x01,\x02\x04\0\x08\xe8\x03\x05\x05"
                                         "u\0\x06\xff\x07\x01\x07\0", 24)}}, {"list", "all.img", "--at", "100"}, 0,
                " 100\tSetAllElectrodes\t255 0 1 254\r\n 105\tDelay\t\t11265\r\n 108\tSetElectrode\t4 0\r\n"
                " 111\tTiltLoop\t\t1000 5\r\n 115\tGoto\t\t117\r\n 118\tCall\t\t2047\r\n 121\tNOP\r\n 122\tReturn\r\n"
                " 123\tStop\r\n", fits(24, 100, 123)},
        ToolRun{"EmptySource", {{"e.ks", "; nothing\r\n"}}, {"compile", "e.ks"}, 0, "",
                "image: 0 bytes, fits in script memory at 0 (nothing to write)\n"},
        ToolRun{"TextEndsAtNul", {{"n.ks", std::string("Stop\0Wait", 9)}}, {"compile", "n.ks"}, 0, "00\n", fits(1, 0, 0)},
        ToolRun{"ListInvalidOpcodes", {{"i.img", "\xff\x01\x09"}}, {"list", "i.img"}, 0,
                "   0\tInvalid Opcode: 255\r\n   1\tNOP\r\n   2\tInvalid Opcode: 9\r\n", fits(3, 0, 2)},
        ToolRun{"ErrorAtLineAndColumnCrLf", {{"b.ks", "NOP\r\n\r\n  Wait 5"}}, {"compile", "b.ks"}, 1, "",
                "Syntax Error: Invalid command Wait\nb.ks:3:3\n"},
        ToolRun{"ErrorAtLineAndColumnLf", {{"b.ks", "NOP\n\tsetelectrode 9 1\n"}}, {"preview", "b.ks"}, 1, "",
                "Syntax Error: Invalid argument at setelectrode\nb.ks:2:2\n"},
        ToolRun{"ErrorAtLineAndColumnCr", {{"b.ks", "NOP\rNOP\rDelay x"}}, {"compile", "b.ks"}, 1, "",
                "Syntax Error: Invalid argument at Delay\nb.ks:3:1\n"},
        ToolRun{"MissingSource", {}, {"compile", "none.ks"}, 1, "", "Failed to read source file\n"},
        ToolRun{"Samples", {SAMPLES}, {"samples", "s.txt", "--timestep", "10000"}, 0,
                "03 80 80 80 80 04 8f 01 03 b2 4e 99 ff 04 8f 01 00\n", fits(17, 0, 16)},
        // A timestep that is no whole number of 25 ms steps is said, and the rows last what they can.
        ToolRun{"SamplesTimestepNotWholeSteps", {SAMPLES}, {"samples", "s.txt", "--timestep", "40"}, 0,
                "03 80 80 80 80 03 b2 4e 99 ff 00\n",
                "Timestep 40 ms: each row lasts 25 ms (steps of 25 ms)\n" + fits(11, 0, 10)},
        ToolRun{"PreviewTimestepNotWholeSteps", {SAMPLES}, {"preview", "s.txt", "--timestep", "74"}, 0,
                "duration: 0.100 s (4 steps), ends at Stop at 16\n"
                "electrode 1: 0.00 to +1.00, non-zero for 0.050 s, net charge +0.050\n"
                "electrode 2: -1.00 to 0.00, non-zero for 0.050 s, net charge -0.050\n"
                "electrode 3: 0.00 to +0.50, non-zero for 0.050 s, net charge +0.025\n"
                "electrode 4: 0.00 to +2.54, non-zero for 0.050 s, net charge +0.127\n"
                "Warning: electrode 1 is not charge-balanced (net +0.050)\n"
                "Warning: electrode 2 is not charge-balanced (net -0.050)\n"
                "Warning: electrode 3 is not charge-balanced (net +0.025)\n"
                "Warning: electrode 4 is not charge-balanced (net +0.127)\n",
                "Timestep 74 ms: each row lasts 50 ms (steps of 25 ms)\n" + fits(17, 0, 16)},
        ToolRun{"SamplesTimestepTooLong", {SAMPLES}, {"samples", "s.txt", "--timestep", "1638425"}, 1, "",
                "Invalid timestep\n"},
        ToolRun{"Help", {}, {"--help"}, 0, "usage", ""},
        ToolRun{"NoArguments", {}, {}, 2, "", usage("no command given")},
        ToolRun{"UnknownAction", {FOUR}, {"build", "a.ks"}, 2, "", usage("unknown command build")},
        ToolRun{"AddressNotANumber", {FOUR}, {"compile", "a.ks", "--at", "abc"}, 2, "",
                usage("--at needs a number, not abc")},
        ToolRun{"AddressPastMemory", {FOUR}, {"compile", "a.ks", "--at", "2048"}, 2, "",
                usage("Invalid address, must be between 0 and 2047: 2048")},
        ToolRun{"TimestepForCompile", {FOUR}, {"compile", "a.ks", "--timestep", "25"}, 2, "",
                usage("only samples and preview take --timestep")},
        ToolRun{"PreviewMaxStepsZero", {FOUR}, {"preview", "a.ks", "--max-steps", "0"}, 2, "",
                usage("--max-steps needs a number of at least 1, not 0")},
        ToolRun{"PreviewExample", {}, {"preview", KINESTIM_EXAMPLES "/pulses.ks"}, 0,
                "duration: 0.300 s (12 steps), ends at Stop at 28\n"
                "electrode 1: 0.00 to +1.00, non-zero for 0.200 s, net charge +0.200\n" + zero(2) + zero(3) + zero(4) +
                    "Warning: electrode 1 is not charge-balanced (net +0.200)\n", fits(29, 0, 28)},
        ToolRun{"PreviewRangesAtBothEndsAndATiltLoop", {{"r.ks", "SetAllElectrodes 255 0 128 128\nTiltLoop 1000 5\nStop\n"}},
                {"preview", "r.ks"}, 0, "duration: 0.050 s (2 steps), ends at Stop at 9\n"
                "electrode 1: +2.54 to +2.54, non-zero for 0.050 s, net charge +0.127\n"
                "electrode 2: -2.56 to -2.56, non-zero for 0.050 s, net charge -0.128\n" + zero(3) + zero(4) +
                    "Warning: electrode 1 is not charge-balanced (net +0.127)\nWarning: electrode 2 is not charge-balanced "
                    "(net -0.128)\nTiltLoop at 5 (step 1): count 1000, step 5; the preview does not simulate the sensor\n",
                fits(10, 0, 9)},
        ToolRun{"PreviewCallsNineDeep", {{"c.ks", calls(9)}}, {"preview", "c.ks"}, 0,
                "duration: 0.200 s (8 steps), ends at a fault at 32\n" + UNSET + "fault at 32: a ninth nested Call" +
                    FAULT, fits(37, 0, 36)},
        // A subroutine visited again with another return address is no repetition: called from 3 and from
        // 259 (a page apart), or sixth on the stack, called from 20 and from 23. Only electrode 2 is set.
        ToolRun{"PreviewCallsFromTwoPages", {{"p.ks", "Call 512\nGoto 256\n" + nops(250) + "Call 512\nStop\n" + nops(252) +
                                                          "SetElectrode 2 150\nDelay 1\nReturn\n"}}, {"preview", "p.ks"}, 0,
                "duration: 0.225 s (9 steps), ends at Stop at 259\n" + unset(1) + "electrode 2: 0.00 to +0.44, non-zero for "
                "0.200 s, net charge +0.088\n" + unset(3) + unset(4) + "Warning: electrode 2 is not charge-balanced (net +0.088)\n",
                fits(519, 0, 518)},
        ToolRun{"PreviewCallsSixDeep", {{"d.ks", "Call 4\nStop\nCall 8\nReturn\nCall 12\nReturn\nCall 16\nReturn\nCall 20\n"
                                                  "Return\nCall 27\nCall 27\nReturn\nDelay 1\nReturn\n"}},
                {"preview", "d.ks"}, 0, "duration: 0.400 s (16 steps), ends at Stop at 3\n" + UNSET, fits(31, 0, 30)},
        ToolRun{"PreviewOpcode9", {{"9.img", "\x03\x80\x80\x80\x80\x09"}}, {"preview", "9.img"}, 0,
                "duration: 0.025 s (1 steps), ends at a fault at 5\n" + ZERO +
                    "fault at 5: byte 9 is no instruction (opcode above 8)" + FAULT, fits(6, 0, 5)},
        ToolRun{"PreviewJumpOutOfMemory", {{"g.ks", "NOP\nGoto 3000\n"}}, {"preview", "g.ks"}, 0,
                "duration: 0.050 s (2 steps), ends at a fault at 3000\n" + UNSET +
                    "fault at 3000: Goto 3000 at 1 leads outside memory (0 to 2047)" + FAULT, fits(4, 0, 3)},
        ToolRun{"PreviewUnwritableOutput", {FOUR}, {"preview", "a.ks", "--csv", "a.csv", "--svg", "no/a.svg"}, 1,
                "", fits(14, 0, 13) + "kinestim-script: cannot write no/a.svg\n"},
        ToolRun{"PreviewImageTooLong", {FOUR}, {"preview", "a.ks", "--at", "2040"}, 1, "",
                "image: 14 bytes, does not fit in script memory at 2040: ends at 2053, memory ends at 2047\n"
                "kinestim-script: the device would refuse this upload; nothing to preview\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
