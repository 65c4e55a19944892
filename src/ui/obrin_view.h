#pragma once
// The track list: a report list with check boxes, one row per track record, five columns
// (a sixth, "AccurateRip", while rips are verified).
// It only shows rows; the main frame fills them (ReloadDisc and friends).
#include <QTreeWidget>

class CObrinView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CObrinView(QWidget* parent = nullptr);

  // The position of the first selected row; -1 when none is.
  int SelectedRow() const;
  QString RowText(int row, int column) const;
  bool RowChecked(int row) const;
  // Adds or removes the sixth column; the first five stay as they are.
  void ShowVerifyColumn(bool shown);
  bool VerifyColumnShown() const { return columnCount() > 5; }
};
