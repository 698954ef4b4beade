#include "config/ui/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QSpinBox>
#include <QToolButton>
#include <QValidator>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

namespace {

// A number field: while typing only digits (and a sign) are taken; on leaving
// the field a text outside the range becomes the nearest bound and a text
// that is not a number becomes the minimum.
class NumberField : public QSpinBox {
 public:
  NumberField(FieldId id, QWidget* parent) : QSpinBox(parent), id_(id) {
    const FieldInfo& info = FieldInfoOf(id);
    setRange(info.Min, info.Max);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  }

 protected:
  QValidator::State validate(QString& text, int&) const override {
    if (text.isEmpty() || text == QLatin1String("-")) return QValidator::Intermediate;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok) return QValidator::Invalid;
    return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
  }

  void fixup(QString& text) const override {
    SettingsFields f;
    f.SetFromText(id_, ui::Cp(text));
    text = QString::number(f.Value[id_]);
  }

 private:
  FieldId id_;
};

// The address fields take what is typed in upper case: HexToByte knows only
// the digits "0123456789ABCDEF", so a typed "8f" would be read as 0x7F.
class UpperCaseHex : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& text, int&) const override {
    text = text.toUpper();
    return Acceptable;
  }
};

// Layout of the window: two columns of caption and editor, 26 pixels a row.
constexpr int kRowStep = 26;
constexpr int kLabelWidth = 96;
constexpr int kEditorWidth = 84;
constexpr int kLeftX = 8;
constexpr int kRightX = 204;
constexpr int kFirstRightField = kFieldProtocol;
constexpr int kClientWidth = kRightX + kLabelWidth + kEditorWidth + 8;
constexpr int kClientHeight = 8 + 13 * kRowStep + 44;

}  // namespace

TForm12::TForm12(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text(SettingsCaption()));

  for (const FieldInfo& info : SettingsFieldInfo()) {
    const bool right = info.Id >= kFirstRightField;
    const int row = right ? info.Id - kFirstRightField : info.Id;
    const int x = right ? kRightX : kLeftX;
    const int y = 8 + row * kRowStep;
    const QString hint = info.Hint ? ui::Text(info.Hint) : QString();
    QWidget* editor = nullptr;
    switch (info.Kind) {
      case FieldKind::List: {
        auto* box = new QComboBox(this);
        for (const char* item : info.Items) box->addItem(ui::Text(item));
        editor = box;
        break;
      }
      case FieldKind::Number:
        editor = new NumberField(info.Id, this);
        break;
      case FieldKind::HexText: {
        auto* edit = new QLineEdit(this);
        edit->setMaxLength(2);
        edit->setValidator(new UpperCaseHex(edit));
        editor = edit;
        break;
      }
      case FieldKind::Check: {
        auto* box = new QCheckBox(ui::Text(info.Caption), this);
        box->setGeometry(x, y, kLabelWidth + kEditorWidth, 22);
        box->setToolTip(hint);
        editors_[info.Id] = box;
        continue;
      }
    }
    auto* label = new QLabel(ui::Text(info.Caption), this);
    label->setGeometry(x, y, kLabelWidth, 22);
    label->setToolTip(hint);
    label->setBuddy(editor);
    editor->setGeometry(x + kLabelWidth, y, kEditorWidth, 22);
    editor->setToolTip(hint);
    labels_[info.Id] = label;
    editors_[info.Id] = editor;
  }

  // Which device the COM name stands for on this machine, below the port list.
  device_ = new QLabel(this);
  device_->setGeometry(kLeftX, 8 + 13 * kRowStep + 2, kRightX - kLeftX + 40, 36);
  device_->setWordWrap(true);
  device_->setObjectName(QStringLiteral("DeviceLabel"));
  connect(static_cast<QComboBox*>(editors_[kFieldPort]), &QComboBox::currentIndexChanged, this,
          &TForm12::UpdateDevice);

  auto makeButton = [this](int slot, const char* hint, const char* text, const char* glyph) {
    auto* button = new QToolButton(this);
    button->setGeometry(kClientWidth - 8 - (3 - slot) * 42 + 4, kClientHeight - 46, 38, 38);
    button->setToolTip(ui::Text(hint));
    const QPixmap pixmap = ui::Glyph(QString::fromLatin1(glyph));
    if (pixmap.isNull()) {
      button->setText(ui::Text(text));
    } else {
      button->setIcon(pixmap);
      button->setIconSize(QSize(32, 32));
    }
    return button;
  };
  readButton_ = makeButton(0, ReadButtonHint(), "Счит."_cp, "fileread.bmp");
  writeButton_ = makeButton(1, WriteButtonHint(), "Запис."_cp, "filewrite.bmp");
  closeButton_ = makeButton(2, CloseButtonHint(), "Выход"_cp, "exit.bmp");
  readButton_->setObjectName(QStringLiteral("SpeedButton1"));
  writeButton_->setObjectName(QStringLiteral("SpeedButton2"));
  closeButton_->setObjectName(QStringLiteral("SpeedButton3"));
  connect(readButton_, &QToolButton::clicked, this, &TForm12::SpeedButton1Click);
  connect(writeButton_, &QToolButton::clicked, this, &TForm12::SpeedButton2Click);
  connect(closeButton_, &QToolButton::clicked, this, &QDialog::accept);

  ui::FixAndCentre(this, kClientWidth, kClientHeight);
  ShowFields(SettingsWindowFields);
}

