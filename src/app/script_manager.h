// Script Manager actions (Upload, Preview, Upload Samples, View, Append, Clear Mem) as
// portable code.
#pragma once
#include "platform/picture.h"
#include <string>

// WM_INITDIALOG of the Script Manager (its controls are reachable from then on).
void initScriptManager();
// A command from the Script Manager's buttons; false for identifiers it does not handle.
bool routeScriptManagerCommand(int id);
// The dialog is closing (WM_CLOSE or Escape).
void closeScriptManager();

// Upload's work: checks the address, lets the operator choose a source, compiles it and
// uploads the image. False after the failure has been reported.
bool buildAndUploadSource(const char* addressText);
// Upload Samples' work: checks the address and timestep, lets the operator choose a sample
// file, generates the image and uploads it. False after the failure has been reported.
bool generateAndUploadSamples(const char* timestepText, const char* addressText);
// Preview's work: checks the address, lets the operator choose a source, compiles it and runs
// it offline; *summary gets the preview's summary and *plot, unless null, its plot. False
// after the failure has been reported.
bool previewChosenSource(const char* addressText, std::string* summary, Picture* plot = nullptr);
