// Scheduled changes of parameters: what may change, the words of a refusal,
// and the environment's switches under a changed period.
#include <gtest/gtest.h>

#include "model/parameter_schedule.h"

namespace talveron {
namespace {

TEST(ParameterSchedule, RefusesWhatCannotChangeNamingTheChange) {
  ParameterSchedule schedule;
  const auto founding = schedule.Add(2001, "initiallyOneHabitat", "1");
  ASSERT_TRUE(founding);
  EXPECT_EQ(*founding, "change at generation 2001: initiallyOneHabitat cannot change during a replicate: "
                       "it is read only at the founding of a replicate");
  EXPECT_TRUE(schedule.Add(5, "noMigration", "0"));
  EXPECT_TRUE(schedule.Add(0, "density", "2"));
  // A bad value in the words of --set, after the change's name.
  Parameters params;
  const auto setWords = SetParameter(params, "natalDispersalRate", "101");
  const auto bad = schedule.Add(7, "natalDispersalRate", "101");
  ASSERT_TRUE(bad && setWords);
  EXPECT_EQ(*bad, "change at generation 7: " + *setWords);
  EXPECT_TRUE(schedule.Add(7, "noSuchParameter", "1"));
  EXPECT_TRUE(schedule.empty());

  EXPECT_FALSE(schedule.Add(7, "natalDispersalRate", "10"));
  EXPECT_FALSE(schedule.Add(7, "density", "2"));
  const auto twice = schedule.Add(7, "natalDispersalRate", "20");
  ASSERT_TRUE(twice);
  EXPECT_NE(twice->find("natalDispersalRate is set twice"), std::string::npos) << *twice;
  EXPECT_EQ(schedule.size(), 1u);
  EXPECT_EQ(DescribeChange(schedule.changes()[0]), "density=2, natalDispersalRate=10");

  EXPECT_FALSE(schedule.CheckWithin(7));
  const auto late = schedule.CheckWithin(6);
  ASSERT_TRUE(late);
  EXPECT_EQ(*late, "change at generation 7: it comes after the last generation, 6; allowed generations are 1 to 6");

  for (int g = 100; g < 100 + kMaxScheduledChanges - 1; ++g) EXPECT_FALSE(schedule.Add(g, "density", "3"));
  EXPECT_TRUE(schedule.Add(1000, "density", "3"));
}

TEST(ParameterSchedule, AppliesExactlyAtItsGeneration) {
  ParameterSchedule schedule;
  ASSERT_FALSE(schedule.Add(10, "selectionFactor", "0.9"));
  ASSERT_FALSE(schedule.Add(10, "gMalesMateOnce", "true"));
  ASSERT_FALSE(schedule.Add(20, "selectionFactor", "0.1"));
  Parameters params;
  const Parameters before = params;
  EXPECT_FALSE(schedule.ApplyAt(9, params));
  EXPECT_EQ(params.selectionFactor, before.selectionFactor);
  EXPECT_TRUE(schedule.ApplyAt(10, params));
  EXPECT_EQ(params.selectionFactor, 0.9f);
  EXPECT_TRUE(params.gMalesMateOnce);
  EXPECT_EQ(params.density, before.density);
  EXPECT_TRUE(schedule.ApplyAt(20, params));
  EXPECT_EQ(params.selectionFactor, 0.1f);
  EXPECT_TRUE(params.gMalesMateOnce);

  schedule.Remove(10, "selectionFactor");
  schedule.Remove(10, "gMalesMateOnce");
  EXPECT_EQ(schedule.size(), 1u);
  EXPECT_EQ(ChangeWords(schedule), std::vector<std::string>{"20:selectionFactor=0.1"});
}

// Counted generation by generation, as the model switches.
long long SwitchesOneByOne(Parameters params, const ParameterSchedule& schedule, long generations) {
  long long switches = 0;
  for (long g = 1; g <= generations; ++g) {
    schedule.ApplyAt(g, params);
    if (g % params.gGenerationsToEnvironmentalChange == 0) ++switches;
  }
  return switches;
}

TEST(ParameterSchedule, CountsEnvironmentalSwitchesUnderChangedPeriods) {
  Parameters params;
  params.gGenerationsToEnvironmentalChange = 7;
  ParameterSchedule none;
  EXPECT_EQ(EnvironmentSwitches(params, none, 100), 14);
  ParameterSchedule schedule;
  ASSERT_FALSE(schedule.Add(30, "gGenerationsToEnvironmentalChange", "5"));
  ASSERT_FALSE(schedule.Add(12, "gGenerationsToEnvironmentalChange", "3"));
  ASSERT_FALSE(schedule.Add(61, "gGenerationsToEnvironmentalChange", "100"));
  ASSERT_FALSE(schedule.Add(70, "selectionFactor", "0.2"));
  for (long generations : {1L, 11L, 12L, 29L, 30L, 60L, 61L, 99L, 100L, 250L}) {
    EXPECT_EQ(EnvironmentSwitches(params, schedule, generations), SwitchesOneByOne(params, schedule, generations))
        << generations;
  }
}

}  // namespace
}  // namespace talveron
