// Records what the link shows through the window seam (message boxes, status bar) so the
// tests can compare the texts; fatal boxes are also written to stderr for death tests.
#pragma once
#include <string>
#include <vector>

struct RecordedBox {
  std::string caption, text;
  unsigned style;
};

std::vector<RecordedBox>& recordedBoxes();
// Everything shown since the last clear, in order: "status: TEXT\n", "CAPTION: TEXT\n",
// "link lost: PORT\n" or "link re-opened: PORT\n".
const std::string& recordedNotices();
void clearRecordings();
