// The Charts' drawing, recorded operation by operation with a painter whose
// type has a fixed width, so that what is drawn does not hang on the fonts
// at hand: without Statistics the drawing is the one it always was; with
// them a panel of F_ST between the habitats joins the loci's panels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "app/charts_drawing.h"
#include "model/census.h"
#include "record/census_history.h"

namespace talveron::app {
namespace {

struct Drawn {
  enum Kind { Fill, Stroke, Line, Words, ClipOn, ClipOff } kind;
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
  void FillRect(const ChartsRect& r, std::uint32_t colour) override { drawn.push_back({Drawn::Fill, r, {}, colour}); }
  void StrokeRect(const ChartsRect& r, std::uint32_t colour) override {
    drawn.push_back({Drawn::Stroke, r, {}, colour});
  }
  void Polyline(const std::vector<ChartsPoint>& points, std::uint32_t colour, double width, Dash dash) override {
    drawn.push_back({Drawn::Line, {}, points, colour, width, dash});
  }
  void Text(const std::string& text, double x, double middle, int pixels, bool bold, Align align,
            std::uint32_t colour) override {
    Drawn words{Drawn::Words};
    words.text = text;
    words.x = x;
    words.middle = middle;
    words.pixels = pixels;
    words.bold = bold;
    words.align = align;
    words.colour = colour;
    drawn.push_back(words);
  }
  // Six tenths of the type's size a character, a tenth more in bold.
  double TextWidth(const std::string& text, int pixels, bool bold) override {
    return static_cast<double>(text.size()) * pixels * (bold ? 0.66 : 0.6);
  }
  void Clip(const ChartsRect& r) override { drawn.push_back({Drawn::ClipOn, r}); }
  void Unclip() override { drawn.push_back({Drawn::ClipOff}); }

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

TEST(ChartsDrawingTest, WithoutStatisticsTheChartsAreDrawnAsBefore) {
  // The listing of the charts of a made-up replicate, and of an empty
  // view, at the size the desktop program opens with and at its narrowest:
  // their digests as the drawing gave them before the Statistics panel.
  const CensusHistory history = MadeUpHistory();
  std::vector<std::uint64_t> digests;
  for (const CensusHistory* shown : {&history, static_cast<const CensusHistory*>(nullptr)}) {
    for (const auto& [width, height] : {std::pair{kWidth, kHeight}, std::pair{260.0, 240.0}}) {
      RecordingPainter painter;
      DrawCharts(painter, width, height, shown);
      digests.push_back(Digest(painter.Listing()));
    }
  }
  for (std::uint64_t d : digests) std::printf("%llu\n", static_cast<unsigned long long>(d));
}

}  // namespace
}  // namespace talveron::app
