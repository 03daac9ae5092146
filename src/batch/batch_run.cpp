#include "batch/batch_run.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <ostream>
#include <string>

#include "batch/stop_signals.h"
#include "model/fatal_error.h"
#include "model/version.h"
#include "record/output_file.h"
#include "run/study_directory.h"

namespace talveron::batch {
namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t SeedFromClock() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

std::string Seconds(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
  return buffer;
}

// Lines on standard error from any thread, and the progress line: redrawn
// in place on a terminal, a plain line every few seconds elsewhere.
class Reporter {
 public:
  Reporter(std::ostream& log, const BatchContext& context, bool quiet)
      : log_(log), program_(context.program), terminal_(context.terminal), quiet_(quiet) {}

  void Line(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearLocked();
    // One write, whole, whatever else writes to standard error.
    log_ << (program_ + ": " + text + "\n") << std::flush;
  }

  void Progress(const std::string& text) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (terminal_) {
      if (now - last_ < std::chrono::milliseconds(500)) return;
      log_ << ("\r" + program_ + ": " + text + "\x1b[K") << std::flush;
      shown_ = true;
    } else {
      if (now - last_ < std::chrono::seconds(5)) return;
      log_ << (program_ + ": " + text + "\n") << std::flush;
    }
    last_ = now;
  }

  void Done() {
    std::lock_guard lock(mutex_);
    ClearLocked();
  }

 private:
  void ClearLocked() {
    if (!shown_) return;
    log_ << "\r\x1b[K";
    shown_ = false;
  }

  std::ostream& log_;
  std::string program_;
  bool terminal_;
  bool quiet_;
  bool shown_ = false;
  Clock::time_point last_ = Clock::now();
  std::mutex mutex_;
};

// What the progress line counts.
struct Totals {
  long cells = 0;  // 0: a single series
  long cellsDone = 0;
  long long replicates = 0;
  long long replicatesDone = 0;
  long long generations = 0;  // generations still to run, at the start
};

std::string ProgressText(const Totals& totals, const RunCounters& counters, Clock::time_point start) {
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const long long done = counters.generations.load();
  const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
  std::string text;
  if (totals.cells > 0) text += "cells " + std::to_string(totals.cellsDone) + "/" + std::to_string(totals.cells) + ", ";
  text += "replicates " + std::to_string(totals.replicatesDone) + "/" + std::to_string(totals.replicates) + ", " +
          std::to_string(static_cast<long long>(rate)) + " generations/s";
  if (rate > 0 && done > 0) text += ", " + Duration(static_cast<double>(totals.generations - done) / rate) + " left";
  return text;
}

// Messages of the model and, with --verbose, a line per replicate.
void ReportReplicate(Reporter& reporter, const ReplicatePiece& piece, long generations, bool verbose,
                     const std::string& where) {
  for (const auto& [message, count] : piece.messages) {
    std::string line = where + "replicate " + std::to_string(piece.replicate) + ": \"" + message + "\"";
    if (count > 1) line += " (" + std::to_string(count) + " times)";
    reporter.Line(line);
  }
  if (verbose) {
    reporter.Line(where + "replicate " + std::to_string(piece.replicate) + ": seed " + std::to_string(piece.seed) +
                  ", " + std::to_string(generations) + " generations, " + std::to_string(piece.draws) +
                  " draws, " + Seconds(piece.seconds) + " s");
  }
}

int StopSignalOf(const BatchContext& context) { return context.stopSignal ? context.stopSignal() : SIGINT; }

bool Stopped(const BatchContext& context) { return context.stop != nullptr && context.stop->load(); }

RunOptions MakeRunOptions(const BatchOptions& options, const BatchContext& context) {
  RunOptions run;
  run.jobs = options.jobs > 0 ? options.jobs : AvailableCores();
  run.stop = context.stop;
  return run;
}

void Engine(const BatchContext& context, const std::vector<SeriesWriter*>& writers, const RunOptions& run,
            RunCounters* counters) {
  if (context.engine) {
    context.engine(writers, run, counters);
  } else {
    RunSeriesInParallel(writers, run, counters);
  }
}

// What the files hold after a series that did not complete.
std::string KeptText(const SeriesWriter& writer) {
  const OutputFile& data = writer.dataFile();
  std::string text = "kept " + std::to_string(writer.recordsWritten()) + " complete record" +
                     (writer.recordsWritten() == 1 ? "" : "s") + " in " + data.writtenPath();
  if (const OutputFile* trace = writer.traceFile()) text += " and " + trace->writtenPath();
  if (!data.direct()) text += "; " + data.path() + " is unchanged";
  return text;
}

