#include "screens/freeze_frames.h"

#include "common/cp1251.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text("Стоп-кадры"_cpsv));
  ui::FixAndCentre(this, kClientWidth, kClientHeight);
}

TForm6::~TForm6() = default;

}  // namespace kestrel
