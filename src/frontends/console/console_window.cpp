// Console window seam: the dialogs' controls kept in tables, each visible change printed as
// one line on the bound stream, and message boxes and file choosers answered line by line.
#include "frontends/console/console_window.h"
#include "resources/resource.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int EXPANDED_WIDTH = 782;
constexpr int COLLAPSED_WIDTH = 352;
constexpr int SLIDER_IDS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
constexpr int CAPTION_IDS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

struct Control {
  std::string text;
  bool enabled = true;
  bool shown = true;
  bool checked = false;
};

struct Slider {
  int low = 0;        // a trackbar's default range is 0 to 100
  int high = 100;
  int position = 0;
  int page = 20;
  std::vector<int> ticks;
};

struct DialogTable {
  bool exists = false;
  std::map<int, Control> controls;
};

struct ConsoleWindowState {
  std::istream* in = &std::cin;
  std::ostream* out = &std::cout;
  bool interactive = false;
  bool echoAnswers = false;
  bool terminalEchoes = false;  // the terminal already shows the answer and its line end
  bool promptPending = false;   // a prompt was printed without a line end
  bool promptInterrupted = false;  // other output ended the prompt's line before the answer
  std::string lastPrompt;
  ConsoleLineReader reader = nullptr;
  DialogTable dialogs[3];
  std::map<int, Slider> sliders;
  std::map<int, bool> menuItems;
  int width = EXPANDED_WIDTH;
  bool timerRunning = false;
  std::deque<int> posted;
  bool quitRequested = false;
  int exitCode = 0;
};

ConsoleWindowState console;

DialogTable& table(Dialog d) { return console.dialogs[static_cast<int>(d)]; }

Control* findControl(Dialog d, int id) {
  DialogTable& t = table(d);
  if (!t.exists) return nullptr;
  auto it = t.controls.find(id);
  return it == t.controls.end() ? nullptr : &it->second;
}

Slider* findSlider(int id) {
  if (!table(Dialog::Main).exists) return nullptr;
  auto it = console.sliders.find(id);
  return it == console.sliders.end() ? nullptr : &it->second;
}

int electrodeOfSlider(int id) {
  for (int i = 0; i < 4; ++i)
    if (SLIDER_IDS[i] == id) return i + 1;
  return 0;
}

int electrodeOfCaption(int id) {
  for (int i = 0; i < 4; ++i)
    if (CAPTION_IDS[i] == id) return i + 1;
  return 0;
}

// Ends a pending prompt's line so that the next output starts on a line of its own.
void endPromptLine() {
  if (console.promptPending) {
    *console.out << '\n';
    console.promptPending = false;
    console.promptInterrupted = true;
  }
}

// Splits text at CR LF, lone CR or lone LF.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  lines.push_back(line);
  return lines;
}

// Prints text after a prefix; further lines of the text continue on lines of their own.
void printText(const std::string& prefix, const std::string& text) {
  endPromptLine();
  std::vector<std::string> lines = splitLines(text);
  *console.out << prefix << lines[0] << '\n';
  for (size_t i = 1; i < lines.size(); ++i) *console.out << lines[i] << '\n';
  console.out->flush();
}

// Prints every line of the text, each after the prefix; a trailing line end adds no line.
void printEachLine(const std::string& prefix, const std::string& text) {
  if (text.empty()) return;
  endPromptLine();
  std::vector<std::string> lines = splitLines(text);
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  for (const std::string& line : lines) *console.out << prefix << line << '\n';
  console.out->flush();
}

void prompt(const std::string& text) {
  endPromptLine();
  *console.out << text;
  console.out->flush();
  console.promptPending = true;
  console.promptInterrupted = false;
  console.lastPrompt = text;
}

