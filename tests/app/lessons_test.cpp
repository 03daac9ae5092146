// Lessons in the interactive program: every lesson opens from the Lessons
// menu with its settings, pace, seed and text and runs; the summary in
// plain words agrees with the data file the batch command writes for the
// same seed; the page's link refuses bad values in the settings' words; a
// teacher's own lesson opens from its files.
#include "app/lessons/lessons.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/drawing/recording_canvas.h"
#include "app/shell/headless_platform.h"
#include "app/shell/shell.h"
#include "temp_folder.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string FormatAll(const Parameters& params) {
  std::string text;
  for (const ParameterInfo& info : ParameterTable()) {
    text += std::string(info.name) + "=" + FormatParameter(params, info) + " ";
  }
  return text;
}

// The settings of a lesson's file in the source tree, read as
// talveron-batch reads them.
SeriesSettings SettingsOfFile(const std::string& name) {
  return ReadSettingsFile(std::string(TALVERON_LESSONS_DIR) + "/" + name + ".toml").settings;
}

class LessonsTest : public ::testing::Test {
 protected:
  LessonsTest() { shell.MenuBarInit(); }

  // Answers every wait for the user with the space bar, and quits in
  // generation `last`.
  void RunTo(long last) {
    platform.SetIdleAnswer([](int sleepTicks) -> std::optional<Event> {
      if (sleepTicks < 60) return std::nullopt;
      return Event::Key(' ');
    });
    platform.PostMenuWhen([this, last] { return shell.world.gGenerationNumber == last; }, kFileMenu, 9);
    ASSERT_EQ(shell.MainLoop(), 0);
  }

  test_support::TempFolder folder{"lessons"};
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell{platform, canvas, 1000};
};

TEST(LessonFiles, EveryLessonHasTitleTextQuestionsAndSettingsTheBatchCommandReads) {
  const std::vector<std::string> names = {"drift",     "no-choice",  "selection",
                                          "migration", "extinction", "secondary-contact"};
  ASSERT_EQ(BuiltInLessons().size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Lesson& lesson = BuiltInLessons()[i];
    SCOPED_TRACE(lesson.name);
    EXPECT_EQ(lesson.name, names[i]);
    EXPECT_EQ(lesson.markdown, ReadFile(std::string(TALVERON_LESSONS_DIR) + "/" + lesson.name + ".md"));
    EXPECT_FALSE(lesson.title.empty());
    const auto questions = LessonQuestions(lesson);
    EXPECT_GE(questions.size(), 2u);
    EXPECT_LE(questions.size(), 3u);
    for (const std::string& question : questions) EXPECT_NE(question.find('?'), std::string::npos) << question;
    for (const char* section : {"## What the model shows", "## What to look for", "## Questions", "## Try this"}) {
      EXPECT_NE(lesson.markdown.find(section), std::string::npos) << section;
    }
    // Each says how to go faster.
    EXPECT_NE(lesson.markdown.find("Display > Speed"), std::string::npos);
    EXPECT_GT(SpeedItemOf(lesson.pace), 0);
    EXPECT_LE(lesson.pace, 10);
  }
  EXPECT_NE(GlossaryText().find("**Allele.**"), std::string::npos);
}

// Opening each lesson from the menu and running it for 200 generations.
TEST(LessonRuns, EveryLessonOpensFromTheMenuWithItsSettingsPaceSeedAndText) {
  for (const Lesson& lesson : BuiltInLessons()) {
    SCOPED_TRACE(lesson.name);
    HeadlessPlatform platform;
    RecordingCanvas canvas;
    Shell shell(platform, canvas, 1000);
    shell.MenuBarInit();
    const int item = Shell::LessonItem(lesson.name);
    ASSERT_TRUE(shell.ItemReachable(kLessonsMenu, item));
    platform.PostMenu(kLessonsMenu, item);
    platform.SetIdleAnswer([](int sleepTicks) -> std::optional<Event> {
      if (sleepTicks < 60) return std::nullopt;
      return Event::Key(' ');
    });
    bool checked = false;
    platform.PostMenuWhen(
        [&] {
          if (shell.world.gGenerationNumber != 200) return false;
          const SeriesSettings file = SettingsOfFile(lesson.name);
          // The parameters in force: the file's, with its changes up to now.
          Parameters inForce = file.params;
          for (long g = 1; g <= 200; ++g) file.changes.ApplyAt(g, inForce);
          EXPECT_EQ(FormatAll(shell.world.params), FormatAll(inForce));
          EXPECT_EQ(shell.gTotalGenerations, file.generations);
          EXPECT_EQ(shell.CurrentSeed(), *file.seed);
          EXPECT_EQ(shell.Speed(), lesson.pace);
          EXPECT_EQ(shell.history.LastGeneration(), 199);
          checked = true;
          return true;
        },
        kFileMenu, 9);
    ASSERT_EQ(shell.MainLoop(), 0);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(platform.Checked(kLessonsMenu, item));
    EXPECT_EQ(platform.lessonTitle, lesson.title);
    EXPECT_EQ(platform.lessonText, lesson.markdown);
    for (const std::string& question : LessonQuestions(lesson)) {
      EXPECT_NE(platform.lessonText.find(question.substr(0, 40)), std::string::npos) << question;
    }
    const int lessons = static_cast<int>(BuiltInLessons().size());
    EXPECT_TRUE(shell.ItemReachable(kLessonsMenu, lessons + kGlossaryOffset));
    EXPECT_TRUE(shell.ItemReachable(kLessonsMenu, lessons + kCloseLessonOffset));
  }
}

