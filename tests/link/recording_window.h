// Records what the link shows through the window seam (message boxes, status bar) so the
// tests can compare the texts; fatal boxes are also written to stderr for death tests.
#pragma once
#include <string>
#include <vector>

struct RecordedBox {
  std::string caption;
  std::string text;
  unsigned style;
  int flagWhileShown;  // isMessageBoxShowing() while the box was open
};

std::vector<RecordedBox>& recordedBoxes();
std::vector<std::string>& recordedStatusTexts();
void clearRecordings();
