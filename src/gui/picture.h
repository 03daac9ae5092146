// Pictures of the views for a report: all four as the window first shows
// them (the map over the status view, the graphs beside them, the time plot
// below), or one of them, at a zoom, as PNG or as SVG.
#pragma once

#include <QImage>
#include <QString>
#include <optional>

#include "gui/qt_canvas.h"
#include "record/census_history.h"

namespace talveron::gui {

// Nothing: all four views.
using PictureViews = std::optional<app::Port>;

// The picture's size in pixels at zoom 1.
QSize PictureSize(const PictureViews& views);
QImage PicturePng(app::QtCanvas& canvas, const PictureViews& views, double zoom);
// Writes the views as SVG; false when the file could not be written or SVG
// is not available.
bool WritePictureSvg(app::QtCanvas& canvas, const PictureViews& views, double zoom, const QString& path);
bool SvgAvailable();

// The Charts view as a picture of `size` pixels, as PNG or SVG; with the
// F_ST panel when `statistics`.
QImage ChartsPng(const CensusHistory* history, QSize size, bool statistics = false);
bool WriteChartsSvg(const CensusHistory* history, QSize size, const QString& path, bool statistics = false);

}  // namespace talveron::gui
