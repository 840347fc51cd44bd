// Receive pump and dispatcher over a pseudo-terminal: every message code of the catalogue
// against its row of the dispatcher table, invalid messages, and the pump's tick rules.
#include "link_fixture.h"
#include "link/serial_port.h"
#include "logging/data_log.h"
#include "platform/console/console_window.h"
#include "protocol/catalogue.h"
#include "protocol/dispatcher.h"
#include "resource.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/main_dialog.h"
#include "ui/status_display.h"
#include <map>
#include <regex>

namespace {

using State = std::map<std::string, std::string>;
using Effects = std::vector<std::pair<std::string, std::string>>;

const int SLIDERS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
const int CAPTIONS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

const char* const REJECTED = "Command Rejected - Not allowed in this mode";
const char* const FAULT_WARNING = "A Fault has occurred.  If possible send 'Clear Fault Status' and continue.";
const char* const OVERRUN = "Overrun Error - You are transmitting to quickly";

std::string text(int id) { return consoleControlText(Dialog::Main, id); }
std::string onOff(bool on) { return on ? "on" : "off"; }

// Everything of the main window and the device mirror that a message may change.
State snapshot() {
  State s;
  s["mode-label"] = text(IDC_MODE_LABEL);
  s["mode"] = text(IDC_MODE_FIELD);
  s["script"] = text(IDC_SCRIPT_STATUS);
  s["run"] = text(IDC_RUN_STOP);
  s["tilt-x"] = text(IDC_TILT_X);
  s["tilt-y"] = text(IDC_TILT_Y);
  s["status"] = text(IDC_STATUS_BAR);
  s["local-mark"] = onOff(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  const struct { const char* key; int id; } buttons[] = {
      {"run-enabled", IDC_RUN_STOP}, {"manager-enabled", IDC_SCRIPT_MANAGER},
      {"local-enabled", IDC_LOCAL_CONTROL}, {"calibrate-enabled", IDC_CALIBRATE},
      {"read-tilt-enabled", IDC_READ_TILT}, {"tilt-loop-enabled", IDC_TILT_LOOP}};
  for (const auto& b : buttons) s[b.key] = onOff(consoleControlEnabled(Dialog::Main, b.id));
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

Effects join(std::initializer_list<Effects> parts) {
  Effects all;
  for (const Effects& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Effects status(const char* t) { return {{"status", t}}; }
Effects mode(const char* label, const char* name) { return {{"mode-label", label}, {"mode", name}}; }
Effects localEnabled(bool on) { return {{"local-enabled", onOff(on)}}; }
Effects localMark(bool on) { return {{"local-mark", onOff(on)}}; }
Effects scriptButtons(bool on) { return {{"run-enabled", onOff(on)}, {"manager-enabled", onOff(on)}}; }
Effects tiltButtons(bool on) {
  return {{"calibrate-enabled", onOff(on)}, {"read-tilt-enabled", onOff(on)}, {"tilt-loop-enabled", onOff(on)}};
}
Effects electrodes(bool on) {
  Effects e;
  for (int n = 1; n <= 4; ++n) {
    e.push_back({"slider-enabled" + std::to_string(n), onOff(on)});
    e.push_back({"caption-enabled" + std::to_string(n), onOff(on)});
  }
  return e;
}
Effects codes(int c1, int c2, int c3, int c4) {
  return {{"code1", std::to_string(c1)}, {"code2", std::to_string(c2)},
          {"code3", std::to_string(c3)}, {"code4", std::to_string(c4)}};
}
Effects sliders(int p1, int p2, int p3, int p4, const char* c1, const char* c2, const char* c3, const char* c4) {
  return {{"slider1", std::to_string(p1)}, {"slider2", std::to_string(p2)}, {"slider3", std::to_string(p3)},
          {"slider4", std::to_string(p4)}, {"caption1", c1}, {"caption2", c2}, {"caption3", c3}, {"caption4", c4}};
}

// Two opposite starting points, so that every change a row makes is visible in one of them.
void enterBaseline(int which) {
  setStatusBarText("prior notice");
  if (which == 0) {
    setModeText("Direct");
    setScriptStatusText("Armed at 0x010");
    showStopCaption();
    setTiltXText("1.0000");
    setTiltYText("2.0000");
    setLocalControlCheck(false);
    enableLocalControl(true);
    enableScriptControls(true);
    enableTiltControls(true);
    enableElectrodeControls(true);
    for (int i = 0; i < 4; ++i) setSliderPosition(SLIDERS[i], 10 * (i + 1));
    for (int e = 1; e <= 4; ++e) setElectrodeCode(e, static_cast<uint8_t>(e));
  } else {
    setFaultText("WatchdogTimer");
    setScriptStatusText("Running at 0x123");
    showRunCaption();
    setLocalControlCheck(true);
    enableLocalControl(false);
    enableScriptControls(false);
    enableTiltControls(false);
    enableElectrodeControls(false);
    for (int i = 0; i < 4; ++i) setSliderPosition(SLIDERS[i], 200 + 10 * i);
    for (int e = 1; e <= 4; ++e) setElectrodeCode(e, static_cast<uint8_t>(4 + e));
  }
  refreshElectrodeCaptions();
}

struct MessageRow {
  uint8_t code;
  const char* name;
  Bytes params;
  Effects effects;
  Bytes reply;            // the command the host answers with, if any
  const char* warning;    // the Warning box's first line, if any
};

std::ostream& operator<<(std::ostream& os, const MessageRow& r) { return os << r.name; }

const Bytes VAR = {0x01, 0x02};
const Bytes TILT_EDGES = {0x00, 0x00, 0xbc, 0x01, 0xe8, 0x03, 0xa4, 0x05};   // 0 444 1000 1444
const Effects CLEARS = status("");

std::vector<MessageRow> messageRows() {
  const Effects idle = join({mode("Mode", "Idle"), status("Kinestim is Idle"), {{"script", "Stopped"}},
                             localMark(true), {{"run", "&Run"}},
                             sliders(127, 127, 127, 127, "1 (-0.02)", "2 (-0.02)", "3 (-0.02)", "4 (-0.02)"),
                             codes(127, 127, 127, 127), scriptButtons(true), localEnabled(true), tiltButtons(true),
                             electrodes(false)});
  return {
      {0x00, "mdgCmdAccepted", VAR, {}, {}, nullptr},
      {0x01, "mdgExpectedSOC", VAR, CLEARS, {}, nullptr},
      {0x02, "mdgCmdRejectedInvalidMode", VAR, CLEARS, {}, REJECTED},
      {0x03, "mdgCmdRejectedLengthBad", VAR, CLEARS, {}, nullptr},
      {0x04, "mdgCmdRejectedInvalidCdg", VAR, CLEARS, {}, nullptr},
      {0x05, "mdgCmdRejectedLengthToCdgBad", VAR, CLEARS, {}, nullptr},
      {0x06, "mdgCmdRejectedEOCNotPresent", VAR, CLEARS, {}, nullptr},
      {0x07, "mdgCmdRejectedChecksum", VAR, CLEARS, {}, nullptr},
      {0x08, "mdgRxCmdTimeout", {}, CLEARS, {}, nullptr},
      {0x09, "mdgResync", {}, CLEARS, {}, nullptr},
      {0x0a, "mdgExitedModeInit", {}, join({status("Kinestim Initialized"), localMark(true)}), {}, nullptr},
      {0x0b, "mdgEnteredModeIdle", {}, idle, {}, nullptr},
      {0x0c, "mdgExitedModeIdle", {}, join({CLEARS, localEnabled(false)}), {}, nullptr},
      {0x0d, "mdgEnteredModeDirect", {}, join({CLEARS, electrodes(true), mode("Mode", "Direct")}), {0x0b}, nullptr},
      {0x0e, "mdgExitedModeDirect", {}, join({CLEARS, electrodes(false), codes(127, 127, 127, 127)}), {}, nullptr},
      {0x0f, "mdgEnteredModePgmScr", {}, join({CLEARS, mode("Mode", "Program Script")}), {}, nullptr},
      {0x10, "mdgExitedModePgmScr", {}, CLEARS, {}, nullptr},
      {0x11, "mdgEnteredModeRunScr", {}, join({CLEARS, mode("Mode", "Run Scr"), localEnabled(true), tiltButtons(false)}), {}, nullptr},
      {0x12, "mdgExitedModeRunScr", {}, join({CLEARS, localEnabled(false), tiltButtons(true), codes(127, 127, 127, 127)}), {}, nullptr},
      {0x13, "mdgEnteredModeFault", {}, CLEARS, {}, nullptr},
      {0x14, "mdgExitedModeFault", {}, join({CLEARS, tiltButtons(true)}), {}, nullptr},
      {0x15, "mdgModeDirectSelected", {}, CLEARS, {}, nullptr},
      {0x16, "mdgModeDirectDeselected", {}, CLEARS, {}, nullptr},
      {0x17, "mdgModePgmScrSelected", {}, CLEARS, {}, nullptr},
      {0x18, "mdgModePgmScrDeselected", {}, CLEARS, {}, nullptr},
      {0x19, "mdgModeRunScrSelected", {}, CLEARS, {}, nullptr},
      {0x1a, "mdgModeRunScrDeselected", {}, CLEARS, {}, nullptr},
      {0x1b, "mdgMode", {0x04}, join({mode("Mode", "Program Script"), status("Mode: Program Script")}), {}, nullptr},
      {0x1c, "mdgAllElectrodesDld", {0x80, 0x90, 0xa0, 0xb0},
       join({CLEARS, sliders(128, 144, 160, 176, "1 (+0.00)", "2 (+0.32)", "3 (+0.64)", "4 (+0.96)"),
             codes(128, 144, 160, 176)}), {}, nullptr},
      {0x1d, "mdgCmdRejectedElectrodeRange", VAR, CLEARS, {}, nullptr},
      {0x1e, "mdgScrMemCleared", {}, CLEARS, {}, nullptr},
      {0x1f, "mdgScrMemUlded", {0x01, 0x02, 0x03}, CLEARS, {}, nullptr},
      {0x20, "mdgCmdRejectedUldMemAddrRange", VAR, CLEARS, {}, nullptr},
      {0x21, "mdgScrMemDld", {0x00, 0x00, 0x01, 0x02}, CLEARS, {}, nullptr},
      {0x22, "mdgCmdRejectedDldMemAddrRange", VAR, CLEARS, {}, nullptr},
      {0x23, "mdgScrArmed", {0x05, 0x00}, {{"script", "Armed at 0x005"}, {"status", "Armed at 0x005"}}, {}, nullptr},
      {0x24, "mdgCmdRejectedScrArmAddr", VAR, CLEARS, {}, nullptr},
      {0x25, "mdgScrDisarmed", {}, CLEARS, {}, nullptr},
      {0x26, "mdgScrStarted", {0x23, 0x01},
       {{"run", "St&op"}, {"script", "Running at 0x123"}, {"status", "Running at 0x123"}}, {}, nullptr},
      {0x27, "mdgCmdRejectedScrRunAddr", VAR, CLEARS, {}, nullptr},
      {0x28, "mdgCmdRejectedScrRunNotArmed", VAR, CLEARS, {}, nullptr},
      {0x29, "mdgScrStopped", {0x00, 0x00},
       join({{{"run", "&Run"}, {"script", "Stopped"}}, status("Script terminated"), codes(127, 127, 127, 127)}), {0x07}, nullptr},
      {0x2a, "mdgScrTrace", {0x01, 0x02, 0x03, 0x04}, CLEARS, {}, nullptr},
      {0x2b, "mdgLclCtrlDisabled", {}, join({localMark(false), status("Local Control Disabled")}), {}, nullptr},
      {0x2c, "mdgLclCtrlEnabled", {}, join({localMark(true), status("Local Control Enabled")}), {}, nullptr},
      {0x2d, "mdgFault", {0x08},
       join({mode("Fault", "WatchdogTimer"), status("*** Fault: WatchdogTimer ***"), tiltButtons(false),
             localEnabled(false), electrodes(false)}), {}, FAULT_WARNING},
      {0x2e, "mdgFaultStatusCleared", {}, CLEARS, {}, nullptr},
      {0x2f, "mdgRAMDld", VAR, CLEARS, {}, nullptr},
      {0x30, "mdgCmdRejectedDldRAMAddrRange", VAR, CLEARS, {}, nullptr},
      {0x31, "mdgLclCmdRejectedLclCtrlDisabled", VAR, CLEARS, {}, nullptr},
      {0x32, "mdgTilt", TILT_EDGES,
       {{"status", "New period detected - recalibrate"}, {"tilt-x", "0.0000"}, {"tilt-y", "0.0000"}}, {}, nullptr},
      {0x33, "mdgCalibrate", TILT_EDGES,
       {{"status", "Entered new calibration point "}, {"calibration-next-slot", "1"}, {"slot0-weight", "1"}}, {}, nullptr},
      {0x34, "mdgRxRateTooFast", {}, CLEARS, {}, OVERRUN},
  };
}

std::string traceLine(uint8_t code, const char* name, const Bytes& params) {
  char item[8];
  std::snprintf(item, sizeof item, "%.2x ", code);
  std::string line = std::string(item) + name;
  for (uint8_t b : params) {
    std::snprintf(item, sizeof item, " <%.2x>", b);
    line += item;
  }
  return line;
}

class MessageTableTest : public LinkTest, public ::testing::WithParamInterface<std::tuple<MessageRow, int>> {};

TEST_P(MessageTableTest, RowActsExactlyAsTheTableSays) {
  const MessageRow& row = std::get<0>(GetParam());
  enterBaseline(std::get<1>(GetParam()));
  State expected = snapshot();
  for (const auto& [key, value] : row.effects) {
    ASSERT_TRUE(expected.count(key)) << key;
    expected[key] = value;
  }
  output_.str("");
  Bytes payload = {row.code};
  payload.insert(payload.end(), row.params.begin(), row.params.end());
  deviceSends(payload);

  ASSERT_EQ(pumpOneMessage(), row.code);
  // The trace line is on top of the Received pane, under the empty line of an answer's echo.
  const std::string trace = traceLine(row.code, row.name, row.params) + "\r\n";
  EXPECT_EQ(text(IDC_RECEIVED_PANE), row.reply.empty() ? trace : "\r\n" + trace);
  EXPECT_EQ(snapshot(), expected);
  if (row.reply.empty()) {
    EXPECT_EQ(hex(hostSent()), "");
    EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), "");
  } else {
    EXPECT_EQ(hex(hostSent()), hex(frame(row.reply)));
    EXPECT_EQ(firstLine(text(IDC_SENT_PANE)), hex(row.reply) + " " + commandName(row.reply[0]));
  }
  if (row.warning != nullptr) {
    EXPECT_NE(printed().find(row.warning), std::string::npos) << printed();
  } else {
    EXPECT_EQ(printed().find("Warning"), std::string::npos) << printed();
  }
  // Nothing else is waiting: the tick ends here.
  EXPECT_EQ(pumpOneMessage(), -1);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, MessageTableTest,
                         ::testing::Combine(::testing::ValuesIn(messageRows()), ::testing::Values(0, 1)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_baseline" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST(MessageTableCoverage, EveryCatalogueCodeHasARow) {
  std::vector<MessageRow> rows = messageRows();
  ASSERT_EQ(rows.size(), static_cast<size_t>(MESSAGE_COUNT));
  for (int c = 0; c < MESSAGE_COUNT; ++c) {
    EXPECT_EQ(rows[c].code, c);
    EXPECT_STREQ(rows[c].name, messageName(static_cast<uint8_t>(c)));
    int length = messageLength(static_cast<uint8_t>(c));
    if (length != VARIABLE_LENGTH) {
      EXPECT_EQ(static_cast<int>(rows[c].params.size()) + 1, length) << rows[c].name;
    }
  }
}

using DispatcherTest = LinkTest;

// A message whose code is unknown or whose length is wrong is traced and reported, nothing more.
TEST_F(DispatcherTest, InvalidMessagesChangeNothingButTheStatusBar) {
  std::vector<Bytes> invalid;
  for (int c = 0; c < MESSAGE_COUNT; ++c) {
    int length = messageLength(static_cast<uint8_t>(c));
    if (length == VARIABLE_LENGTH) continue;
    invalid.push_back(Bytes(static_cast<size_t>(length + 1), 0x04));   // one byte too many
    invalid.back()[0] = static_cast<uint8_t>(c);
    if (length > 1) {
      invalid.push_back(Bytes(static_cast<size_t>(length - 1), 0x04));  // one byte short
      invalid.back()[0] = static_cast<uint8_t>(c);
    }
  }
  for (int c : {53, 0x80, 0xff}) invalid.push_back({static_cast<uint8_t>(c), 0x01});
  for (int baseline : {0, 1}) {
    enterBaseline(baseline);
    for (const Bytes& payload : invalid) {
      State before = snapshot();
      deviceSends(payload);
      ASSERT_EQ(pumpOneMessage(), payload[0]);
      State expected = before;
      expected["status"] = "Error: invalid mdg message";
      EXPECT_EQ(snapshot(), expected) << hex(payload);
      EXPECT_EQ(hex(hostSent(5)), "") << hex(payload);
      setStatusBarText("prior notice");
    }
  }
  EXPECT_EQ(printed().find("Warning"), std::string::npos);
}

TEST_F(DispatcherTest, UnknownCodeShowsItsNumberInTheTrace) {
  deviceSends({0x35, 0x01});
  ASSERT_EQ(pumpOneMessage(), 0x35);
  EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)), "35 (unknown) <01>");
  EXPECT_EQ(text(IDC_STATUS_BAR), "Error: invalid mdg message");
}

TEST_F(DispatcherTest, ModeFrameFromTheWire) {
  deviceSendsRaw({0xAA, 0x02, 0x1b, 0x03, 0x1e, 0x55});
  ReceiveTimerProc();
  EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)), "1b mdgMode <03>");
  EXPECT_EQ(text(IDC_MODE_FIELD), "Direct");
  EXPECT_EQ(text(IDC_STATUS_BAR), "Mode: Direct");
  EXPECT_EQ(currentModeFromDisplay(), 3);
  // One parameter too many: traced, then only the error.
  deviceSendsRaw({0xAA, 0x03, 0x1b, 0x02, 0x00, 0x1d, 0x55});
  ReceiveTimerProc();
  EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)), "1b mdgMode <02> <00>");
  EXPECT_EQ(text(IDC_MODE_FIELD), "Direct");
  EXPECT_EQ(text(IDC_STATUS_BAR), "Error: invalid mdg message");
}