TForm12::~TForm12() = default;

SettingsFields TForm12::Fields() const {
  SettingsFields fields = SettingsFields::Defaults();
  for (const FieldInfo& info : SettingsFieldInfo()) {
    QWidget* editor = editors_[info.Id];
    switch (info.Kind) {
      case FieldKind::List:
        fields.Set(info.Id, static_cast<QComboBox*>(editor)->currentIndex());
        break;
      case FieldKind::Number:
        fields.SetFromText(info.Id, ui::Cp(static_cast<QSpinBox*>(editor)->cleanText()));
        break;
      case FieldKind::HexText:
        fields.Text[info.Id] = ui::Cp(static_cast<QLineEdit*>(editor)->text());
        break;
      case FieldKind::Check:
        fields.Set(info.Id, static_cast<QCheckBox*>(editor)->isChecked() ? 1 : 0);
        break;
    }
  }
  return fields;
}

void TForm12::ShowFields(const SettingsFields& fields) {
  for (const FieldInfo& info : SettingsFieldInfo()) {
    QWidget* editor = editors_[info.Id];
    const int value = ClampField(info.Id, fields.Value[info.Id]);
    switch (info.Kind) {
      case FieldKind::List:
        static_cast<QComboBox*>(editor)->setCurrentIndex(value);
        break;
      case FieldKind::Number:
        static_cast<QSpinBox*>(editor)->setValue(value);
        break;
      case FieldKind::HexText:
        static_cast<QLineEdit*>(editor)->setText(ui::Text(fields.Text[info.Id]));
        break;
      case FieldKind::Check:
        static_cast<QCheckBox*>(editor)->setChecked(fields.Value[info.Id] != 0);
        break;
    }
  }
  UpdateDevice();
}

void TForm12::showEvent(QShowEvent* event) {
  // Every activation shows the settings as they are now.
  if (!event->spontaneous()) ShowFields(FieldsFromSettings());
  QDialog::showEvent(event);
}

void TForm12::done(int result) {
  // Closing, by any means, is how edits take effect.
  const SettingsFields fields = Fields();
  StoreFields(fields);
  SettingsWindowFields = fields;
  QDialog::done(result);
}

void TForm12::SpeedButton1Click() {
  SettingsFields fields = Fields();
  const LoadOutcome outcome = ReadFieldsFromFile(ConfigFileName, fields);
  if (outcome.Result == LoadResult::Missing) return;
  ShowFields(fields);  // a failed read keeps what it read before the bad line
  if (outcome.Result == LoadResult::Failed) ui::ShowErrorBox(this, outcome.Error);
}

void TForm12::SpeedButton2Click() {
  const LoadOutcome outcome = WriteFieldsToFile(ConfigFileName, Fields());
  if (outcome.Result == LoadResult::Failed) ui::ShowErrorBox(this, outcome.Error);
}

void TForm12::UpdateDevice() {
  // Every port item tells its device in its tool tip; the line below the
  // fields tells it for the chosen port.
  auto* port = static_cast<QComboBox*>(editors_[kFieldPort]);
  auto describe = [](const QString& name, bool* found) {
    const std::string device = PortDevice(ui::Cp(name));
    *found = PortDeviceExists(ui::Cp(name));
    return name + QStringLiteral(" \u2192 ") + QString::fromStdString(device) +
           QStringLiteral("\n") +
           ui::Text(*found ? "устройство найдено"_cpsv : "устройство не найдено"_cpsv);
  };
  bool found = false;
  for (int i = 0; i < port->count(); ++i) {
    port->setItemData(i, describe(port->itemText(i), &found), Qt::ToolTipRole);
  }
  device_->setText(describe(port->currentText(), &found));
  QPalette pal = device_->palette();
  pal.setColor(QPalette::WindowText, found ? QColor(0, 110, 0) : QColor(170, 0, 0));
  device_->setPalette(pal);
}

}  // namespace kestrel
