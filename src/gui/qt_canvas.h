// The drawing operations on Qt. Each port keeps the operations that still
// show, in the order they were drawn, and an image drawn from them at the
// port's scale: at scale 1 pixel by pixel as the views specify, at any other
// scale the same shapes with their coordinates scaled, so a view is crisp at
// the resolution of the screen it is shown on. Changing a port's scale draws
// its image again from the operations. One widget per port shows its image,
// fitted to the widget.
#pragma once

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/drawing/canvas.h"

class QPainter;

namespace talveron::app {

class QtCanvas;

// Shows one port's image. Repaints are coalesced: any number of drawing
// operations between two paint events schedule a single repaint. The view
// is drawn at the largest scale that fits the widget, in steps of 1/32, and
// at the device's pixel ratio.
class CanvasWidget : public QWidget {
  Q_OBJECT

 public:
  CanvasWidget(QtCanvas* canvas, Port port, QWidget* parent = nullptr);

  // The natural size times the zoom: the size the window opens with. The
  // widget may be made as small as a quarter of the natural size; the view
  // then keeps its proportions at the scale that fits.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  void SetZoom(double zoom);
  double zoom() const { return zoom_; }
  // The scale, in logical pixels, at which the view fits the widget now.
  double FitScale() const;

  // Schedules a repaint of the whole widget, or of the widget's pixels
  // that show the port's pixels `area`.
  void ScheduleRepaint();
  void ScheduleRepaint(const QRect& area);
  // Called when the canvas goes away before the widget does.
  void Detach();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QtCanvas* canvas_;
  Port port_;
  QSize natural_;
  double zoom_ = 1.0;
  // The view's place in the widget, in logical pixels.
  QRectF ViewRect(const QSize& image) const;

  bool repaintPending_ = false;  // the whole widget
  static constexpr int kPendingAreas = 6;
  std::vector<QRect> pendingAreas_;  // parts of it, in the widget's pixels
};

class QtCanvas : public Canvas {
 public:
  QtCanvas();
  ~QtCanvas() override;
  QtCanvas(const QtCanvas&) = delete;
  QtCanvas& operator=(const QtCanvas&) = delete;

  void SetPort(Port port) override { current_ = port; }
  Port GetPort() const override { return current_; }
  QdRect GetPortBounds() const override { return PortBounds(current_); }

  void ForeColor(QdColor colour) override;
  void FrameRect(const QdRect& r) override;
  void PaintRect(const QdRect& r) override;
  void EraseRect(const QdRect& r) override;
  void PaintOval(const QdRect& r) override;
  void MoveTo(int h, int v) override;
  void LineTo(int h, int v) override;
  void DrawString(std::string_view text) override;
  int StringWidth(std::string_view text) override;
  void TextSize(int points) override;
  void TextFace(int style) override;

  // The widget that shows a port, made on first use without a parent; a
  // window that takes it as a child takes it over, otherwise the canvas
  // deletes it.
  QWidget* widget(Port port);
  CanvasWidget* view(Port port);
  // The port's image at its scale, in device pixels.
  const QImage& image(Port port) const { return surfaces_[Index(port)].image; }
  double scale(Port port) const { return surfaces_[Index(port)].scale; }
  // Draws the port's image again at `scale` device pixels to a pixel of
  // the port.
  void SetScale(Port port, double scale);
  // Paints the port's operations on any paint device (an SVG file, a
  // printer), its pixel (h, v) at (h, v) times the painter's transform.
  void Paint(Port port, QPainter& painter) const;
  // Draws the port's image afresh when smooth text was drawn again over
  // itself since it was last drawn; the widget calls it before it paints.
  void Refresh(Port port);
  // The port drawn afresh at `scale`, as SetScale would draw it.
  QImage Picture(Port port, double scale);
  // Operations kept for a port: those that still show.
  std::size_t OperationCount(Port port) const;

  // The RGB value drawn for each colour constant.
  static QRgb Rgb(QdColor colour);

 private:
  enum class Kind : unsigned char { Frame, Paint, Erase, Oval, Line, Text };

  struct Operation {
    Kind kind;
    QRgb colour;
    QdRect rect;  // Line: top, left the start (v, h), bottom, right the end
    QRect bounds;  // the pixels it may touch at scale 1
    short size = 0;  // Text
    short face = 0;
    const std::string* text = nullptr;  // interned: texts come again and again
    bool alive = true;
    bool touched = false;  // Text: drawn over since it was drawn, at a scale but 1
    std::uint64_t order = 0;  // when it was drawn, among the port's operations
  };

