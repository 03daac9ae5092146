// The drawing operations the views use: four ports (one per window), each
// with its own colour, text size, text face and pen, and pixel coordinates
// local to the port (h to the right, v downwards). Rectangles are
// half-open: a rectangle covers the pixels left..right-1 and top..bottom-1.
#pragma once

#include <string_view>

namespace talveron::app {

enum class Port { View, Text, Graph, Time };  // map, text, graphs, time plot

// The five classic colour constants the program draws with.
enum class QdColor : int { Black = 33, White = 30, Red = 205, Blue = 409, Yellow = 69 };

struct QdRect {
  int top = 0;
  int left = 0;
  int bottom = 0;
  int right = 0;
};

// The size of each window's drawing area, as the port's own rectangle.
constexpr QdRect PortBounds(Port port) {
  switch (port) {
    case Port::View: return {0, 0, 400, 640};
    case Port::Text: return {0, 0, 95, 640};
    case Port::Graph: return {0, 0, 520, 220};
    case Port::Time: return {0, 0, 160, 902};
  }
  return {};
}

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void SetPort(Port port) = 0;
  virtual Port GetPort() const = 0;
  virtual QdRect GetPortBounds() const = 0;  // of the current port

  virtual void ForeColor(QdColor colour) = 0;
  virtual void FrameRect(const QdRect& r) = 0;  // one-pixel outline inside r
  virtual void PaintRect(const QdRect& r) = 0;  // fill in the fore colour
  virtual void EraseRect(const QdRect& r) = 0;  // fill in white
  virtual void PaintOval(const QdRect& r) = 0;  // the oval inscribed in r
  virtual void MoveTo(int h, int v) = 0;
  virtual void LineTo(int h, int v) = 0;        // both end points drawn; pen ends at (h, v)
  virtual void DrawString(std::string_view text) = 0;  // baseline at the pen; pen moves on
  // How far DrawString of `text` would move the pen, in the text size and
  // face of the current port.
  virtual int StringWidth(std::string_view text) = 0;
  virtual void TextSize(int points) = 0;
  virtual void TextFace(int style) = 0;         // 0 plain, 1 bold
};

}  // namespace talveron::app
