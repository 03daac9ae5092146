// The drawing operations on Qt: one image per port, drawn pixel by pixel
// with a one-pixel pen, and one widget per port that shows its image.
#pragma once

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <map>
#include <string_view>
#include <utility>

#include "app/canvas.h"

namespace talveron::app {

// Shows one port's image. Repaints are coalesced: any number of drawing
// operations between two paint events schedule a single repaint.
class CanvasWidget : public QWidget {
  Q_OBJECT

 public:
  explicit CanvasWidget(const QImage* image, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  void ScheduleRepaint();
  // Called when the image goes away before the widget does.
  void Detach();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  const QImage* image_;
  QSize size_;
  bool repaintPending_ = false;
};

class QtCanvas : public Canvas {
 public:
  QtCanvas();
  ~QtCanvas() override;
  QtCanvas(const QtCanvas&) = delete;
  QtCanvas& operator=(const QtCanvas&) = delete;

  void SetPort(Port port) override { current_ = port; }
  Port GetPort() const override { return current_; }
  QdRect GetPortBounds() const override;

  void ForeColor(QdColor colour) override;
  void FrameRect(const QdRect& r) override;
  void PaintRect(const QdRect& r) override;
  void EraseRect(const QdRect& r) override;
  void PaintOval(const QdRect& r) override;
  void MoveTo(int h, int v) override;
  void LineTo(int h, int v) override;
  void DrawString(std::string_view text) override;
  void TextSize(int points) override;
  void TextFace(int style) override;

  // The widget that shows a port, made on first use without a parent; a
  // window that takes it as a child takes it over, otherwise the canvas
  // deletes it.
  QWidget* widget(Port port);
  const QImage& image(Port port) const { return surfaces_[Index(port)].image; }

  // The RGB value drawn for each colour constant.
  static QRgb Rgb(QdColor colour);

 private:
  struct Surface {
    QImage image;
    QRgb colour = 0;
    int size = 12;
    int face = 0;
    int penH = 0;
    int penV = 0;
    QPointer<CanvasWidget> widget;
  };

  static int Index(Port port) { return static_cast<int>(port); }
  Surface& surface() { return surfaces_[Index(current_)]; }
  void Changed(Surface& s);
  const QFont& FontFor(int size, int face);

  std::array<Surface, 4> surfaces_;
  Port current_ = Port::View;
  std::map<std::pair<int, int>, QFont> fonts_;
};

}  // namespace talveron::app
