#include "gui/qt_canvas.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace talveron::app {

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;

// Direct pixel access: every shape is a set of horizontal spans.
class Pixels {
 public:
  explicit Pixels(QImage& image)
      : bits_(image.bits()),
        stride_(image.bytesPerLine()),
        width_(image.width()),
        height_(image.height()) {}

  // Pixels h1..h2 of row v, both included, clipped to the image.
  void Span(int v, int h1, int h2, QRgb colour) {
    if (v < 0 || v >= height_) return;
    h1 = std::max(h1, 0);
    h2 = std::min(h2, width_ - 1);
    if (h1 > h2) return;
    QRgb* row = reinterpret_cast<QRgb*>(bits_ + static_cast<std::ptrdiff_t>(v) * stride_);
    std::fill(row + h1, row + h2 + 1, colour);
  }

  void Dot(int h, int v, QRgb colour) { Span(v, h, h, colour); }

  // The pixels left..right-1 by top..bottom-1.
  void Fill(const QdRect& r, QRgb colour) {
    const int top = std::max(r.top, 0);
    const int bottom = std::min(r.bottom, height_);
    for (int v = top; v < bottom; ++v) Span(v, r.left, r.right - 1, colour);
  }

 private:
  uchar* bits_;
  qsizetype stride_;
  int width_;
  int height_;
};

bool IsEmpty(const QdRect& r) { return r.right <= r.left || r.bottom <= r.top; }

}  // namespace

// --- CanvasWidget ---

CanvasWidget::CanvasWidget(const QImage* image, QWidget* parent)
    : QWidget(parent), image_(image), size_(image->size()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(size_);
}

QSize CanvasWidget::sizeHint() const { return size_; }
QSize CanvasWidget::minimumSizeHint() const { return size_; }

void CanvasWidget::ScheduleRepaint() {
  if (repaintPending_) return;
  repaintPending_ = true;
  update();
}

void CanvasWidget::Detach() {
  image_ = nullptr;
  update();
}

void CanvasWidget::paintEvent(QPaintEvent* event) {
  repaintPending_ = false;
  QPainter painter(this);
  const QRect area = event->rect();
  painter.fillRect(area, Qt::white);
  if (image_ != nullptr) painter.drawImage(area.topLeft(), *image_, area);
}

void CanvasWidget::showEvent(QShowEvent* event) {
  // A hidden widget drops its update requests; showing it paints it whole.
  repaintPending_ = false;
  QWidget::showEvent(event);
}

// --- QtCanvas ---

QtCanvas::QtCanvas() {
  for (Port port : {Port::View, Port::Text, Port::Graph, Port::Time}) {
    const QdRect bounds = PortBounds(port);
    Surface& s = surfaces_[Index(port)];
    s.image = QImage(bounds.right, bounds.bottom, QImage::Format_RGB32);
    s.image.fill(kWhite);
    s.colour = Rgb(QdColor::Black);
  }
}

QtCanvas::~QtCanvas() {
  for (Surface& s : surfaces_) {
    if (s.widget.isNull()) continue;
    if (s.widget->parent() == nullptr) {
      delete s.widget.data();
    } else {
      s.widget->Detach();
    }
  }
}

QRgb QtCanvas::Rgb(QdColor colour) {
  switch (colour) {
    case QdColor::Black: return qRgb(0x00, 0x00, 0x00);
    case QdColor::White: return qRgb(0xFF, 0xFF, 0xFF);
    case QdColor::Red: return qRgb(0xDD, 0x08, 0x06);
    case QdColor::Blue: return qRgb(0x00, 0x00, 0xD4);
    case QdColor::Yellow: return qRgb(0xFC, 0xF3, 0x05);
  }
  return qRgb(0x00, 0x00, 0x00);
}

QdRect QtCanvas::GetPortBounds() const {
  const QImage& img = image(current_);
  return QdRect{0, 0, img.height(), img.width()};
}