TEST_F(LessonsTest, GlossaryCloseLessonAndPresentationFromTheMenus) {
  const int lessons = static_cast<int>(BuiltInLessons().size());
  EXPECT_FALSE(shell.ItemReachable(kLessonsMenu, lessons + kCloseLessonOffset));
  platform.PostMenu(kLessonsMenu, 1);
  platform.PostMenu(kLessonsMenu, lessons + kGlossaryOffset);
  platform.PostMenu(kDisplayMenu, kPresentationItem);
  platform.PostStep([this]() -> std::optional<Event> {
    EXPECT_TRUE(platform.presentation);
    EXPECT_TRUE(platform.Checked(kDisplayMenu, kPresentationItem));
    EXPECT_FALSE(platform.lessonTitle.empty());
    return std::nullopt;
  });
  platform.PostMenu(kLessonsMenu, lessons + kCloseLessonOffset);
  platform.PostMenu(kFileMenu, 9);
  ASSERT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(platform.glossary, GlossaryText());
  EXPECT_TRUE(platform.lessonTitle.empty());
  EXPECT_FALSE(shell.CurrentLesson().has_value());
  EXPECT_FALSE(platform.presentation);
  EXPECT_FALSE(platform.Checked(kLessonsMenu, 1));
}

// The summary at each criterion and at the end of the run agrees with the
// data file talveron-batch writes for the same lesson and seed.
TEST_F(LessonsTest, SummaryAgreesWithTheDataFileOfTheSameSeed) {
  for (const std::uint64_t seed : {42u, 43u, 45u, 46u}) {
    SCOPED_TRACE(seed);
    const fs::path out = folder.path() / ("drift-" + std::to_string(seed) + ".txt");
    const std::string command = std::string(TALVERON_BATCH_PATH) + " --quiet --settings '" +
                                TALVERON_LESSONS_DIR + "/drift.toml' --seed " + std::to_string(seed) +
                                " --replicates 1 --out '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string file = ReadFile(out);
    // The record: the last line, nine tab-separated columns A to I.
    const std::size_t end = file.rfind('\r', file.size() - 2);
    std::istringstream record(file.substr(end + 1));
    std::vector<long> columns;
    for (std::string field; std::getline(record, field, '\t');) {
      if (!field.empty() && field != "\r") columns.push_back(std::stol(field));
    }
    ASSERT_EQ(columns.size(), 9u);

    HeadlessPlatform local;
    RecordingCanvas localCanvas;
    Shell run(local, localCanvas, 1000);
    run.MenuBarInit();
    ASSERT_EQ(run.OpenLink("lesson=drift&seed=" + std::to_string(seed)), std::nullopt);
    local.SetIdleAnswer([&](int sleepTicks) -> std::optional<Event> {
      if (sleepTicks < 60) return std::nullopt;
      if (run.Activity().starts_with("Run finished")) return Event::Menu(kFileMenu, 9);
      return Event::Key(' ');
    });
    ASSERT_EQ(run.MainLoop(), 0);
    ASSERT_FALSE(local.summaries.empty());

    // Each criterion met is told in its generation; the end names them all.
    std::string told;
    for (const std::string& summary : local.summaries) told += summary + "\n";
    const std::string& last = local.summaries.back();
    EXPECT_TRUE(last.starts_with("The run ended at generation 300.")) << last;
    for (int c = 0; c < 5; ++c) {
      const std::string letter(1, static_cast<char>('A' + c));
      const long generation = columns[static_cast<std::size_t>(c)];
      const std::string named = letter + " in generation " + std::to_string(generation);
      if (generation == 0) {
        EXPECT_EQ(last.find(letter + " in generation"), std::string::npos) << last;
      } else {
        EXPECT_NE(last.find(named), std::string::npos) << named << " in " << last;
        EXPECT_NE(told.find("Generation " + std::to_string(generation) + ": "), std::string::npos) << told;
      }
    }
    // F: the left habitat's preference (1 red, 2 blue); G: 1 speciation, 2 fad.
    const long left = columns[5], kind = columns[6];
    if (kind == 1) {
      EXPECT_NE(last.find(std::string("Speciation: the left habitat prefers ") + (left == 1 ? "red" : "blue")),
                std::string::npos)
          << last;
    } else if (kind == 2) {
      EXPECT_NE(last.find(std::string("the same mating preference (") + (left == 1 ? "red" : "blue")),
                std::string::npos)
          << last;
    } else {
      EXPECT_NE(last.find("No mating preference took over"), std::string::npos) << last;
    }
  }
}

