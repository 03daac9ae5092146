#include "record/trace.h"

#include "record/census_totals.h"
#include "record/output_file.h"

namespace talveron {

std::string TraceLines(long replicate, long generation, const GeneFrequencies& frequencies) {
  const CensusTotals totals = GetGenerationFrequencies(frequencies);
  std::string text;
  for (int h = 0; h < 2; ++h) {
    int pref[3] = {0, 0, 0};
    for (int s = 0; s < 3; ++s)
      for (int p = 0; p < 3; ++p)
        for (int m = 0; m < 3; ++m) pref[p] += frequencies.count[h][s][p][m];
    text += std::to_string(replicate) + '\t' + std::to_string(generation) + '\t' + std::to_string(h) +
            '\t' + std::to_string(totals.habitatTotal[h]);
    for (int s = 0; s < 3; ++s) text += '\t' + std::to_string(totals.habitatSpecTotal[h][s]);
    for (int p = 0; p < 3; ++p) text += '\t' + std::to_string(pref[p]);
    for (int m = 0; m < 3; ++m) text += '\t' + std::to_string(totals.matingPrefTotal[h][m]);
    text += '\n';
  }
  return text;
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
