// What the interactive program writes and follows: the data file of a
// series from the menus, the Charts that follow the run as the trace and
// the data file record it, and the genotypes of the adults on the map.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "desktop_test.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The data file and series

TEST_F(DesktopTest, OpenAndCloseDataFileSwapTheirItems) {
  // A cancelled save dialog opens nothing; a chosen file leaves an
  // existing one as it is, and closed without a series leaves nothing of
  // its own; closing re-enables Open.
  const fs::path file = TestDirectory() / "data.txt";
  std::ofstream(file) << "old contents";
  Choose(135, 1);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_TRUE(platform.Enabled(135, 1));

  platform.savePaths.push_back(file.string());
  Choose(135, 1);
  EXPECT_TRUE(shell.DataFileOpen());
  EXPECT_FALSE(platform.Enabled(135, 1));
  EXPECT_TRUE(platform.Enabled(135, 2));
  EXPECT_EQ(platform.dataFileName, file.string());

  Type('w', true);
  EXPECT_EQ(ReadFile(file), "old contents");
  EXPECT_FALSE(fs::exists(file.string() + ".partial"));
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_TRUE(platform.Enabled(135, 1));
  EXPECT_FALSE(platform.Enabled(135, 2));
  EXPECT_TRUE(platform.dataFileName.empty());
}

TEST_F(DesktopTest, RunReplicatesWithoutADataFileIsRefused) {
  // The message waits for the space bar; no flag changes.
  platform.PostKey(' ');
  Choose(135, 12);
  EXPECT_NE(canvas.TextIn(Port::Text).find("Open a data file before running replicates!"), std::string::npos);
  EXPECT_EQ(platform.WaitsForUser(), 1);
  EXPECT_FALSE(shell.runReplicates || shell.restart || shell.gGetData);
  EXPECT_FALSE(platform.Checked(135, 12));
}

TEST_F(DesktopTest, RunReplicatesDisablesTheFileItemsAndRestarts) {
  // Items 1 to 10 of the Data File menu are disabled, and with them the
  // submenus hung from them; items 11 and 12 stay usable.
  platform.savePaths.push_back((TestDirectory() / "series.txt").string());
  Choose(135, 1);
  Choose(135, 12);
  EXPECT_TRUE(shell.runReplicates && shell.restart && shell.gGetData);
  EXPECT_TRUE(platform.Checked(135, 12));
  for (int item = 1; item <= 10; ++item) EXPECT_FALSE(platform.Enabled(135, item)) << item;
  EXPECT_TRUE(platform.Enabled(135, 11));
  EXPECT_TRUE(platform.Enabled(135, 12));
  Choose(109, 5);  // hangs from a disabled item: cannot be reached
  EXPECT_EQ(shell.gTotalReplicates, 2);
  Type('o', true);
  EXPECT_TRUE(shell.DataFileOpen());
}

TEST_F(DesktopTest, SeriesFromTheMenusWritesTheBatchCommandsFile) {
  // Right after start-up, base seed 4242, two replicates of 20 generations:
  // the same bytes as the batch command, in timed-criteria mode and in
  // averaging mode with settings changed through the dialog.
  const fs::path dir = TestDirectory();
  const std::string timed = SeriesFromMenus(dir / "timed-desktop.txt", [](HeadlessPlatform&) {});
  EXPECT_EQ(timed,
            BatchFile(dir / "timed-batch.txt", "--seed 4242 --replicates 2 --generations 20 --record timed"));

  const std::string averages = SeriesFromMenus(dir / "averages-desktop.txt", [](HeadlessPlatform& p) {
    p.settingsAnswers.push_back([](ControlValues& values) {
      values[42] = 4;  // selection factor 0.3
      values[43] = 1;  // restricted natal dispersal
      values[44] = 3;  // natal dispersal 20 per cent
      values[30] = 5;  // six offspring
      return true;
    });
    p.PostMenu(129, 7);
    p.PostMenu(110, 2);  // average left habitat total
    p.PostMenu(108, 1);  // over 10 generations
  });
  EXPECT_EQ(averages, BatchFile(dir / "averages-batch.txt",
                                "--seed 4242 --replicates 2 --generations 20 --record total --span 10 "
                                "--set selectionFactor=0.3 --set restrictedNatalDispersal=1 "
                                "--set natalDispersalRate=20 --set numberOfKids=6"));
  EXPECT_NE(timed, averages);
}

