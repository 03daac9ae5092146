#include "app/drawing/charts_drawing.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace talveron::app {

namespace {

constexpr double kHeaderHeight = 30;
constexpr double kLegendHeight = 38;
constexpr double kLeftAxis = 40;    // room for the frequency labels
constexpr double kBottomAxis = 18;  // room for the generation labels
constexpr double kPanelTitle = 32;  // the locus above the markers' letters
constexpr double kGap = 6;
constexpr double kFstLegendRow = 14;  // a further row of the F_ST panel's legend
constexpr int kHeaderPixels = 18;  // the generation and head counts: readable from the back of a room
constexpr int kSmallestHeader = 14;

constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kGrid = 0xE0E0E0;
constexpr std::uint32_t kMarkerFill = 0xFFFFE0;
constexpr std::array<std::uint32_t, 3> kAlleleColours = {0xDD0806, 0x0000D4, 0xD8B800};

// 1, 2 or 5 times a power of ten: the step that gives about `ticks` ticks.
long NiceStep(long span, int ticks) {
  const double raw = std::max(1.0, static_cast<double>(span) / ticks);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= raw) return static_cast<long>(factor * power);
  }
  return static_cast<long>(10 * power);
}

double X(const ChartsRect& panel, const GenerationAxis& axis, double generation) {
  const auto first = static_cast<double>(axis.first);
  return panel.left + (generation - first) * panel.width / std::max(1.0, static_cast<double>(axis.last) - first);
}

double Y(const ChartsRect& panel, double value) { return panel.bottom() - value * panel.height; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string WidestHeader() { return "Generation 99999   Habitat 0: 640   Habitat 1: 640"; }
std::string WidestCounts() { return "Habitat 0: 640   Habitat 1: 640"; }

// A panel's title, grid, axes, ticks and their labels.
void DrawPanelFrame(ChartsPainter& painter, const ChartsLayout& layout, int index, const GenerationAxis& axis,
                    const std::string& title, double titleMiddle, const std::vector<double>& labelled) {
  const ChartsRect& panel = layout.Panel(index);
  painter.Text(title, panel.left, titleMiddle, 12, true, ChartsPainter::Align::Left, kBlack);
  for (double value : {0.0, 0.25, 0.5, 0.75, 1.0}) {
    const double y = std::round(Y(panel, value)) + 0.5;
    painter.Polyline({{panel.left, y}, {panel.right(), y}}, kGrid, 1, ChartsPainter::Dash::None);
    if (std::find(labelled.begin(), labelled.end(), value) == labelled.end()) continue;
    painter.Text(value == 0 ? "0" : value == 1 ? "1" : Fixed(value, value == 0.5 ? 1 : 2), kLeftAxis - 5, y, 11,
                 false, ChartsPainter::Align::Right, kBlack);
  }
  for (long g = axis.first - 1 + axis.step; g <= axis.last; g += axis.step) {
    const double gx = std::round(X(panel, axis, static_cast<double>(g))) + 0.5;
    painter.Polyline({{gx, panel.bottom()}, {gx, panel.bottom() + 4}}, kBlack, 1, ChartsPainter::Dash::None);
  }
  for (const AxisLabel& label : GenerationLabels(layout, index, axis, painter)) {
    painter.Text(label.text, label.box.left + label.box.width / 2, label.box.top + 7, 11, false,
                 ChartsPainter::Align::Centre, kBlack);
  }
  painter.Polyline({{panel.left + 0.5, panel.top}, {panel.left + 0.5, panel.bottom() + 0.5}, {panel.right(), panel.bottom() + 0.5}},
                   kBlack, 1, ChartsPainter::Dash::None);
}

// Points of a series as polylines: one for each run between gaps.
template <typename Draw>
void DrawRuns(const std::vector<ChartPoint>& points, const ChartsRect& panel, const GenerationAxis& axis,
              const Draw& draw) {
  std::vector<ChartsPoint> run;
  auto flush = [&] {
    if (run.size() > 1) draw(run);
    run.clear();
  };
  for (const ChartPoint& point : points) {
    if (std::isnan(point.value)) {
      flush();
      continue;
    }
    run.push_back({X(panel, axis, static_cast<double>(point.generation)), Y(panel, point.value)});
  }
  flush();
}

// The F_ST panel: one line for each locus, a gap where F_ST is undefined.
void DrawFstPanel(ChartsPainter& painter, const ChartsLayout& layout, const GenerationAxis& axis,
                  const CensusHistory* history) {
  const ChartsRect& panel = layout.fst;
  const double legendRoom = panel.top - 8 - layout.fstLegend[0].y;
  DrawPanelFrame(painter, layout, kFstPanel, axis, kFstTitle, panel.top - 23 - legendRoom, FrequencyLabels(panel));
  for (int l = 0; l < kLoci; ++l) {
    const ChartsPoint& at = layout.fstLegend[static_cast<std::size_t>(l)];
    painter.Polyline({{at.x, at.y}, {at.x + 18, at.y}}, kFstColours[static_cast<std::size_t>(l)], 1.6,
                     ChartsPainter::Dash::None);
    painter.Text(kLocusTitles[static_cast<std::size_t>(l)], at.x + 22, at.y, 11, false, ChartsPainter::Align::Left,
                 kBlack);
  }
  if (history == nullptr || history->empty()) return;
  painter.Clip({panel.left - 1, panel.top - 2, panel.width + 2, panel.height + 4});
  const int columns = std::max(1, static_cast<int>(panel.width / 2));
  for (int l = 0; l < kLoci; ++l) {
    DrawRuns(history->DownsampledFst(static_cast<Locus>(l), axis.first, axis.last, columns), panel, axis,
             [&](const std::vector<ChartsPoint>& run) {
               painter.Polyline(run, kFstColours[static_cast<std::size_t>(l)], 1.6, ChartsPainter::Dash::None);
             });
  }
  painter.Unclip();
}

}  // namespace