TEST_F(DispatcherTest, ModeAndFaultCodesBeyondTheirTablesShowTheirNumber) {
  deviceSends({mdgMode, 9});
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_MODE_LABEL), "Mode");
  EXPECT_EQ(text(IDC_MODE_FIELD), "Unknown mode 9");
  EXPECT_EQ(text(IDC_STATUS_BAR), "Mode: Unknown mode 9");
  EXPECT_EQ(currentModeFromDisplay(), 0);
  deviceSends({mdgMode, 255});
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_MODE_FIELD), "Unknown mode 255");
  deviceSends({mdgFault, 20});
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_MODE_LABEL), "Fault");
  EXPECT_EQ(text(IDC_MODE_FIELD), "Unknown fault 20");
  EXPECT_EQ(text(IDC_STATUS_BAR), "*** Fault: Unknown fault 20 ***");
  deviceSends({mdgFault, 13});
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_MODE_FIELD), "ScrStackUnderflow");
}

TEST_F(DispatcherTest, FaultNameAppearsOnlyAfterTheWarning) {
  deviceSends({mdgFault, 8});
  ReceiveTimerProc();
  std::string out = printed();
  size_t warning = out.find(FAULT_WARNING);
  size_t name = out.find("WatchdogTimer");
  ASSERT_NE(warning, std::string::npos) << out;
  ASSERT_NE(name, std::string::npos) << out;
  EXPECT_LT(warning, name);
  // The Idle command then sends nothing: the field holds no mode name.
  ASSERT_TRUE(routeCommand(ID_IDLE, 0));
  EXPECT_EQ(hex(hostSent()), "");
}

