// Console window seam, the control tables: each dialog's controls as its template creates
// them, looked up by identifier, and their read-back for tests and ":show".
#include "frontends/console/console_window_state.h"

namespace consolewin {

DialogTable& table(Dialog d) { return console.dialogs[static_cast<int>(d)]; }

Control* findControl(Dialog d, int id) {
  DialogTable& t = table(d);
  if (!t.exists) return nullptr;
  auto it = t.controls.find(id);
  return it == t.controls.end() ? nullptr : &it->second;
}

Slider* findSlider(int id) {
  if (!table(Dialog::Main).exists) return nullptr;
  auto it = console.sliders.find(id);
  return it == console.sliders.end() ? nullptr : &it->second;
}

int electrodeOfSlider(int id) { return sliderIndexOf(id) + 1; }

int electrodeOfCaption(int id) {
  for (int i = 0; i < 4; ++i)
    if (ELECTRODE_CAPTION_IDS[i] == id) return i + 1;
  return 0;
}

void addControl(DialogTable& t, int id, const char* text) {
  Control c;
  c.text = text ? text : "";
  t.controls[id] = c;
}

void buildMainDialog() {
  DialogTable& t = table(Dialog::Main);
  t.controls.clear();
  t.exists = true;
  static const struct { int id; const char* text; } TEMPLATE[] = {
      {IDC_MENU_SEPARATOR, ""}, {IDC_COMMAND_BOX, ""}, {IDC_SEND, "&Send"},
      {IDC_CLEAR, "Cl&ear"}, {IDC_LOCAL_CONTROL, "Local Control"}, {IDC_RUN_STOP, "&Run"},
      {IDC_SCRIPT_MANAGER, "Script &Manager"}, {IDC_SLIDER_1, ""}, {IDC_SLIDER_2, ""},
      {IDC_SLIDER_3, ""}, {IDC_SLIDER_4, ""}, {IDC_CALIBRATE, "Cali&brate"},
      {IDC_READ_TILT, "Read &Tilt"}, {IDC_TILT_LOOP, "Tilt &Loop"}, {IDC_SENT_LABEL, "Sent:"},
      {IDC_RECEIVED_LABEL, "Received:"}, {IDC_COMMAND_LABEL, "Command"},
      {IDC_RECEIVED_PANE, ""}, {IDC_SENT_PANE, ""}, {IDC_STATUS_BAR, "Turn on the Kinestim now"},
      {IDC_MODE_LABEL, "Mode"}, {IDC_MODE_FIELD, "Unknown"}, {IDC_SCRIPT_LABEL, "Status"},
      {IDC_SCRIPT_STATUS, "Stopped"}, {IDC_CAPTION_1, "1 (0)"}, {IDC_CAPTION_2, "2 (0)"},
      {IDC_CAPTION_3, "3 (0)"}, {IDC_CAPTION_4, "4 (0)"}, {IDC_X_LABEL, "X-axis"},
      {IDC_Y_LABEL, "Y-axis"}, {IDC_TILT_X, ""}, {IDC_TILT_Y, ""}, {IDC_COMMAND_GROUP, "Command"},
  };
  for (const auto& c : TEMPLATE) addControl(t, c.id, c.text);
  console.sliders.clear();
  for (int id : ELECTRODE_SLIDER_IDS) console.sliders[id] = Slider();
  console.menuItems.clear();
  // Every menu entry is enabled except the two Stop entries that the menu template greys.
  for (int id = ID_DEVICE_COMMAND_BASE; id <= ID_DEVICE_COMMAND_LAST; ++id) console.menuItems[id] = true;
  for (int id = ID_TOGGLE_ADVANCED; id <= ID_IDLE; ++id) console.menuItems[id] = true;
  console.menuItems[ID_STOP_TRAFFIC_LOG] = false;
  console.menuItems[ID_STOP_DATA_LOG] = false;
  console.menuItems[ID_EXIT] = true;
  console.menuItems[ID_ABOUT] = true;
  console.width = EXPANDED_WIDTH;
}

namespace {

void buildScriptManager() {
  DialogTable& t = table(Dialog::ScriptManager);
  t.controls.clear();
  t.exists = true;
  static const struct { int id; const char* text; } TEMPLATE[] = {
      {IDC_SM_UPLOAD, "&Upload"}, {IDC_SM_TIMESTEP, "25"}, {IDC_SM_UPLOAD_SAMPLES, "Upload &Samples"},
      {IDC_SM_OUTPUT_LABEL, "Compiler Output"}, {IDC_SM_COMPILER_OUTPUT, ""},
      {IDC_SM_CLEAR_MEM, "&Clear Mem"}, {IDC_SM_ADDRESS_LABEL, "Address (0-2047)"},
      {IDC_SM_ADDRESS, "0"}, {IDC_SM_VIEW, "&View"}, {IDC_SM_APPEND, "&Append"},
      {IDC_SM_MEMORY, ""},
  };
  for (const auto& c : TEMPLATE) addControl(t, c.id, c.text);
}

void buildParameterDialog() {
  DialogTable& t = table(Dialog::Parameters);
  t.controls.clear();
  t.exists = true;
  addControl(t, IDC_PARAM_OK, "&OK");
  addControl(t, IDC_PARAM_CANCEL, "&Cancel");
}

}  // namespace
}  // namespace consolewin

using namespace consolewin;

void consoleOpenDialog(Dialog d) {
  switch (d) {
    case Dialog::Main: buildMainDialog(); break;
    case Dialog::ScriptManager: buildScriptManager(); break;
    case Dialog::Parameters: buildParameterDialog(); break;
  }
}

void consoleCloseDialog(Dialog d) {
  table(d).exists = false;
  table(d).controls.clear();
}

void consoleAddControl(Dialog d, int id, const char* text) {
  DialogTable& t = table(d);
  if (t.exists) addControl(t, id, text);
}

std::string consoleControlText(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c ? c->text : std::string();
}

bool consoleControlEnabled(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c && c->enabled;
}

bool consoleControlShown(Dialog d, int id) {
  Control* c = findControl(d, id);
  return c && c->shown;
}

bool consoleMenuItemEnabled(int id) {
  auto it = console.menuItems.find(id);
  return it != console.menuItems.end() && it->second;
}

bool dialogExists(Dialog d) { return table(d).exists; }
