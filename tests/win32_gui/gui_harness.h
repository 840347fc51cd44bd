// Harness of the Wine GUI tests: message pumping through the program's own loop, control
// read-back, the simulator's transcript, and a driver that answers modal dialogs.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Runs the program's loop steps on every queued message for about ms milliseconds.
void pumpFor(int ms);
// Pumps until the condition holds or ms pass; returns the condition's last value.
bool pumpUntil(const std::function<bool()>& condition, int ms);

HWND mainWindow();
HACCEL accelerators();
void setAccelerators(HACCEL table);
std::string controlText(HWND dialog, int id);
std::string mainText(int id);
bool mainEnabled(int id);
bool mainVisible(int id);
int windowWidth(HWND window);

// One frame of the simulator's transcript.
struct TranscriptFrame {
  char direction;              // '>' host to device, '<' device to host
  std::vector<uint8_t> bytes;  // payload
  std::string name;
};
std::vector<TranscriptFrame> readTranscript();
// Host-to-device payloads seen since the given transcript size.
std::vector<std::vector<uint8_t>> sentSince(size_t mark);
size_t transcriptSize();
// Waits until a host-to-device frame with this payload appears after mark.
bool waitForSent(size_t mark, const std::vector<uint8_t>& payload, int ms = 10000);
// Counts host-to-device frames after mark whose payload starts with the given code.
int countSent(size_t mark, uint8_t code);

// Writes a control line to the simulator (its stdin); false when no channel is set up.
bool simulatorControl(const std::string& line);

// Modal dialog driver: each step waits for a visible, enabled top-level dialog of this thread
// with the caption, then acts on it. Runs from a thread timer, so inside modal loops too.
using DialogAction = std::function<void(HWND)>;
// With a readiness test, the step waits until it holds for the dialog.
void expectDialog(const std::string& caption, DialogAction action,
                  std::function<bool(HWND)> ready = nullptr);
bool dialogStepsDone();
void clearDialogSteps();
// Warning boxes that appeared with no step waiting for them (dismissed, text recorded).
std::vector<std::string> takeUnexpectedWarnings();
void startDialogDriver();

// Actions for expectDialog.
DialogAction pressButton(int id);
DialogAction setTextThenPress(std::vector<std::pair<int, std::string>> texts, int button);
DialogAction pressEscape(int focusId);
DialogAction closeBox();
// Types a path into a file dialog and confirms it.
DialogAction chooseFile(const std::string& path);
// Records the text of a message box, then presses the button.
DialogAction readAndPress(std::string* text, int button);

// A writable folder for the tests' files (Windows path, with a trailing backslash).
std::string tempFolder();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
