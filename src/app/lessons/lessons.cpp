#include "app/lessons/lessons.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "run/settings_file.h"

namespace talveron::app {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

// The paces the Speed menu offers, as the text names them.
std::string PacesAllowed() {
  std::string allowed;
  for (double speed : kSpeeds) {
    if (speed <= 0) continue;
    if (!allowed.empty()) allowed += ", ";
    allowed += std::to_string(static_cast<long>(speed));
  }
  return allowed;
}

}  // namespace

std::variant<Lesson, std::string> MakeLesson(std::string name, std::string markdown, std::string settings) {
  Lesson lesson;
  lesson.name = std::move(name);
  for (std::string_view line : Lines(markdown)) {
    line = Trimmed(line);
    if (lesson.title.empty() && line.starts_with("# ")) lesson.title = std::string(Trimmed(line.substr(2)));
    if (!line.starts_with("Pace:")) continue;
    const std::string_view rest = Trimmed(line.substr(5));
    const std::string_view number = rest.substr(0, rest.find(' '));
    const auto pace = ReadWholeNumber<long>(number, 1);
    const bool offered = pace && std::find(std::begin(kSpeeds), std::end(kSpeeds), static_cast<double>(*pace)) !=
                                     std::end(kSpeeds);
    if (!offered || !rest.substr(number.size()).starts_with(" generation")) {
      return lesson.name + ": the line \"" + std::string(line) + "\" gives no pace the Speed menu offers; allowed is " +
             "\"Pace: N generations a second.\" with N one of " + PacesAllowed();
    }
    lesson.pace = static_cast<double>(*pace);
  }
  if (lesson.title.empty()) return lesson.name + ": the text has no title (a first line \"# Title\")";
  lesson.markdown = std::move(markdown);
  lesson.settings = std::move(settings);
  return lesson;
}

const std::vector<Lesson>& BuiltInLessons() {
  static const std::vector<Lesson> lessons = [] {
    std::vector<Lesson> made;
    for (const LessonSource& source : LessonSources()) {
      auto lesson = MakeLesson(source.name, std::string(source.markdown), std::string(source.settings));
      // The build checks the lessons it carries (the lessons test), so a
      // fault here is the developer's: the lesson is left out.
      if (auto* good = std::get_if<Lesson>(&lesson)) {
        good->builtIn = true;
        made.push_back(std::move(*good));
      }
    }
    return made;
  }();
  return lessons;
}

const Lesson* FindLesson(std::string_view name) {
  for (const Lesson& lesson : BuiltInLessons()) {
    if (lesson.name == name) return &lesson;
  }
  return nullptr;
}

std::variant<Lesson, std::string> ReadLessonFiles(const std::string& path) {
  std::filesystem::path text = path;
  std::filesystem::path settings = path;
  text.replace_extension(".md");
  settings.replace_extension(".toml");
  const std::string extension = std::filesystem::path(path).extension().string();
  if (extension != ".md" && extension != ".toml") {
    return path + " is not a lesson: choose its text (NAME.md) or its settings file (NAME.toml)";
  }
  const std::optional<std::string> markdown = ReadWhole(text);
  if (!markdown) return text.string() + " cannot be read: a lesson is NAME.md with NAME.toml beside it";
  std::error_code error;
  std::optional<std::string> toml;
  if (std::filesystem::exists(settings, error)) {
    toml = ReadWhole(settings);
    if (!toml) return settings.string() + " cannot be read";
  }
  return MakeLesson(text.stem().string(), *markdown, toml.value_or(""));
}

std::variant<SeriesSettings, std::string> ReadLessonSettings(const Lesson& lesson) {
  try {
    SettingsFile file = ParseSettingsText(lesson.settings, lesson.name + ".toml");
    if (!file.vary.empty()) return lesson.name + ".toml describes a study of several series ([vary]); a lesson is one";
    return std::move(file.settings);
  } catch (const SettingsFileError& error) {
    return std::string(error.what());
  }
}

std::vector<std::string> LessonQuestions(const Lesson& lesson) {
  std::vector<std::string> questions;
  bool inQuestions = false;
  for (std::string_view line : Lines(lesson.markdown)) {
    line = Trimmed(line);
    if (line.starts_with("#")) {
      inQuestions = line.find("Questions") != std::string_view::npos;
      continue;
    }
    if (!inQuestions || line.empty()) continue;
    const std::size_t dot = line.find(". ");
    const bool numbered = dot != std::string_view::npos && dot > 0 &&
                          std::all_of(line.begin(), line.begin() + static_cast<long>(dot),
                                      [](char c) { return c >= '0' && c <= '9'; });
    if (numbered) {
      questions.emplace_back(line.substr(dot + 2));
    } else if (line.starts_with("- ")) {
      questions.emplace_back(line.substr(2));
    } else if (!questions.empty()) {
      questions.back() += " " + std::string(line);  // a question's next line
    }
  }
  return questions;
}

}  // namespace talveron::app
