// Command routing of the main dialog over a pseudo-terminal: what each identifier sends,
// posts or opens, in which order, and the senders' byte layouts.
#include "link_fixture.h"
#include "app/host_state.h"
#include "app/transfer.h"
#include "script/memory_view.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "link/catalogue.h"
#include "protocol/senders.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include "ui/parameters.h"
#include "ui/status_display.h"
#include <tuple>
#include <functional>

namespace {

std::vector<int> takePosted() {
  std::vector<int> ids;
  for (int id = 0; consoleTakePostedCommand(id);) ids.push_back(id);
  return ids;
}

using RoutingTest = LinkTest;

// Buttons that send a mode change first and then post the command that opens its dialog; Run
// showing Stop posts only Stop; Local Control toggles on clicks only.
TEST_F(RoutingTest, ButtonsSendTheirModeFirstAndPostTheirCommands) {
  const struct { int id; Bytes sent; int posted; } cases[] = {
      {IDC_RUN_STOP, {cdgSelectModeRunScr}, cdgScrRun}, {IDC_SCRIPT_MANAGER, {cdgSelectModePgmScr}, cdgSrcUldMem},
      {IDC_READ_TILT, {}, cdgDldTilt}, {IDC_TILT_LOOP, {}, cdgTiltLoop}, {IDC_LOCAL_CONTROL, {}, cdgDisableLclCtrl},
      {IDC_LOCAL_CONTROL, {}, cdgEnableLclCtrl}, {IDC_RUN_STOP, {}, cdgScrStop}};  // St&op shown
  for (const auto& c : cases) {
    if (c.posted == cdgScrStop) showStopCaption();
    ASSERT_TRUE(routeCommand(c.id, 0));
    EXPECT_EQ(hostSent(), c.sent.empty() ? "" : hex(frameOf(c.sent))) << c.id;
    EXPECT_EQ(takePosted(), std::vector<int>{ID_DEVICE_COMMAND_BASE + c.posted}) << c.id;  // the dialog waits
  }
  EXPECT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  EXPECT_FALSE(routeCommand(IDC_LOCAL_CONTROL, 1));  // not a click
}

// The Send button posts 300 plus the number in the command box when the whole box is one
// number from 0 to 9999 that names a command; the command sends its code alone or what was
// entered at its dialog.
TEST_F(RoutingTest, SendPostsTheTypedCommandWhichSendsWhatWasEntered) {
  const struct { const char* box; int posted; const char* typed; Bytes payload; } cases[] = {
      {"0", 300, "", {0x00}}, {"0xf", 315, "\n", {0x0f, 0x00, 0x00}}, {"15", 315, ".\n", {}},  // default, cancel
      {"0x12", 318, "0x10\n", {0x12, 0x10, 0x00}}, {"14", 314, "\n\n", {0x0e, 0x00, 0x00, 0x10}},
      {"14", 314, "16\n300\n\n16\n20\n", {0x0e, 0x10, 0x00, 0x14}},  // 300 refused, asked again
      {"27", 327, "0x7ff\n255\n", {0x1b, 0xff, 0x07, 0xff}}, {"0x1E", 330, "\n\n", {0x1e, 0x0a, 0x00, 0x01}},
      {" 91 ", 391, "", {}}, {"9999", 0, "", {}}, {"12345", 0, "", {}}, {"-1", 0, "", {}}};
  for (const auto& c : cases) {
    setControlText(Dialog::Main, IDC_COMMAND_BOX, c.box);
    typeLines(c.typed);
    ASSERT_TRUE(routeCommand(IDC_SEND, 0));
    const std::vector<int> posted = takePosted();
    EXPECT_EQ(posted, c.posted ? std::vector<int>{c.posted} : std::vector<int>{}) << c.box;
    for (int id : posted) routeCommand(id, 0);
    EXPECT_EQ(hostSent(), c.payload.empty() ? "" : hex(frameOf(c.payload))) << c.box;
    EXPECT_EQ(text(IDC_COMMAND_BOX), c.box);
  }
}

// "code/slider position" of each electrode, then one caption.
std::string electrodes(int caption) {
  std::string shown;
  for (int e = 1; e <= 4; ++e) {
    shown += std::to_string(getElectrodeCode(e)) + "/";
    shown += std::to_string(getSliderPosition(IDC_SLIDER_1 + 2 * (e - 1))) + " ";
  }
  return shown + text(IDC_CAPTION_1 + 2 * (caption - 1));
}

// Set Electrode moves only its own slider. A drag (5) and the end of a scroll (8) send nothing; other codes send the position.
TEST_F(RoutingTest, SetElectrodeMovesOnlyItsOwnSlider) {
  for (int e = 1; e <= 4; ++e) setElectrodeCode(e, static_cast<uint8_t>(e));
  typeLines("2\n128\n");
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetElectrode, 0));
  EXPECT_EQ(hostSent(), "aa 03 09 02 80 8b 55");
  EXPECT_EQ(electrodes(2), "1/127 128/128 3/127 4/127 2 (+0.00)");
  typeLines("0x80\n0x90\n0xa0\n0xb0\n");
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetAllElectrodes, 0));
  EXPECT_EQ(hostSent(), "aa 05 0a 80 90 a0 b0 6a 55");
  EXPECT_EQ(electrodes(4), "128/128 144/144 160/160 176/176 4 (+0.96)");
  setSliderPosition(IDC_SLIDER_1, 200);
  EXPECT_TRUE(handleSliderScroll(IDC_SLIDER_1, 5));
  EXPECT_FALSE(handleSliderScroll(IDC_SLIDER_1, 8));
  EXPECT_EQ(hostSent(), "");
  EXPECT_TRUE(handleSliderScroll(IDC_SLIDER_1, 7));
  EXPECT_EQ(hostSent(), "aa 03 09 01 c8 d2 55");
}

