#include "screens/param_grid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "common/cp1251.h"
#include "config/module_binding.h"
#include "link/link_globals.h"
#include "uikit/ui_support.h"
#include "uikit/widgets.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kBlack(0, 0, 0);
const QColor kWhite(0xFF, 0xFF, 0xFF);

// Width parts of the five visible columns, out of 777.
constexpr int kColumnParts[kRowColumns] = {35, 55, 456, 145, 60, -1};

int BoundRowCount(const ParameterTable* table) {
  return table == nullptr ? 0 : std::clamp(table->RowCount, 0, kMaxRows);
}

}  // namespace

// ---------------------------------------------------------------- model

ParamGridModel::ParamGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int ParamGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(texts_.size());
}

int ParamGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kRowColumns;
}

QVariant ParamGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(texts_.size())) return {};
  if (role == Qt::DisplayRole) return texts_[index.row()][index.column()];
  if (role == Qt::ForegroundRole) return Inactive(index.row()) ? kSilver : kBlack;
  return {};
}

bool ParamGridModel::Inactive(int row) const {
  return table_ != nullptr && row >= 0 && row < kMaxRows && table_->RowInactive[row] != 0;
}

void ParamGridModel::Bind(const ParameterTable* table) {
  beginResetModel();
  table_ = table;
  const int rows = BoundRowCount(table);
  texts_.assign(rows, {});
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < kRowColumns; ++c) texts_[r][c] = ui::Text(table->Rows[r].Cells[c]);
  }
  endResetModel();
}

