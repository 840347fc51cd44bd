// Harness of the Wine GUI tests: pumping through the program's loop steps, control
// read-back, transcript parsing and the modal dialog driver.
#include "gui_harness.h"
#include "platform/win32/win32_gui.h"
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>

namespace {

struct Step {
  std::string caption;
  DialogAction action;
  std::function<bool(HWND)> ready;
};

struct HarnessState {
  HACCEL accelerators = nullptr;
  std::deque<Step> steps;
  std::vector<std::string> unexpectedWarnings;
  bool driverRunning = false;
};

HarnessState harness;

struct FindRequest {
  const char* caption;
  HWND found;
};

BOOL CALLBACK findDialogCallback(HWND window, LPARAM param) {
  auto* request = reinterpret_cast<FindRequest*>(param);
  char className[64] = "";
  char caption[128] = "";
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, caption, sizeof caption);
  if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window) && IsWindowEnabled(window) &&
      window != mainWindowHandle() && std::strcmp(caption, request->caption) == 0) {
    request->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND findDialog(const char* caption) {
  FindRequest request{caption, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), findDialogCallback, reinterpret_cast<LPARAM>(&request));
  return request.found;
}

std::string messageBoxText(HWND box) {
  // The text of a message box is its static control 0xffff.
  char text[512] = "";
  GetDlgItemTextA(box, 0xffff, text, sizeof text);
  return text;
}

void CALLBACK driverTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!harness.steps.empty()) {
    HWND dialog = findDialog(harness.steps.front().caption.c_str());
    if (dialog != nullptr &&
        (!harness.steps.front().ready || harness.steps.front().ready(dialog))) {
      if (std::getenv("KINESTIM_GUI_TRACE") != nullptr) {
        std::fprintf(stderr, "%lu step %s\n", GetTickCount(), harness.steps.front().caption.c_str());
      }
      Step step = harness.steps.front();
      harness.steps.pop_front();
      step.action(dialog);
      return;
    }
  }
  bool warningExpected = !harness.steps.empty() && harness.steps.front().caption == "Warning";
  if (!warningExpected) {
    HWND warning = findDialog("Warning");
    if (warning != nullptr) {
      harness.unexpectedWarnings.push_back(messageBoxText(warning));
      PostMessageA(warning, WM_COMMAND, IDOK, 0);
    }
  }
}

std::string transcriptPath() {
  const char* path = std::getenv("KINESTIM_SIM_TRANSCRIPT");
  return path != nullptr ? path : "";
}

bool isHexPair(const std::string& token) {
  return token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
         std::isxdigit(static_cast<unsigned char>(token[1]));
}

}  // namespace

void pumpFor(int ms) {
  DWORD start = GetTickCount();
  MSG message;
  while (static_cast<int>(GetTickCount() - start) < ms) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Kept for the loop that waits for it.
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      processLoopMessage(harness.accelerators, &message);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
}

bool pumpUntil(const std::function<bool()>& condition, int ms) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (static_cast<int>(GetTickCount() - start) >= ms) return condition();
    pumpFor(10);
  }
  return true;
}

HWND mainWindow() { return mainWindowHandle(); }
HACCEL accelerators() { return harness.accelerators; }
void setAccelerators(HACCEL table) { harness.accelerators = table; }

std::string controlText(HWND dialog, int id) {
  char text[8192] = "";
  if (dialog != nullptr) GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::string mainText(int id) { return controlText(mainWindowHandle(), id); }

bool mainEnabled(int id) { return IsWindowEnabled(GetDlgItem(mainWindowHandle(), id)) != FALSE; }

bool mainVisible(int id) { return IsWindowVisible(GetDlgItem(mainWindowHandle(), id)) != FALSE; }

int windowWidth(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r.right - r.left;
}

std::vector<TranscriptFrame> readTranscript() {
  std::vector<TranscriptFrame> frames;
  std::string text = readFile(transcriptPath());
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream tokens(line);
    std::string time, direction, token;
    if (!(tokens >> time >> direction) || direction.size() != 1) continue;
    TranscriptFrame frame{direction[0], {}, ""};
    while (tokens >> token) {
      if (frame.name.empty() && isHexPair(token)) {
        frame.bytes.push_back(static_cast<uint8_t>(std::strtoul(token.c_str(), nullptr, 16)));
      } else {
        frame.name += frame.name.empty() ? token : " " + token;
      }
    }
    frames.push_back(frame);
  }
  return frames;
}

size_t transcriptSize() { return readTranscript().size(); }

std::vector<std::vector<uint8_t>> sentSince(size_t mark) {
  std::vector<std::vector<uint8_t>> sent;
  std::vector<TranscriptFrame> frames = readTranscript();
  for (size_t i = mark; i < frames.size(); ++i) {
    if (frames[i].direction == '>') sent.push_back(frames[i].bytes);
  }
  return sent;
}

bool waitForSent(size_t mark, const std::vector<uint8_t>& payload, int ms) {
  return pumpUntil([&] {
    for (const auto& p : sentSince(mark)) {
      if (p == payload) return true;
    }
    return false;
  }, ms);
}

int countSent(size_t mark, uint8_t code) {
  int n = 0;
  for (const auto& p : sentSince(mark)) {
    if (!p.empty() && p[0] == code) ++n;
  }
  return n;
}

bool simulatorControl(const std::string& line) {
  const char* path = std::getenv("KINESTIM_SIM_CONTROL");
  if (path == nullptr) return false;
  FILE* f = std::fopen(path, "ab");
  if (f == nullptr) return false;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
  return true;
}

void expectDialog(const std::string& caption, DialogAction action,
                  std::function<bool(HWND)> ready) {
  harness.steps.push_back(Step{caption, std::move(action), std::move(ready)});
}

bool dialogStepsDone() { return harness.steps.empty(); }
void clearDialogSteps() { harness.steps.clear(); }

std::vector<std::string> takeUnexpectedWarnings() {
  std::vector<std::string> taken;
  taken.swap(harness.unexpectedWarnings);
  return taken;
}

void startDialogDriver() {
  if (harness.driverRunning) return;
  SetTimer(nullptr, 0, 40, driverTick);
  harness.driverRunning = true;
}

DialogAction pressButton(int id) {
  return [id](HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
  };
}

DialogAction setTextThenPress(std::vector<std::pair<int, std::string>> texts, int button) {
  return [texts, button](HWND dialog) {
    for (const auto& [id, text] : texts) SetDlgItemTextA(dialog, id, text.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
  };
}

DialogAction pressEscape(int focusId) {
  // A real key press as the dialog's own loop sees it: WM_KEYDOWN on the focused edit.
  return [focusId](HWND dialog) {
    HWND edit = GetDlgItem(dialog, focusId);
    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  };
}

DialogAction closeBox() {
  return [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); };
}

DialogAction chooseFile(const std::string& path) {
  return [path](HWND dialog) {
    // Explorer-style dialogs hold the name in combo box 0x47c, older ones in edit 0x480.
    HWND name = GetDlgItem(dialog, 0x47c);
    if (name == nullptr) name = GetDlgItem(dialog, 0x480);
    SetWindowTextA(name, path.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
}

DialogAction readAndPress(std::string* text, int button) {
  return [text, button](HWND dialog) {
    *text = messageBoxText(dialog);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  };
}

std::string tempFolder() {
  char path[MAX_PATH] = "";
  GetTempPathA(sizeof path, path);
  return path;
}

std::string readFile(const std::string& path) {
  std::string content;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return content;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  std::fclose(f);
  return content;
}

void writeFile(const std::string& path, const std::string& content) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}
