// The Charts view: the frequency of each allele (0, 1, 2) at habitat
// specialization, habitat preference and mating preference over the whole
// replicate, one panel per locus, habitat 0 solid and habitat 1 dashed,
// with axes, tick labels, a legend and a lettered marker where each
// criterion A to E was first met; above them the generation and the head
// counts in large type. Hovering a line tells its generation and value.
#pragma once

#include <QImage>
#include <QWidget>

#include <algorithm>
#include <array>
#include <optional>

#include "record/census_history.h"

class QPainter;

namespace talveron::gui {

// Where the parts of the charts lie in an area of a given size.
struct ChartsLayout {
  explicit ChartsLayout(QSize size);
  QRect header;
  QRect legend;
  std::array<QRect, kLoci> panels;  // the plotting areas, inside the axes
};

// The generation span the charts show: from the first generation to the
// last, rounded up to a step of the axis.
struct GenerationAxis {
  explicit GenerationAxis(const CensusHistory* history);
  long first = 1;
  long last = 10;
  long step = 1;
};

// Paints the charts of `history` (none: empty axes) into an area of `size`.
void PaintCharts(QPainter& painter, QSize size, const CensusHistory* history);

class ChartsView : public QWidget {
  Q_OBJECT

 public:
  explicit ChartsView(QWidget* parent = nullptr);

  // The history to show; it stays the caller's. Called again when it has
  // grown: the view is drawn again, its lines at most ten times a second,
  // its header (the generation and the head counts) every time.
  void ShowHistory(const CensusHistory* history);
  const CensusHistory* history() const { return history_; }

  QSize sizeHint() const override { return {460, 560}; }
  QSize minimumSizeHint() const override { return {240, 240}; }

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
  QImage drawn_;  // the charts as last drawn whole
  const CensusHistory* drawnHistory_ = nullptr;
  // How long after a drawing of the lines the next may come, in ms.
  qint64 LinesEvery() const { return std::max<qint64>(100, 10 * paintTook_); }
  qint64 lastPaint_ = 0;  // when the last drawing ended, in ms
  qint64 paintTook_ = 0;  // how long it took, in ms
  bool paintPending_ = false;
};

}  // namespace talveron::gui
