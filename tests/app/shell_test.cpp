// The interactive program without a display: the run loop, the waits, the
// menus by number, the settings formulas and the data file of a series,
// driven through the event path of a scripted platform.
#include "app/shell.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "app/headless_platform.h"
#include "app/recording_canvas.h"
#include "app/settings_formulas.h"
#include "temp_folder.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kLaunchSeed = 1000;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The data file the batch command writes for the same series.
std::string BatchFile(const fs::path& out, const std::string& arguments) {
  const std::string command =
      std::string(TALVERON_BATCH_PATH) + " --quiet --out '" + out.string() + "' " + arguments;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadFile(out);
}

// The file without its last record (a record ends with a carriage return).
std::string WithoutLastRecord(const std::string& file) {
  const std::size_t end = file.rfind('\r', file.size() - 2);
  return file.substr(0, end + 1);
}

// Every parameter as text, for comparing whole parameter sets.
std::string FormatAll(const Parameters& params) {
  std::string text;
  for (const ParameterInfo& info : ParameterTable()) {
    text += std::string(info.name) + "=" + FormatParameter(params, info) + " ";
  }
  return text;
}

// Starts the program, sets base seed 4242 and 20 generations, lets
// `choose` add its choices, opens `file` and runs the series to its end.
std::string SeriesFromMenus(const fs::path& file, const std::function<void(HeadlessPlatform&)>& choose) {
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell(platform, canvas, kLaunchSeed);
  shell.MenuBarInit();
  platform.PostMenu(135, 11);
  platform.seedAnswers.push_back(4242);
  platform.PostMenu(129, kBaseSeedItem);
  platform.PostMenu(111, 2);
  choose(platform);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostMenu(135, 12);
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_EQ(shell.SeriesBaseSeed(), 4242u);
  return ReadFile(file);
}

class DesktopTest : public testing::Test {
 protected:
  DesktopTest() {
    platform.SetOutput(&fatalOutput);
    shell.MenuBarInit();
  }

  void Choose(int menu, int item) { shell.DoEvent(Event::Menu(menu, item)); }
  void Type(char key, bool command = false) { shell.DoEvent(Event::Key(key, command)); }

  HeadlessPlatform::Condition AtGeneration(int generation) {
    return [this, generation] { return shell.world.gGenerationNumber == generation; };
  }
  HeadlessPlatform::Condition AtReplicate(long replicate, int generation) {
    return [this, replicate, generation] {
      return shell.gReplicateNumber == replicate && shell.world.gGenerationNumber == generation;
    };
  }
  // Answers the waits for the user with the space bar until `until` holds,
  // then with Quit.
  void AnswerWaitsWithSpaceUntil(HeadlessPlatform::Condition until) {
    platform.SetIdleAnswer([until](int sleepTicks) -> std::optional<Event> {
      if (sleepTicks < 60) return std::nullopt;
      if (until()) return Event::Menu(129, 9);
      return Event::Key(' ');
    });
  }

  // A folder of its own for the files of one test, removed after it (and
  // after the shell, which may still hold a file in it).
  fs::path TestDirectory() const { return folder_.path(); }

 private:
  test_support::TempFolder folder_{"shell"};

 protected:
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell{platform, canvas, kLaunchSeed};
  std::ostringstream fatalOutput;
};

// ---------------------------------------------------------------------------
// Start-up

TEST_F(DesktopTest, StartUpMenuBarSetsTwoReplicatesAndTimedCriteria) {
  // The menu bar replaces the stored five replicates with two, checks the
  // start-up choices and disables Close data file.
  EXPECT_TRUE(platform.menuBarInstalled);
  EXPECT_EQ(shell.gTotalReplicates, 2);
  EXPECT_EQ(shell.gTotalGenerations, 5000);
  EXPECT_EQ(shell.recorder.choices.gAveragingSpan, 10);
  EXPECT_TRUE(platform.Checked(108, 1));
  EXPECT_TRUE(platform.Checked(109, 2));
  EXPECT_TRUE(platform.Checked(111, 9));
  EXPECT_TRUE(platform.Checked(135, 7));
  EXPECT_FALSE(platform.Checked(135, 11));
  EXPECT_FALSE(platform.Enabled(135, 2));
  EXPECT_TRUE(platform.Enabled(135, 1));
  EXPECT_FALSE(shell.restart || shell.runReplicates || shell.step || shell.cycle);
}

// ---------------------------------------------------------------------------
// The loop and its waits

TEST_F(DesktopTest, SingleRunWaitsForSpaceBeforeGenerationOneAndAtTheEnd) {
  // Five generations: one wait before generation 1, one poll per
  // generation, one wait at the end of the pass (answered here with Quit).
  platform.PostMenu(111, 1);
  platform.PostKey(' ');
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(shell.world.gGenerationNumber, 6);
  const auto& calls = platform.calls();
  ASSERT_EQ(calls.size(), 8u);
  EXPECT_EQ(calls[0].sleepTicks, 60);
  EXPECT_EQ(calls[1].sleepTicks, 60);
  for (int i = 2; i < 7; ++i) EXPECT_EQ(calls[i].sleepTicks, 1) << i;
  EXPECT_EQ(calls[7].sleepTicks, 60);
}

