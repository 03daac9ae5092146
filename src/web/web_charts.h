// The Charts view in the page: the desktop program's drawing of the charts
// (app/drawing/charts_drawing.h) on the page's canvas, with its words for screen
// readers and what hovering a point tells.
#pragma once

#include "record/census_history.h"

namespace talveron::web {

// The Charts view on the page's canvas.
class PageCharts {
 public:
  // Draws the charts of `history` when they changed since the last drawing
  // (`changed`; `restarted` when the page's generations are not the
  // history's any more) or the page asks for it (a new size, the view shown
  // again, a picture), and answers a hover the page is waiting on. Nothing
  // while the view is hidden. In the frames of a fast run (`frame`) the
  // lines are drawn again at most every 100 ms and take at most a tenth of
  // the time, as in the desktop program; the frames in between draw the
  // header alone (the generation and the head counts) over the lines drawn
  // last. Outside frames, lines left behind are drawn at once.
  void Show(const CensusHistory* history, bool changed, bool restarted, bool frame);
  // A frame took `seconds` from its hand-over until the browser had shown
  // it: when it drew the lines, most of that was their drawing, which the
  // browser does after the hand-over.
  void FrameShown(double seconds);

 private:
  double width_ = 0, height_ = 0;  // the size of the last drawing of the lines
  double linesAt_ = 0;             // when that drawing ended, in seconds
  double linesTook_ = 0;           // how long it took
  bool linesBehind_ = false;       // the header shows a later generation than the lines
  bool linesInFrame_ = false;      // the frame being shown drew the lines
};

}  // namespace talveron::web