TEST_F(DesktopTest, SeriesClosesTheFileAndNeverStopsForWaits) {
  // In step and cycle mode a series of two replicates runs without a single
  // wait for the user; then the file takes the place of an older one and
  // the menu is restored.
  const fs::path file = TestDirectory() / "series.txt";
  std::ofstream(file) << "an older series";
  int waitsDuringSeries = 0;
  platform.SetIdleAnswer([&](int sleepTicks) -> std::optional<Event> {
    if (sleepTicks < 60) return std::nullopt;
    if (shell.runReplicates) ++waitsDuringSeries;
    return Event::Menu(129, 9);
  });
  platform.PostMenu(135, 11);
  platform.PostMenu(111, 1);
  platform.PostMenu(129, 4);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostMenu(135, 12);
  long replicatesSeen = 0;
  platform.PostWhen([&] { return shell.gReplicateNumber == 2 && shell.world.gGenerationNumber == 3; },
                    [&] {
                      replicatesSeen = shell.gReplicateNumber;
                      return std::optional<Event>(Event::Menu(129, 5));  // cycle mode now
                    });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(replicatesSeen, 2);
  EXPECT_EQ(waitsDuringSeries, 0);
  EXPECT_FALSE(shell.runReplicates);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_FALSE(shell.gGetData);
  EXPECT_FALSE(platform.Checked(135, 12));
  for (int item = 1; item <= 10; ++item) EXPECT_EQ(platform.Enabled(135, item), item != 2) << item;
  EXPECT_EQ(BatchFile(file.parent_path() / "batch.txt", "--seed 1001 --replicates 2 --generations 5"),
            ReadFile(file));
}

