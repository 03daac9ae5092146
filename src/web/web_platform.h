// The platform in the browser: events from the page's keys, menus and
// buttons; the page's menu bar, dialogs and status bar; files in the
// module's memory, handed to the user as downloads. The run loop's waits
// let the browser run (Asyncify): a wait shows what was drawn and yields
// until an event comes or the time is up; a frame of a fast run yields
// once it is on the page, and the per-generation poll yields when nothing
// else has for a fifteenth of a second, so the page stays live while a run
// goes on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/platform.h"
#include "web/web_canvas.h"
#include "web/web_charts.h"

namespace talveron::web {

// The page's fonts, through its canvas.
class BrowserText : public TextSource {
 public:
  Measure MeasureGlyph(char c, int size, int face) override;
  Mask RenderGlyph(char c, int size, int face, double scale) override;
};

class WebPlatform : public app::Platform {
 public:
  explicit WebPlatform(WebCanvas& canvas);

  // Copies what changed in the views to the page's canvases, after taking
  // the scales the page asks for.
  // A wait (`settled`) hands the charts' new generations over at once;
  // a running replicate hands them over a few times a second.
  void ShowViews(bool settled = true);
  // Lets the browser run for `seconds` or until an event comes.
  void Yield(double seconds);

  void FlushEvents() override;
  std::optional<app::Event> WaitNextEvent(int sleepTicks) override;
  std::optional<app::Event> WaitNextEventFor(double seconds) override;
  void InstallMenuBar(std::span<const app::MenuSpec> menus) override;
  void SetMenuItemText(int menu, int item, std::string_view text) override;
  void CheckMenuItem(int menu, int item, bool checked) override;
  void EnableMenuItem(int menu, int item, bool enabled) override;
  double Seconds() override;
  void ZoomViews(int direction) override;
  bool RunSettingsDialog(app::ControlValues& values, const app::InForceTexts& inForce,
                         const std::vector<std::string>& changes) override;
  std::optional<std::string> AskDataFilePath() override;
  void ShowNotice(std::string_view message) override;
  std::optional<std::string> AskSettingsPath(bool save) override;
  // Plain VCF text (the page has no htslib), downloaded once written.
  std::optional<std::string> AskGenotypesPath() override;
  void SavePicture() override;
  bool Confirm(std::string_view question) override;
  void CopyText(std::string_view text) override;
  void ShowGuide() override;
  std::optional<std::uint64_t> AskBaseSeed(std::uint64_t current) override;
  void ShowAboutBox() override;
  void ShowSeeds(const app::SeedStatus& seeds) override;
  void ShowDataFileName(std::string_view name) override;
  void ShowDataFileNote(std::string_view note) override;
  void ShowActivity(std::string_view text) override;
  void ShowSpaceAction(std::string_view action) override;
  void ShowCharts(const CensusHistory& history) override;
  void ShowMapKey(const app::MapKey& key) override;
  void ShowNote(std::string_view note) override;
  void ShowChartsView(bool shown) override;
  void ShowFrame() override;
  void ShowSpeedReached(double generationsPerSecond) override;
  void Beep() override;
  void ShowFatalError(std::string_view report) override;

 private:
  std::optional<app::Event> Next();
  void OfferDownloads();
  void HandOverCharts(bool frame);
  void PaintViews();

  WebCanvas& canvas_;
  double lastYield_ = 0;
  std::string dataFile_;                 // the open data file
  std::vector<std::string> downloads_;   // files to hand over once written
  PageCharts charts_;                    // the Charts view's canvas
  // The census history on show and how much of it the page has: the page
  // keeps the counts of every generation handed over, so each generation
  // crosses once.
  const CensusHistory* history_ = nullptr;
  bool chartsRestart_ = true;  // the page is to forget what it has
  long chartsLast_ = 0;        // the last generation the page has
  double lastCharts_ = 0;      // when the charts were last handed over
};

}  // namespace talveron::web
