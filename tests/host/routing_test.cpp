// Command routing of the main dialog over a pseudo-terminal: what each identifier sends,
// posts or opens, in which order, and the senders' byte layouts.
#include "link_fixture.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "link/catalogue.h"
#include "protocol/senders.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include "ui/parameters.h"
#include "ui/status_display.h"

namespace {

std::vector<int> takePosted() {
  std::vector<int> ids;
  for (int id = 0; consoleTakePostedCommand(id);) ids.push_back(id);
  return ids;
}
std::vector<int> posted(int code) { return {ID_DEVICE_COMMAND_BASE + code}; }

using RoutingTest = LinkTest;

// Buttons that send a mode change first and then post the command that opens its dialog; Run
// showing Stop posts only Stop.
TEST_F(RoutingTest, ButtonsSendTheirModeFirstAndPostTheirCommandsAndLocalControlTogglesOnClicksOnly) {
  const struct { int id; Bytes sent; int posted; bool stopShown = false; } cases[] = {
      {IDC_RUN_STOP, {cdgSelectModeRunScr}, cdgScrRun},
      {IDC_SCRIPT_MANAGER, {cdgSelectModePgmScr}, cdgSrcUldMem},
      {IDC_READ_TILT, {}, cdgDldTilt},
      {IDC_TILT_LOOP, {}, cdgTiltLoop},
      {IDC_RUN_STOP, {}, cdgScrStop, true}};
  for (const auto& c : cases) {
    if (c.stopShown) showStopCaption();
    ASSERT_TRUE(routeCommand(c.id, 0));
    EXPECT_EQ(hostSent(), c.sent.empty() ? "" : hex(frameOf(c.sent))) << c.id;
    EXPECT_EQ(takePosted(), posted(c.posted)) << c.id;  // the dialog waits in the queue
  }
  EXPECT_EQ(printed().find("Script Manager open"), std::string::npos);
  // Only the exact caption is Run; Local Control toggles on clicks only.
  for (const char* caption : {"&run", "&Run ", "&Run"}) {
    setControlText(Dialog::Main, IDC_RUN_STOP, caption);
    EXPECT_EQ(isRunCaptionShown(), caption == std::string("&Run")) << caption;
  }
  EXPECT_FALSE(routeCommand(IDC_LOCAL_CONTROL, 1));  // not a click
  EXPECT_TRUE(takePosted().empty());
  for (bool mark : {false, true}) {
    ASSERT_TRUE(routeCommand(IDC_LOCAL_CONTROL, 0));
    EXPECT_EQ(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL), mark);
    EXPECT_EQ(takePosted(), posted(mark ? cdgEnableLclCtrl : cdgDisableLclCtrl));
  }
  EXPECT_EQ(hostSent(), "");
}

// The Send button posts 300 plus the number in the command box when the whole box is one
// number from 0 to 9999; identifiers outside the routing table do nothing.
TEST_F(RoutingTest, SendPostsThreeHundredPlusTheTypedNumberAndUnknownIdentifiersDoNothing) {
  const struct { const char* box; std::vector<int> posted; } cases[] = {
      {"9", {309}}, {"0x1e", {330}}, {"017", {315}},
      {"1e", {}}, {"0", {300}}, {" 91 ", {391}},
      {"9999", {10299}}, {"12345", {}}, {"-1", {}},
      {"", {}}, {"abc", {}}, {" ", {}}};
  for (const auto& c : cases) {
    setControlText(Dialog::Main, IDC_COMMAND_BOX, c.box);
    ASSERT_TRUE(routeCommand(IDC_SEND, 0));
    EXPECT_EQ(takePosted(), c.posted) << c.box;
    EXPECT_EQ(text(IDC_COMMAND_BOX), c.box);
  }
  for (int id : {0, 100, 122, 138, 299, 331, 369, 377, 389, 392, 800, 1534}) {
    EXPECT_FALSE(routeCommand(id, 0)) << id;
  }
  EXPECT_TRUE(takePosted().empty());
  EXPECT_EQ(hostSent(), "");
}

// A command identifier, the lines typed at its dialog (if any), and the frame that follows.
struct DialogCase { int id; const char* typed; Bytes payload; };

class CommandTest : public LinkTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(CommandTest, SendsWhatWasEntered) {
  const DialogCase& c = GetParam();
  typeLines(c.typed);
  ASSERT_TRUE(routeCommand(c.id, 0));
  EXPECT_EQ(hostSent(), c.payload.empty() ? "" : hex(frameOf(c.payload))) << c.typed;
  EXPECT_TRUE(takePosted().empty());
}

std::vector<DialogCase> commandCases() {
  std::vector<DialogCase> cases;  // the plain commands: their code alone
  for (int id : {300, 301, 302, 303, 304, 305, 306, 307, 308, 311, 312, 316, 317, 319, 320, 321, 322, 323, 324, 325,
                 326, 328, 329}) {
    cases.push_back({id, "", {static_cast<uint8_t>(id - ID_DEVICE_COMMAND_BASE)}});
  }
  const DialogCase dialogs[] = {
      {315, "\n", {0x0f, 0x00, 0x00}},                         // the default "0"
      {315, ".\n", {}},                                        // cancelled
      {318, "0x10\n", {0x12, 0x10, 0x00}},
      {314, "\n\n", {0x0e, 0x00, 0x00, 0x10}},                 // defaults 0 and 16
      {314, "16\n300\n\n16\n20\n", {0x0e, 0x10, 0x00, 0x14}},  // 300 refused, asked again
      {327, "0x7ff\n255\n", {0x1b, 0xff, 0x07, 0xff}},
      {330, "\n\n", {0x1e, 0x0a, 0x00, 0x01}}};                // defaults 10 and 1
  cases.insert(cases.end(), std::begin(dialogs), std::end(dialogs));
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Identifiers, CommandTest, ::testing::ValuesIn(commandCases()));

