// A Canvas without pixels: it keeps every operation, with the port and the
// colour, text size and face in effect, so that tests can read back what
// was drawn and in which order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/drawing/canvas.h"

namespace talveron::app {

class RecordingCanvas : public Canvas {
 public:
  enum class Kind {
    SetPort, ForeColor, FrameRect, PaintRect, EraseRect, PaintOval,
    MoveTo, LineTo, DrawString, TextSize, TextFace
  };

  struct Op {
    Kind kind = Kind::SetPort;
    Port port = Port::View;           // the port current when it ran
    QdRect rect{};                    // FrameRect, PaintRect, EraseRect, PaintOval
    int h = 0, v = 0;                 // MoveTo, LineTo: the point; DrawString: the pen at the start
    int fromH = 0, fromV = 0;         // LineTo: the pen before the line
    std::string text;                 // DrawString
    int value = 0;                    // TextSize, TextFace
    QdColor colour = QdColor::Black;  // colour in effect after the operation
    int size = 12;                    // text size in effect after the operation
    int face = 0;                     // text face in effect after the operation
  };

  RecordingCanvas() = default;

  void SetPort(Port port) override;
  Port GetPort() const override { return current_; }
  QdRect GetPortBounds() const override { return PortBounds(current_); }

  void ForeColor(QdColor colour) override;
  void FrameRect(const QdRect& r) override { AddRect(Kind::FrameRect, r); }
  void PaintRect(const QdRect& r) override { AddRect(Kind::PaintRect, r); }
  void EraseRect(const QdRect& r) override { AddRect(Kind::EraseRect, r); }
  void PaintOval(const QdRect& r) override { AddRect(Kind::PaintOval, r); }
  void MoveTo(int h, int v) override;
  void LineTo(int h, int v) override;
  void DrawString(std::string_view text) override;
  int StringWidth(std::string_view text) override;
  void TextSize(int points) override;
  void TextFace(int style) override;

  const std::vector<Op>& ops() const { return ops_; }
  void Clear() { ops_.clear(); }

  // The operations of one kind, in order.
  std::vector<Op> OfKind(Kind kind) const;
  // Every string drawn into a port, joined in drawing order.
  std::string TextIn(Port port) const;

 private:
  struct PortState {
    QdColor colour = QdColor::Black;
    int size = 12;
    int face = 0;
    int penH = 0, penV = 0;
  };

  PortState& state() { return states_[static_cast<int>(current_)]; }
  Op& Add(Kind kind);
  void AddRect(Kind kind, const QdRect& r) { Add(kind).rect = r; }

  Port current_ = Port::View;
  PortState states_[4];
  std::vector<Op> ops_;
};

}  // namespace talveron::app
