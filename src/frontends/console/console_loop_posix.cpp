// Terminal loop of kinestim-console: polls standard input and runs the 25 ms receive timer on
// one thread; input lines become button presses, slider moves or typed command codes.
#include "frontends/console/console_loop.h"
#include "frontends/console/console_window.h"
#include "frontends/console/console_output.h"
#include "app/dispatcher.h"
#include "resource.h"
#include "app/main_dialog.h"
#include "link/catalogue.h"
#include "ui/electrodes.h"
#include "ui/parameters.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <poll.h>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

struct ConsoleLoopState {
  std::string pending;        // input read but not yet taken as lines
  bool endOfInput = false;
  int64_t nextTickMs = 0;
  int drainFd = -1;
  int simulatorFd = -1;
  bool stopReading = false;    // input is no longer taken (a wait timed out, or a Warning stops)
  bool stopOnWarning = false;
  uint64_t linesAtLastRead = 0;      // lines printed when the last input line was taken
  uint64_t linesAtReadBefore = 0;    // ... and when the one before it was taken
};

ConsoleLoopState loop;

int64_t monotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Every message of the loop refuses a line the operator typed.
void say(const std::string& text) { consoleRefuse(text); }

// Notes how many lines were printed when an input line was taken, for ":wait".
void noteLineTaken() {
  loop.linesAtReadBefore = loop.linesAtLastRead;
  loop.linesAtLastRead = consoleLinesPrinted();
  consoleKeepLinesFrom(loop.linesAtReadBefore);
}

bool takeLine(std::string& line) {
  size_t end = loop.pending.find('\n');
  if (end == std::string::npos) return false;
  line = loop.pending.substr(0, end);
  loop.pending.erase(0, end + 1);
  noteLineTaken();
  return true;
}

// Runs the receive timer when it is due. The next tick is counted from now, so a long
// handler does not cause a burst of catch-up ticks.
void tickIfDue(bool topLevel) {
  int64_t now = monotonicMs();
  if (now < loop.nextTickMs) return;
  loop.nextTickMs = now + RECEIVE_TIMER_MS;
  if (consoleTimerRunning()) ReceiveTimerProc();
  if (topLevel) consoleRunPostedCommands();
}

// Reads what input has come (into pending) and drains the simulator's output, waiting at most
// until the next timer tick or deadlineMs, then runs the tick when it is due.
void pumpOnce(int64_t deadlineMs, bool topLevel) {
  int64_t wait = std::min(loop.nextTickMs, deadlineMs) - monotonicMs();
  if (wait < 0) wait = 0;
  pollfd fds[2] = {{loop.endOfInput ? -1 : 0, POLLIN, 0}, {loop.drainFd, POLLIN, 0}};
  int ready = poll(fds, 2, static_cast<int>(wait));
  if (ready < 0 && errno != EINTR) {
    loop.endOfInput = true;
    return;
  }
  if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
    char buffer[4096];
    ssize_t got = read(0, buffer, sizeof buffer);
    if (got > 0)
      loop.pending.append(buffer, static_cast<size_t>(got));
    else if (got == 0 || (errno != EINTR && errno != EAGAIN))
      loop.endOfInput = true;
  }
  if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
    char buffer[4096];
    if (read(loop.drainFd, buffer, sizeof buffer) <= 0) loop.drainFd = -1;
  }
  tickIfDue(topLevel);
}

// Waits for one whole input line while the timer keeps ticking. At the top level the posted
// commands run after every tick; inside a prompt they wait, as the main window is blocked.
// Once input is stopped (a wait timed out, or a Warning with --stop-on-warning) no more
// lines are given out: a prompt then ends as at the end of input.
bool waitForLine(std::string& line, bool topLevel) {
  for (;;) {
    if (loop.stopOnWarning && consoleWarningShown()) loop.stopReading = true;
    if (loop.stopReading) return false;
    if (takeLine(line)) return true;
    if (loop.endOfInput) {
      if (loop.pending.empty()) return false;
      line.swap(loop.pending);
      loop.pending.clear();
      noteLineTaken();
      return true;
    }
    if (topLevel && consoleQuitRequested()) return false;
    pumpOnce(loop.nextTickMs, topLevel);
    if (!topLevel) consoleRestorePrompt();
  }
}

bool promptReader(std::string& line) { return waitForLine(line, false); }

