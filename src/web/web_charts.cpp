#include "web/web_charts.h"

#include <emscripten.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/drawing/charts_drawing.h"

// clang-format off
// The view's size in CSS pixels (0 while hidden), whether the page wants it
// drawn again, the point a hover waits on (x, y, or -1), and whether its
// Statistics check box is on.
EM_JS(void, web_charts_state, (double* out), { HEAPF64.set(Talveron.charts.state(), out >> 3); });
EM_JS(void, web_charts_begin, (), { Talveron.charts.begin(); });
EM_JS(void, web_charts_fill, (double x, double y, double w, double h, int rgb), { Talveron.charts.fill(x, y, w, h, rgb); });
EM_JS(void, web_charts_frame, (double x, double y, double w, double h, int rgb), { Talveron.charts.frame(x, y, w, h, rgb); });
EM_JS(void, web_charts_line, (const double* points, int count, int rgb, double width, int dash), {
  Talveron.charts.line(new Float64Array(HEAPF64.buffer, points, count * 2), rgb, width, dash);
});
EM_JS(void, web_charts_text, (const char* text, double x, double middle, int pixels, int bold, int align, int rgb), {
  Talveron.charts.text(UTF8ToString(text), x, middle, pixels, bold, align, rgb);
});
EM_JS(double, web_charts_width, (const char* text, int pixels, int bold), {
  return Talveron.charts.width(UTF8ToString(text), pixels, bold);
});
EM_JS(void, web_charts_clip, (double x, double y, double w, double h), { Talveron.charts.clip(x, y, w, h); });
EM_JS(void, web_charts_unclip, (), { Talveron.charts.unclip(); });
EM_JS(void, web_charts_end, (const char* words), { Talveron.charts.end(UTF8ToString(words)); });
EM_JS(void, web_charts_tip, (const char* text), { Talveron.charts.tip(UTF8ToString(text)); });
// clang-format on

namespace talveron::web {

namespace {

constexpr double kLinesEvery = 0.1;  // seconds at least between two drawings of the lines in a fast run

// The charts' drawing operations on the page's 2D canvas.
class PageChartsPainter : public app::ChartsPainter {
 public:
  void FillRect(const app::ChartsRect& r, std::uint32_t colour) override {
    web_charts_fill(r.left, r.top, r.width, r.height, static_cast<int>(colour));
  }
  void StrokeRect(const app::ChartsRect& r, std::uint32_t colour) override {
    web_charts_frame(r.left, r.top, r.width, r.height, static_cast<int>(colour));
  }
  void Polyline(const std::vector<app::ChartsPoint>& points, std::uint32_t colour, double width, Dash dash) override {
    static_assert(sizeof(app::ChartsPoint) == 2 * sizeof(double));
    web_charts_line(reinterpret_cast<const double*>(points.data()), static_cast<int>(points.size()),
                    static_cast<int>(colour), width, static_cast<int>(dash));
  }
  void Text(const std::string& text, double x, double middle, int pixels, bool bold, Align align,
            std::uint32_t colour) override {
    web_charts_text(text.c_str(), x, middle, pixels, bold ? 1 : 0, static_cast<int>(align), static_cast<int>(colour));
  }
  double TextWidth(const std::string& text, int pixels, bool bold) override {
    return web_charts_width(text.c_str(), pixels, bold ? 1 : 0);
  }
  void Clip(const app::ChartsRect& r) override { web_charts_clip(r.left, r.top, r.width, r.height); }
  void Unclip() override { web_charts_unclip(); }
};

}  // namespace

void PageCharts::Show(const CensusHistory* history, bool changed, bool restarted, bool frame) {
  double state[6] = {};
  web_charts_state(state);
  const double width = state[0], height = state[1];
  const bool statistics = state[5] != 0;
  if (width < 10 || height < 10) return;
  PageChartsPainter painter;
  const double now = emscripten_get_now() / 1000;
  const bool asked = state[2] != 0 || restarted || width != width_ || height != height_;
  const bool linesDue = !frame || now - linesAt_ >= std::max(kLinesEvery, 10 * linesTook_);
  if (asked || ((changed || linesBehind_) && linesDue)) {
    web_charts_begin();
    app::DrawCharts(painter, width, height, history, statistics);
    // The words go with the lines: what they tell is what the lines show.
    web_charts_end(app::ChartsInWords(history, statistics).c_str());
    width_ = width;
    height_ = height;
    linesAt_ = emscripten_get_now() / 1000;
    linesTook_ = linesAt_ - now;
    linesBehind_ = false;
    linesInFrame_ = frame;
  } else if (changed) {
    web_charts_begin();
    app::DrawChartsHeader(painter, width, height, history);
    linesBehind_ = true;
  }
  if (state[3] >= 0) {
    const auto told = app::DescribeChartsAt(width, height, history, state[3], state[4], painter, statistics);
    web_charts_tip(told ? told->c_str() : "");
  }
}

void PageCharts::FrameShown(double seconds) {
  if (!linesInFrame_) return;
  linesInFrame_ = false;
  linesAt_ = emscripten_get_now() / 1000;
  linesTook_ = std::max(linesTook_, seconds);
}

}  // namespace talveron::web
