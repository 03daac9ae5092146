// The interactive program without a display: the run loop and its waits,
// the menus by number and the seeds, driven through the event path of a
// scripted platform.
#include "app/shell/shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "desktop_test.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

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

}  // namespace
}  // namespace talveron::app
