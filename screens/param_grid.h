// The six-column parameter table of the live data and freeze-frame windows,
// with what both windows do with it: the value refresh of a tick, the row
// toggling of a double click and the four row buttons.
//
// It shows the rows of a ParameterTable (config/parameter_lists.h): column 0
// row number, 1 request identifier, 2 name, 3 value, 4 unit, 5 selector
// (hidden). Inactive rows are drawn in silver, active ones in black; every
// cell is framed by silver lines. The value column is repainted cell by cell,
// only where a text changed. Rows may be edited only while no link session
// runs (LinkStatus lsIdle or lsError); otherwise the row operations do nothing.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <array>
#include <vector>

#include "config/parameter_lists.h"
#include "screenlogic/table_rows.h"

class QToolButton;

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

// Where the two windows' tables differ.
struct ParamGridOptions {
  // The view draws the lines between the cells (in silver, so the picture is
  // the same); without them every cell draws its own frame.
  bool GridLines = false;
  // The rows follow the scroll bar's thumb while it is dragged; without it
  // they move when the thumb is let go.
  bool ThumbTracking = false;
};

class ParamGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 20;  // cell height without its frame line
  static constexpr int kBaseWidth = 777;

  explicit ParamGrid(QWidget* parent = nullptr, ParamGridOptions options = {});

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

  // Row visibility: "Показать все" and "Скрыть неактивные", whatever the link.
  void ShowAllRows();
  void HideInactiveRows();

  // The row operations of the window, each only without a link session
  // (returns false when it did nothing):
  // double click: the selected row's state inverted for every row of its request;
  bool ToggleSelectedRequest();
  // "Активизировать все": every row active and shown;
  bool ActivateAll();
  // "Деактивизировать все": every row inactive, none hidden;
  bool DeactivateAll();
  // "Показать все" and "Скрыть неактивные".
  bool ShowAll();
  bool HideInactive();

  // The tick: asks the module (VehicleModule.PIDVAL on ResponseBlock) for the
  // value of every row as `keys` says and repaints the cells whose text
  // changed since the last refresh.
  void RefreshValues(RowKeys keys);
  // Forgets every value shown (cache and column 3), so the next refresh
  // writes every row anew.
  void ResetValues();
  // The value texts last written into column 3, per row (code page 1251).
  const ValueCacheArray& ValueCache() const { return valueCache_; }

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
  ValueCacheArray valueCache_;
  std::vector<int> changed_;
};

// The four row buttons of a table window, 19 x 19 at x 648, 672, 696 and 720
// on line y, with their hints. The window connects them to its handlers.
struct RowButtons {
  QToolButton* ShowAll = nullptr;        // "Показать все"
  QToolButton* HideInactive = nullptr;   // "Скрыть неактивные"
  QToolButton* ActivateAll = nullptr;    // "Активизировать все"
  QToolButton* DeactivateAll = nullptr;  // "Деактивизировать все"
};
RowButtons MakeRowButtons(QWidget* window, int y);
// Their pictures from the folder "pic" (done when the window opens).
void SetRowButtonGlyphs(const RowButtons& buttons);

}  // namespace kestrel
