// Command routing of the main dialog over a pseudo-terminal: what each identifier sends,
// posts or opens, in which order, and the senders' byte layouts.
#include "link_fixture.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "platform/console/console_window.h"
#include "protocol/catalogue.h"
#include "protocol/senders.h"
#include "resource.h"
#include "ui/electrodes.h"
#include "ui/main_dialog.h"
#include "ui/parameters.h"
#include "ui/status_display.h"

namespace {

std::string text(int id) { return consoleControlText(Dialog::Main, id); }

std::vector<int> takePosted() {
  std::vector<int> ids;
  int id = 0;
  while (consoleTakePostedCommand(id)) ids.push_back(id);
  return ids;
}

using RoutingTest = LinkTest;

class PlainCommandTest : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(PlainCommandTest, SendsItsCodeAndEchoesIt) {
  const int id = GetParam();
  const uint8_t code = static_cast<uint8_t>(id - ID_DEVICE_COMMAND_BASE);
  ASSERT_TRUE(routeCommand(id, 0));
  EXPECT_EQ(hex(hostSent()), hex(frame({code})));
  char line[64];
  std::snprintf(line, sizeof line, "%.2x %s", code, commandName(code));
  EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), line);
  EXPECT_TRUE(takePosted().empty());
}

INSTANTIATE_TEST_SUITE_P(Identifiers, PlainCommandTest,
                         ::testing::Values(300, 301, 302, 303, 304, 305, 306, 307, 308, 311, 312, 316, 317,
                                           319, 320, 321, 322, 323, 324, 325, 326, 328, 329));

TEST_F(RoutingTest, IdentifiersOutsideTheTableDoNothing) {
  for (int id : {0, 100, 122, 138, 299, 331, 369, 377, 389, 392, 800, 1534}) {
    EXPECT_FALSE(routeCommand(id, 0)) << id;
  }
  EXPECT_EQ(hex(hostSent()), "");
  EXPECT_TRUE(takePosted().empty());
}

TEST_F(RoutingTest, RunSendsSelectRunScriptBeforePostingRun) {
  ASSERT_EQ(text(IDC_RUN_STOP), "&Run");
  ASSERT_TRUE(routeCommand(IDC_RUN_STOP, 0));
  // cdgSelectModeRunScr is already on the line; the address dialog waits in the queue.
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgSelectModeRunScr})));
  EXPECT_EQ(takePosted(), std::vector<int>{ID_DEVICE_COMMAND_BASE + cdgScrRun});

  ASSERT_TRUE(routeCommand(IDC_RUN_STOP, 0));
  hostSent();
  typeLines("5\n");
  consoleRunPostedCommands();
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgScrRun, 0x05, 0x00})));
}

TEST_F(RoutingTest, CancelledRunLeavesOnlyTheModeSelected) {
  ASSERT_TRUE(routeCommand(IDC_RUN_STOP, 0));
  typeLines(".\n");
  consoleRunPostedCommands();
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgSelectModeRunScr})));
}

TEST_F(RoutingTest, StopCaptionPostsOnlyStop) {
  showStopCaption();
  ASSERT_TRUE(routeCommand(IDC_RUN_STOP, 0));
  EXPECT_EQ(hex(hostSent()), "");
  EXPECT_EQ(takePosted(), std::vector<int>{ID_DEVICE_COMMAND_BASE + cdgScrStop});
  // Only the exact caption "&Run" means Run.
  setControlText(Dialog::Main, IDC_RUN_STOP, "&run");
  EXPECT_FALSE(isRunCaptionShown());
  setControlText(Dialog::Main, IDC_RUN_STOP, "&Run ");
  EXPECT_FALSE(isRunCaptionShown());
  showRunCaption();
  EXPECT_TRUE(isRunCaptionShown());
}