std::string firstLine(const std::string& text) {
  size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

// Button captions without their mnemonic ampersands ("St&op" shows as "Stop").
std::string withoutMnemonics(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      ++i;
    }
    shown += text[i];
  }
  return shown;
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// The printed side of a text change on the main window.
void reportMainText(int id, const std::string& before, const std::string& after) {
  switch (id) {
    case IDC_SENT_PANE:
    case IDC_RECEIVED_PANE: {
      if (!console.dialogs[0].exists || console.width != EXPANDED_WIDTH) return;
      std::string line = firstLine(after);
      if (!line.empty()) printText(id == IDC_SENT_PANE ? "sent: " : "received: ", line);
      return;
    }
    case IDC_STATUS_BAR:
      if (!after.empty()) printText("status: ", after);
      return;
    case IDC_MODE_FIELD: {
      Control* label = findControl(Dialog::Main, IDC_MODE_LABEL);
      std::string prefix = label ? lowerCase(label->text) : std::string("mode");
      printText(prefix + ": ", after);
      return;
    }
    case IDC_SCRIPT_STATUS:
      printText("script: ", after);
      return;
    case IDC_RUN_STOP:
      printText("run button: ", withoutMnemonics(after));
      return;
    case IDC_TILT_X:
      printText("tilt x: ", after);
      return;
    case IDC_TILT_Y:
      printText("tilt y: ", after);
      return;
    default:
      break;
  }
  if (int electrode = electrodeOfCaption(id)) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "electrode %d: ", electrode);
    printText(prefix, after);
  }
  (void)before;
}

void reportScriptManagerText(int id, const std::string& before, const std::string& after) {
  if (id == IDC_SM_COMPILER_OUTPUT) {
    printEachLine("compiler output: ", after);
  } else if (id == IDC_SM_MEMORY) {
    // The memory view appends to what the pane holds; print what was added.
    if (after.compare(0, before.size(), before) == 0)
      printEachLine("memory: ", after.substr(before.size()));
    else
      printEachLine("memory: ", after);
  }
}

void addControl(DialogTable& t, int id, const char* text) {
  Control c;
  c.text = text ? text : "";
  t.controls[id] = c;
}

void buildMainDialog() {
  DialogTable& t = table(Dialog::Main);
  t.controls.clear();
  t.exists = true;
  static const struct { int id; const char* text; } TEMPLATE[] = {
      {IDC_MENU_SEPARATOR, ""}, {IDC_COMMAND_BOX, ""}, {IDC_SEND, "&Send"},
      {IDC_CLEAR, "Cl&ear"}, {IDC_LOCAL_CONTROL, "Local Control"}, {IDC_RUN_STOP, "&Run"},
      {IDC_SCRIPT_MANAGER, "Script &Manager"}, {IDC_SLIDER_1, ""}, {IDC_SLIDER_2, ""},
      {IDC_SLIDER_3, ""}, {IDC_SLIDER_4, ""}, {IDC_CALIBRATE, "Cali&brate"},
      {IDC_READ_TILT, "Read &Tilt"}, {IDC_TILT_LOOP, "Tilt &Loop"}, {IDC_SENT_LABEL, "Sent:"},
      {IDC_RECEIVED_LABEL, "Received:"}, {IDC_COMMAND_LABEL, "Command"},
      {IDC_RECEIVED_PANE, ""}, {IDC_SENT_PANE, ""}, {IDC_STATUS_BAR, "Turn on the Kinestim now"},
      {IDC_MODE_LABEL, "Mode"}, {IDC_MODE_FIELD, "Unknown"}, {IDC_SCRIPT_LABEL, "Status"},
      {IDC_SCRIPT_STATUS, "Stopped"}, {IDC_CAPTION_1, "1 (0)"}, {IDC_CAPTION_2, "2 (0)"},
      {IDC_CAPTION_3, "3 (0)"}, {IDC_CAPTION_4, "4 (0)"}, {IDC_X_LABEL, "X-axis"},
      {IDC_Y_LABEL, "Y-axis"}, {IDC_TILT_X, ""}, {IDC_TILT_Y, ""}, {IDC_COMMAND_GROUP, "Command"},
  };
  for (const auto& c : TEMPLATE) addControl(t, c.id, c.text);
  console.sliders.clear();
  for (int id : SLIDER_IDS) console.sliders[id] = Slider();
  console.menuItems.clear();
  // Every menu entry is enabled except the two Stop entries that the menu template greys.
  for (int id = ID_DEVICE_COMMAND_BASE; id <= ID_DEVICE_COMMAND_LAST; ++id) console.menuItems[id] = true;
  for (int id = ID_TOGGLE_ADVANCED; id <= ID_IDLE; ++id) console.menuItems[id] = true;
  console.menuItems[ID_STOP_TRAFFIC_LOG] = false;
  console.menuItems[ID_STOP_DATA_LOG] = false;
  console.menuItems[ID_EXIT] = true;
  console.menuItems[ID_ABOUT] = true;
  console.width = EXPANDED_WIDTH;
}

