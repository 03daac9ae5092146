#include "app/drawing/recording_canvas.h"

namespace talveron::app {

RecordingCanvas::Op& RecordingCanvas::Add(Kind kind) {
  const PortState& s = state();
  Op op{};
  op.kind = kind;
  op.port = current_;
  op.colour = s.colour;
  op.size = s.size;
  op.face = s.face;
  ops_.push_back(op);
  return ops_.back();
}

void RecordingCanvas::SetPort(Port port) {
  current_ = port;
  Add(Kind::SetPort);
}

void RecordingCanvas::ForeColor(QdColor colour) {
  state().colour = colour;
  Add(Kind::ForeColor);
}

void RecordingCanvas::MoveTo(int h, int v) {
  state().penH = h;
  state().penV = v;
  Op& op = Add(Kind::MoveTo);
  op.h = h;
  op.v = v;
}

void RecordingCanvas::LineTo(int h, int v) {
  PortState& s = state();
  Op& op = Add(Kind::LineTo);
  op.fromH = s.penH;
  op.fromV = s.penV;
  op.h = h;
  op.v = v;
  s.penH = h;
  s.penV = v;
}

void RecordingCanvas::DrawString(std::string_view text) {
  PortState& s = state();
  Op& op = Add(Kind::DrawString);
  op.h = s.penH;
  op.v = s.penV;
  op.text = std::string(text);
  // Without a font the pen moves on by a nominal half an em per character.
  s.penH += StringWidth(text);
}

int RecordingCanvas::StringWidth(std::string_view text) {
  return static_cast<int>(text.size()) * state().size / 2;
}

void RecordingCanvas::TextSize(int points) {
  state().size = points;
  Add(Kind::TextSize).value = points;
}

void RecordingCanvas::TextFace(int style) {
  state().face = style;
  Add(Kind::TextFace).value = style;
}

std::vector<RecordingCanvas::Op> RecordingCanvas::OfKind(Kind kind) const {
  std::vector<Op> result;
  for (const Op& op : ops_) {
    if (op.kind == kind) result.push_back(op);
  }
  return result;
}

std::string RecordingCanvas::TextIn(Port port) const {
  std::string result;
  for (const Op& op : ops_) {
    if (op.kind == Kind::DrawString && op.port == port) result += op.text;
  }
  return result;
}

}  // namespace talveron::app