GenerationAxis::GenerationAxis(const CensusHistory* history) {
  if (history == nullptr || history->empty()) return;
  first = history->FirstGeneration();
  const long span = std::max(10L, history->LastGeneration() - first + 1);
  step = NiceStep(span, 5);
  last = first + (span + step - 1) / step * step;
}

ChartsLayout::ChartsLayout(double viewWidth, double viewHeight, ChartsPainter& measure, bool withStatistics)
    : width(viewWidth), height(viewHeight), statistics(withStatistics) {
  // A view too narrow for the header on one line has it on two.
  headerLines = width < measure.TextWidth(WidestHeader(), kSmallestHeader, true) + 16 ? 2 : 1;
  const double headerHeight = headerLines == 2 ? 2 * kHeaderHeight - 8 : kHeaderHeight;
  header = {0, 0, width, headerHeight};
  // The legend's habitats go to a row of their own where the alleles leave
  // them no room.
  double row = 8;
  for (int allele = 0; allele < 3; ++allele) row += 24 + measure.TextWidth("allele " + std::to_string(allele), 12, false);
  for (int habitat = 0; habitat < 2; ++habitat) row += 40 + measure.TextWidth("habitat " + std::to_string(habitat), 12, false);
  legendRows = row - 16 <= width ? 2 : 3;
  legend = {0, headerHeight, width, kLegendHeight + (legendRows - 2) * 16};
  const double top = headerHeight + legend.height;
  // With statistics, the F_ST panel's legend under its title: the loci
  // side by side, on further rows where the width runs out, which the
  // panel's title takes from the height of all four.
  std::array<int, kLoci> rowOf{};
  int rows = 1;
  double x = kLeftAxis;
  for (int l = 0; l < kLoci && statistics; ++l) {
    const double item = 22 + measure.TextWidth(kLocusTitles[static_cast<std::size_t>(l)], 11, false);
    if (x > kLeftAxis && x + item > width - 4) {
      ++rows;
      x = kLeftAxis;
    }
    fstLegend[static_cast<std::size_t>(l)].x = x;
    rowOf[static_cast<std::size_t>(l)] = rows - 1;
    x += item + 12;
  }
  const double legendRoom = (rows - 1) * kFstLegendRow;
  const double each = std::max(30.0, std::floor((height - top - legendRoom) / (statistics ? kLoci + 1 : kLoci)));
  for (int i = 0; i < kLoci; ++i) {
    const double y = top + i * each;
    panels[static_cast<std::size_t>(i)] = {kLeftAxis, y + kPanelTitle, std::max(1.0, width - 12 - kLeftAxis),
                                           std::max(1.0, each - kBottomAxis - kGap - kPanelTitle)};
  }
  if (!statistics) return;
  fst = {kLeftAxis, top + kLoci * each + kPanelTitle + legendRoom, std::max(1.0, width - 12 - kLeftAxis),
         std::max(1.0, each - kBottomAxis - kGap - kPanelTitle)};
  for (int l = 0; l < kLoci; ++l) {
    fstLegend[static_cast<std::size_t>(l)].y = fst.top - 8 - (rows - 1 - rowOf[static_cast<std::size_t>(l)]) * kFstLegendRow;
  }
}

