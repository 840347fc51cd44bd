// Traffic panes, the traffic log and the current-and-tilt data log, with real files.
#include "host_fixture.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "platform/console/console_window.h"
#include "resource.h"
#include "ui/electrodes.h"
#include "ui/main_dialog.h"
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

namespace {

const char* const STAMP = "[0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\\.[0-9]{3} ";

std::string sentPane() { return consoleControlText(Dialog::Main, IDC_SENT_PANE); }
std::string receivedPane() { return consoleControlText(Dialog::Main, IDC_RECEIVED_PANE); }

// Open file descriptors of this process, where the system lists them (-1 elsewhere).
int openDescriptorCount() {
#ifdef __linux__
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
#else
  return -1;
#endif
}

// Checks that exactly `more` descriptors are open beyond `before`, where that can be seen.
void expectDescriptors(int before, int more) {
  if (before >= 0) {
    EXPECT_EQ(openDescriptorCount(), before + more);
  }
}

using TrafficPaneTest = HostTest;

TEST_F(TrafficPaneTest, EachEventAddsOneLineToBothPanes) {
  showSentText("09 cdgSetElectrode 03 c8");
  showReceivedText("00 mdgCmdAccepted");
  EXPECT_EQ(receivedPane(), "00 mdgCmdAccepted\r\n\r\n");
  EXPECT_EQ(sentPane(), "\r\n09 cdgSetElectrode 03 c8\r\n");
}

TEST_F(TrafficPaneTest, SentCommandLinesNameTheCommandAndListItsBytes) {
  const uint8_t setElectrode[] = {0x09, 0x03, 0xc8};
  showSentCommand(setElectrode, 3);
  EXPECT_EQ(firstLine(sentPane()), "09 cdgSetElectrode 03 c8");
  const uint8_t nop[] = {0x00};
  showSentCommand(nop, 1);
  EXPECT_EQ(firstLine(sentPane()), "00 cdgNOP");
  const uint8_t arm[] = {0x0f, 0x0a, 0x00};
  showSentCommand(arm, 3);
  EXPECT_EQ(firstLine(sentPane()), "0f cdgScrArm 0a 00");
  const uint8_t tiltLoop[] = {0x1e, 0x0a, 0x00, 0x01};
  showSentCommand(tiltLoop, 4);
  EXPECT_EQ(firstLine(sentPane()), "1e cdgTiltLoop 0a 00 01");
}

// The own pane keeps at most 4095 characters with the new line on top; the other pane gets
// an empty line on top of its first 4093 characters.
struct PaneLimitCase { size_t ownBefore; size_t otherBefore; };

class PaneLimitTest : public HostTest, public ::testing::WithParamInterface<PaneLimitCase> {};

TEST_P(PaneLimitTest, CutsTheOldestTextAtTheLimit) {
  const PaneLimitCase& c = GetParam();
  std::string own, other;
  for (size_t i = 0; i < c.ownBefore; ++i) own += static_cast<char>('a' + i % 26);
  for (size_t i = 0; i < c.otherBefore; ++i) other += static_cast<char>('A' + i % 26);
  for (bool sent : {true, false}) {
    const int ownId = sent ? IDC_SENT_PANE : IDC_RECEIVED_PANE;
    const int otherId = sent ? IDC_RECEIVED_PANE : IDC_SENT_PANE;
    setControlText(Dialog::Main, ownId, own.c_str());
    setControlText(Dialog::Main, otherId, other.c_str());
    if (sent) showSentText("xyz");
    else showReceivedText("xyz");
    std::string expectedOwn = "xyz\r\n" + own.substr(0, PANE_TEXT_LIMIT - 5);
    std::string expectedOther = "\r\n" + other.substr(0, PANE_TEXT_LIMIT - 2);
    EXPECT_EQ(consoleControlText(Dialog::Main, ownId), expectedOwn) << (sent ? "sent" : "received");
    EXPECT_EQ(consoleControlText(Dialog::Main, otherId), expectedOther) << (sent ? "sent" : "received");
    EXPECT_LE(consoleControlText(Dialog::Main, ownId).size(), static_cast<size_t>(PANE_TEXT_LIMIT));
  }
}

INSTANTIATE_TEST_SUITE_P(Boundary, PaneLimitTest,
                         ::testing::Values(PaneLimitCase{0, 0}, PaneLimitCase{4089, 4092},
                                           PaneLimitCase{4090, 4093}, PaneLimitCase{4091, 4094},
                                           PaneLimitCase{4095, 4095}));

TEST_F(TrafficPaneTest, ALineLongerThanThePaneIsCutButLoggedWhole) {
  TempFolder folder;
  std::string path = folder.path("long.log");
  typeLines(path + "\n");
  startTrafficLog();
  ASSERT_TRUE(isTrafficLogOpen());
  std::string longText(5000, 'b');
  showSentText(longText.c_str());
  EXPECT_EQ(sentPane(), std::string(PANE_TEXT_LIMIT, 'b'));
  stopTrafficLog();
  std::string logged = TempFolder::read(path);
  ASSERT_GE(logged.size(), 13u);
  EXPECT_EQ(logged.substr(13), "\t" + longText + "\r\n");
}

TEST_F(TrafficPaneTest, TimeStampIsHoursMinutesSecondsAndMilliseconds) {
  char stamp[32];
  EXPECT_EQ(formatTimeStamp(stamp), 13);
  EXPECT_TRUE(std::regex_match(std::string(stamp), std::regex(STAMP))) << stamp;
}

TEST_F(TrafficPaneTest, LogHoldsOneStampedLinePerEventInItsColumn) {
  TempFolder folder;
  std::string path = folder.path("traffic.log");
  { std::ofstream(path) << "earlier content that must go\r\n"; }
  typeLines(path + "\ny\n");   // the chooser asks before replacing an existing file
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  ASSERT_TRUE(isTrafficLogOpen());
  EXPECT_FALSE(consoleMenuItemEnabled(ID_START_TRAFFIC_LOG));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG));
  showSentText("0f cdgScrArm 05 00");
  showReceivedText("23 mdgScrArmed <05> <00>");
  showSentText("Error: Out of Range");
  ASSERT_TRUE(routeCommand(ID_STOP_TRAFFIC_LOG, 0));
  EXPECT_FALSE(isTrafficLogOpen());
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_TRAFFIC_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG));
  showSentText("not logged");
  std::string s(STAMP);
  std::regex expected(s + "\t0f cdgScrArm 05 00\r\n" + s + "\t\t\t23 mdgScrArmed <05> <00>\r\n" + s +
                      "\tError: Out of Range\r\n");
  std::string logged = TempFolder::read(path);
  EXPECT_TRUE(std::regex_match(logged, expected)) << logged;
}

