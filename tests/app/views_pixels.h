// What the tests of the views' pictures share: the Qt canvas's pixels read
// back by colour and by box, individuals and census tables made up by hand.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <ostream>

#include "app/drawing/views.h"
#include "gui/qt_canvas.h"
#include "model/census.h"
#include "model/individual.h"

namespace talveron::app {

// Fonts and widgets need an application object; made once, on first use,
// so that listing the tests needs no display.
inline void EnsureApplication() {
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "views_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)application;
}

// Colours as 0xRRGGBB, without the alpha byte.
inline QRgb Rgb(QdColor colour) { return QtCanvas::Rgb(colour) & 0xFFFFFFu; }
inline const QRgb kBlack = Rgb(QdColor::Black);
inline const QRgb kWhite = Rgb(QdColor::White);
inline const QRgb kRed = Rgb(QdColor::Red);
inline const QRgb kBlue = Rgb(QdColor::Blue);
inline const QRgb kYellow = Rgb(QdColor::Yellow);

inline Individ MakeIndividual(int habitatPref, int habitatSpec, int matingPrefType) {
  Individ individual;
  individual.habitatPref = static_cast<std::uint8_t>(habitatPref);
  individual.habitatSpec = static_cast<std::uint8_t>(habitatSpec);
  individual.matingPrefType = static_cast<std::uint8_t>(matingPrefType);
  return individual;
}

// Adds n adults of habitat h with the given alleles to the census table.
inline void Add(GeneFrequencies& f, int habitat, int spec, int pref, int mating, int n) {
  f.count[habitat][spec][pref][mating] += n;
}

struct Box {
  int left = 0, top = 0, right = -1, bottom = -1;  // inclusive; empty when right < left
  int pixels = 0;
  bool operator==(const Box&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "h " << b.left << ".." << b.right << " v " << b.top << ".." << b.bottom
             << " (" << b.pixels << " px)";
}

class ViewsPixels : public ::testing::Test {
 protected:
  ViewsPixels() { EnsureApplication(); }

  QRgb Px(Port port, int h, int v) const { return canvas_.image(port).pixel(h, v) & 0xFFFFFFu; }

  // The bounding box of the pixels of one colour inside h0..h1 x v0..v1.
  Box BoxOf(Port port, QRgb colour, int h0, int v0, int h1, int v1) const {
    Box box{h1 + 1, v1 + 1, -1, -1, 0};
    for (int v = v0; v <= v1; ++v) {
      for (int h = h0; h <= h1; ++h) {
        if (Px(port, h, v) != colour) continue;
        box.left = std::min(box.left, h);
        box.right = std::max(box.right, h);
        box.top = std::min(box.top, v);
        box.bottom = std::max(box.bottom, v);
        ++box.pixels;
      }
    }
    if (box.pixels == 0) return Box{};
    return box;
  }

  // Pixels darker than mid grey inside h0..h1 x v0..v1: where text was drawn.
  int DarkPixels(Port port, int h0, int v0, int h1, int v1) const {
    int n = 0;
    for (int v = v0; v <= v1; ++v) {
      for (int h = h0; h <= h1; ++h) {
        if (qGray(canvas_.image(port).pixel(h, v)) < 128) ++n;
      }
    }
    return n;
  }

  // The bounding box of everything painted inside h0..h1 x v0..v1.
  Box PaintedBox(Port port, int h0, int v0, int h1, int v1) const {
    Box box{h1 + 1, v1 + 1, -1, -1, 0};
    for (int v = v0; v <= v1; ++v) {
      for (int h = h0; h <= h1; ++h) {
        if (Px(port, h, v) == kWhite) continue;
        box.left = std::min(box.left, h);
        box.right = std::max(box.right, h);
        box.top = std::min(box.top, v);
        box.bottom = std::max(box.bottom, v);
        ++box.pixels;
      }
    }
    if (box.pixels == 0) return Box{};
    return box;
  }

  bool AllWhite(Port port, int h0, int v0, int h1, int v1) const {
    return BoxOf(port, kWhite, h0, v0, h1, v1).pixels == (h1 - h0 + 1) * (v1 - v0 + 1);
  }

  DisplayFlags flags_;
  QtCanvas canvas_;
  Views views_{canvas_, flags_};
};

}  // namespace talveron::app