void ParamGridModel::UpdateValue(int row) {
  if (table_ == nullptr || row < 0 || row >= static_cast<int>(texts_.size())) return;
  texts_[row][kColValue] = ui::Text(table_->Rows[row].Cells[kColValue]);
  const QModelIndex cell = index(row, kColValue);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

// ---------------------------------------------------------------- drawing

ParamGridDelegate::ParamGridDelegate(ParamGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

void ParamGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  ParamGridModel* model = grid_->Model();
  // With grid lines the view draws the frame outside option.rect; otherwise
  // the last column and row of the rectangle are this cell's frame.
  const bool ownFrame = !grid_->showGrid();
  const QRect cell = ownFrame ? option.rect.adjusted(0, 0, -1, -1) : option.rect;
  painter->save();
  painter->fillRect(option.rect, kWhite);
  painter->setClipRect(cell);
  painter->setFont(option.font);
  painter->setPen(model->Inactive(index.row()) ? kSilver : kBlack);
  painter->drawText(cell.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                    model->Cell(index.row(), index.column()));
  if ((option.state & QStyle::State_HasFocus) != 0) {
    // The focused cell gets a dotted outline, like a grid's focus rectangle.
    QPen dots(kBlack);
    dots.setStyle(Qt::DotLine);
    painter->setPen(dots);
    painter->drawRect(cell.adjusted(0, 0, -1, -1));
  }
  painter->setClipping(false);
  if (ownFrame) {
    // The frame: right and bottom lines of this cell; its neighbours draw the others.
    painter->setPen(kSilver);
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
  }
  painter->restore();
}

// ---------------------------------------------------------------- view

ParamGrid::ParamGrid(QWidget* parent, ParamGridOptions options)
    : QTableView(parent), model_(this), delegate_(this) {
  setModel(&model_);
  setItemDelegate(&delegate_);
  setShowGrid(options.GridLines);
  setGridStyle(Qt::SolidLine);
  verticalScrollBar()->setTracking(options.ThumbTracking);
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(kRowHeight + 1);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setMinimumSectionSize(1);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  setWordWrap(false);
  setCornerButtonEnabled(false);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  font.setBold(true);
  setFont(font);
  QPalette pal = palette();
  pal.setColor(QPalette::Base, kWhite);
  setPalette(pal);
  // The grid lines in the silver of the cells' own frames.
  if (options.GridLines) setStyleSheet(QStringLiteral("QTableView { gridline-color: #C0C0C0; }"));
  changed_.reserve(kMaxRows);
}

void ParamGrid::Bind(ParameterTable* table) {
  const int rows = BoundRowCount(table);
  std::vector<std::array<std::string, kRowColumns>> now(rows);
  for (int r = 0; r < rows; ++r) {
    now[r] = table->Rows[r].Cells;
    now[r][kColValue].clear();
  }
  const bool same = table == table_ && now == shownRows_;
  std::vector<bool> hidden;
  if (same) {
    for (int r = 0; r < rows; ++r) hidden.push_back(isRowHidden(r));
  }
  table_ = table;
  shownRows_ = std::move(now);
  model_.Bind(table);
  for (int r = 0; r < rows; ++r) setRowHidden(r, same && hidden[r]);
  if (selectedRow_ >= rows) selectedRow_ = 0;
}

void ParamGrid::ApplyColumnWidths() {
  const double w = width();
  for (int c = 0; c < kRowColumns; ++c) {
    if (kColumnParts[c] < 0) {
      setColumnHidden(c, true);
      continue;
    }
    setColumnHidden(c, false);
    const int cellWidth = static_cast<int>(std::lround(w * kColumnParts[c] / kBaseWidth));
    setColumnWidth(c, cellWidth + 1);  // plus its frame line
  }
}

void ParamGrid::ValueChanged(int row) {
  model_.UpdateValue(row);
}

void ParamGrid::RepaintAll() {
  viewport()->update();
}

void ParamGrid::ShowAllRows() {
  for (int r = 0; r < model_.rowCount(); ++r) setRowHidden(r, false);
  RepaintAll();
}

void ParamGrid::HideInactiveRows() {
  for (int r = 0; r < model_.rowCount(); ++r) setRowHidden(r, model_.Inactive(r));
  RepaintAll();
}

bool ParamGrid::ToggleSelectedRequest() {
  if (table_ == nullptr || !NoLink(LinkStatus.load())) return false;
  ToggleRequestRows(*table_, selectedRow_);
  RepaintAll();
  return true;
}

bool ParamGrid::ActivateAll() {
  if (table_ == nullptr || !NoLink(LinkStatus.load())) return false;
  SetAllInactive(*table_, false);
  ShowAllRows();
  return true;
}

bool ParamGrid::DeactivateAll() {
  if (table_ == nullptr || !NoLink(LinkStatus.load())) return false;
  SetAllInactive(*table_, true);
  RepaintAll();
  return true;
}

bool ParamGrid::ShowAll() {
  if (!NoLink(LinkStatus.load())) return false;
  ShowAllRows();
  return true;
}

bool ParamGrid::HideInactive() {
  if (!NoLink(LinkStatus.load())) return false;
  HideInactiveRows();
  return true;
}

void ParamGrid::RefreshValues(RowKeys keys) {
  if (table_ == nullptr) return;
  changed_.clear();
  RefreshRowValues(*table_, ResponseBlock, VehicleModule.PIDVAL, keys, valueCache_, changed_);
  for (int row : changed_) ValueChanged(row);
}

void ParamGrid::ResetValues() {
  if (table_ == nullptr) {
    valueCache_ = {};
    return;
  }
  ResetRowValues(*table_, valueCache_);
  for (int r = 0; r < model_.rowCount(); ++r) model_.UpdateValue(r);
}

void ParamGrid::SelectCell(int row, int column) {
  setCurrentIndex(model_.index(row, column));
}

void ParamGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  emit TableDoubleClicked();
}

void ParamGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (current.isValid()) selectedRow_ = current.row();
}

// ---------------------------------------------------------------- row buttons

RowButtons MakeRowButtons(QWidget* window, int y) {
  RowButtons b;
  b.ShowAll = ui::MakeSpeedButton(window, 648, y, 19, "Показать все"_cpsv);
  b.HideInactive = ui::MakeSpeedButton(window, 672, y, 19, "Скрыть неактивные"_cpsv);
  b.ActivateAll = ui::MakeSpeedButton(window, 696, y, 19, "Активизировать все"_cpsv);
  b.DeactivateAll = ui::MakeSpeedButton(window, 720, y, 19, "Деактивизировать все"_cpsv);
  return b;
}

void SetRowButtonGlyphs(const RowButtons& b) {
  ui::SetGlyph(b.ActivateAll, "activall.bmp");
  ui::SetGlyph(b.DeactivateAll, "deactall.bmp");
  ui::SetGlyph(b.ShowAll, "showall.bmp");
  ui::SetGlyph(b.HideInactive, "hideinact.bmp");
}

}  // namespace kestrel
