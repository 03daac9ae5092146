// Lessons: opening one (its settings, pace and text), the Lessons menu, the
// page's link to an experiment, presentation mode, and the summary of the
// run in plain words.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/lessons/run_summary.h"
#include "app/shell/shell.h"
#include "model/parameters.h"

namespace talveron::app {

namespace {

int LessonCount() { return static_cast<int>(BuiltInLessons().size()); }

// A value of the page's address with its %XX escapes and + undone.
std::string Unescaped(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      plain += ' ';
    } else if (c == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      plain += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      plain += c;
    }
  }
  return plain;
}

std::string LessonNames() {
  std::string names;
  for (const Lesson& lesson : BuiltInLessons()) names += (names.empty() ? "" : ", ") + lesson.name;
  return names;
}

}  // namespace

int SpeedItemOf(double generationsPerSecond) {
  for (int item = 1; item <= kSpeedItems; ++item) {
    if (kSpeeds[item - 1] == generationsPerSecond) return item;
  }
  return 0;
}

MenuSpec LessonsMenu() {
  MenuSpec menu{kLessonsMenu, "Lessons", {}, false};
  for (const Lesson& lesson : BuiltInLessons()) menu.items.push_back({lesson.title, 0, 0, true, 3});
  menu.items.push_back({});
  menu.items.push_back({"Close Lesson"});
  menu.items.push_back({"Glossary"});
  MenuItemSpec copyLink{"Copy Link"};
  copyLink.hidden = true;
  menu.items.push_back(copyLink);
  return menu;
}

int Shell::LessonItem(std::string_view name) {
  const auto& lessons = BuiltInLessons();
  for (std::size_t i = 0; i < lessons.size(); ++i) {
    if (lessons[i].name == name) return static_cast<int>(i + 1);
  }
  return 0;
}

void Shell::HandleLessonsChoice(int item) {
  const int lessons = LessonCount();
  if (item >= 1 && item <= lessons) {
    if (const auto failure = OpenLesson(BuiltInLessons()[static_cast<std::size_t>(item - 1)])) {
      platform_.ShowNotice(*failure);
    }
  } else if (item == lessons + kCloseLessonOffset) {
    CloseLesson();
  } else if (item == lessons + kGlossaryOffset) {
    platform_.ShowGlossary(GlossaryText());
  } else if (item == lessons + kCopyLinkOffset) {
    platform_.CopyLink(Link());
  }
}

std::optional<std::string> Shell::OpenLesson(const Lesson& lesson) {
  if (runReplicates) return "A series is running: a lesson can be opened when it has ended.";
  auto read = ReadLessonSettings(lesson);
  if (const auto* failure = std::get_if<std::string>(&read)) return *failure;
  ApplySettings(std::get<SeriesSettings>(read));
  lesson_ = lesson;
  const int item = LessonItem(lesson.builtIn ? lesson.name : std::string_view());
  for (int i = 1; i <= LessonCount(); ++i) Check(kLessonsMenu, i, i == item);
  Enable(kLessonsMenu, LessonCount() + kCloseLessonOffset, true);
  if (const int speed = SpeedItemOf(lesson.pace); speed > 0) SetSpeed(speed);
  std::vector<std::pair<std::string, std::string>> pictures;
  for (const LessonPicture& picture : lesson.pictures) pictures.emplace_back(picture.name, picture.bytes);
  platform_.ShowLessonPictures(pictures);
  platform_.ShowLesson(lesson.title, lesson.markdown);
  Tell("");
  milestones_.clear();
  platform_.ShowMilestones(milestones_);
  restart = true;  // a new population under the lesson's settings and seed
  return std::nullopt;
}

void Shell::CloseLesson() {
  if (!lesson_) return;
  lesson_.reset();
  for (int i = 1; i <= LessonCount(); ++i) Check(kLessonsMenu, i, false);
  Enable(kLessonsMenu, LessonCount() + kCloseLessonOffset, false);
  summary_.clear();
  milestones_.clear();
  platform_.ShowSummary("");
  platform_.ShowMilestones(milestones_);
  platform_.HideLesson();
  if (presentation_) SetPresentation(false);
}

