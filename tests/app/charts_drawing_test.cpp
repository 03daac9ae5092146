// The Charts' drawing, recorded operation by operation with a painter whose
// type has a fixed width, so that what is drawn does not hang on the fonts
// at hand: without Statistics the drawing is the one it always was; with
// them a panel of F_ST between the habitats joins the loci's panels. And
// the desktop program's check box that turns them on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "app/drawing/charts_drawing.h"
#include "gui/charts_view.h"
#include "model/census.h"
#include "record/census_history.h"

namespace talveron::app {
namespace {

struct Drawn {
  enum Kind { Fill, Stroke, Line, Words, ClipOn, ClipOff } kind = Fill;
  ChartsRect rect;
  std::vector<ChartsPoint> points;
  std::uint32_t colour = 0;
  double width = 0;
  ChartsPainter::Dash dash = ChartsPainter::Dash::None;
  std::string text;
  double x = 0, middle = 0;
  int pixels = 0;
  bool bold = false;
  ChartsPainter::Align align = ChartsPainter::Align::Left;
};

class RecordingPainter : public ChartsPainter {
 public:
  void FillRect(const ChartsRect& r, std::uint32_t colour) override { Add(Drawn::Fill, r).colour = colour; }
  void StrokeRect(const ChartsRect& r, std::uint32_t colour) override { Add(Drawn::Stroke, r).colour = colour; }
  void Polyline(const std::vector<ChartsPoint>& points, std::uint32_t colour, double width, Dash dash) override {
    Drawn& line = Add(Drawn::Line);
    line.points = points;
    line.colour = colour;
    line.width = width;
    line.dash = dash;
  }
  void Text(const std::string& text, double x, double middle, int pixels, bool bold, Align align,
            std::uint32_t colour) override {
    Drawn& words = Add(Drawn::Words);
    words.text = text;
    words.x = x;
    words.middle = middle;
    words.pixels = pixels;
    words.bold = bold;
    words.align = align;
    words.colour = colour;
  }
  // Six tenths of the type's size a character, a tenth more in bold.
  double TextWidth(const std::string& text, int pixels, bool bold) override {
    return static_cast<double>(text.size()) * pixels * (bold ? 0.66 : 0.6);
  }
  void Clip(const ChartsRect& r) override { Add(Drawn::ClipOn, r); }
  void Unclip() override { Add(Drawn::ClipOff); }

  Drawn& Add(Drawn::Kind kind, const ChartsRect& rect = {}) {
    drawn.emplace_back();
    drawn.back().kind = kind;
    drawn.back().rect = rect;
    return drawn.back();
  }

  // Everything drawn, in order, as text: what two drawings share or not.
  std::string Listing() const {
    std::string listing;
    char number[64];
    auto add = [&](double value) {
      std::snprintf(number, sizeof number, " %.3f", value);
      listing += number;
    };
    for (const Drawn& d : drawn) {
      listing += std::to_string(static_cast<int>(d.kind)) + " " + std::to_string(d.colour);
      add(d.rect.left), add(d.rect.top), add(d.rect.width), add(d.rect.height);
      for (const ChartsPoint& p : d.points) add(p.x), add(p.y);
      add(d.width);
      listing += " " + std::to_string(static_cast<int>(d.dash)) + " " + d.text;
      add(d.x), add(d.middle);
      listing += " " + std::to_string(d.pixels) + (d.bold ? " b " : " n ") + std::to_string(static_cast<int>(d.align));
      listing += "\n";
    }
    return listing;
  }