int RunSeriesCommand(const BatchOptions& options, const BatchContext& context, std::ostream& out,
                     Reporter& reporter) {
  SeriesPlan plan;
  plan.params = options.params;
  plan.recording = options.recording;
  plan.replicates = options.series.replicates;
  plan.generations = options.series.generations;
  plan.baseSeed = options.seed ? *options.seed : SeedFromClock();
  if (!options.quiet) {
    reporter.Line("base seed " + std::to_string(plan.baseSeed) + " (replicate k uses seed " +
                  std::to_string(plan.baseSeed) + " + k - 1)");
  }

  std::unique_ptr<SeriesWriter> writer;
  try {
    // Both files are created before anything runs, so a bad path costs nothing.
    writer = std::make_unique<SeriesWriter>(plan, options.outPath, options.tracePath);
  } catch (const FileError& error) {
    reporter.Line(error.what());
    return 1;
  }

  Totals totals;
  totals.replicates = plan.replicates;
  totals.generations = static_cast<long long>(plan.replicates) * plan.generations;
  RunCounters counters;
  const auto start = Clock::now();
  writer->recordWritten = [&](const ReplicatePiece& piece, long) {
    ++totals.replicatesDone;
    ReportReplicate(reporter, piece, plan.generations, options.verbose, "");
  };
  RunOptions run = MakeRunOptions(options, context);
  run.tick = [&] { reporter.Progress(ProgressText(totals, counters, start)); };

  try {
    Engine(context, {writer.get()}, run, &counters);
    reporter.Done();
    if (!writer->Complete()) {
      const int signal = StopSignalOf(context);
      writer->Abandon();
      reporter.Line("stopped by " + std::string(SignalName(signal)) + ": " + KeptText(*writer));
      return StopStatus(signal);
    }
    writer->Commit();
  } catch (const FileError& error) {
    reporter.Done();
    writer->Abandon();
    reporter.Line(error.what());
    reporter.Line(KeptText(*writer));
    return 1;
  } catch (const FatalError& error) {
    reporter.Done();
    writer->Abandon();
    out << FatalErrorReport(error.what()) << std::flush;
    reporter.Line(KeptText(*writer));
    return 1;
  }
  if (!options.quiet) {
    std::string wrote = "wrote " + options.outPath;
    if (!options.tracePath.empty()) wrote += " and " + options.tracePath;
    reporter.Line(wrote);
  }
  return 0;
}

int RunStudyCommand(const BatchOptions& options, const BatchContext& context, std::ostream& out,
                    Reporter& reporter) {
  std::unique_ptr<StudyDirectory> study;
  try {
    study = std::make_unique<StudyDirectory>(
        options.outDir, *options.study, SeedFromClock(), options.resume,
        StudyIdentity{context.program, std::string(kTalveronVersion), context.commandLine, options.studyPath});
  } catch (const StudyError& error) {
    reporter.Line(error.what());
    return 2;
  } catch (const FileError& error) {
    reporter.Line(error.what());
    return 1;
  }
  const StudyPlan& plan = study->plan();
  const long cells = static_cast<long>(plan.cells.size());
  if (!options.quiet) {
    std::string line = "study of " + std::to_string(cells) + " cell" + (cells == 1 ? "" : "s") + " x " +
                       std::to_string(plan.file.settings.replicates) + " replicates, seed " +
                       std::to_string(plan.seed);
    if (options.resume) line += "; " + std::to_string(study->CellsComplete()) + " cells already complete";
    reporter.Line(line);
  }

  Totals totals;
  totals.cells = cells;
  totals.cellsDone = study->CellsComplete();
  std::vector<const StudyCell*> toRun;
  for (const StudyCell& cell : plan.cells) {
    totals.replicates += cell.plan.replicates;
    if (study->CellComplete(cell.number)) {
      totals.replicatesDone += cell.plan.replicates;
    } else {
      toRun.push_back(&cell);
      totals.generations += static_cast<long long>(cell.plan.replicates) * cell.plan.generations;
    }
  }
  RunCounters counters;
  const auto start = Clock::now();
  std::mutex totalsMutex;
  RunOptions run = MakeRunOptions(options, context);
  run.tick = [&] {
    std::lock_guard lock(totalsMutex);
    reporter.Progress(ProgressText(totals, counters, start));
  };

  auto stopped = [&](const std::string& how, int status) {
    reporter.Done();
    study->Finish(how);
    reporter.Line(std::to_string(study->CellsComplete()) + " of " + std::to_string(cells) +
                  " cells complete in " + options.outDir + "; to go on: " + context.program + " --study " +
                  ShellQuote(options.studyPath) + " --out-dir " + ShellQuote(options.outDir) + " --resume");
    return status;
  };

  // A few hundred cells at a time keep the number of open files small.
  constexpr std::size_t kCellsAtOnce = 200;
  for (std::size_t first = 0; first < toRun.size(); first += kCellsAtOnce) {
    std::vector<std::unique_ptr<SeriesWriter>> writers;
    std::vector<SeriesWriter*> running;
    std::map<const SeriesWriter*, Clock::time_point> began;
    try {
      for (std::size_t i = first; i < toRun.size() && i < first + kCellsAtOnce; ++i) {
        const StudyCell& cell = *toRun[i];
        auto writer = std::make_unique<SeriesWriter>(
            cell.plan, study->PathOf(cell.dataName), cell.traceName.empty() ? "" : study->PathOf(cell.traceName));
        SeriesWriter* self = writer.get();
        const std::string where = "cell " + std::to_string(cell.number) + ", ";
        writer->recordWritten = [&, self, where, number = cell.number](const ReplicatePiece& piece, long written) {
          const auto now = Clock::now();
          {
            std::lock_guard lock(totalsMutex);
            ++totals.replicatesDone;
            const auto startedAt = now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(piece.seconds));
            auto found = began.find(self);
            if (found == began.end() || startedAt < found->second) began[self] = startedAt;
          }
          ReportReplicate(reporter, piece, self->plan().generations, options.verbose, where);
          // The last record: known from the record, as this runs under the
          // writer's lock, which Complete() would wait for.
          if (written < self->plan().replicates) return;
          self->Commit();
          double seconds = 0;
          {
            std::lock_guard lock(totalsMutex);
            seconds = std::chrono::duration<double>(now - began[self]).count();
            ++totals.cellsDone;
          }
          study->CellFinished(number, seconds);
        };
        running.push_back(self);
        writers.push_back(std::move(writer));
      }
      Engine(context, running, run, &counters);
    } catch (const FileError& error) {
      for (auto& writer : writers) writer->Abandon();
      reporter.Done();
      reporter.Line(error.what());
      try {
        return stopped("failed", 1);
      } catch (const FileError& again) {
        reporter.Line(again.what());
        return 1;
      }
    } catch (const FatalError& error) {
      for (auto& writer : writers) writer->Abandon();
      out << FatalErrorReport(error.what()) << std::flush;
      return stopped("failed", 1);
    }
    if (Stopped(context) && study->CellsComplete() < cells) {
      for (auto& writer : writers) {
        if (!writer->dataFile().committed()) writer->Abandon();
      }
      const int signal = StopSignalOf(context);
      reporter.Done();
      reporter.Line("stopped by " + std::string(SignalName(signal)) + "; complete records of unfinished cells are in their .partial files");
      return stopped("stopped", StopStatus(signal));
    }
  }
  reporter.Done();
  study->Finish("complete");
  if (!options.quiet) {
    reporter.Line("wrote " + std::to_string(cells) + " cell" + (cells == 1 ? "" : "s") + ", summary.tsv and manifest.json in " +
                  options.outDir);
  }
  return 0;
}

