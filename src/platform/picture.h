// A picture that every front-end draws alike: lines, step lines and texts in pixels with y
// downward, in the order given. The script preview's plot is built as one, written out as SVG
// and drawn in a window by the Windows front-end.
#pragma once
#include <string>
#include <vector>

struct PictureItem {
  enum class Kind { Line, Polyline, Text };
  Kind kind = Kind::Line;
  std::vector<double> points;   // x y pairs; a Text sits on the first point's baseline
  unsigned colour = 0;          // 0xRRGGBB
  double width = 1;             // line width
  bool dashed = false;
  int anchor = -1;              // Text: -1 starts, 0 centres, 1 ends at the point
  double size = 13;             // Text: font size in pixels
  std::string text;
  int tag = 0;                  // what the item stands for (the electrode of a step line), 0 none
};

struct Picture {
  double width = 0, height = 0;
  std::vector<PictureItem> items;
};
