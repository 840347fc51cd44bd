// Receive pump and dispatcher over a pseudo-terminal: every message code of the catalogue
// against its row of the dispatcher table, invalid messages, and the pump's tick rules.
#include "link_fixture.h"
#include "link/catalogue.h"
#include "ui/message_boxes.h"
#include "app/dispatcher.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include "app/link_watch.h"
#include "platform/clock.h"
#include "ui/status_display.h"
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <map>
#include <numeric>
#include <unistd.h>

namespace {

using State = std::map<std::string, std::string>;

const int SLIDERS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
const int CAPTIONS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

// "y" or "n" per control: whether it is enabled.
std::string enabled(std::initializer_list<int> ids) {
  std::string flags;
  for (int id : ids) flags += consoleControlEnabled(Dialog::Main, id) ? "y" : "n";
  return flags;
}

// Everything of the main window and the device mirror that a message may change.
State snapshot() {
  State s;
  const struct { const char* key; int id; } texts[] = {
      {"mode-label", IDC_MODE_LABEL}, {"mode", IDC_MODE_FIELD}, {"script", IDC_SCRIPT_STATUS},
      {"run", IDC_RUN_STOP}, {"tilt-x", IDC_TILT_X}, {"tilt-y", IDC_TILT_Y}, {"status", IDC_STATUS_BAR}};
  for (const auto& t : texts) s[t.key] = text(t.id);
  s["local-on"] = enabled({IDC_LOCAL_CONTROL});
  s["local-mark"] = hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL) ? "y" : "n";
  s["script-on"] = enabled({IDC_RUN_STOP, IDC_SCRIPT_MANAGER});
  s["tilt-on"] = enabled({IDC_CALIBRATE, IDC_READ_TILT, IDC_TILT_LOOP});
  for (int i = 0; i < 4; ++i) {
    s["electrodes-on"] += enabled({SLIDERS[i], CAPTIONS[i]});
    s["captions"] += text(CAPTIONS[i]) + "|";
    s["sliders"] += std::to_string(getSliderPosition(SLIDERS[i])) + " ";
    s["codes"] += std::to_string(getElectrodeCode(i + 1)) + " ";
  }
  s["calibration"] = std::to_string(calibrationRemaining()) + " " + std::to_string(calibrationNextSlot()) + " " +
                     std::to_string(calibrationEntry(0).weight);
  return s;
}

struct MessageRow {
  Bytes message;
  std::string effects;             // "key=value;" changes to the snapshot, each one visible
  Bytes reply = {};                // the command the host answers with, if any
  const char* warning = nullptr;  // the Warning box's first line, if any
};

using DispatcherTest = LinkTest;

// Every message code's name after "mdg" and its payload length ('*' when it varies), in code order.
const char* const MESSAGES =
    "CmdAccepted* ExpectedSOC* CmdRejectedInvalidMode* CmdRejectedLengthBad* CmdRejectedInvalidCdg* "
    "CmdRejectedLengthToCdgBad* CmdRejectedEOCNotPresent* CmdRejectedChecksum* RxCmdTimeout1 Resync1 ExitedModeInit1 "
    "EnteredModeIdle1 ExitedModeIdle1 EnteredModeDirect1 ExitedModeDirect1 EnteredModePgmScr1 ExitedModePgmScr1 "
    "EnteredModeRunScr1 ExitedModeRunScr1 EnteredModeFault1 ExitedModeFault1 ModeDirectSelected1 ModeDirectDeselected1 "
    "ModePgmScrSelected1 ModePgmScrDeselected1 ModeRunScrSelected1 ModeRunScrDeselected1 Mode2 AllElectrodesDld5 "
    "CmdRejectedElectrodeRange* ScrMemCleared1 ScrMemUlded4 CmdRejectedUldMemAddrRange* ScrMemDld* "
    "CmdRejectedDldMemAddrRange* ScrArmed3 CmdRejectedScrArmAddr* ScrDisarmed1 ScrStarted3 CmdRejectedScrRunAddr* "
    "CmdRejectedScrRunNotArmed* ScrStopped3 ScrTrace5 LclCtrlDisabled1 LclCtrlEnabled1 Fault2 FaultStatusCleared1 "
    "RAMDld* CmdRejectedDldRAMAddrRange* LclCmdRejectedLclCtrlDisabled* Tilt9 Calibrate9 RxRateTooFast1";

const Bytes TILT = {mdgTilt, 0x00, 0x00, 0xbc, 0x01, 0xe8, 0x03, 0xa4, 0x05};  // 0 444 1000 1444
const Bytes CALIBRATE = {mdgCalibrate, 0x00, 0x00, 0xbc, 0x01, 0xe8, 0x03, 0xa4, 0x05};
const std::string CLEARS = "status=;", CODES_127 = "codes=127 127 127 127 ;";
const std::string BAD = "status=Error: invalid mdg message;";

