#include "gui/qt_platform.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTextBrowser>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyleHints>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <vector>

#include "app/drawing/map_key.h"
#include "app/shell/shell.h"
#include "gui/picture.h"
#include "gui/settings_dialog.h"
#include "model/version.h"
#include "record/vcf/genotype_vcf.h"

namespace talveron::gui {

namespace {

constexpr int kTicksPerSecond = 60;

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A menu's text as Qt shows it: an ampersand is a mnemonic unless doubled.
QString MenuText(std::string_view text) { return Text(text).replace(QLatin1Char('&'), QStringLiteral("&&")); }

// The character of a key press: letters lower-case, as the menus' command
// keys are given; 0 for keys without one.
char KeyCharacter(const QKeyEvent& key) {
  const int code = key.key();
  if (code >= Qt::Key_A && code <= Qt::Key_Z) return static_cast<char>('a' + (code - Qt::Key_A));
  if (code == Qt::Key_Space) return ' ';
  // The zoom keys, whatever the keyboard needs to type them: Ctrl+= zooms
  // in too.
  if (code == Qt::Key_Plus || code == Qt::Key_Equal) return '+';
  if (code == Qt::Key_Minus) return '-';
  if (code == Qt::Key_0) return '0';
  const QString text = key.text();
  if (text.size() == 1 && text.at(0).unicode() >= 0x20 && text.at(0).unicode() < 0x7F) {
    return static_cast<char>(text.at(0).unicode());
  }
  return 0;
}

// Shows the four lines of a fatal error; any key or click closes it.
class FatalErrorDialog : public QDialog {
 public:
  FatalErrorDialog(const QString& report, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Talveron"));
    setObjectName(QStringLiteral("fatalErrorDialog"));
    auto* label = new QLabel(report);
    label->setObjectName(QStringLiteral("fatalErrorReport"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
  }

 protected:
  void keyPressEvent(QKeyEvent* /*event*/) override { accept(); }
  void mousePressEvent(QMouseEvent* /*event*/) override { accept(); }
};

// Asks for a seed: a decimal number from 0 to 2^64 - 1.
class SeedDialog : public QDialog {
 public:
  SeedDialog(std::uint64_t current, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QObject::tr("Base Seed"));
    setObjectName(QStringLiteral("seedDialog"));
    auto* label =
        new QLabel(QObject::tr("Seed of the next replicate (the replicates after it take the "
                               "following seeds):"));
    label->setWordWrap(true);
    edit_ = new QLineEdit(QString::number(current));
    edit_->setObjectName(QStringLiteral("seedEdit"));
    edit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,20}")), edit_));
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(edit_, &QLineEdit::textChanged, this,
            [this] { buttons_->button(QDialogButtonBox::Ok)->setEnabled(seed().has_value()); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons_);
  }

  std::optional<std::uint64_t> seed() const {
    const std::string text = edit_->text().toStdString();
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
  }

 private:
  QLineEdit* edit_;
  QDialogButtonBox* buttons_;
};

}  // namespace

QtPlatform::QtPlatform(MainWindow& window) : window_(window), canvas_(window.canvas()) {
  clock_.start();
  qApp->installEventFilter(this);
  connect(&window_, &MainWindow::closeRequested, this, [this] { closeRequested_ = true; });
  connect(&window_, &MainWindow::spaceClicked, this, [this] { Enqueue(app::Event::Key(' ')); });
  connect(&window_, &MainWindow::speedChosen, this,
          [this](int item) { Enqueue(app::Event::Menu(app::kSpeedMenu, item)); });
}

QtPlatform::~QtPlatform() { qApp->removeEventFilter(this); }

// ---------------------------------------------------------------------------
// Events

bool QtPlatform::InOurWindows(QObject* watched) const {
  if (QApplication::activeModalWidget() != nullptr || QApplication::activePopupWidget() != nullptr) {
    return false;
  }
  for (auto* widget = qobject_cast<QWidget*>(watched); widget != nullptr; widget = widget->parentWidget()) {
    if (widget == &window_) return true;
  }
  return false;
}

// One step per physical press: a press marked as a repeat, or one that
// follows the release of the same key within a repeat interval, is an
// auto-key event.
bool QtPlatform::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease && InOurWindows(watched)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    releasedKey_ = key->key();
    releasedAt_ = key->timestamp();
    return false;
  }
  if (event->type() != QEvent::KeyPress || !InOurWindows(watched)) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  const char character = KeyCharacter(*key);
  if (character == 0) return false;
  const bool command = key->modifiers().testFlag(Qt::ControlModifier);
  const bool repeat = key->isAutoRepeat() || RepeatsRelease(*key);
  releasedKey_ = 0;
  Enqueue(repeat ? app::Event::RepeatedKey(character, command) : app::Event::Key(character, command));
  return true;
}

