// Console window seam, the printed side: one line per visible change of the main window and
// the Script Manager, prompts kept on lines of their own, and ":show".
#include "frontends/console/console_window_state.h"
#include <cctype>
#include <cstdio>

namespace consolewin {

namespace {

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

}  // namespace

// Ends a pending prompt's line so that the next output starts on a line of its own.
void endPromptLine() {
  if (console.promptPending) {
    *console.out << '\n';
    console.promptPending = false;
    console.promptInterrupted = true;
  }
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

}  // namespace consolewin

using namespace consolewin;

std::ostream& consoleOutput() {
  endPromptLine();
  return *console.out;
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
