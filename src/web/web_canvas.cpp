#include "web/web_canvas.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "app/drawing/raster.h"

namespace talveron::web {

namespace {

using app::IsEmpty;
using app::PixelBuffer;
using app::Raster;

const std::uint32_t kWhite = app::RgbaPixel(0xFFFFFFu);

QdRect Union(const QdRect& a, const QdRect& b) {
  if (IsEmpty(a)) return b;
  if (IsEmpty(b)) return a;
  return QdRect{std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
                std::max(a.right, b.right)};
}

QdRect Clip(const QdRect& r, int width, int height) {
  return QdRect{std::max(r.top, 0), std::max(r.left, 0), std::min(r.bottom, height), std::min(r.right, width)};
}

bool WholePort(const QdRect& r, Port port) {
  const QdRect bounds = app::PortBounds(port);
  return r.top <= 0 && r.left <= 0 && r.bottom >= bounds.bottom && r.right >= bounds.right;
}

// One operation's shape drawn with `colour` (the text is not drawn here).
void DrawShape(Raster& raster, int kind, const QdRect& r, std::uint32_t colour) {
  switch (kind) {
    case 0: raster.Frame(r, colour); break;
    case 1: raster.Fill(r, colour); break;
    case 2: raster.Oval(r, colour); break;
    case 3: raster.Line(r.left, r.top, r.right, r.bottom, colour); break;
    default: break;
  }
}

std::uint32_t Blend(std::uint32_t under, std::uint32_t over, unsigned alpha) {
  std::uint32_t result = 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const unsigned a = (over >> shift) & 0xFFu;
    const unsigned b = (under >> shift) & 0xFFu;
    result |= ((a * alpha + b * (255u - alpha) + 127u) / 255u) << shift;
  }
  return result;
}

}  // namespace

WebCanvas::WebCanvas(TextSource& text) : textSource_(text) {
  for (Port port : {Port::View, Port::Text, Port::Graph, Port::Time}) {
    Surface& s = surfaces_[Index(port)];
    s.colour = app::RgbaPixel(app::ColourRgb(QdColor::Black));
    s.scale = 0;  // drawn at the first SetScale
    SetScale(port, 1.0);
  }
}

void WebCanvas::SetScale(Port port, double scale) {
  Surface& s = surfaces_[Index(port)];
  if (scale == s.scale) return;
  const QdRect natural = app::PortBounds(port);
  s.scale = scale;
  const Raster measure(PixelBuffer{}, scale, natural.right, natural.bottom);
  s.width = measure.Edge(natural.right);
  s.height = measure.Edge(natural.bottom);
  s.pixels.assign(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height), kWhite);
  Compact(s);
  for (const Operation& op : s.operations) Render(s, op);
  s.changed = QdRect{0, 0, s.height, s.width};
}

QdRect WebCanvas::TakeChanged(Port port) {
  Surface& s = surfaces_[Index(port)];
  const QdRect changed = Clip(s.changed, s.width, s.height);
  s.changed = QdRect{};
  return IsEmpty(changed) ? QdRect{} : changed;
}

void WebCanvas::ForeColor(QdColor colour) { surface().colour = app::RgbaPixel(app::ColourRgb(colour)); }

void WebCanvas::FrameRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Add(s, Operation{Kind::Frame, s.colour, r});
}

void WebCanvas::PaintRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Add(s, Operation{Kind::Paint, s.colour, r});
}

void WebCanvas::EraseRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Add(surface(), Operation{Kind::Paint, kWhite, r});
}

void WebCanvas::PaintOval(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Add(s, Operation{Kind::Oval, s.colour, r});
}

void WebCanvas::MoveTo(int h, int v) {
  Surface& s = surface();
  s.penH = h;
  s.penV = v;
}

void WebCanvas::LineTo(int h, int v) {
  Surface& s = surface();
  Add(s, Operation{Kind::Line, s.colour, QdRect{s.penV, s.penH, v, h}});
  s.penH = h;
  s.penV = v;
}

