#include "run/study_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "record/output_file.h"

namespace talveron {

CellGenotypes::CellGenotypes(const StudyDirectory& study, const StudyCell& cell)
    : output_(study.PathOf(cell.genotypesName), cell.plan.replicates,
              GenotypeSettings{cell.plan.params, cell.plan.changes}, study.PathOf(""), false) {}

namespace {

struct CellOutputs {
  std::unique_ptr<SeriesWriter> series;
  std::unique_ptr<CellGenotypes> genotypes;  // when the cell samples genotypes
  bool inPlace = false;
  // A cell that holds no complete record leaves nothing: a stop keeps the
  // working files of the cells under way, not empty ones for every cell
  // that had not begun.
  void Abandon() {
    if (inPlace) return;
    series->Abandon();
    if (genotypes) genotypes->Abandon();
    if (series->recordsWritten() > 0) return;
    std::vector<std::string> working = {series->dataFile().writtenPath()};
    if (series->traceFile() != nullptr) working.push_back(series->traceFile()->writtenPath());
    if (genotypes) working.push_back(WorkingPath(genotypes->tablePath()));
    for (const std::string& path : working) std::remove(path.c_str());
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
        if (genotypes) {
          writer->samplesArrived = [cellGenotypes = genotypes.get()](long replicate,
                                                                     std::vector<GenotypeSample>& samples) {
            for (GenotypeSample& sample : samples) cellGenotypes->Add(replicate, std::move(sample));
          };
        }
        const std::size_t slot = writers.size();
        writer->recordWritten = [&, self, slot, cellGenotypes = genotypes.get(), cell = &cell](
                                    const ReplicatePiece& piece, long written) {
          if (cellGenotypes != nullptr) cellGenotypes->Finish(piece.replicate);
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
          // Every file complete before any is put in place, the data file
          // last: a cell's files are all there or none.
          self->Close();
          if (cellGenotypes != nullptr) cellGenotypes->Close();
          std::vector<PendingFile> files = cellGenotypes != nullptr ? cellGenotypes->Files() : std::vector<PendingFile>{};
          for (PendingFile& file : self->Files()) files.push_back(std::move(file));
          PutInPlace(files);
          writers[slot].inPlace = true;
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
      for (auto& writer : writers) writer.Abandon();
      return false;
    }
  }
  return true;
}

}  // namespace talveron
