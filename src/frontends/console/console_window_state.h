// Private to the console window seam: its control tables, the printing of changes and the
// prompts share this state and these helpers; nothing outside frontends/console includes it.
#pragma once
#include "frontends/console/console_window.h"
#include "resource.h"
#include "ui/electrodes.h"
#include <deque>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace consolewin {

constexpr int EXPANDED_WIDTH = 782;
constexpr int COLLAPSED_WIDTH = 352;

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
  bool batch = false;          // input is a script: message boxes with only OK read nothing
  bool warningShown = false;   // a Warning or a refused line was shown in batch mode
  bool leaveRunning = false;   // --leave-running: batch closing leaves the device as it is
};

extern ConsoleWindowState console;

// Control tables (console_tables.cpp).
DialogTable& table(Dialog d);
Control* findControl(Dialog d, int id);
Slider* findSlider(int id);
int electrodeOfSlider(int id);   // 1 to 4, or 0 for another control
int electrodeOfCaption(int id);  // 1 to 4, or 0 for another control
void buildMainDialog();

// Printed output (console_print.cpp).
void endPromptLine();
// Prints text after a prefix; kind and members describe the first line for the JSON form.
void printText(const std::string& prefix, const std::string& text, const std::string& kind = std::string(),
               const std::string& members = std::string());
// The JSON members of electrode N (1 to 4): its number, slider code, caption current, state.
std::string electrodeMembers(int electrode);
void prompt(const std::string& text);
std::string lowerCase(std::string text);
std::string trimmed(const std::string& text);
// The printed side of a text change on the main window or the Script Manager.
void reportMainText(int id, const std::string& before, const std::string& after);
void reportScriptManagerText(int id, const std::string& before, const std::string& after);

// Answers to prompts (console_prompts.cpp).
bool readAnswer(std::string& line);

}  // namespace consolewin
