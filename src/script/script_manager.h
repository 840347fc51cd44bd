// Script Manager actions (Upload, Upload Samples, View, Append, Clear Mem) as portable code.
#pragma once

// WM_INITDIALOG of the Script Manager (its controls are reachable from then on).
void initScriptManager();
// A command from the Script Manager's buttons; false for identifiers it does not handle.
bool routeScriptManagerCommand(int id);
// The dialog is closing (WM_CLOSE or Escape).
void closeScriptManager();