// One message after the other, each acting exactly as its row says on the state the rows
// before it left; rows are ordered so that every change they make is visible. Codes without
// a row only clear the status bar.
TEST_F(DispatcherTest, EveryMessageActsExactlyAsItsRowSays) {
  Bytes longest(255);
  std::iota(longest.begin(), longest.end(), uint8_t{mdgRAMDld});
  const std::string IDLE = "mode=Idle;status=Kinestim is Idle;local-on=y;";
  const std::string LOW = "sliders=1 2 3 4 ;codes=1 2 3 4 ;", LOW_CODES = LOW + "captions=1 (-2.54)|2 (-2.52)|3 (-2.50)|4 (-2.48)|;";
  // While a script runs the captions say so; when it ends they say nothing until the device reports.
  const std::string SCRIPT = "run=St&op;script=Running at 0x123;status=Running at 0x123;captions=1 (script)|2 (script)|"
                             "3 (script)|4 (script)|;", NOT_KNOWN = "captions=1 (?)|2 (?)|3 (?)|4 (?)|;";
  const MessageRow rows[] = {
      {{0x00, 0x01, 0x02}, ""}, {{0x02, 0x01}, CLEARS, {}, "Command Rejected - Not allowed in this mode"},
      {{0x0d}, CLEARS + "electrodes-on=yyyyyyyy;mode=Direct;", {0x0b}},
      {{0x1c, 0x80, 0x90, 0xa0, 0xb0}, CLEARS + "sliders=128 144 160 176 ;codes=128 144 160 176 ;"
                                       "captions=1 (+0.00)|2 (+0.32)|3 (+0.64)|4 (+0.96)|;"},
      {{0x0e}, CLEARS + "electrodes-on=nnnnnnnn;" + CODES_127},
      {{0x2b}, "local-mark=n;status=Local Control Disabled;"}, {{0x0a}, "status=Kinestim Initialized;local-mark=y;"},
      {{0x2b}, "local-mark=n;status=Local Control Disabled;"}, {{0x2c}, "local-mark=y;status=Local Control Enabled;"},
      {{0x14}, CLEARS + "tilt-on=yyy;"}, {{0x0f}, CLEARS + "mode=Program Script;"},
      {{0x11}, CLEARS + "mode=Run Scr;local-on=y;tilt-on=nnn;"},
      {{0x23, 0x05, 0x00}, "script=Armed at 0x005;status=Armed at 0x005;"},
      {{0x26, 0x23, 0x01}, SCRIPT},
      {{0x1c, 1, 2, 3, 4}, CLEARS + LOW},
      {{0x29, 0x00, 0x00}, "run=&Run;script=Stopped;status=Script terminated;" + CODES_127 + NOT_KNOWN, {0x07}},
      {{0x1c, 5, 6, 7, 8}, CLEARS + "sliders=5 6 7 8 ;codes=5 6 7 8 ;"
                           "captions=1 (-2.46)|2 (-2.44)|3 (-2.42)|4 (-2.40)|;"},
      {{0x12}, CLEARS + "local-on=n;tilt-on=yyy;" + CODES_127 + NOT_KNOWN}, {{0x1b, 0x01}, "mode=Init;status=Mode: Init;"},
      {{0x1b, 9}, "mode=Unknown mode 9;status=Mode: Unknown mode 9;"},  // numbers beyond the table are shown
      {{0x35, 0x01}, BAD}, {{0xff}, BAD}, {{0x1b}, BAD}, {{0x23, 5}, BAD}, {{0x0b, 0}, BAD},  // unknown, wrong length
      {{0x0d}, CLEARS + "electrodes-on=yyyyyyyy;mode=Direct;", {0x0b}},
      {{0x11}, CLEARS + "mode=Run Scr;local-on=y;tilt-on=nnn;"}, {{0x14}, CLEARS + "tilt-on=yyy;"},
      {{0x1c, 0x9b, 0x7f, 0x7f, 0x7f}, CLEARS + "sliders=155 127 127 127 ;codes=155 127 127 127 ;"
                                          "captions=1 (+0.54)|2 (-0.02)|3 (-0.02)|4 (-0.02)|;"},
      // A fault asks for the electrodes the device may have rested; no caption keeps +0.54.
      {{0x2d, 0x08}, "mode-label=Fault;mode=WatchdogTimer;status=*** Fault: WatchdogTimer ***;local-on=n;tilt-on=nnn;"
                     "electrodes-on=nnnnnnnn;" + NOT_KNOWN, {0x0b}, "A Fault has occurred.  If possible send 'Clear Fault"},
      {{0x2d, 20}, "mode=Unknown fault 20;status=*** Fault: Unknown fault 20 ***;", {0x0b}, "A Fault has occurred."},
      {{0x2d, 8, 1}, BAD}, {{0x2b}, "local-mark=n;status=Local Control Disabled;"},
      {{0x1c, 1, 2, 3, 4}, CLEARS + LOW_CODES},
      {{0x26, 0x23, 0x01}, SCRIPT},
      {{0x0b}, IDLE + "mode-label=Mode;script=Stopped;local-mark=y;run=&Run;sliders=127 127 127 127 ;" + CODES_127 +
                   "captions=1 (-0.02)|2 (-0.02)|3 (-0.02)|4 (-0.02)|;script-on=yy;tilt-on=yyy;"},
      {{0x0c}, CLEARS + "local-on=n;"}, {{0x0d}, CLEARS + "electrodes-on=yyyyyyyy;mode=Direct;", {0x0b}},
      {{0x0b}, IDLE + "electrodes-on=nnnnnnnn;"},
      {TILT, "status=New period detected - recalibrate;tilt-x=0.0000;tilt-y=0.0000;"},
      {CALIBRATE, "status=Entered new calibration point ;calibration=0 1 1;"},
      {CALIBRATE, "status=Averaged in calibration data;calibration=0 1 2;"},
      {{0x34}, CLEARS, {}, "Overrun Error - You are transmitting to quickly"}, {longest, CLEARS}};
  std::vector<MessageRow> all(std::begin(rows), std::end(rows));
  std::vector<std::string> names;
  std::istringstream catalogue(MESSAGES);
  for (std::string name; catalogue >> name;) {
    const int c = static_cast<int>(names.size()), length = name.back() == '*' ? 3 : name.back() - '0';
    names.push_back("mdg" + name.substr(0, name.size() - 1));
    if (std::none_of(std::begin(rows), std::end(rows), [c](const MessageRow& r) { return r.message[0] == c; }))
      all.push_back({Bytes(length, static_cast<uint8_t>(c)), CLEARS});
  }
  for (const MessageRow& row : all) {
    setStatusBarText("prior notice");
    routeCommand(ID_CLEAR_PANES, 0);
    output_.str("");
    State expected = snapshot();
    std::istringstream effects(row.effects);
    for (std::string key, value; std::getline(effects, key, '=') && std::getline(effects, value, ';');) {
      EXPECT_NE(expected.at(key), value) << key << " does not change: " << hex(row.message);
      expected[key] = value;
    }
    deviceSends(row.message);
    ASSERT_EQ(pumpOneMessage(), row.message[0]);
    // The trace line, whole, is on top of the Received pane, under the empty line of an answer's echo.
    std::string trace = hex({row.message[0]}) + " " + (row.message[0] < names.size() ? names[row.message[0]] : "(unknown)");
    for (size_t i = 1; i < row.message.size(); ++i) trace += " <" + hex({row.message[i]}) + ">";
    EXPECT_EQ(text(IDC_RECEIVED_PANE), (row.reply.empty() ? "" : "\r\n") + trace + "\r\n");
    EXPECT_EQ(snapshot(), expected) << hex(row.message);
    EXPECT_EQ(hostSent(), row.reply.empty() ? "" : hex(frameOf(row.reply)));
    EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), row.reply.empty()       ? ""
                                              : row.reply[0] == 0x0b ? "0b cdgDldAllElectrodes"
                                                                     : "07 cdgDeselectModeRunScr");
    // Its own Warning box, or none at all.
    EXPECT_EQ(printed().find(row.warning ? row.warning : "Warning") != std::string::npos, row.warning != nullptr)
        << printed();
    EXPECT_EQ(pumpOneMessage(), -1);  // nothing else is waiting: the tick ends here
  }
}