TEST_F(RoutingTest, ScriptManagerSendsProgramScriptFirst) {
  ASSERT_TRUE(routeCommand(IDC_SCRIPT_MANAGER, 0));
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgSelectModePgmScr})));
  std::vector<int> posted = takePosted();
  EXPECT_EQ(posted, std::vector<int>{ID_DEVICE_COMMAND_BASE + cdgSrcUldMem});
  EXPECT_EQ(printed().find("Script Manager open"), std::string::npos);
  // 313 opens the Script Manager (closed again at the end of input) and sends nothing.
  typeLines("");
  ASSERT_TRUE(routeCommand(posted[0], 0));
  EXPECT_NE(printed().find("Script Manager open"), std::string::npos) << printed();
  EXPECT_EQ(hex(hostSent()), "");
}

TEST_F(RoutingTest, ButtonsPostTheirCommands) {
  const struct { int id; int posted; } cases[] = {
      {IDC_READ_TILT, ID_DEVICE_COMMAND_BASE + cdgDldTilt},
      {IDC_TILT_LOOP, ID_DEVICE_COMMAND_BASE + cdgTiltLoop},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(routeCommand(c.id, 0));
    EXPECT_EQ(takePosted(), std::vector<int>{c.posted}) << c.id;
  }
  EXPECT_EQ(hex(hostSent()), "");
}

TEST_F(RoutingTest, LocalControlTogglesOnClicksOnly) {
  ASSERT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  EXPECT_FALSE(routeCommand(IDC_LOCAL_CONTROL, 1));
  EXPECT_TRUE(takePosted().empty());
  EXPECT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  ASSERT_TRUE(routeCommand(IDC_LOCAL_CONTROL, 0));
  EXPECT_FALSE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  EXPECT_EQ(takePosted(), std::vector<int>{ID_DEVICE_COMMAND_BASE + cdgDisableLclCtrl});
  ASSERT_TRUE(routeCommand(IDC_LOCAL_CONTROL, 0));
  EXPECT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  EXPECT_EQ(takePosted(), std::vector<int>{ID_DEVICE_COMMAND_BASE + cdgEnableLclCtrl});
  EXPECT_EQ(hex(hostSent()), "");
}

struct TypedCase { const char* box; std::vector<int> posted; };

class CommandBoxTest : public LinkTest, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(CommandBoxTest, PostsThreeHundredPlusTheNumber) {
  setControlText(Dialog::Main, IDC_COMMAND_BOX, GetParam().box);
  ASSERT_TRUE(routeCommand(IDC_SEND, 0));
  EXPECT_EQ(takePosted(), GetParam().posted);
  EXPECT_EQ(text(IDC_COMMAND_BOX), GetParam().box);
  EXPECT_EQ(hex(hostSent()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CommandBoxTest,
    ::testing::Values(TypedCase{"9", {309}}, TypedCase{"0x1e", {330}}, TypedCase{"017", {315}},
                      TypedCase{"1e", {301}}, TypedCase{"30", {330}}, TypedCase{"0", {300}},
                      TypedCase{"70", {370}}, TypedCase{"91", {391}}, TypedCase{"31", {331}},
                      TypedCase{"5000", {5300}}, TypedCase{"12345", {1534}},   // at most 4 characters
                      TypedCase{"-1", {}}, TypedCase{"", {}}, TypedCase{"abc", {}}, TypedCase{" ", {}}));

TEST_F(RoutingTest, TypedCodeSendsTheCommand) {
  setControlText(Dialog::Main, IDC_COMMAND_BOX, "0x1c");
  ASSERT_TRUE(routeCommand(IDC_SEND, 0));
  consoleRunPostedCommands();
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgDldTilt})));
}

// A parameter dialog answered line by line, and the frame that follows.
struct DialogCase { int id; const char* typed; Bytes payload; };

