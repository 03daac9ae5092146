// What a lesson tells a class while its run goes on, in the headless
// platform: a change of the settings is told in plain words in the lesson
// panel and stays there until the next event, drawn slowly and framed
// alike; every milestone and change is listed with its generation, as the
// data file of the batch command dates the milestones; a labelled line
// marks the change on the time plot and the Charts at its generation, and
// only in a lesson; and an extinction is told with the cause the last
// generations show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/drawing/charts_drawing.h"
#include "app/drawing/recording_canvas.h"
#include "app/lessons/lessons.h"
#include "app/shell/headless_platform.h"
#include "app/shell/shell.h"
#include "temp_folder.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

// The words the secondary-contact lesson's change is told in, written out
// here from what its settings file sets at generation 151.
constexpr const char* kContact =
    "From generation 151, 30% of the young move to the other habitat and females accept males of either "
    "habitat.";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The criteria A to E of the first record of a data file that
// talveron-batch writes for a lesson's settings and seed: the generation
// each was first met, 0 when never.
std::vector<long> BatchCriteria(const fs::path& folder, const std::string& lesson, std::uint64_t seed) {
  const fs::path out = folder / (lesson + "-" + std::to_string(seed) + ".txt");
  const std::string command = std::string(TALVERON_BATCH_PATH) + " --quiet --settings '" +
                              TALVERON_LESSONS_DIR + "/" + lesson + ".toml' --seed " + std::to_string(seed) +
                              " --replicates 1 --out '" + out.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  const std::string file = ReadFile(out);
  const std::size_t end = file.rfind('\r', file.size() - 2);
  std::istringstream record(file.substr(end + 1));
  std::vector<long> columns;
  for (std::string field; std::getline(record, field, '\t');) {
    if (!field.empty() && field != "\r") columns.push_back(std::stol(field));
  }
  columns.resize(5);
  return columns;
}

// A lesson opened from the menu and run to its end at `speed` (an item of
// the Speed menu), every wait answered; `watch` runs after each poll.
struct LessonRun {
  explicit LessonRun(const std::string& name, int speedItem = 0) {
    shell.MenuBarInit();
    platform.PostMenu(kLessonsMenu, Shell::LessonItem(name));
    if (speedItem > 0) platform.PostMenu(kSpeedMenu, speedItem);
    platform.SetIdleAnswer([this](int sleepTicks) -> std::optional<Event> {
      if (watch) watch();
      if (sleepTicks < 60) return std::nullopt;
      if (shell.Activity().starts_with("Run finished")) return Event::Menu(kFileMenu, 9);
      return Event::Key(' ');
    });
  }
  void Run() { ASSERT_EQ(shell.MainLoop(), 0); }

  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell{platform, canvas, 1000};
  std::function<void()> watch;
};

TEST(LessonChange, IsToldInPlainWordsAndStaysInThePanelAndStatusBarUntilTheNextEvent) {
  // The next event after the contact: the first criterion the batch
  // command's data file dates after generation 151, or the run's end.
  test_support::TempFolder folder("lesson-change");
  long next = 401;
  for (long g : BatchCriteria(folder.path(), "secondary-contact", 42)) {
    if (g > 151) next = std::min(next, g);
  }
  LessonRun run("secondary-contact");
  std::map<int, std::string> notes;
  std::map<int, std::string> seen;
  // What the panel and the status bar show as each generation begins.
  run.watch = [&] {
    const int g = run.shell.world.gGenerationNumber;
    seen.emplace(g, run.platform.summaryShown);
    notes.emplace(g, run.platform.note);
  };
  run.Run();
  // Before generation 151 something else; from it until the next event,
  // the change, in the panel and the status bar alike; then the event.
  EXPECT_NE(seen.at(151), kContact);
  for (int g = 152; g <= next; ++g) {
    ASSERT_EQ(seen.at(g), kContact) << "generation " << g;
    ASSERT_EQ(notes.at(g), kContact) << "generation " << g;
  }
  EXPECT_NE(seen.at(static_cast<int>(next) + 1), kContact);
  EXPECT_TRUE(seen.at(static_cast<int>(next) + 1)
                  .starts_with(next == 401 ? "The run ended" : "Generation " + std::to_string(next) + ": "))
      << seen.at(static_cast<int>(next) + 1);
  // Told once, not in every generation.
  EXPECT_EQ(std::count(run.platform.summaries.begin(), run.platform.summaries.end(), kContact), 1);
}

