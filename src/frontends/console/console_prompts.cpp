// Console window seam, the answers: prompts read line by line, message boxes answered with
// Enter or y/n, and paths for the Save As and Open choosers.
#include "frontends/console/console_window_state.h"
#include "frontends/console/console_output.h"
#include <cstring>
#include <filesystem>

namespace consolewin {

bool readAnswer(std::string& line) {
  bool ok = consoleReadLine(line);
  console.promptInterrupted = false;
  if (console.promptPending && console.terminalEchoes && ok) {
    console.promptPending = false;
    consoleLineEndedByTerminal(line);
  } else if (console.promptPending) {
    if (ok && console.echoAnswers) *console.out << line;
    *console.out << '\n';
    console.out->flush();
    console.promptPending = false;
  }
  return ok;
}

namespace {

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
}  // namespace consolewin

using namespace consolewin;

void consoleRestorePrompt() {
  if (console.promptInterrupted && !console.promptPending) prompt(console.lastPrompt);
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

int showMessageBox(Dialog, const char* text, const char* caption, unsigned style) {
  std::string heading = caption ? caption : "";
  std::string body = text ? text : "";
  bool okOnly = (style & 0x000F) != 0x0004;
  if (heading == "Warning")
    printText(heading + ": ", body, "warning", jsonMember("text", jsonString(body)));
  else if (style == MB_STYLE_FATAL)
    printText(heading + ": ", body, "fatal", jsonMember("text", jsonString(body)));
  else
    printText(heading + ": ", body, "message", jsonMember("caption", jsonString(heading)) + jsonMember("text", jsonString(body)));
  // A script does not know when a box appears, so in batch mode a box with only OK is shown
  // and taken as read: the next input line stays for what it was written for.
  if (console.batch && okOnly) {
    if (heading == "Warning") console.warningShown = true;
    return MB_ANSWER_OK;
  }
  std::string answer;
  if ((style & MB_STYLE_BUTTONS_MASK) == MB_STYLE_BUTTONS_YESNO) {
    prompt("[y/n] ");
    if (!readAnswer(answer)) return MB_ANSWER_NO;
    answer = lowerCase(trimmed(answer));
    return answer == "y" || answer == "yes" ? MB_ANSWER_YES : MB_ANSWER_NO;
  }
  prompt("(press Enter) ");
  readAnswer(answer);
  return MB_ANSWER_OK;
}

// In batch mode nobody is there to answer: the device goes back to Idle unless the command
// line asked to leave it. Another answer asks again; the end of input means Idle.
CloseChoice askHowToClose(const char* text) {
  if (console.batch) return console.leaveRunning ? CloseChoice::LeaveAsItIs : CloseChoice::ReturnToIdle;
  printText("", text ? text : "");
  for (;;) {
    prompt("[i]dle and quit, [l]eave it running and quit, [c]ancel ");
    std::string answer;
    if (!readAnswer(answer)) return CloseChoice::ReturnToIdle;
    answer = lowerCase(trimmed(answer));
    if (answer == "i") return CloseChoice::ReturnToIdle;
    if (answer == "l") return CloseChoice::LeaveAsItIs;
    if (answer == "c") return CloseChoice::DoNotClose;
  }
}

// The console ends all the same, with status 1: whatever started it learns of the failure.
bool closesWithoutIdleConfirmation() { return true; }

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