class ParameterCommandTest : public LinkTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(ParameterCommandTest, SendsWhatWasEntered) {
  const DialogCase& c = GetParam();
  typeLines(c.typed);
  ASSERT_TRUE(routeCommand(c.id, 0));
  EXPECT_EQ(hex(hostSent()), c.payload.empty() ? "" : hex(frame(c.payload))) << c.typed;
  if (!c.payload.empty()) {
    std::string echo = hex(c.payload);
    echo.insert(2, std::string(" ") + commandName(c.payload[0]));
    EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), echo);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, ParameterCommandTest,
    ::testing::Values(
        DialogCase{315, "\n", {0x0f, 0x00, 0x00}},                         // the default "0"
        DialogCase{315, "1234\n", {0x0f, 0xd2, 0x04}},
        DialogCase{315, "65535\n", {0x0f, 0xff, 0xff}},
        DialogCase{315, ".\n", {}},                                        // cancelled
        DialogCase{318, "0x10\n", {0x12, 0x10, 0x00}},
        DialogCase{314, "16\n20\n", {0x0e, 0x10, 0x00, 0x14}},
        DialogCase{314, "\n\n", {0x0e, 0x00, 0x00, 0x10}},                 // defaults 0 and 16
        DialogCase{314, "16\n300\n\n16\n20\n", {0x0e, 0x10, 0x00, 0x14}},  // 300 refused, asked again
        DialogCase{327, "0x7ff\n255\n", {0x1b, 0xff, 0x07, 0xff}},
        DialogCase{330, "\n\n", {0x1e, 0x0a, 0x00, 0x01}},                 // defaults 10 and 1
        DialogCase{330, "1000\n0\n", {0x1e, 0xe8, 0x03, 0x00}},
        DialogCase{330, "70000\n1\n", {}},                                 // refused, then input ends
        DialogCase{309, "2\n128\n", {0x09, 0x02, 0x80}},
        DialogCase{309, "2\n\n", {}},                                      // empty Current refused
        DialogCase{310, "1\n2\n3\n4\n", {0x0a, 0x01, 0x02, 0x03, 0x04}}));

TEST_F(RoutingTest, RefusedParameterShowsTheRange) {
  typeLines("16\n300\n.\n");
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgScrDldMem, 0));
  EXPECT_NE(printed().find("Count must be a number from 0 to 255"), std::string::npos) << printed();
  EXPECT_EQ(hex(hostSent()), "");
}

TEST_F(RoutingTest, SetElectrodeMovesItsSliderOnly) {
  typeLines("2\n128\n");
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetElectrode, 0));
  EXPECT_EQ(hex(hostSent()), hex(frame({0x09, 0x02, 0x80})));
  EXPECT_EQ(getSliderPosition(IDC_SLIDER_2), 128);
  EXPECT_EQ(text(IDC_CAPTION_2), "2 (+0.00)");
  EXPECT_EQ(getElectrodeCode(2), 128);
  EXPECT_EQ(getSliderPosition(IDC_SLIDER_1), 127);
  EXPECT_EQ(getElectrodeCode(1), 0);
}

TEST_F(RoutingTest, ElectrodeNumberOutsideOneToFourIsSentButChangesNothingHere) {
  for (int e = 1; e <= 4; ++e) setElectrodeCode(e, static_cast<uint8_t>(e));
  for (const char* electrode : {"0", "5", "9", "255"}) {
    typeLines(std::string(electrode) + "\n100\n");
    ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetElectrode, 0));
    uint8_t number = static_cast<uint8_t>(parseNumber(electrode));
    EXPECT_EQ(hex(hostSent()), hex(frame({0x09, number, 100})));
  }
  for (int e = 1; e <= 4; ++e) {
    EXPECT_EQ(getElectrodeCode(e), e);
    EXPECT_EQ(getSliderPosition(IDC_SLIDER_1 + 2 * (e - 1)), 127);
  }
}

TEST_F(RoutingTest, SetAllElectrodesMovesEverySlider) {
  typeLines("0x80\n0x90\n0xa0\n0xb0\n");
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgSetAllElectrodes, 0));
  EXPECT_EQ(hex(hostSent()), hex(frame({0x0a, 0x80, 0x90, 0xa0, 0xb0})));
  const int sliders[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(getSliderPosition(sliders[i]), 0x80 + 0x10 * i);
    EXPECT_EQ(getElectrodeCode(i + 1), 0x80 + 0x10 * i);
  }
  EXPECT_EQ(text(IDC_CAPTION_4), "4 (+0.96)");
}

