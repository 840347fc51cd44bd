// Electrode current controls: the four sliders with their captions, and the stored current
// codes of electrodes 1 to 4 that the data log reports.
#include "ui/electrodes.h"
#include "platform/window.h"
#include "link/catalogue.h"
#include "resource.h"
#include <cstdio>

namespace {

constexpr int ELECTRODES = 4;
constexpr int SLIDER_MAX = 255;
constexpr int SLIDER_PAGE = 20;

enum class CaptionShows : uint8_t { Code, NotKnown, Script };

// The codes last sent to or reported by the device, electrodes 1 to 4 at index 0 to 3, and
// what each caption shows.
struct ElectrodeState {
  uint8_t codes[ELECTRODES];
  CaptionShows shows[ELECTRODES];
};
ElectrodeState electrodeState = {{0, 0, 0, 0}, {}};

void showAll(CaptionShows shows) {
  for (CaptionShows& s : electrodeState.shows) s = shows;
  refreshElectrodeCaptions();
}

// A known code replaces "?", but a running script keeps its captions until it ends.
void showCodeOf(int index) {
  if (electrodeState.shows[index] == CaptionShows::NotKnown) electrodeState.shows[index] = CaptionShows::Code;
}

bool validIndex(int index) { return index >= 0 && index < ELECTRODES; }

}  // namespace

float codeToCurrent(uint8_t code) {
  return static_cast<float>((code - ZERO_CURRENT_CODE) * CURRENT_STEP);
}

void initElectrodeControls() {
  for (int i = 0; i < ELECTRODES; ++i) {
    setSliderRange(ELECTRODE_SLIDER_IDS[i], 0, SLIDER_MAX);
    setSliderPosition(ELECTRODE_SLIDER_IDS[i], IDLE_ELECTRODE_CODE);
    addSliderTick(ELECTRODE_SLIDER_IDS[i], IDLE_ELECTRODE_CODE);
    setSliderPageSize(ELECTRODE_SLIDER_IDS[i], SLIDER_PAGE);
  }
  // Nothing is known of the device's currents until it has answered.
  showAll(CaptionShows::NotKnown);
  enableElectrodeControls(false);
}

void enableElectrodeControls(bool on) {
  for (int id : ELECTRODE_SLIDER_IDS) enableControl(Dialog::Main, id, on);
  for (int id : ELECTRODE_CAPTION_IDS) enableControl(Dialog::Main, id, on);
}

int sliderIndexOf(int controlId) {
  for (int i = 0; i < ELECTRODES; ++i) {
    if (ELECTRODE_SLIDER_IDS[i] == controlId) return i;
  }
  return -1;
}

uint8_t sliderPosition(int index) {
  if (!validIndex(index)) return 0;
  return static_cast<uint8_t>(getSliderPosition(ELECTRODE_SLIDER_IDS[index]) & 0xff);
}

// A caption that shows a code follows the slider's position, not the stored code.
void refreshElectrodeCaption(int index) {
  if (!validIndex(index)) return;
  char caption[32];
  if (electrodeState.shows[index] == CaptionShows::NotKnown)
    std::snprintf(caption, sizeof caption, "%d (?)", index + 1);
  else if (electrodeState.shows[index] == CaptionShows::Script)
    std::snprintf(caption, sizeof caption, "%d (script)", index + 1);
  else
    std::snprintf(caption, sizeof caption, "%d (%+5.2f)", index + 1,
                  static_cast<double>(codeToCurrent(sliderPosition(index))));
  setControlText(Dialog::Main, ELECTRODE_CAPTION_IDS[index], caption);
}

void refreshElectrodeCaptions() {
  for (int i = 0; i < ELECTRODES; ++i) refreshElectrodeCaption(i);
}

void showElectrodeCode(int index, uint8_t code) {
  if (!validIndex(index)) return;
  setSliderPosition(ELECTRODE_SLIDER_IDS[index], code);
  refreshElectrodeCaption(index);
  setElectrodeCode(index + 1, code);
}

void showAllElectrodeCodes(const uint8_t codes[4]) {
  for (int i = 0; i < ELECTRODES; ++i) {
    showCodeOf(i);
    setSliderPosition(ELECTRODE_SLIDER_IDS[i], codes[i]);
    refreshElectrodeCaption(i);
  }
  for (int i = 0; i < ELECTRODES; ++i) setElectrodeCode(i + 1, codes[i]);
}

// Electrode numbers outside 1 to 4 may reach the device from the Set Electrode dialog; they
// have no local slider or code, so they change nothing here.
void setElectrodeCode(int electrode, uint8_t code) {
  if (electrode >= 1 && electrode <= ELECTRODES) electrodeState.codes[electrode - 1] = code;
}

uint8_t getElectrodeCode(int electrode) {
  if (electrode >= 1 && electrode <= ELECTRODES) return electrodeState.codes[electrode - 1];
  return 0;
}

void storeRestElectrodeCodes() {
  for (uint8_t& c : electrodeState.codes) c = IDLE_ELECTRODE_CODE;
}

void clearElectrodeCodes() {
  for (uint8_t& c : electrodeState.codes) c = 0;
}

void showElectrodesNotKnown() { showAll(CaptionShows::NotKnown); }

void showElectrodesScripted() { showAll(CaptionShows::Script); }

void noteElectrodeSet(int electrode) {
  if (electrode >= 1 && electrode <= ELECTRODES) showCodeOf(electrode - 1);
}

void noteScriptEnded() {
  for (CaptionShows& s : electrodeState.shows) {
    if (s == CaptionShows::Script) s = CaptionShows::NotKnown;
  }
}

bool electrodeCaptionsShowCodes() {
  for (CaptionShows s : electrodeState.shows) {
    if (s != CaptionShows::Code) return false;
  }
  return true;
}
