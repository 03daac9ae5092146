// The batch command's options: parsing and validation, before anything runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/parameters.h"
#include "record/recorder.h"
#include "run/parallel_series.h"
#include "run/series.h"
#include "run/settings_file.h"

namespace talveron::batch {

struct BatchOptions {
  std::optional<std::uint64_t> seed;  // none: taken from the clock
  SeriesOptions series;
  RecordingChoices recording;
  Parameters params;
  ParameterSchedule changes;  // --change and a settings file's [[change]]
  std::string outPath;
  std::string tracePath;  // empty: no trace
  bool stats = false;     // the trace carries the population-genetic statistics
  std::string genotypesPath;  // FILE.vcf.gz: genotype samples; empty: none
  long sampleEvery = 0;       // 0: the last generation only
  std::string settingsPath;
  // A study: every combination of a settings file's [vary] lists.
  std::string studyPath;
  std::optional<SettingsFile> study;
  std::string outDir;
  bool resume = false;
  int jobs = 0;  // 0: one per core
  bool quiet = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

struct ParseResult {
  BatchOptions options;
  std::string error;  // non-empty: refuse with this line, exit status 2
};

ParseResult ParseBatchOptions(const std::vector<std::string>& args);

// The cores of this machine that the process may use.
using talveron::AvailableCores;

std::string BatchHelpText(const std::string& program = "talveron-batch");

// A value as an error line shows it: quoted, at most 80 characters, control
// characters escaped, so the message stays one line.
std::string Quoted(const std::string& value);

// The trace that goes with a data file when a settings file asks for one:
// FILE's extension replaced by .trace.
std::string TracePathFor(const std::string& outPath);
// The genotype samples that go with a data file when a settings file asks
// for them: FILE's extension replaced by .vcf.gz.
std::string GenotypesPathFor(const std::string& outPath);

}  // namespace talveron::batch
