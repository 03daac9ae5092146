#include "run/study.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "record/vcf/genotype_vcf.h"
#include "run/scheduled_changes.h"

namespace talveron {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

long WholeNumber(const std::string& text) {
  std::size_t used = 0;
  const long value = std::stol(text, &used);
  if (used != text.size()) throw std::runtime_error("not a whole number: '" + text + "'");
  return value;
}

std::string Decimal(double value, int places) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", places, value);
  return buffer;
}

// Median of whole numbers: a whole number, or one ending in .5.
std::string Median(std::vector<long> values) {
  if (values.empty()) return "";
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return std::to_string(values[middle]);
  const long long twice = static_cast<long long>(values[middle - 1]) + values[middle];
  return std::to_string(twice / 2) + (twice % 2 != 0 ? ".5" : "");
}

}  // namespace

StudyPlan PlanStudy(const SettingsFile& file, std::uint64_t seed) {
  StudyPlan study;
  study.file = file;
  study.seed = seed;
  long long cells = 1;
  for (const StudyAxis& axis : file.vary) {
    cells *= static_cast<long long>(axis.values.size());
    if (cells > kMaxStudyCells) {
      throw SettingsFileError("the study has more than " + std::to_string(kMaxStudyCells) +
                              " cells (the lengths of the [vary] lists multiplied); allowed are at most that, "
                              "so split it into several studies");
    }
    if (cells * file.settings.replicates > kMaxStudyReplicates) {
      throw SettingsFileError("the study has more than " + std::to_string(kMaxStudyReplicates) +
                              " replicates in all (cells x replicates); allowed is at most that");
    }
  }
  const SeriesSettings& settings = file.settings;
  if (settings.stats && !settings.trace) {
    throw SettingsFileError("stats = true adds columns to the cells' traces: set trace = true too");
  }
  std::vector<std::size_t> index(file.vary.size(), 0);
  for (long c = 1; c <= cells; ++c) {
    StudyCell cell;
    cell.number = c;
    cell.plan.params = settings.params;
    cell.plan.recording = settings.recording;
    cell.plan.replicates = settings.replicates;
    cell.plan.generations = settings.generations;
    cell.plan.traceStats = settings.trace && settings.stats;
    cell.plan.baseSeed = seed + static_cast<std::uint64_t>(c - 1) * static_cast<std::uint64_t>(settings.replicates);
    for (std::size_t a = 0; a < file.vary.size(); ++a) {
      const std::string& value = file.vary[a].values[index[a]];
      // Checked when the file was read.
      if (!IsChangeAxis(file.vary[a].name)) SetParameter(cell.plan.params, file.vary[a].name, value);
      cell.values.push_back(value);
    }
    cell.plan.changes = CellChanges(settings.changes, file.vary, cell.values);
    if (auto error = cell.plan.changes.CheckWithin(settings.generations)) {
      throw SettingsFileError("cell " + std::to_string(c) + ": " + *error);
    }
    cell.dataName = CellFileName(c, static_cast<long>(cells), ".txt");
    if (settings.trace) cell.traceName = CellFileName(c, static_cast<long>(cells), ".trace");
    if (settings.genotypes) {
      cell.plan.genotypes = true;
      cell.plan.sampleEvery = settings.sampleEvery;
      cell.genotypesName = CellFileName(c, static_cast<long>(cells), ".vcf.gz");
      cell.samplesName = CellFileName(c, static_cast<long>(cells), ".samples.tsv");
    }
    study.cells.push_back(std::move(cell));
    // The last parameter changes fastest.
    for (std::size_t a = file.vary.size(); a-- > 0;) {
      if (++index[a] < file.vary[a].values.size()) break;
      index[a] = 0;
    }
  }
  return study;
}

std::string CellFileName(long cell, long cells, const std::string& extension) {
  const std::string number = std::to_string(cell);
  const std::size_t width = std::to_string(cells).size();
  return "cell-" + std::string(width > number.size() ? width - number.size() : 0, '0') + number + extension;
}

std::string CellGenotypeFile(const StudyCell& cell, long replicate) {
  return GenotypeFilePath(cell.genotypesName, replicate, cell.plan.replicates);
}

std::vector<std::string> CellFiles(const StudyCell& cell) {
  std::vector<std::string> names = {cell.dataName};
  if (!cell.traceName.empty()) names.push_back(cell.traceName);
  if (!cell.genotypesName.empty()) {
    for (long k = 1; k <= cell.plan.replicates; ++k) {
      names.push_back(CellGenotypeFile(cell, k));
      names.push_back(names.back() + ".tbi");
    }
    names.push_back(cell.samplesName);
  }
  return names;
}