TEST_F(TrafficPaneTest, CancelledChoiceLeavesTheLogOffSilently) {
  typeLines("");
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  EXPECT_FALSE(isTrafficLogOpen());
  EXPECT_EQ(printed().find("Error Opening log file"), std::string::npos);
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_TRAFFIC_LOG));
}

TEST_F(TrafficPaneTest, FileThatCannotBeCreatedIsReported) {
  TempFolder folder;
  typeLines(folder.path("no-such-folder/traffic.log") + "\n");
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  EXPECT_FALSE(isTrafficLogOpen());
  EXPECT_NE(printed().find("Error Opening log file"), std::string::npos) << printed();
}

TEST_F(TrafficPaneTest, StartingAgainWhileOpenClosesTheEarlierFile) {
  TempFolder folder;
  std::string first = folder.path("first.log"), second = folder.path("second.log");
  int before = openDescriptorCount();
  typeLines(first + "\n");
  startTrafficLog();
  showSentText("one");
  typeLines(second + "\n");   // typing 73 while the log is open
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  ASSERT_TRUE(isTrafficLogOpen());
  expectDescriptors(before, 1);
  showSentText("two");
  typeLines("");              // and again, cancelled this time
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  EXPECT_FALSE(isTrafficLogOpen());
  expectDescriptors(before, 0);
  showSentText("three");
  std::string a = TempFolder::read(first), b = TempFolder::read(second);
  EXPECT_NE(a.find("\tone\r\n"), std::string::npos);
  EXPECT_EQ(a.find("two"), std::string::npos);
  EXPECT_NE(b.find("\ttwo\r\n"), std::string::npos);
  EXPECT_EQ(b.find("three"), std::string::npos);
  EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 1);
}

using DataLogTest = HostTest;

struct DataLineCase { uint8_t codes[4]; double x, y; const char* line; };

class DataLineTest : public HostTest, public ::testing::WithParamInterface<DataLineCase> {};

