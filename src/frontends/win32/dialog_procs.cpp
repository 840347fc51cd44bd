// The three dialog procedures of kinestim-host.exe. Each translates window messages into
// calls of the portable main dialog, parameter and Script Manager code.
#include "platform/window.h"
#include "frontends/win32/win32_gui.h"
#include "resource.h"
#include "app/script_manager.h"
#include "app/main_dialog.h"
#include "ui/parameters.h"

// Handle bookkeeping kept by win32_window.cpp.
void setMainWindowHandle(HWND window);
void setScriptManagerWindowHandle(HWND window);
void setParameterWindowHandle(HWND window);

namespace {

// Identifier of a slider that sent WM_VSCROLL, or -1 for any window that is not a control of
// the main dialog.
int scrollSourceId(HWND dialog, LPARAM lParam) {
  HWND source = reinterpret_cast<HWND>(lParam);
  if (source == nullptr || GetParent(source) != dialog) return -1;
  return GetDlgCtrlID(source);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      setMainWindowHandle(window);
      initMainDialog();
      return TRUE;  // the system focuses the first tab stop, the Command box
    case WM_COMMAND:
      return routeCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_VSCROLL:
      return handleSliderScroll(scrollSourceId(window, lParam), LOWORD(wParam)) ? TRUE : FALSE;
    case WM_CLOSE:
      closeMainDialog();
      return TRUE;
    default:
      return FALSE;
  }
}

// The modal dialogs leave WM_CLOSE (Alt+F4, the title bar's close box) to the default dialog
// handling, which turns it into IDCANCEL: closing a dialog is the same as cancelling it.
INT_PTR CALLBACK ParameterDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // The dialog's own parameter: its template and where the accepted values go.
      SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
      setParameterWindowHandle(window);
      return TRUE;  // focus goes to the first tab stop, the first parameter edit
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDC_PARAM_OK:
          // A refused entry has been reported; the dialog stays open for a correction.
          if (const auto* call = reinterpret_cast<const ParameterDialogCall*>(GetWindowLongPtrA(window, GWLP_USERDATA));
              call != nullptr && parameterDialogOk(call->t, *call->values))
            EndDialog(window, PARAMETER_DIALOG_OK);
          return TRUE;
        case IDCANCEL:
        case IDC_PARAM_CANCEL:
          EndDialog(window, PARAMETER_DIALOG_CANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK ScriptManagerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      setScriptManagerWindowHandle(window);
      initScriptManager();
      // The Address field, shared by both halves, takes the focus.
      SetFocus(GetDlgItem(window, IDC_SM_ADDRESS));
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        closeScriptManager();
        EndDialog(window, SCRIPT_MANAGER_RESULT);
        return TRUE;
      }
      return routeScriptManagerCommand(LOWORD(wParam)) ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK CloseQuestionDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(window, IDC_CLOSE_TEXT, reinterpret_cast<const char*>(lParam));
      // The focus on the default button: Enter keeps the program open.
      SetFocus(GetDlgItem(window, IDC_CLOSE_STAY));
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_CLOSE_IDLE:
        case IDC_CLOSE_LEAVE:
        case IDC_CLOSE_STAY:
          EndDialog(window, LOWORD(wParam));
          return TRUE;
        case IDCANCEL:
          EndDialog(window, IDC_CLOSE_STAY);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}
