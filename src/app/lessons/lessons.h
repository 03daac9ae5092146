// Lessons: ready experiments for a class. A lesson is a settings file (the
// TOML that talveron-batch reads) and a short text in Markdown beside it,
// NAME.toml and NAME.md. The text's first heading is the lesson's title; a
// line "Pace: N generations a second." gives the speed it opens at (10
// when it has none). The lessons of the lessons folder are built into the
// programs, with the glossary; a teacher's own lesson is read from its
// files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "run/settings_file.h"

namespace talveron::app {

// A lesson's two texts as they come from the lessons folder.
struct LessonSource {
  const char* name;
  std::string_view markdown;
  std::string_view settings;
};

struct Lesson {
  std::string name;      // the files' name without extension: "drift"
  std::string title;     // the text's first heading
  std::string markdown;  // the text
  std::string settings;  // the settings file's text
  double pace = 10;      // generations a second it opens at
  bool builtIn = false;  // one of the lessons that come with the program
};

inline constexpr double kLessonPace = 10;

// The paces a single run goes at, in the order of the Speed menu's items:
// generations a second, 0 for as fast as it goes. A lesson opens at one of
// them.
inline constexpr double kSpeeds[] = {0, 1000, 300, 100, 30, 10, 3, 1};

// The lessons that come with the program, in the order of the Lessons menu.
const std::vector<Lesson>& BuiltInLessons();
// A built-in lesson by name; null when there is none.
const Lesson* FindLesson(std::string_view name);
// The glossary of the terms the program uses, in Markdown.
std::string_view GlossaryText();

// A lesson from its two texts: the title and pace read from the Markdown.
// What is wrong with the text, if anything: no title, or a pace that the
// Speed menu does not offer.
std::variant<Lesson, std::string> MakeLesson(std::string name, std::string markdown, std::string settings);

// Reads a teacher's lesson: the path of NAME.md or NAME.toml, the other
// file beside it. A lesson without a settings file opens at the defaults.
std::variant<Lesson, std::string> ReadLessonFiles(const std::string& path);

// The items of the lesson's "Questions" section, each as written.
std::vector<std::string> LessonQuestions(const Lesson& lesson);

// The settings of a lesson as a series: nothing in its text means the
// defaults. What is wrong with them, in the settings file's words.
std::variant<SeriesSettings, std::string> ReadLessonSettings(const Lesson& lesson);

// Made from the lessons folder (cmake/EmbedLessons.cmake).
const std::vector<LessonSource>& LessonSources();

}  // namespace talveron::app
