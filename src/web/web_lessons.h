// Lessons on the page: the lesson panel, the glossary, presentation mode,
// a teacher's lesson chosen or dropped, and the page's address, which can
// carry a lesson, its settings and the seed ("index.html#lesson=drift&seed=42").
#pragma once

#include "app/shell/shell.h"
#include "web/web_platform.h"

namespace talveron::web {

class LessonWebPlatform : public WebPlatform {
 public:
  using WebPlatform::WebPlatform;

  void InstallMenuBar(std::span<const app::MenuSpec> menus) override;
  void ShowLesson(std::string_view title, std::string_view markdown) override;
  void HideLesson() override;
  void ShowSummary(std::string_view summary) override;
  void ShowGlossary(std::string_view markdown) override;
  void SetPresentation(bool on) override;
  std::optional<std::string> AskLessonPath() override;
  void CopyLink(std::string_view fragment) override;
};

// Opens the experiment the page's address names. A link with an unknown
// lesson or a bad value is refused with the settings' words, and the page
// opens at the defaults.
void OpenPageLink(app::Shell& shell, app::Platform& platform);

}  // namespace talveron::web
