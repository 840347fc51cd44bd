// Receive pump and dispatcher over a pseudo-terminal: every message code of the catalogue
// against its row of the dispatcher table, invalid messages, and the pump's tick rules.
#include "link_fixture.h"
#include "link/catalogue.h"
#include "app/dispatcher.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "app/main_dialog.h"
#include "ui/status_display.h"
#include <map>

namespace {

using State = std::map<std::string, std::string>;

const int SLIDERS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
const int CAPTIONS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};
const char* const FAULT_WARNING = "A Fault has occurred.  If possible send 'Clear Fault Status' and continue.";

std::string onOff(bool on) { return on ? "on" : "off"; }

// Everything of the main window and the device mirror that a message may change.
State snapshot() {
  State s;
  const struct { const char* key; int id; } texts[] = {
      {"mode-label", IDC_MODE_LABEL}, {"mode", IDC_MODE_FIELD}, {"script", IDC_SCRIPT_STATUS},
      {"run", IDC_RUN_STOP}, {"tilt-x", IDC_TILT_X}, {"tilt-y", IDC_TILT_Y},
      {"status", IDC_STATUS_BAR}},
    buttons[] = {{"run-enabled", IDC_RUN_STOP}, {"manager-enabled", IDC_SCRIPT_MANAGER},
                 {"local-enabled", IDC_LOCAL_CONTROL}, {"calibrate-enabled", IDC_CALIBRATE},
                 {"read-tilt-enabled", IDC_READ_TILT}, {"tilt-loop-enabled", IDC_TILT_LOOP}};
  for (const auto& t : texts) s[t.key] = text(t.id);
  for (const auto& b : buttons) s[b.key] = onOff(consoleControlEnabled(Dialog::Main, b.id));
  s["local-mark"] = onOff(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  for (int i = 0; i < 4; ++i) {
    std::string n = std::to_string(i + 1);
    s["caption" + n] = text(CAPTIONS[i]);
    s["slider" + n] = std::to_string(getSliderPosition(SLIDERS[i]));
    s["code" + n] = std::to_string(getElectrodeCode(i + 1));
    s["slider-enabled" + n] = onOff(consoleControlEnabled(Dialog::Main, SLIDERS[i]));
    s["caption-enabled" + n] = onOff(consoleControlEnabled(Dialog::Main, CAPTIONS[i]));
  }
  s["calibration-remaining"] = std::to_string(calibrationRemaining());
  s["calibration-next-slot"] = std::to_string(calibrationNextSlot());
  s["slot0-weight"] = std::to_string(calibrationEntry(0).weight);
  return s;
}

// Effects are "key=value;" lists over the snapshot's keys.
std::string four(const char* key, const std::vector<std::string>& v) {
  std::string e;
  for (int n = 0; n < 4; ++n) e += key + std::to_string(n + 1) + "=" + v[n] + ";";
  return e;
}
std::string tilt(bool on) {
  return "calibrate-enabled=" + onOff(on) + ";read-tilt-enabled=" + onOff(on) + ";tilt-loop-enabled=" + onOff(on) +
         ";";
}
std::string electrodes(bool on) {
  return four("slider-enabled", {4, onOff(on)}) + four("caption-enabled", {4, onOff(on)});
}
const std::string CLEARS = "status=;", CODES_127 = four("code", {4, "127"});

// Two opposite starting points, so that every change a row makes is visible in one of them.
void enterBaseline(int which) {
  const bool first = which == 0;
  setStatusBarText("prior notice");
  if (first) {
    setModeText("Direct");
    showStopCaption();
    setTiltXText("1.0000");
    setTiltYText("2.0000");
    setScriptStatusText("Armed at 0x010");
  } else {
    setFaultText("WatchdogTimer");
    showRunCaption();
    setScriptStatusText("Running at 0x123");
  }
  setLocalControlCheck(!first);
  enableLocalControl(first);
  enableScriptControls(first);
  enableTiltControls(first);
  enableElectrodeControls(first);
  for (int i = 0; i < 4; ++i) {
    setSliderPosition(SLIDERS[i], first ? 10 * (i + 1) : 200 + 10 * i);
    setElectrodeCode(i + 1, static_cast<uint8_t>(first ? i + 1 : i + 5));
  }
  refreshElectrodeCaptions();
}

struct MessageRow {
  uint8_t code;
  Bytes params;
  std::string effects;
  Bytes reply = {};                // the command the host answers with, if any
  const char* warning = nullptr;  // the Warning box's first line, if any
};

std::ostream& operator<<(std::ostream& os, const MessageRow& r) { return os << messageName(r.code); }

const Bytes VAR = {0x01, 0x02};
const Bytes TILT_EDGES = {0x00, 0x00, 0xbc, 0x01, 0xe8, 0x03, 0xa4, 0x05};  // 0 444 1000 1444

// One row per catalogue code; codes without a row here only clear the status bar.
std::vector<MessageRow> messageRows() {
  const std::string idle = "mode-label=Mode;mode=Idle;status=Kinestim is Idle;script=Stopped;local-mark=on;run=&Run;" +
                           four("slider", {4, "127"}) +
                           four("caption", {"1 (-0.02)", "2 (-0.02)", "3 (-0.02)", "4 (-0.02)"}) + CODES_127 +
                           "run-enabled=on;manager-enabled=on;local-enabled=on;" + tilt(true) + electrodes(false);
  const MessageRow acting[] = {
      {0x00, VAR, ""},
      {0x02, VAR, CLEARS, {}, "Command Rejected - Not allowed in this mode"},
      {0x0a, {}, "status=Kinestim Initialized;local-mark=on;"},
      {0x0b, {}, idle},
      {0x0c, {}, CLEARS + "local-enabled=off;"},
      {0x0d, {}, CLEARS + electrodes(true) + "mode-label=Mode;mode=Direct;", {0x0b}},
      {0x0e, {}, CLEARS + electrodes(false) + CODES_127},
      {0x0f, {}, CLEARS + "mode-label=Mode;mode=Program Script;"},
      {0x11, {}, CLEARS + "mode-label=Mode;mode=Run Scr;local-enabled=on;" + tilt(false)},
      {0x12, {}, CLEARS + "local-enabled=off;" + tilt(true) + CODES_127},
      {0x14, {}, CLEARS + tilt(true)},
      {0x1b, {0x04}, "mode-label=Mode;mode=Program Script;status=Mode: Program Script;"},
      {0x1c, {0x80, 0x90, 0xa0, 0xb0},
       CLEARS + four("slider", {"128", "144", "160", "176"}) + four("code", {"128", "144", "160", "176"}) +
           four("caption", {"1 (+0.00)", "2 (+0.32)", "3 (+0.64)", "4 (+0.96)"})},
      {0x23, {0x05, 0x00}, "script=Armed at 0x005;status=Armed at 0x005;"},
      {0x26, {0x23, 0x01}, "run=St&op;script=Running at 0x123;status=Running at 0x123;"},
      {0x29, {0x00, 0x00}, "run=&Run;script=Stopped;status=Script terminated;" + CODES_127, {0x07}},
      {0x2b, {}, "local-mark=off;status=Local Control Disabled;"},
      {0x2c, {}, "local-mark=on;status=Local Control Enabled;"},
      {0x2d, {0x08}, "mode-label=Fault;mode=WatchdogTimer;status=*** Fault: WatchdogTimer ***;local-enabled=off;" +
           tilt(false) + electrodes(false), {}, FAULT_WARNING},
      {0x32, TILT_EDGES, "status=New period detected - recalibrate;tilt-x=0.0000;tilt-y=0.0000;"},
      {0x33, TILT_EDGES, "status=Entered new calibration point ;calibration-next-slot=1;slot0-weight=1;"},
      {0x34, {}, CLEARS, {}, "Overrun Error - You are transmitting to quickly"}};
  std::vector<MessageRow> rows;
  for (int c = 0; c < MESSAGE_COUNT; ++c) {
    const int length = messageLength(static_cast<uint8_t>(c));
    Bytes params = VAR;
    if (length != VARIABLE_LENGTH) {
      params.clear();
      while (static_cast<int>(params.size()) < length - 1) params.push_back(static_cast<uint8_t>(params.size() + 1));
    }
    rows.push_back({static_cast<uint8_t>(c), params, CLEARS});
  }
  for (const MessageRow& r : acting) rows[r.code] = r;
  return rows;
}

std::string traceLine(uint8_t code, const Bytes& params) {
  std::string line = hex({code}) + " " + messageName(code);
  for (uint8_t b : params) line += " <" + hex({b}) + ">";
  return line;
}

class MessageTableTest : public LinkTest, public ::testing::WithParamInterface<std::tuple<MessageRow, int>> {};

TEST_P(MessageTableTest, RowActsExactlyAsTheTableSays) {
  const MessageRow& row = std::get<0>(GetParam());
  enterBaseline(std::get<1>(GetParam()));
  State expected = snapshot();
  std::istringstream effects(row.effects);
  for (std::string key, value; std::getline(effects, key, '=') && std::getline(effects, value, ';');) {
    ASSERT_TRUE(expected.count(key)) << key;
    expected[key] = value;
  }
  output_.str("");
  deviceSends(Bytes{row.code} + row.params);
  ASSERT_EQ(pumpOneMessage(), row.code);
  // The trace line is on top of the Received pane, under the empty line of an answer's echo.
  const std::string trace = traceLine(row.code, row.params) + "\r\n";
  EXPECT_EQ(text(IDC_RECEIVED_PANE), row.reply.empty() ? trace : "\r\n" + trace);
  EXPECT_EQ(snapshot(), expected);
  EXPECT_EQ(hostSent(), row.reply.empty() ? "" : hex(frameOf(row.reply)));
  EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), row.reply.empty() ? "" : hex(row.reply) + " " + commandName(row.reply[0]));
  // Its own Warning box, or none at all.
  EXPECT_EQ(printed().find(row.warning ? row.warning : "Warning") != std::string::npos, row.warning != nullptr)
      << printed();
  EXPECT_EQ(pumpOneMessage(), -1);  // nothing else is waiting: the tick ends here
  // The code one byte too long or too short is traced and reported, nothing more.
  const int length = messageLength(row.code);
  for (int size : {length + 1, length - 1}) {
    if (length == VARIABLE_LENGTH || size < 1) continue;
    const Bytes wrong = Bytes{row.code} + Bytes(static_cast<size_t>(size - 1), 0x04);
    setStatusBarText("prior notice");
    output_.str("");
    State before = snapshot();
    before["status"] = "Error: invalid mdg message";
    deviceSends(wrong);
    ASSERT_EQ(pumpOneMessage(), row.code);
    EXPECT_EQ(snapshot(), before) << hex(wrong);
    EXPECT_EQ(hostSent(5), "") << hex(wrong);
    EXPECT_EQ(printed().find("Warning"), std::string::npos) << hex(wrong);
  }
}

