#include "core/trace.h"

#include <cerrno>
#include <cstring>

#include "core/data_file.h"

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

TraceFile::TraceFile(std::string path) : path_(std::move(path)) {
  file_ = std::fopen(path_.c_str(), "wb");
  if (file_ == nullptr) throw FileError(path_, std::strerror(errno));
  if (std::fputs(kTraceHeader, file_) < 0) throw FileError(path_, std::strerror(errno));
}

TraceFile::~TraceFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void TraceFile::WriteGeneration(long replicate, long generation, const GeneFrequencies& frequencies) {
  const std::string lines = TraceLines(replicate, generation, frequencies);
  if (std::fwrite(lines.data(), 1, lines.size(), file_) != lines.size()) {
    throw FileError(path_, std::strerror(errno));
  }
}

void TraceFile::Flush() {
  if (file_ != nullptr && std::fflush(file_) != 0) throw FileError(path_, std::strerror(errno));
}

void TraceFile::Close() {
  if (file_ == nullptr) return;
  Flush();
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw FileError(path_, std::strerror(errno));
}

}  // namespace talveron
