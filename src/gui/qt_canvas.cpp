#include "gui/qt_canvas.h"

#include "app/drawing/raster.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace talveron::app {

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;
// Pixels a side of the areas that index the operations: the map's cells,
// 16 elsewhere.
int BucketSize(Port port) { return port == Port::View ? 10 : 16; }  // AreaOf knows both

// The colours a shape kept in a map area can take, by index.
constexpr QRgb kCellColours[] = {0xFFFFFFFFu, 0xFF000000u, 0xFFDD0806u, 0xFF0000D4u, 0xFFFCF305u};
int CellColour(QRgb colour) {
  for (int i = 0; i < static_cast<int>(std::size(kCellColours)); ++i) {
    if (kCellColours[i] == colour) return i;
  }
  return -1;
}

// The area of a coordinate, x / size, with the two sizes as constants.
inline int AreaOf(int x, int size) { return size == 10 ? x / 10 : x / 16; }

// The intersection of two rectangles, inline.
inline QRect Clip(const QRect& a, const QRect& b) {
  const int left = std::max(a.left(), b.left());
  const int top = std::max(a.top(), b.top());
  const int right = std::min(a.right(), b.right());
  const int bottom = std::min(a.bottom(), b.bottom());
  if (left > right || top > bottom) return QRect();
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

bool Within(const QRect& outer, const QRect& inner) {
  return inner.left() >= outer.left() && inner.right() <= outer.right() && inner.top() >= outer.top() &&
         inner.bottom() <= outer.bottom();
}
constexpr int kScaleSteps = 32;  // a widget's scale moves in steps of 1/32

QSize NaturalSize(Port port) {
  const QdRect bounds = PortBounds(port);
  return QSize(bounds.right, bounds.bottom);
}

QRect ToQRect(const QdRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

// True when the oval hides every pixel of `inner`.
bool InsideOval(const QdRect& oval, const QRect& inner) {
  return app::InsideOval(oval, inner.left(), inner.top(), inner.right(), inner.bottom());
}

// A raster on a QImage of 32-bit pixels.
Raster RasterOn(QImage& image, double scale, QSize natural) {
  const PixelBuffer buffer{reinterpret_cast<std::uint32_t*>(image.bits()), static_cast<int>(image.bytesPerLine() / 4),
                           image.width(), image.height()};
  return Raster(buffer, scale, natural.width(), natural.height());
}

}  // namespace

// --- CanvasWidget ---

CanvasWidget::CanvasWidget(QtCanvas* canvas, Port port, QWidget* parent)
    : QWidget(parent), canvas_(canvas), port_(port), natural_(NaturalSize(port)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize CanvasWidget::sizeHint() const {
  return QSize(static_cast<int>(std::lround(natural_.width() * zoom_)),
               static_cast<int>(std::lround(natural_.height() * zoom_)));
}

QSize CanvasWidget::minimumSizeHint() const { return natural_ / 4; }

void CanvasWidget::SetZoom(double zoom) {
  zoom_ = zoom;
  updateGeometry();
  update();
}

double CanvasWidget::FitScale() const {
  const double fit = std::min(static_cast<double>(width()) / natural_.width(),
                              static_cast<double>(height()) / natural_.height());
  return std::max(std::floor(fit * kScaleSteps), 1.0) / kScaleSteps;
}

void CanvasWidget::ScheduleRepaint() {
  if (repaintPending_) return;
  repaintPending_ = true;
  pendingAreas_.clear();
  update();
}

// A few areas are repainted apart; beyond them the whole widget is. An
// area inside one already asked for asks for nothing.
void CanvasWidget::ScheduleRepaint(const QRect& area) {
  if (repaintPending_) return;
  if (canvas_ == nullptr || !isVisible()) {
    ScheduleRepaint();
    return;
  }
  const double scale = canvas_->scale(port_) / devicePixelRatioF();
  const QRectF view = ViewRect(canvas_->image(port_).size());
  // Smooth text and shapes at other scales may reach a pixel beyond their
  // bounds.
  const int margin = scale == 1.0 ? 0 : 2;
  const QRect shown = QRect(QPoint(static_cast<int>(std::floor(view.left() + area.left() * scale)) - margin,
                                   static_cast<int>(std::floor(view.top() + area.top() * scale)) - margin),
                            QPoint(static_cast<int>(std::ceil(view.left() + (area.right() + 1) * scale)) + margin - 1,
                                   static_cast<int>(std::ceil(view.top() + (area.bottom() + 1) * scale)) + margin - 1)) &
                      rect();
  if (shown.isEmpty()) return;
  for (const QRect& pending : pendingAreas_) {
    if (pending.contains(shown)) return;
  }
  if (static_cast<int>(pendingAreas_.size()) == kPendingAreas) {
    ScheduleRepaint();
    return;
  }
  pendingAreas_.push_back(shown);
  update(shown);
}

void CanvasWidget::Detach() {
  canvas_ = nullptr;
  update();
}

QRectF CanvasWidget::ViewRect(const QSize& image) const {
  const QSizeF shown = QSizeF(image) / devicePixelRatioF();
  const QPoint origin(static_cast<int>((width() - shown.width()) / 2), static_cast<int>((height() - shown.height()) / 2));
  return QRectF(origin, shown);
}

// The view sits in the middle of the widget; what is left around it shows
// the window's background. Only the parts asked for are drawn.
void CanvasWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  repaintPending_ = false;
  pendingAreas_.clear();
  if (canvas_ == nullptr) {
    painter.fillRect(rect(), Qt::white);
    return;
  }
  const double ratio = devicePixelRatioF();
  const double scale = FitScale() * ratio;
  if (canvas_->scale(port_) != scale) {
    canvas_->SetScale(port_, scale);
    repaintPending_ = false;
    pendingAreas_.clear();
    if (!event->rect().contains(rect())) update();  // the whole view is new
  }
  canvas_->Refresh(port_);
  const QImage& image = canvas_->image(port_);
  const QRectF view = ViewRect(image.size());
  const QColor background = palette().color(QPalette::Window);
  painter.fillRect(QRectF(0, 0, width(), view.top()), background);
  painter.fillRect(QRectF(0, view.bottom(), width(), height() - view.bottom()), background);
  painter.fillRect(QRectF(0, view.top(), view.left(), view.height()), background);
  painter.fillRect(QRectF(view.right(), view.top(), width() - view.right(), view.height()), background);
  for (const QRect& part : event->region()) {
    const QRectF target = QRectF(part) & view;
    if (target.isEmpty()) continue;
    const QRectF source((target.left() - view.left()) * ratio, (target.top() - view.top()) * ratio,
                        target.width() * ratio, target.height() * ratio);
    if (ratio == 1.0) {
      painter.drawImage(target.topLeft(), image, source);  // pixel for pixel: a plain copy
    } else {
      painter.drawImage(target, image, source);
    }
  }
}

void CanvasWidget::showEvent(QShowEvent* event) {
  // A hidden widget drops its update requests; showing it paints it whole.
  repaintPending_ = false;
  QWidget::showEvent(event);
}

// --- QtCanvas ---

QtCanvas::QtCanvas() {
  for (Port port : {Port::View, Port::Text, Port::Graph, Port::Time}) {
    const QSize size = NaturalSize(port);
    Surface& s = surfaces_[Index(port)];
    s.image = QImage(size, QImage::Format_RGB32);
    s.image.fill(kWhite);
    s.colour = Rgb(QdColor::Black);
    s.bucketSize = BucketSize(port);
    s.bucketColumns = (size.width() + s.bucketSize - 1) / s.bucketSize;
    s.buckets.resize(static_cast<std::size_t>(s.bucketColumns * ((size.height() + s.bucketSize - 1) / s.bucketSize)));
    s.listed.assign(s.buckets.size(), 0);
    if (port == Port::View) s.cells.resize(s.buckets.size());
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

QRgb QtCanvas::Rgb(QdColor colour) { return 0xFF000000u | ColourRgb(colour); }

QWidget* QtCanvas::widget(Port port) { return view(port); }

CanvasWidget* QtCanvas::view(Port port) {
  Surface& s = surfaces_[Index(port)];
  if (s.widget.isNull()) s.widget = new CanvasWidget(this, port);
  return s.widget.data();
}

void QtCanvas::Changed(Surface& s) {
  if (!s.widget.isNull()) s.widget->ScheduleRepaint();
}

void QtCanvas::Changed(Surface& s, const QRect& area) {
  if (!s.widget.isNull()) s.widget->ScheduleRepaint(area);
}

std::size_t QtCanvas::OperationCount(Port port) const {
  const Surface& s = surfaces_[Index(port)];
  return s.operations.size() - s.dead + s.cellShapes;
}

std::vector<QtCanvas::Operation> QtCanvas::Showing(const Surface& s) const {
  std::vector<Operation> showing;
  showing.reserve(s.operations.size() - s.dead + s.cellShapes);
  for (const Operation& op : s.operations) {
    if (op.alive) showing.push_back(op);
  }
  if (s.cellShapes == 0) return showing;
  for (const Cell& cell : s.cells) {
    if (cell.clearing != s.clearing) continue;
    for (int i = 0; i < cell.count; ++i) {
      const CellShape& shape = cell.shapes[static_cast<std::size_t>(i)];
      const auto at = static_cast<int>(&cell - s.cells.data());
      const QdRect rect = CellRect(shape, at % s.bucketColumns * s.bucketSize, at / s.bucketColumns * s.bucketSize);
      Operation op = Shape(shape.kind, kCellColours[shape.colour], rect, ToQRect(rect));
      op.order = s.clearedAt + shape.since;
      showing.push_back(op);
    }
  }
  std::sort(showing.begin(), showing.end(), [](const Operation& a, const Operation& b) { return a.order < b.order; });
  return showing;
}

void QtCanvas::SetScale(Port port, double scale) {
  Surface& s = surfaces_[Index(port)];
  if (scale == s.scale) return;
  s.scale = scale;
  s.image = Picture(port, scale);
  s.stale = false;
  Untouch(s);
  Changed(s);
}

void QtCanvas::Refresh(Port port) {
  Surface& s = surfaces_[Index(port)];
  if (!s.stale) return;
  s.stale = false;
  s.image = Picture(port, s.scale);
  Untouch(s);
}

void QtCanvas::Untouch(Surface& s) {
  for (int index : s.texts) s.operations[static_cast<std::size_t>(index)].touched = false;
}

QImage QtCanvas::Picture(Port port, double scale) {
  QImage unit(1, 1, QImage::Format_RGB32);
  const Raster measure = RasterOn(unit, scale, QSize());
  const QSize size = NaturalSize(port);
  QImage image(measure.Edge(size.width()), measure.Edge(size.height()), QImage::Format_RGB32);
  image.fill(kWhite);
  for (const Operation& op : Showing(surfaces_[Index(port)])) Render(image, scale, size, op);
  return image;
}

// --- the record of what still shows ---

// An operation hides an earlier one that draws the same thing (the frames
// and captions drawn again every generation) or whose pixels it covers
// (a cell's disc cleared, a column of the time plot drawn anew); an erase of
// the whole port hides everything. What remains is what the port shows,
// in a number of operations bounded by the port's area.
void QtCanvas::Add(Surface& s, Operation op) {
  const QSize size = NaturalSize(static_cast<Port>(&s - surfaces_.data()));
  op.bounds = Clip(op.bounds, QRect(QPoint(0, 0), size));
  if (op.bounds.isEmpty()) return;  // outside the port: nothing to draw at any scale
  op.order = s.order++;
  const bool fill = op.kind == Kind::Paint || op.kind == Kind::Erase;
  std::optional<QdRect> cover;
  if (fill) cover = op.rect;
  if (op.kind == Kind::Line) cover = StraightLine(op.rect);
  Cell* home = nullptr;  // the map area that keeps this shape in place
  bool drawn = true;     // false: its pixels show already
  if (fill && op.bounds == QRect(QPoint(0, 0), size)) {
    ClearRecord(s);
    s.clearedAt = op.order;
  } else if (!cover && op.kind != Kind::Oval) {
    // Frames, text and slanted lines hide only the same drawn again.
    const auto [found, fresh] = s.drawnAgain.try_emplace(SignatureOf(op), static_cast<int>(s.operations.size()));
    if (!fresh) {
      // Smooth text drawn on its own copy would darken its edges.
      const Operation& before = s.operations[static_cast<std::size_t>(found->second)];
      if (op.kind == Kind::Text && s.scale != 1.0 && before.alive) {
        if (before.touched) s.stale = true;
        drawn = before.touched;
      }
      Hide(s, found->second);
      found->second = static_cast<int>(s.operations.size());
    }
  } else {
    // What covers pixels hides what lies wholly under them.
    const QRect area = cover ? Clip(ToQRect(*cover), op.bounds) : op.bounds;
    auto hides = [&](Kind kind, const QRect& bounds) {
      if (!Within(area, bounds)) return false;
      if (cover) return true;
      return (kind == Kind::Oval && bounds == op.bounds) || InsideOval(op.rect, bounds);
    };
    const int firstColumn = AreaOf(area.left(), s.bucketSize);
    const int lastColumn = AreaOf(area.right(), s.bucketSize);
    for (int row = AreaOf(area.top(), s.bucketSize); row <= AreaOf(area.bottom(), s.bucketSize); ++row) {
      for (int column = firstColumn; column <= lastColumn; ++column) {
        const auto at = static_cast<std::size_t>(row * s.bucketColumns + column);
        std::vector<Surface::Entry>& bucket = s.buckets[at];
        for (std::size_t i = 0; s.listed[at] && i < bucket.size();) {
          const Surface::Entry& entry = bucket[i];
          if (s.living[static_cast<std::size_t>(entry.index)] && hides(entry.kind, entry.bounds)) {
            Hide(s, entry.index);
          }
          if (!s.living[static_cast<std::size_t>(entry.index)]) {
            bucket[i] = bucket.back();
            bucket.pop_back();
          } else {
            ++i;
          }
        }
        if (s.cells.empty()) continue;
        Cell& cell = CellAt(s, at);
        int kept = 0;
        for (int i = 0; i < cell.count; ++i) {
          const CellShape& shape = cell.shapes[static_cast<std::size_t>(i)];
          if (hides(shape.kind, ToQRect(CellRect(shape, column * s.bucketSize, row * s.bucketSize)))) continue;
          cell.shapes[static_cast<std::size_t>(kept++)] = shape;
        }
        s.cellShapes -= static_cast<std::size_t>(cell.count - kept);
        cell.count = kept;
      }
    }
    // A shape wholly inside one area whose room is not used up stays there.
    const bool inOneArea = op.bounds == ToQRect(op.rect) && AreaOf(op.bounds.left(), s.bucketSize) == AreaOf(op.bounds.right(), s.bucketSize) &&
                           AreaOf(op.bounds.top(), s.bucketSize) == AreaOf(op.bounds.bottom(), s.bucketSize);
    if (!s.cells.empty() && op.kind != Kind::Line && inOneArea) {
      Cell& cell = CellAt(s, static_cast<std::size_t>(AreaOf(op.bounds.top(), s.bucketSize) * s.bucketColumns +
                                                    AreaOf(op.bounds.left(), s.bucketSize)));
      if (cell.count < kCellShapes && CellColour(op.colour) >= 0 && op.order - s.clearedAt <= UINT32_MAX) home = &cell;
    }
  }
  if (s.scale != 1.0) {
    std::erase_if(s.texts, [&](int index) { return !s.operations[static_cast<std::size_t>(index)].alive; });
    for (int index : s.texts) {
      Operation& text = s.operations[static_cast<std::size_t>(index)];
      if (text.bounds.intersects(op.bounds)) text.touched = true;
    }
  }
  if (drawn) Render(s, op);
  if (op.kind == Kind::Text) s.texts.push_back(static_cast<int>(s.operations.size()));
  const QRect area = op.bounds;
  if (home != nullptr) {
    const int cornerH = AreaOf(op.bounds.left(), s.bucketSize) * s.bucketSize;
    const int cornerV = AreaOf(op.bounds.top(), s.bucketSize) * s.bucketSize;
    home->shapes[static_cast<std::size_t>(home->count++)] =
        CellShape{static_cast<std::uint32_t>(op.order - s.clearedAt), op.kind,
                  static_cast<unsigned char>(CellColour(op.colour)), static_cast<signed char>(op.rect.top - cornerV),
                  static_cast<signed char>(op.rect.left - cornerH), static_cast<signed char>(op.rect.bottom - cornerV),
                  static_cast<signed char>(op.rect.right - cornerH)};
    ++s.cellShapes;
  } else {
    s.operations.push_back(std::move(op));
    s.living.push_back(1);
    Index(s, static_cast<int>(s.operations.size() - 1));
    if (s.dead > 4096 && s.dead > 4 * (s.operations.size() - s.dead)) Compact(s);
  }
  Changed(s, area);
}

void QtCanvas::ClearRecord(Surface& s) {
  s.operations.clear();
  s.texts.clear();
  s.living.clear();
  s.drawnAgain.clear();
  for (int at : s.listing) {
    s.buckets[static_cast<std::size_t>(at)].clear();
    s.listed[static_cast<std::size_t>(at)] = 0;
  }
  s.listing.clear();
  ++s.clearing;
  s.cellShapes = 0;
  s.dead = 0;
}

QdRect QtCanvas::CellRect(const CellShape& shape, int cornerH, int cornerV) {
  return QdRect{cornerV + shape.top, cornerH + shape.left, cornerV + shape.bottom, cornerH + shape.right};
}

QtCanvas::Cell& QtCanvas::CellAt(Surface& s, std::size_t at) {
  Cell& cell = s.cells[at];
  if (cell.clearing != s.clearing) {
    cell.clearing = s.clearing;
    cell.count = 0;
  }
  return cell;
}

void QtCanvas::Hide(Surface& s, int index) {
  Operation& op = s.operations[static_cast<std::size_t>(index)];
  if (!op.alive) return;
  op.alive = false;
  s.living[static_cast<std::size_t>(index)] = 0;
  ++s.dead;
}

// An operation is hidden only by one whose area holds all of its bounds, and
// the search of that area visits the area of the operation's top left
// pixel: that area alone lists it. What no longer shows at the end of the
// list goes first, so an operation drawn again and again in the same place
// keeps its list short.
void QtCanvas::Index(Surface& s, int index) {
  const QRect& b = s.operations[static_cast<std::size_t>(index)].bounds;
  std::vector<Surface::Entry>& bucket =
      s.buckets[static_cast<std::size_t>(AreaOf(b.top(), s.bucketSize) * s.bucketColumns + AreaOf(b.left(), s.bucketSize))];
  while (!bucket.empty() && !s.living[static_cast<std::size_t>(bucket.back().index)]) bucket.pop_back();
  const auto at = static_cast<std::size_t>(&bucket - s.buckets.data());
  if (!s.listed[at]) {
    s.listed[at] = 1;
    s.listing.push_back(static_cast<int>(at));
  }
  bucket.push_back({index, b, s.operations[static_cast<std::size_t>(index)].kind});
}

QtCanvas::Signature QtCanvas::SignatureOf(const Operation& op) {
  return Signature{op.kind, op.colour, op.rect.top, op.rect.left, op.rect.bottom, op.rect.right, op.size, op.face, op.text};
}

std::size_t QtCanvas::SignatureHash::operator()(const Signature& key) const {
  std::size_t hash = static_cast<std::size_t>(key.kind);
  for (std::size_t value : {static_cast<std::size_t>(key.colour), static_cast<std::size_t>(key.top),
                            static_cast<std::size_t>(key.left), static_cast<std::size_t>(key.bottom),
                            static_cast<std::size_t>(key.right), static_cast<std::size_t>(key.size),
                            static_cast<std::size_t>(key.face), reinterpret_cast<std::size_t>(key.text)}) {
    hash = (hash ^ value) * 0x100000001B3ull;
  }
  return hash;
}

void QtCanvas::Compact(Surface& s) {
  // In place, so the vector keeps its room for the operations to come.
  std::size_t kept = 0;
  for (std::size_t index = 0; index < s.operations.size(); ++index) {
    if (!s.operations[index].alive) continue;
    if (kept != index) s.operations[kept] = std::move(s.operations[index]);
    ++kept;
  }
  s.operations.resize(kept);
  s.living.assign(s.operations.size(), 1);
  s.texts.clear();
  for (std::size_t index = 0; index < s.operations.size(); ++index) {
    if (s.operations[index].kind == Kind::Text) s.texts.push_back(static_cast<int>(index));
  }
  s.dead = 0;
  s.drawnAgain.clear();
  for (int at : s.listing) {
    s.buckets[static_cast<std::size_t>(at)].clear();
    s.listed[static_cast<std::size_t>(at)] = 0;
  }
  s.listing.clear();
  for (std::size_t index = 0; index < s.operations.size(); ++index) {
    const Operation& op = s.operations[index];
    if (op.kind == Kind::Frame || op.kind == Kind::Text || (op.kind == Kind::Line && !StraightLine(op.rect))) {
      s.drawnAgain[SignatureOf(op)] = static_cast<int>(index);
    }
    Index(s, static_cast<int>(index));
  }
}

// --- drawing an operation ---

void QtCanvas::Render(QImage& image, double scale, QSize natural, const Operation& op) {
  Raster raster = RasterOn(image, scale, natural);
  const QdRect& r = op.rect;
  switch (op.kind) {
    case Kind::Frame:
      raster.Frame(r, op.colour);
      break;
    case Kind::Paint:
    case Kind::Erase:
      // The whole port, as the map and the graphs are erased every
      // generation: Qt's fill of the whole image is the faster.
      if (r.top <= 0 && r.left <= 0 && r.bottom >= natural.height() && r.right >= natural.width()) {
        image.fill(op.colour);
      } else {
        raster.Fill(r, op.colour);
      }
      break;
    case Kind::Oval:
      raster.Oval(r, op.colour);
      break;
    case Kind::Line:
      raster.Line(r.left, r.top, r.right, r.bottom, op.colour);
      break;
    case Kind::Text: {
      // At scale 1 the text is drawn without smoothing, as specified; at
      // any other scale the same text with the same pen, scaled and smooth.
      const bool smooth = scale != 1.0;
      const QString string = QString::fromLatin1(op.text->data(), static_cast<qsizetype>(op.text->size()));
      QPainter painter(&image);
      painter.setFont(FontFor(op.size, op.face, smooth));
      painter.setPen(QColor::fromRgb(op.colour));
      if (smooth) {
        // No further than the text's ink at scale 1, so that the erase that
        // clears it at scale 1 clears it at every scale, its smoothing too.
        const QRect ink = op.bounds.adjusted(1, 1, -1, -1);
        painter.setClipRect(QRect(QPoint(raster.Edge(ink.left()), raster.Edge(ink.top())),
                                  QPoint(raster.Edge(ink.right() + 1) - 1, raster.Edge(ink.bottom() + 1) - 1)));
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.scale(scale, scale);
        painter.drawText(QPointF(r.left, r.top), string);
      } else {
        painter.drawText(QPoint(r.left, r.top), string);
      }
      break;
    }
  }
}

void QtCanvas::Paint(Port port, QPainter& painter) const {
  for (const Operation& op : Showing(surfaces_[Index(port)])) PaintOperation(op, painter);
}

void QtCanvas::PaintOperation(const Operation& op, QPainter& painter) const {
  const QdRect& r = op.rect;
  const QColor colour = QColor::fromRgb(op.colour);
  auto fill = [&](const QdRect& area) {
    if (!IsEmpty(area)) painter.fillRect(QRect(area.left, area.top, area.right - area.left, area.bottom - area.top), colour);
  };
  switch (op.kind) {
    case Kind::Frame:
      fill(QdRect{r.top, r.left, r.top + 1, r.right});
      fill(QdRect{r.bottom - 1, r.left, r.bottom, r.right});
      fill(QdRect{r.top + 1, r.left, r.bottom - 1, r.left + 1});
      fill(QdRect{r.top + 1, r.right - 1, r.bottom - 1, r.right});
      break;
    case Kind::Paint:
    case Kind::Erase:
      fill(r);
      break;
    case Kind::Oval:
      painter.setPen(Qt::NoPen);
      painter.setBrush(colour);
      painter.drawEllipse(QRectF(r.left, r.top, r.right - r.left, r.bottom - r.top));
      break;
    case Kind::Line:
      if (const auto straight = StraightLine(r)) {
        fill(*straight);
      } else {
        painter.setPen(QPen(colour, 1.0));
        painter.drawLine(QPointF(r.left + 0.5, r.top + 0.5), QPointF(r.right + 0.5, r.bottom + 0.5));
      }
      break;
    case Kind::Text: {
      auto* self = const_cast<QtCanvas*>(this);
      // A generic family: a picture names a font every reader knows.
      QFont font = self->FontFor(op.size, op.face, true);
      font.setFamily(QStringLiteral("sans-serif"));
      painter.setFont(font);
      painter.setPen(colour);
      painter.drawText(QPointF(r.left, r.top),
                       QString::fromLatin1(op.text->data(), static_cast<qsizetype>(op.text->size())));
      break;
    }
  }
}

// --- the Canvas operations ---

QtCanvas::Operation QtCanvas::Shape(Kind kind, QRgb colour, const QdRect& rect, const QRect& bounds) {
  Operation op{};
  op.kind = kind;
  op.colour = colour;
  op.rect = rect;
  op.bounds = bounds;
  return op;
}

void QtCanvas::ForeColor(QdColor colour) { surface().colour = Rgb(colour); }

void QtCanvas::FrameRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Add(s, Shape(Kind::Frame, s.colour, r, ToQRect(r)));
}

void QtCanvas::PaintRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Add(s, Shape(Kind::Paint, s.colour, r, ToQRect(r)));
}

void QtCanvas::EraseRect(const QdRect& r) {
  if (IsEmpty(r)) return;
  Add(surface(), Shape(Kind::Erase, kWhite, r, ToQRect(r)));
}

void QtCanvas::PaintOval(const QdRect& r) {
  if (IsEmpty(r)) return;
  Surface& s = surface();
  Add(s, Shape(Kind::Oval, s.colour, r, ToQRect(r)));
}

void QtCanvas::MoveTo(int h, int v) {
  Surface& s = surface();
  s.penH = h;
  s.penV = v;
}

void QtCanvas::LineTo(int h, int v) {
  Surface& s = surface();
  const QRect bounds(QPoint(std::min(s.penH, h), std::min(s.penV, v)), QPoint(std::max(s.penH, h), std::max(s.penV, v)));
  Add(s, Shape(Kind::Line, s.colour, QdRect{s.penV, s.penH, v, h}, bounds));
  s.penH = h;
  s.penV = v;
}

int QtCanvas::StringWidth(std::string_view text) {
  if (text.empty()) return 0;
  const Surface& s = surface();
  auto interned = texts_.find(text);
  if (interned == texts_.end()) interned = texts_.emplace(text).first;
  return Measure(s.size, s.face, &*interned).advance;
}

const QFont& QtCanvas::FontFor(int size, int face, bool smooth) {
  const auto key = std::make_pair(size, (face & 1) | (smooth ? 2 : 0));
  auto found = fonts_.find(key);
  if (found == fonts_.end()) {
    QFont font = QGuiApplication::font();
    if (smooth) {
      font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
      font.setHintingPreference(QFont::PreferNoHinting);
    } else {
      font.setStyleHint(QFont::SansSerif, QFont::NoAntialias);
    }
    font.setPixelSize(size);
    font.setBold((face & 1) != 0);
    found = fonts_.emplace(key, font).first;
  }
  return found->second;
}

// The width of a text and its ink (so that the erase that clears a number
// hides it; smooth text at other scales may reach a pixel further), at
// scale 1. Texts come again and again: their measures are kept.
const QtCanvas::TextMeasure& QtCanvas::Measure(int size, int face, const std::string* text) {
  const MeasureKey key{text, size, face & 1};
  auto found = measures_.find(key);
  if (found != measures_.end()) return found->second;
  static const QImage unit(1, 1, QImage::Format_RGB32);
  const QString string = QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size()));
  const QFontMetrics metrics(FontFor(size, face, false), const_cast<QImage*>(&unit));
  const TextMeasure measure{metrics.horizontalAdvance(string), metrics.tightBoundingRect(string).adjusted(-1, -1, 1, 1)};
  return measures_.emplace(key, measure).first->second;
}

// The pen moves by the text's width at scale 1, whatever the port's scale,
// so the next text starts where it does at scale 1.
void QtCanvas::DrawString(std::string_view text) {
  if (text.empty()) return;
  Surface& s = surface();
  auto interned = texts_.find(text);
  if (interned == texts_.end()) interned = texts_.emplace(text).first;
  const TextMeasure& measure = Measure(s.size, s.face, &*interned);
  const int advance = measure.advance;
  const QRect bounds = measure.ink.translated(s.penH, s.penV);
  Operation op = Shape(Kind::Text, s.colour, QdRect{s.penV, s.penH, s.penV, s.penH}, bounds);
  op.size = static_cast<short>(s.size);
  op.face = static_cast<short>(s.face);
  op.text = &*interned;
  Add(s, std::move(op));
  s.penH += advance;
}

void QtCanvas::TextSize(int points) {
  // Size 0 is the font's own size.
  surface().size = points > 0 ? points : 12;
}

void QtCanvas::TextFace(int style) { surface().face = style; }

}  // namespace talveron::app
