// Script preview plot: an SVG with one lane per electrode, each current drawn as a step line
// against time, with the time and current axes and the end, fault or repeat marked.
#include "script/preview.h"
#include <cstdio>

namespace {

constexpr double LEFT = 120, PLOT_WIDTH = 800, TOP = 56, LANE = 110, GAP = 24, HALF = 45;
constexpr double STEP_S = 0.025;

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

// The step line of one electrode in seconds and currents; the lane's transform places it.
std::string stepPath(const ScriptPreview& p, int e, double end) {
  std::string d = num("M 0 %.2f", previewHundredths(p.levels.empty() ? p.endCodes[e] : p.levels[0].codes[e]) / 100.0);
  int last = p.levels.empty() ? p.endCodes[e] : p.levels[0].codes[e];
  auto to = [&d, &last, e](double t, const uint8_t* codes) {
    if (codes[e] == last) return;
    d += num(" H %.3f V %.2f", t, previewHundredths(codes[e]) / 100.0);
    last = codes[e];
  };
  for (const PreviewLevel& level : p.levels) {
    if (level.step < p.endStep) to(static_cast<double>(level.step) * STEP_S, level.codes);
  }
  to(end, p.endCodes);
  return d + num(" H %.3f", end);
}

// A dashed line across the lanes with its label above, to the left of the line at the end.
std::string marker(double x, double bottom, const char* colour, const std::string& label, bool atEnd) {
  return num("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", x, TOP - 18, x, bottom) + "stroke=\"" + colour +
         "\" stroke-dasharray=\"6 4\"/>\n" + num("<text x=\"%.1f\" y=\"%.1f\" ", atEnd ? x - 4 : x + 4, TOP - 22) +
         "fill=\"" + colour + (atEnd ? "\" text-anchor=\"end\">" : "\">") + label + "</text>\n";
}

}  // namespace

std::string previewSvg(const ScriptPreview& p) {
  const double end = static_cast<double>(p.endStep > 0 ? p.endStep : 1) * STEP_S;
  const double scale = currentScale(p);
  const double bottom = TOP + 4 * LANE + 3 * GAP;
  const double width = LEFT + PLOT_WIDTH + 40, height = bottom + 50;
  const double xs = PLOT_WIDTH / end;
  std::string out = num("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" ", width, height) +
                    num("viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"13\">\n", width, height) +
                    "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n" +
                    "<text x=\"10\" y=\"20\" font-size=\"15\">"
                    "Electrode currents (as the electrode captions show them) against time (s)</text>\n";
  const double tick = tickSpacing(end);
  for (int i = 0; i * tick <= end + 1e-9; ++i) {
    const double x = LEFT + i * tick * xs;
    out += num("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", x, TOP, x, bottom);
    out += num("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", x, bottom + 18) + num("%g</text>\n", i * tick);
  }
  out += num("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">time (s)</text>\n", LEFT + PLOT_WIDTH / 2,
             bottom + 38);
  for (int e = 0; e < 4; ++e) {
    const double mid = TOP + e * (LANE + GAP) + LANE / 2;
    out += num("<text x=\"10\" y=\"%.1f\">electrode %.0f</text>\n", mid - 8, e + 1.0);
    out += p.set[e] ? "" : num("<text x=\"10\" y=\"%.1f\" fill=\"#888\">not set</text>\n", mid + 10);
    for (double c : {scale, 0.0, -scale}) {
      const double y = mid - c * HALF / scale;
      out += num("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"", LEFT, y, LEFT + PLOT_WIDTH, y) +
             (c == 0 ? "#999" : "#eee") + "\"/>\n";
      out += num(c == 0 ? "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">0.00</text>\n"
                        : "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%+.2f</text>\n",
                 LEFT - 6, y + 4, c);
    }
    out += num("<path data-electrode=\"%.0f\" fill=\"none\" stroke=\"", e + 1.0) + (p.set[e] ? "#1f5fbf" : "#aaa") +
           "\" stroke-width=\"2\" vector-effect=\"non-scaling-stroke\" " +
           num("transform=\"matrix(%.6f 0 0 %.6f %.1f %.1f)\" ", xs, -HALF / scale, LEFT, mid) + "d=\"" +
           stepPath(p, e, end) + "\"/>\n";
  }
  const double xEnd = LEFT + PLOT_WIDTH;
  switch (p.end) {
    case PreviewEnd::Stop: out += marker(xEnd, bottom, "#333", num("Stop at %.0f", p.endAddress), true); break;
    case PreviewEnd::Fault: out += marker(xEnd, bottom, "#c00", num("fault at %.0f", p.endAddress), true); break;
    case PreviewEnd::Limit: out += marker(xEnd, bottom, "#333", "cut off, no end", true); break;
    case PreviewEnd::Repeat:
      out += marker(LEFT + static_cast<double>(p.repeatFrom) * STEP_S * xs, bottom, "#080", "loop from here", false);
      out += marker(xEnd, bottom, "#080", "repeats from the loop mark", true);
      break;
  }
  return out + "</svg>\n";
}
