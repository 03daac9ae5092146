// The Charts view: the frequency of each allele (0, 1, 2) at habitat
// specialization, habitat preference and mating preference over the whole
// replicate, one panel per locus, habitat 0 solid and habitat 1 dashed,
// with axes, tick labels, a legend and a lettered marker where each
// criterion A to E was first met; above them the generation and the head
// counts in large type. Hovering a line tells its generation and value.
#pragma once

#include <QWidget>

#include <array>
#include <optional>
#include <vector>

#include <QRectF>
#include <QString>
#include <QStringList>

#include "record/census_history.h"

class QPainter;

namespace talveron::gui {

// Where the parts of the charts lie in an area of a given size.
struct ChartsLayout {
  explicit ChartsLayout(QSize size);
  QRect header;
  int headerLines = 1;  // two where the view is too narrow for one
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

// The header as drawn at a size: one line, or two (the generation, then the
// head counts), in type of `pixels`.
struct ChartsHeaderText {
  QStringList lines;
  int pixels = 18;
};
ChartsHeaderText ChartsHeaderFor(QSize size, const CensusHistory* history);

// A label of a generation axis and where it stands.
struct AxisLabel {
  QString text;
  QRectF box;
};
std::vector<AxisLabel> GenerationLabels(QSize size, const QRect& panel, const GenerationAxis& axis);

// The criteria's lettered markers of one panel: the criterion, the x of its
// line and the letter's box.
struct CriterionMarker {
  int criterion;
  double x;
  QRectF box;
};
std::vector<CriterionMarker> CriterionMarkers(const CensusHistory* history, QSize size, int panel);

// Paints the charts of `history` (none: empty axes) into an area of `size`.
void PaintCharts(QPainter& painter, QSize size, const CensusHistory* history);

class ChartsView : public QWidget {
  Q_OBJECT

 public:
  explicit ChartsView(QWidget* parent = nullptr);

  // The history to show; it stays the caller's. Called again when it has
  // grown: the view is drawn again, at most about twenty times a second.
  void ShowHistory(const CensusHistory* history);
  const CensusHistory* history() const { return history_; }

  // The natural size follows the classic views' zoom; the view is never
  // narrower than its header in its smallest type needs.
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
  double zoom_ = 1.0;
  qint64 lastPaint_ = 0;  // when the last drawing ended, in ms
  qint64 paintTook_ = 0;  // how long it took, in ms
  bool paintPending_ = false;
};

}  // namespace talveron::gui
