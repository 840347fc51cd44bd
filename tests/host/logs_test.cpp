// Traffic panes, the traffic log and the current-and-tilt data log, with real files.
#include "host_fixture.h"
#include "logging/data_log.h"
#include "logging/log_files.h"
#include "logging/traffic.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

namespace {

const std::string STAMP = "[0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\\.[0-9]{3} ";
const std::string CURRENTS = "\t\t  -2.56\t  -2.56\t  -2.56\t  \\+1.44\t\t";  // stored codes 0 0 0 200

using LogTest = HostTest;

// The own pane keeps at most 4095 characters with the new line on top; the other pane gets
// an empty line on top of its first 4093 characters (both panes share the code).
TEST_F(LogTest, PanesCutTheOldestTextAtTheLimit) {
  for (auto [ownBefore, otherBefore] : {std::pair{0, 0}, {4089, 4092}, {4090, 4093}, {4091, 4094}, {4095, 4095}}) {
    std::string own(ownBefore, 'a'), other(otherBefore, 'B');
    if (ownBefore > 0) own.back() = 'z';  // the oldest character, the first to go
    setControlText(Dialog::Main, IDC_SENT_PANE, own.c_str());
    setControlText(Dialog::Main, IDC_RECEIVED_PANE, other.c_str());
    showSentText("xyz");
    EXPECT_EQ(text(IDC_SENT_PANE), "xyz\r\n" + own.substr(0, PANE_TEXT_LIMIT - 5)) << ownBefore;
    EXPECT_EQ(text(IDC_RECEIVED_PANE), "\r\n" + other.substr(0, PANE_TEXT_LIMIT - 2)) << otherBefore;
  }
}

// Starting a log while it is open moves it to the new file; a cancelled choice leaves it off
// without a message; a file that cannot be created is reported.
TEST_F(LogTest, StartingALogAgainClosesTheEarlierFile) {
  // The second file's path is the longest the Save As choice takes; Windows opens no file
  // whose path is longer than 259 characters, so there it is that long.
#ifdef _WIN32
  constexpr size_t LONGEST_PATH = 259;
#else
  constexpr size_t LONGEST_PATH = 299;
#endif
  const struct { int id; std::function<void(double)> write; } logs[] = {
      {ID_START_TRAFFIC_LOG, [](double v) { showSentText(std::to_string(v).c_str()); }},
      {ID_START_DATA_LOG, [](double v) { writeDataLogLine(v, v); }}};
  for (const auto& log : logs) {
    TempFolder folder;
    const std::string first = folder.path("first.log"), sub = folder.path(std::string(20, 'd'));
    std::filesystem::create_directory(sub);
    const std::string second = sub + "/" + std::string(LONGEST_PATH - 1 - sub.size(), 's');
    output_.str("");
    typeLines(first + "\n" + second + "\n");  // then the input ends: the third choice is cancelled
    for (double v : {1.0, 2.0, 3.0}) {
      ASSERT_TRUE(routeCommand(log.id, 0));
      log.write(v);
    }
    const std::string both = TempFolder::read(first) + "|" + TempFolder::read(second);  // one line each
    EXPECT_TRUE(std::regex_match(both, std::regex("[^\n]*1\\.0[^\n]*\r\n\\|[^\n]*2\\.0[^\n]*\r\n"))) << both;
    EXPECT_EQ(printed().find("Error Opening log file"), std::string::npos);  // cancelling says nothing
    typeLines(folder.path("no-such-folder/x.log") + "\n");
    ASSERT_TRUE(routeCommand(log.id, 0));
    EXPECT_NE(printed().find("Error Opening log file"), std::string::npos) << printed();
  }
  EXPECT_FALSE(isTrafficLogOpen() || isDataLogOpen());
}

// The traffic log holds a long line whole, beyond the pane; its stop switches the data log's
// stamp off, which a data log start (even a cancelled one) switches on. Data lines show the
// stored codes, not the sliders; a replaced file starts empty.
TEST_F(LogTest, LogsHoldStampedLinesAndTrafficLogStopEndsTheDataLogStamp) {
  TempFolder folder;
  const std::string traffic = folder.path("traffic.log"), data = folder.path("data.log");
  { std::ofstream(traffic) << "earlier content that must go\r\n"; }
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));  // no input: cancelled
  EXPECT_EQ(std::pair(dataLogTimeStamps(), isDataLogOpen()), std::pair(true, false));
  // A buffer of just a stamp's size takes the stamp and what fits after it, ended inside it.
  char cut[48];
  std::memset(cut, 'x', sizeof cut);
  formatDataLogLine(cut, TIME_STAMP_SIZE, 0.0, 0.0);
  EXPECT_EQ(std::string(1, cut[2]) + std::string(cut + 31, 17), "\t" + std::string(1, '\0') + std::string(16, 'x'));
  typeLines(traffic + "\ny\n" + data + "\n");  // the chooser asks before replacing an existing file
  ASSERT_TRUE(routeCommand(ID_START_TRAFFIC_LOG, 0));
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  const std::string longText(5000, 'b');
  showSentText(longText.c_str());
  EXPECT_EQ(text(IDC_SENT_PANE), std::string(PANE_TEXT_LIMIT, 'b'));
  setElectrodeCode(4, 200);
  setSliderPosition(IDC_SLIDER_2, 10);  // moved without a send: does not count
  writeDataLogLine(28.1369, -21.7481);
  ASSERT_TRUE(routeCommand(ID_STOP_TRAFFIC_LOG, 0));  // switches the stamp off
  writeDataLogLine(1.0, 2.0);
  ASSERT_TRUE(routeCommand(ID_STOP_DATA_LOG, 0));
  std::vector<bool> menu;  // Start and Stop of each log
  for (int id : {ID_START_TRAFFIC_LOG, ID_STOP_TRAFFIC_LOG, ID_START_DATA_LOG, ID_STOP_DATA_LOG})
    menu.push_back(consoleMenuItemEnabled(id));
  EXPECT_EQ(menu, std::vector<bool>({true, false, true, false}));
  writeDataLogLine(3.0, 4.0);  // closed: nothing written
  std::string logged = TempFolder::read(traffic);
  EXPECT_TRUE(std::regex_match(logged, std::regex(STAMP + "\t" + longText + "\r\n"))) << logged;
  logged = TempFolder::read(data);
  const std::string dataLines = STAMP + CURRENTS + "     28.1\t    -21.7\r\n" + CURRENTS + "      1.0\t      2.0\r\n";
  EXPECT_TRUE(std::regex_match(logged, std::regex(dataLines))) << logged;
}

}  // namespace