TEST_F(DesktopTest, RestartDuringASeriesWritesNoRecordForTheAbandonedReplicate) {
  // Restart in generation 5 of replicate 2: the older file of that name is
  // left as it was, the partial file keeps the header and the first
  // record, the status bar says so, and a single run follows.
  const fs::path file = TestDirectory() / "series.txt";
  std::ofstream(file) << "an older series";
  platform.PostMenu(135, 11);
  platform.PostMenu(111, 2);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostMenu(135, 12);
  platform.PostMenuWhen(AtReplicate(2, 5), 129, 1);
  bool singleRunAfterwards = false;
  platform.PostStepAtWait([&] {
    singleRunAfterwards = !shell.runReplicates && shell.world.gGenerationNumber == 0;
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_TRUE(singleRunAfterwards);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_FALSE(shell.gGetData);
  EXPECT_FALSE(platform.Checked(135, 12));
  EXPECT_TRUE(platform.Enabled(135, 1));
  const std::string complete =
      BatchFile(file.parent_path() / "batch.txt", "--seed 1000 --replicates 2 --generations 20");
  EXPECT_EQ(ReadFile(file.string() + ".partial"), WithoutLastRecord(complete));
  EXPECT_EQ(ReadFile(file), "an older series");
  EXPECT_NE(platform.dataFileNote.find("series.txt.partial"), std::string::npos) << platform.dataFileNote;
}

TEST_F(DesktopTest, RestartAndQuitAskBeforeStoppingASeries) {
  // A series of ten replicates: Restart in replicate 5 is answered No and
  // the series goes on; Quit in replicate 7 is answered Yes and stops it,
  // and the place of its records is kept for standard error.
  const fs::path file = TestDirectory() / "class.txt";
  platform.PostMenu(135, 11);
  platform.PostMenu(111, 1);
  platform.PostMenu(109, 4);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostMenu(135, 12);
  platform.confirmAnswers = {false, true};
  platform.PostMenuWhen(AtReplicate(5, 2), 129, 1);
  platform.PostMenuWhen(AtReplicate(7, 2), 129, 9);
  EXPECT_EQ(shell.MainLoop(), 0);
  ASSERT_EQ(platform.questions.size(), 2u);
  EXPECT_EQ(platform.questions[0],
            "A series is running: 4 of 10 replicates done. Stop it? The complete records are kept in "
            "class.txt.partial");
  EXPECT_EQ(shell.gReplicateNumber, 7);
  EXPECT_EQ(shell.RecordsLeftAtQuit(), file.string() + ".partial");
  EXPECT_TRUE(fs::exists(shell.RecordsLeftAtQuit()));
  // Without a series nothing is asked.
  Choose(129, 1);
  EXPECT_EQ(platform.questions.size(), 2u);
}

TEST_F(DesktopTest, SettingsSavedAndOpenedGiveTheSameSeries) {
  // Settings changed through the dialog and the menus, saved; a fresh
  // program that opens the file has the same parameters, counts, recording
  // and seed, with the menus' check marks. A faulty file is told and
  // changes nothing.
  const fs::path dir = TestDirectory();
  const fs::path saved = dir / "saved.toml";
  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[42] = 4;
    values[35] = 1;
    values[47] = 2;
    return true;
  });
  Choose(129, 7);
  Choose(109, 4);   // 10 replicates
  Choose(111, 3);   // 50 generations
  Choose(110, 4);   // average specialization
  Choose(108, 3);   // over 50 generations
  platform.settingsPaths.push_back(saved.string());
  Choose(129, kSaveSettingsItem);

  HeadlessPlatform other;
  RecordingCanvas otherCanvas;
  Shell reopened(other, otherCanvas, 7);
  reopened.MenuBarInit();
  std::ofstream(dir / "faulty.toml") << "replicates = \"many\"\n";
  other.settingsPaths.push_back((dir / "faulty.toml").string());
  other.settingsPaths.push_back(std::nullopt);
  reopened.DoEvent(Event::Menu(129, kOpenSettingsItem));
  ASSERT_EQ(other.notices.size(), 1u);
  EXPECT_NE(other.notices[0].find("faulty.toml:1"), std::string::npos) << other.notices[0];
  EXPECT_EQ(FormatAll(reopened.world.params), FormatAll(Parameters{}));

  other.settingsPaths.push_back(saved.string());
  reopened.DoEvent(Event::Menu(129, kOpenSettingsItem));
  EXPECT_EQ(FormatAll(reopened.world.params), FormatAll(shell.world.params));
  EXPECT_EQ(reopened.gTotalReplicates, 10);
  EXPECT_EQ(reopened.gTotalGenerations, 50);
  EXPECT_EQ(reopened.NextSeriesSeed(), shell.NextSeriesSeed());
  EXPECT_EQ(reopened.NextSeed(), shell.NextSeriesSeed());
  EXPECT_EQ(RecordName(reopened.recorder.choices), "specialization");
  EXPECT_EQ(reopened.recorder.choices.gAveragingSpan, 50);
  for (auto [menu, item] : {std::pair{109, 4}, {111, 3}, {110, 4}, {108, 3}, {110, 1}}) {
    EXPECT_TRUE(other.Checked(menu, item)) << menu << "/" << item;
  }
  EXPECT_FALSE(other.Checked(135, 7));
  EXPECT_FALSE(other.Checked(109, 2));
}