std::string withoutMnemonics(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

// Splits a line into white-space separated words.
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// Presses a main-window button unless it is greyed.
void pressButton(int id) {
  if (!consoleControlEnabled(Dialog::Main, id)) {
    say(withoutMnemonics(consoleControlText(Dialog::Main, id)) + " is disabled");
    return;
  }
  routeCommand(id, 0);
}

// Chooses a menu entry unless it is greyed.
void chooseMenuItem(int id, const char* name) {
  if (!consoleMenuItemEnabled(id)) {
    say(std::string(name) + " is greyed in the menu");
    return;
  }
  routeCommand(id, 0);
}

// The line size of a trackbar's arrow keys; the page size and range are the slider's own.
constexpr int SLIDER_LINE = 1;

// ":slider", ":slider-drag" and ":slider-key": returns the slider's control identifier, or 0
// after printing why the line cannot be used.
int sliderFor(const std::vector<std::string>& words, const char* usage) {
  int32_t electrode = 0;
  if (words.size() == 3 && hasLeadingZero(words[1].c_str())) {
    refuseTypedNumber("Electrode", 1, 4, words[1].c_str());
    return 0;
  }
  if (words.size() != 3 || !readWholeNumber(words[1].c_str(), &electrode)) {
    say(std::string("Usage: ") + usage);
    return 0;
  }
  if (electrode < 1 || electrode > 4) {
    say("There is no electrode " + words[1] + " (electrodes are 1 to 4)");
    return 0;
  }
  int id = ELECTRODE_SLIDER_IDS[electrode - 1];
  if (!consoleControlEnabled(Dialog::Main, id)) {
    say("Electrode " + words[1] + " slider is disabled");
    return 0;
  }
  return id;
}

void moveSlider(const std::vector<std::string>& words, int scrollCode, const char* usage) {
  int id = sliderFor(words, usage);
  if (id == 0) return;
  // The position is read as a dialog field would read it, and one the slider cannot take is
  // refused rather than moved to the nearest end.
  const ConsoleSlider range = consoleSlider(id);
  int32_t position = 0;
  if (hasLeadingZero(words[2].c_str())) {
    refuseTypedNumber("Slider position", range.low, range.high, words[2].c_str());
    return;
  }
  if (!readWholeNumber(words[2].c_str(), &position) || position < range.low || position > range.high) {
    say("Not a slider position: " + words[2] + " (" + std::to_string(range.low) + " to " +
        std::to_string(range.high) + ")");
    return;
  }
  setSliderPosition(id, position);
  handleSliderScroll(id, scrollCode);
}

void keySlider(const std::vector<std::string>& words) {
  const char* usage = ":slider-key N up|down|pageup|pagedown";
  int id = sliderFor(words, usage);
  if (id == 0) return;
  // Home and End would swing the electrode to either end of its range in one key press; the
  // window ignores them on the sliders, and so does this.
  if (words[2] == "home" || words[2] == "end") {
    char page[16];
    std::snprintf(page, sizeof page, "%.2f", consoleSlider(id).page * CURRENT_STEP);
    say("The " + words[2] + " key does nothing on an electrode slider: one key moves it at most one page (" + page + ")");
    return;
  }
  const ConsoleSlider range = consoleSlider(id);
  const struct { const char* key; int step; int code; } KEYS[] = {
      {"up", -SLIDER_LINE, SCROLL_LINE_UP},     {"down", SLIDER_LINE, SCROLL_LINE_DOWN},
      {"pageup", -range.page, SCROLL_PAGE_UP},  {"pagedown", range.page, SCROLL_PAGE_DOWN},
  };
  for (const auto& k : KEYS) {
    if (words[2] == k.key) {
      setSliderPosition(id, std::clamp(getSliderPosition(id) + k.step, range.low, range.high));
      handleSliderScroll(id, k.code);
      return;
    }
  }
  say(std::string("Usage: ") + usage);
}

const char* const HELP_TEXT =
    "Type a command code and Enter to send it as from the Command box (for example 2 selects\n"
    "Direct mode, 9 asks for Set Electrode, 70 shows or hides the traffic, 73 starts the\n"
    "traffic log). Other controls:\n"
    "  :run                 Run/Stop button\n"
    "  :local               Local Control box\n"
    "  :calibrate           Calibrate button\n"
    "  :read-tilt           Read Tilt button\n"
    "  :tilt-loop           Tilt Loop button\n"
    "  :script-manager      Script Manager button\n"
    "  :clear               Clear button (empties the traffic panes)\n"
    "  :idle                Mode menu, Idle\n"
    "  :advanced            show or hide the traffic (Window menu)\n"
    "  :log, :stop-log      start or stop the traffic log (File menu)\n"
    "  :data-log, :stop-data-log   start or stop the current and tilt log (File menu)\n"
    "  :slider N POS        move slider N (1-4) to POS (0-255) and release it\n"
    "  :slider-drag N POS   drag slider N to POS without releasing it\n"
    "  :slider-key N KEY    press up, down, pageup or pagedown on slider N\n"
    "  :about               About box\n"
    "  :show                print every field of the main window\n"
    "  :sim TEXT            send a control line to the simulator (with --simulate)\n"
    "  :wait mode NAME [S]  wait until the mode field shows NAME (S seconds at most, 5 unless given)\n"
    "  :wait PATTERN [S]    wait for a line matching the regular expression PATTERN, printed\n"
    "                       since the line before this one was read\n"
    "  :sleep MS            pause for MS milliseconds while the device is still read\n"
    "  :quit                close the window and exit\n"
    "  :help                this list\n";

void colonCommand(const std::string& line) {
  std::vector<std::string> words = wordsOf(line.substr(1));
  if (words.empty()) {
    say("Type :help for the list of commands");
    return;
  }
  const std::string& name = words[0];
  static const struct { const char* name; int id; } BUTTONS[] = {
      {"run", IDC_RUN_STOP},         {"local", IDC_LOCAL_CONTROL},  {"calibrate", IDC_CALIBRATE},
      {"read-tilt", IDC_READ_TILT},  {"tilt-loop", IDC_TILT_LOOP},  {"script-manager", IDC_SCRIPT_MANAGER},
      {"clear", IDC_CLEAR},
  };
  static const struct { const char* name; int id; const char* entry; } MENU[] = {
      {"idle", ID_IDLE, "Idle"},
      {"advanced", ID_TOGGLE_ADVANCED, "Show/Hide Advanced Windows"},
      {"log", ID_START_TRAFFIC_LOG, "Log ..."},
      {"stop-log", ID_STOP_TRAFFIC_LOG, "Stop Log"},
      {"data-log", ID_START_DATA_LOG, "Log Current and Tilt Data ..."},
      {"stop-data-log", ID_STOP_DATA_LOG, "Stop Current and Tilt Log"},
      {"about", ID_ABOUT, "About"},
  };
  bool takesArguments = name == "slider" || name == "slider-drag" || name == "slider-key" || name == "sim" ||
                        name == "wait" || name == "sleep";
  if (!takesArguments && words.size() > 1) {
    say(":" + name + " takes no argument (type :help)");
    return;
  }
  for (const auto& b : BUTTONS) {
    if (name == b.name) {
      pressButton(b.id);
      return;
    }
  }
  for (const auto& m : MENU) {
    if (name == m.name) {
      chooseMenuItem(m.id, m.entry);
      return;
    }
  }
  if (name == "slider") {
    moveSlider(words, SCROLL_THUMB_POSITION, ":slider N POS");
  } else if (name == "slider-drag") {
    moveSlider(words, SCROLL_THUMB_TRACK, ":slider-drag N POS");
  } else if (name == "slider-key") {
    keySlider(words);
  } else if (name == "wait" || name == "sleep") {
    consoleWaitCommand(line.substr(line.find(name) + name.size()), name == "sleep");
  } else if (name == "show") {
    consoleShowAll();
  } else if (name == "quit") {
    closeMainDialog();
  } else if (name == "help") {
    consoleOutput() << HELP_TEXT;
    consoleOutput().flush();
  } else if (name == "sim") {
    if (loop.simulatorFd < 0) {
      say(":sim needs the simulator started with --simulate");
      return;
    }
    size_t at = line.find("sim") + 3;
    std::string text = line.substr(at);
    size_t begin = text.find_first_not_of(" \t");
    text = begin == std::string::npos ? std::string() : text.substr(begin);
    text += '\n';
    if (write(loop.simulatorFd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      say("The simulator did not take the line");
  } else {
    say("Unknown command :" + name + " (type :help)");
  }
}

}  // namespace

void consoleLoopInstall() {
  consoleSetLineReader(promptReader);
  loop.pending.clear();
  loop.endOfInput = false;
  loop.nextTickMs = monotonicMs() + RECEIVE_TIMER_MS;
}

void consoleLoopDrainDescriptor(int fd) { loop.drainFd = fd; }

int64_t consoleMonotonicMs() { return monotonicMs(); }

bool consoleLoopPumpUntil(bool (*done)(void*), void* context, int64_t deadlineMs) {
  for (;;) {
    if (done(context)) return true;
    if (monotonicMs() >= deadlineMs || consoleQuitRequested()) return false;
    pumpOnce(deadlineMs, true);
  }
}

void consoleLoopStopReading() { loop.stopReading = true; }
void consoleLoopStopOnWarning(bool on) { loop.stopOnWarning = on; }
uint64_t consoleLoopLinesBeforeLastRead() { return loop.linesAtReadBefore; }
void consoleLoopSimulatorControl(int fd) { loop.simulatorFd = fd; }

void consoleHandleInputLine(const std::string& raw) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string::npos) return;
  line.erase(0, begin);
  if (line[0] == ':') {
    colonCommand(line);
    return;
  }
  // Typed into the Command box and sent, as Enter does in the window.
  setControlText(Dialog::Main, IDC_COMMAND_BOX, line.c_str());
  routeCommand(IDC_SEND, 0);
}

void consoleRunLoop() {
  consoleRunPostedCommands();
  std::string line;
  while (!consoleQuitRequested()) {
    if (!waitForLine(line, true)) {
      // End of input closes the window like its close box.
      if (!consoleQuitRequested()) closeMainDialog();
      break;
    }
    consoleHandleInputLine(line);
    consoleRunPostedCommands();
  }
}
