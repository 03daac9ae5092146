// Whole series: the order of a generation, carry-over between replicates
// and determinism.
#include <gtest/gtest.h>

#include "model_support.h"
#include "record/trace.h"
#include "run/series.h"
#include "string_sink.h"

namespace talveron {
namespace {

using testing::StringSink;

// FNV-1a, to pin a long output down in one number.
std::uint64_t Fingerprint(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

struct SeriesOutput {
  std::string data;
  std::string trace;
};

SeriesOutput RunFixedSeries(ModelHooks* hooks, const Parameters& params, RecordingChoices choices,
                            long replicates, long generations, std::uint64_t seed) {
  World world(hooks);
  world.params = params;
  DataRecorder recorder;
  recorder.choices = choices;
  StringSink sink;
  recorder.SetSink(&sink);
  SeriesOutput output;
  SeriesCallbacks callbacks;
  callbacks.censusTaken = [&output](long replicate, const World& w) {
    output.trace += TraceLines(replicate, w.gGenerationNumber, w.geneFrequencies);
  };
  RunSeries(world, recorder, SeriesOptions{seed, replicates, generations, {}}, callbacks);
  output.data = sink.text;
  return output;
}

// The same scenario and seed must give the same bytes on every machine and
// build; a change here means results changed.
TEST(Series, AFixedScenarioGivesTheKnownOutput) {
  Parameters params;
  params.density = 3;
  params.mutationRate = 50;
  const SeriesOutput output = RunFixedSeries(nullptr, params, RecordingChoices{}, 2, 300, 2026);
  EXPECT_EQ(Fingerprint(output.data), 17305630848794213115ULL) << output.data.substr(output.data.rfind("\r\r"));
  EXPECT_EQ(Fingerprint(output.trace), 12336213557942092618ULL);
}

// Drawing is only a view: a series shown in full gives the same file.
TEST(Series, TheDisplayDoesNotChangeTheResults) {
  testing::RecordingHooks shown;
  shown.minimize = false;
  Parameters params;
  params.gSearchCost = 0.2f;
  const SeriesOutput plain = RunFixedSeries(nullptr, params, RecordingChoices{}, 2, 120, 5);
  const SeriesOutput drawn = RunFixedSeries(&shown, params, RecordingChoices{}, 2, 120, 5);
  EXPECT_EQ(plain.data, drawn.data);
  EXPECT_EQ(plain.trace, drawn.trace);
  EXPECT_GT(shown.drawn, 0);
}

// The environment state carries from one replicate into the next: with a
// period of 3 and 4 generations per replicate, replicate 2 starts in state
// 0 and switches at its generation 3.
TEST(Series, TheEnvironmentCarriesAcrossReplicates) {
  World world;
  world.params.gGenerationsToEnvironmentalChange = 3;
  DataRecorder recorder;
  std::vector<int> states;
  SeriesCallbacks callbacks;
  callbacks.censusTaken = [&states](long, const World& w) { states.push_back(w.gCurrentViability); };
  RunSeries(world, recorder, SeriesOptions{1, 2, 4, {}}, callbacks);
  EXPECT_EQ(states, (std::vector<int>{2, 2, 0, 0, 0, 0, 1, 1}));
}

TEST(Series, WritesOneRecordPerReplicate) {
  const SeriesOutput output = RunFixedSeries(nullptr, Parameters{}, RecordingChoices{}, 3, 20, 9);
  const std::size_t body = output.data.find("I\r\r") + 3;
  const std::string records = output.data.substr(body);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\r'), 3);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\t'), 3 * 8);
}

}  // namespace
}  // namespace talveron