TEST_F(DesktopTest, CountsNoMenuItemOffersShowAsAnExtraCheckedItem) {
  // A settings file with 7 replicates of 3000 generations: each count is
  // shown, checked, as its submenu's extra item; another count moves the
  // check, and the extra item chosen again brings the file's count back.
  const fs::path settings = TestDirectory() / "odd.toml";
  std::ofstream(settings) << "replicates = 7\ngenerations = 3000\n";
  ASSERT_FALSE(shell.OpenSettingsFile(settings.string()).has_value());
  EXPECT_EQ((platform.itemTexts[{kReplicatesMenu, kExtraReplicatesItem}]), "7 (settings file)");
  EXPECT_EQ((platform.itemTexts[{kGenerationsMenu, kExtraGenerationsItem}]), "3000 (settings file)");
  EXPECT_TRUE(platform.Checked(kReplicatesMenu, kExtraReplicatesItem));
  EXPECT_FALSE(platform.Checked(kReplicatesMenu, 2));
  EXPECT_TRUE(platform.Checked(kAveragingSpanMenu, 1));  // 10, offered: no extra item
  Choose(kReplicatesMenu, 2);
  EXPECT_EQ(shell.gTotalReplicates, 2);
  EXPECT_FALSE(platform.Checked(kReplicatesMenu, kExtraReplicatesItem));
  Choose(kReplicatesMenu, kExtraReplicatesItem);
  EXPECT_EQ(shell.gTotalReplicates, 7);
  EXPECT_TRUE(platform.Checked(kReplicatesMenu, kExtraReplicatesItem));
  // Exclusive choices are radio items of one group; the extra item too.
  for (int menu : {kReplicatesMenu, kGenerationsMenu, kAveragingSpanMenu, kSpeedMenu}) {
    for (const MenuSpec& spec : TalveronMenuBar()) {
      if (spec.number != menu) continue;
      for (const MenuItemSpec& item : spec.items) EXPECT_EQ(item.group, 1) << menu << " " << item.text;
    }
  }
}

TEST_F(DesktopTest, CopiedBatchCommandWritesTheNextSeriesFileBeforeAndAfterASeries) {
  // Settings from a file (seed 2026) and changed through the menus and the
  // dialog; single runs watched meanwhile. The command copied before the
  // series, run where the data file is, writes the series' file byte for
  // byte under its name; the command copied after it writes the next
  // series' file, which starts past the seeds the first one took. Saving
  // the settings keeps the file's seed.
  const fs::path dir = TestDirectory();
  const fs::path settings = dir / "class.toml";
  std::ofstream(settings) << "seed = 2026\nreplicates = 2\ngenerations = 20\n";
  ASSERT_FALSE(shell.OpenSettingsFile(settings.string()).has_value());
  Choose(135, 11);
  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[44] = 3;
    values[43] = 1;
    values[30] = 6;
    return true;
  });
  Choose(129, 7);
  Choose(110, 3);
  Choose(108, 2);
  platform.settingsPaths.push_back((dir / "saved.toml").string());
  Choose(129, kSaveSettingsItem);
  EXPECT_NE(ReadFile(dir / "saved.toml").find("seed = 2026"), std::string::npos);

  std::vector<std::string> copied;
  auto copy = [&] {
    platform.clipboard.clear();
    shell.DoEvent(Event::Menu(129, kCopyBatchCommandItem));
    copied.push_back(platform.clipboard);
  };
  platform.PostMenu(129, 1);  // a second single run: the series keeps its seed
  platform.savePaths.push_back((dir / "first.txt").string());
  platform.PostMenu(135, 1);
  platform.PostStep([&] {
    copy();
    return std::optional<Event>(Event::Menu(135, 12));
  });
  platform.PostStepAtWait([&] {
    platform.savePaths.push_back((dir / "second.txt").string());
    return std::optional<Event>(Event::Menu(135, 1));
  });
  platform.PostStepAtWait([&] {
    copy();
    return std::optional<Event>(Event::Menu(135, 12));
  });
  platform.PostStepAtWait([] { return std::optional<Event>(Event::Menu(129, 9)); });
  EXPECT_EQ(shell.MainLoop(), 0);
  ASSERT_EQ(copied.size(), 2u);
  EXPECT_EQ(copied[0].rfind("talveron-batch --seed 2026 ", 0), 0u) << copied[0];
  EXPECT_EQ(copied[1].rfind("talveron-batch --seed 2028 ", 0), 0u) << copied[1];
  const fs::path batchDir = dir / "batch";
  fs::create_directory(batchDir);
  const std::string names[] = {"first.txt", "second.txt"};
  for (std::size_t i = 0; i < copied.size(); ++i) {
    EXPECT_NE(copied[i].find("--out " + names[i]), std::string::npos) << copied[i];
    const std::string run = "cd '" + batchDir.string() + "' && " + std::string(TALVERON_BATCH_PATH) +
                            " --quiet" + copied[i].substr(std::string("talveron-batch").size());
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    EXPECT_EQ(ReadFile(batchDir / names[i]), ReadFile(dir / names[i])) << names[i];
  }
}

