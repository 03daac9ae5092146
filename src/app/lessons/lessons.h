// Lessons: ready experiments for a class. A lesson is a settings file (the
// TOML that talveron-batch reads) and a short text in Markdown beside it,
// NAME.toml and NAME.md. The text's first heading is the lesson's title; a
// line "Pace: N generations a second." gives the speed it opens at (10
// when it has none). The lessons of the lessons folder are built into the
// programs, with the glossary; a teacher's own lesson is read from its
// files, each of them as a settings file is read: a plain file of at most
// kMaxSettingsBytes, never a folder, a device or a pipe.
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

// A picture a lesson's text shows, read with the lesson: the panel shows
// these and reads no file of its own.
struct LessonPicture {
  std::string name;   // as the text names it: "map.png"
  std::string bytes;  // the file's
};

struct Lesson {
  std::string name;      // the files' name without extension: "split"
  std::string title;     // the text's first heading
  std::string markdown;  // the text
  std::string settings;  // the settings file's text
  double pace = 10;      // generations a second it opens at
  bool builtIn = false;  // one of the lessons that come with the program
  std::vector<LessonPicture> pictures;  // of a teacher's lesson
};

// What a lesson's pictures may hold together, in bytes.
inline constexpr std::size_t kMaxLessonPictureBytes = kMaxSettingsBytes;

inline constexpr double kLessonPace = 10;

// The paces a single run goes at, in the order of the Speed menu's items:
// generations a second, 0 for as fast as it goes. A lesson opens at one of
// them.
inline constexpr double kSpeeds[] = {0, 1000, 300, 100, 30, 10, 3, 1};

// The lessons that come with the program, in the order of the Lessons menu.
const std::vector<Lesson>& BuiltInLessons();
// A built-in lesson by name (or by a name it had before); null when there
// is none.
const Lesson* FindLesson(std::string_view name);
// The glossary of the terms the program uses, in Markdown.
std::string_view GlossaryText();

// A lesson from its two texts: the title and pace read from the Markdown.
// What is wrong with the text, if anything: no title, or a pace that the
// Speed menu does not offer.
std::variant<Lesson, std::string> MakeLesson(std::string name, std::string markdown, std::string settings);

// Reads a teacher's lesson: the path of NAME.md or NAME.toml, the other
// file beside it, and the pictures its text shows from files (a name
// relative to the text's folder, or a whole path). A lesson without a
// settings file opens at the defaults; a file that is too large, not a
// plain file or cannot be read refuses the lesson, in the words the
// settings file's reading uses.
std::variant<Lesson, std::string> ReadLessonFiles(const std::string& path);

// The pictures of a Markdown text that are files: the targets of its
// ![text](target) that are no address (http:, data: ...), each once, in
// the order of the text.
std::vector<std::string> LessonPictureNames(std::string_view markdown);

// The items of the lesson's "Questions" section, each as written.
std::vector<std::string> LessonQuestions(const Lesson& lesson);

// The settings of a lesson as a series: nothing in its text means the
// defaults. What is wrong with them, in the settings file's words: a
// change after the last generation too, as File > Open Settings refuses it.
std::variant<SeriesSettings, std::string> ReadLessonSettings(const Lesson& lesson);

// Made from the lessons folder (cmake/EmbedLessons.cmake).
const std::vector<LessonSource>& LessonSources();

}  // namespace talveron::app
