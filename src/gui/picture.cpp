#include "gui/picture.h"

#include "gui/charts_view.h"

#include <QFile>
#include <QPainter>
#include <cmath>
#include <vector>

#ifdef TALVERON_HAVE_SVG
#include <QSvgGenerator>
#endif

namespace talveron::gui {

namespace {

using app::Port;

constexpr int kGap = 10;  // pixels between views in the picture of all four

struct Placed {
  Port port;
  QPoint origin;  // at zoom 1
};

QSize NaturalSize(Port port) {
  const app::QdRect bounds = app::PortBounds(port);
  return QSize(bounds.right, bounds.bottom);
}

std::vector<Placed> Layout(const PictureViews& views) {
  if (views) return {{*views, QPoint(0, 0)}};
  const QSize map = NaturalSize(Port::View);
  const QSize text = NaturalSize(Port::Text);
  const QSize graph = NaturalSize(Port::Graph);
  const int below = std::max(map.height() + text.height(), graph.height()) + kGap;
  return {{Port::View, QPoint(0, 0)},
          {Port::Text, QPoint(0, map.height())},
          {Port::Graph, QPoint(map.width() + kGap, 0)},
          {Port::Time, QPoint(0, below)}};
}

}  // namespace

QSize PictureSize(const PictureViews& views) {
  QRect all;
  for (const Placed& placed : Layout(views)) all |= QRect(placed.origin, NaturalSize(placed.port));
  return all.size();
}

QImage PicturePng(app::QtCanvas& canvas, const PictureViews& views, double zoom) {
  const QSize size = PictureSize(views);
  QImage picture(static_cast<int>(std::lround(size.width() * zoom)),
                 static_cast<int>(std::lround(size.height() * zoom)), QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  for (const Placed& placed : Layout(views)) {
    const QPoint at(static_cast<int>(std::lround(placed.origin.x() * zoom)),
                    static_cast<int>(std::lround(placed.origin.y() * zoom)));
    painter.drawImage(at, canvas.Picture(placed.port, zoom));
  }
  return picture;
}

bool SvgAvailable() {
#ifdef TALVERON_HAVE_SVG
  return true;
#else
  return false;
#endif
}

bool WritePictureSvg(app::QtCanvas& canvas, const PictureViews& views, double zoom, const QString& path) {
#ifdef TALVERON_HAVE_SVG
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QSize size = PictureSize(views);
  const QSize zoomed(static_cast<int>(std::lround(size.width() * zoom)),
                     static_cast<int>(std::lround(size.height() * zoom)));
  QSvgGenerator svg;
  svg.setOutputDevice(&file);
  svg.setSize(zoomed);
  svg.setViewBox(QRect(QPoint(0, 0), zoomed));
  svg.setTitle(QStringLiteral("Talveron"));
  QPainter painter(&svg);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(zoom, zoom);
  for (const Placed& placed : Layout(views)) {
    painter.save();
    painter.translate(placed.origin);
    const QRect area(QPoint(0, 0), NaturalSize(placed.port));
    painter.setClipRect(area);
    painter.fillRect(area, Qt::white);
    canvas.Paint(placed.port, painter);
    painter.restore();
  }
  painter.end();
  return file.error() == QFileDevice::NoError;
#else
  (void)canvas;
  (void)views;
  (void)zoom;
  (void)path;
  return false;
#endif
}

QImage ChartsPng(const CensusHistory* history, QSize size, bool statistics) {
  QImage picture(size, QImage::Format_RGB32);
  QPainter painter(&picture);
  PaintCharts(painter, size, history, statistics);
  return picture;
}

bool WriteChartsSvg(const CensusHistory* history, QSize size, const QString& path, bool statistics) {
#ifdef TALVERON_HAVE_SVG
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QSvgGenerator svg;
  svg.setOutputDevice(&file);
  svg.setSize(size);
  svg.setViewBox(QRect(QPoint(0, 0), size));
  svg.setTitle(QStringLiteral("Talveron charts"));
  QPainter painter(&svg);
  PaintCharts(painter, size, history, statistics);
  painter.end();
  return file.error() == QFileDevice::NoError;
#else
  (void)history;
  (void)size;
  (void)path;
  (void)statistics;
  return false;
#endif
}

}  // namespace talveron::gui
