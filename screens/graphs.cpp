#include "screens/graphs.h"

#include "common/cp1251.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

TForm9::TForm9(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text("Графики параметров реального времени : "_cpsv));
  ui::FixAndCentre(this, kClientWidth, kClientHeight);
}

TForm9::~TForm9() = default;

}  // namespace kestrel