TEST_F(DispatcherTest, EmptyFrameIsAnAcceptedCommand) {
  setStatusBarText("kept");
  deviceSendsRaw({0xAA, 0x00, 0x00, 0x55});
  ASSERT_EQ(pumpOneMessage(), 0);
  EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)), "00 mdgCmdAccepted");
  EXPECT_EQ(text(IDC_STATUS_BAR), "kept");
}

TEST_F(DispatcherTest, LongestFrameIsTracedWhole) {
  Bytes payload = {mdgRAMDld};
  for (int i = 0; i < 254; ++i) payload.push_back(static_cast<uint8_t>(i));
  deviceSends(payload);
  ASSERT_EQ(pumpOneMessage(), mdgRAMDld);
  std::string expected = traceLine(mdgRAMDld, "mdgRAMDld", Bytes(payload.begin() + 1, payload.end()));
  EXPECT_EQ(expected.size(), 2u + 1u + 9u + 254u * 5u);
  EXPECT_EQ(firstLine(text(IDC_RECEIVED_PANE)), expected);
}

TEST_F(DispatcherTest, TraceLineIsCutSafelyWhenTheBufferIsSmall) {
  Bytes f = frame({mdgRAMDld, 0x10, 0x20, 0x30, 0x40});
  Packet p{f.data()};
  char line[32];
  int n = formatReceivedLine(line, sizeof line, p);
  EXPECT_EQ(std::string(line, n), "2f mdgRAMDld <10> <20> <30>...");
  char exact[12 + 20 + 1];
  n = formatReceivedLine(exact, sizeof exact, p);
  EXPECT_EQ(std::string(exact, n), "2f mdgRAMDld <10> <20> <30> <40>");
  char tiny[8];
  n = formatReceivedLine(tiny, sizeof tiny, p);
  EXPECT_EQ(std::string(tiny, n), "2f mdgR");
}

