// Console window seam, the printed side: one line per visible change of the main window and
// the Script Manager, prompts kept on lines of their own, and ":show".
#include "frontends/console/console_window_state.h"
#include "frontends/console/console_output.h"
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
void printText(const std::string& prefix, const std::string& text, const std::string& kind,
               const std::string& members) {
  endPromptLine();
  if (!kind.empty()) consoleDescribeNextLine(kind, members);
  std::vector<std::string> lines = splitLines(text);
  *console.out << prefix << lines[0] << '\n';
  for (size_t i = 1; i < lines.size(); ++i) *console.out << lines[i] << '\n';
  console.out->flush();
}

// Prints every line of the text, each after the prefix; a trailing line end adds no line.
void printEachLine(const std::string& prefix, const std::string& text, const char* kind) {
  if (text.empty()) return;
  endPromptLine();
  std::vector<std::string> lines = splitLines(text);
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
  for (const std::string& line : lines) {
    consoleDescribeNextLine(kind, jsonMember("text", jsonString(line)));
    *console.out << prefix << line << '\n';
  }
  console.out->flush();
}

namespace {

// A traffic pane line "09 cdgSetElectrode 01 b2" as its bytes ("09 01 b2") and name.
std::string trafficMembers(const std::string& line) {
  std::string bytes, name;
  size_t i = 0;
  while (i < line.size()) {
    size_t start = line.find_first_not_of(' ', i);
    if (start == std::string::npos) break;
    i = line.find(' ', start);
    if (i == std::string::npos) i = line.size();
    std::string word = line.substr(start, i - start);
    // Received parameter bytes are shown in angle brackets.
    if (word.size() == 4 && word.front() == '<' && word.back() == '>') word = word.substr(1, 2);
    bool isByte = word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) &&
                  std::isxdigit(static_cast<unsigned char>(word[1]));
    std::string& into = isByte ? bytes : name;
    into += (into.empty() ? "" : " ") + word;
  }
  if (bytes.empty()) return jsonMember("text", jsonString(line));
  return jsonMember("bytes", jsonString(bytes)) + jsonMember("name", jsonString(name));
}

}  // namespace

std::string electrodeMembers(int electrode) {
  std::string caption = consoleControlText(Dialog::Main, ELECTRODE_CAPTION_IDS[electrode - 1]);
  size_t open = caption.find('('), close = caption.rfind(')');
  std::string current = open != std::string::npos && close != std::string::npos && close > open
                            ? trimmed(caption.substr(open + 1, close - open - 1))
                            : caption;
  return jsonMember("n", std::to_string(electrode)) +
         jsonMember("code", std::to_string(getSliderPosition(ELECTRODE_SLIDER_IDS[electrode - 1]))) +
         jsonMember("current", jsonNumberOrString(current)) +
         jsonMember("enabled", consoleControlEnabled(Dialog::Main, ELECTRODE_SLIDER_IDS[electrode - 1]) ? "true" : "false");
}

void prompt(const std::string& text) {
  endPromptLine();
  consoleDescribeNextLine("prompt", jsonMember("text", jsonString(text)));
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
      const char* kind = id == IDC_SENT_PANE ? "sent" : "received";
      if (!line.empty()) printText(std::string(kind) + ": ", line, kind, trafficMembers(line));
      return;
    }
    case IDC_STATUS_BAR:
      if (!after.empty()) printText("status: ", after, "status", jsonMember("text", jsonString(after)));
      return;
    case IDC_MODE_FIELD: {
      Control* label = findControl(Dialog::Main, IDC_MODE_LABEL);
      std::string kind = label ? lowerCase(label->text) : std::string("mode");
      printText(kind + ": ", after, kind, jsonMember(kind.c_str(), jsonString(after)));
      return;
    }
    case IDC_SCRIPT_STATUS:
      printText("script: ", after, "script", jsonMember("status", jsonString(after)));
      return;
    case IDC_RUN_STOP:
      printText("run button: ", withoutMnemonics(after), "run-button",
                jsonMember("caption", jsonString(withoutMnemonics(after))));
      return;
    case IDC_TILT_X:
      printText("tilt x: ", after, "tilt", jsonMember("x", jsonNumberOrString(after)));
      return;
    case IDC_TILT_Y:
      printText("tilt y: ", after, "tilt", jsonMember("y", jsonNumberOrString(after)));
      return;
    default:
      break;
  }
  if (int electrode = electrodeOfCaption(id)) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "electrode %d: ", electrode);
    printText(prefix, after, "electrode", electrodeMembers(electrode) + jsonMember("changed", "\"current\""));
  }
  (void)before;
}

void reportScriptManagerText(int id, const std::string& before, const std::string& after) {
  if (id == IDC_SM_COMPILER_OUTPUT) {
    printEachLine("compiler output: ", after, "compiler-output");
  } else if (id == IDC_SM_MEMORY) {
    // The memory view appends to what the pane holds; print what was added.
    if (after.compare(0, before.size(), before) == 0)
      printEachLine("memory: ", after.substr(before.size()), "memory");
    else
      printEachLine("memory: ", after, "memory");
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
  auto show = [](const std::string& field, const std::string& value) {
    printText(field + ": ", value, "show", jsonMember("field", jsonString(field)) + jsonMember("value", jsonString(value)));
  };
  show(lowerCase(text(IDC_MODE_LABEL)), text(IDC_MODE_FIELD));
  show("script", text(IDC_SCRIPT_STATUS));
  show("run button", withoutMnemonics(text(IDC_RUN_STOP)) + ", " + onOff(consoleControlEnabled(Dialog::Main, IDC_RUN_STOP)));
  show("script manager button", onOff(consoleControlEnabled(Dialog::Main, IDC_SCRIPT_MANAGER)));
  show("local control", std::string(hasCheckMark(Dialog::Main, IDC_LOCAL_CONTROL) ? "checked" : "cleared") + ", " +
                            onOff(consoleControlEnabled(Dialog::Main, IDC_LOCAL_CONTROL)));
  for (int i = 0; i < 4; ++i) {
    char value[96];
    std::snprintf(value, sizeof value, "%s, slider %d, %s", text(ELECTRODE_CAPTION_IDS[i]).c_str(),
                  getSliderPosition(ELECTRODE_SLIDER_IDS[i]), onOff(consoleControlEnabled(Dialog::Main, ELECTRODE_SLIDER_IDS[i])).c_str());
    show("electrode " + std::to_string(i + 1), value);
  }
  show("tilt buttons", onOff(consoleControlEnabled(Dialog::Main, IDC_CALIBRATE)));
  show("tilt x", text(IDC_TILT_X));
  show("tilt y", text(IDC_TILT_Y));
  show("status", text(IDC_STATUS_BAR));
  show("command box", text(IDC_COMMAND_BOX));
  show("advanced windows", consoleExpanded() ? "shown" : "hidden");
  show("traffic log", consoleMenuItemEnabled(ID_STOP_TRAFFIC_LOG) ? "on" : "off");
  show("data log", consoleMenuItemEnabled(ID_STOP_DATA_LOG) ? "on" : "off");
}
