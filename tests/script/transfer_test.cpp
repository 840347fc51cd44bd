// Memory transfer, read-back and Script Manager action tests over a pseudo-terminal pair:
// the real serial backend, pump and dispatcher here, the device played by a test thread.
#include "link/serial_port.h"
#include "platform/console/console_window.h"
#include "played_device.h"
#include "protocol/dispatcher.h"
#include "resource.h"
#include "script/compiler.h"
#include "script/memory_view.h"
#include "script/script_manager.h"
#include "script/transfer.h"
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

Bytes imageOf(int length) {
  Bytes image;
  for (int i = 0; i < length; ++i) image.push_back(static_cast<uint8_t>(i + 1));
  return image;
}

class DeviceLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    consoleWindowReset(&input_, &output_);
    setMessageBoxShowing(0);
    resetMemoryView();
    resetCompilerOutput();
    ASSERT_TRUE(device_.start()) << "no pseudo-terminal available";
    openSerialPortPath(device_.path().c_str());
    char folder[] = "/tmp/kinestim-script-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
  }

  void TearDown() override {
    closeSerialPort();
    device_.stop();
    std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  void typeLines(const std::string& lines) {
    input_.clear();
    input_.str(lines);
  }

  std::string writeFile(const std::string& name, const std::string& text) {
    std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  int timesPrinted(const std::string& text) const {
    std::string all = output_.str();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  // Runs the receive timer's work until the condition holds or timeoutMs passes.
  bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    Clock::time_point t0 = Clock::now();
    while (msSince(t0) < timeoutMs) {
      ReceiveTimerProc();
      if (done()) return true;
      usleep(5000);
    }
    return done();
  }

  // Pumps for a while with nothing expected to change.
  void pumpFor(int ms) { pumpUntil([] { return false; }, ms); }

  std::vector<std::string> payloads() {
    std::vector<std::string> out;
    for (const HostFrame& f : device_.frames()) {
      EXPECT_TRUE(f.good) << hexBytes(f.payload);
      out.push_back(hexBytes(f.payload));
    }
    return out;
  }

  std::istringstream input_;
  std::ostringstream output_;
  PlayedDevice device_;
  std::string folder_;
};

const char INVALID_ADDRESS_BOX[] = "Warning: Invalid address, must be between 0 and 2047";

// --- Upload ----------------------------------------------------------------------------

struct ChunkCase { const char* name; int address; int length; std::vector<std::string> heads; };

class UploadChunks : public DeviceLinkTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(UploadChunks, StopAndWait) {
  const ChunkCase& c = GetParam();
  Bytes image = imageOf(c.length);
  EXPECT_TRUE(uploadScriptImage(c.address, image.data(), c.length));
  std::vector<HostFrame> frames = device_.frames();
  ASSERT_EQ(frames.size(), c.heads.size());
  size_t offset = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    ASSERT_TRUE(frames[k].good);
    const Bytes& p = frames[k].payload;
    EXPECT_EQ(hexBytes(Bytes(p.begin(), p.begin() + 3)), c.heads[k]);
    size_t n = std::min<size_t>(16, image.size() - offset);
    EXPECT_EQ(hexBytes(Bytes(p.begin() + 3, p.end())),
              hexBytes(Bytes(image.begin() + static_cast<long>(offset), image.begin() + static_cast<long>(offset + n))));
    // Chunk k goes out only after the acknowledgement of chunk k - 1.
    EXPECT_EQ(frames[k].answersBefore, static_cast<int>(k));
    offset += n;
  }
  EXPECT_EQ(offset, image.size());
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

INSTANTIATE_TEST_SUITE_P(Transfer, UploadChunks, ::testing::Values(
  ChunkCase{"FortyBytesAt100", 100, 40, {"0d 64 00", "0d 74 00", "0d 84 00"}},
  ChunkCase{"OneByteAt300", 300, 1, {"0d 2c 01"}},
  ChunkCase{"SixteenIsOneChunk", 0, 16, {"0d 00 00"}},
  ChunkCase{"SeventeenIsTwo", 0, 17, {"0d 00 00", "0d 10 00"}},
  ChunkCase{"EmptyImageSendsNothing", 0, 0, {}},
  ChunkCase{"LastAddress", 2047, 18, {"0d ff 07", "0d 0f 08"}}
), [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceLinkTest, TimeOutCountsPerChunk) {
  // Each answer takes 2.5 s: the upload as a whole runs past 4 s and still succeeds.
  device_.setAckDelayMs(2500);
  Bytes image = imageOf(20);
  EXPECT_TRUE(uploadScriptImage(0, image.data(), 20));
  EXPECT_EQ(payloads().size(), 2u);
  EXPECT_EQ(timesPrinted("Warning:"), 0);
}

// --- Read-back requests -------------------------------------------------------------------

struct RequestCase { int address; const char* payload; };

class ReadBackRequest : public DeviceLinkTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(ReadBackRequest, PayloadOrWarning) {
  device_.setSilent(true);
  requestScriptMemory(GetParam().address);
  if (GetParam().payload != nullptr) {
    ASSERT_TRUE(device_.waitForFrames(1, 2000));
    EXPECT_EQ(payloads(), std::vector<std::string>{GetParam().payload});
    EXPECT_EQ(timesPrinted("Warning:"), 0);
  } else {
    usleep(200000);
    EXPECT_TRUE(payloads().empty());
    EXPECT_EQ(timesPrinted(INVALID_ADDRESS_BOX), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Transfer, ReadBackRequest, ::testing::Values(
  RequestCase{0, "0e 00 00 05"}, RequestCase{300, "0e 2c 01 05"}, RequestCase{2047, "0e ff 07 05"},
  RequestCase{2048, nullptr}, RequestCase{-1, nullptr}, RequestCase{INT_MIN, nullptr}));

// --- Memory view through the Script Manager -----------------------------------------------

class ScriptManagerTest : public DeviceLinkTest {
 protected:
  void SetUp() override {
    DeviceLinkTest::SetUp();
    consoleOpenDialog(Dialog::ScriptManager);
    initScriptManager();
  }
  void TearDown() override {
    closeScriptManager();
    consoleCloseDialog(Dialog::ScriptManager);
    DeviceLinkTest::TearDown();
  }
  void setAddress(const char* text) { setControlText(Dialog::ScriptManager, IDC_SM_ADDRESS, text); }
  std::string addressField() { return consoleControlText(Dialog::ScriptManager, IDC_SM_ADDRESS); }
  std::string memoryPane() { return consoleControlText(Dialog::ScriptManager, IDC_SM_MEMORY); }
  std::string compilerOutput() { return consoleControlText(Dialog::ScriptManager, IDC_SM_COMPILER_OUTPUT); }
  // Presses a button and pumps until the Address field changes (a batch has been shown).
  bool pressAndWaitForBatch(int id) {
    std::string before = addressField();
    routeScriptManagerCommand(id);
    return pumpUntil([&] { return addressField() != before; }, 5000);
  }
};

std::string nopLines(int from, int count) {
  std::string lines;
  char line[32];
  for (int a = from; a < from + count; ++a) {
    snprintf(line, sizeof line, "%4d\tNOP\r\n", a);
    lines += line;
  }
  return lines;
}

TEST_F(ScriptManagerTest, ViewListsTwentyInstructions) {
  device_.setMemory(0, {0x03, 0x80, 0x80, 0x80, 0x80, 0x04, 0x28, 0x00, 0x02, 0x01, 0xc8, 0x05, 0x00, 0x00});
  ASSERT_TRUE(pressAndWaitForBatch(IDC_SM_VIEW));
  std::string expected =
      "   0\tSetAllElectrodes\t128 128 128 128\r\n"
      "   5\tDelay\t\t40\r\n"
      "   8\tSetElectrode\t1 200\r\n"
      "  11\tGoto\t\t0\r\n";
  char line[32];
  for (int a = 14; a < 30; ++a) {
    snprintf(line, sizeof line, "%4d\tStop\r\n", a);
    expected += line;
  }
  EXPECT_EQ(memoryPane(), expected);
  EXPECT_EQ(addressField(), "30");
  std::vector<std::string> sent = payloads();
  ASSERT_EQ(sent.size(), 20u);
  EXPECT_EQ(sent[1], "0e 05 00 05");
  EXPECT_EQ(sent[3], "0e 0b 00 05");
  EXPECT_EQ(sent[19], "0e 1d 00 05");
}

TEST_F(ScriptManagerTest, AppendContinuesAndViewStartsAfresh) {
  device_.setMemory(0, Bytes(100, 0x01));
  ASSERT_TRUE(pressAndWaitForBatch(IDC_SM_VIEW));
  EXPECT_EQ(memoryPane(), nopLines(0, 20));
  EXPECT_EQ(addressField(), "20");
  ASSERT_TRUE(pressAndWaitForBatch(IDC_SM_APPEND));
  EXPECT_EQ(memoryPane(), nopLines(0, 40));
  EXPECT_EQ(addressField(), "40");
  setAddress("0x10");
  ASSERT_TRUE(pressAndWaitForBatch(IDC_SM_VIEW));
  EXPECT_EQ(memoryPane(), nopLines(16, 20));
  EXPECT_EQ(addressField(), "36");
}

TEST_F(ScriptManagerTest, InvalidOpcodeIsSteppedOverAsOneByte) {
  device_.setMemory(2000, {0xff, 0x07});
  setAddress("2000");
  ASSERT_TRUE(pressAndWaitForBatch(IDC_SM_VIEW));
  std::string first = "2000\tInvalid Opcode: 255\r\n2001\tReturn\r\n2002\tStop\r\n";
  EXPECT_EQ(memoryPane().substr(0, first.size()), first);
  EXPECT_EQ(payloads()[1], "0e d1 07 05");
}

TEST_F(ScriptManagerTest, BatchReachingEndOfMemoryStopsWithWarning) {
  device_.setMemory(2040, Bytes(8, 0x01));
  setAddress("2040");
  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(pumpUntil([&] { return timesPrinted(INVALID_ADDRESS_BOX) > 0; }, 5000));
  pumpFor(200);
  EXPECT_EQ(timesPrinted(INVALID_ADDRESS_BOX), 1);
  EXPECT_EQ(payloads().size(), 8u);
  EXPECT_EQ(payloads().back(), "0e ff 07 05");
  EXPECT_EQ(memoryPane(), "");
  EXPECT_EQ(addressField(), "2040");
}

class InvalidReadBackAddress : public ScriptManagerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(InvalidReadBackAddress, WarnsAndSendsNothing) {
  setAddress(GetParam());
  routeScriptManagerCommand(IDC_SM_APPEND);
  pumpFor(200);
  EXPECT_EQ(timesPrinted(INVALID_ADDRESS_BOX), 1);
  EXPECT_TRUE(payloads().empty());
  EXPECT_EQ(compilerOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Transfer, InvalidReadBackAddress, ::testing::Values("2048", "-1", "abc", ""));

TEST_F(ScriptManagerTest, StrayAnswersAreIgnored) {
  device_.setSilent(true);
  // No batch running: an answer to the main window's own read-back command.
  device_.send({0x21, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01});
  pumpFor(150);
  EXPECT_EQ(memoryPane(), "");
  EXPECT_TRUE(payloads().empty());

  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(device_.waitForFrames(1, 2000));
  // An answer for another address than the one asked for.
  device_.send({0x21, 0x07, 0x00, 0x02, 0x01, 0x02, 0x00, 0x00});
  pumpFor(150);
  EXPECT_EQ(payloads().size(), 1u);
  // The device answers every request from here on, by hand.
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(device_.waitForFrames(static_cast<size_t>(k + 1), 2000));
    Bytes request = device_.frames()[static_cast<size_t>(k)].payload;
    device_.send({0x21, request[1], request[2], 0x01, 0x01, 0x01, 0x01, 0x01});
    pumpUntil([&] { return device_.frames().size() > static_cast<size_t>(k + 1) || addressField() != "0"; }, 2000);
  }
  EXPECT_EQ(memoryPane(), nopLines(0, 20));
  EXPECT_EQ(payloads().size(), 20u);
}

TEST_F(ScriptManagerTest, ShortAnswersListWhatTheyCarry) {
  device_.setMemory(0, {0x03, 0x80, 0x80, 0x80, 0x80, 0x08, 0xe8, 0x03, 0x05});
  device_.setAnswerBytes(2);
  ASSERT_TRUE(pressAndWaitForBatch(IDC_SM_VIEW));
  std::string first = "   0\tSetAllElectrodes\t128 ? ? ?\r\n   5\tTiltLoop\t\t? ?\r\n   9\tStop\r\n";
  EXPECT_EQ(memoryPane().substr(0, first.size()), first);
  EXPECT_EQ(payloads()[1], "0e 05 00 05");
  EXPECT_EQ(payloads()[2], "0e 09 00 05");
}

TEST_F(ScriptManagerTest, AnswersAfterCloseShowNothing) {
  device_.setSilent(true);
  routeScriptManagerCommand(IDC_SM_VIEW);
  ASSERT_TRUE(device_.waitForFrames(1, 2000));
  closeScriptManager();
  consoleCloseDialog(Dialog::ScriptManager);
  device_.send({0x21, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01});
  pumpFor(200);
  EXPECT_EQ(payloads().size(), 1u);
  consoleOpenDialog(Dialog::ScriptManager);
  initScriptManager();
  EXPECT_EQ(memoryPane(), "");
}

// --- Upload and Upload Samples through the Script Manager ---------------------------------

struct UploadAddressCase { const char* text; const char* head; };

class UploadAt : public ScriptManagerTest, public ::testing::WithParamInterface<UploadAddressCase> {};

TEST_P(UploadAt, AddressText) {
  std::string source = writeFile("a.ks", "Delay 40 Stop\r\n");
  setAddress(GetParam().text);
  typeLines(source + "\n");
  EXPECT_TRUE(routeScriptManagerCommand(IDC_SM_UPLOAD));
  std::vector<std::string> sent = payloads();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], std::string(GetParam().head) + " 04 28 00 00");
  EXPECT_EQ(compilerOutput(), "Build Successful\r\n\r\nUpload Successful");
}

INSTANTIATE_TEST_SUITE_P(Transfer, UploadAt, ::testing::Values(
  UploadAddressCase{"0x10", "0d 10 00"}, UploadAddressCase{"010", "0d 08 00"},
  UploadAddressCase{"0", "0d 00 00"}, UploadAddressCase{"2047", "0d ff 07"}));

class UploadInvalidAddress : public ScriptManagerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UploadInvalidAddress, ReportedBeforeOpen) {
  std::string source = writeFile("a.ks", "Stop");
  setAddress(GetParam());
  typeLines(source + "\n");
  routeScriptManagerCommand(IDC_SM_UPLOAD);
  EXPECT_EQ(compilerOutput(), "Invalid address, must be between 0 and 2047");
  EXPECT_EQ(timesPrinted("Open: "), 0);
  routeScriptManagerCommand(IDC_SM_UPLOAD_SAMPLES);
  EXPECT_EQ(compilerOutput(), "Invalid address, must be between 0 and 2047");
  EXPECT_EQ(timesPrinted("Open: "), 0);
  usleep(100000);
  EXPECT_TRUE(payloads().empty());
}

INSTANTIATE_TEST_SUITE_P(Transfer, UploadInvalidAddress, ::testing::Values("2048", "-1", "abc", ""));

TEST_F(ScriptManagerTest, UploadOutcomesInCompilerOutput) {
  typeLines("\n");  // the Open dialog cancelled
  routeScriptManagerCommand(IDC_SM_UPLOAD);
  EXPECT_EQ(compilerOutput(), "Failed to read source file");

  typeLines(writeFile("bad.ks", "Stop\r\nWait 5\r\n") + "\n");
  routeScriptManagerCommand(IDC_SM_UPLOAD);
  EXPECT_EQ(compilerOutput(), "Syntax Error: Invalid command Wait");

  typeLines(folder_ + "/missing.ks\n\n");
  routeScriptManagerCommand(IDC_SM_UPLOAD);
  EXPECT_EQ(compilerOutput(), "Failed to read source file");
  usleep(100000);
  EXPECT_TRUE(payloads().empty());

  device_.setUploadAnswer({0x20, 0x0d, 0x00, 0x00});
  typeLines(writeFile("good.ks", "NOP") + "\n");
  routeScriptManagerCommand(IDC_SM_UPLOAD);
  EXPECT_EQ(compilerOutput(), "");
  EXPECT_EQ(payloads().size(), 1u);
}

TEST_F(ScriptManagerTest, UploadSamples) {
  setControlText(Dialog::ScriptManager, IDC_SM_TIMESTEP, "100");
  setAddress("5");
  typeLines(writeFile("s.txt", "0 0 0 0\r\n1 -1 0.5 2.54\r\n") + "\n");
  routeScriptManagerCommand(IDC_SM_UPLOAD_SAMPLES);
  EXPECT_EQ(compilerOutput(), "Script Generation Successful\r\n\r\nUpload Successful");
  // 17 bytes: a chunk of 16 at 5 and one of 1 at 21.
  EXPECT_EQ(payloads(), (std::vector<std::string>{"0d 05 00 03 80 80 80 80 04 03 00 03 b1 4e 98 fe 04 03 00",
                                                  "0d 15 00 00"}));
}

struct SampleErrorCase { const char* timestep; const char* file; const char* pane; bool opens; };

class UploadSamplesFails : public ScriptManagerTest, public ::testing::WithParamInterface<SampleErrorCase> {};

TEST_P(UploadSamplesFails, NothingSent) {
  const SampleErrorCase& c = GetParam();
  setControlText(Dialog::ScriptManager, IDC_SM_TIMESTEP, c.timestep);
  typeLines(c.file != nullptr ? writeFile("s.txt", c.file) + "\n" : "\n");
  routeScriptManagerCommand(IDC_SM_UPLOAD_SAMPLES);
  EXPECT_EQ(compilerOutput(), c.pane);
  EXPECT_EQ(timesPrinted("Open: "), c.opens ? 1 : 0);
  usleep(100000);
  EXPECT_TRUE(payloads().empty());
}

INSTANTIATE_TEST_SUITE_P(Transfer, UploadSamplesFails, ::testing::Values(
  SampleErrorCase{"abc", "0 0 0 0", "Invalid timestep", false},
  SampleErrorCase{"", "0 0 0 0", "Invalid timestep", false},
  SampleErrorCase{"-5", "0 0 0 0", "Invalid timestep", false},
  SampleErrorCase{"1638425", "0 0 0 0", "Invalid timestep", false},
  SampleErrorCase{"25", nullptr, "Failed to read sample file", true},
  SampleErrorCase{"25", "0 0 0 0\n0 0", "Sample file has an incomplete last row: 2 of 4 values (row 2)", true},
  SampleErrorCase{"25", "0 0 0 2.56", "Sample must be between -2.56 and 2.54: 2.56", true}));

TEST_F(ScriptManagerTest, ClearMemAsksFirst) {
  typeLines("n\n");
  routeScriptManagerCommand(IDC_SM_CLEAR_MEM);
  EXPECT_EQ(timesPrinted("Are you sure?: Really erase all script memory on the Kinestim?"), 1);
  usleep(150000);
  EXPECT_TRUE(payloads().empty());
  typeLines("y\n");
  routeScriptManagerCommand(IDC_SM_CLEAR_MEM);
  ASSERT_TRUE(device_.waitForFrames(1, 2000));
  EXPECT_EQ(payloads(), std::vector<std::string>{"0c"});
  EXPECT_FALSE(routeScriptManagerCommand(IDC_SM_ADDRESS));
}

}  // namespace