// The senders take the 16-bit values' bytes from whatever the block holds.
TEST_F(RoutingTest, SendersLayOutSixteenBitValuesLowByteFirst) {
  const struct { int32_t v; uint8_t low, high; } bytes[] = {
      {0, 0x00, 0x00}, {1234, 0xd2, 0x04}, {65535, 0xff, 0xff}, {-1, 0xff, 0x00},
      {70000, 0x70, 0x11}, {-256, 0x00, 0xff}, {-257, 0xff, 0xff}};
  for (const auto& b : bytes) {
    EXPECT_EQ(lowByte(b.v), b.low) << b.v;
    EXPECT_EQ(highByte(b.v), b.high) << b.v;
  }
  parameterBlock().address = -1;
  parameterBlock().count = 300;
  sendAddressCommand(cdgScrArm);
  EXPECT_EQ(hex(hostSent()), hex(frame({0x0f, 0xff, 0x00})));
  sendAddressCountCommand(cdgScrDldMem);
  EXPECT_EQ(hex(hostSent()), hex(frame({0x0e, 0xff, 0x00, 0x2c})));
  parameterBlock().count = 70000;
  parameterBlock().step = 7;
  sendCountStepCommand(cdgTiltLoop);
  EXPECT_EQ(hex(hostSent()), hex(frame({0x1e, 0x70, 0x11, 0x07})));
}

TEST_F(RoutingTest, CodeBeyondTheCatalogueIsNotSent) {
  sendSimpleCommand(31);
  sendSimpleCommand(255);
  EXPECT_EQ(hex(hostSent()), "");
  EXPECT_EQ(text(IDC_SENT_PANE), "Error: Out of Range\r\nError: Out of Range\r\n");
}

struct IdleCase { const char* field; bool fault; Bytes sent; };

class IdleTest : public LinkTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(IdleTest, LeavesTheModeTheFieldShows) {
  if (GetParam().fault) setFaultText(GetParam().field);
  else setModeText(GetParam().field);
  ASSERT_TRUE(routeCommand(ID_IDLE, 0));
  EXPECT_EQ(hex(hostSent()), GetParam().sent.empty() ? "" : hex(frame(GetParam().sent)));
}

INSTANTIATE_TEST_SUITE_P(Modes, IdleTest,
                         ::testing::Values(IdleCase{"Direct", false, {0x03}}, IdleCase{"Program Script", false, {0x05}},
                                           IdleCase{"Run Scr", false, {0x07}}, IdleCase{"Idle", false, {}},
                                           IdleCase{"Init", false, {}}, IdleCase{"Unknown", false, {}},
                                           IdleCase{"None", false, {}}, IdleCase{"Fault", false, {}},
                                           IdleCase{"WatchdogTimer", true, {}}));

TEST_F(RoutingTest, AdvancedWindowsToggleWithTheWindowWidth) {
  ASSERT_FALSE(consoleExpanded());   // collapsed by the 370 posted at start-up
  ASSERT_TRUE(routeCommand(ID_TOGGLE_ADVANCED, 0));
  EXPECT_TRUE(consoleExpanded());
  EXPECT_EQ(mainWindowWidth(), expandedWindowWidth());
  EXPECT_TRUE(consoleControlShown(Dialog::Main, IDC_SENT_LABEL));
  EXPECT_TRUE(consoleControlShown(Dialog::Main, IDC_RECEIVED_LABEL));
  ASSERT_TRUE(routeCommand(ID_TOGGLE_ADVANCED, 0));
  EXPECT_EQ(mainWindowWidth(), collapsedWindowWidth());
  EXPECT_FALSE(consoleControlShown(Dialog::Main, IDC_SENT_LABEL));
  EXPECT_FALSE(consoleControlShown(Dialog::Main, IDC_RECEIVED_LABEL));
  // Any width other than the expanded one counts as collapsed.
  setMainWindowWidth(expandedWindowWidth() + 1);
  ASSERT_TRUE(routeCommand(ID_TOGGLE_ADVANCED, 0));
  EXPECT_EQ(mainWindowWidth(), expandedWindowWidth());
}

