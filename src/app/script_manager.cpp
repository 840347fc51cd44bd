// Script Manager actions: build and upload a source or a sample file, list memory back,
// erase memory.
#include "app/script_manager.h"
#include "script/compiler_output.h"
#include "script/memory_view.h"
#include "script/preview.h"
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

static const char DOES_NOT_FIT[] = "The script does not fit in script memory from this address";

// What the Compiler Output pane says above the success line of an upload: the timestep
// notice and the preview of the image that went out.
static std::string uploadReport;

// The pane's line ends for text with "\n" ones.
static std::string withCrLf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? "\r\n" : std::string(1, c);
  return out;
}

// The preview summary of an image placed at address, with CR LF line ends for the pane.
static std::string previewReport(const ScriptImage& image, int address) {
  const ScriptPreview preview = previewScript(image.bytes, image.length, address, PREVIEW_DEFAULT_MAX_STEPS);
  return withCrLf(previewSummary(preview, PREVIEW_DEFAULT_MAX_STEPS));
}

// Shows the report, then uploads: an unbalanced or faulting script still goes, the operator
// having been told. One that memory cannot hold whole does not: the device would keep the
// chunks that fit and refuse the rest, leaving a cut-off script to run.
static bool reportAndUpload(const ScriptImage& image, const std::string& notice) {
  if (image.address + image.length > SCRIPT_MEMORY_SIZE) {
    showCompilerOutput(DOES_NOT_FIT);
    return false;
  }
  uploadReport = notice + previewReport(image, image.address);
  showCompilerOutput(uploadReport.c_str());
  return uploadScriptImage(image.address, image.bytes, image.length);
}

// The highest timestep whose delay count still fits the sample script's 16 bits.
static constexpr int32_t TIMESTEP_HIGH = 65537 * SCRIPT_STEP_MS - 1;

// Address and Timestep must each be one whole number; text that is not is refused with a
// Warning naming the field. Numbers out of range get the refusals of the actions themselves.
static bool readWholeField(const char* text, const char* name, int32_t high, int32_t* value) {
  if (readTypedNumber(text, value)) return true;
  refuseTypedNumber(name, 0, high, text);
  return false;
}

static bool parseScriptAddress(const char* addressText, int* address) {
  int32_t value = 0;
  if (!readWholeField(addressText, "Address", SCRIPT_MEMORY_SIZE - 1, &value)) return false;
  if (value < 0 || value >= SCRIPT_MEMORY_SIZE) {
    showCompilerOutput(INVALID_ADDRESS_TEXT);
    return false;
  }
  *address = value;
  return true;
}

// The Address field and the chosen source file, compiled: false when either was refused (the
// Compiler Output pane says why). Upload and preview both start here.
static bool compileChosenSource(const char* addressText, int* address, ScriptImage& image) {
  if (!parseScriptAddress(addressText, address)) return false;
  char* text = readChosenFile();
  if (text == nullptr) {
    showCompilerOutput("Failed to read source file");
    return false;
  }
  ScriptBuild build = compileScript(text);
  free(text);
  if (!build.built) showDiagnostic(build.diagnostic);
  image = build.image;
  return build.built;
}

bool buildAndUploadSource(const char* addressText) {
  int address;
  ScriptImage image;
  if (!compileChosenSource(addressText, &address, image)) return false;
  image.address = address;
  bool uploaded = reportAndUpload(image, "");
  releaseScriptImage(image);
  return uploaded;
}

bool generateAndUploadSamples(const char* timestepText, const char* addressText) {
  int address;
  if (!parseScriptAddress(addressText, &address)) return false;
  int32_t timestep = 0;
  if (!readWholeField(timestepText, "Timestep", TIMESTEP_HIGH, &timestep)) return false;
  int delay;
  if (!sampleDelayCount(timestep, &delay)) {
    showCompilerOutput(INVALID_TIMESTEP_TEXT);
    return false;
  }
  char* text = readChosenFile();
  if (text == nullptr) {
    showCompilerOutput("Failed to read sample file");
    return false;
  }
  ScriptBuild build = generateSampleImage(text, delay);
  free(text);
  if (!build.built) {
    showDiagnostic(build.diagnostic);
    return false;
  }
  ScriptImage image = build.image;
  image.address = address;
  const std::string notice = timestepNotice(timestep);
  bool uploaded = reportAndUpload(image, notice.empty() ? notice : notice + "\r\n");
  releaseScriptImage(image);
  return uploaded;
}

bool previewChosenSource(const char* addressText, std::string* summary, Picture* plot) {
  int address;
  ScriptImage image;
  if (!compileChosenSource(addressText, &address, image)) return false;
  const bool fits = address + image.length <= SCRIPT_MEMORY_SIZE;
  if (fits) {
    const ScriptPreview preview = previewScript(image.bytes, image.length, address, PREVIEW_DEFAULT_MAX_STEPS);
    *summary = previewSummary(preview, PREVIEW_DEFAULT_MAX_STEPS);
    if (plot != nullptr) *plot = previewPicture(preview);
  } else {
    showCompilerOutput(DOES_NOT_FIT);
  }
  releaseScriptImage(image);
  return fits;
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
      if (buildAndUploadSource(addressText))
        showCompilerOutput((uploadReport + "Build Successful\r\n\r\nUpload Successful").c_str());
      return true;
    case IDC_SM_UPLOAD_SAMPLES:
      showCompilerOutput("");
      readField(IDC_SM_TIMESTEP, timestepText);
      readField(IDC_SM_ADDRESS, addressText);
      if (generateAndUploadSamples(timestepText, addressText))
        showCompilerOutput((uploadReport + "Script Generation Successful\r\n\r\nUpload Successful").c_str());
      return true;
    case IDC_SM_PREVIEW: {
      showCompilerOutput("");
      readField(IDC_SM_ADDRESS, addressText);
      std::string summary;
      Picture plot;
      if (previewChosenSource(addressText, &summary, &plot)) {
        showCompilerOutput(withCrLf(summary).c_str());
        showPictureWindow("Preview", plot);
      }
      return true;
    }
    case IDC_SM_VIEW:
      setControlText(Dialog::ScriptManager, IDC_SM_MEMORY, "");
      [[fallthrough]];
    case IDC_SM_APPEND: {
      readField(IDC_SM_ADDRESS, addressText);
      int32_t address = 0;
      if (readWholeField(addressText, "Address", SCRIPT_MEMORY_SIZE - 1, &address)) beginReadBack(address);
      return true;
    }
    case IDC_SM_CLEAR_MEM:
      if (showMessageBox(Dialog::ScriptManager, "Really erase all script memory on the Kinestim?",
                         "Are you sure?", MB_STYLE_YESNO_EXCLAMATION) == MB_ANSWER_YES)
        sendSimpleCommand(cdgScrClearMem);
      return true;
    default:
      return false;
  }
}