TEST_F(DesktopTest, QuitClosesTheDataFile) {
  // Quit with an open data file closes it before the loop returns.
  const fs::path file = TestDirectory() / "quit.txt";
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostStep([&] {
    EXPECT_TRUE(shell.DataFileOpen());
    return std::optional<Event>(Event::Key('q', true));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_FALSE(fs::exists(file.string() + ".partial"));  // no series, nothing left
}

TEST_F(DesktopTest, UnwritablePlaceIsToldAndTheDialogAskedAgain) {
  // A place where no file can be made: a message names it and the dialog
  // comes again; the second choice opens. Nothing is fatal.
  const fs::path dir = TestDirectory();
  platform.savePaths.push_back((dir / "missing" / "data.txt").string());
  platform.savePaths.push_back((dir / "data.txt").string());
  platform.PostMenu(135, 1);
  platform.PostStep([&] {
    EXPECT_TRUE(shell.DataFileOpen());
    EXPECT_FALSE(platform.Enabled(135, 1));
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_TRUE(platform.fatalReports.empty());
  ASSERT_EQ(platform.notices.size(), 1u);
  EXPECT_NE(platform.notices[0].find("missing/data.txt"), std::string::npos) << platform.notices[0];

  // Cancelled after the message: no file, the menu as it was.
  platform.savePaths.push_back((dir / "missing" / "again.txt").string());
  Choose(135, 1);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_TRUE(platform.Enabled(135, 1));
  EXPECT_EQ(platform.notices.size(), 2u);
}

TEST_F(DesktopTest, RecordThatCannotBeWrittenStopsTheSeries) {
  // The file may grow no further than its header: the first record fails.
  // The partial file keeps the whole header, the message names it, and a
  // single run follows.
  const fs::path dir = TestDirectory();
  const fs::path file = dir / "full.txt";
  const std::string header =
      WithoutLastRecord(BatchFile(dir / "batch.txt", "--seed 1001 --replicates 2 --generations 5"));

  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = header.size() + 2;

  platform.PostMenu(135, 11);
  platform.PostMenu(111, 1);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostStep([&] {
    setrlimit(RLIMIT_FSIZE, &limited);
    return std::optional<Event>(Event::Menu(135, 12));
  });
  bool messageWaited = false;
  platform.PostWhen([&] { return !shell.runReplicates && shell.world.gGenerationNumber > 5; },
                    [&] {
                      messageWaited = true;
                      setrlimit(RLIMIT_FSIZE, &saved);
                      return std::optional<Event>(Event::Key(' '));
                    });
  const int status = shell.MainLoop();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(status, 0);
  EXPECT_TRUE(messageWaited);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_FALSE(shell.runReplicates);
  EXPECT_FALSE(platform.Checked(135, 12));
  EXPECT_EQ(ReadFile(file.string() + ".partial"), header);
  EXPECT_FALSE(fs::exists(file));
  const std::string text = canvas.TextIn(Port::Text);
  EXPECT_NE(text.find("full.txt.partial"), std::string::npos) << text;
  EXPECT_NE(text.find("the series was stopped"), std::string::npos) << text;
}

TEST_F(DesktopTest, SeriesThatCouldKeepNoRecordSaysSoAndLeavesNoFile) {
  // Not a byte can be written: the header fails. The empty partial file
  // goes, and the status bar says that nothing was kept rather than name a
  // file of 0 bytes.
  const fs::path file = TestDirectory() / "nothing.txt";
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 0;

  platform.PostMenu(135, 11);
  platform.PostMenu(111, 1);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostStep([&] {
    setrlimit(RLIMIT_FSIZE, &limited);
    return std::optional<Event>(Event::Menu(135, 12));
  });
  platform.PostWhen([&] { return !shell.DataFileOpen(); },
                    [&] {
                      setrlimit(RLIMIT_FSIZE, &saved);
                      return std::optional<Event>(Event::Key(' '));
                    });
  platform.PostStepAtWait([&] { return std::optional<Event>(Event::Menu(129, 9)); });
  const int status = shell.MainLoop();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(status, 0);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_FALSE(fs::exists(file.string() + ".partial"));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(platform.dataFileNote, "Series stopped: no records were kept");
  const std::string text = canvas.TextIn(Port::Text);
  EXPECT_NE(text.find("nothing.txt.partial not written"), std::string::npos) << text;
  EXPECT_EQ(text.find("records are in"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// Charts

TEST_F(DesktopTest, ChartsFollowTheRunAsTheTraceAndTheDataFileRecordIt) {
  // A single run of seed 5 for 100 generations at 1000 a second, the
  // charts handed to the platform after every generation: every
  // generation's allele counts are the trace's of the same seed, the
  // criteria markers stand at the data file's generations, and drawing
  // thins the series without thinning the record.
  shell.SetSeeds(5);
  Choose(kSpeedMenu, 2);
  Choose(111, 4);
  Choose(135, 11);
  platform.PostKey(' ');
  int updatesDuringTheRun = 0;
  platform.PostStepAtWait([&] {
    updatesDuringTheRun = platform.chartUpdates;
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(platform.charts, &shell.history);
  EXPECT_GE(updatesDuringTheRun, 100);
  const CensusHistory& history = shell.history;
  ASSERT_EQ(history.FirstGeneration(), 1);
  ASSERT_EQ(history.LastGeneration(), 100);

  const fs::path dir = TestDirectory();
  BatchFile(dir / "seed5.txt", "--seed 5 --replicates 1 --generations 100 --trace '" + (dir / "seed5.trace").string() + "'");
  std::istringstream trace(ReadFile(dir / "seed5.trace"));
  std::string line;
  std::getline(trace, line);  // the column heads
  int lines = 0;
  while (std::getline(trace, line)) {
    std::istringstream fields(line);
    long replicate = 0, generation = 0;
    int habitat = 0, adults = 0;
    fields >> replicate >> generation >> habitat >> adults;
    ASSERT_EQ(history.Adults(generation, habitat), adults) << line;
    for (Locus locus : {Locus::Specialization, Locus::Preference, Locus::Mating}) {
      for (int allele = 0; allele < 3; ++allele) {
        int count = 0;
        fields >> count;
        ASSERT_EQ(history.Count(generation, habitat, locus, allele), count) << line;
      }
    }
    ++lines;
  }
  EXPECT_EQ(lines, 200);

  const std::string data = ReadFile(dir / "seed5.txt");
  std::istringstream record(data.substr(data.rfind('\r', data.size() - 2) + 1));
  std::array<long, CensusHistory::kCriteria> criteria{};
  for (long& generation : criteria) record >> generation;
  EXPECT_EQ(history.Criteria(), criteria);
  EXPECT_NE(criteria[2], 0);  // all five are met in this run

  const std::vector<ChartPoint> drawn = history.Downsampled(0, Locus::Mating, 0, 1, 100, 10);
  EXPECT_LE(drawn.size(), 20u);
  EXPECT_GT(drawn.size(), 10u);
  double highest = 0;
  for (long g = 1; g <= 100; ++g) highest = std::max(highest, history.Frequency(g, 0, Locus::Mating, 0));
  EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(), [&](const ChartPoint& p) { return p.value == highest; }));
}

// ---------------------------------------------------------------------------
// Save Genotypes

// Lines of a shell command's output; the test fails when it does not succeed.
std::vector<std::string> CommandLines(const std::string& command) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return {};
  }
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
  EXPECT_EQ(::pclose(pipe), 0) << command;
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What bcftools reads from a saved file is the adults on the map: a sample
// per adult in their order, named with the replicate, generation, habitat,
// place and sex, and at each of the 17 loci the individual's own allele.
void ExpectGenotypesOf(const std::string& path, long generation, const std::vector<Individ>& adults) {
  SCOPED_TRACE(path);
  const std::vector<std::string> names = CommandLines("bcftools query -l '" + path + "'");
  ASSERT_EQ(names.size(), adults.size());
  ASSERT_FALSE(adults.empty());
  for (std::size_t i = 0; i < adults.size(); ++i) {
    const Individ& a = adults[i];
    EXPECT_EQ(names[i], "r1_g" + std::to_string(generation) + "_h" + std::to_string(a.habitat) + "_x" +
                            std::to_string(a.x) + "_y" + std::to_string(a.y) + (a.sex ? "_m" : "_f"));
  }
  const std::vector<std::string> records = CommandLines("bcftools query -f '%ID[\\t%GT]\\n' '" + path + "'");
  ASSERT_EQ(records.size(), 17u);
  for (std::size_t locus = 0; locus < records.size(); ++locus) {
    std::istringstream fields(records[locus]);
    std::string id;
    std::getline(fields, id, '\t');
    for (std::size_t i = 0; i < adults.size(); ++i) {
      const Individ& a = adults[i];
      const int values[] = {a.habitatPref, a.habitatSpec, a.matingPrefType, a.matingPrefValue, a.signalType,
                            a.signalValue, a.generalViability};
      const int expected = locus < 7 ? values[locus] : a.neutralGenes[locus - 7];
      std::string gt;
      std::getline(fields, gt, '\t');
      ASSERT_EQ(gt, std::to_string(expected)) << id << " of sample " << i;
    }
  }
}

// File > Save Genotypes writes the adults on the map: at a wait after a
// generation as the desktop's bgzip-compressed, indexed VCF, and from the
// poll before the next generation runs as the page's plain VCF, each
// sample named with the generation the adults are of; in the middle of a
// generation (step mode) it tells the user to end it first.
TEST_F(DesktopTest, SaveGenotypesWritesTheAdultsOnTheMap) {
  const std::string compressed = (TestDirectory() / "g2.vcf.gz").string();
  const std::string plain = (TestDirectory() / "g4.vcf").string();
  std::vector<Individ> atWait;
  std::vector<Individ> atPoll;
  Choose(kFileMenu, 5);                           // cycle mode
  platform.PostStepAtWait([] { return std::optional<Event>(Event::Key(' ')); });  // start generation 1
  platform.PostStepAtWait([] { return std::optional<Event>(Event::Key(' ')); });  // after generation 1
  platform.PostStepAtWait([&] {                   // after generation 2
    platform.genotypePaths.push_back(compressed);
    atWait = shell.world.adults;
    Choose(kFileMenu, kSaveGenotypesItem);
    Choose(kFileMenu, 5);  // cycle mode off
    return std::optional<Event>(Event::Key(' '));
  });
  platform.PostWhen(AtGeneration(5), [&] {        // generation 4 ended, 5 about to run
    platform.genotypePaths.push_back(plain);
    atPoll = shell.world.adults;
    Choose(kFileMenu, kSaveGenotypesItem);
    Choose(kFileMenu, 4);  // step mode
    return std::optional<Event>();
  });
  platform.PostStepAtWait([&] {                   // after Reproduction of generation 5
    platform.genotypePaths.push_back((TestDirectory() / "mid.vcf").string());
    Choose(kFileMenu, kSaveGenotypesItem);
    return std::optional<Event>(Event::Menu(kFileMenu, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  ASSERT_TRUE(platform.ScriptDone());

  EXPECT_TRUE(fs::exists(compressed + ".tbi"));
  ExpectGenotypesOf(compressed, 2, atWait);
  EXPECT_EQ(ReadFile(plain).rfind("##fileformat=VCFv4.2\n", 0), 0u);
  ExpectGenotypesOf(plain, 4, atPoll);
  EXPECT_FALSE(fs::exists(TestDirectory() / "mid.vcf"));
  ASSERT_EQ(platform.notices.size(), 1u);
  EXPECT_NE(platform.notices[0].find("between generations"), std::string::npos) << platform.notices[0];
  EXPECT_EQ(platform.genotypePaths.size(), 1u);  // the third was never asked for
}

// A saved file's header names the settings as the batch command's file for
// the same settings does: their own values while a scheduled change is in
// force, and the change.
TEST_F(DesktopTest, SavedGenotypesNameTheSettingsAsTheBatchCommandDoes) {
  const fs::path settings = TestDirectory() / "contact.toml";
  std::ofstream(settings) << "seed = 8\nreplicates = 1\ngenerations = 4\n[set]\ndensity = 2\n"
                             "[[change]]\ngeneration = 2\nset = { natalDispersalRate = 40 }\n";
  ASSERT_FALSE(shell.OpenSettingsFile(settings.string()).has_value());
  const std::string saved = (TestDirectory() / "g3.vcf.gz").string();
  Choose(kFileMenu, 5);  // cycle mode
  for (int wait = 0; wait < 3; ++wait) {  // start generation 1, after generations 1 and 2
    platform.PostStepAtWait([] { return std::optional<Event>(Event::Key(' ')); });
  }
  platform.PostStepAtWait([&] {  // after generation 3, the change in force
    EXPECT_EQ(shell.world.params.natalDispersalRate, 40);
    platform.genotypePaths.push_back(saved);
    Choose(kFileMenu, kSaveGenotypesItem);
    return std::optional<Event>(Event::Menu(kFileMenu, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  ASSERT_TRUE(platform.ScriptDone());

  const std::string batch = (TestDirectory() / "batch.vcf.gz").string();
  BatchFile(TestDirectory() / "batch.txt", "--seed 8 --replicates 1 --generations 4 --set density=2 "
                                           "--change 2:natalDispersalRate=40 --genotypes '" + batch + "'");
  auto metaLines = [](const std::string& path) {
    std::vector<std::string> meta;
    for (const std::string& line : CommandLines("gzip -dc '" + path + "'")) {
      if (line.rfind("##", 0) == 0) meta.push_back(line);
    }
    return meta;
  };
  const std::vector<std::string> desktop = metaLines(saved);
  EXPECT_EQ(desktop, metaLines(batch));
  auto names = [&desktop](const std::string& line) { return std::count(desktop.begin(), desktop.end(), line); };
  EXPECT_EQ(names("##talveronParameter=<ID=natalDispersalRate,Value=0>"), 1);
  EXPECT_EQ(names("##talveronParameter=<ID=density,Value=2>"), 1);
  EXPECT_EQ(names("##talveronChange=<ID=1,Generation=2,Name=natalDispersalRate,Value=40>"), 1);
}

}  // namespace
}  // namespace talveron::app
