// The Charts view, drawn once for both programs: the frequency of each
// allele (0, 1, 2) at habitat specialization, habitat preference and mating
// preference over the whole replicate, one panel per locus, habitat 0 solid
// and habitat 1 dashed, with axes, tick labels, a legend and a lettered
// marker where each criterion A to E was first met; above them the
// generation and the head counts in large type. With Statistics on, a
// fourth panel below them draws F_ST between the habitats at each of the
// three loci. The layout and the drawing
// go through ChartsPainter, which each program implements with its own
// drawing of lines and text; what hovering a point tells is worked out here
// too.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record/census_history.h"

namespace talveron::app {

struct ChartsRect {
  double left = 0, top = 0, width = 0, height = 0;
  double right() const { return left + width; }
  double bottom() const { return top + height; }
  bool Contains(double x, double y) const { return x >= left && x <= right() && y >= top && y <= bottom(); }
  bool Intersects(const ChartsRect& other) const {
    return left < other.right() && other.left < right() && top < other.bottom() && other.top < bottom();
  }
};

struct ChartsPoint {
  double x = 0, y = 0;
};

// The drawing operations the charts need, in the view's pixels (x to the
// right, y downwards). Colours are 0xRRGGBB.
class ChartsPainter {
 public:
  enum class Align { Left, Centre, Right };
  virtual ~ChartsPainter() = default;
  virtual void FillRect(const ChartsRect& r, std::uint32_t colour) = 0;
  virtual void StrokeRect(const ChartsRect& r, std::uint32_t colour) = 0;  // a one-pixel outline
  // A polyline `width` pixels wide, dashed 4 on 3 off or dotted 1 on 2 off
  // when asked; smooth.
  enum class Dash { None, Dashed, Dotted };
  virtual void Polyline(const std::vector<ChartsPoint>& points, std::uint32_t colour, double width, Dash dash) = 0;
  // Text of `pixels` in a sans-serif face, its box's vertical middle at
  // `middle`, aligned in x to `x` as asked.
  virtual void Text(const std::string& text, double x, double middle, int pixels, bool bold, Align align,
                    std::uint32_t colour) = 0;
  virtual double TextWidth(const std::string& text, int pixels, bool bold) = 0;
  // Drawing outside `r` is left out until Unclip.
  virtual void Clip(const ChartsRect& r) = 0;
  virtual void Unclip() = 0;
};

// The generation span the charts show: from the first generation to the
// last, rounded up to a step of the axis.
struct GenerationAxis {
  explicit GenerationAxis(const CensusHistory* history);
  long first = 1;
  long last = 10;
  long step = 1;
};

// The panel of F_ST between the habitats, the one after the loci's panels.
inline constexpr int kFstPanel = kLoci;

// Where the parts of the charts lie in a view of a given size, with the
// F_ST panel (`statistics`) or without.
struct ChartsLayout {
  ChartsLayout(double width, double height, ChartsPainter& measure, bool statistics = false);
  double width, height;
  ChartsRect header;
  int headerLines = 1;  // two where the view is too narrow for one
  ChartsRect legend;
  int legendRows = 2;  // three where the view is too narrow for two
  std::array<ChartsRect, kLoci> panels;  // the plotting areas, inside the axes
  bool statistics = false;
  ChartsRect fst;  // the F_ST panel's plotting area, when statistics are shown
  // Where the F_ST panel's legend places each locus: the start of its line
  // sample and the middle of its row, above the panel.
  std::array<ChartsPoint, kLoci> fstLegend{};
  // A panel's plotting area: a locus's, or kFstPanel.
  const ChartsRect& Panel(int panel) const {
    return panel == kFstPanel ? fst : panels[static_cast<std::size_t>(panel)];
  }
};

// The header as drawn: one line, or two (the generation, then the head
// counts), in type of `pixels`.
struct ChartsHeader {
  std::vector<std::string> lines;
  int pixels = 18;
};
ChartsHeader HeaderFor(const ChartsLayout& layout, const CensusHistory* history, ChartsPainter& measure);
// The header's words on one line.
std::string HeaderText(const CensusHistory* history);

// The F_ST panel's title, and the colour of each locus's line in it.
inline constexpr const char* kFstTitle = "F_ST between the habitats";
inline constexpr std::array<std::uint32_t, kLoci> kFstColours = {0x1A9641, 0x8E44AD, 0xE66100};

// The values of the y axis a panel labels (0, 0.25, ... 1): all of them
// where the panel is tall enough for their labels to stand apart, fewer in
// a low one.
std::vector<double> FrequencyLabels(const ChartsRect& panel);

// A label of a generation axis and where it stands.
struct AxisLabel {
  std::string text;
  ChartsRect box;
};
// `panel`: a locus's, or kFstPanel.
std::vector<AxisLabel> GenerationLabels(const ChartsLayout& layout, int panel, const GenerationAxis& axis,
                                        ChartsPainter& measure);

// The criteria's lettered markers of one panel: the criterion, the x of its
// line and the letter's box.
struct CriterionMarker {
  int criterion;
  double x;
  ChartsRect box;
};
std::vector<CriterionMarker> CriterionMarkers(const ChartsLayout& layout, int panel, const CensusHistory* history);

// The least width at which the charts are drawn whole (the header's counts
// on a line of their own).
double ChartsMinimumWidth(ChartsPainter& measure);
// The least height that gives the panels room for their lines, four
// panels with `statistics`.
double ChartsMinimumHeight(bool statistics);

// `statistics`: the F_ST panel too.
void DrawCharts(ChartsPainter& painter, double width, double height, const CensusHistory* history,
                bool statistics = false);
// The header alone (the generation and the head counts), drawn over what
// the area held: a fast run shows it with every frame, the rest of the
// charts less often.
void DrawChartsHeader(ChartsPainter& painter, double width, double height, const CensusHistory* history);

// What hovering at (x, y) tells: the generation and value of the line
// nearest to it, or the criterion of a marker; nothing away from them.
std::optional<std::string> DescribeChartsAt(double width, double height, const CensusHistory* history, double x,
                                            double y, ChartsPainter& measure, bool statistics = false);

// The charts' current values in words, for screen readers; F_ST too with
// `statistics`.
std::string ChartsInWords(const CensusHistory* history, bool statistics = false);

}  // namespace talveron::app