TEST_F(DesktopTest, HeldSpaceBarDoesNotEndTheWait) {
  // An auto-key space is not a key-down: the run stays at generation 0
  // until a real key-down space comes.
  int generationAtSecondKey = -1;
  platform.PostMenu(111, 1);
  platform.Post(Event::RepeatedKey(' '));
  platform.PostStep([&] {
    generationAtSecondKey = shell.world.gGenerationNumber;
    return std::optional<Event>(Event::Key(' '));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(generationAtSecondKey, 0);
  EXPECT_EQ(shell.world.gGenerationNumber, 6);
}

TEST_F(DesktopTest, SpaceWithCommandKeyStillEndsTheWait) {
  // Command-space is offered to the menus first (it has no item) and then
  // ends the wait like a plain space.
  platform.PostMenu(111, 1);
  platform.PostKey(' ', true);
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(shell.world.gGenerationNumber, 6);
}

TEST_F(DesktopTest, StepModeWaitsThreeTimesAGenerationAndCycleModeOnce) {
  for (int item : {4, 5}) {
    // item 4: after Reproduction, after Dispersal and at the end; item 5:
    // only at the end of each generation.
    HeadlessPlatform local;
    RecordingCanvas localCanvas;
    Shell run(local, localCanvas, kLaunchSeed);
    run.MenuBarInit();
    std::map<int, int> waitsAt;
    local.PostMenu(111, 1);
    local.PostMenu(129, item);
    local.SetIdleAnswer([&](int sleepTicks) -> std::optional<Event> {
      if (sleepTicks < 60) return std::nullopt;
      ++waitsAt[run.world.gGenerationNumber];
      if (run.world.gGenerationNumber > 5) return Event::Menu(129, 9);
      return Event::Key(' ');
    });
    EXPECT_EQ(run.MainLoop(), 0);
    const int expected = item == 4 ? 3 : 1;
    for (int generation = 1; generation <= 5; ++generation) {
      EXPECT_EQ(waitsAt[generation], expected) << "item " << item << " generation " << generation;
    }
  }
}

TEST_F(DesktopTest, RestartDuringTheFirstWaitFoundsANewPopulationAtOnce) {
  // The population just built is freed without running a generation; the
  // new replicate takes the next seed.
  platform.PostMenu(129, 1);
  std::uint64_t seedOfSecondRun = 0;
  int generationOfSecondRun = -1;
  platform.PostStepAtWait([&] {
    seedOfSecondRun = shell.CurrentSeed();
    generationOfSecondRun = shell.world.gGenerationNumber;
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(seedOfSecondRun, kLaunchSeed + 1);
  EXPECT_EQ(generationOfSecondRun, 0);
  const auto& calls = platform.calls();
  ASSERT_EQ(calls.size(), 3u);  // the wait, the poll of generation 1, the new wait
  EXPECT_EQ(calls[1].sleepTicks, 1);
  EXPECT_EQ(calls[2].sleepTicks, 60);
}

TEST_F(DesktopTest, FewerGenerationsThanTheCurrentOneEndTheReplicateAfterIt) {
  // Generations per replicate cut to 5 during generation 7: generation 7
  // runs to its end and the pass ends.
  Choose(135, 11);  // no drawing needed
  platform.PostKey(' ');
  platform.PostMenuWhen(AtGeneration(7), 111, 1);
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(shell.world.gGenerationNumber, 8);
}

TEST_F(DesktopTest, QuitDuringAStepWaitEndsTheLoop) {
  // Quit chosen while step mode holds the run after Reproduction unwinds
  // every wait and the loop returns.
  platform.PostMenu(129, 4);
  platform.PostKey(' ');
  platform.PostMenu(129, 9);
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_TRUE(shell.quitRequested);
  EXPECT_EQ(shell.world.gGenerationNumber, 1);
}

TEST_F(DesktopTest, ErrorMessageWaitsForSpaceAndGivesThePortBack) {
  // A message shown while the graph port is current is drawn in the text
  // window; after the space bar the graph port is current again.
  canvas.SetPort(Port::Graph);
  platform.PostKey('x');
  platform.PostKey(' ');
  shell.ShowError("Bad scaledRandomNumber");
  EXPECT_EQ(platform.WaitsForUser(), 2);
  EXPECT_EQ(canvas.GetPort(), Port::Graph);
  EXPECT_NE(canvas.TextIn(Port::Text).find("Bad scaledRandomNumber"), std::string::npos);
}

TEST_F(DesktopTest, ExtinctionSaysWhyItWaitsAndRunOnGoesToTheEndInOneStep) {
  // No offspring: the population dies out in generation 1 and every phase
  // reports it. The status bar says why the run waits; Run On to the End
  // (Ctrl+U) ends that wait, and the 20 generations run to the end without
  // another; the next population stops on the message again.
  shell.world.params.numberOfKids = 0;
  Choose(111, 2);
  // The pause of the generation the population dies in polls once and
  // takes nothing.
  platform.SetIdleAnswer([](int) { return std::optional<Event>(); });
  auto saying = [this](std::string_view start) {
    return [this, start] { return shell.Activity().starts_with(start); };
  };
  std::string said;
  int generationRunOn = 0;
  platform.PostKey(' ');
  platform.PostWhen(saying("The population is extinct"), [&] {
    said = shell.Activity();
    generationRunOn = shell.world.gGenerationNumber;
    return std::optional<Event>(Event::Key('u', true));
  });
  int generationAtTheEnd = 0;
  platform.PostWhen(saying("Run finished"), [&] {
    generationAtTheEnd = shell.world.gGenerationNumber;
    return std::optional<Event>(Event::Key(' '));
  });
  platform.PostKey(' ');
  std::string nextRun;
  platform.PostWhen(saying("The population is extinct"), [&] {
    nextRun = shell.Activity();
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(said.rfind("The population is extinct: ", 0), 0u) << said;
  EXPECT_EQ(generationRunOn, 1);
  EXPECT_EQ(generationAtTheEnd, 21);
  EXPECT_EQ(nextRun.rfind("The population is extinct: ", 0), 0u) << nextRun;
}

TEST_F(DesktopTest, WaitForKeyPollsOnceWhateverComes) {
  // The pause after an extinction takes one event, or none, and returns.
  platform.SetIdleAnswer([](int) { return std::optional<Event>(); });
  shell.WaitForKey();
  platform.PostKey('a');
  shell.WaitForKey();
  ASSERT_EQ(platform.calls().size(), 2u);
  EXPECT_EQ(platform.calls()[1].sleepTicks, 60);
}

// ---------------------------------------------------------------------------
// Menus

TEST_F(DesktopTest, StepAndCycleModeAreNeverOnTogether) {
  // Choosing one turns the other off; choosing it again turns it off.
  Choose(129, 4);
  EXPECT_TRUE(shell.step);
  EXPECT_TRUE(platform.Checked(129, 4));
  Choose(129, 5);
  EXPECT_TRUE(shell.cycle);
  EXPECT_FALSE(shell.step);
  EXPECT_TRUE(platform.Checked(129, 5));
  EXPECT_FALSE(platform.Checked(129, 4));
  Choose(129, 4);
  EXPECT_TRUE(shell.step);
  EXPECT_FALSE(shell.cycle);
  EXPECT_FALSE(platform.Checked(129, 5));
  Choose(129, 4);
  EXPECT_FALSE(shell.step);
  EXPECT_FALSE(shell.cycle);
  EXPECT_FALSE(platform.Checked(129, 4));
}

TEST_F(DesktopTest, CommandKeysChooseTheirItems) {
  // Command-T is Step mode, held down or not; a plain T does nothing;
  // Command-W does nothing while Close data file is disabled.
  Type('t');
  EXPECT_FALSE(shell.step);
  Type('t', true);
  EXPECT_TRUE(shell.step);
  shell.DoEvent(Event::RepeatedKey('T', true));
  EXPECT_FALSE(shell.step);
  Type('y', true);
  EXPECT_TRUE(shell.cycle);
  EXPECT_EQ(shell.MenuKey('w'), 0);
  EXPECT_EQ(shell.MenuKey('o'), MenuChoice(135, 1));
  EXPECT_EQ(shell.MenuKey('q'), MenuChoice(129, 9));
}

TEST_F(DesktopTest, PauseIsCheckedWhileItWaits) {
  // Pause holds the run until the space bar; its item is checked meanwhile.
  bool checkedDuringPause = false;
  platform.PostStep([&] {
    checkedDuringPause = platform.Checked(129, 3);
    return std::optional<Event>(Event::Key(' '));
  });
  Choose(129, 3);
  EXPECT_TRUE(checkedDuringPause);
  EXPECT_FALSE(platform.Checked(129, 3));
}

TEST_F(DesktopTest, PauseEndsAtOnceWhenRestartIsChosenInIt) {
  // Restart chosen inside the pause ends the pause and every wait.
  platform.PostMenu(129, 1);
  Choose(129, 3);
  EXPECT_TRUE(shell.restart);
  EXPECT_EQ(platform.WaitsForUser(), 1);
}

TEST_F(DesktopTest, DisplayMenuStepsThroughMapModesAndGraphs) {
  // Map: all loci, specialization, preference, mating preference, all loci.
  // Graph: specialization, both, mating preference, concordance, and back;
  // every change marks the time plot.
  const DisplayFlags& d = shell.display;
  Choose(134, 1);
  EXPECT_TRUE(d.gHabitatSpecDisplay && !d.gAllLocusDisplay);
  Choose(134, 1);
  EXPECT_TRUE(d.gHabitatPreferenceDisplay && !d.gHabitatSpecDisplay);
  Choose(134, 1);
  EXPECT_TRUE(d.gMatingPreferenceDisplay && !d.gHabitatPreferenceDisplay);
  Choose(134, 1);
  EXPECT_TRUE(d.gAllLocusDisplay && !d.gMatingPreferenceDisplay);

  canvas.Clear();
  Choose(134, 2);
  EXPECT_TRUE(d.gHabitatPreferenceGraph && !d.gHabitatSpecGraph);
  Choose(134, 2);
  EXPECT_TRUE(d.gMatingPreferenceGraph && !d.gHabitatPreferenceGraph);
  Choose(134, 2);
  EXPECT_TRUE(d.gConcordanceGraph && !d.gMatingPreferenceGraph);
  Choose(134, 2);
  EXPECT_TRUE(d.gHabitatSpecGraph && !d.gConcordanceGraph);
  int marks = 0;
  for (const auto& op : canvas.OfKind(RecordingCanvas::Kind::LineTo)) marks += op.port == Port::Time;
  EXPECT_EQ(marks, 4);
}

TEST_F(DesktopTest, DisplayMenuChecksTheMapDisplayAndTimePlotInForce) {
  // The check marks follow Ctrl+M and Ctrl+G, and an item chosen directly;
  // Record Averages is checked while averages, not timed criteria, are
  // recorded.
  auto checkedOf = [&](int first) {
    int checked = 0;
    for (int i = 0; i < 4; ++i) {
      if (platform.Checked(134, first + i)) checked = checked * 10 + i + 1;
    }
    return checked;  // the one checked item, from 1, or several digits
  };
  EXPECT_EQ(checkedOf(kFirstMapDisplayItem), 1);
  EXPECT_EQ(checkedOf(kFirstTimePlotItem), 1);
  Type('m', true);
  Type('m', true);
  Type('g', true);
  EXPECT_TRUE(shell.display.gHabitatPreferenceDisplay);
  EXPECT_EQ(checkedOf(kFirstMapDisplayItem), 3);
  EXPECT_EQ(checkedOf(kFirstTimePlotItem), 2);
  Choose(134, kFirstMapDisplayItem + 3);
  Choose(134, kFirstTimePlotItem + 3);
  EXPECT_TRUE(shell.display.gMatingPreferenceDisplay && !shell.display.gHabitatPreferenceDisplay);
  EXPECT_TRUE(shell.display.gConcordanceGraph && !shell.display.gHabitatPreferenceGraph);
  EXPECT_EQ(checkedOf(kFirstMapDisplayItem), 4);
  EXPECT_EQ(checkedOf(kFirstTimePlotItem), 4);

  EXPECT_FALSE(platform.Checked(110, 1));
  Choose(110, 3);
  EXPECT_TRUE(platform.Checked(110, 1));
  Choose(135, 7);
  EXPECT_FALSE(platform.Checked(110, 1));
}

TEST_F(DesktopTest, StatusBarSaysWhatTheProgramWaitsFor) {
  // A single run in step mode, paused once, to its end; then a series of
  // two replicates to its end. The space bar's button says what the space
  // bar does in each wait, and nothing while the series runs.
  const fs::path file = TestDirectory() / "series.txt";
  std::vector<std::string> atWaits;
  std::vector<std::string> actions;
  platform.PostMenu(111, 1);
  platform.PostMenu(135, 11);
  platform.PostStepAtWait([&] {
    atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
    return std::optional<Event>(Event::Menu(129, 4));  // step mode, inside the first wait
  });
  platform.PostStepAtWait([&] { return std::optional<Event>(Event::Key(' ')); });
  platform.PostStepAtWait([&] {
    atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
    return std::optional<Event>(Event::Menu(129, 3));  // pause inside a step wait
  });
  platform.PostStepAtWait([&] {
    atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
    return std::optional<Event>(Event::Key(' '));  // ends the pause
  });
  platform.PostStepAtWait([&] {
    atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
    return std::optional<Event>(Event::Menu(129, 4));  // step mode off
  });
  platform.PostStepAtWait([&] { return std::optional<Event>(Event::Key(' ')); });
  platform.PostStepAtWait([&] {
    atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
    platform.savePaths.push_back(file.string());
    return std::optional<Event>(Event::Menu(135, 1));
  });
  platform.PostStepAtWait([&] { return std::optional<Event>(Event::Menu(135, 12)); });
  platform.PostWhen([&] { return shell.runReplicates && shell.gReplicateNumber == 2; },
                    [&] {
                      atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
                      return std::nullopt;
                    });
  platform.PostStepAtWait([&] {
    atWaits.push_back(shell.Activity());
    actions.push_back(platform.spaceAction);
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  const std::vector<std::string> expected = {
      "Press the space bar to start generation 1",
      "Step mode: space bar for the next step",
      "Paused: press the space bar",
      "Step mode: space bar for the next step",
      "Run finished: space bar for a new population",
      "Series: replicate 2 of 2, series.txt",
      "Series finished: 2 records in series.txt",
  };
  EXPECT_EQ(atWaits, expected);
  EXPECT_EQ(actions, (std::vector<std::string>{"Start", "Next Step", "Continue", "Next Step", "New Population", "",
                                               "New Population"}));
}

TEST_F(DesktopTest, MapKeyNamesTheDisplayAndANoteSaysAPausedMapChangesLater) {
  // The key names the display from the start. Chosen while the run waits,
  // a display is named at once and the note says the map follows at the
  // next generation, which clears the note; chosen while the run goes on,
  // nothing needs saying.
  EXPECT_EQ(platform.mapCaption.rfind("All three loci", 0), 0u) << platform.mapCaption;
  Choose(111, 1);
  std::string noteInTheWait;
  platform.PostStepAtWait([&] {
    shell.DoEvent(Event::Menu(kDisplayMenu, kFirstMapDisplayItem + 1));
    noteInTheWait = platform.note;
    return std::optional<Event>(Event::Key(' '));
  });
  std::string noteWhileRunning = "unset";
  platform.PostWhen(AtGeneration(3), [&] {
    shell.DoEvent(Event::Menu(kDisplayMenu, kFirstMapDisplayItem + 2));
    noteWhileRunning = platform.note;
    return std::nullopt;
  });
  platform.PostStepAtWait([] { return std::optional<Event>(Event::Menu(129, 9)); });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(noteInTheWait, "The map changes to Habitat specialization at the next generation");
  EXPECT_EQ(noteWhileRunning, "");
  EXPECT_EQ(platform.mapCaption, "Habitat preference");
}

TEST_F(DesktopTest, SpeedPacesASingleRunButNeverASeries) {
  // At 10 generations a second, 20 generations take 2 seconds of the
  // platform's clock; the menus stay live meanwhile. A series of the same
  // length takes none.
  Choose(135, 11);
  Choose(111, 2);  // 20 generations
  Choose(kSpeedMenu, 6);
  EXPECT_DOUBLE_EQ(shell.Speed(), 10);
  EXPECT_TRUE(platform.Checked(kSpeedMenu, 6));
  EXPECT_FALSE(platform.Checked(kSpeedMenu, 1));
  double started = -1;
  double ended = -1;
  platform.PostStepAtWait([&] {
    started = platform.clock;
    return std::optional<Event>(Event::Key(' '));
  });
  bool minimizedOnTheWay = false;
  platform.PostWhen([&] { return shell.world.gGenerationNumber == 10; },
                    [&] { return std::optional<Event>(Event::Menu(135, 11)); });
  platform.PostWhen([&] { return shell.world.gGenerationNumber == 11; },
                    [&] {
                      minimizedOnTheWay = !shell.display.gMinimizeDisplay;
                      return std::nullopt;
                    });
  platform.PostStepAtWait([&] {
    ended = platform.clock;
    return std::optional<Event>(Event::Menu(135, 11));
  });
  const fs::path file = TestDirectory() / "series.txt";
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostMenu(135, 12);
  double seriesEnded = -1;
  platform.PostStepAtWait([&] {
    seriesEnded = platform.clock;
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_TRUE(minimizedOnTheWay);
  EXPECT_NEAR(ended - started, 2.0, 0.05);
  EXPECT_DOUBLE_EQ(seriesEnded, ended);
  EXPECT_FALSE(fs::is_empty(file));
}

TEST_F(DesktopTest, ASpaceBarPressedWhileAGenerationIsPacedEndsTheNextCycleWait) {
  // In cycle mode at 1 generation a second, a press during the wait that
  // paces generation 1 counts for the cycle wait of generation 2, which
  // does not stop; generation 3 waits again. The pace is kept: generation
  // 3 waits a second after generation 2 began.
  Choose(129, 5);
  Choose(kSpeedMenu, 8);
  platform.PostStepAtWait([] { return std::optional<Event>(Event::Key(' ')); });  // start
  platform.PostStepAtWait([] { return std::optional<Event>(Event::Key(' ')); });  // cycle wait 1
  int pacedAt = -1;
  platform.PostStep([&] {  // the next call: the wait that paces generation 1
    pacedAt = shell.world.gGenerationNumber;
    return std::optional<Event>(Event::Key(' '));
  });
  int quitAt = -1;
  double quitClock = -1;
  platform.PostStepAtWait([&] {
    quitAt = shell.world.gGenerationNumber;
    quitClock = platform.clock;
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(pacedAt, 1);
  EXPECT_EQ(quitAt, 3);
  EXPECT_NEAR(quitClock, 2.0, 0.05);
  const auto cycleWaits = std::count(platform.activities.begin(), platform.activities.end(),
                                     std::string("Cycle mode: space bar for the next generation"));
  EXPECT_EQ(cycleWaits, 2);
}

TEST_F(DesktopTest, MinimizeDisplayErasesTheGraphWindow) {
  // The check mark follows the flag, and the whole graph window is erased.
  canvas.Clear();
  Choose(135, 11);
  EXPECT_TRUE(shell.display.gMinimizeDisplay);
  EXPECT_TRUE(shell.MinimizeDisplay());
  EXPECT_TRUE(platform.Checked(135, 11));
  const auto erased = canvas.OfKind(RecordingCanvas::Kind::EraseRect);
  ASSERT_EQ(erased.size(), 1u);
  EXPECT_EQ(erased[0].port, Port::Graph);
  EXPECT_EQ(erased[0].rect.bottom, 520);
  EXPECT_EQ(erased[0].rect.right, 220);
  EXPECT_EQ(canvas.GetPort(), Port::View);
  Choose(135, 11);
  EXPECT_FALSE(shell.display.gMinimizeDisplay);
  EXPECT_FALSE(platform.Checked(135, 11));
}

TEST_F(DesktopTest, SubmenusSetCountsWithOneCheckMark) {
  // Each item of the Averaging span, Replicates and Generations submenus
  // sets its count and is the only one checked.
  const long spans[] = {10, 20, 50, 100};
  for (int item = 1; item <= 4; ++item) {
    Choose(108, item);
    EXPECT_EQ(shell.recorder.choices.gAveragingSpan, spans[item - 1]);
    for (int other = 1; other <= 4; ++other) EXPECT_EQ(platform.Checked(108, other), other == item);
  }
  const long replicates[] = {1, 2, 5, 10, 50, 100, 500, 1000};
  for (int item = 1; item <= 8; ++item) {
    Choose(109, item);
    EXPECT_EQ(shell.gTotalReplicates, replicates[item - 1]);
    for (int other = 1; other <= 8; ++other) EXPECT_EQ(platform.Checked(109, other), other == item);
  }
  const long generations[] = {5, 20, 50, 100, 200, 500, 1000, 2000, 5000};
  for (int item = 1; item <= 9; ++item) {
    Choose(111, item);
    EXPECT_EQ(shell.gTotalGenerations, generations[item - 1]);
    for (int other = 1; other <= 9; ++other) EXPECT_EQ(platform.Checked(111, other), other == item);
  }
}

TEST_F(DesktopTest, TimedCriteriaAndAnAveragedVariableAreNeverRecordedTogether) {
  const RecordingChoices& c = shell.recorder.choices;
  // An averaged variable turns timed criteria off.
  Choose(110, 3);
  EXPECT_TRUE(c.gGetAveragedLeftHabitatPreference);
  EXPECT_FALSE(c.gGetTimedCriteria);
  EXPECT_TRUE(platform.Checked(110, 3));
  EXPECT_FALSE(platform.Checked(135, 7));
  // Another variable replaces it.
  Choose(110, 5);
  EXPECT_TRUE(c.gGetAverageLeftHabitatMatingPreference);
  EXPECT_FALSE(c.gGetAveragedLeftHabitatPreference);
  EXPECT_FALSE(platform.Checked(110, 3));
  EXPECT_TRUE(platform.Checked(110, 5));
  // Timed criteria on again clears every variable and its check mark.
  Choose(135, 7);
  EXPECT_TRUE(c.gGetTimedCriteria);
  EXPECT_FALSE(c.gGetAverageLeftHabitatMatingPreference);
  EXPECT_FALSE(platform.Checked(110, 5));
  EXPECT_TRUE(platform.Checked(135, 7));
  // Item 1 turns timed criteria off and chooses no variable.
  Choose(110, 1);
  EXPECT_FALSE(c.gGetTimedCriteria);
  EXPECT_FALSE(c.gGetAverageLeftHabitatTotal || c.gGetAveragedLeftHabitatPreference ||
               c.gGetAverageLeftHabitatSpecialization || c.gGetAverageLeftHabitatMatingPreference);
  EXPECT_FALSE(platform.Checked(135, 7));
}

TEST_F(DesktopTest, AboutBoxOpensFromItemOneOnly) {
  // Item 1 of the Apple menu is the About box; other items do nothing.
  Choose(128, 2);
  EXPECT_EQ(platform.aboutBoxes, 0);
  Choose(128, 1);
  EXPECT_EQ(platform.aboutBoxes, 1);
}

TEST_F(DesktopTest, SettingsOkWithoutChangesLeavesEveryParameter) {
  // The dialog opens at the documented items, but for the period 10000,
  // which no item gives: it is offered as the value in force. OK untouched
  // changes nothing; choosing an item of that pop-up applies it.
  platform.settingsAnswers.push_back([](ControlValues&) { return true; });
  Choose(129, 7);
  ASSERT_EQ(platform.settingsOpenedWith.size(), 1u);
  const ControlValues expected = {{30, 3}, {31, 2}, {33, 0}, {34, 0}, {35, 0}, {36, 1}, {37, 1}, {38, 1},
                                  {39, 1}, {40, 1}, {41, 1}, {42, 6}, {43, 0}, {44, 1}, {45, 0}, {46, 1},
                                  {47, 0}, {48, 1}, {49, 0}, {50, 0}, {55, 0}, {57, 0}};
  EXPECT_EQ(platform.settingsOpenedWith[0], expected);
  EXPECT_EQ(platform.settingsInForce[0], (InForceTexts{{47, "10000"}}));
  EXPECT_EQ(FormatAll(shell.world.params), FormatAll(Parameters{}));

  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[47] = 3;
    return true;
  });
  Choose(129, 7);
  EXPECT_EQ(shell.world.params.gGenerationsToEnvironmentalChange, 500);
}

TEST_F(DesktopTest, SettingsCancelChangesNothing) {
  // Check boxes toggled and pop-ups moved, then Cancel.
  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[35] = 1;
    values[49] = 1;
    values[42] = 2;
    return false;
  });
  Choose(129, 7);
  EXPECT_EQ(FormatAll(shell.world.params), FormatAll(Parameters{}));
}

TEST_F(DesktopTest, SettingsOkAppliesTheControls) {
  // Every kind of control, through the dialog's OK.
  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[44] = 4;   // natal dispersal 30 per cent
    values[38] = 11;  // false alarms 100 per cent
    values[48] = 3;   // viability factor 0.8
    values[43] = 1;   // restricted natal dispersal
    values[30] = 11;  // twelve offspring
    return true;
  });
  Choose(129, 7);
  const Parameters& p = shell.world.params;
  EXPECT_EQ(p.natalDispersalRate, 30);
  EXPECT_EQ(p.gFalseAlarmRate, 100);
  EXPECT_FLOAT_EQ(p.gViabilityFactor, 0.8f);
  EXPECT_TRUE(p.restrictedNatalDispersal);
  EXPECT_EQ(p.numberOfKids, 12);
}

// ---------------------------------------------------------------------------
// Seeds

TEST_F(DesktopTest, EveryReplicateTakesTheNextSeedAndTheBaseSeedCanBeSet) {
  // The launch run takes the launch seed; Restart takes the next; a base
  // seed set from the File menu is the seed of the next replicate.
  platform.PostMenu(129, 1);
  platform.PostStepAtWait([&] {
    EXPECT_EQ(shell.CurrentSeed(), kLaunchSeed + 1);
    return std::optional<Event>(Event::Menu(129, kBaseSeedItem));
  });
  platform.seedAnswers.push_back(77);
  platform.PostMenu(129, 1);
  platform.PostStepAtWait([&] {
    EXPECT_EQ(shell.CurrentSeed(), 77u);
    EXPECT_EQ(shell.NextSeed(), 78u);
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  ASSERT_TRUE(platform.shownSeeds.has_value());
  EXPECT_EQ(platform.shownSeeds->current, 77u);
  EXPECT_EQ(platform.shownSeeds->next, 78u);
}

TEST_F(DesktopTest, BaseSeedChosenDuringASeriesWaitsForTheSeriesToEnd) {
  // The series keeps its seeds 1000 and 1001 (the launch seed is the first
  // series' base) and writes the batch command's file; the single run after
  // it takes the seed chosen meanwhile, and so does the next series.
  const fs::path file = TestDirectory() / "series.txt";
  platform.PostMenu(135, 11);
  platform.PostMenu(111, 1);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(135, 1);
  platform.PostMenu(135, 12);
  platform.seedAnswers.push_back(9);
  platform.PostMenuWhen(AtReplicate(1, 3), 129, kBaseSeedItem);
  std::uint64_t seedAfterSeries = 0;
  platform.PostStepAtWait([&] {
    return std::optional<Event>(Event::Key(' '));  // the end of the series' pass
  });
  platform.PostStepAtWait([&] {
    seedAfterSeries = shell.CurrentSeed();
    return std::optional<Event>(Event::Menu(129, 9));
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(seedAfterSeries, 9u);
  EXPECT_EQ(shell.NextSeed(), 10u);
  EXPECT_EQ(shell.NextSeriesSeed(), 9u);
  EXPECT_EQ(ReadFile(file),
            BatchFile(file.parent_path() / "batch.txt", "--seed 1000 --replicates 2 --generations 5"));
}

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
// Settings formulas

TEST(SettingsFormulas, DocumentedEdgeCasesBothWays) {
  // The dialog's edge cases, opening and OK.
  Parameters p;
  p.natalDispersalRate = 30;
  EXPECT_EQ(OpeningValue(44, p), 4);
  ApplyControl(44, 4, p);
  EXPECT_EQ(p.natalDispersalRate, 30);

  EXPECT_EQ(OpeningValue(42, Parameters{}), 6);
  ApplyControl(42, 6, p);
  EXPECT_FLOAT_EQ(p.selectionFactor, 0.5f);
  ApplyControl(42, 1, p);
  EXPECT_EQ(p.selectionFactor, 0.0f);

  EXPECT_EQ(OpeningValue(48, Parameters{}), 1);
  ApplyControl(48, 3, p);
  EXPECT_FLOAT_EQ(p.gViabilityFactor, 0.8f);

  EXPECT_EQ(OpeningValue(47, Parameters{}), 4);
  ApplyControl(47, 4, p);
  EXPECT_EQ(p.gGenerationsToEnvironmentalChange, 5000);
  EXPECT_EQ(OpeningValue(31, Parameters{}), 2);
  EXPECT_EQ(OpeningValue(30, Parameters{}), 3);
}

TEST(SettingsFormulas, DetectionRatesCoverZeroToHundredPerCentInTens) {
  // Items 38 and 39 take the dispersal rates' formulas: item k is
  // 10 * (k - 1) per cent, and a rate opens at rate / 10 + 1.
  for (int item : {38, 39}) {
    for (int v = 1; v <= 11; ++v) {
      Parameters p;
      ApplyControl(item, v, p);
      const int rate = item == 38 ? p.gFalseAlarmRate : p.gMissedDetectionRate;
      EXPECT_EQ(rate, 10 * (v - 1)) << item;
      EXPECT_EQ(OpeningValue(item, p), v) << item;
    }
    Parameters p;
    (item == 38 ? p.gFalseAlarmRate : p.gMissedDetectionRate) = 35;
    EXPECT_EQ(OpeningValue(item, p), 4);
  }
  EXPECT_EQ(PopUpItemText(38, 11), "100 %");
}

TEST(SettingsFormulas, EveryPopUpItemReopensAtItself) {
  // OK then opening again gives the same item, for every item of every
  // pop-up and both states of every check box: the single-precision
  // opening formulas included.
  for (const SettingsControl& control : SettingsControls()) {
    const int first = control.kind == ControlKind::PopUp ? 1 : 0;
    const int last = control.kind == ControlKind::PopUp ? control.popUpItems : 1;
    for (int v = first; v <= last; ++v) {
      Parameters p;
      ApplyControl(control.item, v, p);
      EXPECT_EQ(OpeningValue(control.item, p), v) << "item " << control.item << " value " << v;
    }
  }
}

TEST(SettingsFormulas, PopUpsOfferOnlyMeaningfulValues) {
  // Every value a pop-up offers lies within its parameter's allowed range,
  // with mutation rates up to 10,000 and at most 12 offspring.
  for (const SettingsControl& control : SettingsControls()) {
    const ParameterInfo* info = FindParameter(control.parameter);
    ASSERT_NE(info, nullptr) << control.parameter;
    const int last = control.kind == ControlKind::PopUp ? control.popUpItems : 1;
    for (int v = control.kind == ControlKind::PopUp ? 1 : 0; v <= last; ++v) {
      Parameters p;
      ApplyControl(control.item, v, p);
      const double value = std::stod(FormatParameter(p, *info));
      EXPECT_GE(value, info->minimum) << control.parameter << " item " << v;
      EXPECT_LE(value, info->maximum) << control.parameter << " item " << v;
    }
  }
  Parameters p;
  ApplyControl(31, FindSettingsControl(31)->popUpItems, p);
  EXPECT_EQ(p.mutationRate, 10000);
  ApplyControl(30, FindSettingsControl(30)->popUpItems, p);
  EXPECT_EQ(p.numberOfKids, 12);
  ApplyControl(41, FindSettingsControl(41)->popUpItems, p);
  EXPECT_EQ(p.density, 8);
}

TEST(SettingsFormulas, OkAppliesOnlyTheItemsOfTheTable) {
  // Static items (here 32 and 60) are read and ignored.
  Parameters p;
  ControlValues values = OpeningValues(p);
  values[32] = 7;
  values[60] = 9;
  values[41] = 8;
  UpdateSettings(values, p);
  EXPECT_EQ(p.density, 8);
  EXPECT_EQ(p.numberOfKids, 4);
}

}  // namespace
}  // namespace talveron::app

namespace talveron::app {
namespace {

TEST(DesktopScheduledChanges, ASettingsFilesChangesRunAsInTheBatchCommand) {
  // A settings file's change runs in every replicate of a series from the
  // menus, with the batch command's bytes; the status bar says when it
  // takes effect, and the copied command and saved settings carry it.
  test_support::TempFolder dir("desktop-changes");
  const fs::path settings = dir.path() / "contact.toml";
  std::ofstream(settings) << "replicates = 2\ngenerations = 20\n[set]\nrestrictedNatalDispersal = true\n"
                             "[[change]]\ngeneration = 11\nset = { natalDispersalRate = 40, selectionFactor = 0.9 }\n";
  const std::string desktop = SeriesFromMenus(dir.path() / "desktop.txt", [&](HeadlessPlatform& p) {
    p.settingsPaths.push_back(settings.string());
    p.PostMenu(129, kOpenSettingsItem);
  });
  EXPECT_EQ(desktop, BatchFile(dir.path() / "batch.txt",
                               "--seed 4242 --replicates 2 --generations 20 --set restrictedNatalDispersal=1 "
                               "--change 11:natalDispersalRate=40 --change 11:selectionFactor=0.9"));
  EXPECT_NE(desktop, BatchFile(dir.path() / "unchanged.txt",
                               "--seed 4242 --replicates 2 --generations 20 --set restrictedNatalDispersal=1"));

  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell(platform, canvas, kLaunchSeed);
  shell.MenuBarInit();
  ASSERT_FALSE(shell.OpenSettingsFile(settings.string()).has_value());
  shell.GetSettings();
  EXPECT_EQ(platform.settingsChanges.back(),
            std::vector<std::string>{"Generation 11: selectionFactor = 0.9, natalDispersalRate = 40"});
  EXPECT_NE(shell.BatchCommand().find(" --change 11:selectionFactor=0.9 --change 11:natalDispersalRate=40 "),
            std::string::npos)
      << shell.BatchCommand();
  shell.world.gGenerationNumber = 11;
  shell.ApplyScheduledChange();
  EXPECT_EQ(platform.note, "Generation 11: selectionFactor=0.9, natalDispersalRate=40 from now on (settings' change)");
  EXPECT_EQ(shell.world.params.natalDispersalRate, 40);
  // The settings keep their own values while the change is in force.
  EXPECT_EQ(shell.CurrentSettings().params.natalDispersalRate, 0);
  EXPECT_NE(SettingsFileText(shell.CurrentSettings())
                .find("[[change]]\ngeneration = 11\nset = { selectionFactor = 0.9, natalDispersalRate = 40 }\n"),
            std::string::npos);
  const fs::path late = dir.path() / "late.toml";
  std::ofstream(late) << "generations = 20\n[[change]]\ngeneration = 21\nset = { density = 2 }\n";
  const auto refused = shell.OpenSettingsFile(late.string());
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("change at generation 21: it comes after the last generation, 20"), std::string::npos);
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
