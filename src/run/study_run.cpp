#include "run/study_run.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "record/output_file.h"
#include "record/vcf/genotype_vcf.h"

namespace talveron {

CellGenotypes::CellGenotypes(const StudyDirectory& study, const StudyCell& cell)
    : study_(study), cell_(cell), table_(study.PathOf(cell.samplesName)) {
  table_.Write(kGenotypeTableHeader);
  table_.Sync();
  table_.MarkComplete();
}

void CellGenotypes::Write(long replicate, const std::vector<GenotypeSample>& samples) {
  const std::string file = CellGenotypeFile(cell_, replicate);
  WriteGenotypeVcf(PartialPath(study_.PathOf(file)), replicate, samples,
                   GenotypeSettings{cell_.plan.params, cell_.plan.changes});
  table_.Write(GenotypeTableLines(replicate, samples, file));
  table_.Sync();
  table_.MarkComplete();
}

void CellGenotypes::Commit() {
  for (long k = 1; k <= cell_.plan.replicates; ++k) {
    const std::string path = study_.PathOf(CellGenotypeFile(cell_, k));
    const std::string partial = PartialPath(path);
    std::error_code error;
    std::filesystem::rename(partial + ".tbi", path + ".tbi", error);
    if (error) throw FileError(path + ".tbi", error.message());
    std::filesystem::rename(partial, path, error);
    if (error) throw FileError(path, error.message());
  }
  table_.Close();
  table_.Commit();
}

void CellGenotypes::Abandon() {
  if (!table_.committed()) table_.Abandon();
}

namespace {

struct CellOutputs {
  std::unique_ptr<SeriesWriter> series;
  std::unique_ptr<CellGenotypes> genotypes;  // when the cell samples genotypes
  void Abandon() {
    series->Abandon();
    if (genotypes) genotypes->Abandon();
  }
};

}  // namespace

bool RunStudyCells(StudyDirectory& study, const RunOptions& options, const SeriesEngine& engine,
                   RunCounters* counters, const StudyRunEvents& events) {
  using Clock = std::chrono::steady_clock;
  const StudyPlan& plan = study.plan();
  const long cells = static_cast<long>(plan.cells.size());
  std::vector<const StudyCell*> toRun;
  for (const StudyCell& cell : plan.cells) {
    if (!study.CellComplete(cell.number)) toRun.push_back(&cell);
  }

  // A few hundred cells at a time keep the number of open files small;
  // fewer where the limit of open files (ulimit -n) is low, half of what
  // is left going to the cells' files and half to replicates held.
  const long long filesPerCell = plan.cells.empty() ? 1
                                 : 1 + (plan.cells.front().traceName.empty() ? 0 : 1) +
                                       (plan.cells.front().samplesName.empty() ? 0 : 1);
  const std::size_t kCellsAtOnce = static_cast<std::size_t>(
      std::clamp((DescriptorsFree() - 32) / 2 / filesPerCell, 1LL, 200LL));
  for (std::size_t first = 0; first < toRun.size(); first += kCellsAtOnce) {
    std::vector<CellOutputs> writers;
    std::vector<SeriesWriter*> running;
    // A cell's time runs from the start of its earliest replicate.
    std::map<const SeriesWriter*, Clock::time_point> began;
    std::mutex beganMutex;
    try {
      for (std::size_t i = first; i < toRun.size() && i < first + kCellsAtOnce; ++i) {
        const StudyCell& cell = *toRun[i];
        auto writer = std::make_unique<SeriesWriter>(
            cell.plan, study.PathOf(cell.dataName), cell.traceName.empty() ? "" : study.PathOf(cell.traceName));
        SeriesWriter* self = writer.get();
        auto genotypes = cell.samplesName.empty() ? nullptr : std::make_unique<CellGenotypes>(study, cell);
        writer->recordWritten = [&, self, cellGenotypes = genotypes.get(), cell = &cell](const ReplicatePiece& piece,
                                                                                         long written) {
          if (cellGenotypes != nullptr) cellGenotypes->Write(piece.replicate, piece.samples);
          const auto now = Clock::now();
          {
            std::lock_guard lock(beganMutex);
            const auto startedAt =
                now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(piece.seconds));
            auto found = began.find(self);
            if (found == began.end() || startedAt < found->second) began[self] = startedAt;
          }
          if (events.recordWritten) events.recordWritten(*cell, piece);
          // The last record: known from the record, as this runs under the
          // writer's lock, which Complete() would wait for.
          if (written < self->plan().replicates) return;
          self->Commit();
          if (cellGenotypes != nullptr) cellGenotypes->Commit();
          double seconds = 0;
          {
            std::lock_guard lock(beganMutex);
            seconds = std::chrono::duration<double>(now - began[self]).count();
          }
          study.CellFinished(cell->number, seconds);
          if (events.cellFinished) events.cellFinished(*cell);
        };
        running.push_back(self);
        writers.push_back({std::move(writer), std::move(genotypes)});
      }
      if (engine) {
        engine(running, options, counters);
      } else {
        RunSeriesInParallel(running, options, counters);
      }
    } catch (...) {
      for (auto& writer : writers) writer.Abandon();
      throw;
    }
    if (options.stop != nullptr && options.stop->load() && study.CellsComplete() < cells) {
      for (auto& writer : writers) {
        if (!writer.series->dataFile().committed()) writer.Abandon();
      }
      return false;
    }
  }
  return true;
}

}  // namespace talveron
