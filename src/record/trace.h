// The per-generation census of a series as tab-separated text, one line per
// habitat and generation.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "model/census.h"

namespace talveron {

class OutputFile;

// Written as FILE.partial until Close(), like the data file; it keeps whole
// replicates only.
class TraceFile {
 public:
  // Creates the file and writes the column heads; throws FileError when it
  // cannot.
  explicit TraceFile(std::string path);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  void WriteGeneration(long replicate, long generation, const GeneFrequencies& frequencies);
  // A replicate is complete: writes out what is buffered; throws FileError.
  void Flush();
  // Complete: puts the file in place; throws FileError.
  void Close();

 private:
  std::unique_ptr<OutputFile> file_;
};

// The counts of one habitat's line: adults, then how many carry allele
// 0, 1, 2 at habitat specialization, habitat preference and mating-preference
// type.
using TraceCounts = std::array<int, 10>;
TraceCounts TraceCountsOf(const GeneFrequencies& frequencies, int habitat);

// One line of the trace.
std::string TraceLine(long replicate, long generation, int habitat, const TraceCounts& counts);

// The two lines of one generation, habitat 0 then habitat 1.
std::string TraceLines(long replicate, long generation, const GeneFrequencies& frequencies);

inline constexpr const char* kTraceHeader =
    "replicate\tgeneration\thabitat\tadults\tspec0\tspec1\tspec2\tpref0\tpref1\tpref2\tmate0\tmate1\tmate2\n";

}  // namespace talveron