void buildScriptManager() {
  DialogTable& t = table(Dialog::ScriptManager);
  t.controls.clear();
  t.exists = true;
  static const struct { int id; const char* text; } TEMPLATE[] = {
      {IDC_SM_UPLOAD, "&Upload"}, {IDC_SM_TIMESTEP, "25"}, {IDC_SM_UPLOAD_SAMPLES, "Upload &Samples"},
      {IDC_SM_OUTPUT_LABEL, "Compiler Output"}, {IDC_SM_COMPILER_OUTPUT, ""},
      {IDC_SM_CLEAR_MEM, "&Clear Mem"}, {IDC_SM_ADDRESS_LABEL, "Address (0-2047)"},
      {IDC_SM_ADDRESS, "0"}, {IDC_SM_VIEW, "&View"}, {IDC_SM_APPEND, "&Append"},
      {IDC_SM_MEMORY, ""},
  };
  for (const auto& c : TEMPLATE) addControl(t, c.id, c.text);
}

void buildParameterDialog() {
  DialogTable& t = table(Dialog::Parameters);
  t.controls.clear();
  t.exists = true;
  addControl(t, IDC_PARAM_OK, "&OK");
  addControl(t, IDC_PARAM_CANCEL, "&Cancel");
}

bool readAnswer(std::string& line) {
  bool ok = consoleReadLine(line);
  console.promptInterrupted = false;
  if (console.promptPending && console.terminalEchoes && ok) {
    console.promptPending = false;
  } else if (console.promptPending) {
    if (ok && console.echoAnswers) *console.out << line;
    *console.out << '\n';
    console.out->flush();
    console.promptPending = false;
  }
  return ok;
}

// Reads one path for a chooser; false when input ended or the answer was empty.
bool readPath(const char* promptText, std::string& path) {
  prompt(promptText);
  if (!readAnswer(path)) return false;
  path = trimmed(path);
  return !path.empty();
}

bool copyPath(const std::string& path, char* out, int size) {
  if (!out || size <= 0) return false;
  if (static_cast<int>(path.size()) >= size) {
    printText("", "The path is too long (at most " + std::to_string(size - 1) + " characters).");
    return false;
  }
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

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
}

void consoleRestorePrompt() {
  if (console.promptInterrupted && !console.promptPending) prompt(console.lastPrompt);
}

void consoleSetLineReader(ConsoleLineReader reader) { console.reader = reader; }
void consoleSetEchoAnswers(bool on) { console.echoAnswers = on; }
void consoleSetTerminalEchoes(bool on) { console.terminalEchoes = on; }
std::ostream& consoleOutput() {
  endPromptLine();
  return *console.out;
}

void consoleOpenDialog(Dialog d) {
  switch (d) {
    case Dialog::Main: buildMainDialog(); break;
    case Dialog::ScriptManager: buildScriptManager(); break;
    case Dialog::Parameters: buildParameterDialog(); break;
  }
}

void consoleCloseDialog(Dialog d) {
  table(d).exists = false;
  table(d).controls.clear();
}

void consoleAddControl(Dialog d, int id, const char* text) {
  DialogTable& t = table(d);
  if (t.exists) addControl(t, id, text);
}

bool consolePromptLine(const std::string& promptText, std::string& answer) {
  prompt(promptText);
  return readAnswer(answer);
}

bool consoleReadLine(std::string& line) {
  line.clear();
  bool ok;
  if (console.interactive && console.reader) {
    ok = console.reader(line);
  } else {
    ok = static_cast<bool>(std::getline(*console.in, line));
  }
  if (!ok) return false;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return true;
}

bool consoleTimerRunning() { return console.timerRunning; }
bool consoleQuitRequested() { return console.quitRequested; }
int consoleExitCode() { return console.exitCode; }
bool consoleExpanded() { return console.width == EXPANDED_WIDTH; }

std::string consoleControlText(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c ? c->text : std::string();
}

bool consoleControlEnabled(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c && c->enabled;
}

bool consoleControlShown(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c && c->shown;
}

bool consoleMenuItemEnabled(int id) {
  auto it = console.menuItems.find(id);
  return it != console.menuItems.end() && it->second;
}

