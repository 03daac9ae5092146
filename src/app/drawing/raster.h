// The shapes of the views as pixels: one rasterizer for every program that
// shows them, so the same drawing gives the same pixels on every platform.
// It draws into a buffer of 32-bit pixels at `scale` device pixels to a
// pixel of the port: the port's pixel edge x lies at device edge
// round(x * scale), and a shape one pixel wide stays at least one device
// pixel wide. Every shape is a set of horizontal spans; at scale 1 they are
// exactly the port's pixels. What a pixel value means (its byte order) is
// the caller's: the raster only stores the values it is given.
#pragma once

#include <cstdint>
#include <optional>

#include "app/drawing/canvas.h"

namespace talveron::app {

// The colour drawn for each colour constant, as 0xRRGGBB.
std::uint32_t ColourRgb(QdColor colour);

// The same as four bytes R, G, B, A (alpha opaque) read as one value on a
// little-endian machine: the order of a web canvas's pixels.
constexpr std::uint32_t RgbaPixel(std::uint32_t rgb) {
  return 0xFF000000u | ((rgb & 0xFFu) << 16) | (rgb & 0xFF00u) | ((rgb >> 16) & 0xFFu);
}

struct PixelBuffer {
  std::uint32_t* pixels = nullptr;
  int stride = 0;  // pixels from one row to the next
  int width = 0;
  int height = 0;
};

inline bool IsEmpty(const QdRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// The pixels of a straight line, end points included, when it is
// horizontal or vertical; nothing otherwise.
std::optional<QdRect> StraightLine(const QdRect& line);

// True when the centre of every pixel of the rectangle with corners
// (left, top) and (right, bottom), both included, lies inside the ellipse
// inscribed in `oval`: the oval then hides all of it.
bool InsideOval(const QdRect& oval, int left, int top, int right, int bottom);

// Visits the pixels of a line, both end points included (Bresenham).
template <typename Visit>
void LinePixels(int h0, int v0, int h1, int v1, Visit visit) {
  const int dh = h1 > h0 ? h1 - h0 : h0 - h1;
  const int dv = -(v1 > v0 ? v1 - v0 : v0 - v1);
  const int stepH = h0 < h1 ? 1 : -1;
  const int stepV = v0 < v1 ? 1 : -1;
  int error = dh + dv;
  for (;;) {
    visit(h0, v0);
    if (h0 == h1 && v0 == v1) break;
    const int twice = 2 * error;
    if (twice >= dv) {
      error += dv;
      h0 += stepH;
    }
    if (twice <= dh) {
      error += dh;
      v0 += stepV;
    }
  }
}

class Raster {
 public:
  // `naturalWidth` and `naturalHeight` are the port's size in its own pixels.
  Raster(PixelBuffer buffer, double scale, int naturalWidth, int naturalHeight)
      : buffer_(buffer), scale_(scale), naturalWidth_(naturalWidth), naturalHeight_(naturalHeight) {}

  // The device edge of the port's edge x.
  int Edge(int x) const;
  // The device pixels of the port's rectangle r. Below scale 1 the port's
  // last pixel may begin at the buffer's far edge: it then takes the
  // buffer's last pixel, so a shape on the port's edge still shows.
  QdRect Map(const QdRect& r) const;

  void Fill(const QdRect& r, std::uint32_t colour);
  void Dot(int h, int v, std::uint32_t colour) { Fill(QdRect{v, h, v + 1, h + 1}, colour); }
  // The one-pixel outline inside r.
  void Frame(const QdRect& r, std::uint32_t colour);
  // A device pixel belongs to the oval when its centre lies inside the
  // ellipse inscribed in the mapped rectangle.
  void Oval(const QdRect& r, std::uint32_t colour);
  // From (h0, v0) to (h1, v1), both end points drawn.
  void Line(int h0, int v0, int h1, int v1, std::uint32_t colour);
  // Every pixel of the buffer.
  void Clear(std::uint32_t colour);

 private:
  // Device pixels h1..h2 of row v, both included, clipped to the buffer.
  void Span(int v, int h1, int h2, std::uint32_t colour);

  PixelBuffer buffer_;
  double scale_;
  int naturalWidth_;
  int naturalHeight_;
};

}  // namespace talveron::app
