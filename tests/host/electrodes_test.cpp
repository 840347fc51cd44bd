// Electrode sliders, captions and stored codes, and the start-up state of the status display.
#include "host_fixture.h"
#include "ui/electrodes.h"
#include "ui/status_display.h"

namespace {

const int SLIDERS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
const int CAPTIONS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

bool enabled(int id) { return consoleControlEnabled(Dialog::Main, id); }

using ElectrodeTest = HostTest;

TEST_F(ElectrodeTest, WindowShowsTheStartUpState) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(text(CAPTIONS[i]), std::to_string(i + 1) + " (-0.02)");
    EXPECT_EQ(getSliderPosition(SLIDERS[i]), 127);
    EXPECT_FALSE(enabled(SLIDERS[i]) || enabled(CAPTIONS[i]));
    EXPECT_EQ(getElectrodeCode(i + 1), 0);
  }
  EXPECT_EQ(text(IDC_MODE_LABEL) + "|" + text(IDC_MODE_FIELD) + "|" + text(IDC_RUN_STOP) + "|" + text(IDC_SCRIPT_STATUS) +
                "|" + text(IDC_STATUS_BAR),
            "Mode|Unknown|&Run|Stopped|Turn on the Kinestim now");
  EXPECT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  for (int id : {IDC_LOCAL_CONTROL, IDC_RUN_STOP, IDC_SCRIPT_MANAGER, IDC_CALIBRATE, IDC_READ_TILT, IDC_TILT_LOOP})
    EXPECT_FALSE(enabled(id)) << id;
  EXPECT_TRUE(enabled(IDC_COMMAND_BOX));
  EXPECT_TRUE(consoleTimerRunning());
  // The posted 370 has collapsed the window and hidden the pane labels.
  EXPECT_FALSE(consoleExpanded() || consoleControlShown(Dialog::Main, IDC_SENT_LABEL));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_TRAFFIC_LOG) && consoleMenuItemEnabled(ID_START_DATA_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG) || consoleMenuItemEnabled(ID_STOP_DATA_LOG));
}

// Captions show the slider position (not the stored code) in steps of 0.02 from -2.56.
TEST_F(ElectrodeTest, CaptionsFollowSliderPositions) {
  const struct { int index, position; const char* caption; } cases[] = {
      {0, 0, "1 (-2.56)"}, {0, 1, "1 (-2.54)"}, {0, 127, "1 (-0.02)"}, {0, 128, "1 (+0.00)"},
      {1, 129, "2 (+0.02)"}, {2, 200, "3 (+1.44)"}, {3, 255, "4 (+2.54)"}};
  for (const auto& c : cases) {
    setSliderPosition(SLIDERS[c.index], c.position);
    refreshElectrodeCaption(c.index);
    EXPECT_EQ(text(CAPTIONS[c.index]), c.caption);
  }
  EXPECT_EQ(getElectrodeCode(4), 0);
}

}  // namespace
