// Settings files: what is read, what is refused, and that writing then
// reading gives the same settings.
#include <gtest/gtest.h>

#include "run/settings_file.h"
#include "temp_folder.h"

namespace talveron {
namespace {

std::string Refusal(const std::string& text) {
  try {
    ParseSettingsText(text, "study.toml");
  } catch (const SettingsFileError& error) {
    return error.what();
  }
  return "";
}

TEST(SettingsFile, ReadsASeriesAndAStudyInTheFilesOrder) {
  const SettingsFile file = ParseSettingsText(
      "seed = 42\nreplicates = 20\ngenerations = 300\nrecord = \"mating\"\nspan = 7\ntrace = true\n"
      "[set]\ndensity = 4\nselectionFactor = 0.1\ngMalesMateOnce = true\n"
      "[vary]\ngSearchCost = [0.2, 0.5]\nnumberOfKids = [2, 3, 4]\n",
      "study.toml");
  const SeriesSettings& s = file.settings;
  EXPECT_EQ(s.seed, 42u);
  EXPECT_EQ(s.replicates, 20);
  EXPECT_EQ(s.generations, 300);
  EXPECT_EQ(RecordName(s.recording), "mating");
  EXPECT_EQ(s.recording.gAveragingSpan, 7);
  EXPECT_TRUE(s.trace);
  EXPECT_EQ(s.params.density, 4);
  EXPECT_EQ(s.params.selectionFactor, 0.1f);
  EXPECT_TRUE(s.params.gMalesMateOnce);
  // Not alphabetical: the order in which the keys stand.
  ASSERT_EQ(file.vary.size(), 2u);
  EXPECT_EQ(file.vary[0].name, "gSearchCost");
  EXPECT_EQ(file.vary[1].name, "numberOfKids");
  EXPECT_EQ(file.vary[1].values, (std::vector<std::string>{"2", "3", "4"}));
}

TEST(SettingsFile, RefusesWithTheFileTheLineAndWhatIsAllowed) {
  EXPECT_EQ(Refusal("replicates = 2\ncolour = 3\n").rfind("study.toml:2: unknown key 'colour'", 0), 0u);
  EXPECT_EQ(Refusal("[set]\ndensity = 9\n").rfind("study.toml:2: '9' is not allowed for density", 0), 0u);
  EXPECT_EQ(Refusal("[set]\ndensity = 2\n[vary]\ndensity = [1, 2]\n"),
            "study.toml:4: parameter 'density' is named twice, in [set] and [vary]");
  EXPECT_EQ(Refusal("[vary]\ndensity = []\n"), "study.toml:2: density in [vary] has an empty list");
  EXPECT_NE(Refusal("[vary]\ndensity = [1,\n 12]\n").find("study.toml:3:"), std::string::npos);
  EXPECT_NE(Refusal("[set]\ndensity = 2\ndensity = 3\n").find("study.toml:3:"), std::string::npos);
  EXPECT_NE(Refusal("generations = 0\n").find("from 1 to 1000000000"), std::string::npos);
  EXPECT_NE(Refusal("record = \"all\"\n").find("\"timed\""), std::string::npos);
  EXPECT_NE(Refusal("seed = -1\n").find("seed: allowed"), std::string::npos);
  EXPECT_EQ(Refusal("genotypes = 1\n"), "study.toml:1: genotypes: allowed are true or false");
  EXPECT_EQ(Refusal("sample-every = 10\n"),
            "study.toml:1: sample-every goes with genotypes = true: it says which generations are sampled");
  EXPECT_NE(Refusal("genotypes = true\nsample-every = 0\n").find("study.toml:2:"), std::string::npos);
}

// What would exhaust the parser is refused before it parses: a key or
// table name of tens of thousands of dotted parts wherever it stands, a
// file of more than a few megabytes; a folder is no settings file. Long
// lists of decimals and dots in strings are no keys.
TEST(SettingsFile, RefusesWhatIsBeyondTheLimitsBeforeParsing) {
  std::string parts = "a";
  for (int i = 1; i < 50000; ++i) parts += ".a";
  const std::string limit = "a key or table name of more than 32 dotted parts; allowed are at most 32";
  EXPECT_EQ(Refusal("seed = 1\n[" + parts + "]\n"), "study.toml:2: " + limit);
  EXPECT_EQ(Refusal("seed = 1\n\n" + parts + " = 1\n"), "study.toml:3: " + limit);
  EXPECT_EQ(Refusal("x = [\n1,\n2]\ny = {b = 1, " + parts + " = 2}\n"), "study.toml:4: " + limit);
  EXPECT_EQ(Refusal(std::string(kMaxSettingsBytes, '#') + "\n"),
            "study.toml: the file has more than 4194304 bytes; allowed are at most that");

  std::string values = "0";
  for (int i = 1; i < 200; ++i) values += ", 0." + std::to_string(i);
  EXPECT_NO_THROW(ParseSettingsText("[vary]\nselectionFactor = [" + values + "]\n", "study.toml"));
  EXPECT_NE(Refusal("record = \"" + parts + "\" # " + parts + "\n").find("study.toml:1: record: allowed"),
            std::string::npos);

  test_support::TempFolder folder("settings");
  try {
    ReadSettingsFile(folder.path().string());
    ADD_FAILURE() << "a folder was read as a settings file";
  } catch (const SettingsFileError& error) {
    EXPECT_EQ(std::string(error.what()), folder.path().string() + ": is a folder; a settings file is needed");
  }
}

TEST(SettingsFile, WrittenSettingsReadBackTheSame) {
  SeriesSettings settings;
  settings.seed = 18446744073709551615u;  // past what a TOML integer holds
  settings.replicates = 3;
  ASSERT_TRUE(ApplyRecordName("specialization", settings.recording));
  settings.params.selectionFactor = 0.123456789f;
  settings.params.gViabilityFactor = 7.3f;
  settings.params.gGenerationsToEnvironmentalChange = 50;
  settings.params.restrictedNatalDispersal = true;
  settings.genotypes = true;
  settings.sampleEvery = 40;
  const SettingsFile back = ParseSettingsText(SettingsFileText(settings), "saved.toml");
  EXPECT_EQ(back.settings.seed, settings.seed);
  EXPECT_EQ(back.settings.replicates, 3);
  EXPECT_EQ(RecordName(back.settings.recording), "specialization");
  EXPECT_TRUE(back.settings.genotypes);
  EXPECT_EQ(back.settings.sampleEvery, 40);
  for (const ParameterInfo& info : ParameterTable()) {
    EXPECT_EQ(FormatParameter(back.settings.params, info), FormatParameter(settings.params, info)) << info.name;
  }
  EXPECT_EQ(back.settings.params.selectionFactor, 0.123456789f);
}

TEST(SettingsFile, BatchCommandLineNamesWhatDiffersFromTheDefaults) {
  SeriesSettings settings;
  settings.seed = 7;
  settings.params.density = 3;
  EXPECT_EQ(BatchCommandLine(settings, "my data.txt"),
            "talveron-batch --seed 7 --replicates 2 --generations 5000 --record timed --span 10 "
            "--set density=3 --out 'my data.txt'");
  EXPECT_EQ(ShellQuote("it's"), "'it'\\''s'");
}

TEST(Parameters, DecimalsAreReadStrictly) {
  Parameters params;
  for (const char* bad : {"0x1p-1", " 0.5", "0.5 ", "1e-50", "1e39", "inf", "nan", ".", "1e", "+"}) {
    EXPECT_TRUE(SetParameter(params, "gViabilityFactor", bad).has_value()) << bad;
  }
  for (const char* good : {"0.5", ".25", "2e-1", "0", "1E0"}) {
    EXPECT_FALSE(SetParameter(params, "gViabilityFactor", good).has_value()) << good;
  }
}

}  // namespace
}  // namespace talveron
