#include "screens/param_grid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "uikit/ui_support.h"

namespace kestrel {

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
  const QRect cell = option.rect.adjusted(0, 0, -1, -1);  // the last column and row are the frame
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
  // The frame: right and bottom lines of this cell; its neighbours draw the others.
  painter->setPen(kSilver);
  painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
  painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
  painter->restore();
}

// ---------------------------------------------------------------- view

ParamGrid::ParamGrid(QWidget* parent) : QTableView(parent), model_(this), delegate_(this) {
  setModel(&model_);
  setItemDelegate(&delegate_);
  setShowGrid(false);
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

}  // namespace kestrel
