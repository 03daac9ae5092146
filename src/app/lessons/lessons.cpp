#include "app/lessons/lessons.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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

// A file of a lesson read as a settings file is read: refused when it is a
// folder, a device or a pipe (which could be read without end, or wait for
// a writer for ever) or larger than the settings file's limit, and never
// read beyond that limit and a byte, whatever it turns into meanwhile.
// `limit` may be lower: what is left of the pictures' share. The text, or
// the reason it was refused in `failure`.
std::optional<std::string> ReadLessonFile(const std::filesystem::path& path, std::size_t limit,
                                          std::string& failure) {
  const std::string name = path.string();
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) {
    failure = name + ": cannot be read";
    return std::nullopt;
  }
  if (S_ISDIR(info.st_mode)) {
    failure = name + ": is a folder; a lesson's text, settings and pictures are files";
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    failure = name + ": is not a plain file (a device or a pipe); a lesson's text, settings and pictures are files";
    return std::nullopt;
  }
  const auto tooLarge = [&] {
    failure = name + ": the file has more than " + std::to_string(limit) + " bytes; allowed are at most that";
    return std::nullopt;
  };
  if (static_cast<std::uintmax_t>(info.st_size) > limit) return tooLarge();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    failure = name + ": cannot be read";
    return std::nullopt;
  }
  std::string text(limit + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    failure = name + ": cannot be read";
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > limit) return tooLarge();
  return text;
}

// An address rather than a file: a scheme of letters before a colon
// ("https:", "data:").
bool IsAddress(std::string_view target) {
  const std::size_t colon = target.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  return std::all_of(target.begin(), target.begin() + static_cast<long>(colon), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
           c == '.';
  });
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
  // Links handed out before the lesson was renamed still open it.
  if (name == "drift") name = "split";
  for (const Lesson& lesson : BuiltInLessons()) {
    if (lesson.name == name) return &lesson;
  }
  return nullptr;
}

std::vector<std::string> LessonPictureNames(std::string_view markdown) {
  std::vector<std::string> names;
  for (std::size_t at = markdown.find("!["); at != std::string_view::npos; at = markdown.find("![", at + 2)) {
    const std::size_t close = markdown.find("](", at + 2);
    if (close == std::string_view::npos) break;
    const std::size_t end = markdown.find(')', close + 2);
    if (end == std::string_view::npos) break;
    std::string_view target = Trimmed(markdown.substr(close + 2, end - close - 2));
    if (target.starts_with('<')) {
      target = target.substr(1, target.find('>') == std::string_view::npos ? target.size() - 1 : target.find('>') - 1);
    } else {
      target = target.substr(0, target.find(' '));  // a title may follow
    }
    if (target.empty() || IsAddress(target)) continue;
    if (std::find(names.begin(), names.end(), target) == names.end()) names.emplace_back(target);
  }
  return names;
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
  std::string failure;
  const std::optional<std::string> markdown = ReadLessonFile(text, kMaxSettingsBytes, failure);
  if (!markdown) {
    std::error_code error;
    if (!std::filesystem::exists(text, error)) {
      return text.string() + " cannot be read: a lesson is NAME.md with NAME.toml beside it";
    }
    return failure;
  }
  std::error_code error;
  std::optional<std::string> toml;
  if (std::filesystem::exists(settings, error) || std::filesystem::is_symlink(settings, error)) {
    toml = ReadLessonFile(settings, kMaxSettingsBytes, failure);
    if (!toml) return failure;
  }
  auto made = MakeLesson(text.stem().string(), *markdown, toml.value_or(""));
  auto* lesson = std::get_if<Lesson>(&made);
  if (lesson == nullptr) return made;
  std::size_t left = kMaxLessonPictureBytes;
  for (const std::string& name : LessonPictureNames(lesson->markdown)) {
    const std::filesystem::path file = text.parent_path() / name;  // a whole path stays whole
    std::optional<std::string> bytes = ReadLessonFile(file, left, failure);
    if (!bytes) {
      return text.string() + ": the picture " + name + " is refused: " + failure +
             (left < kMaxLessonPictureBytes ? " (what the lesson's pictures may hold together, " +
                                                  std::to_string(kMaxLessonPictureBytes) + " bytes, is used up)"
                                            : std::string());
    }
    left -= bytes->size();
    lesson->pictures.push_back({name, std::move(*bytes)});
  }
  return made;
}

std::variant<SeriesSettings, std::string> ReadLessonSettings(const Lesson& lesson) {
  try {
    SettingsFile file = ParseSettingsText(lesson.settings, lesson.name + ".toml");
    if (!file.vary.empty()) return lesson.name + ".toml describes a study of several series ([vary]); a lesson is one";
    if (auto late = file.settings.changes.CheckWithin(file.settings.generations)) {
      return lesson.name + ".toml: " + *late;
    }
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