void consoleShowAll() {
  if (!table(Dialog::Main).exists) {
    printText("", "The main window is closed.");
    return;
  }
  auto text = [](int id) { return consoleControlText(Dialog::Main, id); };
  auto onOff = [](bool on) { return std::string(on ? "enabled" : "disabled"); };
  printText(lowerCase(text(IDC_MODE_LABEL)) + ": ", text(IDC_MODE_FIELD));
  printText("script: ", text(IDC_SCRIPT_STATUS));
  printText("run button: ", withoutMnemonics(text(IDC_RUN_STOP)) + ", " +
                                onOff(consoleControlEnabled(Dialog::Main, IDC_RUN_STOP)));
  printText("script manager button: ", onOff(consoleControlEnabled(Dialog::Main, IDC_SCRIPT_MANAGER)));
  printText("local control: ", std::string(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL) ? "checked" : "cleared") +
                                   ", " + onOff(consoleControlEnabled(Dialog::Main, IDC_LOCAL_CONTROL)));
  for (int i = 0; i < 4; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "electrode %d: %s, slider %d, %s", i + 1, text(CAPTION_IDS[i]).c_str(),
                  getSliderPosition(SLIDER_IDS[i]),
                  consoleControlEnabled(Dialog::Main, SLIDER_IDS[i]) ? "enabled" : "disabled");
    printText("", line);
  }
  printText("tilt buttons: ", onOff(consoleControlEnabled(Dialog::Main, IDC_CALIBRATE)));
  printText("tilt x: ", text(IDC_TILT_X));
  printText("tilt y: ", text(IDC_TILT_Y));
  printText("status: ", text(IDC_STATUS_BAR));
  printText("command box: ", text(IDC_COMMAND_BOX));
  printText("advanced windows: ", consoleExpanded() ? "shown" : "hidden");
  printText("traffic log: ", consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG) ? "on" : "off");
  printText("data log: ", consoleMenuItemEnabled(ID_STOP_DATA_LOG) ? "on" : "off");
}

// --- The window seam -------------------------------------------------------------------------

bool dialogExists(Dialog d) { return table(d).exists; }

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
  if (id == IDC_LOCAL_CONTROL) {
    printText("local control: ", state);
  } else if (id == IDC_RUN_STOP) {
    printText("run button: ", state);
  } else if (int electrode = electrodeOfSlider(id)) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "electrode %d: ", electrode);
    printText(prefix, state);
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
  if (d == Dialog::Main && id == IDC_LOCAL_CONTROL) printText("local control: ", checked ? "checked" : "cleared");
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

int showMessageBox(Dialog, const char* text, const char* caption, unsigned style) {
  std::string heading = caption ? caption : "";
  printText(heading + ": ", text ? text : "");
  std::string answer;
  if ((style & 0x000F) == 0x0004) {  // Yes and No buttons
    prompt("[y/n] ");
    if (!readAnswer(answer)) return MB_ANSWER_NO;
    answer = lowerCase(trimmed(answer));
    return answer == "y" || answer == "yes" ? MB_ANSWER_YES : MB_ANSWER_NO;
  }
  prompt("(press Enter) ");
  readAnswer(answer);
  return MB_ANSWER_OK;
}

bool chooseSaveFileName(char* path, int size) {
  for (;;) {
    std::string chosen;
    if (!readPath("Save as: ", chosen)) return false;
    std::error_code error;
    std::filesystem::path p(chosen);
    if (std::filesystem::is_directory(p, error)) {
      printText("", chosen + " is a folder; give a file name.");
      continue;
    }
    if (std::filesystem::exists(p, error)) {
      prompt("Replace " + chosen + "? [y/n] ");
      std::string answer;
      if (!readAnswer(answer)) return false;
      answer = lowerCase(trimmed(answer));
      if (answer != "y" && answer != "yes") return false;
    }
    if (copyPath(chosen, path, size)) return true;
  }
}

bool chooseOpenFileName(char* path, int size) {
  for (;;) {
    std::string chosen;
    if (!readPath("Open: ", chosen)) return false;
    std::error_code error;
    std::filesystem::path p(chosen);
    if (!std::filesystem::exists(p, error)) {
      printText("", "File not found: " + chosen);
      continue;
    }
    if (std::filesystem::is_directory(p, error)) {
      printText("", chosen + " is a folder; give a file name.");
      continue;
    }
    if (copyPath(chosen, path, size)) return true;
  }
}

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
