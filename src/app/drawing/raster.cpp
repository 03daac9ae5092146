#include "app/drawing/raster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace talveron::app {

std::uint32_t ColourRgb(QdColor colour) {
  switch (colour) {
    case QdColor::Black: return 0x000000u;
    case QdColor::White: return 0xFFFFFFu;
    case QdColor::Red: return 0xDD0806u;
    case QdColor::Blue: return 0x0000D4u;
    case QdColor::Yellow: return 0xFCF305u;
  }
  return 0x000000u;
}

std::optional<QdRect> StraightLine(const QdRect& line) {
  const int v0 = line.top, h0 = line.left, v1 = line.bottom, h1 = line.right;
  if (v0 != v1 && h0 != h1) return std::nullopt;
  return QdRect{std::min(v0, v1), std::min(h0, h1), std::max(v0, v1) + 1, std::max(h0, h1) + 1};
}

bool InsideOval(const QdRect& oval, int left, int top, int right, int bottom) {
  const std::int64_t w = oval.right - oval.left;
  const std::int64_t h = oval.bottom - oval.top;
  for (int x : {left, right}) {
    for (int y : {top, bottom}) {
      const std::int64_t dx = 2 * static_cast<std::int64_t>(x) + 1 - (oval.left + oval.right);
      const std::int64_t dy = 2 * static_cast<std::int64_t>(y) + 1 - (oval.top + oval.bottom);
      if (dx * dx * h * h + dy * dy * w * w > w * w * h * h) return false;
    }
  }
  return true;
}

int Raster::Edge(int x) const {
  return scale_ == 1.0 ? x : static_cast<int>(std::floor(x * scale_ + 0.5));
}

QdRect Raster::Map(const QdRect& r) const {
  int top = Edge(r.top);
  int left = Edge(r.left);
  if (r.top < naturalHeight_ && top >= buffer_.height) top = buffer_.height - 1;
  if (r.left < naturalWidth_ && left >= buffer_.width) left = buffer_.width - 1;
  return QdRect{top, left, std::max(Edge(r.bottom), top + 1), std::max(Edge(r.right), left + 1)};
}

void Raster::Fill(const QdRect& r, std::uint32_t colour) {
  if (IsEmpty(r)) return;
  const QdRect d = Map(r);
  for (int v = std::max(d.top, 0); v < std::min(d.bottom, buffer_.height); ++v) Span(v, d.left, d.right - 1, colour);
}

void Raster::Frame(const QdRect& r, std::uint32_t colour) {
  Fill(QdRect{r.top, r.left, r.top + 1, r.right}, colour);
  Fill(QdRect{r.bottom - 1, r.left, r.bottom, r.right}, colour);
  Fill(QdRect{r.top + 1, r.left, r.bottom - 1, r.left + 1}, colour);
  Fill(QdRect{r.top + 1, r.right - 1, r.bottom - 1, r.right}, colour);
}

namespace {

// The pixels each row of an oval of w x h device pixels leaves out at
// either end, -1 for a row it leaves empty: the same for every oval of that
// size, so the few sizes drawn are worked out once. Doubled offsets from
// the centre keep the test exact in integers: (X / w)^2 + (Y / h)^2 <= 1
// with X = 2x + 1 - w, Y = 2y + 1 - h.
const std::vector<int>& OvalInsets(std::int64_t w, std::int64_t h) {
  struct Sized {
    std::int64_t w = -1, h = -1;
    std::vector<int> insets;
  };
#ifdef __EMSCRIPTEN__
  static std::array<Sized, 8> sizes;  // the page runs on one thread
  static std::size_t next = 0;
#else
  thread_local std::array<Sized, 8> sizes;
  thread_local std::size_t next = 0;
#endif
  for (const Sized& sized : sizes) {
    if (sized.w == w && sized.h == h) return sized.insets;
  }
  Sized& sized = sizes[next];
  next = (next + 1) % sizes.size();
  sized.w = w;
  sized.h = h;
  sized.insets.assign(static_cast<std::size_t>(h), -1);
  const std::int64_t limit = w * w * h * h;
  for (std::int64_t y = 0; y < h; ++y) {
    const std::int64_t dy = 2 * y + 1 - h;
    const std::int64_t rest = limit - dy * dy * w * w;
    std::int64_t x = 0;
    while (x < (w + 1) / 2) {
      const std::int64_t dx = 2 * x + 1 - w;
      if (dx * dx * h * h <= rest) break;
      ++x;
    }
    if (x < (w + 1) / 2) sized.insets[static_cast<std::size_t>(y)] = static_cast<int>(x);
  }
  return sized.insets;
}

}  // namespace

void Raster::Oval(const QdRect& r, std::uint32_t colour) {
  if (IsEmpty(r)) return;
  const QdRect d = Map(r);
  const std::vector<int>& insets = OvalInsets(d.right - d.left, d.bottom - d.top);
  for (std::size_t y = 0; y < insets.size(); ++y) {
    const int x = insets[y];
    if (x >= 0) Span(d.top + static_cast<int>(y), d.left + x, d.right - 1 - x, colour);
  }
}

void Raster::Line(int h0, int v0, int h1, int v1, std::uint32_t colour) {
  if (const auto straight = StraightLine(QdRect{v0, h0, v1, h1})) {
    Fill(*straight, colour);
  } else {
    LinePixels(h0, v0, h1, v1, [&](int h, int v) { Dot(h, v, colour); });
  }
}

void Raster::Clear(std::uint32_t colour) {
  for (int v = 0; v < buffer_.height; ++v) Span(v, 0, buffer_.width - 1, colour);
}

void Raster::Span(int v, int h1, int h2, std::uint32_t colour) {
  if (v < 0 || v >= buffer_.height) return;
  h1 = std::max(h1, 0);
  h2 = std::min(h2, buffer_.width - 1);
  if (h1 > h2) return;
  std::uint32_t* row = buffer_.pixels + static_cast<std::ptrdiff_t>(v) * buffer_.stride;
  std::fill(row + h1, row + h2 + 1, colour);
}

}  // namespace talveron::app