// One tick handles the waiting messages in order and ends at a stray byte; a frame with L = 0
// takes its code from the sum byte.
TEST_F(DispatcherTest, PumpTickRules) {
  deviceSendsRaw(Bytes{0xAA, 0x00, 0x00, 0x55} + frameOf({mdgLclCtrlDisabled}) + frameOf({mdgScrArmed, 0x34, 0x12}) +
                 Bytes{0x17} + frameOf({mdgScrStarted, 2, 0}));
  EXPECT_EQ(pumpMessagesFor(60000), 3);
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Armed at 0x1234");  // four digits where three do not suffice
  EXPECT_EQ(text(IDC_RECEIVED_PANE), "23 mdgScrArmed <34> <12>\r\n2b mdgLclCtrlDisabled\r\n00 mdgCmdAccepted\r\n");
  EXPECT_EQ(text(IDC_SENT_PANE) + text(IDC_STATUS_BAR), "\r\n\r\n\r\nPacket tossed for invalid SOT character: 0x17");
  setMessageBoxShowing(1);  // a box is up: the pump stays out until it closes
  EXPECT_EQ(pumpOneMessage(), -1);
  setMessageBoxShowing(0);
  EXPECT_EQ(pumpOneMessage(), mdgScrStarted);
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Running at 0x002");
  // A trace line cut to its buffer keeps whole parameters and marks the cut in what is left.
  Bytes armed = frameOf({mdgScrArmed, 0x34, 0x12});
  char line[32];
  for (const auto& [capacity, shown] : {std::pair{25, "23 mdgScrArmed <34> <12>"}, {23, "23 mdgScrArmed <34>..."},
                                        {22, "23 mdgScrArmed..."}, {18, "23 mdgScrArmed..."}, {17, "23 mdgScrArmed"}})
    EXPECT_EQ(std::string(line, static_cast<size_t>(formatReceivedLine(line, capacity, Packet{armed.data()}))), shown) << capacity;
  std::memset(line, 'x', sizeof line);  // a line with no room left is ended inside its buffer
  appendParamBytes(line, 10, Packet{armed.data()});
  EXPECT_EQ(std::string(line, sizeof line), std::string(9, 'x') + '\0' + std::string(22, 'x'));
}

