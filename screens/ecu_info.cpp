#include "screens/ecu_info.h"

#include "common/cp1251.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

TForm8::TForm8(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text("Информация о ECU"_cpsv));
  ui::FixAndCentre(this, kClientWidth, kClientHeight);
}

TForm8::~TForm8() = default;

}  // namespace kestrel
