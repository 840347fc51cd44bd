// Script Manager actions: build and upload a source or a sample file, list memory back,
// erase memory.
#include "app/script_manager.h"
#include "script/compiler.h"
#include "script/memory_view.h"
#include "script/samples.h"
#include "app/transfer.h"
#include "platform/window.h"
#include "link/catalogue.h"
#include "protocol/senders.h"
#include "ui/parameters.h"
#include "resource.h"
#include <cstdlib>

// The Address and Timestep fields are read as at most 39 characters.
static constexpr int FIELD_TEXT_SIZE = 40;

static const char INVALID_ADDRESS[] = "Invalid address, must be between 0 and 2047";

static bool parseScriptAddress(const char* addressText, int* address) {
  int32_t value = parseNumber(addressText);
  if (value < 0 || value >= SCRIPT_MEMORY_SIZE) {
    showCompilerOutput(INVALID_ADDRESS);
    return false;
  }
  *address = value;
  return true;
}

bool buildAndUploadSource(const char* addressText) {
  int address;
  if (!parseScriptAddress(addressText, &address)) return false;
  char* text = readChosenFile();
  if (text == nullptr) {
    showCompilerOutput("Failed to read source file");
    return false;
  }
  ScriptImage image;
  bool built = compileScript(text, image);
  free(text);
  if (!built) return false;
  image.address = address;
  bool uploaded = uploadScriptImage(image.address, image.bytes, image.length);
  releaseScriptImage(image);
  return uploaded;
}

bool generateAndUploadSamples(const char* timestepText, const char* addressText) {
  int address;
  if (!parseScriptAddress(addressText, &address)) return false;
  int delay;
  if (!sampleDelayCount(parseNumber(timestepText), &delay)) return false;
  char* text = readChosenFile();
  if (text == nullptr) {
    showCompilerOutput("Failed to read sample file");
    return false;
  }
  ScriptImage image;
  bool generated = generateSampleImage(text, delay, image);
  free(text);
  if (!generated) return false;
  image.address = address;
  bool uploaded = uploadScriptImage(image.address, image.bytes, image.length);
  releaseScriptImage(image);
  return uploaded;
}

void initScriptManager() {
  resetMemoryView();
  resetCompilerOutput();
}

void closeScriptManager() {
  // Answers that arrive after the dialog has gone have no pane to go to.
  resetMemoryView();
}

static void readField(int id, char* text) {
  getControlText(Dialog::ScriptManager, id, text, FIELD_TEXT_SIZE);
}

bool routeScriptManagerCommand(int id) {
  char addressText[FIELD_TEXT_SIZE];
  char timestepText[FIELD_TEXT_SIZE];
  switch (id) {
    case IDC_SM_UPLOAD:
      showCompilerOutput("");
      readField(IDC_SM_ADDRESS, addressText);
      if (buildAndUploadSource(addressText)) showCompilerOutput("Build Successful\r\n\r\nUpload Successful");
      return true;
    case IDC_SM_UPLOAD_SAMPLES:
      showCompilerOutput("");
      readField(IDC_SM_TIMESTEP, timestepText);
      readField(IDC_SM_ADDRESS, addressText);
      if (generateAndUploadSamples(timestepText, addressText))
        showCompilerOutput("Script Generation Successful\r\n\r\nUpload Successful");
      return true;
    case IDC_SM_VIEW:
      setControlText(Dialog::ScriptManager, IDC_SM_MEMORY, "");
      [[fallthrough]];
    case IDC_SM_APPEND:
      readField(IDC_SM_ADDRESS, addressText);
      beginReadBack(parseNumber(addressText));
      return true;
    case IDC_SM_CLEAR_MEM:
      if (showMessageBox(Dialog::ScriptManager, "Really erase all script memory on the Kinestim?",
                         "Are you sure?", MB_STYLE_YESNO_EXCLAMATION) == MB_ANSWER_YES)
        sendSimpleCommand(cdgScrClearMem);
      return true;
    default:
      return false;
  }
}