TEST_F(DispatcherTest, OneTickHandlesEveryWaitingMessageInOrder) {
  deviceSends({mdgLclCtrlDisabled});
  deviceSends({mdgScrArmed, 0x34, 0x12});
  ReceiveTimerProc();
  EXPECT_FALSE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Armed at 0x1234");
  EXPECT_EQ(text(IDC_STATUS_BAR), "Armed at 0x1234");
  EXPECT_EQ(text(IDC_RECEIVED_PANE), "23 mdgScrArmed <34> <12>\r\n2b mdgLclCtrlDisabled\r\n");
  EXPECT_EQ(text(IDC_SENT_PANE), "\r\n\r\n");
}

TEST_F(DispatcherTest, StrayByteEndsTheTick) {
  Bytes bytes = frame({mdgScrArmed, 0x05, 0x00});
  bytes.push_back(0x17);
  Bytes second = frame({mdgLclCtrlDisabled});
  bytes.insert(bytes.end(), second.begin(), second.end());
  deviceSendsRaw(bytes);
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Armed at 0x005");
  EXPECT_TRUE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
  ReceiveTimerProc();
  EXPECT_FALSE(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL));
}

TEST_F(DispatcherTest, NothingIsReadWhileAMessageBoxIsOpen) {
  deviceSends({mdgScrArmed, 0x01, 0x00});
  deviceSends({mdgScrStarted, 0x02, 0x00});
  setMessageBoxShowing(1);
  EXPECT_EQ(pumpOneMessage(), -1);
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Stopped");
  setMessageBoxShowing(0);
  EXPECT_EQ(pumpOneMessage(), mdgScrArmed);
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Armed at 0x001");
  EXPECT_EQ(pumpOneMessage(), mdgScrStarted);
  EXPECT_EQ(text(IDC_SCRIPT_STATUS), "Running at 0x002");
  EXPECT_EQ(pumpOneMessage(), -1);
}

