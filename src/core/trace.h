// The per-generation census of a series as tab-separated text, one line per
// habitat and generation.
#pragma once

#include <cstdio>
#include <string>

#include "core/census.h"

namespace talveron {

class TraceFile {
 public:
  // Creates or replaces the file and writes the column heads; throws
  // FileError when it cannot.
  explicit TraceFile(std::string path);
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  void WriteGeneration(long replicate, long generation, const GeneFrequencies& frequencies);
  // Writes out what is buffered; throws FileError on failure.
  void Flush();
  void Close();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// The two lines of one generation, habitat 0 then habitat 1.
std::string TraceLines(long replicate, long generation, const GeneFrequencies& frequencies);

inline constexpr const char* kTraceHeader =
    "replicate\tgeneration\thabitat\tadults\tspec0\tspec1\tspec2\tpref0\tpref1\tpref2\tmate0\tmate1\tmate2\n";

}  // namespace talveron