// An answer to the Warning that comes only after a while.
struct SlowAnswer : std::streambuf {
  char line[1] = {'\n'};
  int underflow() override {
    if (gptr() == line + 1) return traits_type::eof();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    setg(line, line, line + 1);
    return '\n';
  }
};

// A tick whose time is spent stops after the message in hand and the next tick goes on with
// the following one, so nothing is lost or reordered; time in a Warning the tick opened does
// not count against it.
TEST_F(DispatcherTest, PumpTickIsBoundedInTimeOutsideWarnings) {
  deviceSendsRaw(frameOf({mdgLclCtrlDisabled}) + frameOf({mdgScrArmed, 0x34, 0x12}) + frameOf({mdgLclCtrlEnabled}));
  for (int expected : {-1, -1, -1, 0}) EXPECT_EQ(pumpMessagesFor(0), expected);
  EXPECT_EQ(text(IDC_RECEIVED_PANE), "2c mdgLclCtrlEnabled\r\n23 mdgScrArmed <34> <12>\r\n2b mdgLclCtrlDisabled\r\n");
  SlowAnswer slow;
  std::streambuf* typed = input_.std::ios::rdbuf(&slow);
  deviceSendsRaw(frameOf({mdgRxRateTooFast}) + frameOf({mdgLclCtrlDisabled}) + frameOf({mdgLclCtrlEnabled}));
  EXPECT_EQ(pumpMessagesFor(300), 3) << printed();
  input_.std::ios::rdbuf(typed);
  EXPECT_NE(printed().find("Warning: Overrun Error"), std::string::npos) << printed();
}

// A port that went away is tried again every half second, not at every tick: the port is back
// at once, yet it stays lost for the first 400 ms and is re-opened, asked for its mode, by 3 s.
TEST_F(DispatcherTest, ALostPortIsTriedAgainEveryHalfSecond) {
  TempFolder folder;
  const std::string port = folder.path("port");
  ASSERT_EQ(symlink(device_.path.c_str(), port.c_str()), 0);
  closeSerialPort();
  ASSERT_TRUE(openSerialPortPath(port.c_str()) == nullptr && unlink(port.c_str()) == 0);
  const uint32_t lost = tickCountMs();
  reportLinkFailure(nullptr);  // its first try finds no port
  ASSERT_TRUE(isLinkLost());
  ASSERT_EQ(symlink(device_.path.c_str(), port.c_str()), 0);
  for (int tick = 0; tickCountMs() - lost < 400; ++tick, pumpOneMessage())
    ASSERT_TRUE(isLinkLost()) << "re-opened after " << tickCountMs() - lost << " ms, tick " << tick;
  while (isLinkLost() && tickCountMs() - lost < 3000) pumpOneMessage();
  EXPECT_FALSE(isLinkLost()) << "not re-opened in 3 s";
  EXPECT_EQ(hostSent(), "aa 01 08 08 55");
}

// A calibration run whose request is rejected after three replies keeps them and says so; the
// rejection of another command before that leaves the run going.
TEST_F(DispatcherTest, RejectedCalibrationRunEndsWithWhatItTook) {
  ASSERT_TRUE(routeCommand(IDC_CALIBRATE, 0));
  for (int i = 0; i < 3; ++i, pumpOneMessage()) deviceSends(CALIBRATE);
  deviceSends({mdgCmdRejectedInvalidMode, cdgSelectModeDirect});
  EXPECT_EQ(pumpOneMessage(), mdgCmdRejectedInvalidMode);
  deviceSends({mdgCmdRejectedInvalidMode, cdgCalibrate});
  EXPECT_EQ(pumpOneMessage(), mdgCmdRejectedInvalidMode);
  EXPECT_EQ(text(IDC_STATUS_BAR), "Calibration did not finish: 3 of 12 replies taken into the store");
}

}  // namespace
