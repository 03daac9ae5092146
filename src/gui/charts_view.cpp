#include "gui/charts_view.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QElapsedTimer>
#include <QPolygonF>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
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

using Marker = CriterionMarker;

// The letters stand over their lines in the order of their generations, each
// moved right of the one before when they would meet, and all of them
// inside the panel's width, moved left from its right edge if need be.
std::vector<Marker> Markers(const QRect& panel, const GenerationAxis& axis, Locus locus,
                            const std::array<long, CensusHistory::kCriteria>& criteria) {
  std::vector<Marker> markers;
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    if (kCriterionLocus[static_cast<std::size_t>(c)] != locus || criteria[static_cast<std::size_t>(c)] == 0) continue;
    const double x = X(panel, axis, static_cast<double>(criteria[static_cast<std::size_t>(c)]));
    markers.push_back({c, x, QRectF()});
  }
  std::stable_sort(markers.begin(), markers.end(), [](const Marker& a, const Marker& b) { return a.x < b.x; });
  double free = panel.left() - 7.0;
  for (Marker& marker : markers) {
    const double left = std::max(marker.x - 7, free);
    marker.box = QRectF(left, panel.top() - 15, 14, 14);
    free = left + 16;
  }
  double limit = panel.right() + 7.0;
  for (auto marker = markers.rbegin(); marker != markers.rend(); ++marker) {
    if (marker->box.right() > limit) marker->box.moveRight(limit);
    limit = marker->box.left() - 2;
  }
  return markers;
}

QFont Font(int pixels, bool bold = false) {
  // A generic family, which a picture of the charts names too.
  QFont font(QStringLiteral("sans-serif"));
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

// The labels under a panel's generation axis: "gen." at the left, then a
// number under each tick, moved inside the view's right edge and clear of
// "gen.", and left out where it would meet the one before.
std::vector<AxisLabel> GenerationLabels(QSize size, const QRect& panel, const GenerationAxis& axis) {
  const QFontMetricsF metrics(Font(11));
  std::vector<AxisLabel> labels;
  const QString gen = QObject::tr("gen.");
  const double genWidth = metrics.horizontalAdvance(gen) + 2;
  labels.push_back({gen, QRectF(kLeftAxis - 2 - genWidth, panel.bottom() + 4, genWidth, 14)});
  double free = kLeftAxis - 2 + 3;
  for (long g = axis.first - 1 + axis.step; g <= axis.last; g += axis.step) {
    const QString text = QString::number(g);
    const double width = metrics.horizontalAdvance(text) + 2;
    const double gx = X(panel, axis, static_cast<double>(g));
    const double left = std::min(gx - width / 2, size.width() - 1 - width);
    if (left < free) continue;
    labels.push_back({text, QRectF(left, panel.bottom() + 4, width, 14)});
    free = left + width + 4;
  }
  return labels;
}

std::vector<CriterionMarker> CriterionMarkers(const CensusHistory* history, QSize size, int panel) {
  if (history == nullptr || history->empty()) return {};
  return Markers(ChartsLayout(size).panels[static_cast<std::size_t>(panel)], GenerationAxis(history),
                 static_cast<Locus>(panel), history->Criteria());
}

// The header's widest text in its smallest type: a long run, full habitats.
static int OneLineHeaderWidth() {
  const QString widest = QObject::tr("Generation %1   Habitat 0: %2   Habitat 1: %3").arg(99999).arg(640).arg(640);
  return QFontMetrics(Font(14, true)).horizontalAdvance(widest) + 16;
}

ChartsLayout::ChartsLayout(QSize size) {
  // A view too narrow for the header on one line has it on two.
  headerLines = size.width() < OneLineHeaderWidth() ? 2 : 1;
  const int headerHeight = headerLines == 2 ? 2 * kHeaderHeight - 8 : kHeaderHeight;
  header = QRect(0, 0, size.width(), headerHeight);
  legend = QRect(0, headerHeight, size.width(), kLegendHeight);
  const int top = headerHeight + kLegendHeight;
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

ChartsHeaderText ChartsHeaderFor(QSize size, const CensusHistory* history) {
  const ChartsLayout layout(size);
  ChartsHeaderText text;
  const QString whole = ChartsHeader(history);
  if (layout.headerLines == 2) {
    const qsizetype counts = whole.indexOf(QStringLiteral("   "));
    text.lines = counts < 0 ? QStringList{whole} : QStringList{whole.left(counts), whole.mid(counts + 3)};
  } else {
    text.lines = QStringList{whole};
  }
  // As large as the width allows, never below 14 pixels.
  auto widest = [&](int pixels) {
    int width = 0;
    for (const QString& line : text.lines) width = std::max(width, QFontMetrics(Font(pixels, true)).horizontalAdvance(line));
    return width;
  };
  text.pixels = kHeaderPixels;
  while (text.pixels > 14 && widest(text.pixels) > layout.header.width() - 16) --text.pixels;
  return text;
}

void PaintCharts(QPainter& painter, QSize size, const CensusHistory* history) {
  const ChartsLayout layout(size);
  const GenerationAxis axis(history);
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  painter.setRenderHint(QPainter::Antialiasing);

  painter.setPen(Qt::black);
  const ChartsHeaderText header = ChartsHeaderFor(size, history);
  painter.setFont(Font(header.pixels, true));
  const int lineHeight = layout.header.height() / static_cast<int>(header.lines.size());
  for (int line = 0; line < header.lines.size(); ++line) {
    painter.drawText(QRect(8, line * lineHeight, layout.header.width() - 16, lineHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, header.lines[line]);
  }

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
    }
    for (const AxisLabel& label : GenerationLabels(size, panel, axis)) {
      painter.drawText(label.box, Qt::AlignHCenter | Qt::AlignTop, label.text);
    }
    painter.drawLine(panel.bottomLeft(), panel.bottomRight());
    painter.drawLine(panel.bottomLeft(), panel.topLeft());
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

void ChartsView::SetZoom(double zoom) {
  zoom_ = zoom;
  updateGeometry();
}

QSize ChartsView::sizeHint() const {
  const QSize least = minimumSizeHint();
  return QSize(std::max(least.width(), static_cast<int>(std::lround(460 * zoom_))),
               std::max(least.height(), static_cast<int>(std::lround(560 * zoom_))));
}

QSize ChartsView::minimumSizeHint() const {
  // The header's counts on a line of their own, full habitats, at 14 pixels.
  const QString counts = QObject::tr("Habitat 0: %1   Habitat 1: %2").arg(640).arg(640);
  return {QFontMetrics(Font(14, true)).horizontalAdvance(counts) + 20, 240};
}

QString ChartsView::HeaderText() const { return ChartsHeader(history_); }

void ChartsView::ShowHistory(const CensusHistory* history) {
  history_ = history;
  if (paintPending_) return;
  // At full speed thousands of generations a second: the view is drawn
  // again at most every 50 ms, and takes at most a fifth of the time.
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const qint64 wait = lastPaint_ + std::max<qint64>(50, 5 * paintTook_) - now;
  paintPending_ = true;
  if (wait <= 0) {
    update();
  } else {
    QTimer::singleShot(static_cast<int>(wait), this, [this] { update(); });
  }
}

void ChartsView::paintEvent(QPaintEvent* /*event*/) {
  paintPending_ = false;
  QElapsedTimer took;
  took.start();
  QPainter painter(this);
  PaintCharts(painter, size(), history_);
  painter.end();
  paintTook_ = took.elapsed();
  lastPaint_ = QDateTime::currentMSecsSinceEpoch();
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