TEST(LessonChange, OutsideALessonTheStatusBarKeepsTheChangeUntilTheReplicateEnds) {
  test_support::TempFolder folder("lesson-change-note");
  const fs::path settings = folder / "contact.toml";
  std::ofstream(settings)
      << "generations = 30\n[[change]]\ngeneration = 11\nset = { natalDispersalRate = 40 }\n";
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell(platform, canvas, 5);
  shell.MenuBarInit();
  ASSERT_EQ(shell.OpenSettingsFile(settings.string()), std::nullopt);
  std::map<int, std::string> notes;
  platform.SetIdleAnswer([&](int sleepTicks) -> std::optional<Event> {
    notes[shell.world.gGenerationNumber] = platform.note;
    if (sleepTicks < 60) return std::nullopt;
    if (shell.Activity().starts_with("Run finished")) return Event::Menu(kFileMenu, 9);
    return Event::Key(' ');
  });
  ASSERT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(notes.at(10), "");
  for (int g = 12; g <= 30; ++g) {
    EXPECT_EQ(notes.at(g), "Generation 11: natalDispersalRate=40 from now on (settings' change)") << g;
  }
  EXPECT_TRUE(platform.summaries.empty());  // no lesson, no panel
}

// The list: every criterion the batch command's data file dates, and the
// change, each once, in the order of their generations; the same whether
// the run is drawn generation by generation or in frames at the fastest
// speed.
TEST(LessonMilestones, ListEveryCriterionWithTheDataFilesGenerationAndTheChangeInOrder) {
  test_support::TempFolder folder("lesson-milestones");
  const std::vector<long> criteria = BatchCriteria(folder.path(), "secondary-contact", 42);
  std::vector<std::pair<long, std::string>> expected = {{151, "Change, generation 151: "}};
  for (int c = 0; c < 5; ++c) {
    const long g = criteria[static_cast<std::size_t>(c)];
    if (g > 0)
      expected.push_back(
          {g, std::string(1, static_cast<char>('A' + c)) + ", generation " + std::to_string(g) + ": "});
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  ASSERT_GE(expected.size(), 5u);

  for (const int speedItem : {0, 1}) {  // the lesson's pace; as fast as it goes, in frames
    SCOPED_TRACE(speedItem == 0 ? "drawn generation by generation" : "in frames");
    LessonRun run("secondary-contact", speedItem);
    std::vector<std::string> listAt160;
    bool taken = false;
    run.watch = [&] {
      if (run.shell.world.gGenerationNumber != 160 || taken) return;
      listAt160 = run.platform.milestones;
      taken = true;
    };
    run.Run();
    const std::vector<std::string>& shown = run.platform.milestones;
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(shown[i].starts_with(expected[i].second)) << shown[i] << " for " << expected[i].second;
    }
    EXPECT_EQ(
        shown[static_cast<std::size_t>(
            std::find_if(expected.begin(), expected.end(), [](const auto& e) { return e.first == 151; }) -
            expected.begin())],
        std::string("Change, generation 151: ") + (kContact + std::string("From generation 151, ").size()));
    EXPECT_EQ(run.shell.Milestones(), shown);
    // The end is told last, from the run's last generation.
    EXPECT_TRUE(run.platform.summaries.back().starts_with("The run ended at generation 400."))
        << run.platform.summaries.back();
    // While the run went on, the list held what had been reached.
    for (const std::string& line : listAt160) {
      const long g = std::stol(line.substr(line.find("generation ") + 11));
      EXPECT_LE(g, 160) << line;
    }
  }
  // A new population starts the list again.
  LessonRun again("secondary-contact");
  bool cleared = false;
  again.platform.PostWhen([&] { return again.shell.world.gGenerationNumber == 200; },
                          [&]() -> std::optional<Event> { return Event::Key('r', true); });
  again.watch = [&] {
    if (again.shell.world.gGenerationNumber == 1 && again.shell.CurrentSeed() == 43) {
      cleared = cleared || again.platform.milestones.empty();
    }
    if (again.shell.CurrentSeed() == 43 && again.shell.world.gGenerationNumber == 10) {
      again.shell.quitRequested = true;
    }
  };
  again.Run();
  EXPECT_TRUE(cleared);
}

