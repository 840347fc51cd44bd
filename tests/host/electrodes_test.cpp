// Electrode sliders, captions and stored codes, and the start-up state of the status display.
#include "host_fixture.h"
#include "platform/console/console_window.h"
#include "resource.h"
#include "ui/electrodes.h"
#include "ui/status_display.h"

namespace {

const int SLIDERS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
const int CAPTIONS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

std::string text(int id) { return consoleControlText(Dialog::Main, id); }
bool enabled(int id) { return consoleControlEnabled(Dialog::Main, id); }

using StartUpTest = HostTest;

TEST_F(StartUpTest, WindowShowsTheStartUpState) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(text(CAPTIONS[i]), std::to_string(i + 1) + " (-0.02)");
    EXPECT_EQ(getSliderPosition(SLIDERS[i]), 127);
    EXPECT_FALSE(enabled(SLIDERS[i]));
    EXPECT_FALSE(enabled(CAPTIONS[i]));
    EXPECT_EQ(getElectrodeCode(i + 1), 0);
  }
  EXPECT_EQ(text(IDC_MODE_LABEL), "Mode");
  EXPECT_EQ(text(IDC_MODE_FIELD), "Unknown");
  EXPECT_EQ(currentModeFromDisplay(), 0);
  EXPECT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  for (int id : {IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE, IDC_READ_TILT, IDC_TILT_LOOP})
    EXPECT_FALSE(enabled(id)) << id;
  EXPECT_TRUE(enabled(IDC_COMMAND_BOX));
  EXPECT_EQ(text(IDC_RUN_STOP), "&Run");
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Stopped");
  EXPECT_EQ(text(IDC_STATUS_BAR), "Turn on the Kinestim now");
  EXPECT_TRUE(consoleTimerRunning());
  // The posted 370 has collapsed the window and hidden the pane labels.
  EXPECT_FALSE(consoleExpanded());
  EXPECT_FALSE(consoleControlShown(Dialog::Main, IDC_SENT_LABEL));
  EXPECT_FALSE(consoleControlShown(Dialog::Main, IDC_RECEIVED_LABEL));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_TRAFFIC_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_DATA_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_DATA_LOG));
}

struct CurrentCase { uint8_t code; const char* text; };

class CodeToCurrentTest : public ::testing::TestWithParam<CurrentCase> {};

TEST_P(CodeToCurrentTest, ScaleIsTwoHundredthsFromMinus256) {
  char text[32];
  std::snprintf(text, sizeof text, "%+5.2f", static_cast<double>(codeToCurrent(GetParam().code)));
  EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Codes, CodeToCurrentTest,
                         ::testing::Values(CurrentCase{0, "-2.56"}, CurrentCase{1, "-2.54"},
                                           CurrentCase{127, "-0.02"}, CurrentCase{128, "+0.00"},
                                           CurrentCase{129, "+0.02"}, CurrentCase{200, "+1.44"},
                                           CurrentCase{255, "+2.54"}));

using ElectrodeTest = HostTest;

TEST_F(ElectrodeTest, CaptionsFollowSliderPositions) {
  const struct { int index; int position; const char* caption; } cases[] = {
      {0, 0, "1 (-2.56)"}, {0, 255, "1 (+2.54)"}, {0, 128, "1 (+0.00)"},
      {2, 200, "3 (+1.44)"}, {3, 1, "4 (-2.54)"}, {1, 127, "2 (-0.02)"},
  };
  for (const auto& c : cases) {
    setSliderPosition(SLIDERS[c.index], c.position);
    refreshElectrodeCaption(c.index);
    EXPECT_EQ(text(CAPTIONS[c.index]), c.caption);
    EXPECT_EQ(sliderPosition(c.index), c.position);
  }
  // The caption shows the slider, not the stored code.
  EXPECT_EQ(getElectrodeCode(3), 0);
}

TEST_F(ElectrodeTest, NumbersOutsideOneToFourTouchNothing) {
  for (int e = 1; e <= 4; ++e) setElectrodeCode(e, static_cast<uint8_t>(10 * e));
  for (int e : {-1, 0, 5, 9, 255}) {
    setElectrodeCode(e, 99);
    EXPECT_EQ(getElectrodeCode(e), 0) << e;
  }
  showElectrodeCode(4, 99);
  showElectrodeCode(-1, 99);
  for (int e = 1; e <= 4; ++e) {
    EXPECT_EQ(getElectrodeCode(e), 10 * e);
    EXPECT_EQ(getSliderPosition(SLIDERS[e - 1]), 127);
  }
}

struct ModeFieldCase { const char* text; int mode; };

class ModeReadBackTest : public HostTest, public ::testing::WithParamInterface<ModeFieldCase> {};

TEST_P(ModeReadBackTest, ReadsTheModeFromTheField) {
  setModeText(GetParam().text);
  EXPECT_EQ(currentModeFromDisplay(), GetParam().mode);
  setFaultText(GetParam().text);
  EXPECT_EQ(text(IDC_MODE_LABEL), "Fault");
}

INSTANTIATE_TEST_SUITE_P(Texts, ModeReadBackTest,
                         ::testing::Values(ModeFieldCase{"Direct", 3}, ModeFieldCase{"Program Script", 4},
                                           ModeFieldCase{"Run Scr", 5}, ModeFieldCase{"Idle", 2},
                                           ModeFieldCase{"Fault", 6}, ModeFieldCase{"program script", 0},
                                           ModeFieldCase{"Unknown", 0}, ModeFieldCase{"WatchdogTimer", 0},
                                           ModeFieldCase{"Direct ", 0}, ModeFieldCase{"", 0}));

}  // namespace
