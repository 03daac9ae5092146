#include "run/replicate_state.h"

#include <chrono>
#include <map>
#include <utility>

#include "run/settings_file.h"

namespace talveron {
namespace {

constexpr std::int64_t kMaxLong = 0x7FFFFFFFFFFFFFFF;

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void WriteSpan(StateWriter& out, const SpanSums& span) {
  out.I64(span.count);
  out.I64(span.total);
  out.I64(span.preference);
  out.I64(span.specialization);
  out.I64(span.mating);
}

SpanSums ReadSpan(StateReader& in) {
  SpanSums span;
  span.count = in.I64("an averaging span's count");
  span.total = in.I64("an averaging span's total");
  span.preference = in.I64("an averaging span's preference");
  span.specialization = in.I64("an averaging span's specialization");
  span.mating = in.I64("an averaging span's mating");
  return span;
}

void WriteMessages(StateWriter& out, const std::map<std::string, long>& messages) {
  out.U64(messages.size());
  for (const auto& [text, count] : messages) {
    out.Text(text);
    out.I64(count);
  }
}

std::map<std::string, long> ReadMessages(StateReader& in) {
  std::map<std::string, long> messages;
  const std::size_t count = in.Count("the number of messages", 16);
  for (std::size_t i = 0; i < count; ++i) {
    std::string text = in.Text("a message");
    messages[std::move(text)] = static_cast<long>(in.Within("a message's count", 0, kMaxLong));
  }
  return messages;
}

void WriteSamples(StateWriter& out, const std::vector<GenotypeSample>& samples) {
  out.U64(samples.size());
  for (const GenotypeSample& sample : samples) {
    out.I64(sample.generation);
    WriteIndividuals(out, sample.adults);
  }
}

std::vector<GenotypeSample> ReadSamples(StateReader& in) {
  std::vector<GenotypeSample> samples(in.Count("the number of genotype samples", 16));
  for (GenotypeSample& sample : samples) {
    sample.generation = static_cast<long>(in.Within("a genotype sample's generation", 0, kMaxCount + 1));
    sample.adults = ReadIndividuals(in, "the adults of a genotype sample");
  }
  return samples;
}

void WriteTotals(StateWriter& out, const CensusTotals& t) {
  for (int h = 0; h < 2; ++h) {
    out.I64(t.habitatTotal[h]);
    for (int a = 0; a < 3; ++a) out.I64(t.habitatSpecTotal[h][a]);
    for (int a = 0; a < 3; ++a) out.I64(t.matingPrefTotal[h][a]);
    out.I64(t.red[h]);
    out.I64(t.blu[h]);
    out.I64(t.redred[h]);
    out.I64(t.blublu[h]);
  }
}

CensusTotals ReadTotals(StateReader& in) {
  CensusTotals t;
  auto count = [&in] { return static_cast<int>(in.Within("a census total", 0, 0x7FFFFFFF)); };
  for (int h = 0; h < 2; ++h) {
    t.habitatTotal[h] = count();
    for (int a = 0; a < 3; ++a) t.habitatSpecTotal[h][a] = count();
    for (int a = 0; a < 3; ++a) t.matingPrefTotal[h][a] = count();
    t.red[h] = count();
    t.blu[h] = count();
    t.redred[h] = count();
    t.blublu[h] = count();
  }
  return t;
}

void WriteRecorder(StateWriter& out, const DataRecorder& r) {
  WriteTotals(out, r.totals);
  for (const long met : {r.gGenerationWithHabitatPreferences50, r.gGenerationWithHabitatSpecialization50,
                         r.gGenerationWithHabitatSpecialization95, r.gGenerationWithMatingPreference50,
                         r.gGenerationWithMatingPreference95}) {
    out.I64(met);
  }
  out.Bool(r.gLeftHabitatRedPreference);
  out.Bool(r.gPreferenceFad);
  WriteSpan(out, r.CurrentSpan());
  out.Text(r.gDataString);
  out.Bool(r.firstSpanDetached());
  out.Bool(r.firstSpanCompleted());
  WriteSpan(out, r.firstSpan());
}

void ReadRecorder(StateReader& in, DataRecorder& r) {
  r.totals = ReadTotals(in);
  for (long* met : {&r.gGenerationWithHabitatPreferences50, &r.gGenerationWithHabitatSpecialization50,
                    &r.gGenerationWithHabitatSpecialization95, &r.gGenerationWithMatingPreference50,
                    &r.gGenerationWithMatingPreference95}) {
    *met = static_cast<long>(in.Within("the generation a criterion was met", 0, kMaxCount + 1));
  }
  r.gLeftHabitatRedPreference = in.Bool("gLeftHabitatRedPreference");
  r.gPreferenceFad = in.Bool("gPreferenceFad");
  const SpanSums span = ReadSpan(in);
  if (span.count < 0 || span.count >= r.choices.gAveragingSpan) {
    in.Damaged("the averaging span under way counts " + std::to_string(span.count) + " generations of " +
               std::to_string(r.choices.gAveragingSpan));
  }
  r.gNumbersAveraged = span.count;
  r.gSumOfLeftHabitatTotal = span.total;
  r.gSumOfLeftHabitatPreference = span.preference;
  r.gSumOfLeftHabitatSpecialization = span.specialization;
  r.gSumOfLeftHabitatMatingPreference = span.mating;
  r.gDataString = in.Text("the recorder's pending text");
  const bool detached = in.Bool("whether the first span is kept apart");
  const bool completed = in.Bool("whether the first span is complete");
  r.RestoreFirstSpan(detached, completed, ReadSpan(in));
}

}  // namespace

void WritePlan(StateWriter& out, const SeriesPlan& plan) {
  WriteParameters(out, plan.params);
  const RecordingChoices& r = plan.recording;
  out.Bool(r.gGetTimedCriteria);
  out.Bool(r.gGetAverageLeftHabitatTotal);
  out.Bool(r.gGetAveragedLeftHabitatPreference);
  out.Bool(r.gGetAverageLeftHabitatSpecialization);
  out.Bool(r.gGetAverageLeftHabitatMatingPreference);
  out.I64(r.gAveragingSpan);
  out.U64(plan.baseSeed);
  out.I64(plan.replicates);
  out.I64(plan.generations);
  // The changes as the settings give them: each generation's NAME=VALUE.
  out.U64(plan.changes.size());
  for (const ParameterChange& change : plan.changes.changes()) {
    out.I64(change.generation);
    const auto values = ChangedValues(change);
    out.U64(values.size());
    for (const auto& [name, text] : values) {
      out.Text(name);
      out.Text(text);
    }
  }
  out.Bool(plan.traceStats);
  out.Bool(plan.genotypes);
  out.I64(plan.sampleEvery);
}

SeriesPlan ReadPlan(StateReader& in) {
  SeriesPlan plan;
  plan.params = ReadParameters(in);
  RecordingChoices& r = plan.recording;
  r.gGetTimedCriteria = in.Bool("gGetTimedCriteria");
  r.gGetAverageLeftHabitatTotal = in.Bool("gGetAverageLeftHabitatTotal");
  r.gGetAveragedLeftHabitatPreference = in.Bool("gGetAveragedLeftHabitatPreference");
  r.gGetAverageLeftHabitatSpecialization = in.Bool("gGetAverageLeftHabitatSpecialization");
  r.gGetAverageLeftHabitatMatingPreference = in.Bool("gGetAverageLeftHabitatMatingPreference");
  r.gAveragingSpan = static_cast<long>(in.Within("the averaging span", 1, kMaxCount));
  plan.baseSeed = in.U64("the seed");
  plan.replicates = static_cast<long>(in.Within("the number of replicates", 1, kMaxCount));
  plan.generations = static_cast<long>(in.Within("the number of generations", 1, kMaxCount));
  const std::size_t changes = in.Count("the number of scheduled changes", 16);
  if (changes > static_cast<std::size_t>(kMaxScheduledChanges)) {
    in.Damaged(std::to_string(changes) + " scheduled changes, more than " + std::to_string(kMaxScheduledChanges));
  }
  for (std::size_t i = 0; i < changes; ++i) {
    const std::int64_t generation = in.Within("a scheduled change's generation", 1, kMaxCount);
    const std::size_t values = in.Count("the number of values of a scheduled change", 16);
    for (std::size_t v = 0; v < values; ++v) {
      const std::string name = in.Text("a scheduled parameter's name");
      const std::string text = in.Text("a scheduled parameter's value");
      if (auto error = plan.changes.Add(generation, name, text)) in.Damaged(*error);
    }
  }
  if (auto error = plan.changes.CheckWithin(plan.generations)) in.Damaged(*error);
  plan.traceStats = in.Bool("whether the trace has statistics");
  plan.genotypes = in.Bool("whether genotypes are sampled");
  plan.sampleEvery = static_cast<long>(in.Within("the genotype samples' interval", 0, kMaxCount));
  return plan;
}

// The run's fields in the order they are declared; the plan is the
// caller's, and the start time is kept as the seconds run so far.
void ReplicateRun::SaveState(StateWriter& out) const {
  out.Bool(trace_);
  out.I64(generation_);
  WriteMessages(out, hooks_.counts);
  WriteWorld(out, *world_);
  WriteRecorder(out, recorder_);
  out.I64(piece_.replicate);
  out.Text(piece_.data);
  out.Text(piece_.trace);
  out.Bool(piece_.firstSpanCompleted);
  WriteSpan(out, piece_.firstSpan);
  out.Bool(piece_.finished);
  WriteSpan(out, piece_.lastSpan);
  out.U64(piece_.seed);
  out.U64(piece_.draws);
  out.F64(piece_.seconds);
  WriteMessages(out, piece_.messages);
  WriteSamples(out, piece_.samples);
  WriteSamples(out, samples_);
  out.F64(SteadySeconds() - startSeconds_);
}

void ReplicateRun::RestoreState(StateReader& in) {
  trace_ = in.Bool("whether the replicate is traced");
  const std::int64_t generation = in.Within("the generation", 0, plan_.generations);
  hooks_.counts = ReadMessages(in);
  ReadWorld(in, *world_);
  ReadRecorder(in, recorder_);
  generation_ = static_cast<long>(generation);
  piece_ = ReplicatePiece{};
  piece_.replicate = static_cast<long>(in.Within("the replicate", 1, plan_.replicates));
  piece_.data = in.Text("the data text not handed on");
  piece_.trace = in.Text("the trace not handed on");
  piece_.firstSpanCompleted = in.Bool("whether the handed-on first span is complete");
  piece_.firstSpan = ReadSpan(in);
  piece_.finished = in.Bool("whether the replicate has ended");
  piece_.lastSpan = ReadSpan(in);
  piece_.seed = in.U64("the replicate's seed");
  piece_.draws = in.U64("the replicate's draws");
  piece_.seconds = in.F64("the replicate's seconds");
  piece_.messages = ReadMessages(in);
  piece_.samples = ReadSamples(in);
  samples_ = ReadSamples(in);
  startSeconds_ = SteadySeconds() - in.F64("the seconds run so far");
}

std::string SaveReplicateState(const SeriesPlan& plan, const ReplicateRun& run) {
  StateWriter out;
  WritePlan(out, plan);
  run.SaveState(out);
  return SealState("replicate", out.bytes());
}

RestoredReplicate RestoreReplicateState(std::string_view sealed, std::string_view source) {
  StateReader in(OpenState(sealed, "replicate", source), std::string(source));
  RestoredReplicate restored;
  restored.plan = std::make_unique<SeriesPlan>(ReadPlan(in));
  restored.run = std::make_unique<ReplicateRun>(*restored.plan, 1, false);
  restored.run->RestoreState(in);
  in.ExpectEnd();
  return restored;
}

}  // namespace talveron