std::vector<double> FrequencyLabels(const ChartsRect& panel) {
  constexpr double kApart = 13;  // 11-pixel labels and room between them
  if (panel.height / 4 >= kApart) return {0, 0.25, 0.5, 0.75, 1};
  if (panel.height / 2 >= kApart) return {0, 0.5, 1};
  if (panel.height >= kApart) return {0, 1};
  return {1};
}

std::string HeaderText(const CensusHistory* history) {
  if (history == nullptr || history->empty()) return "Generation 0";
  const long g = history->LastGeneration();
  return "Generation " + std::to_string(g) + "   Habitat 0: " + std::to_string(history->Adults(g, 0)) +
         "   Habitat 1: " + std::to_string(history->Adults(g, 1));
}

ChartsHeader HeaderFor(const ChartsLayout& layout, const CensusHistory* history, ChartsPainter& measure) {
  ChartsHeader header;
  const std::string whole = HeaderText(history);
  const std::size_t counts = whole.find("   ");
  if (layout.headerLines == 2 && counts != std::string::npos) {
    header.lines = {whole.substr(0, counts), whole.substr(counts + 3)};
  } else {
    header.lines = {whole};
  }
  // As large as the width allows, never below 14 pixels.
  auto widest = [&](int pixels) {
    double width = 0;
    for (const std::string& line : header.lines) width = std::max(width, measure.TextWidth(line, pixels, true));
    return width;
  };
  header.pixels = kHeaderPixels;
  while (header.pixels > kSmallestHeader && widest(header.pixels) > layout.header.width - 16) --header.pixels;
  return header;
}

// The labels under a panel's generation axis (a locus's or the F_ST
// panel's): "gen." at the left, then a
// number under each tick, moved inside the view's right edge and clear of
// "gen.", and left out where it would meet the one before.
std::vector<AxisLabel> GenerationLabels(const ChartsLayout& layout, int panel, const GenerationAxis& axis,
                                        ChartsPainter& measure) {
  const ChartsRect& area = layout.Panel(panel);
  std::vector<AxisLabel> labels;
  const double genWidth = measure.TextWidth("gen.", 11, false) + 2;
  labels.push_back({"gen.", {kLeftAxis - 2 - genWidth, area.bottom() + 4, genWidth, 14}});
  double free = kLeftAxis - 2 + 3;
  for (long g = axis.first - 1 + axis.step; g <= axis.last; g += axis.step) {
    const std::string text = std::to_string(g);
    const double width = measure.TextWidth(text, 11, false) + 2;
    const double left = std::min(X(area, axis, static_cast<double>(g)) - width / 2, layout.width - 1 - width);
    if (left < free) continue;
    labels.push_back({text, {left, area.bottom() + 4, width, 14}});
    free = left + width + 4;
  }
  return labels;
}