TEST_F(LessonsTest, ExtinctionIsToldInTheGenerationItHappens) {
  shell.OpenLesson(*FindLesson("extinction"));
  RunTo(40);
  ASSERT_FALSE(platform.summaries.empty());
  const std::regex told("Generation ([0-9]+): the population has died out\\..*");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(platform.summaries.back(), match, told)) << platform.summaries.back();
  const long generation = std::stol(match[1]);
  EXPECT_EQ(shell.history.Adults(generation, 0) + shell.history.Adults(generation, 1), 0);
  EXPECT_GT(shell.history.Adults(generation - 1, 0) + shell.history.Adults(generation - 1, 1), 0);
  EXPECT_EQ(platform.note, platform.summaries.back());  // the status bar says it too
}

TEST_F(LessonsTest, LinkOpensALessonWithChangesAndRefusesBadValuesInTheSettingsWords) {
  const Parameters defaults;
  struct Refusal {
    std::string link;
    std::string words;
  };
  const std::vector<Refusal> refusals = {
      {"lesson=nope", "allowed is one of drift, no-choice, selection, migration, extinction"},
      {"lesson=drift&seed=-1", kSeedAllowed},
      {"seed=12x", kSeedAllowed},
      {"generations=0", kCountAllowed},
      {"density=9", *SetParameter(*std::make_unique<Parameters>(), "density", "9")},
      {"lesson=drift&colour=red", "unknown setting 'colour'"},
      {"lesson", "has no value"},
  };
  for (const Refusal& refusal : refusals) {
    const auto failure = shell.OpenLink(refusal.link);
    ASSERT_TRUE(failure.has_value()) << refusal.link;
    EXPECT_NE(failure->find(refusal.words), std::string::npos) << *failure;
    EXPECT_EQ(FormatAll(shell.world.params), FormatAll(defaults)) << refusal.link;
    EXPECT_FALSE(shell.CurrentLesson().has_value());
  }

  ASSERT_EQ(shell.OpenLink("#lesson=selection&seed=7&selectionFactor=0.9&density=2"), std::nullopt);
  EXPECT_EQ(shell.CurrentLesson()->name, "selection");
  EXPECT_FLOAT_EQ(shell.world.params.selectionFactor, 0.9f);
  EXPECT_EQ(shell.world.params.density, 2);
  EXPECT_EQ(shell.NextSeed(), 7u);
  // The link of what is on show gives the same experiment back.
  const std::string link = shell.Link();
  EXPECT_EQ(link, "lesson=selection&seed=7&selectionFactor=0.9&density=2");
  HeadlessPlatform other;
  RecordingCanvas otherCanvas;
  Shell student(other, otherCanvas, 5);
  student.MenuBarInit();
  ASSERT_EQ(student.OpenLink(link), std::nullopt);
  EXPECT_EQ(FormatAll(student.world.params), FormatAll(shell.world.params));
  EXPECT_EQ(student.NextSeed(), 7u);
}

TEST_F(LessonsTest, TeacherOpensALessonOfTheirOwnAndIsToldWhatIsWrongWithOne) {
  const fs::path good = folder.path() / "islands.md";
  std::ofstream(good) << "# Islands\n\nPace: 3 generations a second.\n\n## Questions\n\n1. Why?\n2. How?\n";
  std::ofstream(folder.path() / "islands.toml") << "seed = 9\n[set]\nnumberOfKids = 6\n";
  const fs::path badPace = folder.path() / "fast.md";
  std::ofstream(badPace) << "# Fast\n\nPace: 7 generations a second.\n";
  const fs::path badSettings = folder.path() / "wrong.toml";
  std::ofstream(folder.path() / "wrong.md") << "# Wrong\n";
  std::ofstream(badSettings) << "[set]\ndensity = 12\n";

  platform.lessonPaths = {badPace.string(), badSettings.string(), (folder.path() / "islands.toml").string()};
  platform.PostMenu(kFileMenu, kOpenLessonItem);
  platform.PostMenu(kFileMenu, 9);
  ASSERT_EQ(shell.MainLoop(), 0);
  ASSERT_EQ(platform.notices.size(), 2u);
  EXPECT_NE(platform.notices[0].find("fast: the line \"Pace: 7 generations a second.\""), std::string::npos)
      << platform.notices[0];
  EXPECT_NE(platform.notices[1].find("wrong.toml:2"), std::string::npos) << platform.notices[1];
  EXPECT_NE(platform.notices[1].find("density"), std::string::npos) << platform.notices[1];
  EXPECT_EQ(platform.lessonTitle, "Islands");
  EXPECT_EQ(shell.world.params.numberOfKids, 6);
  EXPECT_EQ(shell.Speed(), 3);
  EXPECT_EQ(LessonQuestions(*shell.CurrentLesson()), (std::vector<std::string>{"Why?", "How?"}));
  // No lesson of the menu is checked for it, and its link names no lesson.
  for (int item = 1; item <= static_cast<int>(BuiltInLessons().size()); ++item) {
    EXPECT_FALSE(platform.Checked(kLessonsMenu, item));
  }
  EXPECT_EQ(shell.Link().find("lesson="), std::string::npos);
}

}  // namespace
}  // namespace talveron::app
