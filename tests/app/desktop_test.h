// What the tests of the interactive program without a display share: a
// shell on the scripted platform and a recording canvas, started as the
// program starts, with a folder of its own for each test's files; and the
// batch command's file of the same series to compare with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "app/drawing/recording_canvas.h"
#include "app/shell/headless_platform.h"
#include "app/shell/settings_formulas.h"
#include "app/shell/shell.h"
#include "temp_folder.h"

namespace talveron::app {

inline constexpr std::uint64_t kLaunchSeed = 1000;

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The data file the batch command writes for the same series.
inline std::string BatchFile(const std::filesystem::path& out, const std::string& arguments) {
  const std::string command =
      std::string(TALVERON_BATCH_PATH) + " --quiet --out '" + out.string() + "' " + arguments;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadFile(out);
}

// The file without its last record (a record ends with a carriage return).
inline std::string WithoutLastRecord(const std::string& file) {
  const std::size_t end = file.rfind('\r', file.size() - 2);
  return file.substr(0, end + 1);
}

// Every parameter as text, for comparing whole parameter sets.
inline std::string FormatAll(const Parameters& params) {
  std::string text;
  for (const ParameterInfo& info : ParameterTable()) {
    text += std::string(info.name) + "=" + FormatParameter(params, info) + " ";
  }
  return text;
}

// Starts the program, sets base seed 4242 and 20 generations, lets
// `choose` add its choices, opens `file` and runs the series to its end.
inline std::string SeriesFromMenus(const std::filesystem::path& file,
                                   const std::function<void(HeadlessPlatform&)>& choose) {
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
  std::filesystem::path TestDirectory() const { return folder_.path(); }

 private:
  test_support::TempFolder folder_{"shell"};

 protected:
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell{platform, canvas, kLaunchSeed};
  std::ostringstream fatalOutput;
};

}  // namespace talveron::app
