// The program's two message boxes, "Warning" and "Fatal Error!", and the flag that keeps the
// receive pump idle while one of them is open.
#include "ui/message_boxes.h"
#include "platform/clock.h"
#include "platform/window.h"
#include <cstdlib>

namespace {

struct MessageBoxState {
  int showing = 0;
  uint32_t warningMs = 0;
};

MessageBoxState boxes;

}  // namespace

void showFatalError(const char* text) {
  boxes.showing = 1;
  showMessageBox(Dialog::Main, text != nullptr ? text : "", "Fatal Error!", MB_STYLE_FATAL);
  boxes.showing = 0;
  // A non-zero status tells whoever started the program that it ended on a failure.
  exit(1);
}

void showWarning(const char* text) {
  boxes.showing = 1;
  const uint32_t opened = tickCountMs();
  showMessageBox(Dialog::Main, text != nullptr ? text : "", "Warning", MB_STYLE_OK_EXCLAMATION);
  boxes.warningMs += tickCountMs() - opened;
  boxes.showing = 0;
}

uint32_t warningOpenMs() { return boxes.warningMs; }

int isMessageBoxShowing() { return boxes.showing; }

void setMessageBoxShowing(int showing) { boxes.showing = showing != 0 ? 1 : 0; }
