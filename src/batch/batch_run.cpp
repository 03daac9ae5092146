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
#include "run/output_set.h"
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

// What the files hold after a series that did not complete: the complete
// records, and with them the genotype files of the same replicates.
std::string KeptText(const SeriesWriter& writer, const GenotypeOutput* genotypes) {
  const OutputFile& data = writer.dataFile();
  const long records = writer.recordsWritten();
  std::string text = "kept " + std::to_string(records) + " complete record" + (records == 1 ? "" : "s") + " in " +
                     data.writtenPath();
  if (const OutputFile* trace = writer.traceFile()) text += " and " + trace->writtenPath();
  if (genotypes != nullptr) {
    const std::vector<long> finished = genotypes->finished();
    if (!finished.empty()) {
      text += ", their genotype samples in " + WorkingPath(genotypes->FileOf(finished.front()));
      if (finished.size() > 1) text += " ... " + WorkingPath(genotypes->FileOf(finished.back()));
      text += " (with " + std::string(finished.size() == 1 ? "its index" : "their indexes") + ")";
    }
    text += (finished.empty() ? ", the genotype samples' table in " : " and ") + WorkingPath(genotypes->tablePath());
    if (!genotypes->listPaths().empty()) text += " with its lists beside it";
  }
  if (!data.direct()) {
    text += "; " + data.path() + (genotypes != nullptr ? " and the genotype files are" : " is") + " unchanged";
  }
  return text;
}

// Every file of the series, claimed before anything is written (OutputSet).
void PlanSeriesOutputs(OutputSet& set, const BatchOptions& options, long replicates) {
  set.Add({"--out", options.outPath, "", true, true});
  // The run record's name is kept free for it; no writer makes it yet.
  set.Add({"--out", RunRecordPath(options.outPath), "the run record", false, false});
  if (!options.tracePath.empty()) set.Add({"--trace", options.tracePath, "", true, true});
  if (!options.genotypesPath.empty()) PlanGenotypeOutputs(set, options.genotypesPath, replicates);
}

int RunSeriesCommand(const BatchOptions& options, const BatchContext& context, Reporter& reporter) {
  SeriesPlan plan;
  plan.params = options.params;
  plan.changes = options.changes;
  plan.traceStats = options.stats;
  plan.genotypes = !options.genotypesPath.empty();
  plan.sampleEvery = options.sampleEvery;
  plan.recording = options.recording;
  plan.replicates = options.series.replicates;
  plan.generations = options.series.generations;
  OutputSet outputs(context.program, Quoted);
  PlanSeriesOutputs(outputs, options, plan.replicates);
  if (std::string why; const int refused = outputs.Claim(why)) {
    reporter.Line(why);
    return refused;
  }
  plan.baseSeed = options.seed ? *options.seed : SeedFromClock();
  if (!options.quiet) {
    reporter.Line("base seed " + std::to_string(plan.baseSeed) + " (replicate k uses seed " +
                  std::to_string(plan.baseSeed) + " + k - 1)");
    if (const std::string warning = SampleCountWarning(plan); !warning.empty()) reporter.Line(warning);
  }

  std::unique_ptr<SeriesWriter> writer;
  std::unique_ptr<GenotypeOutput> genotypes;
  try {
    // The files are created before anything runs, so a bad path costs nothing.
    writer = std::make_unique<SeriesWriter>(plan, options.outPath, options.tracePath);
    if (plan.genotypes) {
      const std::string beside = std::filesystem::path(writer->dataFile().writtenPath()).parent_path().string();
      genotypes = std::make_unique<GenotypeOutput>(options.genotypesPath, plan.replicates,
                                                   GenotypeSettings{plan.params, plan.changes}, beside);
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
  if (genotypes) {
    writer->samplesArrived = [&genotypes](long replicate, std::vector<GenotypeSample>& samples) {
      for (GenotypeSample& sample : samples) genotypes->Add(replicate, std::move(sample));
    };
  }
  writer->recordWritten = [&](const ReplicatePiece& piece, long) {
    if (genotypes) genotypes->Finish(piece.replicate);
    ++totals.replicatesDone;
    ReportReplicate(reporter, piece, plan.generations, options, "");
  };
  RunOptions run = MakeRunOptions(options, context);
  run.tick = [&] { reporter.Progress(ProgressText(totals, counters, start)); };

  auto abandon = [&] {
    writer->Abandon();
    if (genotypes) genotypes->Abandon();
  };
  try {
    Engine(context, {writer.get()}, run, &counters);
    reporter.Done();
    if (!writer->Complete()) {
      const int signal = StopSignalOf(context);
      abandon();
      reporter.Line("stopped by " + std::string(SignalName(signal)) + ": " + KeptText(*writer, genotypes.get()));
      return StopStatus(signal);
    }
    // Every file complete under its working name before any is put in
    // place: a failure until then leaves every old file as it was.
    writer->Close();
    if (genotypes) genotypes->Close();
  } catch (const FileError& error) {
    reporter.Done();
    abandon();
    reporter.Line(error.what());
    reporter.Line(KeptText(*writer, genotypes.get()));
    return 1;
  } catch (const FatalError& error) {
    reporter.Done();
    abandon();
    reporter.Line(FatalLine(error.what()));
    reporter.Line(KeptText(*writer, genotypes.get()));
    return 1;
  }
  // The genotype files first, the data file last: a data file in place
  // has every file of its series in place beside it.
  std::vector<PendingFile> files = genotypes ? genotypes->Files() : std::vector<PendingFile>{};
  for (PendingFile& file : writer->Files()) files.push_back(std::move(file));
  try {
    PutInPlace(files);
  } catch (const FileError& error) {
    reporter.Line(error.what());
    return 1;
  }
  if (!options.quiet) {
    std::string wrote = "wrote " + options.outPath;
    if (!options.tracePath.empty()) wrote += " and " + options.tracePath;
    reporter.Line(wrote);
    if (genotypes) {
      reporter.Line("wrote the genotype samples to " + genotypes->FileOf(1) +
                    (plan.replicates > 1 ? " ... " + genotypes->FileOf(plan.replicates) : "") + ", " +
                    genotypes->tablePath() + " and the lists " + genotypes->listPaths()[0] + ", " +
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