// A calibration run: 12 requests, each sent as the previous reply arrives.
class CalibrationRunTest : public LinkTest {
 protected:
  Bytes reply(int xHigh) {
    // t0 0, X end xHigh, Y 1000..1444: period depends on xHigh.
    return {mdgCalibrate, 0x00, 0x00, static_cast<uint8_t>(xHigh & 0xff), static_cast<uint8_t>(xHigh >> 8),
            0xe8, 0x03, 0xa4, 0x05};
  }
};

TEST_F(CalibrationRunTest, RunSendsTwelveRequestsAndEnds) {
  const std::string request = hex(frame({cdgCalibrate}));
  ASSERT_TRUE(routeCommand(IDC_CALIBRATE, 0));
  ASSERT_TRUE(routeCommand(IDC_CALIBRATE, 0));   // a second press during the run does nothing
  EXPECT_EQ(hex(hostSent()), request);
  EXPECT_EQ(calibrationRemaining(), 12);
  for (int i = 1; i <= 12; ++i) {
    deviceSends(reply(444));
    ReceiveTimerProc();
    EXPECT_EQ(hex(hostSent()), i < 12 ? request : "") << "reply " << i;
    EXPECT_EQ(calibrationRemaining(), 12 - i);
    // The first sample created the point, so the run reports a new point throughout.
    EXPECT_EQ(text(IDC_STATUS_BAR), "Entered new calibration point ") << "reply " << i;
  }
  EXPECT_EQ(calibrationEntry(0).weight, 12);
  // A second run over the same period only averages.
  ASSERT_TRUE(routeCommand(IDC_CALIBRATE, 0));
  EXPECT_EQ(hex(hostSent()), request);
  EXPECT_EQ(calibrationOk(), 1);
  deviceSends(reply(444));
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_STATUS_BAR), "Averaged in calibration data");
  EXPECT_EQ(hex(hostSent()), request);
  EXPECT_EQ(calibrationRemaining(), 11);
}