  // A disc, oval or fill within one area of the map: such shapes cover one
  // another cell by cell, so each area keeps the few that show in place,
  // without a list that grows.
  struct CellShape {
    std::uint32_t since;  // its order less the port's order when last cleared
    Kind kind;
    unsigned char colour;  // index into the colours a cell's shape can take
    signed char top, left, bottom, right;  // from the area's top left corner
  };
  static constexpr int kCellShapes = 4;
  struct Cell {
    std::uint32_t clearing = 0;  // the port's clearing it was filled after
    int count = 0;
    std::array<CellShape, kCellShapes> shapes;
  };

  // What an operation draws, without where it sits in the record: texts
  // are interned, so the same text is the same pointer.
  struct Signature {
    Kind kind;
    QRgb colour;
    int top, left, bottom, right;
    short size, face;
    const std::string* text;
    bool operator==(const Signature&) const = default;
  };
  struct SignatureHash {
    std::size_t operator()(const Signature& key) const;
  };

  struct Surface {
    QImage image;
    double scale = 1.0;
    QRgb colour = 0;
    int size = 12;
    int face = 0;
    int penH = 0;
    int penV = 0;
    QPointer<CanvasWidget> widget;
    std::vector<Operation> operations;
    // The operations by area, with their bounds at hand, and whether each
    // still shows: what the search for hidden operations reads.
    struct Entry {
      int index;
      QRect bounds;
      Kind kind;
    };
    std::vector<std::vector<Entry>> buckets;
    std::vector<char> living;
    std::vector<int> listing;  // the areas whose lists may hold operations
    std::vector<char> listed;  // by area: in `listing`
    std::vector<Cell> cells;  // by area, the map only; empty elsewhere
    // Erasing the whole port empties every cell at once: a cell filled
    // before the last clearing holds nothing.
    std::uint32_t clearing = 0;
    std::size_t cellShapes = 0;
    std::uint64_t order = 0;
    std::uint64_t clearedAt = 0;  // the order of the last erase of the whole port
    int bucketSize = 16;
    int bucketColumns = 0;
    std::size_t dead = 0;
    // Smooth text drawn again where its earlier copy had been drawn over:
    // the image is drawn afresh before it is shown. Text drawn again where
    // nothing touched its copy is not drawn at all: its pixels show it.
    bool stale = false;
    std::vector<int> texts;  // the text operations that may still show
    std::unordered_map<Signature, int, SignatureHash> drawnAgain;  // frames and text by what they draw
  };

  static Operation Shape(Kind kind, QRgb colour, const QdRect& rect, const QRect& bounds);
  static int Index(Port port) { return static_cast<int>(port); }
  Surface& surface() { return surfaces_[Index(current_)]; }
  void Add(Surface& s, Operation op);
  void Compact(Surface& s);
  static void ClearRecord(Surface& s);
  // Forgets which texts were drawn over: the image was drawn afresh.
  static void Untouch(Surface& s);
  // The cell of a map area, emptied when the port was cleared since.
  static Cell& CellAt(Surface& s, std::size_t at);
  // The rectangle of a shape kept in the area with that top left corner.
  static QdRect CellRect(const CellShape& shape, int cornerH, int cornerV);
  void Hide(Surface& s, int index);
  void Index(Surface& s, int index);
  static Signature SignatureOf(const Operation& op);
  void Render(Surface& s, const Operation& op) {
    Render(s.image, s.scale, NaturalSize(static_cast<Port>(&s - surfaces_.data())), op);
  }
  // What the port shows, in the order it was drawn.
  std::vector<Operation> Showing(const Surface& s) const;
  void Render(QImage& image, double scale, QSize natural, const Operation& op);
  static QSize NaturalSize(Port port) {
    const QdRect bounds = PortBounds(port);
    return QSize(bounds.right, bounds.bottom);
  }
  void PaintOperation(const Operation& op, QPainter& painter) const;
  void Changed(Surface& s);
  void Changed(Surface& s, const QRect& area);
  const QFont& FontFor(int size, int face, bool smooth);

  std::array<Surface, 4> surfaces_;
  Port current_ = Port::View;
  std::map<std::pair<int, int>, QFont> fonts_;
  struct TextMeasure {
    int advance;
    QRect ink;  // relative to the pen
  };
  // The measure of an interned text at a size and face.
  const TextMeasure& Measure(int size, int face, const std::string* text);
  struct MeasureKey {
    const std::string* text;
    int size;
    int face;
    bool operator==(const MeasureKey&) const = default;
  };
  struct MeasureHash {
    std::size_t operator()(const MeasureKey& key) const {
      return std::hash<const void*>()(key.text) ^ (static_cast<std::size_t>(key.size) << 1) ^
             static_cast<std::size_t>(key.face);
    }
  };
  std::unordered_map<MeasureKey, TextMeasure, MeasureHash> measures_;
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  std::unordered_set<std::string, TextHash, std::equal_to<>> texts_;
};

}  // namespace talveron::app
