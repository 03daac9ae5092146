#include "gui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "app/shell/settings_formulas.h"

namespace talveron::gui {

namespace {

struct Group {
  const char* title;
  std::initializer_list<int> items;
};

const Group kGroups[] = {
    {"Mate choice", {36, 37, 38, 39, 40, 35, 33, 34}},
    {"Habitats and dispersal", {41, 49, 42, 43, 44, 55, 45, 46, 57}},
    {"Offspring and mutation", {30, 31, 50}},
    {"Environment", {47, 48}},
};

}  // namespace

SettingsDialog::SettingsDialog(const app::ControlValues& values, const app::InForceTexts& inForce,
                               const std::vector<std::string>& changes, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Settings"));
  setObjectName(QStringLiteral("settingsDialog"));
  auto* grid = new QGridLayout;
  int index = 0;
  for (const Group& group : kGroups) {
    auto* box = new QGroupBox(tr(group.title));
    auto* form = new QFormLayout(box);
    for (int item : group.items) {
      const app::SettingsControl* control = app::FindSettingsControl(item);
      QWidget* widget = Control(item, values, inForce);
      if (control->kind == app::ControlKind::PopUp) {
        form->addRow(QString::fromUtf8(control->label.data(), static_cast<int>(control->label.size())),
                     widget);
      } else {
        form->addRow(widget);
      }
    }
    grid->addWidget(box, index / 2, index % 2, Qt::AlignTop);
    ++index;
  }

  // The scheduled changes, shown as they stand: a settings file sets them.
  auto* changesBox = new QGroupBox(tr("Scheduled changes"));
  auto* changesLayout = new QVBoxLayout(changesBox);
  QStringList lines;
  for (const std::string& line : changes) lines << QString::fromStdString(line);
  auto* changesText = new QLabel(lines.join(QLatin1Char('\n')));
  changesText->setObjectName(QStringLiteral("scheduledChanges"));
  changesText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  changesLayout->addWidget(changesText);

  // Item 1 is OK, the default; item 2 is Cancel.
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(changesBox);
  layout->addWidget(buttons);
}

QWidget* SettingsDialog::Control(int item, const app::ControlValues& values, const app::InForceTexts& inForce) {
  const app::SettingsControl* control = app::FindSettingsControl(item);
  const auto found = values.find(item);
  const int value = found != values.end() ? found->second : 0;
  const QString name = QStringLiteral("item%1").arg(item);
  if (control->kind == app::ControlKind::CheckBox) {
    auto* box =
        new QCheckBox(QString::fromUtf8(control->label.data(), static_cast<int>(control->label.size())));
    box->setObjectName(name);
    box->setChecked(value != 0);
    checkBoxes_[item] = box;
    return box;
  }
  auto* popUp = new QComboBox;
  popUp->setObjectName(name);
  for (int v = 1; v <= control->popUpItems; ++v) {
    popUp->addItem(QString::fromStdString(app::PopUpItemText(item, v)), v);
  }
  const auto held = inForce.find(item);
  if (held != inForce.end()) {
    popUp->addItem(tr("%1 (in force)").arg(QString::fromStdString(held->second)), 0);
  }
  const int index = popUp->findData(value);
  // A value off the pop-up's range shows its nearest item.
  popUp->setCurrentIndex(index >= 0 ? index : std::clamp(value, 1, control->popUpItems) - 1);
  popUps_[item] = popUp;
  return popUp;
}

app::ControlValues SettingsDialog::values() const {
  app::ControlValues result;
  for (const auto& [item, popUp] : popUps_) result[item] = popUp->currentData().toInt();
  for (const auto& [item, box] : checkBoxes_) result[item] = box->isChecked() ? 1 : 0;
  return result;
}

QComboBox* SettingsDialog::popUp(int item) const {
  const auto found = popUps_.find(item);
  return found != popUps_.end() ? found->second : nullptr;
}

QCheckBox* SettingsDialog::checkBox(int item) const {
  const auto found = checkBoxes_.find(item);
  return found != checkBoxes_.end() ? found->second : nullptr;
}

}  // namespace talveron::gui
