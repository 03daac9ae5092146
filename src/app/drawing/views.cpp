// The map, the results graphs and the status line.
#include "app/drawing/views.h"

#include <algorithm>
#include <string>

namespace talveron::app {

namespace {

constexpr int kTimeColumns = 902;  // the time plot wraps after this many generations
constexpr int kDiscSize = 9;       // a disc leaves the cell's last row and column free

// Allele 0 is red, 1 blue, 2 yellow; any other value sets no colour.
void SetAlleleColour(Canvas& canvas, int allele) {
  switch (allele) {
    case 0: canvas.ForeColor(QdColor::Red); break;
    case 1: canvas.ForeColor(QdColor::Blue); break;
    case 2: canvas.ForeColor(QdColor::Yellow); break;
    default: break;
  }
}

void Oval(Canvas& canvas, int top, int left, int bottom, int right) {
  canvas.PaintOval(QdRect{top, left, bottom, right});
}

void Line(Canvas& canvas, int h1, int v1, int h2, int v2) {
  canvas.MoveTo(h1, v1);
  canvas.LineTo(h2, v2);
}

// Truncated count * scale / total, formed in 32 bits. Callers skip empty
// habitats.
int Scaled(int count, int scale, int total) { return count * scale / total; }

struct BarGroup {
  const char* caption;
  int baseline;  // B: the axes and the bottom of every bar
  int zero;      // the bar top for a count of 0
  int scale;     // pixels at 100 %
};

// Bar columns, left and right, of habitat 0; habitat 1's lie 110 to the right.
constexpr int kRedLeft = 10, kRedRight = 39;
constexpr int kYellowLeft = 40, kYellowRight = 69;
constexpr int kBlueLeft = 70, kBlueRight = 100;
constexpr int kHabitatOffset = 110;

void Bar(Canvas& canvas, QdColor colour, int left, int right, const BarGroup& group,
         int count, int total) {
  canvas.ForeColor(colour);
  canvas.PaintRect(QdRect{group.zero - Scaled(count, group.scale, total), left,
                          group.baseline, right});
}

// A two-pixel point of the time plot: value v of the band whose baseline is
// `base` (80 upper, 160 lower).
void Point(Canvas& canvas, QdColor colour, int x, int base, int v) {
  canvas.ForeColor(colour);
  Line(canvas, x, base - v, x, base - v - 1);
}

void PlotShare(Canvas& canvas, QdColor colour, int x, int habitat, int count,
               const CensusTotals& sums) {
  const int total = sums.habitatTotal[habitat];
  if (total == 0) return;
  Point(canvas, colour, x, habitat == 0 ? 80 : 160, Scaled(count, 80, total));
}

// The larger of a measure and its negative: red when the first is strictly
// larger, blue otherwise (ties included), at value * -80 + base.
void PlotPair(Canvas& canvas, int x, int base, float first, float second) {
  const bool redWins = first > second;
  const float value = redWins ? first : second;
  const int y = static_cast<int>(value * -80.0f + static_cast<float>(base));
  canvas.ForeColor(redWins ? QdColor::Red : QdColor::Blue);
  Line(canvas, x, y, x, y - 1);
}

void DrawTimeAxis(Canvas& canvas) {
  canvas.ForeColor(QdColor::Black);
  Line(canvas, 0, 80, 901, 80);
  canvas.MoveTo(5, 35);
  canvas.DrawString("50 GENERATIONS");
  for (int y = 40; y <= 42; ++y) Line(canvas, 5, y, 54, y);
}

void EraseHeadCounts(Canvas& canvas) {
  canvas.SetPort(Port::Text);
  canvas.EraseRect(QdRect{15, 0, 44, 640});
  canvas.TextSize(9);
}

}  // namespace

// --- map view ---

void Views::DrawIndividual(int xx, int yy, const Individ& individual) {
  if (flags_.gAllLocusDisplay) {
    SetAlleleColour(canvas_, individual.habitatPref);
    Oval(canvas_, yy, xx, yy + kDiscSize, xx + kDiscSize);
    SetAlleleColour(canvas_, individual.habitatSpec);
    Oval(canvas_, yy + 2, xx + 2, yy + 7, xx + 7);
    SetAlleleColour(canvas_, individual.matingPrefType);
    Oval(canvas_, yy + 3, xx + 3, yy + 5, xx + 5);
    return;
  }
  int allele;
  if (flags_.gHabitatSpecDisplay) {
    allele = individual.habitatSpec;
  } else if (flags_.gHabitatPreferenceDisplay) {
    allele = individual.habitatPref;
  } else if (flags_.gMatingPreferenceDisplay) {
    allele = individual.matingPrefType;
  } else {
    return;
  }
  SetAlleleColour(canvas_, allele);
  Oval(canvas_, yy, xx, yy + kDiscSize, xx + kDiscSize);
}

void Views::ClearCell(int xx, int yy) {
  canvas_.ForeColor(QdColor::White);
  Oval(canvas_, yy, xx, yy + kDiscSize, xx + kDiscSize);
}

void Views::EraseMapArea() { canvas_.EraseRect(QdRect{0, 0, 400, 640}); }

void Views::InitHabitats() {
  canvas_.ForeColor(QdColor::Black);
  canvas_.FrameRect(QdRect{0, 0, 400, 320});
  // Starts at 319 so that both frames share the column between the habitats.
  canvas_.FrameRect(QdRect{0, 319, 400, 640});
}

// --- results ---

void Views::ShowResults(const GeneFrequencies& frequencies, int generationNumber) {
  // Head counts.
  EraseHeadCounts(canvas_);
  const CensusTotals sums = GetGenerationFrequencies(frequencies);
  for (int h = 0; h < 2; ++h) {
    canvas_.MoveTo(h == 0 ? 4 : 324, 24);
    canvas_.TextFace(1);
    canvas_.DrawString(h == 0 ? "Habitat 0  " : "Habitat 1  ");
    canvas_.TextFace(0);
    canvas_.DrawString("Total: ");
    canvas_.DrawString(std::to_string(sums.habitatTotal[h]));
  }

  // Bar graphs of the current generation.
  canvas_.SetPort(Port::Graph);
  canvas_.EraseRect(canvas_.GetPortBounds());
  canvas_.ForeColor(QdColor::Black);
  static constexpr BarGroup kGroups[4] = {
      {"MATING PREFERENCES", 500, 500, 180},
      {"HABITAT SPECIALIZATION", 100, 120, 80},
      {"HABITAT PREFERENCE", 200, 220, 80},
      {"SPECIALIZATION & PREFERENCE", 300, 320, 80},
  };
  for (int g = 0; g < 4; ++g) {
    const BarGroup& group = kGroups[g];
    for (int h = 0; h < 2; ++h) {
      const int offset = h * kHabitatOffset;
      canvas_.ForeColor(QdColor::Black);
      Line(canvas_, 10 + offset, group.baseline, 100 + offset, group.baseline);
      if (h == 0) {
        canvas_.MoveTo(10, group.baseline + 15);
        canvas_.DrawString(group.caption);
      }
      const int total = sums.habitatTotal[h];
      if (total == 0) continue;  // no shares to show for an empty habitat
      int redCount, blueCount;
      bool hasYellow = true;
      switch (g) {
        case 0:
          redCount = sums.matingPrefTotal[h][0];
          blueCount = sums.matingPrefTotal[h][1];
          break;
        case 1:
          redCount = sums.habitatSpecTotal[h][0];
          blueCount = sums.habitatSpecTotal[h][1];
          break;
        case 2:
          redCount = sums.red[h];
          blueCount = sums.blu[h];
          break;
        default:
          redCount = sums.redred[h];
          blueCount = sums.blublu[h];
          hasYellow = false;
          break;
      }
      Bar(canvas_, QdColor::Red, kRedLeft + offset, kRedRight + offset, group, redCount,
          total);
      if (hasYellow) {
        Bar(canvas_, QdColor::Yellow, kYellowLeft + offset, kYellowRight + offset, group,
            total - redCount - blueCount, total);
      }
      Bar(canvas_, QdColor::Blue, kBlueLeft + offset, kBlueRight + offset, group,
          blueCount, total);
    }
  }

  // One column of the time plot.
  canvas_.SetPort(Port::Time);
  DrawTimeAxis(canvas_);
  TimeColumn(sums, generationNumber, true);
  canvas_.SetPort(Port::View);
}

void Views::DrawTimeColumn(const GeneFrequencies& frequencies, int generationNumber) {
  canvas_.SetPort(Port::Time);
  TimeColumn(GetGenerationFrequencies(frequencies), generationNumber, false);
  canvas_.SetPort(Port::View);
}

// The column of a generation: wiped, then each plotted value as a point;
// with `captions` the plot's captions too, drawn after the wipe.
void Views::TimeColumn(const CensusTotals& sums, int generationNumber, bool captions) {
  const int x = generationNumber % kTimeColumns;
  auto beginColumn = [&](const char* caption) {
    canvas_.ForeColor(QdColor::White);
    Line(canvas_, x, 159, x, 81);  // the axis pixel at v 80 stays
    Line(canvas_, x, 79, x, 0);
    if (!captions) return;
    canvas_.ForeColor(QdColor::Black);
    canvas_.MoveTo(5, 20);
    canvas_.DrawString(caption);
  };
  if (flags_.gHabitatSpecGraph) {
    beginColumn("HABITAT SPECIALIZATION");
    PlotShare(canvas_, QdColor::Red, x, 0, sums.habitatSpecTotal[0][0], sums);
    PlotShare(canvas_, QdColor::Blue, x, 0, sums.habitatSpecTotal[0][1], sums);
    PlotShare(canvas_, QdColor::Red, x, 1, sums.habitatSpecTotal[1][0], sums);
    PlotShare(canvas_, QdColor::Blue, x, 1, sums.habitatSpecTotal[1][1], sums);
  }
  if (flags_.gHabitatPreferenceGraph) {
    beginColumn("HABITAT SPECIALIZATION & PREFERENCE");
    PlotShare(canvas_, QdColor::Red, x, 0, sums.redred[0], sums);
    PlotShare(canvas_, QdColor::Blue, x, 1, sums.blublu[1], sums);
  }
  if (flags_.gMatingPreferenceGraph) {
    beginColumn("MATING PREFERENCE");
    PlotShare(canvas_, QdColor::Red, x, 0, sums.matingPrefTotal[0][0], sums);
    PlotShare(canvas_, QdColor::Blue, x, 0, sums.matingPrefTotal[0][1], sums);
    PlotShare(canvas_, QdColor::Red, x, 1, sums.matingPrefTotal[1][0], sums);
    PlotShare(canvas_, QdColor::Blue, x, 1, sums.matingPrefTotal[1][1], sums);
  }
  if (flags_.gConcordanceGraph) {
    beginColumn("CONCORDANCE");
    if (captions) {
      canvas_.MoveTo(5, 100);
      canvas_.DrawString("DISCORDANCE");
    }
    const int population = sums.habitatTotal[0] + sums.habitatTotal[1];
    if (population != 0) {
      const auto& mp = sums.matingPrefTotal;
      const float n = static_cast<float>(population);
      const float concordance1 = static_cast<float>(mp[0][0] + mp[1][0] - mp[0][1] - mp[1][1]) / n;
      const float concordance2 = static_cast<float>(mp[0][1] + mp[1][1] - mp[0][0] - mp[1][0]) / n;
      const float discordance1 = static_cast<float>(mp[0][0] + mp[1][1] - mp[1][0] - mp[0][1]) / n;
      const float discordance2 = static_cast<float>(mp[0][1] + mp[1][0] - mp[1][1] - mp[0][0]) / n;
      PlotPair(canvas_, x, 80, concordance1, concordance2);
      PlotPair(canvas_, x, 160, discordance1, discordance2);
    }
  }
}

void Views::ZeroResults() {
  EraseHeadCounts(canvas_);
  canvas_.SetPort(Port::Graph);
  canvas_.EraseRect(canvas_.GetPortBounds());
  canvas_.SetPort(Port::Time);
  canvas_.EraseRect(canvas_.GetPortBounds());
  DrawTimeAxis(canvas_);
  canvas_.SetPort(Port::View);
}

void Views::ClearGraphText(int generationNumber) {
  canvas_.SetPort(Port::Time);
  canvas_.ForeColor(QdColor::Black);
  // Marks the column before the one the next generation draws; at a
  // multiple of 902 that is column -1, outside the window.
  const int x = generationNumber % kTimeColumns - 1;
  Line(canvas_, x, 159, x, 0);
  canvas_.EraseRect(QdRect{5, 5, 20, 280});
  canvas_.EraseRect(QdRect{85, 5, 100, 180});
  canvas_.SetPort(Port::View);
}

// --- status line ---

void Views::ShowInfo(std::string_view action, int generationNumber, bool step) {
  canvas_.SetPort(Port::Text);
  canvas_.MoveTo(4, 14);
  canvas_.TextFace(1);
  canvas_.TextSize(14);
  canvas_.DrawString("T A L V E R O N !");

  canvas_.EraseRect(QdRect{60, 0, 95, 640});
  canvas_.TextSize(32);
  canvas_.MoveTo(4, 85);
  canvas_.TextFace(1);
  // Past the first generation the phase names are only worth reading when
  // the run stops between phases.
  if (generationNumber == 0 || step) canvas_.DrawString(action);
  canvas_.TextFace(0);
  // The field begins at 350 for the numbers of the menus' runs; a larger
  // number widens it to the left as far as it must to end inside the view.
  const std::string number = std::to_string(generationNumber);
  const int width = canvas_.StringWidth("Generation: ") + canvas_.StringWidth(number);
  canvas_.MoveTo(std::min(350, 640 - 4 - width), 85);
  canvas_.DrawString("Generation: ");
  canvas_.DrawString(number);

  canvas_.SetPort(Port::Text);
  canvas_.EraseRect(QdRect{2, 400, 14, 650});
  canvas_.MoveTo(400, 14);
  canvas_.TextSize(12);
  const char* caption = nullptr;
  if (flags_.gHabitatSpecDisplay) {
    caption = "HABITAT SPECIALIZATION LOCUS";
  } else if (flags_.gHabitatPreferenceDisplay) {
    caption = "HABITAT PREFERENCE LOCUS";
  } else if (flags_.gMatingPreferenceDisplay) {
    caption = "MATING PREFERENCE LOCUS";
  } else if (flags_.gAllLocusDisplay) {
    caption = "ALL THREE LOCI";
  }
  if (caption != nullptr) canvas_.DrawString(caption);

  canvas_.SetPort(Port::View);
}

void Views::DrawErrorLine(std::string_view message) {
  canvas_.SetPort(Port::Text);
  canvas_.TextSize(9);
  canvas_.MoveTo(5, 54);
  canvas_.TextFace(1);
  canvas_.DrawString("ERROR: ");
  canvas_.TextFace(0);
  canvas_.DrawString(message);
  canvas_.DrawString(" (Press space bar to continue)");
}

void Views::EraseErrorLine() {
  canvas_.SetPort(Port::Text);
  canvas_.EraseRect(QdRect{45, 0, 56, 640});
}

}  // namespace talveron::app