  std::vector<Drawn> drawn;
};

// FNV-1a, 64 bits: a digest of a listing that stays the same everywhere.
std::uint64_t Digest(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

// A replicate made up generation by generation: `adults` in each habitat,
// the first `zeros[h][locus]` of them with allele 0, the next `ones` with
// allele 1, the rest with allele 2.
struct MadeUpCensus {
  int adults[2] = {0, 0};
  int zeros[2][kLoci] = {};
  int ones[2][kLoci] = {};

  GeneFrequencies Frequencies() const {
    GeneFrequencies census;
    for (int h = 0; h < 2; ++h) {
      for (int i = 0; i < adults[h]; ++i) {
        int allele[kLoci];
        for (int l = 0; l < kLoci; ++l) allele[l] = i < zeros[h][l] ? 0 : i < zeros[h][l] + ones[h][l] ? 1 : 2;
        ++census.count[h][allele[0]][allele[1]][allele[2]];
      }
    }
    return census;
  }
};

// 300 generations: the first 20 without variation (every adult carries
// allele 2 everywhere), habitat 1 empty in generations 150 to 155, and
// otherwise the habitats drifting apart at different paces at each locus.
CensusHistory MadeUpHistory(long generations = 300) {
  CensusHistory history;
  for (long g = 1; g <= generations; ++g) {
    MadeUpCensus census;
    census.adults[0] = 200 + static_cast<int>(g % 37);
    census.adults[1] = g >= 150 && g <= 155 ? 0 : 180 + static_cast<int>(g % 23);
    if (g > 20) {
      for (int l = 0; l < kLoci; ++l) {
        const double pace = (l + 1) / 3.0;
        const int apart = static_cast<int>(std::min(1.0, pace * static_cast<double>(g % 400) / 300.0) * 150);
        census.zeros[0][l] = 20 + apart + static_cast<int>((g * (l + 3)) % 11);
        census.ones[0][l] = 20 + static_cast<int>((g * (l + 5)) % 13);
        census.zeros[1][l] = std::min(census.adults[1], 20 + static_cast<int>((g * (l + 7)) % 17));
        census.ones[1][l] = std::min(census.adults[1] - census.zeros[1][l], 20 + apart);
      }
    }
    history.Add(g, census.Frequencies());
  }
  return history;
}

constexpr double kWidth = 460, kHeight = 560;

// F_ST between the habitats at a locus by its definition, 1 - Hw / Hb, from
// the adults' alleles the history holds; not a number without an adult in
// a habitat or without variation.
double FstByDefinition(const CensusHistory& history, long generation, Locus locus) {
  double p[2][3];
  for (int h = 0; h < 2; ++h) {
    const int n = history.Adults(generation, h);
    if (n == 0) return std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < 3; ++k) p[h][k] = static_cast<double>(history.Count(generation, h, locus, k)) / n;
  }
  double same[2] = {0, 0}, across = 0;
  for (int k = 0; k < 3; ++k) {
    same[0] += p[0][k] * p[0][k];
    same[1] += p[1][k] * p[1][k];
    across += p[0][k] * p[1][k];
  }
  const double within = ((1 - same[0]) + (1 - same[1])) / 2, between = 1 - across;
  return between > 0 ? 1 - within / between : std::numeric_limits<double>::quiet_NaN();
}

// The lines drawn in the F_ST panel, as the generations and values their
// points stand for: for each locus, one run of points for each polyline.
struct ChartRun {
  std::vector<long> generations;
  std::vector<double> values;
};
std::array<std::vector<ChartRun>, kLoci> FstLines(const RecordingPainter& painter, const ChartsLayout& layout,
                                                  const GenerationAxis& axis) {
  std::array<std::vector<ChartRun>, kLoci> lines;
  const ChartsRect& panel = layout.fst;
  bool inside = false;
  for (const Drawn& d : painter.drawn) {
    if (d.kind == Drawn::ClipOn) inside = d.rect.Contains(panel.left, panel.top) && d.rect.Contains(panel.right(), panel.bottom());
    if (d.kind == Drawn::ClipOff) inside = false;
    if (!inside || d.kind != Drawn::Line) continue;
    const auto colour = std::find(kFstColours.begin(), kFstColours.end(), d.colour);
    if (colour == kFstColours.end()) continue;
    ChartRun run;
    for (const ChartsPoint& point : d.points) {
      const double span = static_cast<double>(axis.last - axis.first);
      run.generations.push_back(axis.first + std::lround((point.x - panel.left) * span / panel.width));
      run.values.push_back((panel.bottom() - point.y) / panel.height);
    }
    lines[static_cast<std::size_t>(colour - kFstColours.begin())].push_back(run);
  }
  return lines;
}

// What a text covers: its width as measured, the height of its letters.
ChartsRect TextBox(RecordingPainter& painter, const Drawn& words) {
  const double width = painter.TextWidth(words.text, words.pixels, words.bold);
  const double left = words.align == ChartsPainter::Align::Left    ? words.x
                      : words.align == ChartsPainter::Align::Right ? words.x - width
                                                                   : words.x - width / 2;
  return {left, words.middle - 0.4 * words.pixels, width, 0.8 * words.pixels};
}

TEST(ChartsDrawingTest, WithoutStatisticsTheChartsAreDrawnAsBefore) {
  // The listing of the charts of a made-up replicate, and of an empty
  // view, at the size the desktop program opens with and at its narrowest:
  // their digests as the drawing gave them before the Statistics panel, and
  // nothing of F_ST drawn.
  const CensusHistory history = MadeUpHistory();
  std::vector<std::uint64_t> digests;
  for (const CensusHistory* shown : {&history, static_cast<const CensusHistory*>(nullptr)}) {
    for (const auto& [width, height] : {std::pair{kWidth, kHeight}, std::pair{260.0, 240.0}}) {
      RecordingPainter painter;
      DrawCharts(painter, width, height, shown);
      digests.push_back(Digest(painter.Listing()));
      for (const Drawn& d : painter.drawn) EXPECT_EQ(d.text.find("F_ST"), std::string::npos) << d.text;
    }
  }
  EXPECT_EQ(digests, (std::vector<std::uint64_t>{9553975300199248253ULL, 12926537422668485529ULL,
                                                  10978651476167484186ULL, 17471990239013355839ULL}));
  EXPECT_EQ(ChartsInWords(&history).find("F_ST"), std::string::npos);
}

TEST(ChartsDrawingTest, StatisticsDrawFstBetweenTheHabitatsByLocusWithGapsWhereUndefined) {
  // The made-up replicate with Statistics: a fourth panel under the loci's,
  // its title and a legend naming the loci, the y axis 0 to 1 labelled,
  // and one line for each locus whose every point is F_ST by its
  // definition at the generation it stands for. No line crosses the
  // generations with habitat 1 empty, nor starts before the alleles vary.
  const CensusHistory history = MadeUpHistory();
  RecordingPainter painter;
  DrawCharts(painter, kWidth, kHeight, &history, /*statistics=*/true);
  const ChartsLayout layout(kWidth, kHeight, painter, true);
  const GenerationAxis axis(&history);
  ASSERT_GT(layout.fst.height, 40);
  EXPECT_GE(layout.fst.top, layout.panels[2].bottom() + 30);
  EXPECT_LE(layout.fst.bottom() + 18, kHeight);

  auto drawnText = [&](const std::string& text, double near) {
    return std::any_of(painter.drawn.begin(), painter.drawn.end(), [&](const Drawn& d) {
      return d.kind == Drawn::Words && d.text == text && d.middle > layout.panels[2].bottom() + 20 &&
             d.middle < near;
    });
  };
  EXPECT_TRUE(drawnText(kFstTitle, layout.fst.top));
  for (const char* title : kLocusTitles) EXPECT_TRUE(drawnText(title, layout.fst.top)) << title;
  for (const char* label : {"0", "0.25", "0.5", "0.75", "1"}) EXPECT_TRUE(drawnText(label, layout.fst.bottom() + 2)) << label;

  const auto lines = FstLines(painter, layout, axis);
  double highestDrawn = 0, highest = 0;
  for (long g = history.FirstGeneration(); g <= history.LastGeneration(); ++g) {
    for (int l = 0; l < kLoci; ++l) {
      const double fst = FstByDefinition(history, g, static_cast<Locus>(l));
      if (!std::isnan(fst)) highest = std::max(highest, fst);
    }
  }
  for (int l = 0; l < kLoci; ++l) {
    const auto& runs = lines[static_cast<std::size_t>(l)];
    ASSERT_GE(runs.size(), 2U) << "locus " << l << ": a line before the empty habitat and one after";
    bool before = false, after = false;
    for (const ChartRun& run : runs) {
      for (std::size_t i = 0; i < run.generations.size(); ++i) {
        const long g = run.generations[i];
        const double fst = FstByDefinition(history, g, static_cast<Locus>(l));
        ASSERT_FALSE(std::isnan(fst)) << "locus " << l << " drawn at generation " << g;
        EXPECT_NEAR(run.values[i], fst, 1e-9) << "locus " << l << ", generation " << g;
        highestDrawn = std::max(highestDrawn, run.values[i]);
        EXPECT_GT(g, 20);
        before = before || g < 150;
        after = after || g > 155;
        if (i > 0) {
          EXPECT_FALSE(run.generations[i - 1] < 150 && g > 155) << "locus " << l << " bridges the gap";
        }
      }
    }
    EXPECT_TRUE(before && after) << "locus " << l;
  }
  // The thinning keeps each column's extremes.
  EXPECT_NEAR(highestDrawn, highest, 1e-9);

  // A hover on a line tells its F_ST; the words for screen readers too.
  const long g = 100;
  const double fst = FstByDefinition(history, g, Locus::Mating);
  const double x = layout.fst.left + static_cast<double>(g - axis.first) * layout.fst.width /
                                         static_cast<double>(axis.last - axis.first);
  const auto told = DescribeChartsAt(kWidth, kHeight, &history, x, layout.fst.bottom() - fst * layout.fst.height,
                                     painter, true);
  ASSERT_TRUE(told.has_value());
  EXPECT_NE(told->find("Generation 100: F_ST at"), std::string::npos) << *told;
  EXPECT_NE(ChartsInWords(&history, true).find("F_ST between the habitats: habitat specialization"),
            std::string::npos);
}

TEST(ChartsDrawingTest, WithStatisticsEveryLabelStandsApartInsideTheViewAndTheFstLinesAreThinned) {
  // 100,000 generations in views of several sizes, the least among them:
  // every text of the panels inside the view and clear of the others
  // (the legend on more rows where the width runs out), and each locus's
  // line no more than two points a column, as the other panels' lines, up
  // to the last column.
  const CensusHistory history = MadeUpHistory(100000);
  for (const auto& [width, height] : {std::pair{kWidth, kHeight}, std::pair{260.0, ChartsMinimumHeight(true)}, std::pair{900.0, 1000.0}}) {
    RecordingPainter painter;
    DrawCharts(painter, width, height, &history, true);
    const ChartsLayout layout(width, height, painter, true);
    std::vector<ChartsRect> boxes;
    for (const Drawn& d : painter.drawn) {
      if (d.kind != Drawn::Words || d.middle < layout.panels[0].top - 30) continue;
      const ChartsRect box = TextBox(painter, d);
      EXPECT_GE(box.left, 0) << d.text << " at " << width;
      EXPECT_LE(box.right(), width) << d.text << " at " << width;
      EXPECT_LE(box.bottom(), height) << d.text << " at " << width;
      for (const ChartsRect& other : boxes) EXPECT_FALSE(box.Intersects(other)) << d.text << " at " << width;
      boxes.push_back(box);
    }
    EXPECT_GE(boxes.size(), 30U);
    const auto lines = FstLines(painter, layout, GenerationAxis(&history));
    const auto columns = static_cast<std::size_t>(layout.fst.width / 2);
    for (int l = 0; l < kLoci; ++l) {
      std::size_t points = 0;
      long last = 0;
      for (const ChartRun& run : lines[static_cast<std::size_t>(l)]) {
        points += run.generations.size();
        last = std::max(last, run.generations.back());
      }
      EXPECT_LE(points, 2 * columns) << "locus " << l << " at " << width;
      EXPECT_GT(points, columns / 2) << "locus " << l << " at " << width;
      EXPECT_GT(last, 100000 - 2 * 100000 / static_cast<long>(columns)) << "locus " << l << " at " << width;
    }
  }
}

// Fonts and widgets need an application object; made once, on first use.
void EnsureApplication() {
  static QApplication* application = [] {
    static int argc = 1;
    static char name[] = "charts_drawing_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)application;
}

QImage Painted(QSize size, const CensusHistory* history, bool statistics) {
  QImage image(size, QImage::Format_RGB32);
  QPainter painter(&image);
  gui::PaintCharts(painter, size, history, statistics);
  return image;
}

TEST(ChartsDrawingTest, TheStatisticsCheckBoxRedrawsTheDesktopChartsWithTheFstPanelAndWithoutIt) {
  // The desktop program's Charts panel: the "Statistics" check box under
  // the charts, off at first; checked, the view is drawn again with the
  // F_ST panel, unchecked as before.
  EnsureApplication();
  const CensusHistory history = MadeUpHistory();
  gui::ChartsPanel panel;
  panel.resize(460, 600);
  panel.show();
  QCheckBox* box = panel.statisticsBox();
  EXPECT_EQ(box->text(), QStringLiteral("Statistics"));
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(box->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
  gui::ChartsView* charts = panel.charts();
  EXPECT_LE(charts->geometry().bottom(), box->geometry().top());
  charts->ShowHistory(&history);
  const QSize size = charts->size();
  const QImage without = Painted(size, &history, false), with = Painted(size, &history, true);
  ASSERT_NE(without, with);
  auto grabbed = [&] { return charts->grab().toImage().convertToFormat(QImage::Format_RGB32); };
  EXPECT_EQ(grabbed(), without);

  box->click();
  EXPECT_TRUE(charts->statistics());
  EXPECT_EQ(grabbed(), with);
  EXPECT_NE(charts->accessibleDescription().indexOf(QStringLiteral("F_ST")), -1);
  box->click();
  EXPECT_FALSE(charts->statistics());
  EXPECT_EQ(grabbed(), without);
}

}  // namespace
}  // namespace talveron::app
