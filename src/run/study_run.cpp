#include "run/study_run.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace talveron {

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
  const long long filesPerCell = plan.cells.empty() || plan.cells.front().traceName.empty() ? 1 : 2;
  const std::size_t kCellsAtOnce = static_cast<std::size_t>(
      std::clamp((DescriptorsFree() - 32) / 2 / filesPerCell, 1LL, 200LL));
  for (std::size_t first = 0; first < toRun.size(); first += kCellsAtOnce) {
    std::vector<std::unique_ptr<SeriesWriter>> writers;
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
        writer->recordWritten = [&, self, cell = &cell](const ReplicatePiece& piece, long written) {
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
          double seconds = 0;
          {
            std::lock_guard lock(beganMutex);
            seconds = std::chrono::duration<double>(now - began[self]).count();
          }
          study.CellFinished(cell->number, seconds);
          if (events.cellFinished) events.cellFinished(*cell);
        };
        running.push_back(self);
        writers.push_back(std::move(writer));
      }
      if (engine) {
        engine(running, options, counters);
      } else {
        RunSeriesInParallel(running, options, counters);
      }
    } catch (...) {
      for (auto& writer : writers) writer->Abandon();
      throw;
    }
    if (options.stop != nullptr && options.stop->load() && study.CellsComplete() < cells) {
      for (auto& writer : writers) {
        if (!writer->dataFile().committed()) writer->Abandon();
      }
      return false;
    }
  }
  return true;
}

}  // namespace talveron