void WebCanvas::DrawString(std::string_view text) {
  if (text.empty()) return;
  Surface& s = surface();
  Operation op{Kind::Text, s.colour, QdRect{s.penV, s.penH, s.penV, s.penH}};
  op.text = Intern(text);
  op.size = static_cast<short>(s.size);
  op.face = static_cast<short>(s.face & 1);
  const int advance = static_cast<int>(Measured(op.text, op.size, op.face).advance);
  Add(s, op);
  s.penH += advance;
}

int WebCanvas::StringWidth(std::string_view text) {
  if (text.empty()) return 0;
  const Surface& s = surface();
  return static_cast<int>(Measured(Intern(text), s.size > 0 ? s.size : 12, s.face & 1).advance);
}

void WebCanvas::TextSize(int points) { surface().size = points > 0 ? points : 12; }

void WebCanvas::TextFace(int style) { surface().face = style; }

int WebCanvas::Intern(std::string_view text) {
  const auto found = textIds_.find(std::string(text));
  if (found != textIds_.end()) return found->second;
  texts_.emplace_back(text);
  const int id = static_cast<int>(texts_.size() - 1);
  textIds_.emplace(texts_.back(), id);
  return id;
}

const TextSource::Measure& WebCanvas::Glyph(char c, int size, int face) {
  const auto key = std::make_tuple(c, size, face);
  auto found = glyphs_.find(key);
  if (found == glyphs_.end()) found = glyphs_.emplace(key, textSource_.MeasureGlyph(c, size, face)).first;
  return found->second;
}

const TextSource::Mask& WebCanvas::GlyphMask(char c, int size, int face, double scale) {
  const auto key = std::make_tuple(c, size, face, scale);
  auto found = masks_.find(key);
  if (found == masks_.end()) found = masks_.emplace(key, textSource_.RenderGlyph(c, size, face, scale)).first;
  return found->second;
}

// The characters side by side, each at the sum of the advances before it.
const TextSource::Measure& WebCanvas::Measured(int text, int size, int face) {
  if (measures_.size() > 20000) measures_.clear();  // numbers change every generation
  const auto key = std::make_tuple(text, size, face);
  auto found = measures_.find(key);
  if (found != measures_.end()) return found->second;
  TextSource::Measure measure;
  bool first = true;
  for (char c : texts_[static_cast<std::size_t>(text)]) {
    const TextSource::Measure& glyph = Glyph(c, size, face);
    const int at = static_cast<int>(std::floor(measure.advance));
    if (glyph.right >= glyph.left) {
      measure.left = first ? at + glyph.left : std::min(measure.left, at + glyph.left);
      measure.top = first ? glyph.top : std::min(measure.top, glyph.top);
      measure.right = first ? at + glyph.right + 1 : std::max(measure.right, at + glyph.right + 1);
      measure.bottom = first ? glyph.bottom : std::max(measure.bottom, glyph.bottom);
      first = false;
    }
    measure.advance += glyph.advance;
  }
  measure.advance = std::round(measure.advance);
  return measures_.emplace(key, measure).first->second;
}

void WebCanvas::Add(Surface& s, const Operation& op) {
  // Erasing or painting the whole port leaves nothing of what came before.
  if (op.kind == Kind::Paint && WholePort(op.rect, PortOf(s))) s.operations.clear();
  s.operations.push_back(op);
  s.changed = Union(s.changed, Render(s, op));
  if (s.operations.size() >= s.compactAt) Compact(s);
}

