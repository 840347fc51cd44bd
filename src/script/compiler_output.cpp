// The Compiler Output pane writer: only the latest message of an operation is visible.
#include "script/compiler.h"
#include "platform/window.h"
#include "resource.h"
#include <string>

struct CompilerOutputState {
  std::string text;  // what the pane was last given
};

static CompilerOutputState compilerOutput;

void showCompilerOutput(const char* message, const char* detail) {
  compilerOutput.text = message;
  if (detail != nullptr) {
    compilerOutput.text += ' ';
    compilerOutput.text += detail;
  }
  if (dialogExists(Dialog::ScriptManager))
    setControlText(Dialog::ScriptManager, IDC_SM_COMPILER_OUTPUT, compilerOutput.text.c_str());
}

const char* lastCompilerOutput() { return compilerOutput.text.c_str(); }

void resetCompilerOutput() { compilerOutput.text.clear(); }