TEST_F(RoutingTest, ClearEmptiesBothPanes) {
  for (int id : {ID_CLEAR_PANES, IDC_CLEAR}) {
    showSentText("09 cdgSetElectrode 03 c8");
    showReceivedText("00 mdgCmdAccepted");
    ASSERT_TRUE(routeCommand(id, 0));
    EXPECT_EQ(text(IDC_SENT_PANE), "");
    EXPECT_EQ(text(IDC_RECEIVED_PANE), "");
  }
}

TEST_F(RoutingTest, AboutShowsItsBoxAndChangesNothing) {
  setStatusBarText("before");
  ASSERT_TRUE(routeCommand(ID_ABOUT, 0));
  EXPECT_NE(printed().find(std::string(ABOUT_CAPTION) + ": " + "Kinestim Host v2.6"), std::string::npos) << printed();
  EXPECT_STREQ(ABOUT_CAPTION, "Kinestim Host v2.6");
  EXPECT_EQ(text(IDC_STATUS_BAR), "before");
  EXPECT_EQ(hex(hostSent()), "");
  EXPECT_TRUE(takePosted().empty());
}

TEST_F(RoutingTest, ExitClosesBothLogsStopsTheTimerAndQuits) {
  TempFolder folder;
  typeLines(folder.path("data.log") + "\n" + folder.path("traffic.log") + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  ASSERT_TRUE(isDataLogOpen());
  ASSERT_TRUE(isTrafficLogOpen());
  ASSERT_TRUE(consoleTimerRunning());
  ASSERT_TRUE(routeCommand(ID_EXIT, 0));
  EXPECT_FALSE(isDataLogOpen());
  EXPECT_FALSE(isTrafficLogOpen());
  EXPECT_FALSE(dataLogTimeStamps());
  EXPECT_FALSE(consoleTimerRunning());
  EXPECT_FALSE(dialogExists(Dialog::Main));
  EXPECT_TRUE(consoleQuitRequested());
  EXPECT_EQ(consoleExitCode(), 0);
}

struct ScrollCase { int code; bool handled; bool sends; };

class SliderScrollTest : public LinkTest, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(SliderScrollTest, SendsOnStepsAndReleaseOnly) {
  const ScrollCase& c = GetParam();
  setSliderPosition(IDC_SLIDER_2, 120);   // where the trackbar has moved the thumb
  EXPECT_EQ(handleSliderScroll(IDC_SLIDER_2, c.code), c.handled);
  EXPECT_EQ(hex(hostSent()), c.sends ? hex(frame({0x09, 0x02, 120})) : "");
  EXPECT_EQ(getElectrodeCode(2), c.sends ? 120 : 0);
  EXPECT_EQ(text(IDC_CAPTION_2), c.handled ? "2 (-0.16)" : "2 (-0.02)");
}

INSTANTIATE_TEST_SUITE_P(Codes, SliderScrollTest,
                         ::testing::Values(ScrollCase{0, true, true}, ScrollCase{1, true, true},
                                           ScrollCase{2, true, true}, ScrollCase{3, true, true},
                                           ScrollCase{4, true, true}, ScrollCase{5, true, false},
                                           ScrollCase{6, true, true}, ScrollCase{7, true, true},
                                           ScrollCase{8, false, false}, ScrollCase{9, false, false},
                                           ScrollCase{-1, false, false}));

TEST_F(RoutingTest, ScrollFromAnotherWindowDoesNothing) {
  EXPECT_FALSE(handleSliderScroll(-1, 4));
  EXPECT_FALSE(handleSliderScroll(IDC_CAPTION_1, 4));
  EXPECT_EQ(hex(hostSent()), "");
}

}  // namespace
