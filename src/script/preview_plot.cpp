// Script preview plot: one lane per electrode, each current drawn as a step line against time,
// with the time and current axes and the end, fault or repeat marked. The plot is a Picture in
// pixels; the SVG writes exactly its items in plain user coordinates, so that every viewer
// draws it as the Windows front-end's window does.
#include "script/preview.h"
#include "script/instruction_set.h"
#include <cstdio>

namespace {

constexpr double LEFT = 120, PLOT_WIDTH = 800, TOP = 56, LANE = 110, GAP = 24, HALF = 45;
constexpr double STEP_S = SCRIPT_STEP_MS / 1000.0;
constexpr unsigned BLACK = 0x000000, GRID = 0xdddddd, AXIS = 0x999999, LIMIT = 0xeeeeee, GREY = 0x888888;

// One printf pattern and exactly the numbers it takes.
template <class... Numbers> std::string num(const char* pattern, Numbers... values) {
  char text[240];
  std::snprintf(text, sizeof text, pattern, static_cast<double>(values)...);
  return text;
}

// A round tick spacing (1, 2 or 5 times a power of ten) giving at most about eight ticks.
double tickSpacing(double span) {
  double unit = 0.001;
  for (;;) {
    for (double m : {1.0, 2.0, 5.0}) {
      if (span / (unit * m) <= 8) return unit * m;
    }
    unit *= 10;
  }
}

// The largest current on any lane, rounded up to a half: every lane shares one scale.
double currentScale(const ScriptPreview& p) {
  int most = 50;
  for (const PreviewLevel& level : p.levels) {
    for (uint8_t c : level.codes) {
      const int h = previewHundredths(c) < 0 ? -previewHundredths(c) : previewHundredths(c);
      if (h > most) most = h;
    }
  }
  const int halves = (most + 49) / 50;
  return halves * 0.5;
}

PictureItem line(double x1, double y1, double x2, double y2, unsigned colour) {
  PictureItem item;
  item.points = {x1, y1, x2, y2};
  item.colour = colour;
  return item;
}

PictureItem label(double x, double y, const std::string& words, int anchor = -1, unsigned colour = BLACK) {
  PictureItem item;
  item.kind = PictureItem::Kind::Text;
  item.points = {x, y};
  item.text = words;
  item.anchor = anchor;
  item.colour = colour;
  return item;
}

// The step line of electrode e across its lane: x from the time, y from the current.
PictureItem stepLine(const ScriptPreview& p, int e, double end, double xs, double mid, double ys) {
  PictureItem item;
  item.kind = PictureItem::Kind::Polyline;
  item.colour = p.set[e] ? 0x1f5fbf : 0xaaaaaa;
  item.width = 2;
  item.tag = e + 1;
  int last = p.levels.empty() ? p.endCodes[e] : p.levels[0].codes[e];
  double y = mid - previewHundredths(static_cast<uint8_t>(last)) / 100.0 * ys;
  item.points = {LEFT, y};
  auto to = [&](double t, const uint8_t* codes) {
    if (previewHundredths(codes[e]) == previewHundredths(static_cast<uint8_t>(last))) return;
    const double x = LEFT + t * xs;
    y = mid - previewHundredths(codes[e]) / 100.0 * ys;
    item.points.insert(item.points.end(), {x, item.points.back(), x, y});
    last = codes[e];
  };
  for (const PreviewLevel& level : p.levels) {
    if (level.step < p.endStep) to(static_cast<double>(level.step) * STEP_S, level.codes);
  }
  to(end, p.endCodes);
  item.points.insert(item.points.end(), {LEFT + end * xs, y});
  return item;
}

// A dashed line across the lanes with its label above, to the left of the line at the end.
void marker(Picture& picture, double x, double bottom, unsigned colour, const std::string& words, bool atEnd) {
  PictureItem dashed = line(x, TOP - 18, x, bottom, colour);
  dashed.dashed = true;
  picture.items.push_back(dashed);
  picture.items.push_back(label(atEnd ? x - 4 : x + 4, TOP - 22, words, atEnd ? 1 : -1, colour));
}

std::string colourOf(unsigned rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x", rgb & 0xffffffu);
  return text;
}

}  // namespace