TEST_F(CalibrationRunTest, LoneSampleOutsideARunReportsItsOwnResult) {
  ASSERT_TRUE(routeCommand(ID_DEVICE_COMMAND_BASE + cdgCalibrate, 0));   // "1d  Calibrate"
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgCalibrate})));
  EXPECT_EQ(calibrationRemaining(), 0);
  deviceSends(reply(444));
  ReceiveTimerProc();
  EXPECT_EQ(hex(hostSent()), "");
  EXPECT_EQ(calibrationRemaining(), 0);
  EXPECT_EQ(text(IDC_STATUS_BAR), "Entered new calibration point ");
  deviceSends(reply(444));
  ReceiveTimerProc();
  EXPECT_EQ(hex(hostSent()), "");
  EXPECT_EQ(calibrationRemaining(), 0);
  EXPECT_EQ(text(IDC_STATUS_BAR), "Averaged in calibration data");
  EXPECT_EQ(calibrationEntry(0).weight, 2);
  // The button still starts a full run afterwards.
  ASSERT_TRUE(routeCommand(IDC_CALIBRATE, 0));
  EXPECT_EQ(hex(hostSent()), hex(frame({cdgCalibrate})));
  EXPECT_EQ(calibrationRemaining(), 12);
}

TEST_F(CalibrationRunTest, CalibratedReadingIsLevelAndLogged) {
  TempFolder folder;
  std::string path = folder.path("data.log");
  typeLines(path + "\n");
  ASSERT_TRUE(routeCommand(ID_START_DATA_LOG, 0));
  deviceSends(reply(500));        // period (1000 + 1444 - 500) / 2 = 972, X reference 500
  deviceSends({mdgTilt, 0x00, 0x00, 0xf4, 0x01, 0xe8, 0x03, 0xa4, 0x05});
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_STATUS_BAR), "");
  EXPECT_EQ(text(IDC_TILT_X), "0.0000");
  EXPECT_EQ(text(IDC_TILT_Y), "0.0000");
  // Uncalibrated period: the notice, and the angles still shown and logged.
  deviceSends({mdgTilt, 0x64, 0x00, 0x58, 0x02, 0x4c, 0x04, 0xdc, 0x05});   // 100 600 1100 1500
  ReceiveTimerProc();
  EXPECT_EQ(text(IDC_STATUS_BAR), "New period detected - recalibrate");
  ASSERT_TRUE(routeCommand(ID_STOP_DATA_LOG, 0));
  std::string logged = TempFolder::read(path);
  std::string body = "\t\t  -2.56\t  -2.56\t  -2.56\t  -2.56\t\t";
  std::string stamp = "[0-2][0-9]\t[0-5][0-9]\t[0-5][0-9]\\.[0-9]{3} ";
  // Against the averages (500, 444): X (500 - 500) / 950, Y (400 - 444) / 950.
  std::regex expected(stamp + body + "      0.0\t      0.0\r\n" + stamp + body + "      0.0\t    -21.7\r\n");
  EXPECT_TRUE(std::regex_match(logged, expected)) << logged;
}

}  // namespace