// The letters stand over their lines in the order of their generations, each
// moved right of the one before when they would meet, and all of them
// inside the panel's width, moved left from its right edge if need be.
std::vector<CriterionMarker> CriterionMarkers(const ChartsLayout& layout, int panel, const CensusHistory* history) {
  if (history == nullptr || history->empty()) return {};
  const ChartsRect& area = layout.panels[static_cast<std::size_t>(panel)];
  const GenerationAxis axis(history);
  const std::array<long, CensusHistory::kCriteria> criteria = history->Criteria();
  std::vector<CriterionMarker> markers;
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    const auto at = static_cast<std::size_t>(c);
    if (static_cast<int>(kCriterionLocus[at]) != panel || criteria[at] == 0) continue;
    markers.push_back({c, X(area, axis, static_cast<double>(criteria[at])), {}});
  }
  std::stable_sort(markers.begin(), markers.end(),
                   [](const CriterionMarker& a, const CriterionMarker& b) { return a.x < b.x; });
  double free = area.left - 7;
  for (CriterionMarker& marker : markers) {
    const double left = std::max(marker.x - 7, free);
    marker.box = {left, area.top - 15, 14, 14};
    free = left + 16;
  }
  double limit = area.right() + 7;
  for (auto marker = markers.rbegin(); marker != markers.rend(); ++marker) {
    if (marker->box.right() > limit) marker->box.left = limit - marker->box.width;
    limit = marker->box.left - 2;
  }
  return markers;
}

double ChartsMinimumWidth(ChartsPainter& measure) { return measure.TextWidth(WidestCounts(), kSmallestHeader, true) + 20; }

double ChartsMinimumHeight(bool statistics) { return statistics ? 520 : 240; }

void DrawChartsHeader(ChartsPainter& painter, double width, double height, const CensusHistory* history) {
  const ChartsLayout layout(width, height, painter);
  painter.FillRect(layout.header, kWhite);
  const ChartsHeader header = HeaderFor(layout, history, painter);
  const double lineHeight = layout.header.height / static_cast<double>(header.lines.size());
  for (std::size_t line = 0; line < header.lines.size(); ++line) {
    painter.Text(header.lines[line], 8, (static_cast<double>(line) + 0.5) * lineHeight, header.pixels, true,
                 ChartsPainter::Align::Left, kBlack);
  }
}

