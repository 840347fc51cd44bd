// Console Script Manager: a "script> " prompt whose words press the dialog's buttons and
// fill its Address and Timestep fields, until "close" or the end of input.
#include "frontends/console/console_window.h"
#include "resource.h"
#include "app/script_manager.h"
#include "platform/window.h"

#include <ostream>
#include <string>

namespace {

const char* const SCRIPT_MANAGER_HELP =
    "Script Manager commands:\n"
    "  upload         compile a script file and upload it at the address\n"
    "  samples        generate a script from a sample file and upload it\n"
    "  preview        compile a script file and show what it does to the electrodes\n"
    "  view           list 20 instructions of script memory from the address\n"
    "  append         list 20 more instructions after what is shown\n"
    "  clear-mem      erase all script memory (asks first)\n"
    "  address TEXT   set the Address field (now: %A)\n"
    "  timestep TEXT  set the Timestep field in ms (now: %T)\n"
    "  close          close the Script Manager\n";

void printHelp() {
  std::string help = SCRIPT_MANAGER_HELP;
  auto fill = [&help](const char* key, int id) {
    size_t at = help.find(key);
    if (at != std::string::npos) help.replace(at, 2, consoleControlText(Dialog::ScriptManager, id));
  };
  fill("%A", IDC_SM_ADDRESS);
  fill("%T", IDC_SM_TIMESTEP);
  consoleOutput() << help;
  consoleOutput().flush();
}

void say(const std::string& text) {
  consoleOutput() << text << '\n';
  consoleOutput().flush();
}

}  // namespace

// The console prints the preview's summary; its plot is written by kinestim-script --svg.
void showPictureWindow(const char*, const Picture&) {}

void runScriptManagerDialog() {
  consoleOpenDialog(Dialog::ScriptManager);
  initScriptManager();
  say("Script Manager open (type help for its commands).");
  std::string line;
  while (consolePromptLine("script> ", line)) {
    size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos) continue;
    size_t end = line.find_first_of(" \t", begin);
    std::string word = line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    std::string rest;
    if (end != std::string::npos) {
      size_t restBegin = line.find_first_not_of(" \t", end);
      if (restBegin != std::string::npos) rest = line.substr(restBegin);
    }
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();

    if (word == "close") break;
    if (word == "help") {
      printHelp();
    } else if (word == "preview") {
      if (!rest.empty()) {
        consoleRefuse("'preview' takes no argument; it asks for the file and uses the address field.");
        continue;
      }
      char address[40];
      getControlText(Dialog::ScriptManager, IDC_SM_ADDRESS, address, sizeof address);
      std::string summary;
      if (previewChosenSource(address, &summary)) consoleOutput() << summary << std::flush;
    } else if (word == "upload" || word == "samples" || word == "view" || word == "append" ||
               word == "clear-mem") {
      if (!rest.empty()) {
        consoleRefuse("'" + word + "' takes no argument; set the field with 'address' or 'timestep'.");
        continue;
      }
      int id = word == "upload"    ? IDC_SM_UPLOAD
               : word == "samples" ? IDC_SM_UPLOAD_SAMPLES
               : word == "view"    ? IDC_SM_VIEW
               : word == "append"  ? IDC_SM_APPEND
                                   : IDC_SM_CLEAR_MEM;
      routeScriptManagerCommand(id);
    } else if (word == "address" || word == "timestep") {
      int id = word == "address" ? IDC_SM_ADDRESS : IDC_SM_TIMESTEP;
      if (!rest.empty()) setControlText(Dialog::ScriptManager, id, rest.c_str());
      say(word + ": " + consoleControlText(Dialog::ScriptManager, id));
    } else if (word[0] == ':') {
      consoleRefuse("The Script Manager is open; type close to go back to the main window.");
    } else {
      consoleRefuse("Unknown Script Manager command '" + word + "' (type help).");
    }
  }
  closeScriptManager();
  consoleCloseDialog(Dialog::ScriptManager);
  say("Script Manager closed.");
}
