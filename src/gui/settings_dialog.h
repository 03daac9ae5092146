// The settings dialog: a pop-up for each numeric setting and a check box
// for each switch, opened at the control values given and read back on OK.
#pragma once

#include <QDialog>
#include <map>
#include <string>
#include <vector>

#include "app/shell/platform.h"

class QCheckBox;
class QComboBox;

namespace talveron::gui {

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // A pop-up of `inForce` offers the value in force as an extra item, with
  // the control value 0. `changes` are the lines of the settings' scheduled
  // changes, listed below the controls.
  SettingsDialog(const app::ControlValues& values, const app::InForceTexts& inForce = {},
                 const std::vector<std::string>& changes = {}, QWidget* parent = nullptr);

  // The controls as the user left them.
  app::ControlValues values() const;

  // The pop-up or check box of a dialog item; null for other items.
  QComboBox* popUp(int item) const;
  QCheckBox* checkBox(int item) const;

 private:
  QWidget* Control(int item, const app::ControlValues& values, const app::InForceTexts& inForce);

  std::map<int, QComboBox*> popUps_;
  std::map<int, QCheckBox*> checkBoxes_;
};

}  // namespace talveron::gui
