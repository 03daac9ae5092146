#include "gui/charts_view.h"

#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPolygonF>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace talveron::gui {

namespace {

QColor Colour(std::uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); }

QRectF Rect(const app::ChartsRect& r) { return QRectF(r.left, r.top, r.width, r.height); }

}  // namespace

QFont QtChartsPainter::Font(int pixels, bool bold) {
  QFont font(QStringLiteral("sans-serif"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

void QtChartsPainter::FillRect(const app::ChartsRect& r, std::uint32_t colour) {
  painter_->fillRect(Rect(r), Colour(colour));
}

void QtChartsPainter::StrokeRect(const app::ChartsRect& r, std::uint32_t colour) {
  painter_->setPen(QPen(Colour(colour), 1));
  painter_->setBrush(Qt::NoBrush);
  painter_->drawRect(Rect(r).adjusted(0.5, 0.5, -0.5, -0.5));
}

void QtChartsPainter::Polyline(const std::vector<app::ChartsPoint>& points, std::uint32_t colour, double width,
                               Dash dash) {
  QPen pen(Colour(colour), width);
  pen.setCapStyle(Qt::FlatCap);
  if (dash == Dash::Dashed) pen.setDashPattern({4 / width, 3 / width});
  if (dash == Dash::Dotted) pen.setDashPattern({1 / width, 2 / width});
  painter_->setPen(pen);
  QPolygonF line;
  for (const app::ChartsPoint& point : points) line << QPointF(point.x, point.y);
  painter_->drawPolyline(line);
}

void QtChartsPainter::Text(const std::string& text, double x, double middle, int pixels, bool bold, Align align,
                           std::uint32_t colour) {
  painter_->setFont(Font(pixels, bold));
  painter_->setPen(Colour(colour));
  constexpr double kRoom = 4000;
  const double left = align == Align::Left ? x : align == Align::Right ? x - kRoom : x - kRoom / 2;
  const int flags = align == Align::Left ? Qt::AlignLeft : align == Align::Right ? Qt::AlignRight : Qt::AlignHCenter;
  painter_->drawText(QRectF(left, middle - pixels, kRoom, 2.0 * pixels), flags | Qt::AlignVCenter,
                     QString::fromStdString(text));
}

double QtChartsPainter::TextWidth(const std::string& text, int pixels, bool bold) {
  return QFontMetricsF(Font(pixels, bold)).horizontalAdvance(QString::fromStdString(text));
}

void QtChartsPainter::Clip(const app::ChartsRect& r) {
  painter_->save();
  painter_->setClipRect(Rect(r));
}

void QtChartsPainter::Unclip() { painter_->restore(); }

void PaintCharts(QPainter& painter, QSize size, const CensusHistory* history, bool statistics) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  QtChartsPainter charts(&painter);
  app::DrawCharts(charts, size.width(), size.height(), history, statistics);
  painter.restore();
}

static void PaintChartsHeader(QPainter& painter, QSize size, const CensusHistory* history) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  QtChartsPainter charts(&painter);
  app::DrawChartsHeader(charts, size.width(), size.height(), history);
  painter.restore();
}

ChartsView::ChartsView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("chartsView"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAccessibleName(tr("Charts"));
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
  QtChartsPainter measure;
  return {static_cast<int>(std::ceil(app::ChartsMinimumWidth(measure))),
          static_cast<int>(app::ChartsMinimumHeight(statistics_))};
}

QString ChartsView::HeaderText() const { return QString::fromStdString(app::HeaderText(history_)); }

void ChartsView::SetStatistics(bool on) {
  if (on == statistics_) return;
  statistics_ = on;
  setAccessibleDescription(QString::fromStdString(app::ChartsInWords(history_, statistics_)));
  updateGeometry();  // four panels want more height
  update();
}

void ChartsView::ShowHistory(const CensusHistory* history) {
  history_ = history;
  setAccessibleDescription(QString::fromStdString(app::ChartsInWords(history, statistics_)));
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
  if (drawn_.size() != device || drawnHistory_ != history_ || drawnStatistics_ != statistics_ ||
      now - lastPaint_ >= LinesEvery()) {
    QElapsedTimer took;
    took.start();
    drawn_ = QImage(device, QImage::Format_RGB32);
    drawn_.setDevicePixelRatio(ratio);
    QPainter painter(&drawn_);
    PaintCharts(painter, size(), history_, statistics_);
    painter.end();
    drawnHistory_ = history_;
    drawnStatistics_ = statistics_;
    paintTook_ = took.elapsed();
    lastPaint_ = QDateTime::currentMSecsSinceEpoch();
  }
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), drawn_);
  PaintChartsHeader(painter, size(), history_);
}

std::optional<QString> ChartsView::DescribeAt(QPoint at) const {
  QtChartsPainter measure;
  const auto text = app::DescribeChartsAt(width(), height(), history_, at.x(), at.y(), measure, statistics_);
  if (!text) return std::nullopt;
  return QString::fromStdString(*text);
}

void ChartsView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (const auto text = DescribeAt(at)) {
    QToolTip::showText(event->globalPosition().toPoint(), *text, this);
  } else {
    QToolTip::hideText();
  }
}

ChartsPanel::ChartsPanel(QWidget* parent)
    : QWidget(parent), charts_(new ChartsView(this)), statistics_(new QCheckBox(tr("Statistics"), this)) {
  setObjectName(QStringLiteral("chartsPanel"));
  statistics_->setObjectName(QStringLiteral("chartsStatistics"));
  statistics_->setToolTip(tr("Show F_ST between the habitats at each locus over the run"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 2);
  layout->setSpacing(2);
  layout->addWidget(charts_, 1);
  layout->addWidget(statistics_);
  layout->setAlignment(statistics_, Qt::AlignLeft);
  statistics_->setContentsMargins(6, 0, 0, 0);
  connect(statistics_, &QCheckBox::toggled, charts_, &ChartsView::SetStatistics);
}

}  // namespace talveron::gui
