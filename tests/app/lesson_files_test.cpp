// A teacher's lesson read within the settings file's limits, in the
// desktop's headless platform: a text, settings file or picture over the
// limit is refused without being read whole, a device or a pipe is refused
// without being read at all, a change after the last generation is refused
// from the files and from the page's link; and the pictures a lesson
// brings reach the lesson panel, which reads no file itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "app/drawing/recording_canvas.h"
#include "app/lessons/lessons.h"
#include "app/shell/headless_platform.h"
#include "app/shell/shell.h"
#include "temp_folder.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kText = "# Islands\n\nPace: 3 generations a second.\n\n## Questions\n\n1. Why?\n";

// A file of `bytes` bytes that takes no room on the disc: a sparse one.
void SparseFile(const fs::path& path, std::uintmax_t bytes) {
  std::ofstream(path).close();
  fs::resize_file(path, bytes);
}

class LessonFilesTest : public ::testing::Test {
 protected:
  LessonFilesTest() { shell.MenuBarInit(); }

  // Opens each path with File > Open Lesson, in turn, and returns what the
  // user was told of each: the notices, one per refused path.
  std::vector<std::string> Open(const std::vector<fs::path>& paths) {
    for (const fs::path& path : paths) platform.lessonPaths.push_back(path.string());
    platform.notices.clear();
    shell.OpenLessonFile();
    return platform.notices;
  }

  test_support::TempFolder folder{"lesson-files"};
  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell{platform, canvas, 1000};
};

TEST_F(LessonFilesTest, FilesOverTheLimitDevicesAndChangesAfterTheLastGenerationAreRefusedAsSettingsAre) {
  // The settings file's limit and a byte more.
  const std::uintmax_t over = kMaxSettingsBytes + 1;
  fs::create_directory(folder / "big-text");
  SparseFile(folder / "big-text" / "lesson.md", std::uintmax_t{1} << 30);
  fs::create_directory(folder / "big-settings");
  std::ofstream(folder / "big-settings" / "lesson.md") << kText;
  SparseFile(folder / "big-settings" / "lesson.toml", std::uintmax_t{1} << 30);
  fs::create_directory(folder / "just-over");
  std::ofstream(folder / "just-over" / "lesson.md") << kText;
  SparseFile(folder / "just-over" / "lesson.toml", over);
  fs::create_directory(folder / "zero-text");
  fs::create_symlink("/dev/zero", folder / "zero-text" / "lesson.md");
  fs::create_directory(folder / "zero-picture");
  std::ofstream(folder / "zero-picture" / "lesson.md") << kText << "\n![endless](/dev/zero)\n";
  fs::create_directory(folder / "big-picture");
  std::ofstream(folder / "big-picture" / "lesson.md") << kText << "\n![a map](map.png)\n";
  SparseFile(folder / "big-picture" / "map.png", over);
  fs::create_directory(folder / "pictures-together");
  std::ofstream(folder / "pictures-together" / "lesson.md") << kText << "![a](a.png) ![b](b.png)\n";
  SparseFile(folder / "pictures-together" / "a.png", kMaxSettingsBytes / 2 + 1);
  SparseFile(folder / "pictures-together" / "b.png", kMaxSettingsBytes / 2 + 1);
  fs::create_directory(folder / "no-picture");
  std::ofstream(folder / "no-picture" / "lesson.md") << kText << "![gone](gone.png)\n";
  fs::create_directory(folder / "folder-picture");
  std::ofstream(folder / "folder-picture" / "lesson.md") << kText << "![a folder](.)\n";
  fs::create_directory(folder / "late");
  std::ofstream(folder / "late" / "lesson.md") << kText;
  std::ofstream(folder / "late" / "lesson.toml") << "generations = 100\n[[change]]\ngeneration = 151\n"
                                                    "set = { natalDispersalRate = 50 }\n";

  struct Refusal {
    fs::path path;
    std::string words;
  };
  const std::string limit = std::to_string(kMaxSettingsBytes);
  const std::vector<Refusal> refusals = {
      {folder / "big-text" / "lesson.md", "lesson.md: the file has more than " + limit + " bytes"},
      {folder / "big-settings" / "lesson.md", "lesson.toml: the file has more than " + limit + " bytes"},
      {folder / "just-over" / "lesson.toml", "lesson.toml: the file has more than " + limit + " bytes"},
      {folder / "zero-text" / "lesson.md", "lesson.md: is not a plain file (a device or a pipe)"},
      {folder / "zero-picture" / "lesson.md",
       "the picture /dev/zero is refused: /dev/zero: is not a plain file"},
      {folder / "big-picture" / "lesson.md",
       "the picture map.png is refused: " + (folder / "big-picture" / "map.png").string() +
           ": the file has more than " + limit + " bytes"},
      {folder / "pictures-together" / "lesson.md", "the picture b.png is refused"},
      {folder / "no-picture" / "lesson.md",
       "the picture gone.png is refused: " + (folder / "no-picture" / "gone.png").string() +
           ": cannot be read"},
      {folder / "folder-picture" / "lesson.md", "is a folder"},
      {folder / "late" / "lesson.md",
       "lesson.toml: change at generation 151: it comes after the last generation, 100"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.path.string());
    const std::vector<std::string> told = Open({refusal.path});
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(refusal.words), std::string::npos) << told[0];
    EXPECT_FALSE(shell.CurrentLesson().has_value());
  }
  // The same pictures that fit: both of them, and the settings at the limit.
  SparseFile(folder / "pictures-together" / "b.png", kMaxSettingsBytes / 2 - 1);
  EXPECT_TRUE(Open({folder / "pictures-together" / "lesson.md"}).empty());
  ASSERT_EQ(platform.lessonPictures.size(), 2u);
  EXPECT_EQ(platform.lessonPictures[1].first, "b.png");
  EXPECT_EQ(platform.lessonPictures[1].second, std::string(kMaxSettingsBytes / 2 - 1, '\0'));
}