bool QtPlatform::RepeatsRelease(const QKeyEvent& press) const {
  if (releasedKey_ == 0 || press.key() != releasedKey_ || press.timestamp() < releasedAt_) return false;
  const int rate = std::max(QGuiApplication::styleHints()->keyboardAutoRepeatRate(), 1);
  const unsigned long interval = static_cast<unsigned long>(std::max(1000 / rate, 20));
  return press.timestamp() - releasedAt_ <= interval;
}

void QtPlatform::FlushEvents() {
  QCoreApplication::processEvents();
  queue_.clear();
}

// The per-generation poll (a sleep of one tick) lets Qt handle what is
// pending and returns at once: the run must not idle a tick per generation.
// Tens of thousands of generations a second poll far more often than
// anything happens: Qt looks at its events at most every millisecond,
// which the user cannot tell from every generation. Longer sleeps wait for
// an event until the time is up.
std::optional<app::Event> QtPlatform::WaitNextEvent(int sleepTicks) {
  if (sleepTicks <= 1) {
    constexpr qint64 kPollEvery = 1'000'000;  // ns
    const qint64 now = clock_.nsecsElapsed();
    if (queue_.empty() && now - lastProcessed_ >= kPollEvery) {
      QCoreApplication::processEvents();
      lastProcessed_ = now;
    }
    return Deliver();
  }
  return WaitNextEventFor(static_cast<double>(sleepTicks) / kTicksPerSecond);
}

// Sleeps in Qt's event loop until an event for the program comes or the
// time is up: no processor time is spent waiting.
std::optional<app::Event> QtPlatform::WaitNextEventFor(double seconds) {
  QCoreApplication::processEvents();
  const int milliseconds = static_cast<int>(std::ceil(seconds * 1000));
  if (queue_.empty() && !closeRequested_ && milliseconds > 0) {
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(milliseconds);
    while (queue_.empty() && !closeRequested_ && deadline.isActive()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
  }
  return Deliver();
}

double QtPlatform::Seconds() { return static_cast<double>(clock_.nsecsElapsed()) / 1e9; }

void QtPlatform::ZoomViews(int direction) { window_.Zoom(direction); }

std::optional<app::Event> QtPlatform::Deliver() {
  if (closeRequested_) {
    closeRequested_ = false;
    return app::Event::Menu(129, 9);  // closing the window quits
  }
  if (queue_.empty()) return std::nullopt;
  const app::Event event = queue_.front();
  queue_.pop_front();
  return event;
}

// ---------------------------------------------------------------------------
// Menus

void QtPlatform::InstallMenuBar(std::span<const app::MenuSpec> menus) {
  QMenuBar* bar = window_.menuBar();
  for (const app::MenuSpec& spec : menus) {
    auto* menu = new QMenu(MenuText(spec.title), &window_);
    menu->setObjectName(QStringLiteral("menu%1").arg(spec.number));
    menus_[spec.number] = menu;
  }
  for (const app::MenuSpec& spec : menus) {
    QMenu* menu = menus_[spec.number];
    if (!spec.submenu) bar->addMenu(menu);
    // The items in their order, those shown at the end last.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < spec.items.size(); ++i) {
      if (!spec.items[i].atEnd) order.push_back(i);
    }
    for (std::size_t i = 0; i < spec.items.size(); ++i) {
      if (spec.items[i].atEnd) order.push_back(i);
    }
    for (const std::size_t i : order) {
      const app::MenuItemSpec& item = spec.items[i];
      const int number = static_cast<int>(i + 1);
      if (item.atEnd) menu->addSeparator();
      QAction* action = nullptr;
      if (item.text.empty() && !item.hidden) {
        action = menu->addSeparator();
      } else if (item.submenu != 0) {
        action = menu->addMenu(menus_.at(item.submenu));
        action->setText(MenuText(item.text));
      } else {
        QString text = MenuText(item.text);
        // The command key is shown in the menu; the key itself reaches the
        // loop as a key event and is turned into this item there.
        if (item.commandKey != 0) text += QStringLiteral("\tCtrl+%1").arg(QChar(item.commandKey).toUpper());
        action = menu->addAction(text);
        action->setCheckable(item.checkable);
        action->setVisible(!item.hidden);
        if (item.group != 0) {
          // Choices that exclude one another are radio items; which one is
          // checked is still the command's to say.
          QActionGroup*& group = groups_[{spec.number, item.group}];
          if (group == nullptr) {
            group = new QActionGroup(menu);
            group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
          }
          group->addAction(action);
        }
        // The guide also opens with the platform's help key.
        if (spec.number == app::kHelpMenu && number == 1) {
          action->setShortcut(QKeySequence::HelpContents);
          action->setShortcutContext(Qt::ApplicationShortcut);
        }
        const int menuNumber = spec.number;
        action->setData(number);
        connect(action, &QAction::triggered, this, [this, action, menuNumber, number] {
          // The check marks are the command's to set, not the click's.
          if (QActionGroup* group = action->actionGroup()) {
            for (QAction* other : group->actions()) other->setChecked(checked_[{menuNumber, other->data().toInt()}]);
          } else {
            action->setChecked(checked_[{menuNumber, number}]);
          }
          Enqueue(app::Event::Menu(menuNumber, number));
        });
      }
      action->setObjectName(QStringLiteral("item%1_%2").arg(spec.number).arg(number));
      actions_[{spec.number, number}] = action;
    }
  }
  if (QAction* restart = action(app::kFileMenu, 1)) {
    window_.AddRunControls(restart, action(app::kFileMenu, 3), action(app::kFileMenu, 4), action(app::kFileMenu, 5),
                           action(app::kFileMenu, app::kRunOnItem));
  }
  window_.FitWindowToViews();
}

