// Minimal stand-ins for the window-seam and link-state calls the link makes, recording each.
#include "recording_window.h"
#include "link/serial_port.h"
#include "platform/window.h"
#include <cstdio>

namespace {
std::vector<RecordedBox> boxes;
std::string notices;
}  // namespace

std::vector<RecordedBox>& recordedBoxes() { return boxes; }
const std::string& recordedNotices() { return notices; }

void clearRecordings() {
  boxes.clear();
  notices.clear();
}

int showMessageBox(Dialog, const char* text, const char* caption, unsigned style) {
  boxes.push_back(RecordedBox{caption, text, style});
  notices += std::string(caption) + ": " + text + "\n";
  fprintf(stderr, "[%s] %s (style 0x%04x)\n", caption, text, style);
  fflush(stderr);
  return MB_ANSWER_OK;
}

void setStatusBarText(const char* text) { notices += std::string("status: ") + text + "\n"; }

void showLinkLost(const char* portName) { notices += std::string("link lost: ") + portName + "\n"; }
void showLinkReopened(const char* portName) { notices += std::string("link re-opened: ") + portName + "\n"; }