Picture previewPicture(const ScriptPreview& p) {
  const double end = static_cast<double>(p.endStep > 0 ? p.endStep : 1) * STEP_S;
  const double scale = currentScale(p);
  const double bottom = TOP + 4 * LANE + 3 * GAP;
  const double xs = PLOT_WIDTH / end;
  Picture picture;
  picture.width = LEFT + PLOT_WIDTH + 40;
  picture.height = bottom + 50;
  std::vector<PictureItem>& items = picture.items;
  items.push_back(label(10, 20, "Electrode currents (as the electrode captions show them) against time (s)"));
  items.back().size = 15;
  const double tick = tickSpacing(end);
  for (int i = 0; i * tick <= end + 1e-9; ++i) {
    const double x = LEFT + i * tick * xs;
    items.push_back(line(x, TOP, x, bottom, GRID));
    items.push_back(label(x, bottom + 18, num("%g", i * tick), 0));
  }
  items.push_back(label(LEFT + PLOT_WIDTH / 2, bottom + 38, "time (s)", 0));
  for (int e = 0; e < 4; ++e) {
    const double mid = TOP + e * (LANE + GAP) + LANE / 2;
    items.push_back(label(10, mid - 8, num("electrode %.0f", e + 1.0)));
    if (!p.set[e]) items.push_back(label(10, mid + 10, "not set", -1, GREY));
    for (double c : {scale, 0.0, -scale}) {
      const double y = mid - c * HALF / scale;
      items.push_back(line(LEFT, y, LEFT + PLOT_WIDTH, y, c == 0 ? AXIS : LIMIT));
      items.push_back(label(LEFT - 6, y + 4, c == 0 ? "0.00" : num("%+.2f", c), 1));
    }
    items.push_back(stepLine(p, e, end, xs, mid, HALF / scale));
  }
  const double xEnd = LEFT + PLOT_WIDTH;
  switch (p.end) {
    case PreviewEnd::Stop: marker(picture, xEnd, bottom, 0x333333, num("Stop at %.0f", p.endAddress), true); break;
    case PreviewEnd::Fault: marker(picture, xEnd, bottom, 0xcc0000, num("fault at %.0f", p.endAddress), true); break;
    case PreviewEnd::Limit: marker(picture, xEnd, bottom, 0x333333, "cut off, no end", true); break;
    case PreviewEnd::Repeat:
      marker(picture, LEFT + static_cast<double>(p.repeatFrom) * STEP_S * xs, bottom, 0x008800, "loop from here", false);
      marker(picture, xEnd, bottom, 0x008800, "repeats from the loop mark", true);
      break;
  }
  return picture;
}

std::string previewSvg(const ScriptPreview& p) {
  const Picture picture = previewPicture(p);
  std::string out =
      num("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" ", picture.width, picture.height) +
      num("viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"13\">\n", picture.width, picture.height) +
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  for (const PictureItem& item : picture.items) {
    const std::vector<double>& xy = item.points;
    switch (item.kind) {
      case PictureItem::Kind::Line:
        out += num("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", xy[0], xy[1], xy[2], xy[3]) + "stroke=\"" +
               colourOf(item.colour) + (item.dashed ? "\" stroke-dasharray=\"6 4\"/>\n" : "\"/>\n");
        break;
      case PictureItem::Kind::Polyline: {
        // Horizontal and vertical runs as H and V: the step line reads as the currents it shows.
        std::string d = num("M %.1f %.1f", xy[0], xy[1]);
        for (size_t i = 2; i + 1 < xy.size(); i += 2)
          d += xy[i + 1] == xy[i - 1] ? num(" H %.1f", xy[i]) : xy[i] == xy[i - 2] ? num(" V %.1f", xy[i + 1])
                                                                               : num(" L %.1f %.1f", xy[i], xy[i + 1]);
        out += num("<path data-electrode=\"%.0f\" fill=\"none\" stroke=\"", item.tag) + colourOf(item.colour) +
               num("\" stroke-width=\"%g\" d=\"", item.width) + d + "\"/>\n";
        break;
      }
      case PictureItem::Kind::Text:
        out += num("<text x=\"%.1f\" y=\"%.1f\"", xy[0], xy[1]) +
               (item.anchor == 0 ? " text-anchor=\"middle\"" : item.anchor > 0 ? " text-anchor=\"end\"" : "") +
               (item.size != 13 ? num(" font-size=\"%g\"", item.size) : "") +
               (item.colour != BLACK ? " fill=\"" + colourOf(item.colour) + "\"" : "") + ">" + item.text + "</text>\n";
        break;
    }
  }
  return out + "</svg>\n";
}
