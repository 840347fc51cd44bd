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

// Two opposite starting points, so that every change a row makes is visible in one of them.
void enterBaseline(bool first) {
  setStatusBarText("prior notice");
  first ? setModeText("Direct") : setFaultText("WatchdogTimer");
  first ? showStopCaption() : showRunCaption();
  setTiltXText(first ? "1.0000" : "");
  setTiltYText(first ? "2.0000" : "");
  setScriptStatusText(first ? "Armed at 0x010" : "Running at 0x123");
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
const std::string CLEARS = "status=;", CODES_127 = "codes=127 127 127 127 ;";

// One row per catalogue code whose message acts; the others only clear the status bar.
std::vector<MessageRow> messageRows() {
  const MessageRow acting[] = {
      {0x00, VAR, ""},
      {0x02, VAR, CLEARS, {}, "Command Rejected - Not allowed in this mode"},
      {0x0a, {}, "status=Kinestim Initialized;local-mark=y;"},
      {0x0b, {}, "mode-label=Mode;mode=Idle;status=Kinestim is Idle;script=Stopped;local-mark=y;local-on=y;run=&Run;"
                 "sliders=127 127 127 127 ;captions=1 (-0.02)|2 (-0.02)|3 (-0.02)|4 (-0.02)|;script-on=yy;"
                 "tilt-on=yyy;electrodes-on=nnnnnnnn;" + CODES_127},
      {0x0c, {}, CLEARS + "local-on=n;"},
      {0x0d, {}, CLEARS + "electrodes-on=yyyyyyyy;mode-label=Mode;mode=Direct;", {0x0b}},
      {0x0e, {}, CLEARS + "electrodes-on=nnnnnnnn;" + CODES_127},
      {0x0f, {}, CLEARS + "mode-label=Mode;mode=Program Script;"},
      {0x11, {}, CLEARS + "mode-label=Mode;mode=Run Scr;local-on=y;tilt-on=nnn;"},
      {0x12, {}, CLEARS + "local-on=n;tilt-on=yyy;" + CODES_127},
      {0x14, {}, CLEARS + "tilt-on=yyy;"},
      {0x1b, {0x04}, "mode-label=Mode;mode=Program Script;status=Mode: Program Script;"},
      {0x1c, {0x80, 0x90, 0xa0, 0xb0}, CLEARS + "sliders=128 144 160 176 ;codes=128 144 160 176 ;"
                                                 "captions=1 (+0.00)|2 (+0.32)|3 (+0.64)|4 (+0.96)|;"},
      {0x23, {0x05, 0x00}, "script=Armed at 0x005;status=Armed at 0x005;"},
      {0x26, {0x23, 0x01}, "run=St&op;script=Running at 0x123;status=Running at 0x123;"},
      {0x29, {0x00, 0x00}, "run=&Run;script=Stopped;status=Script terminated;" + CODES_127, {0x07}},
      {0x2b, {}, "local-mark=n;status=Local Control Disabled;"},
      {0x2c, {}, "local-mark=y;status=Local Control Enabled;"},
      {0x2d, {0x08}, "mode-label=Fault;mode=WatchdogTimer;status=*** Fault: WatchdogTimer ***;local-on=n;"
                     "tilt-on=nnn;electrodes-on=nnnnnnnn;", {}, "A Fault has occurred.  If possible send 'Clear Fault"},
      {0x32, TILT_EDGES, "status=New period detected - recalibrate;tilt-x=0.0000;tilt-y=0.0000;"},
      {0x33, TILT_EDGES, "status=Entered new calibration point ;calibration=0 1 1;"},
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

// One tick handles every waiting message in order and ends at a stray byte. Lone calibration
// replies outside a run report their own result and send nothing.
TEST_F(DispatcherTest, PumpTickRules) {
  const Bytes calibrate = frameOf(Bytes{mdgCalibrate} + TILT_EDGES);
  deviceSendsRaw(frameOf({mdgLclCtrlDisabled}) + frameOf({mdgScrArmed, 0x34, 0x12}) + Bytes{0x17} + calibrate +
                 calibrate + frameOf({mdgScrStarted, 2, 0}));
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Armed at 0x1234");  // four digits where three do not suffice
  EXPECT_EQ(text(IDC_RECEIVED_PANE), "23 mdgScrArmed <34> <12>\r\n2b mdgLclCtrlDisabled\r\n");
  EXPECT_EQ(text(IDC_SENT_PANE) + text(IDC_STATUS_BAR), "\r\n\r\nPacket tossed for invalid SOT character: 0x17");
  EXPECT_EQ(pumpOneMessage() + pumpOneMessage(), 2 * mdgCalibrate);
  EXPECT_EQ(text(IDC_STATUS_BAR) + "|" + hostSent() + "|" + std::to_string(calibrationEntry(0).weight),
            "Averaged in calibration data||2");
  EXPECT_EQ(pumpOneMessage(), mdgScrStarted);
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Running at 0x002");
}

}  // namespace
