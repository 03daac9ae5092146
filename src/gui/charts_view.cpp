#include "gui/charts_view.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QElapsedTimer>
#include <QPolygonF>
#include <QTimer>
#include <QToolTip>
#include <cmath>
#include <vector>

namespace talveron::gui {

namespace {

constexpr int kHeaderHeight = 30;
constexpr int kLegendHeight = 38;
constexpr int kLeftAxis = 40;   // room for the frequency labels
constexpr int kBottomAxis = 18;  // room for the generation labels
constexpr int kPanelTitle = 32;  // the locus above the markers' letters
constexpr int kGap = 6;
constexpr int kHeaderPixels = 18;  // the generation and head counts: readable from the back of a room

const QColor kAlleleColours[3] = {QColor(0xDD, 0x08, 0x06), QColor(0x00, 0x00, 0xD4), QColor(0xD8, 0xB8, 0x00)};
// 1, 2 or 5 times a power of ten: the step that gives about `ticks` ticks.
long NiceStep(long span, int ticks) {
  const double raw = std::max(1.0, static_cast<double>(span) / ticks);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= raw) return static_cast<long>(factor * power);
  }
  return static_cast<long>(10 * power);
}

double X(const QRect& panel, const GenerationAxis& axis, double generation) {
  const auto first = static_cast<double>(axis.first);
  return panel.left() + (generation - first) * panel.width() / std::max(1.0, static_cast<double>(axis.last) - first);
}

double Y(const QRect& panel, double value) { return panel.bottom() - value * panel.height(); }

struct Marker {
  int criterion;
  double x;    // the line at its generation
  QRectF box;  // the letter, moved right of the one before when they would meet
};

std::vector<Marker> Markers(const QRect& panel, const GenerationAxis& axis, Locus locus,
                            const std::array<long, CensusHistory::kCriteria>& criteria) {
  std::vector<Marker> markers;
  double free = -1e9;
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    if (kCriterionLocus[static_cast<std::size_t>(c)] != locus || criteria[static_cast<std::size_t>(c)] == 0) continue;
    const double x = X(panel, axis, static_cast<double>(criteria[static_cast<std::size_t>(c)]));
    const double left = std::max(x - 7, free);
    markers.push_back({c, x, QRectF(left, panel.top() - 15, 14, 14)});
    free = left + 15;
  }
  return markers;
}

QFont Font(int pixels, bool bold = false) {
  QFont font;
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QPen AllelePen(int allele, int habitat) {
  QPen pen(kAlleleColours[allele], 1.6);
  if (habitat == 1) pen.setDashPattern({4, 3});
  return pen;
}

}  // namespace

ChartsLayout::ChartsLayout(QSize size) {
  header = QRect(0, 0, size.width(), kHeaderHeight);
  legend = QRect(0, kHeaderHeight, size.width(), kLegendHeight);
  const int top = kHeaderHeight + kLegendHeight;
  const int each = std::max(30, (size.height() - top) / kLoci);
  for (int i = 0; i < kLoci; ++i) {
    const int y = top + i * each;
    panels[static_cast<std::size_t>(i)] = QRect(QPoint(kLeftAxis, y + kPanelTitle),
                                                QPoint(size.width() - 12, y + each - kBottomAxis - kGap));
  }
}

GenerationAxis::GenerationAxis(const CensusHistory* history) {
  if (history == nullptr || history->empty()) return;
  first = history->FirstGeneration();
  const long span = std::max(10L, history->LastGeneration() - first + 1);
  step = NiceStep(span, 5);
  last = first + (span + step - 1) / step * step;
}

static QString ChartsHeader(const CensusHistory* history) {
  if (history == nullptr || history->empty()) return QObject::tr("Generation 0");
  const long g = history->LastGeneration();
  return QObject::tr("Generation %1   Habitat 0: %2   Habitat 1: %3")
      .arg(g)
      .arg(history->Adults(g, 0))
      .arg(history->Adults(g, 1));
}

// The generation and the head counts, as large as the width allows, never
// below 14 pixels.
static void PaintChartsHeader(QPainter& painter, QSize size, const CensusHistory* history) {
  const ChartsLayout layout(size);
  painter.save();
  painter.fillRect(layout.header, Qt::white);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::black);
  const QString header = ChartsHeader(history);
  int pixels = kHeaderPixels;
  while (pixels > 14 && QFontMetrics(Font(pixels, true)).horizontalAdvance(header) > layout.header.width() - 16) {
    --pixels;
  }
  painter.setFont(Font(pixels, true));
  painter.drawText(layout.header.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, header);
  painter.restore();
}