void DrawCharts(ChartsPainter& painter, double width, double height, const CensusHistory* history, bool statistics) {
  const ChartsLayout layout(width, height, painter, statistics);
  const GenerationAxis axis(history);
  painter.FillRect({0, 0, width, height}, kWhite);
  DrawChartsHeader(painter, width, height, history);

  // The legend: the alleles' colours, the habitats' lines, the markers.
  double x = 8;
  double row = layout.legend.top + 12;
  for (int allele = 0; allele < 3; ++allele) {
    painter.FillRect({x, row - 5, 12, 10}, kAlleleColours[static_cast<std::size_t>(allele)]);
    const std::string text = "allele " + std::to_string(allele);
    painter.Text(text, x + 16, row, 12, false, ChartsPainter::Align::Left, kBlack);
    x += 24 + painter.TextWidth(text, 12, false);
  }
  if (layout.legendRows == 3) {
    x = 8;
    row += 16;
  }
  for (int habitat = 0; habitat < 2; ++habitat) {
    painter.Polyline({{x, row}, {x + 24, row}}, kBlack, 1.6,
                     habitat == 1 ? ChartsPainter::Dash::Dashed : ChartsPainter::Dash::None);
    const std::string text = "habitat " + std::to_string(habitat);
    painter.Text(text, x + 28, row, 12, false, ChartsPainter::Align::Left, kBlack);
    x += 40 + painter.TextWidth(text, 12, false);
  }
  const std::string note = "A-E: generation each criterion was first met (hover for more)";
  painter.Text(painter.TextWidth(note, 12, false) + 16 <= width ? note : "A-E: each criterion first met", 8, row + 16, 12,
               false, ChartsPainter::Align::Left, kBlack);

  for (int i = 0; i < kLoci; ++i) {
    const ChartsRect& panel = layout.panels[static_cast<std::size_t>(i)];
    const auto locus = static_cast<Locus>(i);
    // Four panels are lower than three: their labels as many as stand apart.
    DrawPanelFrame(painter, layout, i, axis, kLocusTitles[static_cast<std::size_t>(i)], panel.top - 23,
                   statistics ? FrequencyLabels(panel) : std::vector<double>{0.0, 0.25, 0.5, 0.75, 1.0});
    if (history == nullptr || history->empty()) continue;

    // The lines, thinned to the panel's width; a gap (an empty habitat)
    // breaks a line.
    painter.Clip({panel.left - 1, panel.top - 2, panel.width + 2, panel.height + 4});
    const int columns = std::max(1, static_cast<int>(panel.width / 2));
    for (int habitat = 0; habitat < 2; ++habitat) {
      for (int allele = 0; allele < 3; ++allele) {
        DrawRuns(history->Downsampled(habitat, locus, allele, axis.first, axis.last, columns), panel, axis,
                 [&](const std::vector<ChartsPoint>& run) {
                   painter.Polyline(run, kAlleleColours[static_cast<std::size_t>(allele)], 1.6,
                                    habitat == 1 ? ChartsPainter::Dash::Dashed : ChartsPainter::Dash::None);
                 });
      }
    }
    painter.Unclip();

    // The criteria met in this panel's locus.
    for (const CriterionMarker& marker : CriterionMarkers(layout, i, history)) {
      painter.Polyline({{marker.x, panel.top}, {marker.x, panel.bottom()}}, kBlack, 1, ChartsPainter::Dash::Dotted);
      painter.FillRect(marker.box, kMarkerFill);
      painter.StrokeRect(marker.box, kBlack);
      painter.Text(std::string(1, static_cast<char>('A' + marker.criterion)), marker.box.left + 7,
                   marker.box.top + 7.5, 12, true, ChartsPainter::Align::Centre, kBlack);
    }
  }
  if (statistics) DrawFstPanel(painter, layout, axis, history);
}