QAction* QtPlatform::action(int menu, int item) const {
  const auto found = actions_.find({menu, item});
  return found != actions_.end() ? found->second : nullptr;
}

QMenu* QtPlatform::menu(int number) const {
  const auto found = menus_.find(number);
  return found != menus_.end() ? found->second : nullptr;
}

void QtPlatform::CheckMenuItem(int menu, int item, bool checked) {
  checked_[{menu, item}] = checked;
  if (menu == app::kSpeedMenu && checked) window_.ShowSpeedItem(item);
  if (QAction* a = action(menu, item)) {
    if (checked) a->setCheckable(true);
    a->setChecked(checked);
  }
  if (menu == app::kFileMenu) window_.ShowRunControlStates();
}

void QtPlatform::SetMenuItemText(int menu, int item, std::string_view text) {
  if (QAction* a = action(menu, item)) {
    a->setText(MenuText(text));
    a->setVisible(!text.empty());
  }
}

void QtPlatform::EnableMenuItem(int menu, int item, bool enabled) {
  if (QAction* a = action(menu, item)) a->setEnabled(enabled);
}

// ---------------------------------------------------------------------------
// Dialogs

bool QtPlatform::RunSettingsDialog(app::ControlValues& values, const app::InForceTexts& inForce,
                                   const std::vector<std::string>& changes) {
  SettingsDialog dialog(values, inForce, changes, &window_);
  if (dialog.exec() != QDialog::Accepted) return false;
  values = dialog.values();
  return true;
}

std::optional<std::string> QtPlatform::AskDataFilePath() {
  const QString path = QFileDialog::getSaveFileName(
      &window_, tr("Open Data File"), InFolder(QStringLiteral("talveron-data.txt")),
      tr("Text files (*.txt);;All files (*)"));
  if (path.isEmpty()) return std::nullopt;
  Remember(path);
  return path.toStdString();
}

void QtPlatform::ShowNotice(std::string_view message) {
  QMessageBox box(QMessageBox::Warning, tr("Talveron"), Text(message), QMessageBox::Ok, &window_);
  box.setObjectName(QStringLiteral("noticeBox"));
  box.exec();
}

