#include "config/ui/catalogue_window.h"

#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QTimer>

#include "config/config_globals.h"
#include "uikit/ui_support.h"

namespace kestrel {

TForm11::TForm11(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text(CatalogueCaption()));

  grid_ = new QTableWidget(this);
  grid_->setObjectName(QStringLiteral("StringGrid1"));
  grid_->setGeometry(8, 8, 777, 390);
  grid_->setColumnCount(kCatalogueColumns);
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(20);
  grid_->horizontalHeader()->setMinimumSectionSize(0);
  grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  // The narrow number column shows its four digits whole rather than elided.
  grid_->setTextElideMode(Qt::ElideNone);
  grid_->setWordWrap(false);
  grid_->setStyleSheet(QStringLiteral("QTableWidget::item { padding: 0px 1px; }"));
  connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (row >= 0) chosenRow_ = row;
  });
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { Button1Click(); });

  chooseButton_ = new QPushButton(ui::Text(CatalogueChooseText()), this);
  chooseButton_->setObjectName(QStringLiteral("Button1"));
  chooseButton_->setGeometry(kClientWidth - 8 - 96 - 8 - 260, 408, 260, 30);
  chooseButton_->setDefault(true);
  quitButton_ = new QPushButton(ui::Text(CatalogueQuitText()), this);
  quitButton_->setObjectName(QStringLiteral("Button2"));
  quitButton_->setGeometry(kClientWidth - 8 - 96, 408, 96, 30);
  connect(chooseButton_, &QPushButton::clicked, this, &TForm11::Button1Click);
  connect(quitButton_, &QPushButton::clicked, this, &TForm11::Button2Click);

  ui::FixAndCentre(this, kClientWidth, kClientHeight);
}

TForm11::~TForm11() = default;

void TForm11::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  chosenRow_ = 0;
  chosen_ = false;
  outcome_ = {};
  quitStatus_ = 0;
  FillGrid();
  if (empty_) {
    // Nothing to choose from: the program ends at once.
    QTimer::singleShot(0, this, &QDialog::reject);
  }
}

void TForm11::FillGrid() {
  const auto widths = CatalogueColumnWidths(grid_->width());
  for (int c = 0; c < kCatalogueColumns; ++c) {
    grid_->setColumnWidth(c, widths[c]);
    grid_->setColumnHidden(c, widths[c] == 0);
  }
  const std::vector<CatalogueRow> rows = ListCatalogue(folder_);
  empty_ = rows.empty();
  grid_->clearContents();
  grid_->setRowCount(rows.empty() ? 1 : static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < kCatalogueColumns; ++c) {
      auto* item = new QTableWidgetItem(ui::Text(rows[r].Cells[c]));
      item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      grid_->setItem(r, c, item);
    }
  }
  if (!rows.empty()) {
    grid_->setCurrentCell(0, kCatCar);
    chosenRow_ = 0;
  }
}

void TForm11::Button1Click() {
  chosen_ = true;
  accept();
}

void TForm11::Button2Click() {
  reject();
}

void TForm11::done(int result) {
  if (empty_) {
    outcome_ = EmptyCatalogueOutcome(folder_);
    quitStatus_ = kConfigQuitStatus;
  } else if (!chosen_) {
    // Leaving the catalogue without a choice ends the program; it is the
    // user's decision, not a fault, so nothing goes to standard error.
    outcome_ = ConfigOutcome{};
    outcome_.Quit = true;
    quitStatus_ = 0;
  } else {
    const QTableWidgetItem* item = grid_->item(chosenRow_, kCatFile);
    const std::string name = item ? ui::Cp(item->text()) : std::string();
    outcome_ = LoadChosenConfiguration(true, name, folder_);
    quitStatus_ = outcome_.Quit ? kConfigQuitStatus : 0;
  }
  QDialog::done(result);
}

}  // namespace kestrel
