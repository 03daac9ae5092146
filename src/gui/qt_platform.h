// The platform layer on Qt. The run loop keeps control on the GUI thread
// and calls WaitNextEvent, which lets Qt process its events: key presses in
// the program's windows and menu choices are queued as events for the loop
// and dispatched by it, never run from inside Qt's handlers.
#pragma once

#include <QElapsedTimer>
#include <QDir>
#include <QObject>
#include <QPointer>
#include <deque>
#include <map>
#include <utility>

#include "app/shell/platform.h"
#include "gui/main_window.h"

class QAction;
class QActionGroup;
class QKeyEvent;
class QMenu;

namespace talveron::gui {

class QtPlatform : public QObject, public app::Platform {
  Q_OBJECT

 public:
  explicit QtPlatform(MainWindow& window);
  ~QtPlatform() override;

  void FlushEvents() override;
  std::optional<app::Event> WaitNextEvent(int sleepTicks) override;
  std::optional<app::Event> WaitNextEventFor(double seconds) override;
  double Seconds() override;
  void ZoomViews(int direction) override;

  void InstallMenuBar(std::span<const app::MenuSpec> menus) override;
  void CheckMenuItem(int menu, int item, bool checked) override;
  void EnableMenuItem(int menu, int item, bool enabled) override;
  void SetMenuItemText(int menu, int item, std::string_view text) override;

  bool RunSettingsDialog(app::ControlValues& values, const app::InForceTexts& inForce,
                         const std::vector<std::string>& changes) override;
  std::optional<std::string> AskDataFilePath() override;
  void ShowNotice(std::string_view message) override;
  std::optional<std::uint64_t> AskBaseSeed(std::uint64_t current) override;
  void ShowAboutBox() override;
  std::optional<std::string> AskSettingsPath(bool save) override;
  void SavePicture() override;
  std::optional<std::string> AskGenotypesPath() override;
  // bgzip-compressed and tabix-indexed, as talveron-batch --genotypes writes.
  void WriteGenotypes(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                      const GenotypeSettings& settings) override;
  void CopyText(std::string_view text) override;
  bool Confirm(std::string_view question) override;
  void ShowGuide() override;

  void ShowSeeds(const app::SeedStatus& seeds) override;
  void ShowDataFileName(std::string_view name) override;
  void ShowActivity(std::string_view text) override;
  void ShowSpaceAction(std::string_view action) override;
  void ShowMapKey(const app::MapKey& key) override;
  void ShowNote(std::string_view note) override;
  void ShowDataFileNote(std::string_view note) override;
  void Beep() override;
  void ShowCharts(const CensusHistory& history) override;
  void ShowChartsView(bool shown) override;
  void ShowFrame() override;
  void ShowSpeedReached(double generationsPerSecond) override;
  void ShowFatalError(std::string_view report) override;

  // The program's version, as About shows it and the application reports it.
  static QString Version();

  // The action of a menu item; null when there is none.
  QAction* action(int menu, int item) const;
  QMenu* menu(int number) const;
  // The guide's window, once it has been asked for.
  QWidget* guide() const { return guide_; }
  // Events queued and not yet delivered.
  std::size_t pending() const { return queue_.size(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

  // The guide's Markdown as the desktop program shows it.
  static QString DesktopGuide(const QString& markdown);

 private:
  QString InFolder(const QString& name) const;
  void Remember(const QString& path);
  QString folder_ = QDir::homePath();
  bool InOurWindows(QObject* watched) const;
  void Enqueue(const app::Event& event) { queue_.push_back(event); }
  std::optional<app::Event> Deliver();
  // A key press that only repeats the key just released: the key repeat of
  // a window system that sends a held key as press and release pairs.
  bool RepeatsRelease(const QKeyEvent& press) const;

  MainWindow& window_;
  app::QtCanvas& canvas_;
  std::deque<app::Event> queue_;
  bool closeRequested_ = false;
  QElapsedTimer clock_;
  qint64 lastProcessed_ = -1;  // when Qt last handled its events, in ns of clock_
  int releasedKey_ = 0;           // the key of the last key release, 0 for none
  unsigned long releasedAt_ = 0;  // its time stamp in milliseconds
  std::map<int, QMenu*> menus_;
  std::map<std::pair<int, int>, QAction*> actions_;
  std::map<std::pair<int, int>, bool> checked_;
  QPointer<QWidget> guide_;
  std::map<std::pair<int, int>, QActionGroup*> groups_;  // by menu and group
};

}  // namespace talveron::gui