void PaintCharts(QPainter& painter, QSize size, const CensusHistory* history) {
  const ChartsLayout layout(size);
  const GenerationAxis axis(history);
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  painter.setRenderHint(QPainter::Antialiasing);
  PaintChartsHeader(painter, size, history);
  painter.setPen(Qt::black);

  // The legend: the alleles' colours, the habitats' lines, the markers.
  painter.setFont(Font(12));
  const QFontMetrics metrics(painter.font());
  int x = 8;
  const int row1 = layout.legend.top() + 12;
  for (int allele = 0; allele < 3; ++allele) {
    painter.fillRect(QRect(x, row1 - 5, 12, 10), kAlleleColours[allele]);
    const QString text = QObject::tr("allele %1").arg(allele);
    painter.drawText(x + 16, row1 + 4, text);
    x += 24 + metrics.horizontalAdvance(text);
  }
  for (int habitat = 0; habitat < 2; ++habitat) {
    QPen pen = AllelePen(0, habitat);
    pen.setColor(Qt::black);
    painter.setPen(pen);
    painter.drawLine(QPointF(x, row1), QPointF(x + 24, row1));
    painter.setPen(Qt::black);
    const QString text = QObject::tr("habitat %1").arg(habitat);
    painter.drawText(x + 28, row1 + 4, text);
    x += 40 + metrics.horizontalAdvance(text);
  }
  painter.drawText(8, row1 + 20, QObject::tr("A-E: generation each criterion was first met (hover for more)"));

  const std::array<long, CensusHistory::kCriteria> criteria =
      history != nullptr ? history->Criteria() : std::array<long, CensusHistory::kCriteria>{};
  for (int i = 0; i < kLoci; ++i) {
    const QRect& panel = layout.panels[static_cast<std::size_t>(i)];
    const auto locus = static_cast<Locus>(i);
    painter.setPen(Qt::black);
    painter.setFont(Font(12, true));
    painter.drawText(panel.left(), panel.top() - 19, QObject::tr(kLocusTitles[static_cast<std::size_t>(i)]));
    painter.setFont(Font(11));
    // Axes, grid and ticks.
    for (double value : {0.0, 0.25, 0.5, 0.75, 1.0}) {
      const double y = Y(panel, value);
      painter.setPen(QPen(QColor(0xE0, 0xE0, 0xE0), 1));
      painter.drawLine(QPointF(panel.left(), y), QPointF(panel.right(), y));
      painter.setPen(Qt::black);
      painter.drawText(QRectF(0, y - 8, kLeftAxis - 5, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(value));
    }
    for (long g = axis.first - 1 + axis.step; g <= axis.last; g += axis.step) {
      const double gx = X(panel, axis, static_cast<double>(g));
      painter.drawLine(QPointF(gx, panel.bottom()), QPointF(gx, panel.bottom() + 4));
      painter.drawText(QRectF(gx - 40, panel.bottom() + 4, 80, 14), Qt::AlignHCenter | Qt::AlignTop,
                       QString::number(g));
    }
    painter.drawLine(panel.bottomLeft(), panel.bottomRight());
    painter.drawLine(panel.bottomLeft(), panel.topLeft());
    painter.drawText(QRectF(0, panel.bottom() + 4, kLeftAxis - 2, 14), Qt::AlignRight | Qt::AlignTop,
                     QObject::tr("gen."));
    if (history == nullptr || history->empty()) continue;

    // The lines, thinned to the panel's width.
    painter.save();
    painter.setClipRect(panel.adjusted(-1, -2, 1, 2));
    for (int habitat = 0; habitat < 2; ++habitat) {
      for (int allele = 0; allele < 3; ++allele) {
        // Runs of points between gaps, each one polyline.
        painter.setPen(AllelePen(allele, habitat));
        QPolygonF run;
        auto flush = [&] {
          if (run.size() > 1) painter.drawPolyline(run);
          run.clear();
        };
        for (const ChartPoint& point :
             history->Downsampled(habitat, locus, allele, axis.first, axis.last, std::max(1, panel.width() / 2))) {
          if (std::isnan(point.value)) {
            flush();
            continue;
          }
          run << QPointF(X(panel, axis, static_cast<double>(point.generation)), Y(panel, point.value));
        }
        flush();
      }
    }
    painter.restore();

    // The criteria met in this panel's locus.
    painter.setFont(Font(12, true));
    for (const Marker& marker : Markers(panel, axis, locus, criteria)) {
      painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
      painter.drawLine(QPointF(marker.x, panel.top()), QPointF(marker.x, panel.bottom()));
      painter.setPen(Qt::black);
      painter.fillRect(marker.box, QColor(0xFF, 0xFF, 0xE0));
      painter.drawRect(marker.box);
      painter.drawText(marker.box, Qt::AlignCenter, QString(QChar('A' + marker.criterion)));
    }
  }
  painter.restore();
}

ChartsView::ChartsView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("chartsView"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QString ChartsView::HeaderText() const { return ChartsHeader(history_); }

void ChartsView::ShowHistory(const CensusHistory* history) {
  history_ = history;
  if (paintPending_) return;
  // At full speed thousands of generations a second: the view is drawn
  // again at most every 100 ms, and takes at most a tenth of the time.
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const qint64 wait = lastPaint_ + LinesEvery() - now;
  paintPending_ = true;
  if (wait <= 0) {
    update();
  } else {
    // A frame may have painted the view meanwhile.
    QTimer::singleShot(static_cast<int>(wait), this, [this] {
      if (paintPending_) update();
    });
  }
}

// The lines are drawn again at most every 100 ms and take at most a tenth
// of the time; in between, the picture drawn last is shown with the header
// of the generation on show, which the frames of a fast run paint with the
// map.
void ChartsView::paintEvent(QPaintEvent* /*event*/) {
  paintPending_ = false;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const qreal ratio = devicePixelRatioF();
  const QSize device = size() * ratio;
  if (drawn_.size() != device || drawnHistory_ != history_ || now - lastPaint_ >= LinesEvery()) {
    QElapsedTimer took;
    took.start();
    drawn_ = QImage(device, QImage::Format_RGB32);
    drawn_.setDevicePixelRatio(ratio);
    QPainter painter(&drawn_);
    PaintCharts(painter, size(), history_);
    painter.end();
    drawnHistory_ = history_;
    paintTook_ = took.elapsed();
    lastPaint_ = QDateTime::currentMSecsSinceEpoch();
  }
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), drawn_);
  PaintChartsHeader(painter, size(), history_);
}