// Set Electrode moves only its own slider; electrodes outside 1 to 4 are sent but change
// nothing here.
TEST_F(RoutingTest, SetElectrodeMovesOnlyItsOwnSlider) {
  for (int e = 1; e <= 4; ++e) setElectrodeCode(e, static_cast<uint8_t>(e));
  for (auto [electrode, sent] : {std::pair{"0", 0x00}, {"5", 0x05}, {"255", 0xff}, {"2", 0x02}}) {
    typeLines(std::string(electrode) + "\n128\n");
    ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetElectrode, 0));
    EXPECT_EQ(hostSent(), hex(frameOf({0x09, static_cast<uint8_t>(sent), 0x80})));
  }
  std::string shown;  // code/slider of each electrode
  for (int e = 1; e <= 4; ++e) {
    shown += std::to_string(getElectrodeCode(e)) + "/" + std::to_string(getSliderPosition(IDC_SLIDER_1 + 2 * (e - 1))) +
             " ";
  }
  EXPECT_EQ(shown + text(IDC_CAPTION_2), "1/127 128/128 3/127 4/127 2 (+0.00)");
  typeLines("0x80\n0x90\n0xa0\n0xb0\n");
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetAllElectrodes, 0));
  EXPECT_EQ(hostSent(), hex(frameOf({0x0a, 0x80, 0x90, 0xa0, 0xb0})));
  EXPECT_EQ(std::to_string(getSliderPosition(IDC_SLIDER_4)) + " " + std::to_string(getElectrodeCode(4)) + " " +
                text(IDC_CAPTION_4),
            "176 176 4 (+0.96)");
  // A drag (5) and the end of a scroll (8) send nothing; the other codes send the position.
  setSliderPosition(IDC_SLIDER_1, 200);
  EXPECT_TRUE(handleSliderScroll(IDC_SLIDER_1, 5));
  EXPECT_FALSE(handleSliderScroll(IDC_SLIDER_1, 8));
  EXPECT_EQ(hostSent(), "");
  EXPECT_TRUE(handleSliderScroll(IDC_SLIDER_1, 7));
  EXPECT_EQ(hostSent(), hex(frameOf({0x09, 0x01, 200})));
}

// A frame that cannot be written moves no slider, caption or stored code, so the data log goes
// on reporting what the device has; the Warning names what was not set.
TEST_F(RoutingTest, AFailedElectrodeWriteLeavesSliderCaptionCodeAndDataLogAsTheyWere) {
  TempFolder folder;
  typeLines(folder.path("data.log") + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  const uint8_t before[4] = {0x80, 0x80, 0x80, 0x80};
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
  EXPECT_EQ(std::to_string(getSliderPosition(IDC_SLIDER_3)) + " " + std::to_string(getElectrodeCode(3)) + " " +
                std::to_string(getElectrodeCode(1)) + " " + text(IDC_CAPTION_3) + " " + text(IDC_CAPTION_1),
            "128 128 128 3 (+0.00) 1 (+0.00)");
  const std::string log = TempFolder::read(folder.path("data.log"));
  EXPECT_NE(log.find("\t\t  +0.00\t  +0.00\t  +0.00\t  +0.00\t\t"), std::string::npos) << log;
  const std::string warnings = printed();
  EXPECT_EQ(warnings.find("Warning: Write Failed\n"), std::string::npos) << warnings;
  // One Warning when the link goes; the two dialog commands after it are refused by status line.
  const size_t first = warnings.find("Warning: Write Failed: electrode 3 was not set\n");
  ASSERT_NE(first, std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("Warning:", first + 1), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("status: Not sent: the link to "), std::string::npos) << warnings;
}

// The senders take the 16-bit values' bytes from whatever the block holds.
TEST_F(RoutingTest, SendersLayOutSixteenBitValuesLowByteFirst) {
  parameterBlock() = ParameterBlock{3, 99, {1, 2, 3, 4}, -1, 70000, 7};
  sendAddressCommand(cdgScrArm);
  sendAddressCountCommand(cdgScrDldMem);
  sendCountStepCommand(cdgTiltLoop);
  EXPECT_EQ(hostSent(),
            hex(frameOf({0x0f, 0xff, 0x00}) + frameOf({0x0e, 0xff, 0x00, 0x70}) + frameOf({0x1e, 0x70, 0x11, 0x07})));
  sendSimpleCommand(31);  // beyond the catalogue: not sent
  sendSimpleCommand(255);
  EXPECT_EQ(hostSent(), "");
  EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), "Error: Out of Range");
}

TEST_F(RoutingTest, IdleLeavesTheModeTheFieldShowsAndClearEmptiesBothPanes) {
  const struct { const char* field; Bytes sent; } cases[] = {
      {"Direct", {0x03}}, {"Program Script", {0x05}}, {"Run Scr", {0x07}},
      {"Idle", {}}, {"Init", {}}, {"Unknown", {}},
      {"Fault", {}}, {"program script", {}}, {"Direct ", {}}};  // only exact mode names count
  for (const auto& c : cases) {
    setModeText(c.field);
    ASSERT_TRUE(routeCommand(ID_IDLE, 0));
    EXPECT_EQ(hostSent(), c.sent.empty() ? "" : hex(frameOf(c.sent))) << c.field;
  }
  for (int id : {ID_CLEAR_PANES, IDC_CLEAR}) {  // both Clears empty both panes
    showSentText("09 cdgSetElectrode 03 c8");
    ASSERT_TRUE(routeCommand(id, 0));
    EXPECT_EQ(text(IDC_SENT_PANE) + text(IDC_RECEIVED_PANE), "");
  }
}

}  // namespace