// A frame that cannot be written moves no slider or stored code, so the data log goes on
// reporting what the device has, and the lost link leaves the captions at "?"; one Warning
// names what was not set, then status lines.
TEST_F(RoutingTest, AFailedElectrodeWriteLeavesSliderCaptionCodeAndDataLogAsTheyWere) {
  TempFolder folder;
  typeLines(folder.path("data.log") + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  const uint8_t before[4] = {0x80, 0x81, 0x82, 0x90};
  showAllElectrodeCodes(before);
  device_.close();  // the port vanishes: the write fails and so does every re-open
  closeSerialPort();
  typeLines("\n3\n250\n1\n2\n3\n4\n");  // Enter for the one Warning
  setSliderPosition(IDC_SLIDER_3, 200);  // a key press moved the thumb
  ASSERT_TRUE(handleSliderScroll(IDC_SLIDER_3, 1));
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetElectrode, 0));
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetAllElectrodes, 0));
  writeDataLogLine(0, 0);
  stopDataLog();
  EXPECT_EQ(electrodes(3), "128/128 129/129 130/130 144/144 3 (?)");
  const std::string log = TempFolder::read(folder.path("data.log"));
  EXPECT_NE(log.find("\t\t  +0.00\t  +0.02\t  +0.04\t  +0.32\t\t      0.0\t      0.0\r\n"), std::string::npos) << log;
  const std::string warnings = printed();
  const size_t first = warnings.find("Warning: Write Failed: electrode 3 was not set\n");
  ASSERT_NE(first, std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("Warning:", first + 1), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("Warning: Write Failed\n"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("status: Not sent: the link to "), std::string::npos) << warnings;
}

