// Win32 front-end internals shared by WinMain and the Wine GUI tests: the dialog procedures,
// start-up steps and the message loop of kinestim-host.exe.
#pragma once
#include "platform/window.h"
#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ParameterDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ScriptManagerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The closing question; lParam is its text. Ends with the chosen button's identifier.
INT_PTR CALLBACK CloseQuestionDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What a parameter dialog gets as its own parameter: its template and where its values go.
struct ParameterDialogCall {
  ParameterTemplate t;
  ParameterValues* values;
};

// The module whose resources hold the dialog templates and the accelerator table.
void setAppInstance(HINSTANCE instance);
HINSTANCE appInstance();

// Window handles of the program's dialogs; null while that dialog does not exist.
HWND mainWindowHandle();
HWND scriptManagerWindowHandle();
HWND parameterWindowHandle();

// Opens the port the command line names ("3", "COM3", "com12"; nothing means COM1). Text
// that names no port ends the program with a fatal error saying what is accepted.
void openCommandLinePort(const char* commandLine);

// Registers the trackbar and status bar classes, creates the modeless main dialog and
// records the expanded and collapsed widths, then asks the device for its state. False when
// the dialog could not be created.
bool createMainDialog();

// Loads the accelerator table "ACCELERATOR_1" from appInstance().
HACCEL loadMainAccelerators();

// One message through the main loop's steps: the accelerators, the main dialog's keyboard
// handling, then translate and dispatch.
void processLoopMessage(HACCEL accelerators, MSG* message);

// Runs the message loop until the quit message; returns its exit code.
int runMessageLoop(HACCEL accelerators);

// Resets the front-end's state (handles, widths) for start-up and test fixtures.
void resetWin32Window();
