// The Charts view: the shared drawing of the charts (app/drawing/charts_drawing.h)
// painted with Qt, the view redrawn as the run goes on, and what hovering a
// point tells in a tooltip; and the panel that holds it in the window, with
// the Statistics check box below it.
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QWidget>

class QCheckBox;

#include <algorithm>
#include <optional>

#include "app/drawing/charts_drawing.h"
#include "record/census_history.h"

namespace talveron::gui {

// The charts' drawing operations on a QPainter (a widget, an image, an SVG
// file); also the measure of their texts in Qt's fonts.
class QtChartsPainter : public app::ChartsPainter {
 public:
  explicit QtChartsPainter(QPainter* painter = nullptr) : painter_(painter) {}
  void FillRect(const app::ChartsRect& r, std::uint32_t colour) override;
  void StrokeRect(const app::ChartsRect& r, std::uint32_t colour) override;
  void Polyline(const std::vector<app::ChartsPoint>& points, std::uint32_t colour, double width, Dash dash) override;
  void Text(const std::string& text, double x, double middle, int pixels, bool bold, Align align,
            std::uint32_t colour) override;
  double TextWidth(const std::string& text, int pixels, bool bold) override;
  void Clip(const app::ChartsRect& r) override;
  void Unclip() override;
  // The charts' type: a generic sans-serif family, which a picture names.
  static QFont Font(int pixels, bool bold);

 private:
  QPainter* painter_;
};

// Paints the charts of `history` (none: empty axes) into an area of `size`,
// with the F_ST panel when `statistics`.
void PaintCharts(QPainter& painter, QSize size, const CensusHistory* history, bool statistics = false);

class ChartsView : public QWidget {
  Q_OBJECT

 public:
  explicit ChartsView(QWidget* parent = nullptr);

  // The history to show; it stays the caller's. Called again when it has
  // grown: the view is drawn again, its lines at most ten times a second,
  // its header (the generation and the head counts) every time.
  void ShowHistory(const CensusHistory* history);
  const CensusHistory* history() const { return history_; }

  // Statistics on: the F_ST panel is drawn too, at once.
  void SetStatistics(bool on);
  bool statistics() const { return statistics_; }

  // The natural size follows the classic views' zoom; the view is never
  // narrower than its header, on two lines, needs.
  void SetZoom(double zoom);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // What hovering at `at` tells: the generation and the value of the line
  // nearest to it, or the criterion of a marker; nothing away from them.
  std::optional<QString> DescribeAt(QPoint at) const;
  // The text of the header: the generation and the head counts.
  QString HeaderText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  const CensusHistory* history_ = nullptr;
  bool statistics_ = false;
  double zoom_ = 1.0;
  QImage drawn_;  // the charts as last drawn whole
  const CensusHistory* drawnHistory_ = nullptr;
  bool drawnStatistics_ = false;
  // How long after a drawing of the lines the next may come, in ms.
  qint64 LinesEvery() const { return std::max<qint64>(100, 10 * paintTook_); }
  qint64 lastPaint_ = 0;  // when the last drawing ended, in ms
  qint64 paintTook_ = 0;  // how long it took, in ms
  bool paintPending_ = false;
};

// The Charts view as the window holds it: the charts, and below them the
// "Statistics" check box (off at first), which shows F_ST between the
// habitats in them.
class ChartsPanel : public QWidget {
  Q_OBJECT

 public:
  explicit ChartsPanel(QWidget* parent = nullptr);
  ChartsView* charts() const { return charts_; }
  QCheckBox* statisticsBox() const { return statistics_; }

 private:
  ChartsView* charts_;
  QCheckBox* statistics_;
};

}  // namespace talveron::gui
