#include "screens/trouble_codes.h"

#include "common/cp1251.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

TForm7::TForm7(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text("Ошибки ECU"_cpsv));
  ui::FixAndCentre(this, kClientWidth, kClientHeight);
}

TForm7::~TForm7() = default;

}  // namespace kestrel
