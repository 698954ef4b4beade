// The six-column parameter table of the live data and freeze-frame windows.
//
// It shows the rows of a ParameterTable (config/parameter_lists.h): column 0
// row number, 1 request identifier, 2 name, 3 value, 4 unit, 5 selector
// (hidden). Inactive rows are drawn in silver, active ones in black; every
// cell is framed by silver lines. The value column is repainted cell by cell,
// only where a text changed. The window decides when rows may be edited; the
// grid only carries out the row operations.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <array>
#include <vector>

#include "config/parameter_lists.h"

namespace kestrel {

class ParamGrid;

class ParamGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ParamGridModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Takes the texts of every row of `table` (nullptr: no rows).
  void Bind(const ParameterTable* table);
  // Takes column 3 of one row again.
  void UpdateValue(int row);

  const QString& Cell(int row, int column) const { return texts_[row][column]; }
  bool Inactive(int row) const;
  const ParameterTable* Table() const { return table_; }

 private:
  const ParameterTable* table_ = nullptr;
  std::vector<std::array<QString, kRowColumns>> texts_;
};

// Draws a cell: white fill, text 2 pixels in from the top-left corner, silver
// frame; silver text for an inactive row.
class ParamGridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit ParamGridDelegate(ParamGrid* grid);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  ParamGrid* grid_;
};

class ParamGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 20;  // cell height without its frame line
  static constexpr int kBaseWidth = 777;

  explicit ParamGrid(QWidget* parent = nullptr);

  // Shows the rows of `table`. Row visibility is kept when the rows are the
  // same as before, otherwise every row is shown.
  void Bind(ParameterTable* table);
  ParameterTable* Table() const { return table_; }

  // Column widths from the current width W: 35, 55, 456, 145 and 60 parts of
  // 777 (rounded), column 5 hidden.
  void ApplyColumnWidths();

  // Column 3 of `row` changed in the table: repaint that one cell.
  void ValueChanged(int row);

  // Repaints every visible cell (after a change of row states).
  void RepaintAll();

  // Row visibility: "Показать все" and "Скрыть неактивные".
  void ShowAllRows();
  void HideInactiveRows();

  // The row last reported by the cell selection (0 before any selection).
  int SelectedRow() const { return selectedRow_; }
  void SelectCell(int row, int column);

  ParamGridModel* Model() { return &model_; }

 signals:
  // A double click anywhere on the table.
  void TableDoubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  ParamGridModel model_;
  ParamGridDelegate delegate_;
  ParameterTable* table_ = nullptr;
  std::vector<std::array<std::string, kRowColumns>> shownRows_;
  int selectedRow_ = 0;
};

}  // namespace kestrel
