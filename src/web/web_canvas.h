// The drawing operations in the browser. Each port keeps a buffer of RGBA
// pixels at its scale, drawn by the shared rasterizer (the desktop
// program's pixels at scale 1), and the operations that still show, so that
// a new scale (a resized window, another device pixel ratio, a zoom) draws
// the port again crisp. The page copies the part of a buffer that changed to
// the port's HTML canvas whenever the program lets the browser run. Text is
// drawn by the browser's fonts and laid on the buffer as a mask.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "app/drawing/canvas.h"

namespace talveron::web {

using app::Port;
using app::QdColor;
using app::QdRect;

// How text looks and measures, a character at a time: the page's fonts, or
// a stand-in where there is no page. Texts are laid out character by
// character, so the few characters the views use are drawn by the font once
// per size and scale, whatever number a text shows.
class TextSource {
 public:
  virtual ~TextSource() = default;
  struct Measure {
    double advance = 0;                            // the pen's move at scale 1
    int left = 0, top = 0, right = 0, bottom = 0;  // the ink from the pen, at scale 1, bottom and right included
  };
  struct Mask {
    int width = 0, height = 0;
    int originH = 0, originV = 0;  // the mask's top left corner from the pen, in device pixels
    std::vector<std::uint8_t> alpha;
  };
  virtual Measure MeasureGlyph(char c, int size, int face) = 0;
  virtual Mask RenderGlyph(char c, int size, int face, double scale) = 0;
};

class WebCanvas : public app::Canvas {
 public:
  explicit WebCanvas(TextSource& text);

  void SetPort(Port port) override { current_ = port; }
  Port GetPort() const override { return current_; }
  QdRect GetPortBounds() const override { return app::PortBounds(current_); }

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

  // The port's buffer: width x height RGBA pixels at `scale` device pixels
  // to a pixel of the port.
  const std::uint32_t* pixels(Port port) const { return surfaces_[Index(port)].pixels.data(); }
  int width(Port port) const { return surfaces_[Index(port)].width; }
  int height(Port port) const { return surfaces_[Index(port)].height; }
  double scale(Port port) const { return surfaces_[Index(port)].scale; }
  // Draws the port again at another scale.
  void SetScale(Port port, double scale);
  // The device pixels changed since the last call; empty when none.
  QdRect TakeChanged(Port port);
  // Operations kept for a port: those that may still show.
  std::size_t OperationCount(Port port) const { return surfaces_[Index(port)].operations.size(); }

 private:
  enum class Kind : unsigned char { Frame, Paint, Oval, Line, Text };
  struct Operation {
    Kind kind;
    std::uint32_t colour;
    QdRect rect;  // Line: top, left the start (v, h), bottom, right the end; Text: the pen in top, left
    int text = -1;
    short size = 0;
    short face = 0;
  };
  struct Surface {
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    double scale = 1.0;
    std::uint32_t colour = 0;
    int size = 12;
    int face = 0;
    int penH = 0, penV = 0;
    std::vector<Operation> operations;
    std::size_t compactAt = 4096;
    QdRect changed;
  };

  static int Index(Port port) { return static_cast<int>(port); }
  Surface& surface() { return surfaces_[Index(current_)]; }
  Port PortOf(const Surface& s) const { return static_cast<Port>(&s - surfaces_.data()); }
  void Add(Surface& s, const Operation& op);
  // Draws one operation into the buffer; the device pixels it may touch.
  QdRect Render(Surface& s, const Operation& op);
  void Compact(Surface& s);
  // A text's advance (rounded) and ink at scale 1, from the pen.
  const TextSource::Measure& Measured(int text, int size, int face);
  const TextSource::Measure& Glyph(char c, int size, int face);
  const TextSource::Mask& GlyphMask(char c, int size, int face, double scale);
  int Intern(std::string_view text);

  TextSource& textSource_;
  std::array<Surface, 4> surfaces_;
  Port current_ = Port::View;
  std::unordered_map<std::string, int> textIds_;
  std::vector<std::string> texts_;
  std::map<std::tuple<int, int, int>, TextSource::Measure> measures_;  // by text
  std::map<std::tuple<char, int, int>, TextSource::Measure> glyphs_;
  std::map<std::tuple<char, int, int, double>, TextSource::Mask> masks_;
};

}  // namespace talveron::web