// Only what went out is echoed: an upload or a read-back whose write fails ends at once with
// the link's one Warning (no "Upload Failed" after the acknowledgement time), and the other,
// on the lost link, is refused with a status line; neither leaves a Sent-pane line.
TEST_F(RoutingTest, AnUploadOrReadBackWhoseWriteFailsEndsAtOnceAndEchoesNothing) {
  device_.close();
  ASSERT_NE(openSerialPortPath("/nonexistent/kinestim"), nullptr);  // every write and re-open fails
  const uint8_t image[20] = {0x01, 0x02, 0x03};
  const std::function<void()> actions[] = {[&] { EXPECT_FALSE(uploadScriptImage(0, image, 20)); },
                                           [] { beginReadBack(0); }};
  for (int first = 0; first < 2; ++first) {
    resetHostState();
    output_.str("");
    typeLines("\n");  // Enter for the one Warning
    actions[first]();
    actions[1 - first]();
    const std::string shown = printed();
    const size_t warning = shown.find("Warning: Write Failed\n");   // the one Warning
    EXPECT_TRUE(warning != std::string::npos && shown.find("Warning: ") == warning &&
                shown.find("Warning: ", warning + 1) == std::string::npos) << first << shown;
    EXPECT_NE(shown.find("status: Not sent: the link to /nonexistent/kinestim is lost"), std::string::npos) << shown;
    EXPECT_EQ(text(IDC_SENT_PANE), "") << first;
  }
}

// The senders take the 16-bit values' bytes from whatever they are given; codes beyond the
// catalogue are not sent. Idle leaves the mode the field shows, exactly named; Clear empties both panes.
TEST_F(RoutingTest, SendersLayOutSixteenBitValuesLowByteFirstAndIdleLeavesTheModeShown) {
  sendAddressCommand(cdgScrArm, -1);
  sendAddressCountCommand(cdgScrDldMem, -1, 70000);
  sendCountStepCommand(cdgTiltLoop, 70000, 7);
  sendSimpleCommand(31);
  sendSimpleCommand(255);
  EXPECT_EQ(hostSent(), "aa 03 0f ff 00 0e 55 aa 04 0e ff 00 70 7d 55 aa 04 1e 70 11 07 a6 55");
  EXPECT_EQ(std::tuple(commandLength(31), commandName(31), messageLength(53), messageName(53), modeCodeFromName("Unknown")),
            std::tuple(-1, static_cast<const char*>(nullptr), -1, static_cast<const char*>(nullptr), 0));
  deviceSends({mdgScrMemUlded, 0x20, 0x00, 0x03});  // the answer waits: upload and read-back echo whole
  ASSERT_TRUE(uploadScriptImage(0x20, Bytes{0x01, 0x02, 0x07}.data(), 3));
  requestScriptMemory(0x7ff);
  EXPECT_EQ(hostSent(), "aa 06 0d 20 00 01 02 07 37 55 aa 04 0e ff 07 05 19 55");
  EXPECT_EQ(text(IDC_SENT_PANE), "0e cdgScrDldMem ff 07 05\r\n\r\n0d cdgSrcUldMem 20 00 01 02 07\r\nError: Out of Range\r\n"
                                 "Error: Out of Range\r\n1e cdgTiltLoop 70 11 07\r\n0e cdgScrDldMem ff 00 70\r\n0f cdgScrArm ff 00\r\n");
  for (const char* field : {"Direct", "Program Script", "Run Scr", "Idle", "Init", "Fault", "program script", "Direct "}) {
    setModeText(field);
    ASSERT_TRUE(routeCommand(ID_IDLE, 0));
  }
  EXPECT_EQ(hostSent(), "aa 01 03 03 55 aa 01 05 05 55 aa 01 07 07 55");
  for (int id : {ID_CLEAR_PANES, IDC_CLEAR}) {
    showSentText("09 cdgSetElectrode 03 c8");
    ASSERT_TRUE(routeCommand(id, 0));
    EXPECT_EQ(text(IDC_SENT_PANE) + text(IDC_RECEIVED_PANE), "");
  }
}

}  // namespace