void Shell::OpenLessonFile() {
  while (const std::optional<std::string> path = platform_.AskLessonPath()) {
    auto read = ReadLessonFiles(*path);
    std::optional<std::string> failure;
    if (auto* lesson = std::get_if<Lesson>(&read)) {
      failure = OpenLesson(*lesson);
    } else {
      failure = std::get<std::string>(read);
    }
    if (!failure) return;
    platform_.ShowNotice(*failure);
    if (runReplicates) return;
  }
}

void Shell::SetPresentation(bool on) {
  presentation_ = on;
  Check(kDisplayMenu, kPresentationItem, on);
  platform_.SetPresentation(on);
}

// ---------------------------------------------------------------------------
// The page's link

std::optional<std::string> Shell::OpenLink(std::string_view fragment) {
  if (!fragment.empty() && fragment.front() == '#') fragment.remove_prefix(1);
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!fragment.empty()) {
    const std::string_view part = fragment.substr(0, fragment.find('&'));
    fragment.remove_prefix(std::min(fragment.size(), part.size() + 1));
    if (part.empty()) continue;
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos) {
      return "The link's '" + Unescaped(part) + "' has no value: allowed is NAME=VALUE, as lesson=split or seed=42";
    }
    pairs.emplace_back(Unescaped(part.substr(0, equals)), Unescaped(part.substr(equals + 1)));
  }
  if (pairs.empty()) return std::nullopt;

  // The lesson first, whose settings the other values change.
  const Lesson* lesson = nullptr;
  SeriesSettings settings;
  for (const auto& [key, value] : pairs) {
    if (key != "lesson") continue;
    lesson = FindLesson(value);
    if (lesson == nullptr) return "lesson: '" + value + "' is not a lesson; allowed is one of " + LessonNames();
  }
  if (lesson != nullptr) {
    auto read = ReadLessonSettings(*lesson);
    if (const auto* failure = std::get_if<std::string>(&read)) return *failure;
    settings = std::get<SeriesSettings>(read);
  } else {
    settings = CurrentSettings();
    settings.seed.reset();
  }
  for (const auto& [key, value] : pairs) {
    if (key == "lesson") continue;
    if (key == "seed") {
      const auto seed = ReadSeed(value);
      if (!seed) return "seed: '" + value + "' is not allowed; " + kSeedAllowed;
      settings.seed = *seed;
    } else if (key == "generations") {
      const auto count = ReadCount(value);
      if (!count) return "generations: '" + value + "' is not allowed; " + kCountAllowed;
      settings.generations = *count;
      if (auto late = settings.changes.CheckWithin(settings.generations)) return "generations: " + *late;
    } else if (FindParameter(key) != nullptr) {
      if (auto failure = SetParameter(settings.params, key, value)) return *failure;
    } else {
      return "unknown setting '" + key + "' in the link; allowed are lesson, seed, generations and the parameters "
             "(see talveron-batch --help)";
    }
  }
  if (lesson != nullptr) {
    Lesson changed = *lesson;
    if (auto failure = OpenLesson(changed)) return failure;
  }
  ApplySettings(settings);
  restart = true;
  return std::nullopt;
}

std::string Shell::Link() const {
  SeriesSettings base;
  std::string link;
  if (lesson_ && lesson_->builtIn) {
    const auto read = ReadLessonSettings(*lesson_);
    if (const auto* settings = std::get_if<SeriesSettings>(&read)) base = *settings;
    link = "lesson=" + lesson_->name;
  }
  const std::uint64_t seed = restart ? nextSeed_ : currentSeed_;
  link += std::string(link.empty() ? "" : "&") + "seed=" + std::to_string(seed);
  if (gTotalGenerations != base.generations) link += "&generations=" + std::to_string(gTotalGenerations);
  for (const ParameterInfo& info : ParameterTable()) {
    const std::string value = FormatParameter(world.params, info);
    if (value != FormatParameter(base.params, info)) link += "&" + std::string(info.name) + "=" + value;
  }
  return link;
}

