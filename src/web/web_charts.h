// The Charts view in the page: the desktop program's drawing of the charts
// (app/charts_drawing.h) on the page's canvas, with its words for screen
// readers and what hovering a point tells.
#pragma once

#include "record/census_history.h"

namespace talveron::web {

// Draws the charts of `history` when they changed since the last drawing
// (`changed`) or the page asks for it (a new size, the view shown again),
// and answers a hover the page is waiting on. Nothing while the view is
// hidden.
void ShowChartsInPage(const CensusHistory* history, bool changed);

}  // namespace talveron::web
