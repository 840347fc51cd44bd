// The main window's status bar line, where the link reports tossed and stalled frames and the
// dispatcher its passing notices. A file of its own so that a test can stand in for it alone.
#include "link/serial_port.h"
#include "platform/window.h"
#include "resource.h"

void setStatusBarText(const char* text) { setControlText(Dialog::Main, IDC_STATUS_BAR, text); }