INSTANTIATE_TEST_SUITE_P(AllCodes, MessageTableTest,
                         ::testing::Combine(::testing::ValuesIn(messageRows()), ::testing::Values(0, 1)),
                         [](const auto& i) {
                           return messageName(std::get<0>(i.param).code) +
                                  ("_baseline" + std::to_string(std::get<1>(i.param)));
                         });

using DispatcherTest = LinkTest;

// Codes without a name, and mode and fault numbers beyond their tables, show their number.
TEST_F(DispatcherTest, NumbersBeyondTheirTablesAreShown) {
  const struct { Bytes line; const char* shown; } cases[] = {  // trace|mode label|mode field|status
      {{0xAA, 0x00, 0x00, 0x55}, "00 mdgCmdAccepted|Mode|Unknown|prior"},  // L = 0: code from the sum byte
      {frameOf({0x35, 0x01}), "35 (unknown) <01>|Mode|Unknown|Error: invalid mdg message"},
      {frameOf({0xff}), "ff (unknown)|Mode|Unknown|Error: invalid mdg message"},
      {frameOf({mdgMode, 9}), "1b mdgMode <09>|Mode|Unknown mode 9|Mode: Unknown mode 9"},
      {frameOf({mdgMode, 255}), "1b mdgMode <ff>|Mode|Unknown mode 255|Mode: Unknown mode 255"},
      {frameOf({mdgFault, 20}), "2d mdgFault <14>|Fault|Unknown fault 20|*** Fault: Unknown fault 20 ***"},
      {frameOf({mdgFault, 13}), "2d mdgFault <0d>|Fault|ScrStackUnderflow|*** Fault: ScrStackUnderflow ***"}};
  for (const auto& c : cases) {
    setStatusBarText("prior");
    deviceSendsRaw(c.line);
    ReceiveTimerProc();
    EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)) + "|" + text(IDC_MODE_LABEL) + "|" + text(IDC_MODE_FIELD) + "|" +
                  text(IDC_STATUS_BAR),
              c.shown);
  }
}