QdRect WebCanvas::Render(Surface& s, const Operation& op) {
  const QdRect natural = app::PortBounds(PortOf(s));
  Raster raster(PixelBuffer{s.pixels.data(), s.width, s.width, s.height}, s.scale, natural.right, natural.bottom);
  const QdRect& r = op.rect;
  switch (op.kind) {
    case Kind::Paint:
      if (WholePort(r, PortOf(s))) {
        std::fill(s.pixels.begin(), s.pixels.end(), op.colour);
        return QdRect{0, 0, s.height, s.width};
      }
      [[fallthrough]];
    case Kind::Frame:
    case Kind::Oval:
      DrawShape(raster, static_cast<int>(op.kind), r, op.colour);
      return raster.Map(r);
    case Kind::Line: {
      DrawShape(raster, static_cast<int>(op.kind), r, op.colour);
      const QdRect box{std::min(r.top, r.bottom), std::min(r.left, r.right), std::max(r.top, r.bottom) + 1,
                       std::max(r.left, r.right) + 1};
      return raster.Map(box);
    }
    case Kind::Text: {
      QdRect touched{};
      double at = r.left;
      for (char c : texts_[static_cast<std::size_t>(op.text)]) {
        const TextSource::Mask& mask = GlyphMask(c, op.size, op.face, s.scale);
        const int left = static_cast<int>(std::lround(at * s.scale)) + mask.originH;
        const int top = raster.Edge(r.top) + mask.originV;
        at += Glyph(c, op.size, op.face).advance;
        for (int y = std::max(0, -top); y < mask.height && top + y < s.height; ++y) {
          std::uint32_t* row = s.pixels.data() + static_cast<std::size_t>(top + y) * static_cast<std::size_t>(s.width);
          const std::uint8_t* alpha = mask.alpha.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(mask.width);
          for (int x = std::max(0, -left); x < mask.width && left + x < s.width; ++x) {
            const unsigned a = alpha[x];
            if (a == 0) continue;
            row[left + x] = a == 255 ? op.colour : Blend(row[left + x], op.colour, a);
          }
        }
        if (mask.width > 0) touched = Union(touched, QdRect{top, left, top + mask.height, left + mask.width});
      }
      return touched;
    }
  }
  return QdRect{};
}

// Keeps the operations of which a pixel still shows at scale 1. Every shape
// is drawn once more, at scale 1, with its own number for a colour: a
// number left in the picture is a shape that shows. A text shows when a
// pixel of its ink was not drawn over after it and the same text is not
// drawn again in the same place.
void WebCanvas::Compact(Surface& s) {
  const QdRect natural = app::PortBounds(PortOf(s));
  const int width = natural.right, height = natural.bottom;
  std::vector<std::uint32_t> owner(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  Raster raster(PixelBuffer{owner.data(), width, width, height}, 1.0, width, height);
  const std::size_t count = s.operations.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Operation& op = s.operations[i];
    if (op.kind != Kind::Text) DrawShape(raster, static_cast<int>(op.kind), op.rect, static_cast<std::uint32_t>(i + 1));
  }
  std::vector<char> keep(count, 0);
  for (std::uint32_t number : owner) {
    if (number != 0) keep[number - 1] = 1;
  }
  std::set<std::tuple<int, int, int, std::uint32_t, int, int>> drawnLater;
  for (std::size_t i = count; i-- > 0;) {
    const Operation& op = s.operations[i];
    if (op.kind != Kind::Text) continue;
    if (!drawnLater.emplace(op.text, op.size, op.face, op.colour, op.rect.left, op.rect.top).second) continue;
    const TextSource::Measure& m = Measured(op.text, op.size, op.face);
    const QdRect ink = Clip(QdRect{op.rect.top + m.top, op.rect.left + m.left, op.rect.top + m.bottom + 1,
                                   op.rect.left + m.right + 1},
                            width, height);
    for (int v = ink.top; v < ink.bottom && !keep[i]; ++v) {
      for (int h = ink.left; h < ink.right; ++h) {
        if (owner[static_cast<std::size_t>(v) * static_cast<std::size_t>(width) + static_cast<std::size_t>(h)] <= i) {
          keep[i] = 1;
          break;
        }
      }
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (keep[i]) s.operations[kept++] = s.operations[i];
  }
  s.operations.resize(kept);
  s.compactAt = std::max<std::size_t>(4096, 2 * kept);
}

}  // namespace talveron::web
