// The Compiler Output pane writer (only the latest message of an operation is visible) and
// the Open dialog for script files.
#include "script/compiler_output.h"
#include "platform/window.h"
#include "resource.h"
#include <string>

// Room for the path the Open dialog returns.
static constexpr int CHOSEN_PATH_SIZE = 300;

struct CompilerOutputState {
  std::string text;  // what the pane was last given
};

static CompilerOutputState compilerOutput;

void showCompilerOutput(const char* message) {
  compilerOutput.text = message;
  if (dialogExists(Dialog::ScriptManager))
    setControlText(Dialog::ScriptManager, IDC_SM_COMPILER_OUTPUT, compilerOutput.text.c_str());
}

const char* lastCompilerOutput() { return compilerOutput.text.c_str(); }

void resetCompilerOutput() { compilerOutput.text.clear(); }

void showDiagnostic(const ScriptDiagnostic& diagnostic) {
  showCompilerOutput(diagnosticText(diagnostic).c_str());
}

char* readChosenFile() {
  char path[CHOSEN_PATH_SIZE] = "";
  if (!chooseOpenFileName(path, CHOSEN_PATH_SIZE)) return nullptr;
  bool partial = false;
  char* text = readScriptFile(path, &partial);
  if (partial) showCompilerOutput(READ_PARTLY_TEXT);
  return text;
}