TEST_F(DispatcherTest, TraceLinesAreWholeUpToTheLongestFrameAndCutSafelyBeyondTheBuffer) {
  Bytes params;
  for (int i = 0; i < 254; ++i) params.push_back(static_cast<uint8_t>(i));
  deviceSends(Bytes{mdgRAMDld} + params);
  ASSERT_EQ(pumpOneMessage(), mdgRAMDld);
  EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)), traceLine(mdgRAMDld, params));

  Bytes f = frameOf({mdgRAMDld, 0x10, 0x20, 0x30, 0x40});
  const struct { size_t size; const char* line; } cuts[] = {
      {32, "2f mdgRAMDld <10> <20> <30>..."},
      {33, "2f mdgRAMDld <10> <20> <30> <40>"},
      {8, "2f mdgR"}};
  for (const auto& c : cuts) {
    char line[64];
    int n = formatReceivedLine(line, c.size, Packet{f.data()});
    EXPECT_EQ(std::string(line, n), c.line) << c.size;
  }
}

// One tick handles every waiting message in order and ends at a stray byte.
TEST_F(DispatcherTest, PumpTickRules) {
  deviceSendsRaw(frameOf({mdgLclCtrlDisabled}) + frameOf({mdgScrArmed, 0x34, 0x12}) + Bytes{0x17} +
                 frameOf({mdgScrStarted, 2, 0}));
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Armed at 0x1234");  // four digits where three do not suffice
  EXPECT_EQ(text(IDC_RECEIVED_PANE), "23 mdgScrArmed <34> <12>\r\n2b mdgLclCtrlDisabled\r\n");
  EXPECT_EQ(text(IDC_SENT_PANE), "\r\n\r\n");
  EXPECT_EQ(pumpOneMessage(), mdgScrStarted);
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Running at 0x002");
}

TEST_F(DispatcherTest, LoneCalibrateOutsideARunReportsItsOwnResultAndSendsNothingMore) {
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgCalibrate, 0));  // "1d  Calibrate"
  EXPECT_EQ(hostSent(), hex(frameOf({cdgCalibrate})));
  for (const char* result : {"Entered new calibration point ", "Averaged in calibration data"}) {
    deviceSends(Bytes{mdgCalibrate} + TILT_EDGES);
    ReceiveTimerProc();
    EXPECT_EQ(hostSent() + "|" + std::to_string(calibrationRemaining()) + "|" + text(IDC_STATUS_BAR),
              std::string("|0|") + result);
  }
  // The button's full run of twelve is the end-to-end tests' case.
  EXPECT_EQ(calibrationEntry(0).weight, 2);
}

}  // namespace