CellResults ReadCellResults(const std::string& dataText, const RecordingChoices& recording) {
  CellResults results;
  std::vector<std::string> lines = Split(dataText, '\r');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t first = 0;
  if (recording.gGetTimedCriteria) {
    const auto legend = std::find(lines.begin(), lines.end(), "A\tB\tC\tD\tE\tF\tG\tH\tI");
    if (legend == lines.end() || legend + 1 == lines.end()) throw std::runtime_error("no table of criteria");
    first = static_cast<std::size_t>(legend - lines.begin()) + 2;  // the legend and an empty line
    for (std::size_t i = first; i < lines.size(); ++i) {
      const std::vector<std::string> fields = Split(lines[i], '\t');
      if (fields.size() != 9) throw std::runtime_error("a record without nine fields: '" + lines[i] + "'");
      for (int c = 0; c < 5; ++c) {
        const long generation = WholeNumber(fields[static_cast<std::size_t>(c)]);
        if (generation != 0) results.met[c].push_back(generation);
      }
      const long kind = WholeNumber(fields[8]);
      if (kind == 1) ++results.speciation;
      if (kind == 2) ++results.fad;
      ++results.replicates;
    }
    return results;
  }
  const auto legend = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("FOLLOWING AVERAGES ARE SHOWN", 0) == 0;
  });
  if (legend == lines.end()) throw std::runtime_error("no legend of averages");
  first = static_cast<std::size_t>(legend - lines.begin()) + 1;
  while (first < lines.size() && lines[first].rfind("average ", 0) == 0) ++first;
  for (std::size_t i = first; i < lines.size(); ++i) {
    for (const std::string& field : Split(lines[i], '\t')) {
      if (field.empty()) continue;
      const long value = WholeNumber(field);
      ++results.spans;
      results.sum += static_cast<double>(value);
      results.sumOfSquares += static_cast<double>(value) * static_cast<double>(value);
      results.last = value;
    }
    ++results.replicates;
  }
  return results;
}

std::pair<double, double> WilsonInterval(long successes, long trials) {
  if (trials <= 0) return {0.0, 0.0};
  const double z = 1.959963984540054;
  const double n = static_cast<double>(trials);
  const double p = static_cast<double>(successes) / n;
  const double denominator = 1.0 + z * z / n;
  const double centre = (p + z * z / (2.0 * n)) / denominator;
  const double half = z * std::sqrt(p * (1.0 - p) / n + z * z / (4.0 * n * n)) / denominator;
  return {std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

std::string SummaryHeader(const StudyPlan& study) {
  std::string header = "cell";
  for (const StudyAxis& axis : study.file.vary) header += "\t" + axis.name;
  header += "\treplicates";
  if (study.file.settings.recording.gGetTimedCriteria) {
    for (const char* c : {"A", "B", "C", "D", "E"}) header += std::string("\t") + c + "_met";
    for (const char* c : {"A", "B", "C", "D", "E"}) header += std::string("\t") + c + "_median";
    header += "\tspeciation\tfad\tspeciation_share\tspeciation_low\tspeciation_high";
  } else {
    header += "\tspans\tmean\tsd\tlast";
  }
  return header + "\n";
}

std::string SummaryRow(const StudyPlan& study, const StudyCell& cell, const CellResults& results) {
  std::string row = std::to_string(cell.number);
  for (const std::string& value : cell.values) row += "\t" + value;
  row += "\t" + std::to_string(results.replicates);
  if (study.file.settings.recording.gGetTimedCriteria) {
    for (const auto& met : results.met) row += "\t" + std::to_string(met.size());
    for (const auto& met : results.met) row += "\t" + Median(met);
    const auto [low, high] = WilsonInterval(results.speciation, results.replicates);
    const double share =
        results.replicates > 0 ? static_cast<double>(results.speciation) / static_cast<double>(results.replicates) : 0.0;
    row += "\t" + std::to_string(results.speciation) + "\t" + std::to_string(results.fad) + "\t" +
           Decimal(share, 4) + "\t" + Decimal(low, 4) + "\t" + Decimal(high, 4);
  } else {
    row += "\t" + std::to_string(results.spans);
    if (results.spans > 0) {
      const double n = static_cast<double>(results.spans);
      const double mean = results.sum / n;
      const double variance = results.spans > 1 ? std::max(0.0, (results.sumOfSquares - n * mean * mean) / (n - 1)) : 0.0;
      row += "\t" + Decimal(mean, 3) + "\t" + Decimal(std::sqrt(variance), 3) + "\t" + std::to_string(results.last);
    } else {
      row += "\t\t\t";
    }
  }
  return row + "\n";
}

}  // namespace talveron