// ---------------------------------------------------------------------------
// The run in plain words, while a lesson is open

void Shell::Tell(const std::string& summary) {
  if (!Telling()) return;
  summary_ = summary;
  platform_.ShowSummary(summary_);
  platform_.ShowNote(summary_);
}

void Shell::AddMilestone(std::string line) {
  milestones_.push_back(std::move(line));
  platform_.ShowMilestones(milestones_);
}

void Shell::TellNewRun() {
  extinctionTold_ = false;
  changesToTell_.clear();
  fates_.clear();
  if (!Telling()) return;
  Tell("");
  milestones_.clear();
  platform_.ShowMilestones(milestones_);
}

void Shell::TellProgress() {
  if (!Telling()) return;
  if (const std::string news = NewCriteriaSentences(history); !news.empty()) Tell(news);
  for (std::string& line : NewMilestones(history)) AddMilestone(std::move(line));
  // Run On to the End passes the extinction's message: told from the census.
  if (DiedOut(history)) TellExtinction();
  TellDueChanges();
}

// A change at generation G is told when the history has reached G - 1: at
// once in a run drawn generation by generation, and in a framed one after
// the criteria of the generations before it.
void Shell::TellDueChanges() {
  const long reached = history.empty() ? 0 : history.LastGeneration();
  while (!changesToTell_.empty() && changesToTell_.front() <= reached + 1) {
    if (const ParameterChange* change = changes_.At(changesToTell_.front())) {
      Tell(ChangeSentence(*change));
      AddMilestone(ChangeMilestone(*change));
    }
    changesToTell_.erase(changesToTell_.begin());
  }
}

void Shell::MarkChanges() {
  std::vector<HistoryMark> marks;
  std::vector<long> generations;
  if (Telling()) {
    for (const ParameterChange& change : changes_.changes()) {
      marks.push_back({static_cast<long>(change.generation), ChangeSentence(change)});
      generations.push_back(static_cast<long>(change.generation));
    }
  }
  history.SetMarks(std::move(marks));
  views_.SetChangeMarks(std::move(generations));
}

void Shell::KeepFate(FateStep part) {
  if (!Telling()) return;
  constexpr std::size_t kKept = 10;  // the generations an extinction is explained from
  switch (part) {
    case FateStep::Begins: {
      // The generations of a population died out say nothing of why.
      if (world.totalAdults() == 0) break;
      GenerationFate fate;
      fate.generation = world.gGenerationNumber;
      fate.adults = world.totalAdults();
      fate.females = static_cast<int>(
          std::count_if(world.adults.begin(), world.adults.end(), [](const Individ& adult) { return !adult.sex; }));
      if (fates_.size() == kKept) fates_.erase(fates_.begin());
      fates_.push_back(fate);
      break;
    }
    case FateStep::Born:
      if (!fates_.empty() && fates_.back().generation == world.gGenerationNumber) {
        fates_.back().young = world.totalYoung();
      }
      break;
    case FateStep::Survived:
      if (!fates_.empty() && fates_.back().generation == world.gGenerationNumber) {
        fates_.back().survivors = world.totalAdults();
      }
      break;
  }
}

void Shell::TellExtinction() {
  if (!Telling() || extinctionTold_) return;
  extinctionTold_ = true;
  const std::string when = "Generation " + std::to_string(world.gGenerationNumber) + ": the population has died out.";
  const std::string why = ExtinctionCause(fates_, world.params);
  Tell(why.empty() ? when : when + " " + why);
  AddMilestone("Extinct, generation " + std::to_string(world.gGenerationNumber) + ": the population has died out.");
}

void Shell::TellRunEnd() {
  if (!Telling()) return;
  // A run drawn in frames has generations not yet in the history: they
  // are told first, and the end from the last of them.
  if (DrawingPending()) ShowFrame();
  if (history.empty()) return;
  std::string end = RunEndSentence(history);
  if (DiedOut(history)) {
    if (const std::string why = ExtinctionCause(fates_, world.params); !why.empty()) end += " " + why;
  }
  Tell(end);
}

}  // namespace talveron::app
