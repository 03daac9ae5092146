#include "batch/batch_run.h"

#include <chrono>
#include <map>
#include <memory>
#include <new>
#include <ostream>
#include <string>

#include "core/data_file.h"
#include "core/fatal_error.h"
#include "core/trace.h"
#include "core/world.h"

namespace talveron::batch {
namespace {

// Nobody is there to press a key: non-fatal messages are counted and
// reported once per replicate, the rest is not shown.
class BatchHooks : public ModelHooks {
 public:
  void ShowError(std::string_view message) override { ++counts_[std::string(message)]; }

  void Report(std::ostream& log, long replicate) {
    for (const auto& [message, count] : counts_) {
      log << "talveron-batch: replicate " << replicate << ": \"" << message << "\"";
      if (count > 1) log << " (" << count << " times)";
      log << "\n";
    }
    counts_.clear();
  }

 private:
  std::map<std::string, long> counts_;
};

std::uint64_t SeedFromClock() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

}  // namespace

int RunBatch(const BatchOptions& options, std::ostream& out, std::ostream& log) {
  SeriesOptions series = options.series;
  series.baseSeed = options.seed ? *options.seed : SeedFromClock();
  if (!options.quiet) {
    log << "talveron-batch: base seed " << series.baseSeed << " (replicate k uses seed "
        << series.baseSeed << " + k - 1)\n";
  }

  try {
    // Both files are created before anything runs, so a bad path costs nothing.
    DataFile dataFile(options.outPath);
    std::unique_ptr<TraceFile> trace;
    if (!options.tracePath.empty()) trace = std::make_unique<TraceFile>(options.tracePath);

    BatchHooks hooks;
    World world(&hooks);
    world.params = options.params;
    DataRecorder recorder;
    recorder.choices = options.recording;
    recorder.SetSink(&dataFile);

    SeriesCallbacks callbacks;
    // Long replicates say how far they are, every few seconds.
    auto lastProgress = std::chrono::steady_clock::now();
    callbacks.censusTaken = [&](long replicate, const World& w) {
      if (trace) trace->WriteGeneration(replicate, w.gGenerationNumber, w.geneFrequencies);
      if (options.quiet || w.gGenerationNumber % 1000 != 0) return;
      const auto now = std::chrono::steady_clock::now();
      if (now - lastProgress < std::chrono::seconds(5)) return;
      lastProgress = now;
      log << "talveron-batch: replicate " << replicate << " of " << series.replicates << ", generation "
          << w.gGenerationNumber << " of " << series.generations << "\n";
    };
    callbacks.replicateFinished = [&](long replicate) {
      if (trace) trace->Flush();
      hooks.Report(log, replicate);
      if (!options.quiet) {
        log << "talveron-batch: replicate " << replicate << " of " << series.replicates << " done (seed "
            << ReplicateSeed(series.baseSeed, replicate) << ")\n";
      }
    };
    RunSeries(world, recorder, series, callbacks);
    dataFile.Close();
    if (trace) trace->Close();
  } catch (const FileError& error) {
    log << "talveron-batch: " << error.what() << "\n";
    return 1;
  } catch (const FatalError& error) {
    out << FatalErrorReport(error.what()) << std::flush;
    return 1;
  } catch (const std::bad_alloc&) {
    out << FatalErrorReport("Out of memory!") << std::flush;
    return 1;
  }
  if (!options.quiet) log << "talveron-batch: wrote " << options.outPath << "\n";
  return 0;
}

int BatchMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& log) {
  const ParseResult parsed = ParseBatchOptions(args);
  if (!parsed.error.empty()) {
    log << "talveron-batch: " << parsed.error << "\n";
    return 2;
  }
  if (parsed.options.help) {
    out << BatchHelpText();
    return 0;
  }
  if (parsed.options.version) {
    out << "talveron-batch 0.1\n";
    return 0;
  }
  return RunBatch(parsed.options, out, log);
}

}  // namespace talveron::batch
