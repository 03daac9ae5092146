// The batch command's options: parsing and validation, before anything runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "core/recorder.h"
#include "core/series.h"

namespace talveron::batch {

struct BatchOptions {
  std::optional<std::uint64_t> seed;  // none: taken from the clock
  SeriesOptions series;
  RecordingChoices recording;
  Parameters params;
  std::string outPath;
  std::string tracePath;  // empty: no trace
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct ParseResult {
  BatchOptions options;
  std::string error;  // non-empty: refuse with this line, exit status 2
};

ParseResult ParseBatchOptions(const std::vector<std::string>& args);

std::string BatchHelpText();

}  // namespace talveron::batch