std::optional<QString> ChartsView::DescribeAt(QPoint at) const {
  if (history_ == nullptr || history_->empty()) return std::nullopt;
  const ChartsLayout layout(size());
  const GenerationAxis axis(history_);
  for (int i = 0; i < kLoci; ++i) {
    const QRect& panel = layout.panels[static_cast<std::size_t>(i)];
    const auto locus = static_cast<Locus>(i);
    // A marker's letter above the panel.
    const std::array<long, CensusHistory::kCriteria> criteria = history_->Criteria();
    for (const Marker& marker : Markers(panel, axis, locus, criteria)) {
      if (marker.box.contains(at)) {
        return QObject::tr("%1, first met in generation %2")
            .arg(QObject::tr(kCriterionTexts[static_cast<std::size_t>(marker.criterion)]))
            .arg(criteria[static_cast<std::size_t>(marker.criterion)]);
      }
    }
    if (!panel.adjusted(-4, -4, 4, 4).contains(at)) continue;
    const double span = static_cast<double>(axis.last - axis.first);
    const long g = std::clamp(axis.first + std::lround((at.x() - panel.left()) * span / std::max(1, panel.width())),
                              history_->FirstGeneration(), history_->LastGeneration());
    double best = 8;  // pixels
    QString text;
    for (int habitat = 0; habitat < 2; ++habitat) {
      for (int allele = 0; allele < 3; ++allele) {
        const double value = history_->Frequency(g, habitat, locus, allele);
        if (std::isnan(value)) continue;
        const double distance = std::abs(Y(panel, value) - at.y());
        if (distance > best) continue;
        best = distance;
        text = QObject::tr("Generation %1: %2, habitat %3, allele %4: %5")
                   .arg(g)
                   .arg(QObject::tr(kLocusTitles[static_cast<std::size_t>(i)]).toLower())
                   .arg(habitat)
                   .arg(allele)
                   .arg(value, 0, 'f', 3);
      }
    }
    if (!text.isEmpty()) return text;
  }
  return std::nullopt;
}

void ChartsView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (const auto text = DescribeAt(at)) {
    QToolTip::showText(event->globalPosition().toPoint(), *text, this);
  } else {
    QToolTip::hideText();
  }
}

}  // namespace talveron::gui
