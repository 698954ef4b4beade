#include "screens/live_table.h"

namespace kestrel {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {}

TForm3::~TForm3() = default;

}  // namespace kestrel