std::optional<std::string> DescribeChartsAt(double width, double height, const CensusHistory* history, double x,
                                            double y, ChartsPainter& measure, bool statistics) {
  if (history == nullptr || history->empty()) return std::nullopt;
  const ChartsLayout layout(width, height, measure, statistics);
  const GenerationAxis axis(history);
  const std::array<long, CensusHistory::kCriteria> criteria = history->Criteria();
  for (int i = 0; i < kLoci; ++i) {
    const ChartsRect& panel = layout.panels[static_cast<std::size_t>(i)];
    for (const CriterionMarker& marker : CriterionMarkers(layout, i, history)) {
      if (marker.box.Contains(x, y)) {
        return std::string(kCriterionTexts[static_cast<std::size_t>(marker.criterion)]) + ", first met in generation " +
               std::to_string(criteria[static_cast<std::size_t>(marker.criterion)]);
      }
    }
    if (x < panel.left - 4 || x > panel.right() + 4 || y < panel.top - 4 || y > panel.bottom() + 4) continue;
    const double span = static_cast<double>(axis.last - axis.first);
    const long g = std::clamp(axis.first + std::lround((x - panel.left) * span / std::max(1.0, panel.width)),
                              history->FirstGeneration(), history->LastGeneration());
    double best = 8;  // pixels
    std::string text;
    for (int habitat = 0; habitat < 2; ++habitat) {
      for (int allele = 0; allele < 3; ++allele) {
        const double value = history->Frequency(g, habitat, static_cast<Locus>(i), allele);
        if (std::isnan(value)) continue;
        const double distance = std::abs(Y(panel, value) - y);
        if (distance > best) continue;
        best = distance;
        text = "Generation " + std::to_string(g) + ": " + Lower(kLocusTitles[static_cast<std::size_t>(i)]) +
               ", habitat " + std::to_string(habitat) + ", allele " + std::to_string(allele) + ": " + Fixed(value, 3);
      }
    }
    if (!text.empty()) return text;
  }
  const ChartsRect& panel = layout.fst;
  if (!statistics || x < panel.left - 4 || x > panel.right() + 4 || y < panel.top - 4 || y > panel.bottom() + 4) {
    return std::nullopt;
  }
  const double span = static_cast<double>(axis.last - axis.first);
  const long g = std::clamp(axis.first + std::lround((x - panel.left) * span / std::max(1.0, panel.width)),
                            history->FirstGeneration(), history->LastGeneration());
  double best = 8;  // pixels
  std::string text;
  for (int l = 0; l < kLoci; ++l) {
    const double value = history->Fst(g, static_cast<Locus>(l));
    if (std::isnan(value) || std::abs(Y(panel, value) - y) > best) continue;
    best = std::abs(Y(panel, value) - y);
    text = "Generation " + std::to_string(g) + ": F_ST at " + Lower(kLocusTitles[static_cast<std::size_t>(l)]) + ": " +
           Fixed(value, 3);
  }
  if (text.empty()) return std::nullopt;
  return text;
}

std::string ChartsInWords(const CensusHistory* history, bool statistics) {
  if (history == nullptr || history->empty()) return "Charts: no generation yet.";
  const long g = history->LastGeneration();
  std::string words = "Generation " + std::to_string(g) + ". Habitat 0: " + std::to_string(history->Adults(g, 0)) +
                      " adults; habitat 1: " + std::to_string(history->Adults(g, 1)) + " adults.";
  for (int i = 0; i < kLoci; ++i) {
    words += std::string(" ") + kLocusTitles[static_cast<std::size_t>(i)] + ":";
    for (int habitat = 0; habitat < 2; ++habitat) {
      words += habitat == 0 ? " habitat 0" : "; habitat 1";
      if (history->Adults(g, habitat) == 0) {
        words += " empty";
        continue;
      }
      for (int allele = 0; allele < 3; ++allele) {
        const double share = history->Frequency(g, habitat, static_cast<Locus>(i), allele);
        words += (allele == 0 ? " allele " : ", allele ") + std::to_string(allele) + " " +
                 std::to_string(static_cast<int>(std::lround(share * 100))) + "%";
      }
    }
    words += ".";
  }
  const std::array<long, CensusHistory::kCriteria> criteria = history->Criteria();
  std::string met;
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    if (criteria[static_cast<std::size_t>(c)] == 0) continue;
    met += (met.empty() ? "" : ", ") + std::string(1, static_cast<char>('A' + c)) + " in generation " +
           std::to_string(criteria[static_cast<std::size_t>(c)]);
  }
  words += met.empty() ? " No criterion met yet." : " Criteria met: " + met + ".";
  if (!statistics) return words;
  words += " F_ST between the habitats:";
  for (int l = 0; l < kLoci; ++l) {
    const double fst = history->Fst(g, static_cast<Locus>(l));
    words += std::string(l == 0 ? " " : ", ") + Lower(kLocusTitles[static_cast<std::size_t>(l)]) + " " +
             (std::isnan(fst) ? std::string("undefined") : Fixed(fst, 2));
  }
  words += ".";
  return words;
}

}  // namespace talveron::app
