// Console parameter dialogs: the template's fields are prompted one by one, then OK is
// handled by the portable parameter code, which may refuse and keep the dialog open.
#include "frontends/console/console_window.h"
#include "ui/parameters.h"

#include <ostream>
#include <string>

int runParameterDialog(ParameterTemplate t, ParameterValues& values) {
  const ParameterTemplateInfo& info = parameterTemplateInfo(t);
  consoleOpenDialog(Dialog::Parameters);
  for (int k = 0; k < info.fieldCount && k < 4; ++k) {
    const ParameterField& f = info.fields[k];
    consoleAddControl(Dialog::Parameters, f.labelId, f.label);
    consoleAddControl(Dialog::Parameters, f.editId, f.initialText);
  }
  consoleOutput() << "Enter Parameters (Enter keeps the value in brackets, . cancels)\n";
  consoleOutput().flush();
  // The Currents template labels its edits only "1" to "4" under a "Currents" heading.
  std::string labelPrefix = t == ParameterTemplate::Currents ? "Current " : "";
  int result = PARAMETER_DIALOG_CANCEL;
  for (;;) {
    bool cancelled = false;
    for (int k = 0; k < info.fieldCount && k < 4 && !cancelled; ++k) {
      const ParameterField& f = info.fields[k];
      std::string text = consoleControlText(Dialog::Parameters, f.editId);
      std::string answer;
      if (!consolePromptLine(labelPrefix + (f.label ? f.label : "") + " [" + text + "]: ", answer) ||
          answer == ".") {
        cancelled = true;
      } else if (!answer.empty()) {
        setControlText(Dialog::Parameters, f.editId, answer.c_str());
      }
    }
    if (cancelled) break;
    if (parameterDialogOk(t, values)) {
      result = PARAMETER_DIALOG_OK;
      break;
    }
  }
  consoleCloseDialog(Dialog::Parameters);
  return result;
}