QWidget* QtCanvas::widget(Port port) {
  Surface& s = surfaces_[Index(port)];
  if (s.widget.isNull()) s.widget = new CanvasWidget(&s.image);
  return s.widget.data();
}

void QtCanvas::Changed(Surface& s) {
  if (!s.widget.isNull()) s.widget->ScheduleRepaint();
}

void QtCanvas::ForeColor(QdColor colour) { surface().colour = Rgb(colour); }

void QtCanvas::FrameRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Pixels pixels(s.image);
  pixels.Span(r.top, r.left, r.right - 1, s.colour);
  pixels.Span(r.bottom - 1, r.left, r.right - 1, s.colour);
  for (int v = r.top + 1; v < r.bottom - 1; ++v) {
    pixels.Dot(r.left, v, s.colour);
    pixels.Dot(r.right - 1, v, s.colour);
  }
  Changed(s);
}

void QtCanvas::PaintRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Pixels(s.image).Fill(r, s.colour);
  Changed(s);
}

void QtCanvas::EraseRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Pixels(s.image).Fill(r, kWhite);
  Changed(s);
}

void QtCanvas::PaintOval(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Pixels pixels(s.image);
  // A pixel belongs to the oval when its centre lies inside the ellipse
  // inscribed in r. Doubled offsets from the centre keep this exact in
  // integers: (X / w)^2 + (Y / h)^2 <= 1 with X = 2x + 1 - w, Y = 2y + 1 - h.
  const std::int64_t w = r.right - r.left;
  const std::int64_t h = r.bottom - r.top;
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
    if (x >= (w + 1) / 2) continue;
    pixels.Span(r.top + static_cast<int>(y), r.left + static_cast<int>(x),
                r.right - 1 - static_cast<int>(x), s.colour);
  }
  Changed(s);
}

void QtCanvas::MoveTo(int h, int v) {
  Surface& s = surface();
  s.penH = h;
  s.penV = v;
}

void QtCanvas::LineTo(int h, int v) {
  Surface& s = surface();
  Pixels pixels(s.image);
  int h0 = s.penH;
  int v0 = s.penV;
  if (v0 == v) {
    pixels.Span(v, std::min(h0, h), std::max(h0, h), s.colour);
  } else if (h0 == h) {
    for (int y = std::min(v0, v); y <= std::max(v0, v); ++y) pixels.Dot(h, y, s.colour);
  } else {
    // Bresenham, both end points included.
    const int dh = std::abs(h - h0);
    const int dv = -std::abs(v - v0);
    const int stepH = h0 < h ? 1 : -1;
    const int stepV = v0 < v ? 1 : -1;
    int error = dh + dv;
    for (;;) {
      pixels.Dot(h0, v0, s.colour);
      if (h0 == h && v0 == v) break;
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
  s.penH = h;
  s.penV = v;
  Changed(s);
}

const QFont& QtCanvas::FontFor(int size, int face) {
  const auto key = std::make_pair(size, face & 1);
  auto found = fonts_.find(key);
  if (found == fonts_.end()) {
    QFont font = QGuiApplication::font();
    font.setStyleHint(QFont::SansSerif, QFont::NoAntialias);
    font.setPixelSize(size);
    font.setBold((face & 1) != 0);
    found = fonts_.emplace(key, font).first;
  }
  return found->second;
}

void QtCanvas::DrawString(std::string_view text) {
  if (text.empty()) return;
  Surface& s = surface();
  const QString string = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  const QFont& font = FontFor(s.size, s.face);
  {
    QPainter painter(&s.image);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(s.colour));
    painter.drawText(QPoint(s.penH, s.penV), string);
  }
  s.penH += QFontMetrics(font, &s.image).horizontalAdvance(string);
  Changed(s);
}

void QtCanvas::TextSize(int points) {
  // Size 0 is the font's own size.
  surface().size = points > 0 ? points : 12;
}

void QtCanvas::TextFace(int style) { surface().face = style; }

}  // namespace talveron::app
