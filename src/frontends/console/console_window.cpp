// Console window seam: the dialogs' controls kept in tables, each visible change printed as
// one line on the bound stream, and message boxes and file choosers answered line by line.
// This file holds the state and the seam's setters; the tables, the printing and the
// prompts have files of their own.
#include "frontends/console/console_window_state.h"
#include "frontends/console/console_output.h"
#include "logging/traffic.h"
#include <cstdio>
#include <cstring>

namespace consolewin {
ConsoleWindowState console;
}  // namespace consolewin

using namespace consolewin;

// --- Console-specific interface ------------------------------------------------------------

void consoleWindowReset(std::istream* in, std::ostream* out, bool interactive) {
  console.in = in ? in : &std::cin;
  console.out = out ? out : &std::cout;
  console.interactive = interactive;
  console.echoAnswers = false;
  console.terminalEchoes = false;
  console.promptPending = false;
  console.promptInterrupted = false;
  console.lastPrompt.clear();
  console.reader = nullptr;
  for (DialogTable& t : console.dialogs) {
    t.exists = false;
    t.controls.clear();
  }
  buildMainDialog();
  console.timerRunning = false;
  console.posted.clear();
  console.quitRequested = false;
  console.exitCode = 0;
  console.batch = false;
  console.leaveRunning = false;
  console.warningShown = false;
}

void consoleSetLineReader(ConsoleLineReader reader) { console.reader = reader; }
void consoleSetEchoAnswers(bool on) { console.echoAnswers = on; }
void consoleSetTerminalEchoes(bool on) { console.terminalEchoes = on; }

void consoleSetBatchMode(bool on) { console.batch = on; }
void consoleSetLeaveRunning(bool on) { console.leaveRunning = on; }
bool consoleBatchMode() { return console.batch; }
bool consoleWarningShown() { return console.warningShown; }

void consoleRefuse(const std::string& reason) {
  printText("", reason, "refused", jsonMember("text", jsonString(reason)));
  if (console.batch) console.warningShown = true;
}

bool consoleTimerRunning() { return console.timerRunning; }
bool consoleQuitRequested() { return console.quitRequested; }
int consoleExitCode() { return console.exitCode; }
bool consoleExpanded() { return console.width == EXPANDED_WIDTH; }

// --- The window seam -------------------------------------------------------------------------

void setControlText(Dialog d, int id, const char* text) {
  Control* c = findControl(d, id);
  if (!c) return;
  std::string after = text ? text : "";
  if (after == c->text) return;
  std::string before = c->text;
  c->text = after;
  if (d == Dialog::Main)
    reportMainText(id, before, after);
  else if (d == Dialog::ScriptManager)
    reportScriptManagerText(id, before, after);
}

// Each line is printed as it comes: the pane's control text changes at once.
void putPaneLine(int paneId, const char* line) {
  if (paneId != IDC_SENT_PANE && paneId != IDC_RECEIVED_PANE) return;
  const int other = paneId == IDC_SENT_PANE ? IDC_RECEIVED_PANE : IDC_SENT_PANE;
  for (int id : {paneId, other}) {
    Control* c = findControl(Dialog::Main, id);
    if (!c) continue;
    std::string text = c->text;
    putLineOnTop(text, id == paneId ? line : "");
    setControlText(Dialog::Main, id, text.c_str());
  }
}

int getControlText(Dialog d, int id, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  Control* c = findControl(d, id);
  int n = 0;
  if (c) {
    n = static_cast<int>(c->text.size());
    if (n > size - 1) n = size - 1;
    std::memcpy(buffer, c->text.data(), static_cast<size_t>(n));
  }
  buffer[n] = '\0';
  return n;
}

void enableControl(Dialog d, int id, bool enabled) {
  Control* c = findControl(d, id);
  if (!c || c->enabled == enabled) return;
  c->enabled = enabled;
  if (d != Dialog::Main) return;
  const char* state = enabled ? "enabled" : "disabled";
  std::string members = jsonMember("enabled", enabled ? "true" : "false");
  if (id == IDC_LOCAL_CONTROL) {
    printText("local control: ", state, "local-control", members);
  } else if (id == IDC_RUN_STOP) {
    printText("run button: ", state, "run-button", members);
  } else if (int electrode = electrodeOfSlider(id)) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "electrode %d: ", electrode);
    printText(prefix, state, "electrode", electrodeMembers(electrode) + jsonMember("changed", "\"enabled\""));
  }
}

void showControl(Dialog d, int id, bool shown) {
  Control* c = findControl(d, id);
  if (c) c->shown = shown;
}

void setCheckMark(Dialog d, int id, bool checked) {
  Control* c = findControl(d, id);
  if (!c || c->checked == checked) return;
  c->checked = checked;
  if (d == Dialog::Main && id == IDC_LOCAL_CONTROL)
    printText("local control: ", checked ? "checked" : "cleared", "local-control",
              jsonMember("checked", checked ? "true" : "false"));
}

bool hasCheckMark(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c && c->checked;
}

void focusControl(Dialog, int) {}
void scrollEditLines(Dialog, int, int) {}
void postScrollEditLines(Dialog, int, int) {}

void setSliderRange(int id, int low, int high) {
  Slider* s = findSlider(id);
  if (!s) return;
  s->low = low;
  s->high = high < low ? low : high;
  if (s->position < s->low) s->position = s->low;
  if (s->position > s->high) s->position = s->high;
}

void setSliderPosition(int id, int position) {
  Slider* s = findSlider(id);
  if (!s) return;
  // A trackbar keeps its position inside its range.
  if (position < s->low) position = s->low;
  if (position > s->high) position = s->high;
  s->position = position;
}

int getSliderPosition(int id) {
  Slider* s = findSlider(id);
  return s ? s->position : 0;
}

void addSliderTick(int id, int position) {
  Slider* s = findSlider(id);
  if (s) s->ticks.push_back(position);
}

ConsoleSlider consoleSlider(int id) {
  const Slider* s = findSlider(id);
  return s != nullptr ? ConsoleSlider{s->low, s->high, s->page} : ConsoleSlider{0, 0, 0};
}

void setSliderPageSize(int id, int page) {
  Slider* s = findSlider(id);
  if (s) s->page = page;
}

void enableMenuItem(int id, bool enabled) {
  auto it = console.menuItems.find(id);
  if (it != console.menuItems.end()) it->second = enabled;
}

int mainWindowWidth() { return console.width; }

void setMainWindowWidth(int width) { console.width = width; }

int expandedWindowWidth() { return EXPANDED_WIDTH; }
int collapsedWindowWidth() { return COLLAPSED_WIDTH; }

void startReceiveTimer() { console.timerRunning = true; }
void stopReceiveTimer() { console.timerRunning = false; }

void postCommand(int id) { console.posted.push_back(id); }

// Takes the oldest posted command; false when none is queued. Used by consoleRunPostedCommands.
bool consoleTakePostedCommand(int& id) {
  if (console.posted.empty()) return false;
  id = console.posted.front();
  console.posted.pop_front();
  return true;
}

void endMainDialog() {
  table(Dialog::Main).exists = false;
}

void postQuit(int exitCode) {
  console.quitRequested = true;
  console.exitCode = exitCode;
}