// Standard output is the user's, often a pipe: a failed write is an error.
int CheckedOutput(std::ostream& out, std::ostream& log, const std::string& program, int status) {
  out.flush();
  if (out) return status;
  const int error = errno;
  log << program << ": cannot write standard output: " << std::strerror(error != 0 ? error : EIO) << "\n";
  return 1;
}

}  // namespace

std::string Duration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  const long long whole = static_cast<long long>(std::llround(seconds));
  char buffer[64];
  if (whole < 60) {
    std::snprintf(buffer, sizeof buffer, "%lld s", whole);
  } else if (whole < 3600) {
    std::snprintf(buffer, sizeof buffer, "%lld min %02lld s", whole / 60, whole % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld h %02lld min", whole / 3600, (whole % 3600) / 60);
  }
  return buffer;
}

std::string VersionLine(const std::string& program) { return program + " " + std::string(kTalveronVersion) + "\n"; }

int RunBatch(const BatchOptions& options, const BatchContext& context, std::ostream& out, std::ostream& log) {
  Reporter reporter(log, context, options.quiet);
  // Two outputs in one file would leave neither: refuse before writing.
  if (!options.study) {
    std::vector<std::string> paths = {options.outPath};
    if (!options.tracePath.empty()) paths.push_back(options.tracePath);
    if (const std::string collision = OutputCollision(paths); !collision.empty()) {
      reporter.Line("--out and --trace: " + collision + "; give each its own file");
      return 2;
    }
  }
  try {
    const int status = options.study ? RunStudyCommand(options, context, out, reporter)
                                     : RunSeriesCommand(options, context, out, reporter);
    return CheckedOutput(out, log, context.program, status);
  } catch (const std::bad_alloc&) {
    out << FatalErrorReport("Out of memory!") << std::flush;
    return 1;
  }
}

int BatchMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& log,
              const BatchContext& context) {
  const ParseResult parsed = ParseBatchOptions(args);
  if (!parsed.error.empty()) {
    log << context.program << ": " << parsed.error << "\n";
    return 2;
  }
  if (parsed.options.help) {
    out << BatchHelpText(context.program);
    return CheckedOutput(out, log, context.program, 0);
  }
  if (parsed.options.version) {
    out << VersionLine(context.program);
    return CheckedOutput(out, log, context.program, 0);
  }
  return RunBatch(parsed.options, context, out, log);
}

}  // namespace talveron::batch
