// Electrode current controls: the four sliders, their captions and the stored codes.
#pragma once
#include "resource.h"
#include <cstdint>

// The electrodes' slider and caption controls, electrode 1 first.
constexpr int ELECTRODE_SLIDER_IDS[4] = {IDC_SLIDER_1, IDC_SLIDER_2, IDC_SLIDER_3, IDC_SLIDER_4};
constexpr int ELECTRODE_CAPTION_IDS[4] = {IDC_CAPTION_1, IDC_CAPTION_2, IDC_CAPTION_3, IDC_CAPTION_4};

void initElectrodeControls();
void enableElectrodeControls(bool on);
// Slider index 0 to 3 of a slider control identifier, -1 for any other.
int sliderIndexOf(int controlId);
uint8_t sliderPosition(int index);
void refreshElectrodeCaption(int index);
void refreshElectrodeCaptions();
void showElectrodeCode(int index, uint8_t code);
void showAllElectrodeCodes(const uint8_t codes[4]);
// Stored codes, electrodes 1 to 4; other numbers change and read nothing (0).
void setElectrodeCode(int electrode, uint8_t code);
uint8_t getElectrodeCode(int electrode);
// Stores the rest code (127) for every electrode, as the device has them in Idle.
void storeRestElectrodeCodes();
// What the captions say while the host cannot give a current: "1 (?)" while the device has not
// reported its electrodes, "1 (script)" while a script sets them. A device report (all four)
// or a code the host sent (that electrode) brings the codes back, except during a script.
void showElectrodesNotKnown();
void showElectrodesScripted();
void noteElectrodeSet(int electrode);
// No script sets the electrodes any more: the next report shows its codes (nothing is redrawn).
void noteScriptEnded();
// True when every caption shows a code.
bool electrodeCaptionsShowCodes();
// Start-up state of the stored codes (all 0), for start-up and test fixtures.
void clearElectrodeCodes();
float codeToCurrent(uint8_t code);