std::optional<std::uint64_t> QtPlatform::AskBaseSeed(std::uint64_t current) {
  SeedDialog dialog(current, &window_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.seed();
}

QString QtPlatform::Version() {
  return QString::fromLatin1(kTalveronVersion.data(), static_cast<qsizetype>(kTalveronVersion.size()));
}

void QtPlatform::ShowAboutBox() {
  QMessageBox::about(&window_, tr("About Talveron"),
                     tr("<b>Talveron %1</b><p>Speciation in two adjacent habitats: an individual-based "
                        "simulation of habitat preference, habitat specialization and assortative "
                        "mating.</p><p>The space bar starts a run and ends every pause; Help &gt; Guide "
                        "(F1) tells the rest.</p>")
                         .arg(QtPlatform::Version()));
}

std::optional<std::string> QtPlatform::AskSettingsPath(bool save) {
  const QString filter = tr("Settings files (*.toml);;All files (*)");
  const QString path =
      save ? QFileDialog::getSaveFileName(&window_, tr("Save Settings"),
                                          InFolder(QStringLiteral("talveron-settings.toml")), filter)
           : QFileDialog::getOpenFileName(&window_, tr("Open Settings"), folder_, filter);
  if (path.isEmpty()) return std::nullopt;
  Remember(path);
  return path.toStdString();
}

// A name without .vcf.gz gets it: the file is a compressed VCF whatever
// it is called, and its index goes beside it as NAME.tbi. The dialog asked
// about replacing the name as typed, so a file under the completed name is
// asked about here.
std::optional<std::string> QtPlatform::AskGenotypesPath() {
  QString start = InFolder(QStringLiteral("talveron-genotypes.vcf.gz"));
  for (;;) {
    QString path = QFileDialog::getSaveFileName(&window_, tr("Save Genotypes"), start,
                                                tr("Compressed VCF files (*.vcf.gz);;All files (*)"));
    if (path.isEmpty()) return std::nullopt;
    if (!path.endsWith(QStringLiteral(".vcf.gz"))) {
      path += QStringLiteral(".vcf.gz");
      if (QFileInfo::exists(path) &&
          QMessageBox::question(&window_, tr("Save Genotypes"),
                                tr("%1 already exists. Do you want to replace it?").arg(QFileInfo(path).fileName()),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        start = path;
        continue;
      }
    }
    Remember(path);
    return path.toStdString();
  }
}

void QtPlatform::WriteGenotypes(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                                const GenotypeSettings& settings) {
  WriteGenotypeVcf(path, replicate, samples, settings);
}

// The dialog's file types choose the views and the format: all four views
// or one, as PNG or SVG.
void QtPlatform::SavePicture() {
  struct Choice {
    QString name;
    PictureViews views;
    bool charts = false;
  };
  const Choice choices[] = {{tr("All four views"), std::nullopt},
                            {tr("Habitats"), app::Port::View},
                            {tr("Status"), app::Port::Text},
                            {tr("Graphs"), app::Port::Graph},
                            {tr("Time Plot"), app::Port::Time},
                            {tr("Charts"), std::nullopt, true}};
  QStringList filters;
  for (const Choice& choice : choices) {
    filters << tr("%1, PNG (*.png)").arg(choice.name);
    if (SvgAvailable()) filters << tr("%1, SVG (*.svg)").arg(choice.name);
  }
  QFileDialog dialog(&window_, tr("Save Picture"), InFolder(QStringLiteral("talveron.png")));
  dialog.setObjectName(QStringLiteral("pictureDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(filters);
  while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    const qsizetype index = filters.indexOf(dialog.selectedNameFilter());
    const Choice& choice = choices[std::max<qsizetype>(index, 0) / (SvgAvailable() ? 2 : 1)];
    QString path = dialog.selectedFiles().first();
    const bool svg = path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive) ||
                     (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
                      dialog.selectedNameFilter().contains(QStringLiteral("SVG")));
    if (QFileInfo(path).suffix().isEmpty()) path += svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    bool written = false;
    if (choice.charts) {
      // The charts as they are shown, or at their natural size when hidden.
      const ChartsView* charts = window_.charts();
      const QSize size = charts->isVisible() ? charts->size() : charts->sizeHint();
      written = svg ? WriteChartsSvg(charts->history(), size, path, charts->statistics())
                    : ChartsPng(charts->history(), size, charts->statistics()).save(path, "PNG");
    } else {
      written = svg ? WritePictureSvg(canvas_, choice.views, window_.zoom(), path)
                    : PicturePng(canvas_, choice.views, window_.zoom()).save(path, "PNG");
    }
    if (written) {
      Remember(path);
      return;
    }
    ShowNotice((tr("The picture cannot be written to %1. Choose another place or name.").arg(path)).toStdString());
  }
}

// The file dialogs open in the folder of the file chosen last, at first the
// home folder.
QString QtPlatform::InFolder(const QString& name) const { return QDir(folder_).filePath(name); }

void QtPlatform::Remember(const QString& path) { folder_ = QFileInfo(path).absolutePath(); }

bool QtPlatform::Confirm(std::string_view question) {
  QMessageBox box(QMessageBox::Question, tr("Talveron"), Text(question), QMessageBox::Yes | QMessageBox::No,
                  &window_);
  box.setObjectName(QStringLiteral("confirmBox"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void QtPlatform::CopyText(std::string_view text) { QGuiApplication::clipboard()->setText(Text(text)); }

// The guide serves the page as well: its passages marked for the page are
// left out, and the markers around the desktop program's own.
QString QtPlatform::DesktopGuide(const QString& markdown) {
  QStringList kept;
  bool pageOnly = false;
  for (const QString& line : markdown.split(QLatin1Char('\n'))) {
    const QString marker = line.trimmed();
    if (marker == QStringLiteral("<!-- page -->")) {
      pageOnly = true;
    } else if (marker == QStringLiteral("<!-- /page -->")) {
      pageOnly = false;
    } else if (marker != QStringLiteral("<!-- desktop -->") && marker != QStringLiteral("<!-- /desktop -->") &&
               !pageOnly) {
      kept << line;
    }
  }
  return kept.join(QLatin1Char('\n'));
}

// A window of its own beside the main window, not modal: the run goes on
// while it is open. Asked again, it comes to the front.
void QtPlatform::ShowGuide() {
  if (guide_ == nullptr) {
    guide_ = new QWidget(&window_, Qt::Window);
    guide_->setWindowTitle(tr("Talveron Guide"));
    guide_->setObjectName(QStringLiteral("guideWindow"));
    auto* browser = new QTextBrowser(guide_);
    browser->setObjectName(QStringLiteral("guideText"));
    QFile guide(QStringLiteral(":/guide.md"));
    if (guide.open(QIODevice::ReadOnly)) browser->setMarkdown(DesktopGuide(QString::fromUtf8(guide.readAll())));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, guide_);
    connect(buttons, &QDialogButtonBox::rejected, guide_, &QWidget::close);
    auto* layout = new QVBoxLayout(guide_);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    guide_->resize(700, 600);
  }
  guide_->show();
  guide_->raise();
  guide_->activateWindow();
}

// ---------------------------------------------------------------------------
// Status

void QtPlatform::ShowSeeds(const app::SeedStatus& seeds) {
  QString text;
  if (seeds.series) {
    text = tr("Replicate %1 of %2, seed %3").arg(seeds.replicate).arg(seeds.replicates).arg(seeds.current);
    window_.ShowSeriesSeedText(tr("Series base seed %1").arg(seeds.seriesBase));
  } else {
    text = seeds.replicate > 0 ? tr("Seed %1; next run %2").arg(seeds.current).arg(seeds.next)
                               : tr("Next run seed %1").arg(seeds.next);
    window_.ShowSeriesSeedText(tr("Next series seed %1").arg(seeds.nextSeries));
  }
  window_.ShowSeedText(text);
}

void QtPlatform::ShowDataFileName(std::string_view name) {
  window_.ShowDataFileText(name.empty() ? tr("No data file") : tr("Data file: %1").arg(Text(name)));
}

void QtPlatform::ShowDataFileNote(std::string_view note) {
  if (!note.empty()) window_.ShowDataFileText(Text(note));
}

void QtPlatform::ShowActivity(std::string_view text) { window_.ShowActivityText(Text(text)); }

void QtPlatform::ShowSpaceAction(std::string_view action) { window_.ShowSpaceAction(Text(action)); }

void QtPlatform::ShowMapKey(const app::MapKey& key) {
  QStringList alleles;
  for (const std::string& meaning : key.alleles) alleles << Text(meaning);
  window_.ShowMapKey(Text(key.caption), alleles);
}

void QtPlatform::ShowNote(std::string_view note) { window_.ShowNoteText(Text(note)); }

void QtPlatform::Beep() { QApplication::beep(); }

void QtPlatform::ShowCharts(const CensusHistory& history) { window_.charts()->ShowHistory(&history); }

void QtPlatform::ShowChartsView(bool shown) { window_.chartsDock()->setVisible(shown); }

// The four views and the Charts painted now, together: what a class reads
// in the Charts' header is the generation on the map.
void QtPlatform::ShowFrame() {
  for (app::Port port : {app::Port::View, app::Port::Text, app::Port::Graph, app::Port::Time}) {
    QWidget* view = canvas_.view(port);
    if (view->isVisible()) view->repaint();
  }
  if (window_.charts()->isVisible()) window_.charts()->repaint();
}

void QtPlatform::ShowSpeedReached(double generationsPerSecond) {
  window_.ShowNoteText(generationsPerSecond > 0
                           ? tr("%L1 generations a second").arg(std::lround(generationsPerSecond))
                           : QString());
}

void QtPlatform::ShowFatalError(std::string_view report) {
  std::cout << report << std::flush;
  QString text = Text(report);
  while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  FatalErrorDialog dialog(text, &window_);
  dialog.exec();
}

}  // namespace talveron::gui
