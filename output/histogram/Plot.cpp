// The PNG of a histogram, drawn by PLplot (cairo PNG device).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <plplot/plstream.h>

#include "AtomicFile.h"
#include "AxisTicks.h"
#include "Histogram.h"
#include "PngText.h"

namespace hist {

namespace {

const char* kDevice = "pngcairo";

bool deviceAvailable() {
  // Asking PLplot for a device it lacks makes it prompt on standard input.
  // The caller gives the room: the count goes in as its size and comes back as the number found.
  int count = 128;
  std::vector<const char*> menuRoom(static_cast<size_t>(count)), nameRoom(static_cast<size_t>(count));
  const char** menus = menuRoom.data();
  const char** names = nameRoom.data();
  plgDevs(&menus, &names, &count);
  bool found = false;
  for (int i = 0; i < count && i < int(nameRoom.size()); ++i) found = found || std::strcmp(names[i], kDevice) == 0;
  return found;
}

// '#' starts PLplot's text escapes.
std::string plainText(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '#') out += '#';
  }
  return out;
}

void tickLabel(PLINT, PLFLT value, char* label, PLINT length, PLPointer ticks) {
  std::snprintf(label, size_t(length), "%s", static_cast<const AxisTicks*>(ticks)->label(value).c_str());
}

// Six significant digits, or more when a bin's width needs them (a mean of
// 1000012.5 in bins of 0.2).
std::string shortNumber(double x, double resolution = 0) {
  int digits = 6;
  if (resolution > 0 && x != 0 && std::isfinite(x))
    digits = std::max(digits, std::min(17, int(std::floor(std::log10(std::fabs(x))) -
                                               std::floor(std::log10(resolution))) + 2));
  std::ostringstream s;
  s.precision(digits);
  s << x;
  return s.str();
}

// The outline of the bars, from the floor at the low edge to the floor at the
// high edge; returns the highest count.
uint64_t outline(const Histogram& h, std::vector<PLFLT>& xs, std::vector<PLFLT>& ys) {
  const std::vector<double>& e = h.edges();
  const std::vector<uint64_t>& c = h.counts();
  xs = {e.front()};
  ys = {0};
  uint64_t top = 0;
  for (size_t i = 0; i < c.size(); ++i) {
    xs.insert(xs.end(), {e[i], e[i + 1]});
    ys.insert(ys.end(), {PLFLT(c[i]), PLFLT(c[i])});
    top = std::max(top, c[i]);
  }
  xs.push_back(e.back());
  ys.push_back(0);
  return top;
}

// Counts per bin width when every bin has the same width.
std::string yLabelOf(const std::vector<double>& e) {
  bool uniform = true;
  const double width = e[1] - e[0];
  for (size_t i = 1; i + 1 < e.size() && uniform; ++i)
    uniform = std::abs((e[i + 1] - e[i]) - width) <= 1e-9 * std::max(std::abs(width), 1e-300);
  return uniform ? "Counts / " + shortNumber(width) : "Counts per bin";
}

// The legend right of the frame, where it hides no bar: the numbers of the
// histogram and the caller's notes.
void drawLegend(plstream& pls, const Histogram& h, double narrowest, const std::vector<std::string>& notes) {
  std::vector<std::string> lines = {
      "counts",
      "Entries  " + std::to_string(h.entries()),
      "Mean  " + shortNumber(h.mean(), narrowest),
      "RMS  " + shortNumber(h.rms()),
      "Underflow  " + std::to_string(h.underflow()),
      "Overflow  " + std::to_string(h.overflow()),
  };
  for (const std::string& note : notes) lines.push_back(plainText(note));
  const PLINT n = PLINT(lines.size());
  std::vector<const char*> texts(lines.size());
  std::vector<PLINT> options(lines.size()), textColours(lines.size()), lineColours(lines.size()),
      lineStyles(lines.size());
  std::vector<PLFLT> lineWidths(lines.size());
  for (PLINT i = 0; i < n; ++i) {
    texts[i] = lines[i].c_str();
    options[i] = i == 0 ? PL_LEGEND_LINE : PL_LEGEND_NONE;
    textColours[i] = 1;
    lineColours[i] = 2;
    lineStyles[i] = 1;
    lineWidths[i] = 2;
  }
  PLFLT legendWidth = 0, legendHeight = 0;
  pls.legend(&legendWidth, &legendHeight, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
             PL_POSITION_RIGHT | PL_POSITION_OUTSIDE, 0.02, 0.0, 0.04, 0, 1, 1,
             0, 0, n, options.data(), 0.8, 0.8, 1.8, 0.0, textColours.data(), texts.data(), nullptr, nullptr,
             nullptr, nullptr, lineColours.data(), lineStyles.data(), lineWidths.data(), nullptr, nullptr, nullptr,
             nullptr);
}

}  // namespace