// A recording of the Charts' drawing: the lines and the words.
class ChartsRecording : public ChartsPainter {
 public:
  struct Line {
    std::vector<ChartsPoint> points;
    std::uint32_t colour;
    Dash dash;
  };
  void FillRect(const ChartsRect&, std::uint32_t) override {}
  void StrokeRect(const ChartsRect&, std::uint32_t) override {}
  void Polyline(const std::vector<ChartsPoint>& points, std::uint32_t colour, double, Dash dash) override {
    lines.push_back({points, colour, dash});
  }
  void Text(const std::string& text, double x, double, int, bool, Align, std::uint32_t) override {
    words.push_back({text, x});
  }
  double TextWidth(const std::string& text, int pixels, bool) override {
    return 0.6 * pixels * static_cast<double>(text.size());
  }
  void Clip(const ChartsRect&) override {}
  void Unclip() override {}
  std::vector<Line> lines;
  std::vector<std::pair<std::string, double>> words;
};

// The time plot's column of generation 151 and the Charts: a line at the
// change's generation with its label, read back from what was drawn; none
// before the change is reached, and none for the same settings outside a
// lesson.
TEST(LessonMarkers, TheChangeIsALabelledLineOnTheTimePlotAndTheChartsAtItsGeneration) {
  auto timeMark = [](const RecordingCanvas& canvas) {
    int lines = 0, labels = 0;
    for (const RecordingCanvas::Op& op : canvas.ops()) {
      if (op.port != Port::Time) continue;
      if (op.kind == RecordingCanvas::Kind::LineTo && op.fromH == 151 && op.h == 151 &&
          op.colour == QdColor::Black && std::min(op.fromV, op.v) == 0 && std::max(op.fromV, op.v) == 159) {
        ++lines;
      }
      if (op.kind == RecordingCanvas::Kind::DrawString && op.text == "CHANGE AT 151") {
        ++labels;
        EXPECT_LT(op.h, 151);  // left of its line, over the columns already drawn
        EXPECT_EQ(op.colour, QdColor::Black);
      }
    }
    return std::pair{lines, labels};
  };

  LessonRun run("secondary-contact");
  std::pair<int, int> before{-1, -1};
  run.watch = [&] {
    if (run.shell.world.gGenerationNumber == 150 && before.first < 0) before = timeMark(run.canvas);
    if (run.shell.world.gGenerationNumber == 160) run.shell.quitRequested = true;
  };
  run.Run();
  EXPECT_EQ(before, (std::pair{0, 0}));
  EXPECT_EQ(timeMark(run.canvas), (std::pair{1, 1}));

  // The Charts of the history on show, drawn here: a dashed line across each
  // locus's panel where generation 151 lies on its axis, and the label.
  ASSERT_NE(run.platform.charts, nullptr);
  const CensusHistory& history = *run.platform.charts;
  ChartsRecording painter;
  const double width = 600, height = 480;
  DrawCharts(painter, width, height, &history);
  const ChartsLayout layout(width, height, painter);
  const GenerationAxis axis(&history);
  int crossing = 0;
  for (const ChartsRect& panel : layout.panels) {
    const double x = panel.left + (151.0 - static_cast<double>(axis.first)) * panel.width /
                                      static_cast<double>(axis.last - axis.first);
    for (const auto& line : painter.lines) {
      if (line.points.size() == 2 && line.dash == ChartsPainter::Dash::Dashed && line.colour == 0x555555 &&
          std::abs(line.points[0].x - x) <= 1 && std::abs(line.points[1].x - x) <= 1 &&
          line.points[0].y <= panel.top + 1 && line.points[1].y >= panel.bottom() - 1) {
        ++crossing;
      }
    }
  }
  EXPECT_EQ(crossing, kLoci);
  EXPECT_EQ(std::count_if(painter.words.begin(), painter.words.end(),
                          [](const auto& word) { return word.first == "change at 151"; }),
            1);
  // Hovering the label tells the change; the words for screen readers too.
  const std::vector<ChangeMarker> markers = ChangeMarkers(layout, &history, painter);
  ASSERT_EQ(markers.size(), 1u);
  EXPECT_EQ(
      DescribeChartsAt(width, height, &history, markers[0].box.left + 2, markers[0].box.top + 5, painter),
      std::optional<std::string>(kContact));
  EXPECT_NE(ChartsInWords(&history).find(kContact), std::string::npos);

  // The same settings outside a lesson draw what they always drew.
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell(platform, canvas, 1000);
  shell.MenuBarInit();
  ASSERT_EQ(shell.OpenSettingsFile(std::string(TALVERON_LESSONS_DIR) + "/secondary-contact.toml"),
            std::nullopt);
  platform.SetIdleAnswer([](int sleepTicks) -> std::optional<Event> {
    return sleepTicks < 60 ? std::nullopt : std::optional<Event>(Event::Key(' '));
  });
  platform.PostMenuWhen([&] { return shell.world.gGenerationNumber == 160; }, kFileMenu, 9);
  ASSERT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(timeMark(canvas), (std::pair{0, 0}));
  ASSERT_NE(platform.charts, nullptr);
  EXPECT_TRUE(platform.charts->Marks().empty());
}

