#include "batch/batch_run.h"
#include "record/vcf/genotype_output.h"
#include "record/vcf/genotype_vcf.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <ostream>
#include <string>
#include <tuple>

#include "batch/stop_signals.h"
#include "model/fatal_error.h"
#include "model/version.h"
#include "record/output_file.h"
#include "run/output_lock.h"
#include "run/study_directory.h"
#include "run/study_run.h"

namespace talveron::batch {
namespace {

using Clock = std::chrono::steady_clock;

// A fatal error of the model as the batch commands report it: one plain
// line on standard error (the desktop program shows its own report).
std::string FatalLine(const std::string& message) { return "fatal error: " + message; }

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

// Messages of the model (none with --quiet: they are not errors) and, with
// --verbose, a line per replicate.
void ReportReplicate(Reporter& reporter, const ReplicatePiece& piece, long generations, const BatchOptions& options,
                     const std::string& where) {
  const bool verbose = options.verbose;
  if (options.quiet) return;
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

// The outputs of a series, claimed before anything is written: each path
// usable, an existing file replaceable, and each file this process's alone
// (its lock held) until the series ends. Returns the exit status of a
// refusal, 0 when claimed.
int ClaimSeriesOutputs(const BatchOptions& options, const BatchContext& context, Reporter& reporter,
                       std::vector<std::unique_ptr<OutputLock>>& locks) {
  const std::vector<std::pair<std::string, std::string>> outputs = {{"--out", options.outPath},
                                                                    {"--trace", options.tracePath}};
  // Another output's working or lock file is refused before anything,
  // its lock included, is made.
  for (const auto& [option, path] : outputs) {
    if (path.empty() || SeriesLockPath(path).empty()) continue;
    if (const std::string why = WorkingFileName(path); !why.empty()) {
      reporter.Line(option + " " + Quoted(path) + ": " + why);
      return 2;
    }
  }
  try {
    for (const auto& [option, path] : outputs) {
      if (path.empty()) continue;
      CheckPathUsable(path);
      CheckReplaceable(path);
    }
    for (const auto& [option, path] : outputs) {
      if (path.empty()) continue;
      const std::string lockPath = SeriesLockPath(path);
      if (lockPath.empty()) continue;
      try {
        locks.push_back(std::make_unique<OutputLock>(lockPath, path, context.program));
        locks.back()->ClaimFile(path);
      } catch (const OutputBusy& busy) {
        reporter.Line(option + " " + Quoted(path) + " is being written by " + busy.holder() +
                      "; wait for it to end, or choose another file");
        return 2;
      }
    }
  } catch (const FileError& error) {
    reporter.Line(error.what());
    return 1;
  }
  return 0;
}

// One file under two spellings, by the paths' normal forms, so files not
// made yet count too: the file, its partial name and its lock file.
std::string NamedTwice(const std::string& out, const std::string& trace) {
  // Devices and pipes may take both streams (OutputCollision sees to a
  // device that leads to a regular file).
  if (trace.empty() || SeriesLockPath(out).empty() || SeriesLockPath(trace).empty()) return "";
  const std::string a = NormalPath(out);
  const std::string b = NormalPath(trace);
  if (a == b) return "'" + out + "' and '" + trace + "' are the same file";
  for (const auto& [one, other, oneShown, otherShown] :
       {std::tuple{a, b, out, trace}, std::tuple{b, a, trace, out}}) {
    if (other == PartialPath(one)) {
      return "'" + PartialPath(oneShown) + "' (written while " + oneShown + " runs) and '" + otherShown +
             "' are the same file";
    }
    if (other == one + ".lock") {
      return "'" + otherShown + "' is the same file as the lock file " + oneShown + ".lock";
    }
  }
  return "";
}

int RunSeriesCommand(const BatchOptions& options, const BatchContext& context, Reporter& reporter) {
  std::vector<std::unique_ptr<OutputLock>> locks;
  if (const int refused = ClaimSeriesOutputs(options, context, reporter, locks); refused != 0) return refused;
  SeriesPlan plan;
  plan.params = options.params;
  plan.changes = options.changes;
  plan.traceStats = options.stats;
  plan.genotypes = !options.genotypesPath.empty();
  plan.sampleEvery = options.sampleEvery;
  plan.recording = options.recording;
  plan.replicates = options.series.replicates;
  plan.generations = options.series.generations;
  plan.baseSeed = options.seed ? *options.seed : SeedFromClock();
  if (!options.quiet) {
    reporter.Line("base seed " + std::to_string(plan.baseSeed) + " (replicate k uses seed " +
                  std::to_string(plan.baseSeed) + " + k - 1)");
  }

  std::unique_ptr<SeriesWriter> writer;
  std::unique_ptr<GenotypeOutput> genotypes;
  try {
    // Both files are created before anything runs, so a bad path costs nothing.
    writer = std::make_unique<SeriesWriter>(plan, options.outPath, options.tracePath);
    if (plan.genotypes) {
      genotypes = std::make_unique<GenotypeOutput>(options.genotypesPath, plan.replicates,
                                                   GenotypeSettings{plan.params, plan.changes});
    }
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
    if (genotypes) genotypes->Write(piece.replicate, piece.samples);
    ++totals.replicatesDone;
    ReportReplicate(reporter, piece, plan.generations, options, "");
  };
  RunOptions run = MakeRunOptions(options, context);
  run.tick = [&] { reporter.Progress(ProgressText(totals, counters, start)); };

  try {
    Engine(context, {writer.get()}, run, &counters);
    reporter.Done();
    if (!writer->Complete()) {
      const int signal = StopSignalOf(context);
      writer->Abandon();
      if (genotypes) genotypes->Abandon();
      reporter.Line("stopped by " + std::string(SignalName(signal)) + ": " + KeptText(*writer));
      return StopStatus(signal);
    }
    writer->Commit();
    if (genotypes) genotypes->Commit();
  } catch (const FileError& error) {
    reporter.Done();
    writer->Abandon();
    if (genotypes) genotypes->Abandon();
    reporter.Line(error.what());
    reporter.Line(KeptText(*writer));
    return 1;
  } catch (const FatalError& error) {
    reporter.Done();
    writer->Abandon();
    if (genotypes) genotypes->Abandon();
    reporter.Line(FatalLine(error.what()));
    reporter.Line(KeptText(*writer));
    return 1;
  }
  if (!options.quiet) {
    std::string wrote = "wrote " + options.outPath;
    if (!options.tracePath.empty()) wrote += " and " + options.tracePath;
    reporter.Line(wrote);
    if (genotypes) {
      reporter.Line("wrote the genotype samples to " +
                    GenotypeFilePath(options.genotypesPath, 1, plan.replicates) +
                    (plan.replicates > 1 ? " ... " + GenotypeFilePath(options.genotypesPath, plan.replicates, plan.replicates) : "") +
                    ", " + genotypes->tablePath() + " and the lists " + genotypes->listPaths()[0] + ", " +
                    genotypes->listPaths()[1] + ", " + genotypes->listPaths()[2]);
    }
  }
  return 0;
}

int RunStudyCommand(const BatchOptions& options, const BatchContext& context, Reporter& reporter) {
  std::unique_ptr<StudyDirectory> study;
  try {
    study = std::make_unique<StudyDirectory>(
        options.outDir, *options.study, SeedFromClock(), options.resume,
        StudyIdentity{context.program, std::string(kTalveronVersion), context.commandLine, options.studyPath});
  } catch (const StudyError& error) {
    reporter.Line(error.what());
    return 2;
  } catch (const OutputBusy& busy) {
    reporter.Line("--out-dir " + Quoted(options.outDir) + " is being written by " + busy.holder() +
                  "; wait for it to end before resuming, or choose another folder");
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
  for (const StudyCell& cell : plan.cells) {
    totals.replicates += cell.plan.replicates;
    if (study->CellComplete(cell.number)) {
      totals.replicatesDone += cell.plan.replicates;
    } else {
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

  StudyRunEvents events;
  events.recordWritten = [&](const StudyCell& cell, const ReplicatePiece& piece) {
    {
      std::lock_guard lock(totalsMutex);
      ++totals.replicatesDone;
    }
    ReportReplicate(reporter, piece, cell.plan.generations, options,
                    "cell " + std::to_string(cell.number) + ", ");
  };
  events.cellFinished = [&](const StudyCell&) {
    std::lock_guard lock(totalsMutex);
    ++totals.cellsDone;
  };
  try {
    const SeriesEngine engine = [&context](const std::vector<SeriesWriter*>& writers, const RunOptions& runOptions,
                                           RunCounters* runCounters) {
      Engine(context, writers, runOptions, runCounters);
    };
    if (!RunStudyCells(*study, run, engine, &counters, events)) {
      const int signal = StopSignalOf(context);
      reporter.Done();
      reporter.Line("stopped by " + std::string(SignalName(signal)) + "; complete records of unfinished cells are in their .partial files");
      return stopped("stopped", StopStatus(signal));
    }
  } catch (const FileError& error) {
    reporter.Done();
    reporter.Line(error.what());
    try {
      return stopped("failed", 1);
    } catch (const FileError& again) {
      reporter.Line(again.what());
      return 1;
    }
  } catch (const FatalError& error) {
    reporter.Done();
    reporter.Line(FatalLine(error.what()));
    return stopped("failed", 1);
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

std::string VersionLine(const std::string& program) { return program + " " + std::string(kVersionAndBuild) + "\n"; }

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
    if (const std::string collision = NamedTwice(options.outPath, options.tracePath); !collision.empty()) {
      reporter.Line("--out and --trace: " + collision + "; give each its own file");
      return 2;
    }
  }
  try {
    const int status = options.study ? RunStudyCommand(options, context, reporter)
                                     : RunSeriesCommand(options, context, reporter);
    return CheckedOutput(out, log, context.program, status);
  } catch (const std::bad_alloc&) {
    reporter.Done();
    reporter.Line(FatalLine("Out of memory!"));
    return 1;
  } catch (const std::filesystem::filesystem_error& error) {
    // Every path is checked before it is used; should one still fail, it
    // is a file that cannot be written, not a crash.
    reporter.Done();
    reporter.Line("cannot write '" + error.path1().string() + "': " + error.code().message());
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