TEST_P(DataLineTest, FormatsCurrentsAndAngles) {
  const DataLineCase& c = GetParam();
  for (int e = 1; e <= 4; ++e) setElectrodeCode(e, c.codes[e - 1]);
  char line[192];
  int n = formatDataLogLine(line, sizeof line, c.x, c.y);
  EXPECT_EQ(std::string(line, n), c.line);
  EXPECT_EQ(n, 56);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DataLineTest,
    ::testing::Values(
        // Stored codes at start-up are 0: -2.56.
        DataLineCase{{127, 127, 127, 200}, 28.1369, -21.7481,
                     "\t\t  -0.02\t  -0.02\t  -0.02\t  +1.44\t\t     28.1\t    -21.7\r\n"},
        DataLineCase{{0, 0, 0, 0}, 0.0, 0.0, "\t\t  -2.56\t  -2.56\t  -2.56\t  -2.56\t\t      0.0\t      0.0\r\n"},
        DataLineCase{{128, 255, 1, 100}, 90.0001, -0.04, "\t\t  +0.00\t  +2.54\t  -2.54\t  -0.56\t\t     90.0\t     -0.0\r\n"},
        DataLineCase{{127, 127, 127, 127}, -90.0001, 45.26, "\t\t  -0.02\t  -0.02\t  -0.02\t  -0.02\t\t    -90.0\t     45.3\r\n"}));

TEST_F(DataLogTest, FollowsStoredCodesNotSliders) {
  showElectrodeCode(0, 200);
  setSliderPosition(IDC_SLIDER_2, 10);   // a slider moved without a send
  resetElectrodeCodes();                 // as when the device leaves Direct mode
  char line[192];
  int n = formatDataLogLine(line, sizeof line, 1.0, 2.0);
  EXPECT_EQ(std::string(line, n), "\t\t  -0.02\t  -0.02\t  -0.02\t  -0.02\t\t      1.0\t      2.0\r\n");
}

TEST_F(DataLogTest, StampFollowsDataLogStartAndTrafficLogStop) {
  TempFolder folder;
  std::string path = folder.path("data.log");
  typeLines(path + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  ASSERT_TRUE(isDataLogOpen());
  EXPECT_FALSE(consoleMenuItemEnabled(ID_START_DATA_LOG));
  EXPECT_TRUE(consoleMenuItemEnabled(ID_STOP_DATA_LOG));
  writeDataLogLine(28.1369, -21.7481);
  ASSERT_TRUE(routeCommand(ID_STOP_TRAFFIC_LOG, 0));   // switches the stamp off
  writeDataLogLine(1.0, 2.0);
  ASSERT_TRUE(routeCommand(ID_STOP_DATA_LOG, 0));
  EXPECT_FALSE(isDataLogOpen());
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_DATA_LOG));
  writeDataLogLine(3.0, 4.0);   // closed: nothing written
  std::string body = "\t\t  -2.56\t  -2.56\t  -2.56\t  -2.56\t\t";
  std::regex expected(std::string(STAMP) + body + "     28.1\t    -21.7\r\n" + body + "      1.0\t      2.0\r\n");
  std::string logged = TempFolder::read(path);
  EXPECT_TRUE(std::regex_match(logged, expected)) << logged;

  // Starting again brings the stamp back; the file is emptied.
  typeLines(path + "\ny\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  writeDataLogLine(5.0, 6.0);
  ASSERT_TRUE(routeCommand(ID_STOP_DATA_LOG, 0));
  logged = TempFolder::read(path);
  EXPECT_TRUE(std::regex_match(logged, std::regex(std::string(STAMP) + body + "      5.0\t      6.0\r\n"))) << logged;
}

TEST_F(DataLogTest, CancelledStartKeepsTheStampFlagOnAndTheLogClosed) {
  typeLines("");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  EXPECT_FALSE(isDataLogOpen());
  EXPECT_TRUE(dataLogTimeStamps());
  EXPECT_TRUE(consoleMenuItemEnabled(ID_START_DATA_LOG));
  EXPECT_FALSE(consoleMenuItemEnabled(ID_STOP_DATA_LOG));
}

TEST_F(DataLogTest, StartingAgainWhileOpenClosesTheEarlierFile) {
  TempFolder folder;
  std::string first = folder.path("first.log"), second = folder.path("second.log");
  int before = openDescriptorCount();
  typeLines(first + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  writeDataLogLine(1.0, 1.0);
  typeLines(second + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  expectDescriptors(before, 1);
  writeDataLogLine(2.0, 2.0);
  typeLines("");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  EXPECT_FALSE(isDataLogOpen());
  expectDescriptors(before, 0);
  std::string a = TempFolder::read(first), b = TempFolder::read(second);
  EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 1);
  EXPECT_NE(a.find("      1.0\t      1.0\r\n"), std::string::npos);
  EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 1);
  EXPECT_NE(b.find("      2.0\t      2.0\r\n"), std::string::npos);
}

}  // namespace