// The cause of an extinction, told from what happened: with a search cost,
// the females who found no mate died looking for one; with one young a
// brood, most females mate and still too few young are born. The adults
// the sentence counts are those of the history's last generations.
TEST(LessonExtinction, IsToldWithTheCauseTheLastGenerationsShow) {
  struct Case {
    std::string link;
    std::regex cause;
  };
  const std::vector<Case> cases = {
      {"lesson=extinction",
       std::regex(
           "Generation ([0-9]+): the population has died out\\. Too few females found a mate: in the last "
           "([0-9]+) generations ([0-9]+) of ([0-9]+) females did, and had ([0-9]+) young, fewer than the "
           "([0-9]+) adults they had to replace\\. The others died looking for one: each male a female meets "
           "costs her a 60% risk of dying\\.")},
      {"lesson=extinction&gSearchCost=0&numberOfKids=1",
       std::regex(
           "Generation ([0-9]+): the population has died out\\. Most females found a mate, but each had only "
           "1 "
           "young: in the last ([0-9]+) generations ([0-9]+) females had ([0-9]+) young, fewer than the "
           "([0-9]+) adults they had to replace\\.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    HeadlessPlatform platform;
    RecordingCanvas canvas;
    Shell shell(platform, canvas, 1000);
    shell.MenuBarInit();
    ASSERT_EQ(shell.OpenLink(c.link), std::nullopt);
    platform.SetIdleAnswer([](int sleepTicks) -> std::optional<Event> {
      return sleepTicks < 60 ? std::nullopt : std::optional<Event>(Event::Key(' '));
    });
    platform.PostMenuWhen([&] { return shell.world.gGenerationNumber == 60; }, kFileMenu, 9);
    ASSERT_EQ(shell.MainLoop(), 0);
    const auto told =
        std::find_if(platform.summaries.begin(), platform.summaries.end(),
                     [](const std::string& s) { return s.find("died out") != std::string::npos; });
    ASSERT_NE(told, platform.summaries.end());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(*told, match, c.cause)) << *told;
    const long gone = std::stol(match[1]);
    const long generations = std::stol(match[2]);
    EXPECT_EQ(shell.history.Adults(gone, 0) + shell.history.Adults(gone, 1), 0);
    // The adults that bred in those generations: the census of each
    // generation before, from the history (where the founders, who are in
    // no census, are not among them).
    if (gone - generations >= 1) {
      long adults = 0;
      for (long g = gone - generations; g < gone; ++g) {
        adults += shell.history.Adults(g, 0) + shell.history.Adults(g, 1);
      }
      EXPECT_EQ(std::to_string(adults), match[match.size() - 1].str()) << *told;
    }
    EXPECT_EQ(platform.milestones.back(),
              "Extinct, generation " + std::to_string(gone) + ": the population has died out.");
  }
}

}  // namespace
}  // namespace talveron::app