// A pipe is refused without being opened: reading one waits for a writer
// for ever. Should the reading wait after all, the test writes to the pipe
// to end the wait and fails rather than hangs.
TEST_F(LessonFilesTest, APipeIsRefusedWithoutWaitingForAWriter) {
  for (const char* made : {"text", "settings", "picture"}) {
    SCOPED_TRACE(made);
    const fs::path dir = folder / made;
    fs::create_directory(dir);
    fs::path pipe = dir / "lesson.md";
    if (std::string(made) == "settings") {
      std::ofstream(dir / "lesson.md") << kText;
      pipe = dir / "lesson.toml";
    } else if (std::string(made) == "picture") {
      std::ofstream(dir / "lesson.md") << kText << "![flowing](pipe.png)\n";
      pipe = dir / "pipe.png";
    }
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto reading =
        std::async(std::launch::async, [&] { return ReadLessonFiles((dir / "lesson.md").string()); });
    if (reading.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
      reading.wait();
      FAIL() << "the reading waited at the pipe " << pipe;
    }
    const auto read = reading.get();
    ASSERT_TRUE(std::holds_alternative<std::string>(read));
    EXPECT_NE(std::get<std::string>(read).find(pipe.string() + ": is not a plain file (a device or a pipe)"),
              std::string::npos)
        << std::get<std::string>(read);
  }
}

TEST_F(LessonFilesTest, TheLinkRefusesGenerationsThatEndTheRunBeforeTheLessonsChange) {
  const auto refused = shell.OpenLink("lesson=secondary-contact&generations=100");
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("generations: change at generation 151: it comes after the last generation, 100"),
            std::string::npos)
      << *refused;
  EXPECT_FALSE(shell.CurrentLesson().has_value());
  EXPECT_EQ(shell.OpenLink("lesson=secondary-contact&generations=151"), std::nullopt);
  EXPECT_EQ(shell.gTotalGenerations, 151);
}

}  // namespace
}  // namespace talveron::app
