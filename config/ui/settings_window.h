#pragma once

#include <QDialog>
#include <array>

#include "config/settings_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;

namespace kestrel {

// The settings window "Настройки": shows the settings of the configuration in
// use, lets the user edit them, reads them from and writes them to the
// configuration file. Edits take effect when the window closes (by any
// means); there is no cancel. Also shows which device the chosen COM name
// resolves to and whether that device exists.
class TForm12 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm12(QWidget* parent = nullptr);
  ~TForm12() override;

  // The fields as the window shows them now.
  SettingsFields Fields() const;
  // Puts fields into the window (number fields clamped).
  void ShowFields(const SettingsFields& fields);

  // The editor of a field (QComboBox, QSpinBox, QLineEdit or QCheckBox) and its label.
  QWidget* Editor(FieldId id) const { return editors_[id]; }
  QLabel* Caption(FieldId id) const { return labels_[id]; }
  QLabel* DeviceLabel() const { return device_; }

  // "Считать настройки из файла" and "Записать настройки в файл".
  void SpeedButton1Click();
  void SpeedButton2Click();

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateDevice();

  std::array<QWidget*, kFieldCount> editors_{};
  std::array<QLabel*, kFieldCount> labels_{};
  QLabel* device_ = nullptr;
  QToolButton* readButton_ = nullptr;
  QToolButton* writeButton_ = nullptr;
  QToolButton* closeButton_ = nullptr;
};

}  // namespace kestrel
