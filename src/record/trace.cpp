#include "record/trace.h"

#include "record/census_totals.h"
#include "record/output_file.h"

namespace talveron {

TraceCounts TraceCountsOf(const GeneFrequencies& frequencies, int habitat) {
  const CensusTotals totals = GetGenerationFrequencies(frequencies);
  TraceCounts counts{};
  counts[0] = totals.habitatTotal[habitat];
  for (int s = 0; s < 3; ++s) counts[static_cast<std::size_t>(1 + s)] = totals.habitatSpecTotal[habitat][s];
  for (int s = 0; s < 3; ++s)
    for (int p = 0; p < 3; ++p)
      for (int m = 0; m < 3; ++m) counts[static_cast<std::size_t>(4 + p)] += frequencies.count[habitat][s][p][m];
  for (int m = 0; m < 3; ++m) counts[static_cast<std::size_t>(7 + m)] = totals.matingPrefTotal[habitat][m];
  return counts;
}

std::string TraceLine(long replicate, long generation, int habitat, const TraceCounts& counts) {
  std::string text = std::to_string(replicate) + '\t' + std::to_string(generation) + '\t' + std::to_string(habitat);
  for (const int count : counts) text += '\t' + std::to_string(count);
  text += '\n';
  return text;
}

std::string TraceLines(long replicate, long generation, const GeneFrequencies& frequencies) {
  return TraceLine(replicate, generation, 0, TraceCountsOf(frequencies, 0)) +
         TraceLine(replicate, generation, 1, TraceCountsOf(frequencies, 1));
}

TraceFile::TraceFile(std::string path) : file_(std::make_unique<OutputFile>(std::move(path))) {
  file_->Write(kTraceHeader);
  Flush();
}

TraceFile::~TraceFile() = default;

void TraceFile::WriteGeneration(long replicate, long generation, const GeneFrequencies& frequencies) {
  file_->Write(TraceLines(replicate, generation, frequencies));
}

void TraceFile::Flush() {
  file_->Sync();
  file_->MarkComplete();
}

void TraceFile::Close() { file_->Commit(); }

}  // namespace talveron
