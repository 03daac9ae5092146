// A study's folder as cells complete: a journal line per cell rather than a
// manifest rewritten each time, and a resume that reads both.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "run/study_directory.h"
#include "temp_folder.h"

namespace talveron {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

long CompleteInManifest(const std::filesystem::path& dir) {
  long complete = 0;
  const nlohmann::json manifest = nlohmann::json::parse(ReadAll(dir / "manifest.json"));
  for (const auto& cell : manifest["cells"]) {
    complete += cell["complete"].get<bool>() ? 1 : 0;
  }
  return complete;
}

TEST(StudyDirectory, CellsGoToTheJournalAndTheManifestFollowsLater) {
  test_support::TempFolder folder("journal");
  const std::string dir = (folder / "study").string();
  const SettingsFile file =
      ParseSettingsText("seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2, 3]\n", "s.toml");
  const StudyIdentity identity{"talveron-batch", "0", "talveron-batch --study s.toml", "s.toml"};
  const auto never = std::chrono::hours(24);
  {
    StudyDirectory study(dir, file, 0, false, identity, never);
    for (long cell = 1; cell <= 2; ++cell) {
      const StudyCell& planned = study.plan().cells[static_cast<std::size_t>(cell - 1)];
      SeriesWriter writer(planned.plan, study.PathOf(planned.dataName), "");
      RunSeriesInParallel({&writer}, RunOptions{});
      writer.Commit();
      study.CellFinished(cell, 0.5);
    }
    // Not rewritten for each cell; the journal has a line per cell, and
    // the folder is locked while it is open.
    EXPECT_EQ(CompleteInManifest(dir), 0);
    const std::string journal = ReadAll(folder / "study" / "journal.jsonl");
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 2) << journal;
    EXPECT_TRUE(std::filesystem::exists(folder / "study" / "study.lock"));
    EXPECT_THROW(StudyDirectory(dir, file, 0, true, identity, never), OutputBusy);
  }  // ended without Finish, as a killed process ends

  StudyDirectory resumed(dir, file, 0, true, identity, never);
  EXPECT_EQ(resumed.CellsComplete(), 2);
  EXPECT_FALSE(resumed.CellComplete(3));
  resumed.Finish("stopped");
  EXPECT_EQ(CompleteInManifest(dir), 2);
  EXPECT_FALSE(std::filesystem::exists(folder / "study" / "journal.jsonl"));
  EXPECT_EQ(ReadAll(folder / "study" / "summary.tsv").find("\n3\t"), std::string::npos);
  EXPECT_NE(ReadAll(folder / "study" / "summary.tsv").find("\n2\t"), std::string::npos);
}

}  // namespace
}  // namespace talveron