bool writePng(const Histogram& h, const std::string& path, const std::string& title,
              const std::string& xLabel, std::string& error, const std::vector<std::string>& notes) {
  if (!deviceAvailable()) {
    error = std::string("PLplot has no '") + kDevice + "' device (Debian: plplot-driver-cairo)";
    return false;
  }
  // PLplot is handed the stream of a temporary file: it never opens a file
  // itself (it would end the process when it cannot), and the reason of a
  // failed write is kept by the stream, which PLplot knows nothing of.
  AtomicFile file(path);
  std::FILE* out = file.open() ? file.stream() : nullptr;
  if (!out) {
    error = "cannot write " + file.error();
    return false;
  }

  const std::vector<double>& e = h.edges();
  std::vector<PLFLT> xs, ys;
  const uint64_t top = outline(h, xs, ys);
  double narrowest = e[1] - e[0];
  for (size_t i = 1; i + 1 < e.size(); ++i) narrowest = std::min(narrowest, e[i + 1] - e[i]);
  const std::string yLabel = yLabelOf(e);

  {
    plstream pls;
    pls.sdev(kDevice);
    pls.sfile(out);
    pls.spage(0, 0, 1000, 700, 0, 0);
    pls.scol0(0, 255, 255, 255);  // background
    pls.scol0(1, 0, 0, 0);        // axes and text
    pls.scol0(2, 31, 119, 180);   // the bars' outline
    pls.scol0(3, 198, 219, 239);  // the bars
    pls.init();
    pls.col0(1);
    // The legend goes right of the frame, where it hides no bar.
    pls.adv(0);
    pls.vpor(0.11, 0.74, 0.12, 0.9);
    pls.wind(e.front(), e.back(), 0, top ? top * 1.05 : 1.0);
    // PLplot's own labels round a narrow range far from zero to one number.
    AxisTicks ticks = axisTicks(e.front(), e.back());
    pls.slabelfunc(tickLabel, &ticks);
    pls.box("bcnsto", ticks.step, 0, "bcnstv", 0, 0);
    pls.slabelfunc(nullptr, nullptr);
    pls.lab(plainText(xLabel).c_str(), plainText(yLabel).c_str(), plainText(title).c_str());
    pls.col0(3);
    pls.fill(PLINT(xs.size()), xs.data(), ys.data());
    pls.col0(2);
    pls.width(2);
    pls.line(PLINT(xs.size()), xs.data(), ys.data());
    pls.width(1);

    drawLegend(pls, h, narrowest, notes);
  }  // the stream's end writes the image

  // PLplot closed the stream; the text goes in through the path. Where the
  // file is written in place (a device), it goes without.
  if (file.bytesWritten() > 0 && !file.writeError()) addPngText(file.tempPath(), kAxisText, xLabel);

  if (file.bytesWritten() == 0 && !file.writeError()) {
    error = "cannot write " + path + ": PLplot wrote nothing";
    return false;
  }
  if (file.commit()) return true;
  error = "cannot write " + file.error();
  return false;
}

}  // namespace hist
