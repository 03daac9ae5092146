#include "web/web_lessons.h"

#include <emscripten.h>

#include <nlohmann/json.hpp>

#include "app/lessons/lessons.h"

// clang-format off
EM_JS(void, web_lesson_call, (const char* json), { Talveron.call(JSON.parse(UTF8ToString(json))); });
EM_ASYNC_JS(int, web_lesson_ask, (const char* json, char* out, int size), {
  const answer = await Talveron.lessonAsk(JSON.parse(UTF8ToString(json)));
  if (answer === null || answer === undefined) return -1;
  stringToUTF8(answer, out, size);
  return 1;
});
// The page's address after its #, as written there.
// Its length in bytes, which may be more than `size` holds.
EM_JS(int, web_page_link, (char* out, int size), {
  const link = location.hash.slice(1);
  stringToUTF8(link, out, size);
  return lengthBytesUTF8(link);
});
// clang-format on

namespace talveron::web {

namespace {

constexpr int kLinkBytes = 4096;  // an address longer than any link of every parameter

void Call(const nlohmann::json& message) { web_lesson_call(message.dump().c_str()); }

}  // namespace

void LessonWebPlatform::InstallMenuBar(std::span<const app::MenuSpec> menus) {
  WebPlatform::InstallMenuBar(menus);
  // The page has an address to hand out.
  SetMenuItemText(app::kLessonsMenu, static_cast<int>(app::BuiltInLessons().size()) + app::kCopyLinkOffset,
                  "Copy Link");
}

void LessonWebPlatform::ShowLesson(std::string_view title, std::string_view markdown) {
  Call({{"op", "lesson"}, {"title", std::string(title)}, {"markdown", std::string(markdown)}});
}

void LessonWebPlatform::HideLesson() { Call({{"op", "lesson"}, {"title", ""}, {"markdown", ""}}); }

void LessonWebPlatform::ShowSummary(std::string_view summary) {
  Call({{"op", "summary"}, {"text", std::string(summary)}});
}

void LessonWebPlatform::ShowMilestones(const std::vector<std::string>& lines) {
  Call({{"op", "milestones"}, {"lines", lines}});
}

void LessonWebPlatform::ShowGlossary(std::string_view markdown) {
  Call({{"op", "glossary"}, {"markdown", std::string(markdown)}});
}

void LessonWebPlatform::SetPresentation(bool on) { Call({{"op", "presentation"}, {"on", on}}); }

// The lesson's files, chosen or dropped, copied into the module's memory:
// the path of its text there.
std::optional<std::string> LessonWebPlatform::AskLessonPath() {
  std::string answer(kLinkBytes, '\0');
  if (web_lesson_ask(nlohmann::json{{"op", "openLesson"}}.dump().c_str(), answer.data(), kLinkBytes) < 0) {
    return std::nullopt;
  }
  answer.resize(answer.find('\0'));
  return answer;
}

void LessonWebPlatform::CopyLink(std::string_view fragment) {
  Call({{"op", "copyLink"}, {"fragment", std::string(fragment)}});
}

void OpenPageLink(app::Shell& shell, app::Platform& platform) {
  std::string link(kLinkBytes, '\0');
  const int length = web_page_link(link.data(), kLinkBytes);
  if (length >= kLinkBytes) {
    platform.ShowNotice("The page's address is refused: its " + std::to_string(length) +
                        " bytes after the # are more than the " + std::to_string(kLinkBytes - 1) +
                        " a link may have. The page opens at the defaults.");
    return;
  }
  link.resize(link.find('\0'));
  if (link.empty()) return;
  if (const auto failure = shell.OpenLink(link)) {
    platform.ShowNotice("The page's address is refused: " + *failure + ". The page opens at the defaults.");
  }
}

}  // namespace talveron::web
