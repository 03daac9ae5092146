// What the map shows: a caption naming the display in force and what each
// allele's colour means in it (red 0, blue 1, yellow 2).
#pragma once

#include <array>
#include <string>

#include "app/drawing/views.h"

namespace talveron::app {

struct MapKey {
  std::string caption;
  std::array<std::string, 3> alleles;  // by allele: red, blue, yellow
};

MapKey MapKeyFor(const DisplayFlags& display);

}  // namespace talveron::app
